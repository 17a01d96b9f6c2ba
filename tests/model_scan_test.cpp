// Tests of the check on binary STL: the converter reads none of its facets,
// and the check reads the file whole all the same and gives its verdict on
// the geometry, with the facets located by their records.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "box_facets.h"
#include "geometry/triangle.h"
#include "support.h"
#include "support_cli.h"

namespace {

using geometry::Point;
using geometry::Triangle;
using testing_support::json_value;
using testing_support::TempDir;

// The unit cube scaled by `side`, counter-clockwise seen from outside.
std::vector<Triangle> cube(double side) {
  std::vector<Triangle> facets;
  for (const auto& corners : testing_support::BOX_FACETS) {
    Triangle facet{};
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        facet[k][axis] = (corners[k] >> axis & 1) != 0 ? side : 0.0;
      }
    }
    facets.push_back(facet);
  }
  return facets;
}

void append_u32(std::string& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xff);
}

// Binary STL: the header begins with "solid", as some exporters write it,
// which does not make the file ASCII.
std::string binary_stl(const std::vector<Triangle>& facets) {
  std::string bytes = "solid binary export";
  bytes.resize(80, ' ');
  append_u32(bytes, static_cast<std::uint32_t>(facets.size()));
  for (const Triangle& facet : facets) {
    for (int k = 0; k < 3; ++k) append_u32(bytes, 0);
    for (const Point& corner : facet) {
      for (const double v : corner) {
        append_u32(bytes, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
      }
    }
    bytes += std::string(2, '\0');
  }
  return bytes;
}

TEST(BinaryCheck, FullVerdictAndTheConverterView) {
  std::vector<Triangle> open_cube = cube(1);
  open_cube.erase(open_cube.begin());
  std::vector<Triangle> many = cube(1);
  many.resize(13100, Triangle{});  // 13,088 facets with all corners at the origin
  struct Case {
    std::string_view name;
    std::vector<Triangle> facets;
    std::vector<std::string> options;
    std::vector<std::pair<std::string_view, std::string_view>> json;
    std::string_view finding;  // a line of the summary
  };
  const Case cases[] = {
      {"closed cube",
       cube(1),
       {},
       {{"facets_in", "12"},
        {"facets", "0"},
        {"vertices", "8"},
        {"shells", "1"},
        {"normals", "\"outward\""},
        {"area", "6"},
        {"volume", "1"},
        {"open_edges", "0"},
        {"locations", "{}"}},
       "  - stldeck reads 0 of these 12 facets (binary STL): run stldeck-prepare in.stl "
       "out.stl, which writes them as ASCII STL in the style it reads\n"},
      {"cube without its first facet: the open edges' facets are records 1, 7, 9",
       open_cube,
       {},
       {{"facets_in", "11"},
        {"open_edges", "3"},
        {"normals", "\"undefined\""},
        {"locations", R"({"open_edges": [1, 7, 9]})"}},
       "  - 3 open edges (used by one facet): the surface has holes; close them (facets at "
       "records 1, 7, 9)\n"},
      {"13,100 facets, all but the cube's degenerate",
       many,
       {},
       {{"facets_in", "13100"}, {"degenerate_facets", "13088"}, {"shells", "1"}},
       "  - stldeck reads 0 of these 13,100 facets (binary STL): run stldeck-prepare in.stl "
       "out.stl, which writes them as ASCII STL in the style it reads\n"},
      {"a 100 mm cube",
       cube(100),
       {"--units", "mm"},
       {{"units", "\"mm\""}, {"area", "0.06"}, {"bounding_box", "[[0, 0, 0], [0.1, 0.1, 0.1]]"}},
       "  - stldeck reads 0 of these 12 facets (binary STL): run stldeck-prepare --units mm "
       "in.stl out.stl, which writes them as ASCII STL in the style it reads\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("model.stl", binary_stl(c.facets));
    std::vector<std::string> json_options = c.options;
    json_options.insert(json_options.end(), {"--json", "model.stl"});
    const auto json = testing_support::run_check(dir, json_options);
    EXPECT_EQ(json.status, 1) << json.err;
    EXPECT_EQ(json_value(json.out, "format"), "\"binary\"");
    EXPECT_EQ(json_value(json.out, "ready"), "false");
    for (const auto& [key, value] : c.json) EXPECT_EQ(json_value(json.out, key), value) << key;
    std::vector<std::string> summary_options = c.options;
    summary_options.push_back("model.stl");
    const auto summary = testing_support::run_check(dir, summary_options);
    EXPECT_EQ(summary.status, 1);
    EXPECT_TRUE(summary.out.starts_with("model.stl: not ready for the solver\n")) << summary.out;
    EXPECT_NE(summary.out.find(c.finding), std::string::npos) << summary.out;
  }
}

// The same model as binary and as the converter's ASCII: the same verdict
// on the geometry, so that prepare's rewrite is all the binary file needs.
TEST(BinaryCheck, GeometryAsInTheAsciiFile) {
  TempDir dir;
  const std::vector<Triangle> facets = cube(2);
  dir.write("binary.stl", binary_stl(facets));
  const auto prepared = testing_support::run_prepare(
      dir, {"--frequency", "1", "--no-refine", "binary.stl", "ascii.stl"});
  ASSERT_EQ(prepared.status, 0) << prepared.out << prepared.err;
  const auto binary = testing_support::run_check(dir, {"--json", "--frequency", "1", "binary.stl"});
  const auto ascii = testing_support::run_check(dir, {"--json", "--frequency", "1", "ascii.stl"});
  EXPECT_EQ(ascii.status, 0) << ascii.out;
  for (const std::string_view key :
       {"vertices", "open_edges", "misoriented_edges", "shells", "normals", "area", "volume",
        "bounding_box", "longest_edge", "max_frequency"}) {
    EXPECT_EQ(json_value(binary.out, key), json_value(ascii.out, key)) << key;
  }
  EXPECT_EQ(json_value(binary.out, "facets_in"), json_value(ascii.out, "facets"));
}

}  // namespace
