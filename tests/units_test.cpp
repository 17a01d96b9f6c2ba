// Tests of the model units: --units and the older sound-speed way of naming
// millimetres as both companions read them, the check's figures in metres
// for a model of known size in each unit, the preparation writing each
// coordinate as the correctly rounded product so that stldeck makes a deck
// in metres, and models that have no value in metres refused.
#include "companion/units.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "box_facets.h"
#include "companion/frequency_options.h"
#include "companion/options.h"
#include "prepare/coordinate_text.h"
#include "reading/coordinate.h"
#include "support.h"
#include "support_cli.h"
#include "support_models.h"

namespace {

using testing_support::converter_style;

using geometry::Point;
using geometry::Triangle;
using testing_support::json_value;
using testing_support::TempDir;

std::string shortest(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::vector<Triangle> box(const Point& low, const Point& high) {
  std::vector<Triangle> facets;
  for (const auto& corners : testing_support::BOX_FACETS) {
    Triangle facet{};
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        facet[k][axis] = (corners[k] >> axis & 1) != 0 ? high[axis] : low[axis];
      }
    }
    facets.push_back(facet);
  }
  return facets;
}

// Every number on the vertex lines of an ASCII STL file, in order.
std::vector<std::string> vertex_tokens(const std::string& stl) {
  std::vector<std::string> tokens;
  std::istringstream lines(stl);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word != "vertex") continue;
    while (words >> word) tokens.push_back(word);
  }
  return tokens;
}

double json_double(const std::string& json, std::string_view key) {
  const std::string text = json_value(json, key);
  double value = std::nan("");
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// Within `ulps` units in the last place of the true value `truth`.
void expect_close(double value, double truth, double ulps, std::string_view what) {
  SCOPED_TRACE(what);
  EXPECT_LE(std::fabs(value - truth), ulps * std::fabs(truth) * 0x1p-52) << shortest(value);
}

// ---------------------------------------------------------------------------
// Reading the unit

TEST(ModelUnits, ReadWithTheSoundSpeed) {
  constexpr companion::OptionRule RULES[] = {
      {companion::SOUND_SPEED_OPTION, true, ""},
      {companion::FREQUENCY_OPTION, true, ""},
      {companion::UNITS_OPTION, true, ""},
  };
  struct Case {
    std::vector<std::string_view> arguments;
    std::string_view unit;  // as --units names it
    double sound_speed;     // m/s after reading
    double implied_by;      // the sound speed that implied the unit, or 0
    std::string_view problem;
  };
  const Case cases[] = {
      {{}, "m", 343.0, 0.0, ""},
      {{"--units", "mm"}, "mm", 343.0, 0.0, ""},
      {{"--units=ft"}, "ft", 343.0, 0.0, ""},
      {{"--units", "in", "--sound-speed", "1500"}, "in", 1500.0, 0.0, ""},
      // The older way: a speed per second in a smaller metric unit.
      {{"--sound-speed", "343000"}, "mm", 343.0, 343000.0, ""},
      {{"--sound-speed", "34300"}, "cm", 343.0, 34300.0, ""},
      {{"--sound-speed", "3.43e8"}, "um", 343.0, 343e6, ""},
      // Not one of them: a speed in m/s like any other.
      {{"--sound-speed", "343000.5"}, "m", 343000.5, 0.0, ""},
      {{"--sound-speed", "1500"}, "m", 1500.0, 0.0, ""},
      {{"--units", "MM"}, "", 0, 0, "--units needs one of m, cm, mm, um, in, ft, not 'MM'"},
      {{"--units", ""}, "", 0, 0, "--units needs one of m, cm, mm, um, in, ft, not ''"},
      {{"--units", "mm", "--sound-speed", "343000"}, "", 0, 0, "--sound-speed 343000 with --units"},
      {{"--sound-speed", "34300", "--units", "m"}, "", 0, 0, "--sound-speed 34300 with --units"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string_view a : c.arguments) shown += std::string(a) + " ";
    SCOPED_TRACE(shown);
    const companion::ReadOptions read = companion::read_options(c.arguments, RULES);
    ASSERT_EQ(read.problem, "");
    geometry::FrequencySettings settings;
    ASSERT_EQ(companion::read_frequency_settings(read, RULES, settings), "");
    companion::ModelUnits units;
    const std::string problem = companion::read_model_units(read, RULES, settings, units);
    if (!c.problem.empty()) {
      EXPECT_TRUE(problem.starts_with(c.problem)) << problem;
      continue;
    }
    EXPECT_EQ(problem, "");
    EXPECT_EQ(units.length_unit().name, c.unit);
    EXPECT_EQ(settings.sound_speed, c.sound_speed);
    EXPECT_EQ(units.implying_sound_speed, c.implied_by);
  }
}

// A coordinate whose product leaves the normal doubles is found, with the
// facet it lies in; zero, infinities and NaN are not scaling problems, and
// a factor of 1 changes no number.
TEST(ModelUnits, CoordinatesWithoutAValueInMetres) {
  constexpr double INF = std::numeric_limits<double>::infinity();
  struct Case {
    double coordinate;
    double factor;
    bool found;
    bool overflow;
  };
  constexpr Case cases[] = {
      {1e300, 0.3048, false, false},   // smaller in metres
      {1e308, 10.0, true, true},       // a factor above 1 could overflow
      {-1e-305, 0.001, true, false},   // 1e-308 is subnormal
      {1e-303, 1e-6, true, false},     // 1e-309
      {3e-305, 0.001, false, false},   // 3e-308 is normal
      {0x1p-1074, 1.0, false, false},  // nothing multiplied
      {-0.0, 1e-6, false, false},
      {INF, 0.001, false, false},
      {std::numeric_limits<double>::quiet_NaN(), 0.001, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shortest(c.coordinate) + " x " + shortest(c.factor));
    const std::vector<Triangle> facets = {
        box({0, 0, 0}, {1, 1, 1})[0], {Point{1, 2, 3}, Point{4, c.coordinate, 6}, Point{7, 8, 9}}};
    const companion::ScaleProblem problem = companion::find_scale_problem(facets, c.factor);
    EXPECT_EQ(problem.found, c.found);
    if (!c.found) continue;
    EXPECT_EQ(problem.overflow, c.overflow);
    EXPECT_EQ(problem.facet, 1U);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(problem.coordinate),
              std::bit_cast<std::uint64_t>(c.coordinate));
  }
}

// ---------------------------------------------------------------------------
// The check in metres

struct UnitCase {
  std::string_view unit;
  double side;         // of a cube, in the unit
  double side_metres;  // the same side in metres, exactly as a decimal
};
constexpr UnitCase UNIT_CASES[] = {
    {"m", 0.1, 0.1},  {"cm", 10.0, 0.1},  {"mm", 100.0, 0.1},
    {"um", 1e5, 0.1}, {"in", 5.0, 0.127}, {"ft", 0.5, 0.1524},
};

// A cube of known size in each unit: every length, area and volume the
// check states is the one in metres, the wavelength is compared with the
// edges in metres, and only a model in metres is ready as it is.
TEST(UnitsCheck, StatesACubeInMetresForEachUnit) {
  for (const UnitCase& c : UNIT_CASES) {
    SCOPED_TRACE(c.unit);
    TempDir dir;
    dir.write("cube.stl", converter_style(box({0, 0, 0}, {c.side, c.side, c.side})));
    const auto run = testing_support::run_check(
        dir, {"--json", "--units", std::string(c.unit), "--frequency", "200", "cube.stl"});
    const double s = c.side_metres;
    EXPECT_EQ(json_value(run.out, "units"), "\"" + std::string(c.unit) + "\"");
    expect_close(json_double(run.out, "longest_edge"), s * std::sqrt(2.0), 4, "longest edge");
    expect_close(json_double(run.out, "area"), 6 * s * s, 8, "area");
    expect_close(json_double(run.out, "volume"), s * s * s, 8, "volume");
    expect_close(json_double(run.out, "wavelength"), 343.0 / 200, 1, "wavelength");
    // 343 / (6 x longest edge) in metres: 404 Hz for the 0.1 m cube.
    expect_close(json_double(run.out, "max_frequency"), 343.0 / (6 * s * std::sqrt(2.0)), 8,
                 "highest frequency");
    const std::string box_text = json_value(run.out, "bounding_box");
    const std::string high = box_text.substr(box_text.rfind('[') + 1);
    double corner = 0.0;
    std::from_chars(high.data(), high.data() + high.size(), corner);
    expect_close(corner, s, 1, "bounding box");
    EXPECT_EQ(json_value(run.out, "open_edges"), "0");
    EXPECT_EQ(json_value(run.out, "normals"), "\"outward\"");
    EXPECT_EQ(json_value(run.out, "ready"), c.unit == "m" ? "true" : "false");
    EXPECT_EQ(run.status, c.unit == "m" ? 0 : 1) << run.out << run.err;
  }
}

// The refinement advice is in metres: a 100 mm cube at 2 kHz has edges of
// 0.141 m where 343 / 2000 / 6 = 0.0286 m are wanted.
TEST(UnitsCheck, AdviceInMetresAndTheCommandThatWritesMetres) {
  TempDir dir;
  dir.write("cube.stl", converter_style(box({0, 0, 0}, {100, 100, 100})));
  const auto run =
      testing_support::run_check(dir, {"--units", "mm", "--frequency", "2000", "cube.stl"});
  EXPECT_EQ(run.status, 1);
  for (const std::string_view expected : {
           "  units                   millimetres, stated in metres (x 0.001)\n",
           "  area                    0.06\n",
           "  volume                  0.001\n",
           "  bounding box            0 0 0 to 0.1 0.1 0.1\n",
           "refine to edges of at most 0.0285833 m, or use the mesh up to 404.229 Hz",
           "  - the model is in millimetres: stldeck writes the deck in the model's own units and "
           "the solver takes them for metres; stldeck-prepare --units mm in.stl out.stl writes "
           "it in metres\n",
       }) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
  }
}

// A crack in a model in millimetres: the check states the gap in metres and
// names a command, in metres, that closes it; run as named, it does.
TEST(UnitsCheck, WeldAdviceWorksAsNamed) {
  std::vector<Triangle> model = box({0, 0, 0}, {100, 100, 100});
  // The top's corner (100, 100, 100) lifted by 1 um in its two facets only.
  for (const std::size_t f : {2U, 3U}) {
    for (Point& corner : model[f]) {
      if (corner == Point{100, 100, 100}) corner[2] = 100.001;
    }
  }
  TempDir dir;
  dir.write("in.stl", converter_style(model));
  const auto json = testing_support::run_check(dir, {"--json", "--units", "mm", "in.stl"});
  expect_close(json_double(json.out, "widest_gap"), 1e-6, 1e6, "gap in metres");
  const auto check = testing_support::run_check(dir, {"--units", "mm", "in.stl"});
  const std::string named = "stldeck-prepare --units mm --weld ";
  const std::size_t at = check.out.find(named);
  ASSERT_NE(at, std::string::npos) << check.out;
  const std::string weld = check.out.substr(
      at + named.size(), check.out.find(' ', at + named.size()) - at - named.size());
  EXPECT_EQ(check.out.substr(at + named.size() + weld.size(), 25), " in.stl out.stl closes th");
  const auto prepared = testing_support::run_prepare(
      dir,
      {"--units", "mm", "--weld", weld, "--no-refine", "--frequency", "1", "in.stl", "out.stl"});
  EXPECT_EQ(prepared.status, 0) << prepared.out << prepared.err;
  const auto after = testing_support::run_check(dir, {"--json", "--frequency", "1", "out.stl"});
  EXPECT_EQ(json_value(after.out, "open_edges"), "0") << after.out;
  EXPECT_EQ(json_value(after.out, "ready"), "true");
}

// The older way of naming millimetres still works in both commands, whose
// summaries say in the same words what unit it implies.
TEST(UnitsCheck, SoundSpeedThatImpliesTheUnitSaidAlikeByBothCommands) {
  TempDir dir;
  dir.write("cube.stl", converter_style(box({0, 0, 0}, {100, 100, 100})));
  const std::string said =
      "sound speed 343000: model units taken as millimetres (use --units mm), stated in "
      "metres (x 0.001)\n";
  const auto check = testing_support::run_check(dir, {"--sound-speed", "343000", "cube.stl"});
  EXPECT_NE(check.out.find("  units                   " + said), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("  longest edge            0.141421\n"), std::string::npos);
  const auto prepare = testing_support::run_prepare(
      dir, {"--sound-speed", "343000", "--no-refine", "cube.stl", "out.stl"});
  EXPECT_EQ(prepare.status, 0) << prepare.out << prepare.err;
  EXPECT_NE(prepare.out.find("  units:           " + said), std::string::npos) << prepare.out;
  // Written in metres, as --units mm writes it.
  const auto with_units =
      testing_support::run_prepare(dir, {"--units", "mm", "--no-refine", "cube.stl", "mm.stl"});
  EXPECT_EQ(with_units.status, 0);
  EXPECT_EQ(dir.read("out.stl"), dir.read("mm.stl"));
}

// ---------------------------------------------------------------------------
// The preparation writes metres

// Each written coordinate is the correctly rounded product of the model's
// coordinate and the unit's factor, as stldeck's own reader reads it back.
// The factors of the inch and the foot are the doubles nearest 0.0254 and
// 0.3048, which are not exact in binary.
TEST(UnitsPrepare, WritesTheCorrectlyRoundedProduct) {
  struct Case {
    std::string_view unit;
    double factor;
    Point low;
    Point high;
  };
  const Case cases[] = {
      {"m", 1.0, {0.1, 1.0 / 3, -2.5}, {0.7, 2.0 / 3, 1e-3}},
      {"cm", 0.01, {0.1, 1.0 / 3, -2.5}, {0.7, 2.0 / 3, 1e-3}},
      {"mm", 0.001, {6.5e5, 5.3e6, 0.3}, {6.5e5 + 2000, 5.3e6 + 1000, 40.1}},
      {"um", 1e-6, {123456.789, -0.5, 3}, {123999.001, 300.25, 1e4}},
      {"in", 0.0254, {25.4, 0.1, -1.0 / 3}, {100, 12.7, 9.99}},
      {"ft", 0.3048, {0.1, 1e-3, -33.3}, {3.3, 10, 1.0 / 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    TempDir dir;
    dir.write("in.stl", converter_style(box(c.low, c.high)));
    const auto run = testing_support::run_prepare(
        dir,
        {"--units", std::string(c.unit), "--frequency", "1", "--no-refine", "in.stl", "out.stl"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::set<std::uint64_t> expected;
    for (std::size_t axis = 0; axis < 3; ++axis) {
      expected.insert(std::bit_cast<std::uint64_t>(c.low[axis] * c.factor));
      expected.insert(std::bit_cast<std::uint64_t>(c.high[axis] * c.factor));
    }
    std::set<std::uint64_t> written;
    const std::vector<std::string> tokens = vertex_tokens(dir.read("out.stl"));
    ASSERT_EQ(tokens.size(), 12U * 9);
    for (const std::string& token : tokens) {
      double value = 0.0;
      ASSERT_TRUE(reading::parse_coordinate(token, value)) << token;
      written.insert(std::bit_cast<std::uint64_t>(value));
    }
    EXPECT_EQ(written, expected);
  }
}

// The products a model in another unit gives have long expansions: each
// one's text reads back, by the converter's reader, as that double.
TEST(UnitsPrepare, ProductsReadBackExactly) {
  std::mt19937_64 random(27);
  for (const companion::LengthUnit& unit : companion::LENGTH_UNITS) {
    SCOPED_TRACE(unit.name);
    for (int i = 0; i < 20000; ++i) {
      // What CAD programs write: floats, and decimals of a few digits.
      const double decimal = static_cast<double>(random() % 10000000) *
                             std::pow(10.0, static_cast<double>(random() % 24) - 12.0);
      const auto as_float = static_cast<double>(
          std::bit_cast<float>(static_cast<std::uint32_t>(random() % 0x7f800000U)));
      for (const double coordinate : {decimal, -as_float}) {
        const double value = coordinate * unit.factor;
        std::array<char, prepare::COORDINATE_TEXT_WIDTH> text{};
        const std::size_t length = prepare::render_coordinate(value, text.data());
        double read = 1.0;
        ASSERT_TRUE(reading::parse_coordinate({text.data(), length}, read));
        ASSERT_EQ(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(value))
            << std::string_view(text.data(), length) << " for " << shortest(value);
      }
    }
  }
}

// A box of 100 mm, prepared with --units mm, converted: every node of the
// deck lies at 0 or 0.1 (metres), and the check calls the file ready.
TEST(UnitsPrepare, MillimetreModelGivesADeckInMetres) {
  TempDir dir;
  dir.write("part.stl", converter_style(box({0, 0, 0}, {100, 100, 100})));
  const auto prepared = testing_support::run_prepare(dir, {"--units", "mm", "part.stl"});
  ASSERT_EQ(prepared.status, 0) << prepared.out << prepared.err;
  const auto converted = testing_support::run_converter(dir.path());
  ASSERT_EQ(converted.status, 0) << converted.out << converted.err;
  const std::string deck = dir.read("input.dat");
  // The node lines, between " $ Nodes:" and " $ Elements" (CR LF ends).
  const std::size_t nodes = deck.find('\n', deck.find(" $ Nodes:"));
  const std::size_t elements = deck.find(" $ Elements");
  ASSERT_NE(nodes, std::string::npos);
  ASSERT_NE(elements, std::string::npos);
  std::istringstream lines(deck.substr(nodes + 1, elements - nodes - 1));
  std::set<std::string> coordinates;
  int node_lines = 0;
  for (std::string line; std::getline(lines, line); ++node_lines) {
    std::istringstream fields(line);
    std::string number, x, y, z;
    fields >> number >> x >> y >> z;
    coordinates.insert({x, y, z});
  }
  EXPECT_GT(node_lines, 0);
  EXPECT_EQ(coordinates, (std::set<std::string>{"0.000000000000000D+00", "0.100000000000000D+00"}));
  const auto check = testing_support::run_check(dir, {"--json"});
  EXPECT_EQ(json_value(check.out, "ready"), "true") << check.out;
  expect_close(json_double(check.out, "longest_edge"), 0.1 * std::sqrt(2.0), 4, "longest edge");
}

// A coordinate that has no normal value in metres is refused before
// anything is written (status 2, OUT as it was); the check says so and
// calls the model not ready.
TEST(UnitsPrepare, RefusesACoordinateWithoutAValueInMetres) {
  struct Case {
    std::string_view unit;
    double coordinate;
  };
  constexpr Case cases[] = {
      {"mm", 1e-306},   // 1e-309 m: subnormal, digits lost
      {"um", -3e-303},  // -3e-309 m
      {"ft", 5e-308},   // 1.524e-308 m
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    TempDir dir;
    std::vector<Triangle> model = box({0, 0, 0}, {1, 1, 1});
    model.push_back({Point{0, 0, 0}, Point{c.coordinate, 2, 0}, Point{0, 0, 2}});
    dir.write("in.stl", converter_style(model));
    dir.write("out.stl", "old content\n");
    const auto run =
        testing_support::run_prepare(dir, {"--units", std::string(c.unit), "in.stl", "out.stl"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("the coordinate " + shortest(c.coordinate) +
                           " at line 86 falls below the smallest normal number"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(dir.read("out.stl"), "old content\n");
    const auto check = testing_support::run_check(dir, {"--units", std::string(c.unit), "in.stl"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("in the facet at line 86 falls below the smallest normal number"),
              std::string::npos)
        << check.out;
  }
}

}  // namespace
