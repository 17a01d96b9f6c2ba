// Whatever the converter is given, it ends in one of its defined ways and
// never damages an output file that must keep its old content.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support.h"

namespace {

using namespace std::string_literals;
using testing_support::data_file;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::TempDir;

constexpr std::string_view OLD = "old content\r\n";
constexpr std::string_view REPORT_HEADER =
    "Image              PC        Routine            Line        Source             \n";

enum class After {
  unchanged,  // the file still holds its old content
  complete,   // the file was written to its end
  cut_short,  // new records only, without the end record: never old ones after them
  model,      // the file is the STL model, unchanged
  absent,     // not a file
  reported,   // the old content, then the report of standard error redirected into it
  empty,      // created by the run and left empty
};

// An STL model of the given number of facets from the model generator.
std::string generated_model(long facets) {
  TempDir dir;
  const std::string command = std::string(STLDECK_MAKE_MODEL) + " " + std::to_string(facets) + " " +
                              (dir / "model.stl").string();
  if (std::system(command.c_str()) != 0) return {};
  return dir.read("model.stl");
}

std::string binary_stl() {
  std::string stl(80, ' ');
  stl.replace(0, 12, "solid binary");  // some exporters start binary headers so
  const std::uint32_t count = 3;
  stl.append(reinterpret_cast<const char*>(&count), 4);
  std::mt19937 random(7);
  for (std::uint32_t i = 0; i < count; ++i) {
    for (int k = 0; k < 12; ++k) {
      const float value = static_cast<float>(random() % 1000) / 7.0f;
      stl.append(reinterpret_cast<const char*>(&value), 4);
    }
    stl.append(2, '\0');
  }
  return stl;
}

std::string random_bytes() {
  std::mt19937 random(2026);
  std::string bytes(1 << 16, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// A line of 1 GiB of NUL bytes before a facet, as a sparse file.
void write_huge_line(const TempDir& dir) {
  const std::string path = (dir / "STL_Model.stl").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
  std::string rest(1, '\n');
  rest += data_file("one_facet_deck.stl");
  ASSERT_EQ(::pwrite(fd, rest.data(), rest.size(), off_t{1} << 30),
            static_cast<ssize_t>(rest.size()));
  ::close(fd);
}

// A file's content, or a mark that it is not there (a test goes on to its
// next case).
std::string content_or_absent(const TempDir& dir, std::string_view name) {
  return std::filesystem::is_regular_file(dir / name) ? dir.read(name) : "(absent)";
}

TEST(Faults, EveryInputEndsInADefinedWay) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> prepare;
    RunOptions options;
    int status;
    std::string err_start;  // with the directory's path in place of @
    std::string out;
    After deck;
    After view;
  };
  const std::string read_notice = "  Read in the model ...\r\n";
  const std::string counts_of_one = read_notice +
                                    "  Number of elements:  m =           1\r\n"
                                    "  Number of nodes:     n =           3\r\n";
  const std::string done = "  Translation from STL data to BEM input is done!\r\n";
  const std::string empty_model = read_notice +
                                  "  Number of elements:  m =           0\r\n"
                                  "  Number of nodes:     n =           0\r\n" +
                                  done;
  const auto stl = [](std::string content) {
    return [content](const TempDir& d) { d.write("STL_Model.stl", content); };
  };
  std::vector<Case> cases;
  cases.push_back({"output on a full device",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::remove(d / "input.plt");
                     std::filesystem::create_symlink("/dev/full", d / "input.plt");
                   },
                   {},
                   38,
                   "forrtl: severe (38): error during write, unit 8, file @/input.plt\n",
                   counts_of_one,
                   After::complete,
                   After::absent});
  cases.push_back({"read-only deck",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::permissions(d / "input.dat",
                                                  std::filesystem::perms::owner_read);
                   },
                   {.as_unprivileged_user = true},
                   47,
                   "forrtl: severe (47): write to READONLY file, unit 6, file @/input.dat\n",
                   "",
                   After::unchanged,
                   After::unchanged});
  cases.push_back({"mesh view is a directory",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::remove(d / "input.plt");
                     std::filesystem::create_directory(d / "input.plt");
                   },
                   {},
                   30,
                   "forrtl: severe (30): open failure, unit 8, file @/input.plt\n",
                   "",
                   After::unchanged,
                   After::absent});
  cases.push_back(
      {"unreadable stl",
       [](const TempDir& d) {
         d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
         std::filesystem::permissions(d / "STL_Model.stl", std::filesystem::perms::none);
       },
       {.as_unprivileged_user = true},
       9,
       "forrtl: severe (9): permission to access file denied, unit 5, file @/STL_Model.stl\n",
       "",
       After::unchanged,
       After::unchanged});
  cases.push_back({"stl is a directory",
                   [](const TempDir& d) { std::filesystem::create_directory(d / "STL_Model.stl"); },
                   {},
                   39,
                   "forrtl: severe (39): error during read, unit 5, file @/STL_Model.stl\n",
                   read_notice,
                   After::unchanged,
                   After::unchanged});
  cases.push_back({"a line of 1 GiB",
                   write_huge_line,
                   {},
                   0,
                   "",
                   counts_of_one + done,
                   After::complete,
                   After::complete});
  cases.push_back(
      {"binary stl", stl(binary_stl()), {}, 0, "", empty_model, After::complete, After::complete});
  cases.push_back({"random bytes",
                   stl(random_bytes()),
                   {},
                   0,
                   "",
                   empty_model,
                   After::complete,
                   After::complete});
  cases.push_back({"NUL bytes inside lines",
                   stl("  facet normal\0 0 0\n\0\n      vertex 1\0abc 2 3\n      vertex \0 2 3\n"
                       "      vertex 1 2 3\n\0\n\0\n"s),
                   {},
                   0,
                   "",
                   counts_of_one + done,
                   After::complete,
                   After::complete});
  cases.push_back({"mesh view is a named pipe nobody reads",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::remove(d / "input.plt");
                     ASSERT_EQ(::mkfifo((d / "input.plt").c_str(), 0644), 0);
                   },
                   {},
                   30,
                   "forrtl: severe (30): open failure, unit 8, file @/input.plt\n",
                   "",
                   After::unchanged,
                   After::absent});
  cases.push_back({"ends inside a facet",
                   stl("solid x\n  facet normal 0 0 1\n    outer loop\n"),
                   {},
                   24,
                   "forrtl: severe (24): end-of-file during read, unit 5, file @/STL_Model.stl\n",
                   read_notice,
                   After::unchanged,
                   After::unchanged});
  cases.push_back({"invalid coordinate",
                   stl("  facet normal 0 0 1\n    outer loop\n      vertex 1 2 x\n"),
                   {},
                   547 & 0xFF,
                   "forrtl: severe (547): invalid REAL\n",
                   read_notice,
                   After::unchanged,
                   After::unchanged});
  cases.push_back({"deck is a directory",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::remove(d / "input.dat");
                     std::filesystem::create_directory(d / "input.dat");
                   },
                   {},
                   30,
                   "forrtl: severe (30): open failure, unit 6, file @/input.dat\n",
                   "",
                   After::absent,
                   After::unchanged});
  cases.push_back({"deck on a full device",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::remove(d / "input.dat");
                     std::filesystem::create_symlink("/dev/full", d / "input.dat");
                   },
                   {},
                   38,
                   "forrtl: severe (38): error during write, unit 6, file @/input.dat\n",
                   counts_of_one,
                   After::absent,
                   After::unchanged});
  // Both outputs one file: the mesh view would overwrite the deck.
  cases.push_back({"mesh view is a hard link to the deck",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::remove(d / "input.plt");
                     std::filesystem::create_hard_link(d / "input.dat", d / "input.plt");
                   },
                   {},
                   30,
                   "forrtl: severe (30): open failure, unit 8, file @/input.plt\n",
                   "",
                   After::unchanged,
                   After::unchanged});
  cases.push_back({"deck is a symbolic link to the mesh view",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::remove(d / "input.dat");
                     std::filesystem::create_symlink("input.plt", d / "input.dat");
                   },
                   {},
                   30,
                   "forrtl: severe (30): open failure, unit 8, file @/input.plt\n",
                   "",
                   After::unchanged,
                   After::unchanged});
  // Writing the deck would destroy the model it was made from.
  cases.push_back({"deck is a hard link to the model",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
                     std::filesystem::remove(d / "input.dat");
                     std::filesystem::create_hard_link(d / "STL_Model.stl", d / "input.dat");
                   },
                   {},
                   30,
                   "forrtl: severe (30): open failure, unit 6, file @/input.dat\n",
                   "",
                   After::model,
                   After::unchanged});
  // The console redirected into a file of the run: refused before
  // anything is written, or the deck's records would hold console lines.
  cases.push_back({"console appended to the deck",
                   stl(data_file("one_facet_deck.stl")),
                   {.stdout_into = "input.dat"},
                   30,
                   "forrtl: severe (30): open failure, unit 6, file @/input.dat\n",
                   "",
                   After::unchanged,
                   After::unchanged});
  cases.push_back({"console appended to the mesh view",
                   stl(data_file("one_facet_deck.stl")),
                   {.stdout_into = "input.plt"},
                   30,
                   "forrtl: severe (30): open failure, unit 8, file @/input.plt\n",
                   "",
                   After::unchanged,
                   After::unchanged});
  cases.push_back({"console appended to the model",
                   stl(data_file("one_facet_deck.stl")),
                   {.stdout_into = "STL_Model.stl"},
                   30,
                   "forrtl: severe (30): open failure, unit 5, file @/STL_Model.stl\n",
                   "",
                   After::unchanged,
                   After::unchanged});
  cases.push_back({"standard error appended to the deck",
                   stl(data_file("one_facet_deck.stl")),
                   {.stderr_into = "input.dat"},
                   30,
                   "forrtl: severe (30): open failure, unit 6, file @/input.dat\n",
                   "",
                   After::reported,
                   After::unchanged});
  // A failed run in a folder without outputs leaves them created, empty.
  cases.push_back({"ends inside a facet, no outputs before",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", "solid x\n  facet normal 0 0 1\n    outer loop\n");
                     std::filesystem::remove(d / "input.dat");
                     std::filesystem::remove(d / "input.plt");
                   },
                   {},
                   24,
                   "forrtl: severe (24): end-of-file during read, unit 5, file @/STL_Model.stl\n",
                   read_notice,
                   After::empty,
                   After::empty});
  // A worker thread takes a stack of its own size, whatever the limit.
  cases.push_back({"stack limit of 64 GiB",
                   stl(data_file("one_facet_deck.stl")),
                   {.stack_limit = 64ull << 30},
                   0,
                   "",
                   counts_of_one + done,
                   After::complete,
                   After::complete});
  // The file-size limit inside the deck's first block and beyond it: a
  // failed write on unit 6, never a death by signal, and the deck holds
  // new records only.
  cases.push_back({"file-size limit inside the first block",
                   [](const TempDir& d) {
                     d.write("STL_Model.stl", generated_model(8'000));
                     std::string old_deck;
                     while (old_deck.size() < (4u << 20)) old_deck += OLD;
                     d.write("input.dat", old_deck);
                   },
                   {.file_size_limit = 512u << 10},
                   38,
                   "forrtl: severe (38): error during write, unit 6, file @/input.dat\n",
                   read_notice + "  Number of elements:  m =        8000\r\n"
                                 "  Number of nodes:     n =       24000\r\n",
                   After::cut_short,
                   After::unchanged});
  cases.push_back({"file-size limit after some blocks",
                   [](const TempDir& d) { d.write("STL_Model.stl", generated_model(20'000)); },
                   {.file_size_limit = 4u << 20},
                   38,
                   "forrtl: severe (38): error during write, unit 6, file @/input.dat\n",
                   read_notice + "  Number of elements:  m =       20000\r\n"
                                 "  Number of nodes:     n =       60000\r\n",
                   After::cut_short,
                   After::unchanged});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("input.dat", OLD);
    dir.write("input.plt", OLD);
    c.prepare(dir);
    const RunResult run = testing_support::run_converter(dir.path(), c.options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    if (c.err_start.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      std::string expected = c.err_start;
      if (const auto at = expected.find('@'); at != std::string::npos) {
        expected.replace(at, 1, dir.path().string());
      }
      EXPECT_TRUE(run.err.starts_with(expected + std::string(REPORT_HEADER))) << run.err;
    }
    for (const auto& [name, after] :
         {std::pair{"input.dat", c.deck}, std::pair{"input.plt", c.view}}) {
      SCOPED_TRACE(name);
      const bool file = std::filesystem::is_regular_file(dir / name);
      switch (after) {
        case After::unchanged:
          EXPECT_EQ(dir.read(name), OLD);
          break;
        case After::complete:
          EXPECT_TRUE(dir.read(name).ends_with(
              name == std::string_view("input.dat") ? " $ End of the File\r\n" : "\r\n"));
          EXPECT_NE(dir.read(name), OLD);
          break;
        case After::cut_short: {
          const std::string content = dir.read(name);
          EXPECT_TRUE(content.starts_with(" A BEM Model")) << content.substr(0, 80);
          EXPECT_EQ(content.find(OLD), std::string::npos) << "old records after new ones";
          EXPECT_FALSE(content.ends_with(" $ End of the File\r\n"));
          break;
        }
        case After::model:
          EXPECT_EQ(dir.read(name), dir.read("STL_Model.stl"));
          EXPECT_TRUE(dir.read(name).starts_with("solid"));
          break;
        case After::absent:
          EXPECT_FALSE(file);
          break;
        case After::empty:
          EXPECT_TRUE(file);
          EXPECT_EQ(dir.read(name), "");
          break;
        case After::reported:
          EXPECT_EQ(dir.read(name), std::string(OLD) + run.err);
          break;
      }
    }
    if (std::string_view(c.name) == "a line of 1 GiB" && !testing_support::sanitized_build()) {
      EXPECT_LT(run.peak_memory_kib, 16 * 1024) << "a long line must not cost memory";
    }
  }
}

// A run killed at any moment of its writing leaves each output file either
// as it was, cut short, or holding the start of its new content: never new
// records followed by old ones, which would read as a whole deck of a mixed
// model.
TEST(Faults, KillAtAnyWriteNeverMixesNewAndOldRecords) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is needed";
  const std::string model = generated_model(8'000);  // a deck of two and a half blocks
  std::string old_file;
  while (old_file.size() < (3u << 20)) old_file += OLD;

  TempDir reference;
  reference.write("STL_Model.stl", model);
  ASSERT_EQ(testing_support::run_converter(reference.path()).status, 0);
  const std::string new_deck = reference.read("input.dat");
  const std::string new_view = reference.read("input.plt");

  std::vector<std::string> faults;
  for (int n = 1; n <= 3; ++n)
    faults.push_back("inject=ftruncate:signal=KILL:when=" + std::to_string(n));
  for (int n = 1; n <= 12; ++n)
    faults.push_back("inject=write:signal=KILL:when=" + std::to_string(n));
  for (const std::string& fault : faults) {
    SCOPED_TRACE(fault);
    TempDir dir;
    dir.write("STL_Model.stl", model);
    dir.write("input.dat", old_file);
    dir.write("input.plt", old_file);
    const RunResult run = testing_support::run_converter(
        dir.path(), {.wrapper = {"strace", "-qq", "-o", "/dev/null", "-e", fault}});
    for (const auto& [name, complete] :
         {std::pair{"input.dat", &new_deck}, std::pair{"input.plt", &new_view}}) {
      SCOPED_TRACE(name);
      // Cut to its first byte is cut short too: the first write replaces it.
      const std::string content = dir.read(name);
      if (content != old_file && content != old_file.substr(0, 1)) {
        EXPECT_TRUE(complete->starts_with(content))
            << "holds " << content.size() << " bytes that are not the start of the new file";
      }
    }
    if (run.status == 0) {
      EXPECT_EQ(dir.read("input.dat"), new_deck);
      EXPECT_EQ(dir.read("input.plt"), new_view);
    }
  }
}

// Wherever memory runs out, the run ends with the insufficient-memory report
// before anything is written, or converts completely: never an abort.
TEST(Faults, AddressSpaceLimitsGiveReport41OrAWholeRun) {
  if (testing_support::sanitized_build()) GTEST_SKIP() << "the sanitizers need more address space";
  const std::string model = generated_model(2'000);
  int reports = 0;
  int whole_runs = 0;
  for (unsigned long long mib = 200; mib <= 440; mib += 4) {
    SCOPED_TRACE(std::to_string(mib) + " MiB");
    TempDir dir;
    dir.write("STL_Model.stl", model);
    dir.write("input.dat", OLD);
    dir.write("input.plt", OLD);
    const RunResult run =
        testing_support::run_converter(dir.path(), {.address_space_limit = mib << 20});
    ASSERT_EQ(run.signal, 0) << run.err;
    if (run.status == 41) {
      ++reports;
      EXPECT_TRUE(run.err.starts_with("forrtl: severe (41): insufficient virtual memory\n"))
          << run.err;
      EXPECT_EQ(dir.read("input.dat"), OLD);
      EXPECT_EQ(dir.read("input.plt"), OLD);
    } else {
      ++whole_runs;
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(dir.read("input.dat").ends_with(" $ End of the File\r\n"));
    }
  }
  // The band holds both endings, so the scan crossed the boundary.
  EXPECT_GT(reports, 0);
  EXPECT_GT(whole_runs, 0);
}

// A second run started while the first writes waits for it, then writes
// its own files whole; the first run's files are never cut under it.
TEST(Faults, TwoRunsInOneFolderDoNotWriteAtOnce) {
  TempDir dir;
  dir.write("STL_Model.stl", generated_model(200'000));
  testing_support::StartedRun first(dir.path());
  // The first run has read its model once it reports the counts; the
  // second run gets another model.
  for (int wait = 0; wait < 6000 && first.out_so_far().find("n =") == std::string::npos; ++wait) {
    ::usleep(5000);
  }
  dir.write("next.stl", data_file("one_facet_deck.stl"));
  std::filesystem::rename(dir / "next.stl", dir / "STL_Model.stl");
  testing_support::StartedRun second(dir.path());
  const RunResult first_run = first.finish();
  const RunResult second_run = second.finish();
  EXPECT_EQ(first_run.status, 0) << first_run.err;
  EXPECT_EQ(second_run.status, 0) << second_run.err;

  TempDir reference;
  reference.write("STL_Model.stl", data_file("one_facet_deck.stl"));
  ASSERT_EQ(testing_support::run_converter(reference.path()).status, 0);
  EXPECT_EQ(dir.read("input.dat"), reference.read("input.dat"));
  EXPECT_EQ(dir.read("input.plt"), reference.read("input.plt"));
}

// A folder name cannot drive the user's terminal through a report: control
// bytes, C1 controls in their UTF-8 form and bytes that are not UTF-8 are
// shown escaped there, while a file receives the exact name.
TEST(Faults, ControlBytesOfAPathAreEscapedOnATerminalOnly) {
  struct Case {
    std::string name;
    std::string shown;
  };
  std::vector<Case> cases;
  cases.push_back({"clear\x1b[2J title\x1b]0;x\x07 end", "clear\\033[2J title\\033]0;x\\007 end"});
  // CSI, OSC and ST as UTF-8 C1 controls; a bare 8-bit CSI; a cut
  // sequence; printable characters beyond ASCII stay as they are.
  cases.push_back(
      {"csi\xc2\x9bK osc\xc2\x9d;t\xc2\x9c bare\x9bK cut\xe2\x82 \xc2\xa0\xc3\xa9\xe2\x82\xac",
       "csi\\302\\233K osc\\302\\235;t\\302\\234 bare\\233K cut\\342\\202 "
       "\xc2\xa0\xc3\xa9\xe2\x82\xac"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    TempDir parent;
    const std::filesystem::path dir = parent / c.name;
    std::filesystem::create_directory(dir);
    const RunResult on_terminal = testing_support::run_converter(dir, {.stderr_terminal = true});
    EXPECT_EQ(on_terminal.status, 29);
    EXPECT_NE(on_terminal.err.find(c.shown + "/STL_Model.stl"), std::string::npos)
        << on_terminal.err;
    EXPECT_EQ(on_terminal.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(on_terminal.err.find("\xc2\x9b"), std::string::npos);
    const RunResult to_file = testing_support::run_converter(dir);
    EXPECT_TRUE(to_file.err.starts_with("forrtl: severe (29): file not found, unit 5, file " +
                                        (dir / "STL_Model.stl").string() + "\n"))
        << to_file.err;
  }
}

// When the worker threads cannot start as usual (a stack limit of many
// gigabytes, which a thread would take as its stack size; no thread at all),
// the run converts on its own thread, to the same bytes and the same
// endings: a whole model, a coordinate that fails halfway through it, a
// model cut off inside a facet.
TEST(Faults, WorkersThatCannotStartLeaveTheSameFiles) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is needed";
  // Several batches of vertex lines and several chunks of records.
  const std::string whole = generated_model(20'000);
  std::string failing = whole;
  std::size_t halfway = 0;
  for (int facet = 0; facet < 10'000; ++facet) halfway = failing.find("  facet", halfway + 1);
  failing.insert(halfway,
                 "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 x\n"
                 "      vertex 1 2 3\n      vertex 1 2 3\n    endloop\n  endfacet\n");
  const std::string cut = whole + "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 3\n";

  struct Case {
    const char* name;
    RunOptions options;
  };
  std::vector<Case> cases;
  cases.push_back({"stack limit of 64 GiB", {.stack_limit = 64ull << 30}});
  cases.push_back({"no thread starts",
                   {.wrapper = {"strace", "-qq", "-o", "/dev/null", "-e",
                                "inject=clone,clone3:error=EAGAIN"}}});
  // The report line, its folder as @; the traceback's addresses may differ.
  const auto report_line = [](const RunResult& run, const TempDir& dir) {
    std::string line = run.err.substr(0, run.err.find('\n'));
    if (const auto at = line.find(dir.path().string()); at != std::string::npos) {
      line.replace(at, dir.path().string().size(), "@");
    }
    return line;
  };
  const std::string* const models[] = {&whole, &failing, &cut};
  for (const std::string* model : models) {
    TempDir reference;
    reference.write("STL_Model.stl", *model);
    reference.write("input.dat", OLD);
    const RunResult plain = testing_support::run_converter(reference.path());
    const std::string plain_report = report_line(plain, reference);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      SCOPED_TRACE(plain_report);
      TempDir dir;
      dir.write("STL_Model.stl", *model);
      dir.write("input.dat", OLD);
      const RunResult run = testing_support::run_converter(dir.path(), c.options);
      EXPECT_EQ(run.status, plain.status) << run.err;
      EXPECT_EQ(run.out, plain.out);
      EXPECT_EQ(report_line(run, dir), plain_report);
      EXPECT_TRUE(content_or_absent(dir, "input.dat") == reference.read("input.dat"));
      EXPECT_TRUE(content_or_absent(dir, "input.plt") == reference.read("input.plt"));
    }
  }
}

// A run that waits for another run's lock says so once, after a moment;
// when the lock is released it writes the file found under the name then,
// never one the other run renamed or removed while it waited.
TEST(Faults, AWaitingRunSaysSoAndWritesTheFileUnderTheName) {
  enum class Meanwhile { nothing, rename, remove };
  struct Case {
    const char* name;
    Meanwhile meanwhile;
  };
  constexpr Case cases[] = {
      {"the other run keeps the file", Meanwhile::nothing},
      {"the other run renames it", Meanwhile::rename},
      {"the other run removes it", Meanwhile::remove},
  };
  TempDir reference;
  reference.write("STL_Model.stl", data_file("one_facet_deck.stl"));
  const RunResult plain = testing_support::run_converter(reference.path());
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string new_deck = reference.read("input.dat");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("STL_Model.stl", data_file("one_facet_deck.stl"));
    dir.write("input.dat", OLD);
    // The other run: a lock on the deck, which the converter must not
    // inherit (the lock goes with the open file).
    const int other = ::open((dir / "input.dat").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    testing_support::StartedRun run(dir.path());
    ::usleep(500'000);
    EXPECT_EQ(run.err_so_far(), "") << "a short wait is quiet";
    const std::string note =
        "Waiting for another run in this folder to release " + (dir / "input.dat").string() + "\n";
    for (int wait = 0; wait < 200 && run.err_so_far() != note; ++wait) ::usleep(50'000);
    EXPECT_EQ(run.err_so_far(), note);
    EXPECT_EQ(run.out_so_far(), "") << "nothing happens while it waits";
    if (c.meanwhile == Meanwhile::rename) {
      std::filesystem::rename(dir / "input.dat", dir / "renamed.dat");
    }
    if (c.meanwhile == Meanwhile::remove) std::filesystem::remove(dir / "input.dat");
    ASSERT_EQ(::flock(other, LOCK_UN), 0);
    const RunResult result = run.finish();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, note);
    EXPECT_EQ(result.out, plain.out);
    EXPECT_EQ(content_or_absent(dir, "input.dat"), new_deck);
    EXPECT_EQ(content_or_absent(dir, "input.plt"), reference.read("input.plt"));
    // The file the other run held keeps its content unless it is the deck.
    std::string held(new_deck.size() + OLD.size(), '\0');
    const ssize_t got = ::pread(other, held.data(), held.size(), 0);
    held.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    EXPECT_EQ(held, c.meanwhile == Meanwhile::nothing ? new_deck : std::string(OLD));
    ::close(other);
  }
}

}  // namespace
