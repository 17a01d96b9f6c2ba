// Tests of stldeck-prepare: the reading of every common STL form, the
// coordinates it writes, the refinement checked from the outside, each
// mending step on small models whose truth is known by construction, and
// the command as a user runs it (with stldeck and stldeck-check on what it
// writes, and admesh's own normalisation as a second opinion).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "check/mesh_facts.h"
#include "prepare/coordinate_text.h"
#include "prepare/refine.h"
#include "prepare/report.h"
#include "reading/coordinate.h"
#include "reading/model_reader.h"
#include "support.h"
#include "support_cli.h"
#include "support_models.h"

namespace {

using testing_support::converter_style;

using geometry::Point;
using geometry::Triangle;
using testing_support::TempDir;
using Facets = std::vector<Triangle>;

// ---------------------------------------------------------------------------
// Models and their files

// An axis-aligned box from `low` to `high`, its twelve facets turned
// outward (counter-clockwise seen from outside).
Facets box(Point low, Point high) {
  const auto corner = [&](int number) {
    return Point{(number & 1) != 0 ? high[0] : low[0], (number & 2) != 0 ? high[1] : low[1],
                 (number & 4) != 0 ? high[2] : low[2]};
  };
  constexpr int QUADS[6][4] = {
      {0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5},
  };
  Facets facets;
  for (const auto& q : QUADS) {
    facets.push_back({corner(q[0]), corner(q[1]), corner(q[2])});
    facets.push_back({corner(q[0]), corner(q[2]), corner(q[3])});
  }
  return facets;
}

Facets unit_cube() { return box({0, 0, 0}, {1, 1, 1}); }

Triangle flipped(const Triangle& facet) { return {facet[0], facet[2], facet[1]}; }

Facets operator+(Facets a, const Facets& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Facets all_flipped(Facets facets) {
  for (Triangle& facet : facets) facet = flipped(facet);
  return facets;
}

std::string shortest(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// Another exporter's style: upper case, tabs, CR LF, "+" signs and E
// exponents, the facets split over two solids, no line end at the end.
std::string foreign_style(const Facets& facets) {
  const auto number = [](double value) {
    char text[40];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 16).ptr;
    std::string written(text, end);
    for (char& c : written) {
      if (c == 'e') c = 'E';
    }
    return std::signbit(value) ? written : "+" + written;
  };
  std::string text = "SOLID Bracket A\r\n";
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (f == facets.size() / 2) text += "ENDSOLID Bracket A\r\n\r\nsolid bracket_b\r\n";
    text += "\tFACET  NORMAL 0.0 0.0 1.0E+0\r\n\t\tOUTER LOOP\r\n";
    for (const Point& c : facets[f]) {
      text += "\t\t\tVERTEX\t" + number(c[0]) + "  " + number(c[1]) + "\t " + number(c[2]) + "\r\n";
    }
    text += "\t\tENDLOOP\r\n\tENDFACET\r\n";
  }
  return text + "endsolid bracket_b";
}

void append_u32(std::string& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xff);
}

// Binary STL; the coordinates must be floats to come back unchanged.
std::string binary_style(const Facets& facets, std::string_view header = "binary model") {
  std::string bytes(header);
  bytes.resize(80, ' ');
  append_u32(bytes, static_cast<std::uint32_t>(facets.size()));
  for (const Triangle& facet : facets) {
    for (int k = 0; k < 3; ++k) append_u32(bytes, 0);
    for (const Point& c : facet) {
      for (const double v : c)
        append_u32(bytes, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
    }
    bytes += std::string(2, '\0');
  }
  return bytes;
}

// Reads a model file with the reader under test.
reading::ModelRead read_model_file(const std::filesystem::path& path, std::string& problem) {
  reading::ModelRead model;
  const int fd = ::open(path.c_str(), O_RDONLY);
  struct stat status {};
  ::fstat(fd, &status);
  problem = reading::read_model(fd, static_cast<std::uint64_t>(status.st_size), model);
  ::close(fd);
  return model;
}

Facets read_facets(const std::filesystem::path& path) {
  std::string problem;
  reading::ModelRead model = read_model_file(path, problem);
  EXPECT_EQ(problem, "") << path;
  return model.facets;
}

bool same_bits(const Facets& a, const Facets& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t f = 0; f < a.size(); ++f) {
    for (std::size_t c = 0; c < 3; ++c) {
      for (std::size_t k = 0; k < 3; ++k) {
        if (std::bit_cast<std::uint64_t>(a[f][c][k]) != std::bit_cast<std::uint64_t>(b[f][c][k])) {
          return false;
        }
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Running the commands

using CommandRun = testing_support::RunResult;

using RunSetup = testing_support::CompanionRun;
using testing_support::json_value;

CommandRun run_program(const TempDir& dir, const char* program,
                       const std::vector<std::string>& arguments, RunSetup setup = {}) {
  return testing_support::run_companion(program, dir, arguments, setup);
}

CommandRun prepare(const TempDir& dir, const std::vector<std::string>& arguments,
                   RunSetup setup = {}) {
  return testing_support::run_prepare(dir, arguments, setup);
}

constexpr std::string_view JSON_KEYS[] = {
    "format_in",
    "units",
    "facets_in",
    "facets",
    "welded_edges",
    "widest_gap_closed",
    "near_coincident_corners",
    "t_junctions_closed",
    "slivers_swapped",
    "needles_collapsed",
    "min_angle",
    "dropped_nonfinite",
    "dropped_degenerate",
    "dropped_duplicate",
    "flipped_facets",
    "shells_turned_outward",
    "shells",
    "cavities",
    "cavities_turned_inward",
    "open_edges",
    "gap_edges",
    "widest_gap",
    "nonmanifold_edges",
    "misoriented_edges",
    "t_junctions",
    "refined",
    "longest_edge_in",
    "longest_edge",
    "smallest_angle_in",
    "largest_aspect_ratio_in",
    "smallest_angle",
    "smallest_angle_line",
    "largest_aspect_ratio",
    "largest_aspect_ratio_line",
    "findings",
    "ready",
    "method",
};

// The keys a remesh adds.
constexpr std::string_view REMESH_KEYS[] = {
    "equilateral_estimate", "max_deviation", "largest_deviation", "area_change",
    "volume_change",        "sharp_edges",   "sharp_edges_kept",
};

// The JSON holds exactly the keys of the interface, one per line.
void expect_exact_keys(const std::string& json) {
  std::size_t keys = 0;
  for (std::size_t at = json.find("\n  \""); at != std::string::npos;
       at = json.find("\n  \"", at + 1)) {
    ++keys;
  }
  const bool remeshed = json_value(json, "method") == "\"remesh\"";
  EXPECT_EQ(keys, std::size(JSON_KEYS) + (remeshed ? std::size(REMESH_KEYS) : 0)) << json;
  for (const std::string_view key : JSON_KEYS) EXPECT_NE(json_value(json, key), "<missing>") << key;
  if (remeshed) {
    for (const std::string_view key : REMESH_KEYS) {
      EXPECT_NE(json_value(json, key), "<missing>") << key;
    }
  }
  for (const std::string_view word : {": nan", ": NaN", ": inf", ": Infinity"}) {
    EXPECT_EQ(json.find(word), std::string::npos) << word;
  }
  // Counts and lengths are never negative; only the area and volume
  // changes of a remesh may be.
  for (const std::string_view key : JSON_KEYS) {
    EXPECT_FALSE(json_value(json, key).starts_with('-')) << key;
  }
}

// ---------------------------------------------------------------------------
// Independent measures of a written surface

using Key = std::tuple<double, double, double>;
Key key_of(const Point& c) { return {c[0], c[1], c[2]}; }

// Every edge, by the exact coordinates of its ends, used by exactly two
// facets in opposite directions.
bool is_closed_and_consistent(const Facets& facets) {
  std::map<std::pair<Key, Key>, int> directed;
  for (const Triangle& f : facets) {
    for (std::size_t k = 0; k < 3; ++k) ++directed[{key_of(f[k]), key_of(f[(k + 1) % 3])}];
  }
  for (const auto& [edge, uses] : directed) {
    if (uses != 1) return false;
    const auto back = directed.find({edge.second, edge.first});
    if (back == directed.end() || back->second != 1) return false;
  }
  return true;
}

Point minus(const Point& a, const Point& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Point cross(const Point& a, const Point& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double norm(const Point& a) { return std::sqrt(dot(a, a)); }

struct Measures {
  double area = 0.0;
  double volume = 0.0;  // about the first corner
  Point low{};
  Point high{};
};

Measures measure(const Facets& facets) {
  Measures m;
  const Point o = facets.front()[0];
  m.low = m.high = o;
  for (const Triangle& f : facets) {
    m.area += norm(cross(minus(f[1], f[0]), minus(f[2], f[0]))) / 2.0;
    m.volume += dot(minus(f[0], o), cross(minus(f[1], o), minus(f[2], o))) / 6.0;
    for (const Point& c : f) {
      for (std::size_t k = 0; k < 3; ++k) {
        m.low[k] = std::min(m.low[k], c[k]);
        m.high[k] = std::max(m.high[k], c[k]);
      }
    }
  }
  return m;
}

// The distance from p to the triangle's plane, and whether its projection
// lies inside the triangle (with a tolerance relative to the triangle).
bool lies_on(const Point& p, const Triangle& t, double tolerance) {
  const Point n = cross(minus(t[1], t[0]), minus(t[2], t[0]));
  const double n2 = dot(n, n);
  if (n2 == 0.0) return false;
  if (std::fabs(dot(minus(p, t[0]), n)) / std::sqrt(n2) > tolerance) return false;
  // Barycentric coordinates, each at least minus the tolerance.
  for (std::size_t k = 0; k < 3; ++k) {
    const Point edge = minus(t[(k + 1) % 3], t[k]);
    const double side = dot(cross(edge, minus(p, t[k])), n) / std::sqrt(n2) / norm(edge);
    if (side < -tolerance) return false;
  }
  return true;
}

double longest_edge(const Facets& facets) {
  double longest = 0.0;
  for (const Triangle& f : facets) {
    for (std::size_t k = 0; k < 3; ++k) {
      longest = std::max(longest, norm(minus(f[(k + 1) % 3], f[k])));
    }
  }
  return longest;
}

Facets refined(const Facets& facets, double max_side) {
  Facets pieces;
  prepare::refine_facets(facets, max_side, [&](const Triangle& piece, double) {
    pieces.push_back(piece);
    return true;
  });
  return pieces;
}

// The torus of the sample model, read as the converter reads it.
Facets sample_torus() {
  return read_facets(std::filesystem::path(STLDECK_EXAMPLES) / "STL_Model.stl");
}

// ---------------------------------------------------------------------------
// Coordinates as written

TEST(CoordinateText, ReadBackExactlyByTheConvertersReader) {
  std::vector<double> values = {
      0.0,
      -0.0,
      1.5,
      -2250.0,
      0.1,
      1.0 / 3.0,
      0x1p-1074,                                     // the smallest subnormal
      0x1.fffffffffffffp-1023,                       // the largest subnormal
      0x1p-1022,                                     // the smallest normal
      std::numeric_limits<double>::max(),            // 17 digits and a three-digit exponent
      -1.2345678901234567e-300,                      // the widest text
      std::bit_cast<double>(0x24EDE8FEC57FB91EULL),  // shortest form 8.427724e-131
      std::bit_cast<double>(0x24EDE8FEC57FB91FULL),
      9007199254740993.0,
      1152921504606847104.0,
      123456789012345680000.0,
  };
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 200000; ++i) {
    // Any double, and the short decimals and floats CAD programs write.
    const double value = std::bit_cast<double>(random());
    if (std::isfinite(value)) values.push_back(value);
    const auto digits = static_cast<double>(random() % 100000000);
    values.push_back(digits * std::pow(10.0, static_cast<double>(random() % 40) - 25.0));
    const auto float_bits = static_cast<std::uint32_t>(random());
    if (std::isfinite(std::bit_cast<float>(float_bits))) {
      values.push_back(static_cast<double>(std::bit_cast<float>(float_bits)));
    }
  }
  for (const double value : values) {
    std::array<char, prepare::COORDINATE_TEXT_WIDTH + 1> text{};
    const std::size_t length = prepare::render_coordinate(value, text.data());
    const std::string_view written(text.data(), length);
    ASSERT_LE(length, prepare::COORDINATE_TEXT_WIDTH) << written;
    EXPECT_EQ(written.find('.'), std::string_view::npos) << written;
    double read = 1.0;
    ASSERT_TRUE(reading::parse_coordinate(written, read)) << written;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(value))
        << written << " for " << shortest(value);
  }
}

TEST(CoordinateText, CompactForms) {
  struct Case {
    double value;
    std::string_view text;
  };
  const Case cases[] = {
      {0.0, "0"},
      {-0.0, "-0"},
      {1.5, "15e-1"},
      {1000.0, "1e3"},
      {55.0, "55"},
      {0.1, "1e-1"},
      {53.1259, "531259e-4"},
      {1.0 / 3.0, "33333333333333331e-17"},
      {-1.2345678901234567e-300, "-12345678901234568e-316"},
      {0x1p-1074, "49406564584124654e-340"},
  };
  for (const Case& c : cases) {
    std::array<char, prepare::COORDINATE_TEXT_WIDTH> text{};
    EXPECT_EQ(std::string_view(text.data(), prepare::render_coordinate(c.value, text.data())),
              c.text);
  }
  // Normals, which nobody reads, to a float's 7 digits.
  const Case normals[] = {
      {0.9582103529877471, "9582104e-7"}, {-1.0, "-1"}, {0.0, "0"}, {-0.0, "0"}, {1e-300, "1e-300"},
  };
  for (const Case& c : normals) {
    std::array<char, prepare::COORDINATE_TEXT_WIDTH> text{};
    EXPECT_EQ(std::string_view(text.data(), prepare::render_normal_component(c.value, text.data())),
              c.text);
  }
  // The shortest form of this double is read as its neighbour by the
  // converter: the reason for 17 digits.
  const double tricky = std::bit_cast<double>(0x24EDE8FEC57FB91EULL);
  double read = 0.0;
  ASSERT_TRUE(reading::parse_coordinate(shortest(tricky), read));
  EXPECT_NE(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(tricky));
}

// ---------------------------------------------------------------------------
// Reading

TEST(ModelReader, EveryStyleGivesTheSameFacets) {
  // Float coordinates, so that the binary form holds them exactly.
  Facets model = box({-1.5, 0.25, 1e-3f}, {2.0, 4.5, 3e5f});
  model.push_back({Point{1e-40f, -0.0, 7.0}, Point{1, 2, 3}, Point{-3e38f, 0.5, 0.125}});
  struct Case {
    std::string_view name;
    std::string text;
    reading::ModelFormat format;
  };
  // Some exporters begin a binary header with "solid": the size decides.
  std::vector<Case> cases;
  cases.push_back({"converter style", converter_style(model), reading::ModelFormat::ascii});
  cases.push_back({"foreign style", foreign_style(model), reading::ModelFormat::ascii});
  cases.push_back({"binary", binary_style(model), reading::ModelFormat::binary});
  cases.push_back({"binary, solid header", binary_style(model, "solid exported"),
                   reading::ModelFormat::binary});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("model.stl", c.text);
    std::string problem;
    const reading::ModelRead read = read_model_file(dir / "model.stl", problem);
    ASSERT_EQ(problem, "");
    EXPECT_EQ(read.format, c.format);
    EXPECT_TRUE(same_bits(read.facets, model));
    ASSERT_EQ(read.facet_lines.size(), model.size());
    if (c.format == reading::ModelFormat::binary) {
      EXPECT_EQ(read.facet_lines.back(), 13);
    }
  }
  // Lines of the facets in the converter style: 2, 9, 16, ...
  TempDir dir;
  dir.write("model.stl", converter_style(model));
  std::string problem;
  const reading::ModelRead read = read_model_file(dir / "model.stl", problem);
  EXPECT_EQ(read.facet_lines[0], 2);
  EXPECT_EQ(read.facet_lines[2], 16);
}

TEST(ModelReader, NumbersAreCorrectlyRounded) {
  // Long digit strings near the halfway points of doubles, against the C
  // library's conversion; also words and the edges of the range.
  std::mt19937_64 random(7);
  std::vector<std::string> numbers = {"1e400",
                                      "-1e400",
                                      "1e-400",
                                      "-1e-400",
                                      "+4.9e-324",
                                      "2.4703282292062328e-324",
                                      "1.7976931348623158e308",
                                      "8.427724e-131",
                                      "inf",
                                      "-Infinity",
                                      "nan",
                                      "+.5",
                                      "5."};
  for (int i = 0; i < 3000; ++i) {
    const double value = std::bit_cast<double>(random() >> 2);
    char text[64];
    // 17 to 25 digits: the last ones decide the rounding.
    std::snprintf(text, sizeof text, "%.*e", 16 + static_cast<int>(i % 9), value);
    numbers.emplace_back(text);
  }
  std::string text = "solid numbers\n";
  for (std::size_t i = 0; i + 3 <= numbers.size(); i += 3) {
    text += "facet normal 0 0 0\nouter loop\n";
    for (int corner = 0; corner < 3; ++corner) {
      text += "vertex " + numbers[i] + " " + numbers[i + 1] + " " + numbers[i + 2] + "\n";
    }
    text += "endloop\nendfacet\n";
  }
  text += "endsolid\n";
  TempDir dir;
  dir.write("numbers.stl", text);
  const Facets facets = read_facets(dir / "numbers.stl");
  ASSERT_EQ(facets.size(), numbers.size() / 3);
  for (std::size_t f = 0; f < facets.size(); ++f) {
    for (std::size_t k = 0; k < 3; ++k) {
      const std::string& written = numbers[3 * f + k];
      const double expected = std::strtod(written.c_str(), nullptr);
      const double read = facets[f][0][k];
      if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(read)) << written;
      } else {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(expected))
            << written;
      }
    }
  }
}

TEST(ModelReader, RefusesWhatItCannotRead) {
  const std::string cube_text = converter_style(unit_cube());
  const auto replaced = [&](std::string_view from, std::string_view to) {
    std::string text = cube_text;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  std::string miscounted = binary_style(unit_cube());
  miscounted[80] = 13;  // 13 facets claimed, 12 present
  struct Case {
    std::string_view name;
    std::string text;
    std::string_view expected;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", "", "the file is empty"});
  cases.push_back({"blanks", "\n  \n\t\n", "holds no solid"});
  cases.push_back({"not an STL", "hello world\n", "not an STL file"});
  cases.push_back({"binary, count not size", miscounted, "not an STL file"});
  cases.push_back({"four corners", replaced("    endloop\n", "      vertex 1 1 1\n    endloop\n"),
                   "a fourth corner"});
  cases.push_back({"two corners", replaced("      vertex 0 0 0\n", ""), "has 2 corners"});
  cases.push_back({"comma number", replaced("vertex 0 0 0", "vertex 0 0,5 0"),
                   "line 4: expected a number, found '0,5'"});
  cases.push_back({"missing coordinate", replaced("vertex 0 0 0", "vertex 0 0"),
                   "line 4: expected a number, found ''"});
  cases.push_back({"extra word", replaced("    endloop", "    endloop now"), "unexpected 'now'"});
  cases.push_back({"cut short", cube_text.substr(0, cube_text.size() - 15),
                   "without 'endsolid': it may have been cut short"});
  cases.push_back({"control bytes", replaced("outer loop", std::string("outer\x01loop", 10)),
                   "found 'outer\\x01loop'"});
  cases.push_back(
      {"missing outer loop", replaced("    outer loop\n", ""), "expected 'outer loop'"});
  // Lines that end with CR alone run together into one line.
  std::string cr_only = cube_text;
  std::replace(cr_only.begin(), cr_only.end(), '\n', '\r');
  cases.push_back({"CR alone", cr_only, "line 1: lines end with CR alone"});
  std::string long_cr_only;
  for (int copy = 0; copy < 400; ++copy) long_cr_only += cr_only;
  cases.push_back({"CR alone, long", long_cr_only, "line 1: lines end with CR alone"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("model.stl", c.text);
    std::string problem;
    read_model_file(dir / "model.stl", problem);
    EXPECT_NE(problem.find(c.expected), std::string::npos) << problem;
  }
}

// ---------------------------------------------------------------------------
// Refinement, checked from the outside

TEST(Refinement, ConformingOnTheSurfaceAndFineEnough) {
  struct Case {
    std::string_view name;
    Facets model;
    double max_side;
    // How many times the facets of equilateral triangles with sides of
    // max_side the count may be. Bisection keeps each facet's shape class,
    // so a face split into two long thin facets (10 by 1) keeps pieces of
    // that thinness; well-shaped facets give about two.
    double factor;
  };
  // A box with long thin facets, one far from the origin, and the sample
  // torus.
  std::vector<Case> cases;
  cases.push_back({"thin box", box({0, 0, 0}, {10.0, 1.0, 0.25}), 0.3, 10.0});
  cases.push_back(
      {"site offset", box({512000.0, 6.1e6, 30.0}, {512003.5, 6.1e6 + 2.0, 31.0}), 0.17, 3.0});
  cases.push_back({"torus", sample_torus(), 1.0472, 2.5});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(is_closed_and_consistent(c.model));
    const Facets pieces = refined(c.model, c.max_side);
    EXPECT_EQ(prepare::count_refined(c.model, c.max_side, 1u << 30).facets, pieces.size());
    EXPECT_LE(longest_edge(pieces), c.max_side);
    EXPECT_TRUE(is_closed_and_consistent(pieces));

    const Measures before = measure(c.model);
    const Measures after = measure(pieces);
    EXPECT_NEAR(after.area, before.area, 1e-12 * before.area);
    EXPECT_NEAR(after.volume, before.volume, 1e-9 * std::fabs(before.volume));
    EXPECT_EQ(after.low, before.low);
    EXPECT_EQ(after.high, before.high);

    // Within a small factor of the equilateral triangles of that side.
    const double equilateral = before.area / (std::sqrt(3.0) / 4.0 * c.max_side * c.max_side);
    EXPECT_GT(static_cast<double>(pieces.size()), equilateral);
    EXPECT_LT(static_cast<double>(pieces.size()), c.factor * equilateral);

    // Every corner on an original facet (checked on a sample for the torus).
    const double size = norm(minus(before.high, before.low));
    for (std::size_t p = 0; p < pieces.size(); p += pieces.size() / 500 + 1) {
      for (const Point& corner : pieces[p]) {
        const bool on_some = std::any_of(c.model.begin(), c.model.end(), [&](const auto& t) {
          return lies_on(corner, t, 1e-12 * size);
        });
        ASSERT_TRUE(on_some) << "piece " << p;
      }
    }
  }
}

TEST(Refinement, SharedEdgesCutTheSameWayWhateverTheShapes) {
  // Two facets that share the edge from (0,0,0) to (8,0,0) but differ in
  // shape: one cuts that edge first, the other a longer side of its own.
  // The shared edge still ends up in the same pieces on both sides.
  const Facets pair = {
      {Point{0, 0, 0}, Point{8, 0, 0}, Point{4, 1, 0}},
      {Point{8, 0, 0}, Point{0, 0, 0}, Point{-3, -9, 0}},
  };
  const Facets pieces = refined(pair, 1.1);
  std::multiset<std::pair<Key, Key>> on_shared;
  for (const Triangle& f : pieces) {
    for (std::size_t k = 0; k < 3; ++k) {
      const Point& a = f[k];
      const Point& b = f[(k + 1) % 3];
      if (a[1] == 0.0 && b[1] == 0.0 && a[2] == 0.0 && b[2] == 0.0) {
        on_shared.insert(std::minmax(key_of(a), key_of(b)));
      }
    }
  }
  // Eight pieces of length 1, each used once from each side.
  EXPECT_EQ(on_shared.size(), 16u);
  for (const auto& edge : on_shared) EXPECT_EQ(on_shared.count(edge), 2u);
}

TEST(Refinement, ALimitBelowTheCoordinatesResolutionNeverFits) {
  // Sides of two units in the last place: after one cut, a midpoint would
  // round to an end, so no refinement reaches a limit of 1e-20.
  const double next = std::nextafter(std::nextafter(1.0, 2.0), 2.0);
  const Facets tiny = {{Point{1, 1, 1}, Point{next, 1, 1}, Point{1, next, 1}}};
  EXPECT_EQ(prepare::count_refined(tiny, 1e-20, 1000).facets,
            std::numeric_limits<std::uint64_t>::max());
  EXPECT_FALSE(prepare::refine_facets(tiny, 1e-20, [](const Triangle&, double) { return true; }));
  EXPECT_EQ(prepare::count_refined(tiny, 1e-15, 1000).facets, 1u);
}

// Far from the origin the coordinates hold corners apart only to a few
// units in their last place: a limit whose pieces would be finer than
// shortest_half_side allows is never refined to, wherever the model lies;
// the same limit near the origin is.
TEST(Refinement, ALimitTheCoordinatesCannotHoldIsRefused) {
  struct Case {
    std::string_view name;
    double offset;    // of the box's lowest corner, on each axis
    double max_side;  // the limit
    bool refined;
  };
  // A box of side 1e-7 at 1e6, where a unit in the last place is 2^-33:
  // halves of the limit must be at least 4 x 16 of them, 7.45e-9.
  constexpr Case cases[] = {
      {"far, limit above the finest", 1e6, 1.6e-8, true},
      {"far, limit below the finest", 1e6, 1.4e-8, false},
      {"far, a tenth of the finest", 1e6, 1.5e-9, false},
      {"near the origin", 0.0, 1.5e-9, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Facets model =
        box({c.offset, c.offset, c.offset}, {c.offset + 1e-7, c.offset + 1e-7, c.offset + 1e-7});
    const prepare::RefinedCount count = prepare::count_refined(model, c.max_side, 1u << 30);
    EXPECT_EQ(count.below_resolution, !c.refined);
    EXPECT_EQ(
        prepare::refine_facets(model, c.max_side, [](const Triangle&, double) { return true; }),
        c.refined);
    if (!c.refined) continue;
    // What is refined keeps its corners apart: the check's analysis finds
    // a closed box, nothing degenerate, the count refinement promised.
    const Facets pieces = refined(model, c.max_side);
    EXPECT_EQ(pieces.size(), count.facets);
    const check::MeshAnalysis analysis = check::analyse_mesh(pieces, check::VertexIdsKept::no);
    EXPECT_EQ(analysis.facts.degenerate_facets, 0);
    EXPECT_EQ(analysis.facts.open_edges, 0);
    EXPECT_EQ(analysis.facts.near_coincident_corners, 0);
    EXPECT_EQ(analysis.shells.size(), 1u);
  }
}

// The highest fitting frequency is the true boundary of the count of the
// pieces themselves, to the fourth digit, where the search counts shapes:
// edges near 1e300 (whose squares overflow), a tiny box far from the origin
// (whose limit stops at what the coordinates hold apart), the torus.
TEST(Refinement, TheFittingFrequencyIsTheBoundaryOfThePiecesCount) {
  struct Case {
    std::string_view name;
    Facets model;
    double frequency;  // too high
  };
  const Case cases[] = {
      {"edges near 1e300", box({0, 0, 0}, {1e300, 1e300, 1e300}), 1.0},
      {"tiny and far", box({1e6, 1e6, 1e6}, {1e6 + 1e-7, 1e6 + 1e-7, 1e6 + 1e-7}), 1e20},
      {"torus", sample_torus(), 300.0},
  };
  constexpr std::uint64_t CAP = 60000;
  constexpr double C = 343.0;
  constexpr double K = 6.0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const prepare::RefinementSize size =
        prepare::size_refinement(c.model, C / c.frequency / K, CAP);
    const double fits = prepare::highest_fitting_frequency(c.model, C, K, c.frequency, size, CAP);
    ASSERT_GT(fits, 0.0);
    const auto count_at = [&](double f) {
      return prepare::count_refined(c.model, C / f / K, CAP).facets;
    };
    EXPECT_LE(count_at(fits), CAP) << fits;
    const double unit = std::pow(10.0, std::floor(std::log10(fits)) - 3.0);
    EXPECT_GT(count_at(fits + unit), CAP) << fits;
  }
}

TEST(Refinement, TooLargeIsSizedAndTheFittingFrequencyFits) {
  const Facets torus = sample_torus();
  constexpr std::uint64_t CAP = 60000;
  constexpr double C = 343.0;
  constexpr double K = 6.0;
  const double frequency = 54.59;  // 101,376 facets
  const prepare::RefinementSize size = prepare::size_refinement(torus, C / frequency / K, CAP);
  EXPECT_TRUE(size.exact);
  EXPECT_EQ(size.facets, 101376.0);
  const double fits = prepare::highest_fitting_frequency(torus, C, K, frequency, size, CAP);
  const auto count_at = [&](double f) {
    return prepare::count_refined(torus, C / f / K, CAP).facets;
  };
  EXPECT_LE(count_at(fits), CAP);
  // One unit more in the fourth digit no longer fits.
  const double unit = std::pow(10.0, std::floor(std::log10(fits)) - 3.0);
  EXPECT_GT(count_at(fits + unit), CAP) << fits;

  // Far beyond the cap: an estimate, within a factor of two of the truth.
  const prepare::RefinementSize far = prepare::size_refinement(torus, C / 300.0 / K, CAP);
  EXPECT_FALSE(far.exact);
  const double truth =
      static_cast<double>(prepare::count_refined(torus, C / 300.0 / K, 1u << 30).facets);
  EXPECT_GT(far.facets, truth / 2.0);
  EXPECT_LT(far.facets, truth * 2.0);
}

// Refinements far beyond any count a double holds are sized from the
// facets' areas and sides alone: finite, close to the count, and never
// below the true count where that can be counted.
TEST(Refinement, HugeRefinementsAreSizedWithoutCountingTheirPieces) {
  struct Case {
    std::string_view name;
    double edge;      // of a cube
    double max_side;  // the limit
  };
  constexpr Case cases[] = {
      {"edges near 1e300", 1e300, 1.0},
      {"limit near 1e-200", 1.0, 6e-200},
      {"both", 1e300, 1e-300},
  };
  constexpr std::uint64_t CAP = 60000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Facets cube = box({0, 0, 0}, {c.edge, c.edge, c.edge});
    // Twelve facets of twice the area edge^2, pieces no larger than an
    // equilateral triangle of side max_side.
    const double ratio = std::log2(c.edge) - std::log2(c.max_side);
    const double least = std::log2(12.0 / (std::sqrt(3.0) / 2.0)) + 2.0 * ratio;
    const double bound = prepare::log2_least_refined(cube, c.max_side);
    EXPECT_NEAR(bound, least, 1e-6);
    const prepare::RefinementSize size = prepare::size_refinement(cube, c.max_side, CAP);
    EXPECT_FALSE(size.exact);
    EXPECT_TRUE(std::isfinite(size.log2_facets));
    EXPECT_GE(size.log2_facets, least);
    EXPECT_LE(size.log2_facets, least + 3.0);
  }
  // Where the count is known, the bound stays below it.
  const Facets torus = sample_torus();
  for (const double side : {0.5, 0.1, 0.03}) {
    SCOPED_TRACE(side);
    const double counted =
        static_cast<double>(prepare::count_refined(torus, side, 1u << 30).facets);
    EXPECT_LE(prepare::log2_least_refined(torus, side), std::log2(counted));
  }
  // A side whose length overflows has no bound.
  const Facets over = box({-1e308, -1e308, -1e308}, {1e308, 1e308, 1e308});
  EXPECT_EQ(prepare::log2_least_refined(over, 1.0), std::numeric_limits<double>::infinity());
}

TEST(Refinement, CountsBeyondADoubleAreShownFromTheirLogarithm) {
  struct Case {
    double log2_count;
    std::string_view expected;
  };
  const Case cases[] = {
      {2000.0, "1.15e+602"},
      {std::log2(9.996) + 400.0 * std::log2(10.0), "1e+401"},  // rounds into a new digit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log2_count);
    EXPECT_EQ(prepare::count_from_log2(c.log2_count), c.expected);
  }
}

// ---------------------------------------------------------------------------
// Mending, on models whose truth is known by construction

struct MendCase {
  std::string_view name;
  Facets model;
  std::map<std::string_view, std::string_view> expected;  // JSON values that differ from zero
  int status;
};

std::vector<MendCase> mend_cases() {
  std::vector<MendCase> cases;
  const Facets cube = unit_cube();
  cases.push_back({"clean cube", cube, {}, 0});
  {
    Facets one_flipped = cube;
    one_flipped[5] = flipped(one_flipped[5]);
    cases.push_back({"one facet flipped", one_flipped, {{"flipped_facets", "1"}}, 0});
  }
  cases.push_back({"inside out",
                   all_flipped(cube),
                   {{"flipped_facets", "12"}, {"shells_turned_outward", "1"}},
                   0});
  {
    // A large outward box and a small inside-out one beside it.
    Facets two = box({0, 0, 0}, {4, 4, 4});
    for (const Triangle& f : all_flipped(box({6, 0, 0}, {7, 1, 1}))) two.push_back(f);
    cases.push_back({"two shells, one inside out",
                     two,
                     {{"flipped_facets", "12"}, {"shells_turned_outward", "1"}, {"shells", "2"}},
                     0});
  }
  {
    // At site coordinates, inside out, with one facet flipped back.
    Facets site = all_flipped(box({512000.0, 6100000.0, 30.0}, {512010.0, 6100010.0, 40.0}));
    site[3] = flipped(site[3]);
    cases.push_back(
        {"site, inside out", site, {{"flipped_facets", "11"}, {"shells_turned_outward", "1"}}, 0});
  }
  {
    // A hollow body, a cube of edge 4 with a cavity of edge 2: the cavity
    // faces its void, or points outward, or the whole is inside out.
    const Facets outside = box({0, 0, 0}, {4, 4, 4});
    const Facets cavity = box({1, 1, 1}, {3, 3, 3});
    cases.push_back({"hollow, cavity facing its void",
                     outside + all_flipped(cavity),
                     {{"cavities", "1"}, {"shells", "2"}},
                     0});
    cases.push_back({"hollow, cavity pointing outward",
                     outside + cavity,
                     {{"cavities", "1"},
                      {"shells", "2"},
                      {"cavities_turned_inward", "1"},
                      {"flipped_facets", "12"}},
                     0});
    cases.push_back({"hollow, wholly inside out",
                     all_flipped(outside) + cavity,
                     {{"cavities", "1"},
                      {"shells", "2"},
                      {"cavities_turned_inward", "1"},
                      {"shells_turned_outward", "1"},
                      {"flipped_facets", "24"}},
                     0});
  }
  {
    // A corner a unit in the last place away in two facets.
    Facets gap = cube;
    int moved = 0;
    for (Triangle& f : gap) {
      for (Point& c : f) {
        if (c == Point{1, 1, 1} && moved < 2) {
          c[0] = std::nextafter(1.0, 2.0);
          ++moved;
        }
      }
    }
    cases.push_back({"one-ulp gap", gap, {{"near_coincident_corners", "2"}}, 0});
  }
  {
    Facets extra = cube;
    extra.push_back({Point{0, 0, 0}, Point{0.5, 0.5, 0.5}, Point{1, 1, 1 + 1e-15}});  // sliver
    extra.push_back({Point{0, 0, 0}, Point{0, 0, 0}, Point{1, 0, 0}});  // two corners one
    extra.push_back({cube[4][1], cube[4][2], cube[4][0]});              // repeated
    extra.push_back({cube[7][0], cube[7][2], cube[7][1]});              // repeated, reversed
    extra.push_back({Point{0, 0, 0}, Point{std::nan(""), 0, 0}, Point{1, 0, 0}});
    extra.push_back({Point{0, 0, 0}, Point{1, 0, 0}, Point{0, -INFINITY, 0}});
    cases.push_back({"dropped facets",
                     extra,
                     // The sliver's corner 1e-15 from (1, 1, 1) is merged.
                     {{"dropped_degenerate", "2"},
                      {"dropped_duplicate", "2"},
                      {"dropped_nonfinite", "2"},
                      {"near_coincident_corners", "1"}},
                     0});
  }
  {
    Facets hole = cube;
    hole.erase(hole.begin() + 2);
    cases.push_back({"hole", hole, {{"open_edges", "3"}}, 1});
  }
  {
    // A fin on one edge of the cube: three facets use that edge.
    Facets fin = cube;
    fin.push_back({Point{0, 0, 0}, Point{1, 0, 0}, Point{0.5, -1, 0}});
    cases.push_back({"fin", fin, {{"nonmanifold_edges", "1"}, {"open_edges", "2"}}, 1});
  }
  return cases;
}

TEST(Mending, EachStepOnAModelWhoseTruthIsKnown) {
  for (const MendCase& c : mend_cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("in.stl", converter_style(c.model));
    const CommandRun run =
        prepare(dir, {"--json", "--no-refine", "--frequency", "1", "in.stl", "out.stl"});
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.err, "");
    expect_exact_keys(run.out);
    if (c.name.starts_with("hollow")) {
      // The material's volume, 4^3 - 2^3, whichever way the shells came:
      // the body outward and the cavity facing its void, and no other way.
      EXPECT_NEAR(measure(read_facets(dir / "out.stl")).volume, 56.0, 1e-12);
    }
    for (const std::string_view key : JSON_KEYS) {
      SCOPED_TRACE(key);
      const std::string value = json_value(run.out, key);
      if (const auto it = c.expected.find(key); it != c.expected.end()) {
        EXPECT_EQ(value, it->second);
      } else if (key == "format_in") {
        EXPECT_EQ(value, "\"ascii\"");
      } else if (key == "units") {
        EXPECT_EQ(value, "\"m\"");
      } else if (key == "facets_in") {
        EXPECT_EQ(value, std::to_string(c.model.size()));
      } else if (key == "refined") {
        EXPECT_EQ(value, "false");
      } else if (key == "method") {
        EXPECT_EQ(value, "\"none\"");
      } else if (key == "min_angle") {
        EXPECT_EQ(value, "0.5");
      } else if (key == "ready") {
        EXPECT_EQ(value, c.status == 0 ? "true" : "false");
      } else if (key == "findings") {
        EXPECT_EQ(value == "[]", c.status == 0) << value;
      } else if (key == "shells") {
        EXPECT_EQ(value, "1");
      } else if (key == "smallest_angle" || key == "largest_aspect_ratio" ||
                 key.ends_with("_line")) {
        EXPECT_NE(value, "0");
      } else if (key != "facets" && !key.ends_with("_in") && key != "longest_edge") {
        EXPECT_EQ(value, "0");
      }
    }
    const Facets out = read_facets(dir / "out.stl");
    EXPECT_EQ(json_value(run.out, "facets"), std::to_string(out.size()));
    if (c.status == 0) {
      // Closed and outward, with the volume of what was read.
      EXPECT_TRUE(is_closed_and_consistent(out));
      EXPECT_GT(measure(out).volume, 0.0);
    }
  }
}

TEST(Mending, SummaryNamesWhatWasDoneAndWhatRemains) {
  Facets hole = all_flipped(unit_cube());
  hole.erase(hole.begin() + 2);
  hole.push_back(hole[0]);
  TempDir dir;
  dir.write("in.stl", converter_style(hole));
  const CommandRun run = prepare(dir, {"--refine-only", "--frequency", "+3", "in.stl", "out.stl"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "stldeck-prepare: read in.stl: ASCII STL, 12 facets\n"
            "  units:           metres (for a model in other units give --units, e.g. --units mm)\n"
            "  corners merged:  0 (joined to a vertex within 1.7321e-09 that they do not equal)\n"
            "  facets dropped:  0 with a non-finite coordinate, 0 degenerate, 1 repeated\n"
            "  facets flipped:  0 (0 shells of 1 turned outward)\n"
            "  shape:           smallest angle 45 -> 45 degrees (line 2 of out.stl), largest "
            "aspect ratio 1.7321 -> 1.7321 (line 2 of out.stl)\n"
            "  refined:         longest edge 1.4142 -> 1.4142, at most 19.056 (wavelength 114.33 "
            "/ 6 at 3 Hz)\n"
            "  wrote out.stl: 11 facets\n"
            "not ready, what remains:\n"
            "  - 3 open edges: the surface has holes, which are never filled (at lines 16, "
            "30, 72 of out.stl)\n");
}

// Bodies far below or above the usual sizes are turned outward all the
// same; a closed sheet back to back encloses nothing and is not ready.
TEST(Mending, OrientationAtAnyScaleAndNoneForASheet) {
  const auto scaled = [](double size) {
    Facets facets = all_flipped(unit_cube());
    for (Triangle& f : facets) {
      for (Point& c : f) {
        for (double& v : c) v *= size;
      }
    }
    return facets;
  };
  const Point a = {0.1, 0.2, 0.3};
  const Point b = {1.1, 0.7, 0.3};
  const Point c = {1.3, 1.9, 1.0};
  const Point d = {0.3, 1.4, 1.0};
  const Facets sheet = {{a, b, c}, {a, c, d}, {b, a, d}, {b, d, c}};
  struct Case {
    std::string_view name;
    Facets facets;
    int status;
    std::string_view turned;  // shells_turned_outward
  };
  const Case cases[] = {
      {"inside out, edge 1e-110", scaled(1e-110), 0, "1"},
      {"inside out, edge 1e190", scaled(1e190), 1, "1"},
      {"a sheet back to back", sheet, 1, "0"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TempDir dir;
    dir.write("in.stl", converter_style(k.facets));
    const CommandRun run = prepare(dir, {"--json", "--no-refine", "in.stl", "out.stl"});
    EXPECT_EQ(run.status, k.status) << run.err;
    EXPECT_EQ(json_value(run.out, "shells_turned_outward"), k.turned);
    // The check agrees on what was written.
    const CommandRun checked = run_program(dir, STLDECK_CHECK_EXE, {"--json", "out.stl"});
    EXPECT_EQ(json_value(checked.out, "inverted_shells"), "0");
    EXPECT_EQ(json_value(checked.out, "normals"),
              k.name == "a sheet back to back" ? "\"undefined\"" : "\"outward\"");
  }
  TempDir dir;
  dir.write("in.stl", converter_style(sheet));
  // The summary speaks of OUT: written as read, the sheet still encloses
  // nothing; remeshed, it is no body either.
  const CommandRun run = prepare(dir, {"--no-refine", "in.stl", "out.stl"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("  - 1 closed shell encloses no volume"), std::string::npos) << run.out;
  EXPECT_EQ(prepare(dir, {"in.stl", "out.stl"}).status, 1);
}

// ---------------------------------------------------------------------------
// The command as a user runs it

TEST(PrepareCommand, BinaryAndForeignInputsWriteTheSameFile) {
  const Facets torus = sample_torus();
  Facets as_floats = torus;
  for (Triangle& f : as_floats) {
    for (Point& c : f) {
      for (double& v : c) v = static_cast<float>(v);
    }
  }
  TempDir dir;
  dir.write("converter.stl", converter_style(as_floats));
  dir.write("foreign.stl", foreign_style(as_floats));
  dir.write("binary.stl", binary_style(as_floats, "solid but binary"));
  std::string first;
  for (const std::string_view name : {"converter.stl", "foreign.stl", "binary.stl"}) {
    SCOPED_TRACE(name);
    // A coarse size: the remesh, like the reading, must give the same
    // bytes from every style, and need not take long to show it.
    const CommandRun run = prepare(dir, {"--frequency", "10", std::string(name), "out.stl"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string written = dir.read("out.stl");
    if (first.empty()) {
      first = written;
    } else {
      EXPECT_TRUE(written == first);
    }
  }
}

TEST(PrepareCommand, RemeshIsTheDefaultAndKeepsTheBody) {
  // A 10:1 bar as twelve slivers; at 300 Hz edges of at most 0.19056.
  const Facets bar = box({0, 0, 0}, {10, 1, 1});
  TempDir dir;
  dir.write("bar.stl", converter_style(bar));
  const CommandRun run = prepare(dir, {"--json", "--frequency", "300", "bar.stl", "out.stl"});
  ASSERT_EQ(run.status, 0) << run.err;
  expect_exact_keys(run.out);
  EXPECT_EQ(json_value(run.out, "method"), "\"remesh\"");
  EXPECT_EQ(json_value(run.out, "sharp_edges"), "12");
  EXPECT_EQ(json_value(run.out, "sharp_edges_kept"), "12");
  const Facets out = read_facets(dir / "out.stl");
  EXPECT_EQ(json_value(run.out, "facets"), std::to_string(out.size()));
  EXPECT_TRUE(is_closed_and_consistent(out));
  EXPECT_NEAR(measure(out).volume, 10.0, 1e-9);
  EXPECT_GT(std::stod(json_value(run.out, "smallest_angle")), 5.0);
  EXPECT_LE(std::stod(json_value(run.out, "longest_edge")), 343.0 / 300.0 / 6.0);
}

TEST(PrepareCommand, TheConverterAndTheCheckTakeTheOutputWhole) {
  TempDir dir;
  // An inside-out torus from a CAD program's binary export, and a file name
  // with a blank.
  dir.write("part one.stl", binary_style(all_flipped(sample_torus())));
  const CommandRun run = prepare(dir, {"--json", "--refine-only", "part one.stl"});
  ASSERT_EQ(run.status, 0) << run.err;
  expect_exact_keys(run.out);
  EXPECT_EQ(json_value(run.out, "format_in"), "\"binary\"");
  EXPECT_EQ(json_value(run.out, "flipped_facets"), "576");
  EXPECT_EQ(json_value(run.out, "shells_turned_outward"), "1");
  const std::string facets_out = json_value(run.out, "facets");
  EXPECT_EQ(facets_out, "101376");

  // Every vertex line within the converter's 80 columns.
  const std::string written = dir.read("STL_Model.stl");
  std::size_t widest = 0;
  for (std::size_t at = 0; at < written.size();) {
    const std::size_t end = written.find('\n', at);
    widest = std::max(widest, end - at);
    at = end + 1;
  }
  EXPECT_LE(widest, 80u);

  // Preparing the prepared model again changes nothing, byte for byte.
  const CommandRun again = prepare(dir, {"--no-refine", "STL_Model.stl", "again.stl"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(dir.read("again.stl") == written);

  const CommandRun converted = run_program(dir, STLDECK_EXE, {});
  EXPECT_EQ(converted.status, 0) << converted.err;
  EXPECT_NE(converted.out.find("m =      " + facets_out), std::string::npos) << converted.out;

  const CommandRun checked = run_program(dir, STLDECK_CHECK_EXE, {"--json"});
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("\"facets\": " + facets_out + ","), std::string::npos);
  EXPECT_NE(checked.out.find("\"ready\": true"), std::string::npos) << checked.out;
}

TEST(PrepareCommand, CommandLine) {
  struct Case {
    std::string_view arguments;
    int status;
    std::string_view expected;  // the start of standard output, or in the line on standard error
  };
  constexpr Case cases[] = {
      {"--help", 0, "usage: stldeck-prepare"},
      {"cube.stl out.stl", 0, "stldeck-prepare: read cube.stl"},
      {"--frequency=+54.59 cube.stl", 0, "stldeck-prepare: read cube.stl"},
      {"--no-refine --frequency 500 cube.stl", 1, "stldeck-prepare: read cube.stl"},
      {"--sound-speed 1500 -- cube.stl", 0, "stldeck-prepare: read cube.stl"},
      {"--feature-angle=45 --max-deviation 1 cube.stl", 0, "stldeck-prepare: read cube.stl"},
      {"--feature-angle 180 cube.stl", 2, "below 180, not '180'"},
      {"--max-deviation=0 cube.stl", 2, "positive number, not '0'"},
      {"--weld 0x10 cube.stl", 2, "positive number, not '0x10'"},
      {"--max-deviation 1e999 cube.stl", 2, "not '1e999'"},
      {"cube.stl --max-deviation", 2, "--max-deviation needs a value"},
      {"--refine-only --no-refine cube.stl", 2, "exclude each other"},
      {"", 2, "no input model given"},
      {"cube.stl a.stl b.stl", 2, "at most IN and OUT"},
      {"--frequency 1 --frequency=2 cube.stl", 2, "--frequency is given twice"},
      {"--no-refine --no-refine cube.stl", 2, "--no-refine is given twice"},
      {"--json --json cube.stl", 2, "--json is given twice"},
      {"--fast cube.stl", 2, "unknown option '--fast'"},
      {"--frequency cube.stl", 2, "positive number, not 'cube.stl'"},
      {"--frequency inf cube.stl", 2, "positive number, not 'inf'"},
      {"--frequency -3 cube.stl", 2, "positive number, not '-3'"},
      {"--frequency 1e-310 cube.stl", 2, "out of range together"},
      {"--sound-speed 1e308 --frequency 1e-10 cube.stl", 2, "out of range together"},
      {"missing.stl", 2, "cannot open missing.stl"},
      {"folder", 2, "cannot read folder: it is a folder"},
      {"cube.stl folder", 2, "cannot write folder: it is a folder"},
      {"cube.stl no/such.stl", 2, "cannot write no/such.stl"},
      {"text.stl", 2, "text.stl: not an STL file"},
      {"--frequency 30000 cube.stl", 2,
       "remeshing to edges of at most 0.0019056 gives about 8395181 facets, more than the "
       "3333333 stldeck can convert; the highest frequency that fits is about 18900 Hz"},
      {"--refine-only --frequency 30000 cube.stl", 2,
       "gives about 12,582,912 facets, more than the 3,333,333 stldeck can convert; the highest "
       "frequency that fits is 20690 Hz"},
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
    dir.write("cube.stl", converter_style(unit_cube()));
    dir.write("text.stl", "just some text\n");
    std::filesystem::create_directory(dir / "folder");
    const CommandRun run = prepare(dir, arguments);
    EXPECT_EQ(run.status, c.status);
    if (c.status == 2) {
      EXPECT_TRUE(run.err.starts_with("stldeck-prepare: ")) << run.err;
      EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
      EXPECT_EQ(run.out, "");
      // Nothing written.
      EXPECT_FALSE(std::filesystem::exists(dir / "STL_Model.stl"));
      EXPECT_FALSE(std::filesystem::exists(dir / "out.stl"));
    } else {
      EXPECT_TRUE(run.out.starts_with(c.expected)) << run.out;
      EXPECT_EQ(run.err, "");  // no progress line in a pipe
    }
    // Nothing but what the test made and what the run wrote.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "cube.stl" || name == "text.stl" || name == "folder" ||
                  name == "out.stl" || name == "STL_Model.stl")
          << name;
    }
  }
}

// Models and limits beyond what a double holds: refused with a true count
// and a frequency that fits, or, for an edge whose length overflows, as
// unmeasurable; OUT keeps its old content.
TEST(PrepareCommand, RefusesHugeNumbersTruly) {
  struct Case {
    std::string_view name;
    std::vector<std::string> arguments;
    std::string_view expected;
  };
  const Case cases[] = {
      {"edges near 1e300", {"huge.stl", "out.stl"}, "gives about 2.78e+601 facets"},
      {"fitting frequency", {"huge.stl", "out.stl"}, "that fits is about 1.89e-296 Hz"},
      {"1e200 elements",
       {"--elements-per-wavelength", "1e200", "cube.stl", "out.stl"},
       "gives about 7.72e+399 facets"},
      {"1e200 elements, bisected",
       {"--refine-only", "--elements-per-wavelength", "1e200", "cube.stl", "out.stl"},
       "the highest frequency that fits is 1.241e-195 Hz"},
      {"edges near 1e300, bisected",
       {"--refine-only", "huge.stl", "out.stl"},
       "the highest frequency that fits is 2.069e-296 Hz"},
      {"overflowing edge",
       {"over.stl", "out.stl"},
       "over.stl: an edge is longer than the largest number"},
      {"overflowing edge, bisected",
       {"--refine-only", "over.stl", "out.stl"},
       "over.stl: an edge is longer than the largest number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("cube.stl", converter_style(unit_cube()));
    dir.write("huge.stl", converter_style(box({0, 0, 0}, {1e300, 1e300, 1e300})));
    dir.write("over.stl", converter_style(box({-1e308, -1e308, -1e308}, {1e308, 1e308, 1e308})));
    dir.write("out.stl", "old content\n");
    const CommandRun run = prepare(dir, c.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("inf"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("nan"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.read("out.stl"), "old content\n");
  }
}

// A tiny model far from the origin at a frequency whose pieces the
// coordinates cannot hold apart: refused, by bisection and by remeshing,
// with a frequency that can be met; prepared at that frequency, the output
// is one the check calls ready.
TEST(PrepareCommand, AdvisesOnlyFrequenciesTheCoordinatesCanMeet) {
  struct Case {
    std::string_view name;
    std::vector<std::string> method;
    std::string_view frequency;
    std::string_view expected;
  };
  // "is" by bisection, "is about" by remeshing's estimate.
  const std::string advice = "3836000000 Hz";
  const Case cases[] = {
      {"bisected, far too high", {"--refine-only"}, "1e20", "gives about"},
      {"remeshed, far too high", {}, "1e20", "gives about"},
      {"bisected, just too fine", {"--refine-only"}, "3837000000", "halves shorter than 7.45e-09"},
      {"remeshed, just too fine", {}, "3837000000", "halves shorter than 7.45e-09"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("tiny.stl",
              converter_style(box({1e6, 1e6, 1e6}, {1e6 + 1e-7, 1e6 + 1e-7, 1e6 + 1e-7})));
    dir.write("out.stl", "old content\n");
    std::vector<std::string> arguments = c.method;
    arguments.insert(arguments.end(),
                     {"--frequency", std::string(c.frequency), "tiny.stl", "out.stl"});
    const CommandRun refused = prepare(dir, arguments);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find(c.expected), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("the highest frequency that fits is"), std::string::npos);
    EXPECT_NE(refused.err.find(advice), std::string::npos) << refused.err;
    EXPECT_EQ(dir.read("out.stl"), "old content\n");

    std::vector<std::string> advised = c.method;
    advised.insert(advised.end(), {"--frequency", "3836000000", "tiny.stl", "out.stl"});
    const CommandRun run = prepare(dir, advised);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const CommandRun checked =
        run_program(dir, STLDECK_CHECK_EXE, {"--frequency", "3836000000", "out.stl"});
    EXPECT_EQ(checked.status, 0) << checked.out;
  }
}

// Small slips of the command and the model: an empty OUT refused before
// any work, the units named after the sound speed given, an old OUT kept
// when no facet is left.
TEST(PrepareCommand, SaysWhatItFoundAndKeepsOut) {
  const Triangle flat = {Point{0, 0, 0}, Point{1, 0, 0}, Point{2, 0, 0}};
  struct Case {
    std::string_view name;
    std::vector<std::string> arguments;
    int status;
    std::string_view expected;  // found in standard output (status 0, 1) or error (2)
    std::string_view absent;    // not found in standard output
  };
  using Arguments = std::vector<std::string>;
  const Arguments empty_out = {"--frequency", "3000", "cube.stl", ""};
  const Arguments millimetres = {"--sound-speed", "343000", "cube.stl", "out.stl"};
  const Arguments metres = {"cube.stl", "out.stl"};
  const Arguments mm_twice = {"--units", "mm", "--sound-speed", "343000", "cube.stl", "out.stl"};
  const Arguments flat_model = {"flat.stl", "out.stl"};
  const Case cases[] = {
      {"empty OUT", empty_out, 2, "OUT is an empty name", ""},
      {"millimetres", millimetres, 0,
       "  units:           sound speed 343000: model units taken as millimetres (use --units "
       "mm), stated in metres (x 0.001)\n",
       ""},
      {"metres", metres, 0, "  units:           metres (for a model in other units", "millimetres"},
      {"a unit counted twice", mm_twice, 2,
       "--sound-speed 343000 with --units: the sound speed is in metres per second whatever "
       "the model's unit (343 for air); give it in m/s or leave it out",
       ""},
      {"no facet left", flat_model, 1, "did not write out.stl: no facet is left", "wrote"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("cube.stl", converter_style(unit_cube()));
    dir.write("flat.stl", converter_style({flat, flipped(flat)}));
    dir.write("out.stl", "old content\n");
    const auto started = std::chrono::steady_clock::now();
    const CommandRun run = prepare(dir, c.arguments);
    EXPECT_EQ(run.status, c.status);
    if (c.status == 2) {
      EXPECT_EQ(run.err, "stldeck-prepare: " + std::string(c.expected) + "\n");
      // Refused before the model was read, let alone refined.
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    } else {
      EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
      if (!c.absent.empty()) {
        EXPECT_EQ(run.out.find(c.absent), std::string::npos) << run.out;
      }
    }
    if (c.status != 0) {
      EXPECT_EQ(dir.read("out.stl"), "old content\n");
    }
  }
}

// ---------------------------------------------------------------------------
// Writing whole or not at all

TEST(PrepareOutput, InputAndOutputOneFileUnderAnyName) {
  for (const std::string_view way : {"same name", "hard link", "symbolic link", "dot path"}) {
    SCOPED_TRACE(way);
    TempDir dir;
    const std::string cube = converter_style(unit_cube());
    dir.write("in.stl", cube);
    std::string out = "in.stl";
    if (way == "hard link") {
      std::filesystem::create_hard_link(dir / "in.stl", dir / "other.stl");
      out = "other.stl";
    } else if (way == "symbolic link") {
      std::filesystem::create_symlink("in.stl", dir / "other.stl");
      out = "other.stl";
    } else if (way == "dot path") {
      out = "./in.stl";
    }
    const CommandRun run = prepare(dir, {"in.stl", out});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("are one file"), std::string::npos) << run.err;
    EXPECT_EQ(dir.read("in.stl"), cube);
  }
}

TEST(PrepareOutput, ReplacedWholeOrLeftAsItWas) {
  const std::string old_content = "old content\n";
  {
    SCOPED_TRACE("a symbolic link is followed and stays a link");
    TempDir dir;
    dir.write("in.stl", converter_style(unit_cube()));
    std::filesystem::create_directory(dir / "models");
    dir.write("models/target.stl", old_content);
    std::filesystem::create_symlink("models/target.stl", dir / "link.stl");
    const CommandRun run = prepare(dir, {"--frequency", "1", "in.stl", "link.stl"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.stl"));
    EXPECT_EQ(read_facets(dir / "models/target.stl").size(), 12u);
  }
  {
    SCOPED_TRACE("a read-only folder");
    TempDir dir;
    dir.write("in.stl", converter_style(unit_cube()));
    std::filesystem::create_directory(dir / "locked");
    dir.write("locked/out.stl", old_content);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all,
                                 std::filesystem::perm_options::add);
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_exec |
                                                     std::filesystem::perms::others_read |
                                                     std::filesystem::perms::others_exec);
    std::filesystem::permissions(dir / "in.stl", std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    const CommandRun run = prepare(dir, {"in.stl", "locked/out.stl"}, {.unprivileged = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot create a file in locked: Permission denied"), std::string::npos)
        << run.err;
    EXPECT_EQ(dir.read("locked/out.stl"), old_content);
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
  }
  {
    SCOPED_TRACE("the disk full (a file size limit)");
    TempDir dir;
    dir.write("in.stl", converter_style(unit_cube()));
    dir.write("out.stl", old_content);
    const CommandRun run =
        prepare(dir, {"--frequency", "500", "in.stl", "out.stl"}, {.file_size = 65536});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    EXPECT_EQ(dir.read("out.stl"), old_content);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              2);
  }
  {
    SCOPED_TRACE("killed while it writes");
    TempDir dir;
    dir.write("in.stl", converter_style(unit_cube()));
    dir.write("out.stl", old_content);
    const pid_t child = ::fork();
    if (child == 0) {
      if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      // About 2.6 million facets: long enough to be stopped half way.
      ::execl(STLDECK_PREPARE_EXE, STLDECK_PREPARE_EXE, "--frequency", "1350", "in.stl", "out.stl",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Killed once the new file has grown, before it is named. Under the
    // sanitizers on a loaded machine the mending before the writing can
    // take long: the run is watched for up to two minutes.
    bool writing = false;
    for (int wait = 0; wait < 24000 && !writing; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const std::string fds = "/proc/" + std::to_string(child) + "/fd";
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
        std::error_code link_error;
        const auto target = std::filesystem::read_symlink(entry.path(), link_error);
        if (!link_error && target.string().find(dir.path().string()) == 0 &&
            target.filename() != "in.stl") {
          struct stat status {};
          writing = ::stat(entry.path().c_str(), &status) == 0 && status.st_size > (1 << 20);
        }
      }
    }
    ::kill(child, SIGKILL);
    int wait_status = 0;
    ::waitpid(child, &wait_status, 0);
    EXPECT_TRUE(writing) << "the run was not seen writing";
    EXPECT_TRUE(WIFSIGNALED(wait_status));
    EXPECT_EQ(dir.read("out.stl"), old_content);
    // Nothing left behind: the unfinished file had no name.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              2);
  }
}

// A run killed between writing and naming leaves its new file under a
// temporary name that says whose it is; the next run removes what a run
// that is gone left, and keeps what a live run is writing.
TEST(PrepareOutput, RemovesWhatAKilledRunLeft) {
  TempDir dir;
  dir.write("in.stl", converter_style(unit_cube()));
  // A process that has ended: its number names no run now.
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  struct Case {
    std::string name;
    bool kept;
  };
  const Case cases[] = {
      {"out.stl.prepare-" + std::to_string(ended) + "-0", false},
      {"out.stl.prepare-" + std::to_string(ended) + "-3", false},
      {"out.stl.prepare-" + std::to_string(::getpid()) + "-0", true},  // a live run's
      {"out.stl.prepare-x-0", true},                                   // not of its kind
      {"other.stl.prepare-" + std::to_string(ended) + "-0", true},     // another OUT's
  };
  for (const Case& c : cases) dir.write(c.name, "left behind\n");
  const CommandRun run = prepare(dir, {"--frequency", "1", "in.stl", "out.stl"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::filesystem::exists(dir / c.name), c.kept);
  }
  EXPECT_EQ(read_facets(dir / "out.stl").size(), 12u);
}

// Standard output or standard error that goes into the model or OUT
// (`stldeck-prepare in.stl out.stl >> in.stl`) is refused before anything
// is written; the refusal is told on standard error unless that is one of
// the files itself.
TEST(PrepareOutput, RefusesAStandardStreamIntoTheModelOrOut) {
  struct Case {
    std::string_view into;  // the file the stream appends to
    bool standard_error;    // which stream: standard output or standard error
    std::string_view error;
  };
  constexpr Case cases[] = {
      {"in.stl", false,
       "stldeck-prepare: standard output goes into in.stl, the model: send it elsewhere\n"},
      {"out.stl", false,
       "stldeck-prepare: standard output goes into out.stl, OUT: send it elsewhere\n"},
      {"in.stl", true, ""},
      {"out.stl", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.into) + (c.standard_error ? " (standard error)" : ""));
    TempDir dir;
    const std::string cube = converter_style(unit_cube());
    dir.write("in.stl", cube);
    dir.write("out.stl", "old content\n");
    testing_support::RunOptions options{.arguments = {"--json", "in.stl", "out.stl"}};
    (c.standard_error ? options.stderr_into : options.stdout_into) = std::string(c.into);
    const CommandRun run = testing_support::run_program(STLDECK_PREPARE_EXE, dir.path(), options);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.error);
    EXPECT_EQ(dir.read("in.stl"), cube);
    EXPECT_EQ(dir.read("out.stl"), "old content\n");
  }
}

// What a run ends with and what it leaves agree: a run that ends with
// status 2 leaves OUT as it was, whether the new model or the report could
// not be written, and leaves no file of its own beside it.
TEST(PrepareOutput, StatusTwoLeavesOutAsItWas) {
  struct Case {
    std::string_view what;
    std::string_view streams;  // the shell's redirections of the run
    std::string_view error;    // on standard error, after "cannot write "
  };
  constexpr Case cases[] = {
      {"a file size limit", "2> err", "out.stl: File too large"},
      {"output full", "> /dev/full 2> err", "the report: No space left on device"},
      {"output closed", ">&- 2> err", "the report: Bad file descriptor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    dir.write("in.stl", converter_style(unit_cube()));
    dir.write("out.stl", "old content\n");
    // As in a shell: the limit's signal left as it is by default.
    const std::string limit = c.what == "a file size limit" ? "ulimit -f 64; " : "";
    const std::string command = "cd '" + dir.path().string() + "' && (" + limit +
                                "exec '" STLDECK_PREPARE_EXE "' --frequency 500 in.stl out.stl " +
                                std::string(c.streams) + "); echo $? > status";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(dir.read("status"), "2\n");
    const std::string err = dir.read("err");
    EXPECT_EQ(err, "stldeck-prepare: cannot write " + std::string(c.error) + "\n");
    EXPECT_EQ(dir.read("out.stl"), "old content\n");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"err", "in.stl", "out.stl", "status"}));
  }
}

// ---------------------------------------------------------------------------
// A second opinion: admesh's normalisation of a model without defects
// leaves the same facets as the mending without refinement.

// The facets as a set, each with its corners rotated to start at the
// lowest, so that the order of facets and of corners does not matter but
// the orientation does.
std::multiset<std::array<Key, 3>> facet_set(const Facets& facets) {
  std::multiset<std::array<Key, 3>> set;
  for (const Triangle& f : facets) {
    std::array<Key, 3> keys = {key_of(f[0]), key_of(f[1]), key_of(f[2])};
    const auto lowest = std::min_element(keys.begin(), keys.end()) - keys.begin();
    std::rotate(keys.begin(), keys.begin() + lowest, keys.end());
    set.insert(keys);
  }
  return set;
}

TEST(PrepareCommand, AgreesWithAdmeshOnModelsWithoutDefects) {
  if (::access("/usr/bin/admesh", X_OK) != 0)
    GTEST_SKIP() << "admesh missing (tools/setup.sh admesh)";
  Facets one_flipped = box({0, 0, 0}, {3, 2, 1});
  one_flipped[4] = flipped(one_flipped[4]);
  const std::pair<std::string_view, Facets> models[] = {
      {"torus", sample_torus()},
      {"box with one facet flipped", one_flipped},
  };
  for (const auto& [name, model] : models) {
    SCOPED_TRACE(name);
    TempDir dir;
    dir.write("in.stl", binary_style(model));
    const CommandRun ours = prepare(dir, {"--no-refine", "--frequency", "1", "in.stl", "ours.stl"});
    ASSERT_EQ(ours.status, 0) << ours.err;
    const CommandRun theirs = run_program(dir, "/usr/bin/admesh",
                                          {"--exact", "--normal-directions", "--normal-values",
                                           "--write-binary-stl=theirs.stl", "in.stl"});
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    EXPECT_TRUE(facet_set(read_facets(dir / "ours.stl")) ==
                facet_set(read_facets(dir / "theirs.stl")));
  }
}

}  // namespace

namespace {

// A 2 m box at map coordinates whose top face (facets 2 and 3) is lifted
// off its sides, 1e-7 of the diagonal at two corners and half that at the
// others: a crack all round, eight open edges facing each other.
TEST(Welding, TheChecksAdviceClosesTheCracks) {
  const Point low = {6.5e5, 5.3e6, 17.0};
  Facets model = box(low, {low[0] + 2, low[1] + 2, low[2] + 2});
  const double crack = 1e-7 * 2 * std::sqrt(3.0);
  for (const std::size_t f : {std::size_t{2}, std::size_t{3}}) {
    for (Point& c : model[f]) c[2] += c[0] == low[0] ? crack : crack / 2;
  }
  const double top = low[2] + 2;
  const double widest = (top + crack) - top;  // as the coordinates hold it
  TempDir dir;
  dir.write("in.stl", converter_style(model));

  const CommandRun checked = run_program(dir, STLDECK_CHECK_EXE, {"--frequency", "1", "in.stl"});
  EXPECT_EQ(checked.status, 1);
  const std::string_view advice = "stldeck-prepare --weld ";
  const std::size_t at = checked.out.find(advice);
  ASSERT_NE(at, std::string::npos) << checked.out;
  const std::size_t from = at + advice.size();
  const std::string distance = checked.out.substr(from, checked.out.find(' ', from) - from);
  EXPECT_GT(std::strtod(distance.c_str(), nullptr), widest);
  EXPECT_NE(checked.out.find("8 open edges (used by one facet): 8 of them face others"),
            std::string::npos)
      << checked.out;

  // Without welding the crack stays, and the summary names the same cure.
  const CommandRun unwelded =
      prepare(dir, {"--no-refine", "--frequency", "1", "in.stl", "out.stl"});
  EXPECT_EQ(unwelded.status, 1);
  EXPECT_NE(unwelded.out.find("which --weld " + distance + " closes"), std::string::npos)
      << unwelded.out;

  const CommandRun welded = prepare(
      dir, {"--json", "--no-refine", "--frequency", "1", "--weld", distance, "in.stl", "out.stl"});
  EXPECT_EQ(welded.status, 0) << welded.out << welded.err;
  EXPECT_EQ(json_value(welded.out, "welded_edges"), "8");
  EXPECT_NEAR(std::strtod(json_value(welded.out, "widest_gap_closed").c_str(), nullptr), widest,
              1e-6 * widest);
  EXPECT_EQ(json_value(welded.out, "open_edges"), "0");
  const Facets out = read_facets(dir / "out.stl");
  EXPECT_TRUE(is_closed_and_consistent(out));
  // The corners of each joined pair took one side's position: the volume
  // moves by at most the crack's width times the top's area.
  EXPECT_NEAR(measure(out).volume, 8.0, 4 * crack);
  const CommandRun rechecked = run_program(dir, STLDECK_CHECK_EXE, {"--frequency", "1", "out.stl"});
  EXPECT_EQ(rechecked.status, 0) << rechecked.out;
}

TEST(Welding, DistanceMustBeAPositiveNumber) {
  TempDir dir;
  dir.write("in.stl", converter_style(unit_cube()));
  for (const std::string value : {"0", "-1", "x", "1e999", "nan", ""}) {
    SCOPED_TRACE(value);
    const CommandRun run = prepare(dir, {"--weld", value, "in.stl", "out.stl"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--weld needs a positive number"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.stl"));
  }
  const CommandRun missing = prepare(dir, {"in.stl", "out.stl", "--weld"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("--weld needs a value"), std::string::npos) << missing.err;
}

// A declined remesh is explained by what is true of it: bisection's count
// where it is the smaller, and the angles alone where it is not.
TEST(PrepareSummary, ADeclinedRemeshIsExplainedTruly) {
  struct Case {
    std::uint64_t bisection_facets;
    std::string_view said;
  };
  const Case cases[] = {
      {900, "bisection 900 facets and at least 14 degrees"},
      {1500, "bisection no fewer facets but at least 14 degrees"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bisection_facets);
    prepare::RemeshStep declined;
    declined.facets.resize(1000);
    declined.before.smallest_angle_degrees = 28;
    declined.after.smallest_angle_degrees = 10;
    declined.declined = true;
    declined.bisection_facets = c.bisection_facets;
    const prepare::MendedModel mended;
    prepare::PrepareReport report;
    report.mended = &mended;
    report.remesh_declined = &declined;
    prepare::PrepareOptions options;
    options.input = "in.stl";
    options.output = "out.stl";
    const std::string summary = prepare::render_summary(report, options);
    EXPECT_NE(summary.find("the remesh gave 1,000 facets with a smallest angle of 10 degrees, " +
                           std::string(c.said)),
              std::string::npos)
        << summary;
  }
}

}  // namespace
