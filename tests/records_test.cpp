// Free-form records, record layouts and report texts, as the bytes that
// reach a file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "format/free_form.h"
#include "format/layout.h"
#include "records/endings.h"
#include "records/output_channel.h"
#include "support.h"

namespace {

using records::OutputChannel;
using records::OutputMode;
using testing_support::TempDir;

// Runs the writes on a channel bound to a fresh file and returns its bytes.
template <typename Writes>
std::string written(Writes writes, OutputMode mode = OutputMode::plain) {
  TempDir dir;
  const std::string path = (dir / "out").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0666);
  {
    OutputChannel channel(records::SOLVER_UNIT, fd, path, mode, true);
    writes(channel);
    EXPECT_TRUE(channel.close().ok());
  }
  return testing_support::read_file(path);
}

// The records of one write of the items, as the system's writers make it:
// with an initializer list.
std::string free_form(std::initializer_list<format::FreeItem> items) {
  return written([&](OutputChannel& channel) { format::write_free_form(channel, items); });
}

TEST(FreeForm, RecordsOfTheSystemsWrites) {
  const std::string room_67(67, 'a');
  const std::string digits_90 =
      "0123456789012345678901234567890123456789012345678901234567890123456789"
      "0123456789ABCDEFGHIJ";
  EXPECT_EQ(free_form({}), " \r\n") << "empty write";
  EXPECT_EQ(free_form({" Read in the model ..."}), "  Read in the model ...\r\n")
      << "text with its own blank";
  EXPECT_EQ(free_form({" Number of elements:  m =", 1}),
            "  Number of elements:  m =           1\r\n")
      << "text then count";
  EXPECT_EQ(free_form({0}), "           0\r\n") << "zero";
  EXPECT_EQ(free_form({std::int32_t{-2147483647 - 1}}), " -2147483648\r\n") << "most negative";
  EXPECT_EQ(free_form({"a", "b", 7, "c"}), " ab           7c\r\n")
      << "texts join without separator";
  EXPECT_EQ(free_form({"TITLE = \"A BEM Model for Acoustic Analysis\" "}),
            " TITLE = \"A BEM Model for Acoustic Analysis\" \r\n")
      << "trailing blanks and quotes stay";
  EXPECT_EQ(
      free_form({"ZONE T=\"Model\", N=", 3, ", E=", 1, "DATAPACKING=POINT, ZONETYPE=FETRIANGLE"}),
      " ZONE T=\"Model\", N=           3, E=           1\r\n"
      " DATAPACKING=POINT, ZONETYPE=FETRIANGLE\r\n")
      << "zone header is cut after the element count";
  EXPECT_EQ(free_form({"ZONE T=\"Model\", N=", 9999999, ", E=", 3333333,
                       "DATAPACKING=POINT, ZONETYPE=FETRIANGLE"}),
            " ZONE T=\"Model\", N=     9999999, E=     3333333\r\n"
            " DATAPACKING=POINT, ZONETYPE=FETRIANGLE\r\n")
      << "zone header at the largest counts";
  EXPECT_EQ(free_form({std::string_view(room_67), std::string_view("bbbbbbbbbbbb")}),
            " " + room_67 + "bbbbbbbbbbbb\r\n")
      << "text that exactly fills the room stays";
  EXPECT_EQ(free_form({std::string_view("x"), 1, 2, 3, 4, 5, 6, 7}),
            " x           1           2           3           4           5           6\r\n"
            "           7\r\n")
      << "integer that would pass column 80 starts a new record";
  EXPECT_EQ(free_form({std::string_view(digits_90)}),
            " 0123456789012345678901234567890123456789012345678901234567890123456789012345678\r\n"
            " 9ABCDEFGHIJ\r\n")
      << "text longer than a record is cut into pieces";
}

TEST(FreeForm, ControlColumnModeShowsLinesWithoutTheirFirstCharacter) {
  const std::string bytes = written(
      [](OutputChannel& channel) {
        format::write_free_form(channel, {" one"});
        format::write_free_form(channel, {" two", 2});
      },
      OutputMode::control_column);
  EXPECT_EQ(bytes, " one\r\n two           2\r\n");
}

TEST(Layout, FieldsSkipsLiteralsAndBreaks) {
  using namespace format;
  static constexpr EditDescriptor title[] = {Literal("Title,"), Skip(12), TextField(9)};
  static constexpr EditDescriptor trailing_skip[] = {IntField(4), Skip(5)};
  static constexpr EditDescriptor fixed_first[] = {Literal("head"), RecordBreak(), IntField(3, 2),
                                                   Literal("|"),    RecordBreak(), Literal("tail")};
  static constexpr EditDescriptor element[] = {
      IntField(10),          Skip(3),     IntField(8, 3), Skip(5), Literal("   2   (0.D+00,"),
      ExpField(24, 15, 'D'), Literal(")")};

  const Item title_items[] = {std::string_view("07-DEC-26")};
  EXPECT_EQ(written([&](OutputChannel& ch) { write_layout<title>(ch, title_items); }),
            "Title,            07-DEC-26\r\n");
  const Item one[] = {std::int32_t{42}};
  // A skip alone never lengthens a record.
  EXPECT_EQ(written([&](OutputChannel& ch) { write_layout<trailing_skip>(ch, one); }), "  42\r\n");
  // Literals before the first field are written; the write stops at the
  // field that finds no item left, so the literal after it is not.
  EXPECT_EQ(written([&](OutputChannel& ch) { write_layout<fixed_first>(ch, one); }),
            "head\r\n 42\r\n");
  const Item two[] = {std::int32_t{1}, std::int32_t{-22}};
  EXPECT_EQ(written([&](OutputChannel& ch) { write_layout<fixed_first>(ch, two); }),
            "head\r\n  1-22|\r\ntail\r\n");
  const Item element_items[] = {std::int32_t{1}, std::int32_t{1}, std::int32_t{2}, std::int32_t{3},
                                0.0};
  const std::string record =
      written([&](OutputChannel& ch) { write_layout<element>(ch, element_items); });
  EXPECT_EQ(
      record,
      "         1          1       2       3        2   (0.D+00,   0.000000000000000D+00)\r\n");
  EXPECT_EQ(record.size(), 82u + 2u);
}

TEST(Layout, LongRecordsGrowTheBuffer) {
  using namespace format;
  static constexpr EditDescriptor wide[] = {IntField(15, 100)};
  std::vector<Item> items;
  for (int i = 0; i < 100; ++i) items.emplace_back(std::int32_t{i});
  const std::string bytes = written([&](OutputChannel& ch) {
    for (int r = 0; r < 1000; ++r) write_layout<wide>(ch, items);
  });
  ASSERT_EQ(bytes.size(), 1000u * 1502u);
  EXPECT_EQ(bytes.substr(1500, 2), "\r\n");
  EXPECT_EQ(bytes.substr(1485, 15), "             99");
}

TEST(Report, LineAndTracebackFormats) {
  std::vector<records::TraceFrame> frames = {
      {"stldeck", 0x1234ABCDull, ""},
      {"a-library-with-a-long-name.so.6", 0xFFFFFFFF12345678ull, "a_routine_with_a_long_name"},
  };
  const std::string text = records::format_report(records::Report::file_not_found, 5,
                                                  "/tmp/x/STL_Model.stl", frames, false);
  EXPECT_EQ(text,
            "forrtl: severe (29): file not found, unit 5, file /tmp/x/STL_Model.stl\n"
            "Image              PC        Routine            Line        Source             \n"
            "stldeck            1234ABCD  Unknown               Unknown  Unknown\n"
            "a-library-with-a-  12345678  a_routine_with_a_     Unknown  Unknown\n");
  EXPECT_EQ(records::format_report(records::Report::invalid_real, 0, "", {}, false),
            "forrtl: severe (547): invalid REAL\n"
            "Image              PC        Routine            Line        Source             \n");
  EXPECT_TRUE(records::format_report(records::Report::no_memory, 0, "", {}, true)
                  .ends_with("Source             \nStack trace terminated abnormally.\n"));
}

TEST(Report, TracebackIsCutAtTheTextLimit) {
  std::vector<records::TraceFrame> frames(1000, {"stldeck", 0x10, ""});
  const std::string text =
      records::format_report(records::Report::end_of_file, 5, "/f", frames, false);
  EXPECT_LE(text.size(), records::REPORT_TEXT_LIMIT);
  EXPECT_GT(text.size(), records::REPORT_TEXT_LIMIT - 200);
  EXPECT_TRUE(text.ends_with("Unknown\nStack trace buffer overflow; further frames not shown.\n"));
}

}  // namespace
