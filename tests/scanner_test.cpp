// Which lines make facets, and which corners they give: small STL files
// converted end to end, read back from the node section of the deck.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "format/fields.h"
#include "reading/stl_scanner.h"
#include "reading/vertex_line.h"
#include "run_sequence.h"
#include "support.h"

namespace {

using testing_support::RunResult;
using testing_support::TempDir;

using Corner = std::array<double, 3>;

// The deck's rendering of a corner: three EXP(24.15 D) fields.
std::string deck_fields(const Corner& corner) {
  std::string fields(72, ' ');
  for (std::size_t axis = 0; axis < 3; ++axis) {
    format::render_exp(corner[axis], 15, 'D', std::span(fields.data() + 24 * axis, 24));
  }
  return fields;
}

// The coordinate fields of the deck's node records, in order.
std::vector<std::string> node_fields(const std::string& deck) {
  std::vector<std::string> fields;
  std::size_t at = deck.find(" $ Nodes:\r\n");
  if (at == std::string::npos) return fields;
  at += 11;
  while (deck.compare(at, 2, " $") != 0) {
    const std::size_t end = deck.find("\r\n", at);
    fields.push_back(deck.substr(at + 8, end - at - 8));
    at = end + 2;
  }
  return fields;
}

std::string facet(std::string_view v1, std::string_view v2, std::string_view v3) {
  return "  facet normal 0 0 1\n    outer loop\n" + std::string(v1) + "\n" + std::string(v2) +
         "\n" + std::string(v3) + "\n    endloop\n  endfacet\n";
}
const std::string plain_facet =
    facet("      vertex 1 2 3", "      vertex 4 5 6", "      vertex 7 8 9");
const std::vector<Corner> plain_corners = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};

std::string with_crlf(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(Scanner, FacetsAndCornersOfSmallFiles) {
  struct Case {
    const char* name;
    std::string stl;
    std::vector<Corner> corners;  // all nodes, in order
  };
  const std::string long_line = "      vertex 1 2 " + std::string(80, ' ') + "3";
  // The third token starts in column 12 and is seen up to column 80 only.
  const std::string cut_token = "vertex 1 2 " + std::string(60, '0') + "12345678999";
  std::vector<Case> cases;
  cases.push_back({"empty file", "", {}});
  cases.push_back({"no facet line", "solid x\nendsolid x\n", {}});
  cases.push_back({"one facet", "solid x\n" + plain_facet + "endsolid x\n", plain_corners});
  cases.push_back(
      {"crlf line ends", with_crlf("solid x\n" + plain_facet + "endsolid x\n"), plain_corners});
  cases.push_back(
      {"facet line of seven characters",
       "  facet\n    outer loop\n      vertex 1 2 3\n      vertex 4 5 6\n      vertex 7 8 "
       "9\nx\ny\n",
       plain_corners});
  cases.push_back(
      {"other indentations are skipped",
       "facet normal 0 0 1\n facet normal 0 0 1\n   facet normal 0 0 1\n\tfacet normal 0 0 1\n"
       "  FACET NORMAL 0 0 1\n  facetnormal 0 0 1\n",
       {}});
  cases.push_back(
      {"lone carriage returns make one line", "solid x\r  facet normal 0 0 1\rendsolid x\r", {}});
  cases.push_back(
      {"two solids",
       "solid a\n" + plain_facet + "endsolid a\nsolid b\n" + plain_facet + "endsolid b\n",
       {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}}});
  cases.push_back({"token variants",
                   facet("vertex 1 2", "1 2 3 4", "   vertex   1.5e1  -2   3 4 5"),
                   {{1, 2, 0}, {2, 3, 4}, {15, -2, 3}}});
  cases.push_back({"tab-separated numbers are one token",
                   facet("vertex\t1\t2\t3", "1 2 3", "vertex 1 2 3"),
                   {{0, 0, 0}, {2, 3, 0}, {1, 2, 3}}});
  cases.push_back({"nothing after column 80 is seen",
                   facet(long_line, cut_token, "vertex 1 2 3"),
                   {{1, 2, 0}, {1, 2, 123456789}, {1, 2, 3}}});
  cases.push_back(
      {"eighty columns without a blank",
       facet(std::string(80, 'v') + " 1 2 3", std::string(79, 'v') + " 1 2 3", "vertex 1 2 3"),
       {{0, 0, 0}, {0, 0, 0}, {1, 2, 3}}});
  cases.push_back(
      {"facet without its outer-loop line loses the next facet",
       "  facet normal 0 0 1\n      vertex 1 1 1\n      vertex 2 2 2\n      vertex 3 3 3\n"
       "    endloop\n  endfacet\n" +
           plain_facet + plain_facet,
       {{2, 2, 2}, {3, 3, 3}, {0, 0, 0}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}}});
  cases.push_back({"final stretch without a line feed is not a line",
                   plain_facet + "  facet normal 0 0 1", plain_corners});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("STL_Model.stl", c.stl);
    const RunResult run = testing_support::run_converter(dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto m = c.corners.size() / 3;
    EXPECT_NE(run.out.find("m =" + std::string(12 - std::to_string(m).size(), ' ') +
                           std::to_string(m) + "\r\n"),
              std::string::npos)
        << run.out;
    std::vector<std::string> expected;
    for (const Corner& corner : c.corners) expected.push_back(deck_fields(corner));
    EXPECT_EQ(node_fields(dir.read("input.dat")), expected);
  }
}

TEST(Scanner, FacetCutOffIsEndOfFileInsideAFacet) {
  const std::string cut_points[] = {
      "  facet normal 0 0 1\n",
      "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 3\n",
      plain_facet.substr(0, plain_facet.find("  endfacet")),
      plain_facet.substr(0, plain_facet.size() - 1),  // last line without its line feed
      // A file of lone carriage returns is one line; this one opens a facet.
      "  facet normal 0 0 1\r    outer loop\r      vertex 1 2 3\r\n",
  };
  for (const std::string& stl : cut_points) {
    SCOPED_TRACE(stl);
    TempDir dir;
    dir.write("STL_Model.stl", stl);
    const RunResult run = testing_support::run_converter(dir.path());
    EXPECT_EQ(run.status, 24);
    EXPECT_TRUE(run.err.starts_with("forrtl: severe (24): end-of-file during read, unit 5, file " +
                                    (dir / "STL_Model.stl").string() + "\n"))
        << run.err;
  }
}

TEST(Scanner, ReadCornerTakesTokensTwoToFour) {
  struct Case {
    std::string_view line;
    Corner corner;
    int empty_tokens;
    std::string_view bad_token;  // empty when the line reads
  };
  std::vector<Case> cases;
  cases.push_back({"", {0, 0, 0}, 3, ""});
  cases.push_back({"      vertex 1.0 2.0 3.0", {1, 2, 3}, 0, ""});
  cases.push_back({"vertex\t1\t2", {0, 0, 0}, 3, ""});
  cases.push_back({"vertex 1 2", {1, 2, 0}, 1, ""});
  cases.push_back({"vertex 1 2,5 3", {1, 0, 0}, 0, "2,5"});
  cases.push_back({"vertex 1 2 3 x y", {1, 2, 3}, 0, ""});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Corner xyz = {9, 9, 9};
    std::string_view bad;
    int empty = 0;
    EXPECT_EQ(reading::read_corner(c.line, xyz, bad, empty), c.bad_token.empty());
    EXPECT_EQ(bad, c.bad_token);
    if (!c.bad_token.empty()) continue;
    EXPECT_EQ(xyz, c.corner);
    EXPECT_EQ(empty, c.empty_tokens);
  }
}

// The scanner's own outcome, line numbers included, for every way a scan
// ends: the converter's reports and the model check are built on it.
TEST(Scanner, OutcomeNamesHowAndWhereTheScanEnded) {
  struct Case {
    const char* name;
    std::string stl;
    int limit;
    reading::ScanEnd end;
    std::int32_t facets;
    std::int64_t line_number;
    std::string token;
  };
  const std::string two = "solid x\n" + plain_facet + plain_facet;  // facet lines 2 and 9
  std::vector<Case> cases;
  cases.push_back({"clean", two + "endsolid x\n", 1000, reading::ScanEnd::clean, 2, 0, ""});
  cases.push_back({"cut inside the second facet", two.substr(0, two.size() - 10), 1000,
                   reading::ScanEnd::end_of_file_in_facet, 1, 9, ""});
  cases.push_back({"invalid coordinate",
                   "solid x\n" + facet("vertex 1 2 3", "vertex 1 x 3", "vertex 1 2 3"), 1000,
                   reading::ScanEnd::invalid_coordinate, 0, 5, "x"});
  cases.push_back(
      {"one facet beyond the limit", two, 1, reading::ScanEnd::too_many_facets, 1, 9, ""});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("STL_Model.stl", c.stl);
    const reading::ScanOutcome outcome =
        testing_support::scan_file(dir / "STL_Model.stl", c.limit).outcome;
    EXPECT_EQ(outcome.end, c.end);
    EXPECT_EQ(outcome.facets, c.facets);
    EXPECT_EQ(outcome.line_number, c.line_number);
    EXPECT_EQ(outcome.token, c.token);
  }
}

// A model whose second vertex line spans the channel's first read block
// (1 MiB) and the second: refusing the second block's read makes that
// vertex line unreadable.
std::string model_with_vertex_line_across_blocks() {
  constexpr std::size_t BLOCK = std::size_t{1} << 20;
  const std::string head = "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 3\n   ";
  std::string stl = "solid " + std::string(BLOCK - head.size() - 7, 'x') + "\n" + head;
  stl += "   vertex 4 5 6\n      vertex 7 8 9\n    endloop\n  endfacet\nendsolid\n";
  return stl;
}

// The number of the converter's read calls, on its main thread, that
// fetches the STL file's second block: counted in a traced run, since the
// loader (and a sanitizer) read files of their own before it.
int second_block_read(const TempDir& dir) {
  const std::string trace = (dir / "trace").string();
  const RunResult traced = testing_support::run_converter(
      dir.path(), {.wrapper = {"strace", "-qq", "-o", trace, "-e", "trace=openat,read"}});
  EXPECT_EQ(traced.status, 0) << traced.err;
  const std::string log = testing_support::read_file(trace);
  std::filesystem::remove(trace);
  std::string stl_fd;
  int reads = 0;
  int stl_reads = 0;
  for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string_view line(log.data() + at, end - at);
    if (line.starts_with("openat(") && line.find("\"STL_Model.stl\"") != std::string_view::npos) {
      stl_fd = std::string(line.substr(line.rfind("= ") + 2));
    } else if (line.starts_with("read(")) {
      ++reads;
      if (!stl_fd.empty() && line.starts_with("read(" + stl_fd + ",") && ++stl_reads == 2) {
        return reads;
      }
    }
  }
  return 0;
}

// A vertex line that can no longer be read is the stop message, with a
// failure status, and leaves the output files as they were; on a terminal
// the message is shown like a console line: its first character, the
// blank, is the line-spacing control and is not shown, and the line's feed
// comes when the channel is closed.
TEST(Scanner, UnreadableVertexLineStopsWithItsMessage) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is needed";
  TempDir dir;
  dir.write("STL_Model.stl", model_with_vertex_line_across_blocks());
  const int read_call = second_block_read(dir);
  ASSERT_GT(read_call, 0);
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "standard error on a terminal" : "standard error to a file");
    dir.write("input.dat", "old deck\r\n");
    dir.write("input.plt", "old view\r\n");
    const RunResult run = testing_support::run_converter(
        dir.path(), {.stderr_terminal = terminal,
                     .wrapper = {"strace", "-qq", "-o", "/dev/null", "-e", "trace=read", "-e",
                                 "inject=read:error=EIO:when=" + std::to_string(read_call)}});
    EXPECT_EQ(run.status, run::READ_FAILURE_STATUS);
    EXPECT_EQ(run.out, "  Read in the model ...\r\n");
    EXPECT_EQ(run.err, terminal ? "Error in reading triangles. Program stopped!\r\n"
                                : " Error in reading triangles. Program stopped!\r\n");
    EXPECT_EQ(dir.read("input.dat"), "old deck\r\n");
    EXPECT_EQ(dir.read("input.plt"), "old view\r\n");
  }
}

// The file is read in blocks of 1 MiB: a line end whose carriage return is
// the last byte of one block and whose line feed is the first of the next
// is still one CR LF line end, at every line of a facet.
TEST(Scanner, CrLfSplitAcrossReadBlocks) {
  constexpr std::size_t BLOCK = std::size_t{1} << 20;
  const std::string facet_text = with_crlf(plain_facet);
  for (std::size_t line_end = 0; facet_text.find('\r', line_end) != std::string::npos;) {
    const std::size_t cr = facet_text.find('\r', line_end);
    SCOPED_TRACE("carriage return at offset " + std::to_string(cr) + " of the facet");
    line_end = cr + 1;
    // A first line of filler puts that carriage return at the last byte of
    // the first block.
    std::string stl(BLOCK - cr - 3, 'x');
    stl += "\r\n" + facet_text;
    ASSERT_EQ(stl[BLOCK - 1], '\r');
    ASSERT_EQ(stl[BLOCK], '\n');
    TempDir dir;
    dir.write("STL_Model.stl", stl);
    const testing_support::Scanned scanned = testing_support::scan_file(dir / "STL_Model.stl");
    EXPECT_EQ(scanned.outcome.end, reading::ScanEnd::clean);
    EXPECT_EQ(scanned.corners, plain_corners);
  }
}

// The model generator's CR LF form of a large model converts to the very
// files of its LF form.
TEST(Scanner, CrLfModelConvertsLikeItsLfForm) {
  std::string outputs[2];
  for (int crlf = 0; crlf < 2; ++crlf) {
    TempDir dir;
    const std::string command = std::string(STLDECK_MAKE_MODEL) + " 20000 " +
                                (dir / "STL_Model.stl").string() + (crlf ? " --crlf" : "");
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_EQ(testing_support::run_converter(dir.path()).status, 0);
    outputs[crlf] = dir.read("input.dat") + dir.read("input.plt");
  }
  EXPECT_EQ(outputs[0], outputs[1]);
}

}  // namespace
