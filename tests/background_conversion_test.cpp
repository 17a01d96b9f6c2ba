// The converter's scan, with the coordinates converted on a worker, ends
// exactly as the plain scan of the same file does and stores the same
// coordinates, wherever a failure lies relative to the batches handed over.
#include "reading/background_conversion.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "mesh/mesh_store.h"
#include "reading/stl_scanner.h"
#include "records/output_channel.h"
#include "support.h"

namespace {

using testing_support::TempDir;

std::string facet(const std::string& v1, const std::string& v2, const std::string& v3) {
  return "  facet normal 0 0 1\n    outer loop\n      vertex " + v1 + "\n      vertex " + v2 +
         "\n      vertex " + v3 + "\n    endloop\n  endfacet\n";
}

// Facets whose coordinates differ, some in the forms only the full
// conversion reads; enough of them fill several batches.
std::string facets(int count, int first = 0) {
  std::string text;
  for (int i = first; i < first + count; ++i) {
    const std::string n = std::to_string(i);
    text += facet(n + ".5 -" + n + "e-3 1.25D+" + std::to_string(i % 30),
                  "0.1234567890123456789 " + n + " -0", n + "q2 -.5 " + n + "1234567890123e-40");
  }
  return text;
}

struct Scanned {
  reading::ScanOutcome outcome;
  std::vector<std::uint64_t> coordinate_bits;
};

template <typename Scan>
Scanned scanned(const TempDir& dir, Scan scan) {
  const std::string path = (dir / "STL_Model.stl").string();
  records::InputChannel stl(records::STL_UNIT, ::open(path.c_str(), O_RDONLY), path);
  mesh::MeshStore store;
  EXPECT_TRUE(store.reserve());
  Scanned result;
  result.outcome = scan(stl, store);
  const mesh::MeshView view = store.view();
  for (std::int64_t i = 0; i < std::int64_t{3} * view.node_count; ++i) {
    result.coordinate_bits.push_back(std::bit_cast<std::uint64_t>(view.node_xyz[i]));
  }
  return result;
}

TEST(BackgroundConversion, EndsAndStoresAsThePlainScan) {
  struct Case {
    const char* name;
    std::string stl;
    reading::ScanEnd end;
  };
  const std::string bad = facet("1 2 3", "4 x 6", "7 8 9");
  const std::string cut_after_bad_line =
      "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 3\n      vertex 4 5 y\n";
  const std::string cut_after_vertices =
      "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 3\n      vertex 4 5 6\n"
      "      vertex 7 8 9\n";
  const std::string cut_after_facet_line = "  facet normal 0 0 1\n";
  const std::string cut_after_outer_loop = "  facet normal 0 0 1\n    outer loop\n";
  const std::string overflowing = facet("1 2 3", "4 5 6", "7 8 1e999");
  const std::string solid = "solid t\n" + facets(12000) + "endsolid t\n";
  const std::string bad_late = facets(4500) + bad + facets(300, 4500);
  const std::string bad_first = bad + facets(10);
  const std::string bad_then_cut = facets(3000) + bad + cut_after_facet_line;
  const std::string cut_in_bad = facets(2500) + cut_after_bad_line;
  const std::string cut_after_good = facets(2500) + cut_after_vertices;
  const std::string cut_early = facets(2200) + cut_after_outer_loop;
  const std::string overflow_late = facets(100) + overflowing;
  using enum reading::ScanEnd;
  const Case cases[] = {
      {                                      "empty file",             "",                clean},
      {                                 "several batches",          solid,                clean},
      {           "invalid coordinate after some batches",       bad_late,   invalid_coordinate},
      {           "invalid coordinate in the first facet",      bad_first,   invalid_coordinate},
      {"invalid coordinate, then the file cut in a facet",   bad_then_cut,   invalid_coordinate},
      {     "file ends after the invalid line of a facet",     cut_in_bad,   invalid_coordinate},
      { "file ends after the last vertex line, all valid", cut_after_good, end_of_file_in_facet},
      {                        "file ends inside a facet",      cut_early, end_of_file_in_facet},
      {                       "an overflowing coordinate",  overflow_late,   invalid_coordinate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("STL_Model.stl", c.stl);
    const Scanned plain = scanned(dir, [](records::InputChannel& stl, mesh::MeshStore& store) {
      return reading::scan_stl(stl, store);
    });
    const Scanned background = scanned(dir, [](records::InputChannel& stl, mesh::MeshStore& store) {
      reading::BackgroundConversion conversion(store);
      EXPECT_TRUE(conversion.start());
      return conversion.finish(reading::scan_stl(stl, conversion));
    });
    EXPECT_EQ(plain.outcome.end, c.end);
    EXPECT_EQ(background.outcome.end, plain.outcome.end);
    EXPECT_EQ(background.outcome.facets, plain.outcome.facets);
    EXPECT_EQ(background.outcome.line_number, plain.outcome.line_number);
    EXPECT_EQ(background.outcome.token, plain.outcome.token);
    if (plain.outcome.end != reading::ScanEnd::invalid_coordinate) {
      EXPECT_TRUE(background.coordinate_bits == plain.coordinate_bits);
    }
  }
}

}  // namespace
