// The terminal rule, the same for all three programs: a name from outside
// (a path, an argument) is shown escaped where the stream is a terminal, and
// as its exact bytes where it is a file or a pipe.
#include "io/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support.h"
#include "support_cli.h"

namespace {

using testing_support::CompanionRun;
using testing_support::RunResult;
using testing_support::TempDir;

struct Name {
  std::string raw;    // the bytes of the name
  std::string shown;  // how a terminal shows them
};

// Each name holds something a terminal acts on or cannot show as it is.
const std::vector<Name>& names() {
  static const std::vector<Name> table = {
      {"clear\x1b[2J bell\a", "clear\\033[2J bell\\007"},                // C0: ESC, BEL
      {"csi\xc2\x9bm osc\xc2\x9d;t", "csi\\302\\233m osc\\302\\235;t"},  // C1 in UTF-8
      {"raw\x9b bad\xff", "raw\\233 bad\\377"},                          // not UTF-8
      {"cut\xe2\x82 x", "cut\\342\\202 x"},                              // cut short
      {"tab\tline\n", "tab\\011line\\012"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // valid: kept
  };
  return table;
}

// A program run so that it names `name` in a report on one stream; returns
// the bytes of that stream.
struct Program {
  std::string_view label;
  std::function<std::string(const TempDir& dir, const std::string& name, bool on_terminal)> run;
  std::string_view before;  // what precedes the name in the report
  std::string_view after;   // what follows it
};

std::vector<Program> programs() {
  const std::string model = testing_support::data_file("one_facet_deck.stl");
  return {
      {"stldeck: report on standard error",
       [](const TempDir& dir, const std::string& name, bool on_terminal) {
         // A folder without a model: the report names the file it missed.
         std::filesystem::create_directory(dir / name);
         return testing_support::run_converter(dir / name, {.stderr_terminal = on_terminal}).err;
       },
       "/", "/STL_Model.stl"},
      {"stldeck-check: failure on standard error",
       [](const TempDir& dir, const std::string& name, bool on_terminal) {
         return testing_support::run_check(dir, {name + ".stl"}, {.on_terminal = on_terminal}).err;
       },
       "stldeck-check: cannot open ", ".stl: "},
      {"stldeck-check: summary on standard output",
       [model](const TempDir& dir, const std::string& name, bool on_terminal) {
         dir.write(name + ".stl", model);
         return testing_support::run_check(dir, {name + ".stl"}, {.on_terminal = on_terminal}).out;
       },
       "", ".stl: not ready"},
      {"stldeck-check: refused view on standard error",
       [model](const TempDir& dir, const std::string& name, bool on_terminal) {
         dir.write("in.stl", model);
         std::filesystem::create_directory(dir / name);
         return testing_support::run_check(dir, {"--view", name, "in.stl"},
                                           {.on_terminal = on_terminal})
             .err;
       },
       "stldeck-check: cannot write the view ", ": it is a folder\n"},
      {"stldeck-prepare: failure on standard error",
       [](const TempDir& dir, const std::string& name, bool on_terminal) {
         return testing_support::run_prepare(dir, {name + ".stl", "out.stl"},
                                             {.on_terminal = on_terminal})
             .err;
       },
       "stldeck-prepare: cannot open ", ".stl: "},
      {"stldeck-prepare: argument on standard error",
       [](const TempDir& dir, const std::string& name, bool on_terminal) {
         return testing_support::run_prepare(dir, {"--frequency", name, "in.stl"},
                                             {.on_terminal = on_terminal})
             .err;
       },
       "a positive number, not '", "'\n"},
      {"stldeck-prepare: summary on standard output",
       [model](const TempDir& dir, const std::string& name, bool on_terminal) {
         dir.write("in.stl", model);
         return testing_support::run_prepare(dir, {"--no-refine", "in.stl", name + ".stl"},
                                             {.on_terminal = on_terminal})
             .out;
       },
       "  wrote ", ".stl: 1 facet\n"},
  };
}

TEST(TerminalRule, NamesEscapedOnATerminalOnlyInEveryProgram) {
  for (const Program& program : programs()) {
    for (const Name& name : names()) {
      SCOPED_TRACE(std::string(program.label) + ", name " + name.shown);
      {
        SCOPED_TRACE("into a pipe: the exact bytes");
        const TempDir dir;
        const std::string text = program.run(dir, name.raw, false);
        EXPECT_NE(text.find(std::string(program.before) + name.raw + std::string(program.after)),
                  std::string::npos)
            << text;
      }
      {
        SCOPED_TRACE("on a terminal: escaped");
        const TempDir dir;
        const std::string text = program.run(dir, name.raw, true);
        EXPECT_NE(text.find(std::string(program.before) + name.shown + std::string(program.after)),
                  std::string::npos)
            << text;
        // Nothing the terminal could act on reaches it: between the line
        // breaks of the report every byte is one a terminal shows as it is.
        std::size_t start = 0;
        while (start <= text.size()) {
          const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
          const std::string_view line = std::string_view(text).substr(start, end - start);
          EXPECT_EQ(io::escaped_for_terminal(line), line);
          start = end + 1;
        }
      }
    }
  }
}

// The stream's own report is never escaped: a terminal gets the lines of a
// report as they are, and only the names in them are escaped.
TEST(TerminalRule, ShownOnLeavesAFileOrPipeAlone) {
  const std::string text = "a\x1b[31m\xff\n";
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const int saved = ::dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(::dup2(pipe_ends[1], STDOUT_FILENO), STDOUT_FILENO);
  const bool terminal = io::is_terminal(io::StandardStream::output);
  const std::string shown = io::shown_on(io::StandardStream::output, text);
  const io::Outcome written = io::write_to(io::StandardStream::output, shown);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(pipe_ends[1]);
  const std::string received = testing_support::drain(pipe_ends[0]);
  ::close(pipe_ends[0]);
  EXPECT_FALSE(terminal);
  EXPECT_TRUE(written.ok());
  EXPECT_EQ(received, text);
}

TEST(TerminalRule, WriteToAClosedStreamIsAFailure) {
  const int saved = ::dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  ::close(STDOUT_FILENO);
  const io::Outcome written = io::write_to(io::StandardStream::output, "report\n");
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.failure().error, EBADF);
  EXPECT_EQ(written.failure().message(), "cannot write standard output: Bad file descriptor");
}

}  // namespace
