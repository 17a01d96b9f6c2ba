// The line reader of the shared I/O layer: where a line ends, what of a
// long line a caller learns while only its head is kept, across the
// reader's blocks, and a failed read as a value that names the file and
// the system's reason.
#include "io/line_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "reading/facet_text.h"
#include "support.h"

namespace {

using testing_support::TempDir;

// Lines end at a line feed, a carriage return just before it is dropped,
// and bytes after the last line feed are no line.
TEST(LineReader, SplitsLinesAtLineFeeds) {
  struct Case {
    std::string_view content;
    std::vector<std::string_view> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a\nb\nc", {"a", "b"}},
      {"a\r\n\r\n", {"a", ""}},
      {"a\rb\n", {"a\rb"}},
      {"a\r\r\nb\r", {"a\r"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.content)));
    TempDir dir;
    dir.write("lines.txt", std::string(c.content));
    io::LineReader reader(::open((dir / "lines.txt").c_str(), O_RDONLY), "lines.txt");
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.read_line(line, 80) == io::ReadOutcome::line) lines.emplace_back(line);
    EXPECT_EQ(reader.read_line(line, 80), io::ReadOutcome::end_of_input);
    EXPECT_EQ(lines, std::vector<std::string>(c.lines.begin(), c.lines.end()));
  }
}

// A read the system refuses is a failure, kept as a value for the caller:
// the step, the path as given, the system's reason.
TEST(LineReader, AFailedReadIsAValueNamingTheFile) {
  TempDir dir;
  io::LineReader reader(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY), "the folder");
  ASSERT_TRUE(reader.reserve_block().ok());
  std::string_view line;
  ASSERT_EQ(reader.read_line(line, 8), io::ReadOutcome::failure);
  EXPECT_EQ(reader.failure().what, "cannot read");
  EXPECT_EQ(reader.failure().path, "the folder");
  EXPECT_EQ(reader.failure().error, EISDIR);
  EXPECT_EQ(reader.failure().message(), "cannot read the folder: Is a directory");
}

// What a caller learns of a line it never keeps whole: the facet word of a
// skipped line (as the scanner takes it from the line's shape), and text
// after column 80 of a vertex line, found as the line streams past, also
// when it spans two of the reader's blocks.
TEST(LineReader, SeesPastTheKeptHeadAcrossBlocks) {
  struct Case {
    std::string_view line;
    bool facet_word;
    bool past_column_80;
  };
  const std::string long_blank = "vertex 1 2 3" + std::string(100, ' ');
  const std::string long_tab = std::string(80, ' ') + "\t";
  const std::string exactly_80 = "vertex 1 2 " + std::string(69, '3');
  const std::string just_past = exactly_80 + "3";
  const std::string inner_return = exactly_80 + "\r ";  // only a return before the feed goes
  const std::string late_word = std::string(3 << 20, ' ') + "\tFacet";
  const Case cases[] = {
      {"facet normal 0 0 1", true, false},
      {" \t FaCeT normal 0 0 1", true, false},
      {"FACET", true, false},
      {"face", false, false},
      {"endfacet", false, false},
      {"  x facet", false, false},
      {"", false, false},
      {long_blank, false, false},
      {long_tab, false, true},
      {exactly_80, false, false},
      {just_past, false, true},
      {inner_return, false, true},
      {late_word, true, true},
  };
  constexpr std::size_t BLOCK = std::size_t{1} << 20;
  for (const Case& c : cases) {
    // The line starts this many bytes before the end of the first block
    // (0: at the file's start), with LF or CR LF after it.
    for (const std::size_t before_block_end : {0U, 1U, 79U, 81U}) {
      for (const std::string_view line_end : {"\n", "\r\n"}) {
        SCOPED_TRACE(std::string(c.line.substr(0, 40)) + " at " + std::to_string(before_block_end) +
                     (line_end.size() == 2 ? " with CR LF" : ""));
        const std::string filler =
            before_block_end == 0 ? "" : std::string(BLOCK - before_block_end - 1, 'x') + "\n";
        TempDir dir;
        dir.write("model.stl", filler + std::string(c.line) + std::string(line_end));
        const testing_support::Scanned scanned = testing_support::scan_file(dir / "model.stl");
        const bool facet_word =
            std::ranges::any_of(scanned.skipped, [](const reading::SkippedLine& skipped) {
              return skipped.kind == reading::SkippedKind::facet_word;
            });
        EXPECT_EQ(facet_word, c.facet_word);
        const int fd = ::open((dir / "model.stl").c_str(), O_RDONLY);
        io::LineReader stl(fd, "model.stl");
        std::string_view first;
        bool past_column_80 = false;
        if (!filler.empty()) {
          ASSERT_EQ(stl.read_line(first, 0), io::ReadOutcome::line);
        }
        ASSERT_EQ(stl.read_line(first, 80, past_column_80), io::ReadOutcome::line);
        EXPECT_EQ(first, c.line.substr(0, 80));
        EXPECT_EQ(past_column_80, c.past_column_80);
      }
    }
  }
}

}  // namespace
