// The model check: small models run through stldeck-check and each reported
// fact compared, its command line, and the analysis it is built on checked
// against a plain reference on random meshes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "box_facets.h"
#include "check/facet_collector.h"
#include "check/file_format.h"
#include "check/mesh_facts.h"
#include "check/model_scan.h"
#include "companion/findings.h"
#include "io/console.h"
#include "io/line_reader.h"
#include "support.h"
#include "support_cli.h"

namespace {

using geometry::Point;
using geometry::Triangle;
using testing_support::TempDir;

// ---------------------------------------------------------------------------
// Models

// The unit cube's corners, numbered as in box_facets.h.
Point cube_corner(int number) {
  return {double(number & 1), double((number >> 1) & 1), double((number >> 2) & 1)};
}

std::vector<Triangle> cube(Point offset = {0, 0, 0}) {
  std::vector<Triangle> facets;
  for (const auto& numbers : testing_support::BOX_FACETS) {
    Triangle corners{};
    for (std::size_t k = 0; k < 3; ++k) {
      const Point corner = cube_corner(numbers[k]);
      for (std::size_t axis = 0; axis < 3; ++axis) corners[k][axis] = corner[axis] + offset[axis];
    }
    facets.push_back(corners);
  }
  return facets;
}

std::string number_text(double value) {
  std::array<char, 32> text{};
  return std::string(text.data(), std::to_chars(text.data(), text.data() + 32, value).ptr);
}

std::string vertex_line(const Point& corner) {
  return "      vertex " + number_text(corner[0]) + " " + number_text(corner[1]) + " " +
         number_text(corner[2]);
}

// One facet in the style the converter reads; `vertex_lines` replaces the
// three vertex lines when given.
std::string facet_text(const Triangle& corners, std::string_view facet_line = "  facet",
                       std::vector<std::string> vertex_lines = {}) {
  if (vertex_lines.empty()) {
    for (const Point& corner : corners) vertex_lines.push_back(vertex_line(corner));
  }
  std::string text = std::string(facet_line) + " normal 0 0 0\n    outer loop\n";
  for (const std::string& line : vertex_lines) text += line + "\n";
  return text + "    endloop\n  endfacet\n";
}

std::string stl_text(const std::vector<Triangle>& facets) {
  std::string text = "solid model\n";
  for (const Triangle& corners : facets) text += facet_text(corners);
  return text + "endsolid model\n";
}

std::vector<Triangle> flipped(std::vector<Triangle> facets) {
  for (Triangle& corners : facets) std::swap(corners[1], corners[2]);
  return facets;
}

std::vector<Triangle> flipped(const Triangle& corners) { return flipped(std::vector{corners}); }

std::vector<Triangle> operator+(std::vector<Triangle> a, const std::vector<Triangle>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A cube of edge `size` from `low`.
std::vector<Triangle> cube_of(Point low, double size) {
  std::vector<Triangle> facets = cube();
  for (Triangle& corners : facets) {
    for (Point& corner : corners) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        corner[axis] = low[axis] + size * corner[axis];
      }
    }
  }
  return facets;
}

// The cube with facet `index`'s text replaced.
std::string cube_with_facet(std::size_t index, const std::string& text) {
  std::string stl = "solid model\n";
  const auto facets = cube();
  for (std::size_t f = 0; f < facets.size(); ++f) {
    stl += f == index ? text : facet_text(facets[f]);
  }
  return stl + "endsolid model\n";
}

std::string binary_stl(std::uint32_t facet_count) {
  std::string bytes(80, ' ');
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>((facet_count >> (8 * i)) & 0xff);
  return bytes + std::string(50 * std::size_t{facet_count}, '\0');
}

std::string with_crlf(const std::string& text) {
  std::string crlf;
  for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return crlf;
}

// ---------------------------------------------------------------------------
// Running the command

using CheckRun = testing_support::RunResult;
using testing_support::json_value;
using testing_support::run_check;

constexpr std::string_view ALL_KEYS[] = {"format",
                                         "units",
                                         "facets_in",
                                         "facets",
                                         "converter_report",
                                         "converter_line",
                                         "end_of_solid",
                                         "skipped_facet_lines",
                                         "long_vertex_lines",
                                         "incomplete_vertex_lines",
                                         "nonfinite_facets",
                                         "degenerate_facets",
                                         "duplicate_facets",
                                         "vertices",
                                         "near_coincident_corners",
                                         "merge_tolerance",
                                         "open_edges",
                                         "gap_edges",
                                         "widest_gap",
                                         "nonmanifold_edges",
                                         "misoriented_edges",
                                         "t_junctions",
                                         "min_angle",
                                         "shells",
                                         "inverted_shells",
                                         "cavities",
                                         "cavities_pointing_outward",
                                         "flat_shells",
                                         "normals",
                                         "area",
                                         "volume",
                                         "bounding_box",
                                         "longest_edge",
                                         "smallest_angle",
                                         "smallest_angle_line",
                                         "largest_aspect_ratio",
                                         "largest_aspect_ratio_line",
                                         "wavelength",
                                         "elements_per_wavelength",
                                         "max_frequency",
                                         "locations",
                                         "findings",
                                         "ready"};

// A clean model: what a case does not name is expected as here.
const std::map<std::string_view, std::string> CLEAN_FACTS = {
    {"format", "\"ascii\""},
    {"units", "\"m\""},
    {"converter_report", "0"},
    {"converter_line", "null"},
    {"skipped_facet_lines", "0"},
    {"long_vertex_lines", "0"},
    {"incomplete_vertex_lines", "0"},
    {"nonfinite_facets", "0"},
    {"degenerate_facets", "0"},
    {"duplicate_facets", "0"},
    {"open_edges", "0"},
    {"gap_edges", "0"},
    {"widest_gap", "0"},
    {"nonmanifold_edges", "0"},
    {"misoriented_edges", "0"},
    {"t_junctions", "0"},
    {"end_of_solid", "true"},
    {"near_coincident_corners", "0"},
    {"inverted_shells", "0"},
    {"cavities", "0"},
    {"cavities_pointing_outward", "0"},
    {"flat_shells", "0"},
    {"locations", "{}"},
};

// At 20 Hz the wavelength is 17.15: the unit cube's diagonal of sqrt(2)
// gives 12.1 elements per wavelength, fine enough.
const std::vector<std::string> AT_20_HZ = {"--frequency", "20"};
const std::vector<std::string> AT_DEFAULTS;
// At 1 Hz any of these small models is fine enough.
const std::vector<std::string> AT_1_HZ = {"--frequency", "1"};

struct ModelCase {
  std::string name;
  std::string stl;
  std::vector<std::string> arguments;
  std::map<std::string_view, std::string> expected;
  int status;
};

// The cube with facet `index`'s vertex line `corner` replaced.
std::string cube_with_vertex_line(std::size_t index, std::size_t corner, const std::string& line) {
  const Triangle corners = cube()[index];
  std::vector<std::string> lines;
  for (const Point& each : corners) lines.push_back(vertex_line(each));
  lines[corner] = line;
  return cube_with_facet(index, facet_text(corners, "  facet", lines));
}

std::string cube_in_style(std::string_view first_facet_line, std::string_view second_facet_line,
                          std::string_view other_facet_lines) {
  const auto facets = cube();
  std::string stl = "solid model\n";
  for (std::size_t f = 0; f < facets.size(); ++f) {
    stl += facet_text(facets[f], f == 0   ? first_facet_line
                                 : f == 1 ? second_facet_line
                                          : other_facet_lines);
  }
  return stl + "endsolid model\n";
}

std::vector<ModelCase> model_cases() {
  const auto facets = cube();
  const std::string cube_stl = stl_text(facets);
  const auto all_but_first = std::vector(facets.begin() + 1, facets.end());
  const std::vector<Triangle> zero_area = {
      {{{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}}},  // corners in a line
      {{{0, 0, 0}, {0, 0, 0}, {1, 1, 1}}},    // two corners alike
  };
  const std::vector<Triangle> not_finite = {{{{0, 0, 0}, {std::nan(""), 0, 0}, {9, 9, 9}}}};
  // Cut after the second vertex line of the 12th facet, whose facet line is
  // line 79: the solid line, then 7 lines per facet.
  const std::string cut_stl = cube_stl.substr(0, cube_stl.rfind("      vertex"));
  std::string long_cut = cut_stl;
  long_cut.insert(long_cut.rfind("      vertex 1 1 1") + 18, std::string(80, '0') + "1");
  // The third facet's second vertex line is line 19.
  const std::string bad_coordinate = cube_with_vertex_line(2, 1, "      vertex 1.0.0 0 1");
  // Point (0, 0, 0), so that the mesh stays whole.
  const std::string tabs = cube_with_vertex_line(0, 0, "      vertex\t0\t0\t0");
  // Point (1, 1, 1); cut at column 80, the coordinate still reads as 1.
  const std::string long_line =
      cube_with_vertex_line(2, 2, "      vertex 1 1 1." + std::string(70, '0') + "1");
  const std::string trailing_blanks =
      cube_with_vertex_line(2, 2, "      vertex 1 1 1" + std::string(90, ' '));

  std::vector<ModelCase> cases;
  const auto add = [&](std::string name, std::string stl, std::vector<std::string> arguments,
                       std::map<std::string_view, std::string> expected, int status) {
    cases.push_back(
        {std::move(name), std::move(stl), std::move(arguments), std::move(expected), status});
  };
  add("closed cube, too coarse at the default frequency", cube_stl, AT_DEFAULTS,
      {
          {"facets", "12"},
          {"shells", "1"},
          {"normals", "\"outward\""},
          {"area", "6"},
          {"volume", "1"},
          {"bounding_box", "[[0, 0, 0], [1, 1, 1]]"},
          {"longest_edge", "1.4142135623730951"},
          {"wavelength", "6.283202051657812"},
          {"elements_per_wavelength", "4.442894778292467"},
          {"max_frequency", "40.422937657830964"},
          {"ready", "false"},
      },
      1);
  add("closed cube, fine enough at 20 Hz", cube_stl, AT_20_HZ,
      {
          {"facets", "12"},
          {"wavelength", "17.15"},
          {"elements_per_wavelength", "12.126881297349287"},
          {"ready", "true"},
      },
      0);
  add("CR LF line ends read the same", with_crlf(cube_stl), AT_20_HZ,
      {{"facets", "12"}, {"normals", "\"outward\""}, {"ready", "true"}}, 0);
  add("cube with a hole", stl_text(all_but_first), AT_20_HZ,
      {
          {"facets", "11"},
          {"open_edges", "3"},
          {"shells", "1"},
          {"normals", "\"undefined\""},
          {"ready", "false"},
          {"locations", R"({"open_edges": [2, 44, 58]})"},
      },
      1);
  add("one flipped facet", stl_text(flipped(facets[0]) + all_but_first), AT_20_HZ,
      {
          {"misoriented_edges", "3"},
          {"open_edges", "0"},
          {"normals", "\"undefined\""},
          {"ready", "false"},
          {"locations", R"({"misoriented_edges": [2, 9, 51, 65]})"},
      },
      1);
  add("a facet given twice, the copy reversed: left out of the edges",
      stl_text(facets + flipped(facets[5])), AT_20_HZ,
      {
          {"facets", "13"},
          {"duplicate_facets", "1"},
          {"nonmanifold_edges", "0"},
          {"misoriented_edges", "0"},
          {"volume", "1"},
          {"normals", "\"outward\""},
          {"ready", "false"},
          {"locations", R"({"duplicate_facets": [86]})"},
      },
      1);
  add("zero-area facets", stl_text(facets + zero_area), AT_20_HZ,
      {
          {"facets", "14"},
          {"degenerate_facets", "2"},
          {"open_edges", "0"},
          {"area", "6"},
          {"normals", "\"outward\""},
          {"ready", "false"},
          {"locations", R"({"degenerate_facets": [86, 93]})"},
      },
      1);
  add("two separate cubes", stl_text(facets + cube(Point{3, 0, 0})), AT_20_HZ,
      {
          {"facets", "24"},
          {"shells", "2"},
          {"volume", "2"},
          {"area", "12"},
          {"bounding_box", "[[0, 0, 0], [4, 1, 1]]"},
          {"normals", "\"outward\""},
          {"ready", "true"},
      },
      0);
  add("inward cube: consistent but inside out, not ready", stl_text(flipped(facets)), AT_20_HZ,
      {
          {"normals", "\"inward\""},
          {"volume", "-1"},
          {"misoriented_edges", "0"},
          {"inverted_shells", "1"},
          {"locations", R"({"inverted_shells": [2]})"},
          {"ready", "false"},
      },
      1);
  // A hollow body: a cube of edge 4 with a cavity of edge 2, whose facets
  // (the model's 13th on, at line 2 + 7 x 12) face into the void.
  const auto hollow_outside = cube_of({0, 0, 0}, 4);
  const auto void_facing = flipped(cube_of({1, 1, 1}, 2));
  add("hollow body, its cavity facing the void", stl_text(hollow_outside + void_facing), AT_1_HZ,
      {
          {"shells", "2"},
          {"cavities", "1"},
          {"volume", "56"},
          {"area", "120"},
          {"normals", "\"outward\""},
          {"ready", "true"},
          {"bounding_box", "[[0, 0, 0], [4, 4, 4]]"},
          {"longest_edge", "5.656854249492381"},
      },
      0);
  // Also a body inside a body, both outward: no fluid between them.
  add("hollow body, its cavity pointing outward", stl_text(hollow_outside + cube_of({1, 1, 1}, 2)),
      AT_1_HZ,
      {
          {"shells", "2"},
          {"cavities", "1"},
          {"cavities_pointing_outward", "1"},
          {"volume", "72"},
          {"normals", "\"mixed\""},
          {"locations", R"({"cavities_pointing_outward": [86]})"},
          {"ready", "false"},
      },
      1);
  add("hollow body wholly inside out", stl_text(flipped(hollow_outside) + flipped(void_facing)),
      AT_1_HZ,
      {
          {"shells", "2"},
          {"cavities", "1"},
          {"inverted_shells", "1"},
          {"cavities_pointing_outward", "1"},
          {"volume", "-56"},
          {"normals", "\"inward\""},
          {"locations", R"({"inverted_shells": [2], "cavities_pointing_outward": [86]})"},
          {"ready", "false"},
      },
      1);
  add("a NaN corner takes part in nothing", stl_text(facets + not_finite), AT_20_HZ,
      {
          {"facets", "13"},
          {"nonfinite_facets", "1"},
          {"open_edges", "0"},
          {"bounding_box", "[[0, 0, 0], [1, 1, 1]]"},
          {"ready", "false"},
          {"locations", R"({"nonfinite_facets": [86]})"},
      },
      1);
  add("empty file", "", AT_DEFAULTS,
      {
          {"format", "\"empty\""},
          {"facets", "0"},
          {"shells", "0"},
          {"normals", "\"undefined\""},
          {"area", "0"},
          {"volume", "0"},
          {"bounding_box", "null"},
          {"longest_edge", "0"},
          {"elements_per_wavelength", "null"},
          {"max_frequency", "null"},
          {"ready", "false"},
          {"end_of_solid", "null"},
      },
      1);
  // Read whole: two facets with every corner at the origin.
  add("binary file", binary_stl(2), AT_DEFAULTS,
      {
          {"format", "\"binary\""},
          {"facets_in", "2"},
          {"facets", "0"},
          {"degenerate_facets", "2"},
          {"locations", R"({"degenerate_facets": [1, 2]})"},
          {"ready", "false"},
          {"end_of_solid", "null"},
      },
      1);
  add("another style: no indentation", cube_in_style("facet", "facet", "facet"), AT_DEFAULTS,
      {
          {"facets", "0"},
          {"skipped_facet_lines", "12"},
          {"ready", "false"},
          {"end_of_solid", "null"},
          {"locations", R"({"skipped_facet_lines": [2, 9, 16, 23, 30, 37, 44, 51, 58, 65]})"},
      },
      1);
  add("mixed styles: one blank, and upper case", cube_in_style(" facet", "\t FACET", "  facet"),
      AT_20_HZ,
      {
          {"facets", "10"},
          {"open_edges", "4"},
          {"skipped_facet_lines", "2"},
          {"ready", "false"},
          {"locations", R"({"skipped_facet_lines": [2, 9], "open_edges": [30, 51, 65, 72]})"},
      },
      1);
  add("file cut inside the last facet", cut_stl, AT_20_HZ,
      {
          {"facets", "11"},
          {"open_edges", "3"},
          {"converter_report", "24"},
          {"converter_line", "79"},
          {"ready", "false"},
          {"end_of_solid", "null"},
          {"locations", R"({"open_edges": [16, 30, 72]})"},
      },
      1);
  add("a long vertex line of the facet cut off does not count", long_cut, AT_20_HZ,
      {
          {"facets", "11"},
          {"converter_line", "79"},
          {"open_edges", "3"},
          {"converter_report", "24"},
          {"long_vertex_lines", "0"},
          {"end_of_solid", "null"},
          {"locations", R"({"open_edges": [16, 30, 72]})"},
      },
      1);
  add("a coordinate the converter cannot read", bad_coordinate, AT_20_HZ,
      {
          {"facets", "2"},
          {"open_edges", "4"},
          {"converter_report", "547"},
          {"converter_line", "19"},
          {"ready", "false"},
          {"end_of_solid", "null"},
          {"locations", R"({"open_edges": [2, 9]})"},
      },
      1);
  add("tabs between coordinates", tabs, AT_20_HZ,
      {
          {"facets", "12"},
          {"incomplete_vertex_lines", "1"},
          {"open_edges", "0"},
          {"ready", "false"},
          {"locations", R"({"incomplete_vertex_lines": [4]})"},
      },
      1);
  add("a coordinate running past column 80", long_line, AT_20_HZ,
      {
          {"facets", "12"},
          {"long_vertex_lines", "1"},
          {"ready", "false"},
          {"locations", R"({"long_vertex_lines": [20]})"},
      },
      1);
  add("blanks past column 80 are harmless", trailing_blanks, AT_20_HZ,
      {{"facets", "12"}, {"long_vertex_lines", "0"}, {"ready", "true"}}, 0);
  // Map-grid metres: a 20 m cube hundreds of kilometres from the origin,
  // where a volume summed about the origin is noise of either sign.
  const Point site = {512345.678, 6712345.25, 87.5};
  std::vector<Triangle> at_site = cube();
  for (Triangle& corners : at_site) {
    for (Point& corner : corners) {
      for (std::size_t axis = 0; axis < 3; ++axis) corner[axis] = site[axis] + 20 * corner[axis];
    }
  }
  add("a cube at site coordinates", stl_text(at_site), AT_1_HZ,
      {
          {"facets", "12"},
          {"normals", "\"outward\""},
          {"vertices", "8"},
          {"ready", "true"},
      },
      0);
  add("the same cube inside out", stl_text(flipped(at_site)), AT_1_HZ,
      {
          {"normals", "\"inward\""},
          {"inverted_shells", "1"},
          {"locations", R"({"inverted_shells": [2]})"},
          {"ready", "false"},
      },
      1);
  // Bodies whose volume underflows or overflows keep their orientation.
  for (const double size : {1e-110, 1e190}) {
    std::vector<Triangle> scaled = cube();
    for (Triangle& corners : scaled) {
      for (Point& corner : corners) {
        for (double& value : corner) value *= size;
      }
    }
    const std::string name = size < 1 ? "a cube of edge 1e-110" : "a cube of edge 1e190";
    add(name + " inside out", stl_text(flipped(scaled)), AT_20_HZ,
        {
            {"normals", "\"inward\""},
            {"inverted_shells", "1"},
            {"locations", R"({"inverted_shells": [2]})"},
            {"ready", "false"},
        },
        1);
    add(name, stl_text(scaled), AT_20_HZ,
        {
            {"normals", "\"outward\""},
        },
        size < 1 ? 0 : 1);
  }
  {
    // A square sheet, its two sides split along different diagonals: a
    // closed shell without a repeated facet that encloses nothing.
    const auto pillow = [](Point a, Point b, Point c, Point d) {
      return std::vector<Triangle>{{a, b, c}, {a, c, d}, {b, a, d}, {b, d, c}};
    };
    add("a sheet back to back", stl_text(pillow({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0})),
        AT_20_HZ,
        {
            {"shells", "1"},
            {"normals", "\"undefined\""},
            {"volume", "0"},
            {"flat_shells", "1"},
            {"ready", "false"},
        },
        1);
    add("a sheet back to back, tilted",
        stl_text(pillow({0.1, 0.2, 0.3}, {1.1, 0.7, 0.3}, {1.3, 1.9, 1.0}, {0.3, 1.4, 1.0})),
        AT_20_HZ,
        {
            {"shells", "1"},
            {"normals", "\"undefined\""},
            {"inverted_shells", "0"},
            {"flat_shells", "1"},
            {"ready", "false"},
        },
        1);
  }
  // The second body starts at facet 12, line 2 + 7 x 12.
  add("a small inside-out body beside a large one",
      stl_text(facets + flipped(cube(Point{3, 0, 0}))), AT_20_HZ,
      {
          {"facets", "24"},
          {"shells", "2"},
          {"normals", "\"mixed\""},
          {"inverted_shells", "1"},
          {"locations", R"({"inverted_shells": [86]})"},
          {"ready", "false"},
      },
      1);
  {
    // One corner written a unit in the last place apart in one facet.
    std::vector<Triangle> gap = facets;
    gap[4][1][0] = std::nextafter(gap[4][1][0], 2.0);
    add("a one-ulp gap is no hole", stl_text(gap), AT_20_HZ,
        {
            {"vertices", "8"},
            {"near_coincident_corners", "1"},
            {"open_edges", "0"},
            {"ready", "true"},
        },
        0);
  }
  {
    // Corners collinear in decimal: the cross product is rounding noise.
    const std::vector<Triangle> sliver = {{{{0.1, 0.2, 0.3}, {0.2, 0.4, 0.6}, {0.7, 1.4, 2.1}}}};
    add("a sliver is degenerate", stl_text(facets + sliver), AT_20_HZ,
        {
            {"degenerate_facets", "1"},
            {"locations", R"({"degenerate_facets": [86]})"},
            {"ready", "false"},
        },
        1);
  }
  const std::string no_end = cube_stl.substr(0, cube_stl.rfind("endsolid"));
  add("cut after a whole facet: no endsolid", no_end, AT_20_HZ,
      {
          {"end_of_solid", "false"},
          {"ready", "false"},
      },
      1);
  add("endsolid indented, blank lines after it", no_end + "\t ENDSOLID model\r\n\n  \n", AT_20_HZ,
      {
          {"end_of_solid", "true"},
          {"ready", "true"},
      },
      0);
  add("text after endsolid", no_end + "endsolid model\nsolid more\n", AT_20_HZ,
      {
          {"end_of_solid", "false"},
          {"ready", "false"},
      },
      1);
  {
    const std::vector<Triangle> huge = {{{{-1e308, 0, 0}, {1e308, 0, 0}, {0, 1e308, 0}}}};
    add("an edge longer than the largest double", stl_text(huge), AT_DEFAULTS,
        {
            {"facets", "1"},
            {"longest_edge", "null"},
            {"open_edges", "3"},
            {"locations", R"({"open_edges": [2]})"},
            {"normals", "\"undefined\""},
            {"elements_per_wavelength", "null"},
            {"ready", "false"},
        },
        1);
  }
  return cases;
}

// The findings list says what the count keys and the locations say: each
// kind with a count above zero once, with that count and those lines, and
// no other.
void expect_findings_as_counted(const std::string& json) {
  const std::string findings = json_value(json, "findings");
  const std::string locations = json_value(json, "locations");
  std::size_t listed = 0;
  for (const companion::FindingKind& kind : companion::FINDING_KINDS) {
    SCOPED_TRACE(kind.name);
    const std::string count = json_value(json, kind.name);
    const std::string entry = "{\"kind\": \"" + std::string(kind.name) + "\"";
    if (kind.name == "wavelength" || count == "<missing>") continue;
    if (count == "0") {
      EXPECT_EQ(findings.find(entry), std::string::npos) << findings;
      continue;
    }
    ++listed;
    const std::size_t at = locations.find("\"" + std::string(kind.name) + "\": [");
    const std::string lines =
        at == std::string::npos
            ? "[]"
            : locations.substr(locations.find('[', at),
                               locations.find(']', at) - locations.find('[', at) + 1);
    EXPECT_NE(findings.find(entry + ", \"count\": " + count + ", \"lines\": " + lines + "}"),
              std::string::npos)
        << findings;
  }
  std::size_t entries = 0;
  for (std::size_t at = findings.find("{\"kind\""); at != std::string::npos;
       at = findings.find("{\"kind\"", at + 1)) {
    ++entries;
  }
  const bool coarse = findings.find("\"wavelength\"") != std::string::npos;
  EXPECT_EQ(entries, listed + (coarse ? 1 : 0)) << findings;
  // Too coarse: fewer than 6 elements per wavelength, or an edge too long
  // to measure at all.
  const std::string per_wavelength = json_value(json, "elements_per_wavelength");
  EXPECT_EQ(coarse,
            (per_wavelength != "null" && std::stod(per_wavelength) < 6.0) ||
                (json_value(json, "longest_edge") == "null" && json_value(json, "facets") != "0"))
      << json;
}

TEST(ModelCheck, ReportsEachFactOfSmallModels) {
  for (const ModelCase& c : model_cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("STL_Model.stl", c.stl);
    std::vector<std::string> arguments = {"--json"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const CheckRun run = run_check(dir, arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, "");
    for (const std::string_view key : ALL_KEYS) {
      SCOPED_TRACE(key);
      const std::string value = json_value(run.out, key);
      EXPECT_NE(value, "<missing>");
      if (const auto expected = c.expected.find(key); expected != c.expected.end()) {
        EXPECT_EQ(value, expected->second);
      } else if (const auto clean = CLEAN_FACTS.find(key); clean != CLEAN_FACTS.end()) {
        EXPECT_EQ(value, clean->second);
      }
    }
    EXPECT_TRUE(run.out.starts_with("{\n") && run.out.ends_with("\n}\n")) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), std::ssize(ALL_KEYS) + 2);
    expect_findings_as_counted(run.out);
  }
}

// The summary of a model, whole: the verdict, the figures, and the findings
// with what to do.
void expect_summary(const std::string& stl, const std::vector<std::string>& arguments, int status,
                    std::string_view expected) {
  TempDir dir;
  dir.write("STL_Model.stl", stl);
  const CheckRun run = run_check(dir, arguments);
  EXPECT_EQ(run.status, status);
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.err, "");
}

TEST(ModelCheck, SummarySaysWhatToDo) {
  SCOPED_TRACE("ready");
  expect_summary(stl_text(cube()), AT_20_HZ, 0, R"(STL_Model.stl: ready for the solver
  format                  ascii
  facets                  12
  vertices                8
  shells                  1, normals outward
  area                    6
  volume                  1
  bounding box            0 0 0 to 1 1 1
  longest edge            1.41421
  shape                   smallest angle 45 degrees (line 2), largest aspect ratio 1.73205 (line 2)
  units                   metres (for a model in other units give --units, e.g. --units mm)
  wavelength              17.15 (343 / 20 Hz)
  elements per wavelength 12.1269 (at least 6)
  highest frequency       40.4229 Hz
)");
}

TEST(ModelCheck, SummaryOfACoarseMesh) {
  expect_summary(stl_text(cube()), AT_DEFAULTS, 1, R"(STL_Model.stl: not ready for the solver
  format                  ascii
  facets                  12
  vertices                8
  shells                  1, normals outward
  area                    6
  volume                  1
  bounding box            0 0 0 to 1 1 1
  longest edge            1.41421
  shape                   smallest angle 45 degrees (line 2), largest aspect ratio 1.73205 (line 2)
  units                   metres (for a model in other units give --units, e.g. --units mm)
  wavelength              6.2832 (343 / 54.59 Hz)
  elements per wavelength 4.44289 (at least 6)
  highest frequency       40.4229 Hz
findings:
  - 12 facets too coarse for the wavelength (4.44289 elements per wavelength at 54.59 Hz where 6 are wanted): refine to edges of at most 1.0472 m, or use the mesh up to 40.4229 Hz (facets at lines 2, 9, 16, 23, 30, 37, 44, 51, 58, 65, ...)
)");
}

TEST(ModelCheck, SummaryNamesWhereFindingsLie) {
  // A cube with a hole (facet 0 missing), beside a second cube inside out
  // whose first facet is the model's 12th, at line 2 + 7 x 11; a model in
  // millimetres, named the older way by a sound speed in millimetres per
  // second: stated in metres, and not ready as it is.
  const auto facets = cube();
  const std::vector<Triangle> open_cube(facets.begin() + 1, facets.end());
  expect_summary(stl_text(open_cube + flipped(cube(Point{3, 0, 0}))),
                 {"--sound-speed", "343000", "--frequency", "20000"}, 1,
                 R"(STL_Model.stl: not ready for the solver
  format                  ascii
  facets                  23
  vertices                16
  shells                  2 (1 inside out), normals undefined
  area                    1.15e-05
  volume                  0
  bounding box            0 0 0 to 0.004 0.001 0.001
  longest edge            0.00141421
  shape                   smallest angle 45 degrees (line 2), largest aspect ratio 1.73205 (line 2)
  units                   sound speed 343000: model units taken as millimetres (use --units mm), stated in metres (x 0.001)
  wavelength              0.01715 (343 / 20000 Hz)
  elements per wavelength 12.1269 (at least 6)
  highest frequency       40422.9 Hz
findings:
  - 3 open edges (used by one facet): the surface has holes; close them (facets at lines 2, 44, 58)
  - 1 body inside out (a closed shell that no other encloses, or that lies in a cavity, with a negative volume): its normals point into its material; stldeck-prepare turns it outward (first facets at line 79)
  - the model is in millimetres: stldeck writes the deck in the model's own units and the solver takes them for metres; stldeck-prepare --units mm in.stl out.stl writes it in metres
)");
}

TEST(ModelCheck, SummaryOfFilesTheConverterCannotUse) {
  {
    SCOPED_TRACE("binary");
    expect_summary(binary_stl(1), AT_DEFAULTS, 1, R"(STL_Model.stl: not ready for the solver
  format                  binary
  facets                  1 (read whole; stldeck reads 0)
  vertices                1
  shells                  0, normals undefined
  area                    0
  volume                  0
  bounding box            0 0 0 to 0 0 0
  longest edge            0
  shape                   smallest angle 0 degrees (line 1), largest aspect ratio inf (line 1)
  units                   metres (for a model in other units give --units, e.g. --units mm)
  wavelength              6.2832 (343 / 54.59 Hz)
findings:
  - stldeck reads 0 of this 1 facet (binary STL): run stldeck-prepare in.stl out.stl, which writes them as ASCII STL in the style it reads
  - 1 degenerate facet (two corners one vertex, a sliver whose area is next to nothing, or a needle with an angle below 0.5 degrees): stldeck-prepare swaps each with its neighbour across its longest side, or collapses its shortest side, which keeps the surface closed (at record 1)
)");
  }
  {
    SCOPED_TRACE("foreign style, cut inside a facet");
    expect_summary("solid x\nfacet normal 0 0 1\nendfacet\n  facet normal 0 0 1\n    outer loop\n",
                   AT_DEFAULTS, 1, R"(STL_Model.stl: not ready for the solver
  format                  ascii
  facets                  0 (the converter stops with report 24 at line 4)
  vertices                0
  shells                  0, normals undefined
  area                    0
  volume                  0
  longest edge            0
  units                   metres (for a model in other units give --units, e.g. --units mm)
  wavelength              6.2832 (343 / 54.59 Hz)
findings:
  - 1 skipped facet line in another style (at line 2)
  - the file ends inside the facet that starts at line 4: the converter stops with report 24; complete or remove that facet
)");
  }
}

TEST(ModelCheck, CommandLine) {
  // Arguments are split at blanks. For status 0 and 1 the expected text
  // starts standard output; for status 2 it is found in the one line on
  // standard error.
  struct Case {
    std::string_view arguments;
    int status;
    std::string_view expected;
  };
  constexpr Case cases[] = {
      {"--help", 0, "usage: stldeck-check"},
      {"model.stl --frequency=20", 0, "model.stl: ready"},
      {"--sound-speed 1500 -- model.stl", 0, "model.stl: ready"},
      {"--elements-per-wavelength 4 model.stl", 0, "model.stl: ready"},
      {"model.stl", 1, "model.stl: not ready"},
      {"--fast", 2, "unknown option '--fast'"},
      {"--frequency", 2, "--frequency needs a value"},
      {"--frequency abc", 2, "positive number, not 'abc'"},
      {"--frequency 0", 2, "positive number, not '0'"},
      {"--sound-speed -343", 2, "--sound-speed needs a positive"},
      {"--frequency inf", 2, "positive number, not 'inf'"},
      {"--frequency 5x", 2, "positive number, not '5x'"},
      {"model.stl other.stl", 2, "only one FILE"},
      {"--frequency +20 model.stl", 0, "model.stl: ready"},
      {"--frequency=+20 model.stl", 0, "model.stl: ready"},
      {"--frequency ++20", 2, "positive number, not '++20'"},
      {"--frequency +-20", 2, "positive number, not '+-20'"},
      {"--frequency 1e-310", 2, "out of range together"},
      {"--sound-speed 1e-300 --frequency 1e300", 2, "out of range together"},
      {"--sound-speed 1e300 --elements-per-wavelength 1e-300", 2, "out of range together"},
      {"--view", 2, "--view needs a value"},
      {"--view a.plt --view b.plt model.stl", 2, "--view is given twice"},
      {"--frequency 20 --frequency=30 model.stl", 2, "--frequency is given twice"},
      {"--json --json model.stl", 2, "--json is given twice"},
      {"", 2, "cannot open STL_Model.stl"},
      {"missing.stl", 2, "cannot open missing.stl"},
      {"folder", 2, "cannot read folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::vector<std::string> arguments;
    for (std::size_t at = 0; at < c.arguments.size();) {
      const std::size_t end = std::min(c.arguments.find(' ', at), c.arguments.size());
      arguments.emplace_back(c.arguments.substr(at, end - at));
      at = end + 1;
    }
    TempDir dir;
    dir.write("model.stl", stl_text(cube()));
    std::filesystem::create_directory(dir / "folder");
    const CheckRun run = run_check(dir, arguments);
    EXPECT_EQ(run.status, c.status);
    if (c.status == 2) {
      EXPECT_TRUE(run.err.starts_with("stldeck-check: ")) << run.err;
      EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
      EXPECT_EQ(run.out, "");
    } else {
      EXPECT_TRUE(run.out.starts_with(c.expected)) << run.out;
      EXPECT_EQ(run.err, "");
    }
  }
}

// ---------------------------------------------------------------------------
// The parts underneath

TEST(FileFormat, BinaryOnlyWhenTheSizeMatchesTheCount) {
  struct Case {
    std::uint64_t size;
    std::uint32_t count;
    check::FileFormat expected;
  };
  constexpr Case cases[] = {
      {0, 0, check::FileFormat::empty},
      {83, 0, check::FileFormat::ascii},
      {84, 0, check::FileFormat::binary},
      {134, 1, check::FileFormat::binary},
      {135, 1, check::FileFormat::ascii},
      {133, 1, check::FileFormat::ascii},
      {84 + 50 * 0xffffffffULL, 0xffffffff, check::FileFormat::binary},
      {134, 0xffffffff, check::FileFormat::ascii},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<unsigned char> head(std::min<std::uint64_t>(c.size, 84), 'x');
    for (std::size_t i = 0; i < 4 && 80 + i < head.size(); ++i) {
      head[80 + i] = static_cast<unsigned char>(c.count >> (8 * i));
    }
    EXPECT_EQ(check::classify_format(c.size, head), c.expected);
  }
}

TEST(ModelCheck, RefusesWhatIsNotARegularFileAtOnce) {
  // A pipe without a writer would block an open for reading for ever.
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe.stl").c_str(), 0600), 0);
  struct Case {
    std::string path;
    std::string_view expected;
  };
  const Case cases[] = {
      {"pipe.stl", "cannot read pipe.stl: not a regular file"},
      {"/dev/null", "cannot read /dev/null: not a regular file"},
      {".", "cannot read .: it is a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const CheckRun run = run_check(dir, {c.path});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "stldeck-check: " + std::string(c.expected) + "\n");
    EXPECT_EQ(run.out, "");
  }
}

// A report that cannot be written is no success: one line says why, with
// the system's reason, and the status is that of an unusable run.
TEST(ModelCheck, RefusedReportEndsWithOneLine) {
  TempDir dir;
  dir.write("STL_Model.stl", stl_text(cube()));
  for (const char* arguments : {"--frequency 20 STL_Model.stl", "--json STL_Model.stl", "--help"}) {
    SCOPED_TRACE(arguments);
    const std::string command = "cd '" + dir.path().string() + "' && '" STLDECK_CHECK_EXE "' " +
                                arguments + " > /dev/full 2> check.err";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(dir.read("check.err"),
              "stldeck-check: cannot write the report: No space left on device\n");
  }
}

TEST(ModelCheck, OutOfMemoryEndsWithOneLine) {
  if (testing_support::sanitized_build())
    GTEST_SKIP() << "the sanitizers reserve the address space";
  TempDir dir;
  dir.write("STL_Model.stl", stl_text(cube()));
  {
    // Enough for the cube: the limit itself is no fault.
    const CheckRun run = run_check(dir, {"--frequency", "20"}, {.address_space_limit = 64 << 20});
    EXPECT_EQ(run.status, 0) << run.err;
  }
  // A model of 300,000 facets: its facet table alone needs more.
  const std::string model = (dir / "big.stl").string();
  const std::string command = std::string(STLDECK_MAKE_MODEL) + " 300000 " + model;
  ASSERT_EQ(std::system(command.c_str()), 0);
  const CheckRun run = run_check(dir, {"big.stl"}, {.address_space_limit = 48 << 20});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "stldeck-check: not enough memory to check the model\n");
  EXPECT_EQ(run.out, "");
}

// The room for the facets is sized by the file's bytes, up to the most
// facets the converter takes: a file made large by one long line holds
// few facets, and the check must not refuse it under a limit they fit in.
TEST(ModelCheck, LargeFileOfFewFacetsFitsUnderALimit) {
  if (testing_support::sanitized_build())
    GTEST_SKIP() << "the sanitizers reserve the address space";
  TempDir dir;
  dir.write("STL_Model.stl", "solid x ");
  std::filesystem::resize_file(dir / "STL_Model.stl", 200'000'000);
  std::ofstream(dir / "STL_Model.stl", std::ios::binary | std::ios::app) << "\n"
                                                                         << stl_text(cube());
  const CheckRun run = run_check(dir, {"--json", "--frequency", "20", "STL_Model.stl"},
                                 {.address_space_limit = 64 << 20});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(json_value(run.out, "facets"), std::to_string(cube().size()));
}

TEST(ModelCheck, FindingsViewIsWrittenWholeOrNotAtAll) {
  TempDir dir;
  const std::string model = stl_text(cube());
  dir.write("model.stl", model);
  std::filesystem::create_directory(dir / "folder");
  {
    SCOPED_TRACE("the view is the model, under another name");
    std::filesystem::create_hard_link(dir / "model.stl", dir / "link.stl");
    const CheckRun run = run_check(dir, {"--view", "link.stl", "model.stl"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "stldeck-check: the view link.stl is the model itself: name another file\n");
    EXPECT_EQ(dir.read("model.stl"), model);
  }
  {
    SCOPED_TRACE("the view cannot replace a folder");
    const CheckRun run = run_check(dir, {"--view", "folder", "model.stl"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("stldeck-check: cannot write the view folder: ")) << run.err;
  }
  {
    SCOPED_TRACE("written");
    const CheckRun run = run_check(dir, {"--view", "view.plt", "--frequency", "20", "model.stl"});
    EXPECT_EQ(run.status, 0);
    const std::string view = dir.read("view.plt");
    EXPECT_TRUE(view.starts_with("TITLE = ")) << view;
    EXPECT_NE(view.find("ZONE T=\"model\", N=36, E=12,"), std::string::npos) << view;
    EXPECT_EQ(view.find("ZONE T=\"", view.find("ZONE T=\"") + 1), std::string::npos);
  }
  // Only the model, the link, the folder and the view: no temporary file left
  // (the runner captures the streams elsewhere).
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"folder", "link.stl", "model.stl", "view.plt"}));
}

// A view begins with the model's zone; a file without any zone fails its
// readers, so a model without a finite facet gets no view, and says so.
TEST(ModelCheck, NoViewWithoutAFiniteFacet) {
  const std::string_view nan_facet =
      "solid x\n  facet normal 0 0 1\n    outer loop\n      vertex nan 0 0\n"
      "      vertex 1 0 0\n      vertex 0 1 0\n    endloop\n  endfacet\nendsolid x\n";
  struct Case {
    std::string_view name;
    std::string_view model;
  };
  const Case cases[] = {
      {"no facet", "solid x\nendsolid x\n"},
      {"empty file", ""},
      {"only a NaN corner facet", nan_facet},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("model.stl", std::string(c.model));
    dir.write("view.plt", "an older view\n");
    const CheckRun run = run_check(dir, {"--view", "view.plt", "model.stl"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("  - no view written: the model has no finite facet"), std::string::npos)
        << run.out;
    EXPECT_EQ(dir.read("view.plt"), "an older view\n");
    EXPECT_EQ(run.err, "");
  }
}

// The names in a folder, sorted: what a run left behind.
std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The view replaces only a regular file of its own: a device, a pipe or a
// folder is refused, and a symbolic link is followed to the file it names,
// which is replaced while the link stays.
TEST(ModelCheck, FindingsViewReplacesOnlyARegularFile) {
  struct Case {
    std::string_view made;  // what the view's name is before the run
    int status;
    std::string_view error;  // standard error after "cannot write the view view.plt: "
  };
  constexpr Case cases[] = {
      {"pipe", 2, "not a regular file"},
      {"device", 2, "not a regular file"},
      {"link to /dev/null", 2, "not a regular file"},
      {"link to file", 0, ""},
      {"link to missing file", 2, "it is a symbolic link to a file that does not exist"},
      {"folder", 2, "it is a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.made);
    TempDir dir;
    dir.write("model.stl", stl_text(cube()));
    const auto view = dir / "view.plt";
    if (c.made == "pipe") {
      ASSERT_EQ(::mkfifo(view.c_str(), 0600), 0);
    } else if (c.made == "device") {
      // A node for the null device of its own, where the test may make one.
      if (::mknod(view.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) continue;
    } else if (c.made == "link to /dev/null") {
      std::filesystem::create_symlink("/dev/null", view);
    } else if (c.made == "link to file") {
      dir.write("target.plt", "old view\n");
      std::filesystem::create_symlink("target.plt", view);
    } else if (c.made == "link to missing file") {
      std::filesystem::create_symlink("missing.plt", view);
    } else {
      std::filesystem::create_directory(view);
    }
    const auto type_before = std::filesystem::symlink_status(view).type();
    const CheckRun run = run_check(dir, {"--frequency", "20", "--view", "view.plt", "model.stl"});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.error.empty() ? ""
                                       : "stldeck-check: cannot write the view view.plt: " +
                                             std::string(c.error) + "\n");
    EXPECT_EQ(std::filesystem::symlink_status(view).type(), type_before);
    if (c.made == "link to file") {
      EXPECT_TRUE(dir.read("target.plt").starts_with("TITLE = ")) << dir.read("target.plt");
    }
    if (c.status == 2) {
      EXPECT_EQ(run.out, "");
    }
    for (const std::string& name : names_in(dir.path())) {
      EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
    }
  }
}

// Standard output or standard error that goes into the model or the view
// (`stldeck-check --json m.stl >> m.stl`) is refused before anything is
// written: the model keeps its bytes. A refusal is told on standard error
// unless that is the file itself.
TEST(ModelCheck, RefusesAStandardStreamIntoTheModelOrTheView) {
  struct Case {
    std::string_view into;  // the file the stream appends to
    bool standard_error;    // which stream: standard output or standard error
    std::string_view error;
  };
  constexpr Case cases[] = {
      {"model.stl", false,
       "stldeck-check: standard output goes into model.stl, the model: send it elsewhere\n"},
      {"view.plt", false,
       "stldeck-check: standard output goes into view.plt, the view: send it elsewhere\n"},
      {"model.stl", true, ""},
      {"view.plt", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.into) + (c.standard_error ? " (standard error)" : ""));
    TempDir dir;
    const std::string model = stl_text(cube());
    dir.write("model.stl", model);
    dir.write("view.plt", "old view\n");
    testing_support::RunOptions options{
        .arguments = {"--json", "--frequency", "20", "--view", "view.plt", "model.stl"},
        .timeout_seconds = 20};
    (c.standard_error ? options.stderr_into : options.stdout_into) = std::string(c.into);
    const CheckRun run = testing_support::run_program(STLDECK_CHECK_EXE, dir.path(), options);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.error);
    EXPECT_EQ(dir.read("model.stl"), model);
    EXPECT_EQ(dir.read("view.plt"), "old view\n");
  }
}

// Streams that are no regular file are never taken for the model: a
// terminal, a pipe, /dev/null.
TEST(ModelCheck, StandardStreamsThatAreNoFileRunAsUsual) {
  TempDir dir;
  dir.write("model.stl", stl_text(cube()));
  const std::vector<std::string> arguments = {"--frequency", "20", "--view", "view.plt",
                                              "model.stl"};
  EXPECT_EQ(run_check(dir, arguments, {.on_terminal = true}).status, 0);
  for (const char* streams : {"> /dev/null 2> /dev/null", "2>&1 | cat > /dev/null"}) {
    SCOPED_TRACE(streams);
    const std::string command = "cd '" + dir.path().string() +
                                "' && { '" STLDECK_CHECK_EXE
                                "' --frequency 20 --view view.plt model.stl; echo $? > status; } " +
                                streams;
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(dir.read("status"), "0\n");
  }
}

// Under a limit on the size of files, a view that outgrows it is no
// signal's victim: the run says which file was too large, ends with
// status 2, and the old view stays with nothing left beside it.
TEST(ModelCheck, FileSizeLimitEndsWithOneLine) {
  TempDir dir;
  dir.write("model.stl", stl_text(cube()));
  dir.write("view.plt", "old view\n");
  const CheckRun run = testing_support::run_program(
      STLDECK_CHECK_EXE, dir.path(),
      {.arguments = {"--frequency", "20", "--view", "view.plt", "model.stl"},
       .file_size_limit = 200,
       .file_size_signal = true,
       .timeout_seconds = 20});
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "stldeck-check: cannot write the view view.plt: File too large\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(dir.read("view.plt"), "old view\n");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"model.stl", "view.plt"}));
}

TEST(EscapeForTerminal, ControlsAndInvalidUtf8) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"plain/path.stl", "plain/path.stl"},
      {"a\x1b[31mred\a", "a\\033[31mred\\007"},  // ESC and BEL
      {std::string_view("nul\0tab\t", 8), "nul\\000tab\\011"},
      {"del\x7f", "del\\177"},
      {"c1 raw \x9b", "c1 raw \\233"},  // raw C1: invalid UTF-8 too
      {"c1 utf8 \xc2\x9b"
       "1m",
       "c1 utf8 \\302\\2331m"},                                      // U+009B, the CSI
      {"\xc2\x80\xc2\x9f\xc2\xa0", "\\302\\200\\302\\237\xc2\xa0"},  // U+00A0 kept
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"},
      {"\xc0\xaf", "\\300\\257"},                    // overlong
      {"\xed\xa0\x80", "\\355\\240\\200"},           // surrogate
      {"\xf4\x90\x80\x80", "\\364\\220\\200\\200"},  // beyond U+10FFFF
      {"cut \xe2\x82", "cut \\342\\202"},            // sequence cut short
      {"\xff\xfe", "\\377\\376"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(io::escaped_for_terminal(c.text), c.expected);
  }
}

TEST(ModelCheck, PathsOnATerminalAreEscaped) {
  TempDir dir;
  const std::string name =
      "bell\a\x1b]0;title\x07\xc2\x9b"
      "2J.stl";
  const std::string shown = "bell\\007\\033]0;title\\007\\302\\2332J.stl";
  dir.write(name, stl_text(cube()));
  {
    SCOPED_TRACE("summary");
    const CheckRun run = run_check(dir, {"--frequency", "20", name}, {.on_terminal = true});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with(shown + ": ready for the solver")) << run.out;
  }
  {
    SCOPED_TRACE("error");
    const CheckRun run = run_check(dir,
                                   {"missing\x1b"
                                    "c.stl"},
                                   {.on_terminal = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("stldeck-check: cannot open missing\\033c.stl:")) << run.err;
  }
  {
    SCOPED_TRACE("unknown option");
    const CheckRun run = run_check(dir, {"--\x9b"}, {.on_terminal = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("stldeck-check: unknown option '--\\233'")) << run.err;
  }
  {
    SCOPED_TRACE("not a terminal: the bytes as given");
    const CheckRun run = run_check(dir, {"--frequency", "20", name});
    EXPECT_TRUE(run.out.starts_with(name + ": ready for the solver")) << run.out;
  }
}

TEST(ModelScan, StopsWhereTheConverterRefusesAFacet) {
  TempDir dir;
  const auto facets = cube();
  dir.write("model.stl", stl_text({facets[0], facets[1], facets[2]}));
  const int fd = ::open((dir / "model.stl").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  io::LineReader stl(fd, "model.stl");
  const check::ModelScan scan = check::scan_model(stl, 3, 2);
  const reading::ScanOutcome& outcome = scan.outcome;
  EXPECT_EQ(outcome.end, reading::ScanEnd::too_many_facets);
  EXPECT_EQ(outcome.facets, 2);
  EXPECT_EQ(outcome.line_number, 16);  // the third facet's line
  EXPECT_EQ(scan.facets.size(), 2U);
  EXPECT_EQ(check::converter_report(outcome.end), 250);
}

TEST(ModelScan, ConverterReports) {
  struct Case {
    reading::ScanEnd end;
    int report;
  };
  constexpr Case cases[] = {
      {reading::ScanEnd::clean, 0},
      {reading::ScanEnd::end_of_file_in_facet, 24},
      {reading::ScanEnd::read_failure, 39},
      {reading::ScanEnd::vertex_read_failure, 39},
      {reading::ScanEnd::invalid_coordinate, 547},
      {reading::ScanEnd::too_many_facets, 250},
  };
  for (const Case& c : cases) EXPECT_EQ(check::converter_report(c.end), c.report);
}

// The two programs on the same files: the check must see the facets the
// converter converts, and name the report the converter ends with (the
// table from scan endings to reports is theirs in common). The converter's
// status is the report's low 8 bits; a vertex line that cannot be read is
// the one ending where the two differ on purpose (the converter's stop
// with status 1, a read failure for the check), and cannot be made from a
// plain file. A line far longer than memory allows to keep whole, under a
// limit on the address space, must cost neither program its facets.
TEST(BothPrograms, SeeTheSameFacetsAndEndings) {
  const std::string one = testing_support::data_file("one_facet_deck.stl");
  const std::string facet_only = one.substr(one.find("  facet"));
  const std::string body = facet_only.substr(0, facet_only.find("endsolid"));
  struct Case {
    const char* name;
    std::string stl;
    // Bytes of a first line of zeros (a hole in the file, written in no
    // time) put before the text, and the limit both programs run under.
    std::uint64_t long_line = 0;
    unsigned long long address_space_limit = 0;
    const char* facets = nullptr;  // when set: a clean end with this many facets
  };
  std::vector<Case> cases;
  cases.push_back({"empty file", ""});
  cases.push_back({"one facet", one});
  cases.push_back({"exporter model", testing_support::data_file("admesh_cube_minus_sphere.stl")});
  cases.push_back({"cut inside the second facet", "solid x\n" + body + body.substr(0, 60)});
  cases.push_back({"coordinate that is not a number",
                   "solid x\n" + body +
                       "  facet normal 0 0 1\n    outer loop\n"
                       "      vertex 1 2 3\n      vertex 1 x 3\n      vertex 1 2 3\n"
                       "    endloop\n  endfacet\n"});
  cases.push_back({"overflowing coordinate", "solid x\n" + body + body +
                                                 "  facet normal 0 0 1\n"
                                                 "    outer loop\n      vertex 1e999 2 3\n"});
  cases.push_back(
      {"long line before the facets", "solid x " + std::string(3 << 20, 'x') + "\n" + body + body});
  if (!testing_support::sanitized_build()) {  // the sanitizers reserve the address space
    cases.push_back({.name = "line of 600 MB before a facet, under a limit of 1.5 GB",
                     .stl = "\n" + body + "endsolid x\n",
                     .long_line = 600'000'000,
                     .address_space_limit = 1'500'000'000,
                     .facets = "1"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.long_line == 0) {
      dir.write("STL_Model.stl", c.stl);
    } else {
      dir.write("STL_Model.stl", "solid x ");
      std::filesystem::resize_file(dir / "STL_Model.stl", c.long_line);
      std::ofstream(dir / "STL_Model.stl", std::ios::binary | std::ios::app) << c.stl;
    }
    const testing_support::RunResult converted =
        testing_support::run_converter(dir.path(), {.address_space_limit = c.address_space_limit});
    const CheckRun checked =
        run_check(dir, {"--json", "STL_Model.stl"}, {.address_space_limit = c.address_space_limit});
    ASSERT_NE(checked.status, 2) << checked.err;
    const int report = std::stoi(json_value(checked.out, "converter_report"));
    EXPECT_EQ(converted.status, report & 0xFF) << converted.err;
    if (c.facets != nullptr) {
      EXPECT_EQ(report, 0);
      EXPECT_EQ(json_value(checked.out, "facets"), c.facets);
    }
    if (report == 0) {
      const std::string facets = json_value(checked.out, "facets");
      EXPECT_NE(converted.out.find("m =" + std::string(12 - facets.size(), ' ') + facets + "\r\n"),
                std::string::npos)
          << converted.out;
    } else {
      EXPECT_TRUE(converted.err.starts_with("forrtl: severe (" + std::to_string(report) + ")"))
          << converted.err;
    }
  }
}

}  // namespace
