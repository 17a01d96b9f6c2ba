// The companion layer: the JSON writer's escaping and numbers, the report
// rows, the command-line reader the companions share with its frequency
// settings, and the Tecplot zones of a view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "companion/frequency_options.h"
#include "companion/json_writer.h"
#include "companion/options.h"
#include "companion/report_rows.h"
#include "companion/tecplot_zones.h"

namespace {

using namespace std::string_view_literals;

TEST(JsonString, EscapesControlsAndNonAsciiAndReplacesInvalidUtf8) {
  struct Case {
    std::string_view text;
    std::string_view json;
  };
  const Case cases[] = {
      {"plain"sv, "\"plain\""},
      {"a\"b\\c"sv, "\"a\\\"b\\\\c\""},
      {"\n\t\x01\x1f"sv, "\"\\u000a\\u0009\\u0001\\u001f\""},
      {"\x7f \0"sv, "\"\\u007f \\u0000\""},
      {"\xc2\x85"sv, "\"\\u0085\""},                               // C1 control NEL
      {"\xc3\xa9"sv, "\"\\u00e9\""},                               // e acute
      {"\xe2\x82\xac"sv, "\"\\u20ac\""},                           // euro sign
      {"\xf0\x9f\x98\x80"sv, "\"\\ud83d\\ude00\""},                // above U+FFFF
      {"\xf4\x8f\xbf\xbf"sv, "\"\\udbff\\udfff\""},                // U+10FFFF
      {"\x80"sv, "\"\\ufffd\""},                                   // stray continuation
      {"\xc0\xaf"sv, "\"\\ufffd\\ufffd\""},                        // overlong '/'
      {"\xed\xa0\x80"sv, "\"\\ufffd\\ufffd\\ufffd\""},             // a surrogate
      {"\xf4\x90\x80\x80"sv, "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
      {"a\xe2\x82"sv, "\"a\\ufffd\\ufffd\""},                      // cut at the end
      {"\xe2\x82x"sv, "\"\\ufffd\\ufffdx\""},                      // cut by ASCII
      {"\xff"sv, "\"\\ufffd\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(companion::json_string(c.text), c.json);
  }
}

TEST(JsonString, EveryByteGivesPlainAsciiThatIsOneString) {
  // Whatever the bytes, the text is printable ASCII, opens and closes with
  // a quote, and every quote or backslash inside is escaped.
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  for (std::size_t start = 0; start < all.size(); ++start) {
    const std::string json = companion::json_string(std::string_view(all).substr(start));
    ASSERT_GE(json.size(), 2u);
    ASSERT_EQ(json.front(), '"');
    ASSERT_EQ(json.back(), '"');
    for (std::size_t i = 1; i + 1 < json.size(); ++i) {
      const auto c = static_cast<unsigned char>(json[i]);
      ASSERT_TRUE(c >= 0x20 && c < 0x7f) << "byte " << int(c) << " from start " << start;
      if (c == '\\') {
        ++i;
        ASSERT_NE(std::string_view("\"\\u").find(json[i]), std::string_view::npos);
      } else {
        ASSERT_NE(c, '"') << "an unescaped quote from start " << start;
      }
    }
  }
}

TEST(JsonNumber, ShortestRoundTripAndNullForNonFinite) {
  struct Case {
    double value;
    std::string_view json;
  };
  const Case cases[] = {
      {0.1, "0.1"},
      {-0.0, "-0"},
      {343.0, "343"},
      {1e300, "1e+300"},
      {0x1p-1074, "5e-324"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(companion::json_number(c.value), c.json);
  }
}

TEST(JsonObject, KeysInOrderOnePerLineAndStrictValues) {
  companion::JsonObject empty;
  EXPECT_EQ(empty.finish(), "{}\n");
  companion::JsonObject json;
  json.add_string("path", "a\nb");
  json.add_number("edge", std::nan(""));
  json.add_number("absent", std::optional<double>{});
  json.add_integer("count", -12);
  json.add_bool("ready", false);
  json.add_null("view");
  EXPECT_EQ(json.finish(),
            "{\n  \"path\": \"a\\u000ab\",\n  \"edge\": null,\n  \"absent\": null,\n"
            "  \"count\": -12,\n  \"ready\": false,\n  \"view\": null\n}\n");
}

TEST(JsonObject, NestedValuesOnOneLine) {
  EXPECT_EQ(companion::json_array({}), "[]");
  EXPECT_EQ(companion::json_line_object({}), "{}");
  const std::string corner[] = {companion::json_number(-0.5),
                                companion::json_number(std::numeric_limits<double>::infinity()),
                                "3"};
  const companion::JsonMember members[] = {
      {"corner", companion::json_array(corner)},
      {"a\"b", "[]"},  // a key is escaped like any string
  };
  EXPECT_EQ(companion::json_line_object(members), "{\"corner\": [-0.5, null, 3], \"a\\\"b\": []}");
}

TEST(ReportRows, GroupsDigitsByThousands) {
  struct Case {
    std::int64_t value;
    std::string_view text;
  };
  constexpr Case cases[] = {
      {0, "0"},
      {999, "999"},
      {1000, "1,000"},
      {-1000, "-1,000"},
      {3333333, "3,333,333"},
      {std::numeric_limits<std::int64_t>::min(), "-9,223,372,036,854,775,808"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(companion::group_digits(c.value), c.text);
  }
}

TEST(ReportRows, ValuesLineUpAndALongLabelMovesTheColumn) {
  const std::vector<companion::ReportRow> rows = {{"size", "1 bytes"}, {"", "(more)"}};
  EXPECT_EQ(companion::render_rows(rows, 10), "  size    1 bytes\n          (more)\n");
  const std::vector<companion::ReportRow> long_rows = {{"elements per wavelength", "7"},
                                                       {"size", "1"}};
  EXPECT_EQ(companion::render_rows(long_rows, 10),
            "  elements per wavelength 7\n  size                    1\n");
}

TEST(ReportRows, ReadableNumbers) {
  EXPECT_EQ(companion::readable_number(0.3904903), "0.39049");
  EXPECT_EQ(companion::readable_number(343.0), "343");
  EXPECT_EQ(companion::readable_number(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(companion::readable_number(std::nan("")), "nan");
}

// A small command line: one switch, two options with values, a short name.
constexpr companion::OptionRule RULES[] = {
    {"--json", false, ""},
    {"--density", true, ""},
    {"--view", true, ""},
    {"--help", false, "-h"},
};

TEST(ReadOptions, OneLoopOneRuleSet) {
  struct Case {
    std::vector<std::string_view> arguments;
    std::string_view problem;  // empty when the line is usable
    std::string_view density;  // the value read, "-" for none
    std::vector<std::string> operands;
  };
  const auto row = [](std::vector<std::string_view> arguments, std::string_view problem,
                      std::string_view density, std::vector<std::string> operands) {
    return Case{std::move(arguments), problem, density, std::move(operands)};
  };
  const Case cases[] = {
      row({"--density", "1.2", "deck"}, "", "1.2", {"deck"}),
      row({"--density=1.2"}, "", "1.2", {}),
      row({"--density="}, "", "", {}),  // an empty value is the caller's to refuse
      row({"deck", "--json"}, "", "-", {"deck"}),
      row({"--", "--json", "-"}, "", "-", {"--json", "-"}),
      row({"-"}, "", "-", {"-"}),
      row({"-h"}, "", "-", {}),
      row({"--density", "1", "--density", "2"}, "--density is given twice: give it once", "-", {}),
      row({"--json", "--json"}, "--json is given twice: give it once", "-", {}),
      row({"--density"}, "--density needs a value", "-", {}),
      row({"--json=yes"}, "--json takes no value", "-", {}),
      row({"--densit", "1"}, "unknown option '--densit' (try --help)", "-", {}),
      row({"-x"}, "unknown option '-x' (try --help)", "-", {}),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const companion::ReadOptions read = companion::read_options(c.arguments, RULES);
    EXPECT_EQ(read.problem, c.problem);
    if (!c.problem.empty()) continue;
    EXPECT_EQ(read.has(1) ? std::string_view(*read.values[1]) : "-"sv, c.density);
    EXPECT_EQ(read.operands, c.operands);
  }
}

TEST(ReadOptions, NumbersAreTheWholeTextAndFinite) {
  struct Case {
    std::string_view text;
    std::optional<double> number;
  };
  const Case cases[] = {
      {"1.5", 1.5},
      {"+1.5", 1.5},
      {"-2", -2.0},  // the sign is the caller's to
                     // judge
      {"1e-3", 0.001},
      {"++1", std::nullopt},
      {"+-1", std::nullopt},
      {"", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"1Hz", std::nullopt},
      {"1e999", std::nullopt},
      {"nan", std::nullopt},
      {"inf", std::nullopt},
      {"0x10", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(companion::read_number(c.text), c.number);
  }
  EXPECT_EQ(companion::read_whole_number("+20"), 20);
  EXPECT_EQ(companion::read_whole_number("999999999999999999"), 999999999999999999);
  EXPECT_EQ(companion::read_whole_number("1000000000000000000"), std::nullopt);
  EXPECT_EQ(companion::read_whole_number("2.0"), std::nullopt);
  EXPECT_EQ(companion::read_whole_number("-1"), std::nullopt);
  EXPECT_EQ(companion::bad_value("--density", "abc", "a positive number"),
            "--density needs a positive number, not 'abc'");
}

// A command's table with the three frequency options among others, not in
// the order the reader takes them.
constexpr companion::OptionRule COMMAND_RULES[] = {
    {"--json", false, ""},
    {companion::ELEMENTS_OPTION, true, ""},
    {"--weld", true, ""},
    {companion::FREQUENCY_OPTION, true, ""},
    {companion::SOUND_SPEED_OPTION, true, ""},
};

// The values read, or the message of a refusal, for one command line.
struct FrequencyRead {
  std::string problem;
  geometry::FrequencySettings settings;
};
FrequencyRead read_frequency(const std::vector<std::string_view>& arguments) {
  const companion::ReadOptions read = companion::read_options(arguments, COMMAND_RULES);
  EXPECT_EQ(read.problem, "");
  FrequencyRead result;
  result.problem = companion::read_frequency_settings(read, COMMAND_RULES, result.settings);
  return result;
}

TEST(FrequencyOptions, ReadByNameWithTheDeckDefaults) {
  struct Case {
    std::vector<std::string_view> arguments;
    double frequency_hz;
    double sound_speed;
    double elements_per_wavelength;
  };
  const Case cases[] = {
      {{}, 54.59, 343.0, 6.0},
      {{"--frequency", "+20", "m"}, 20.0, 343.0, 6.0},
      {{"--sound-speed=343000", "--weld", "1"}, 54.59, 343000.0, 6.0},
      {{"--elements-per-wavelength=.5"}, 54.59, 343.0, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const FrequencyRead read = read_frequency(c.arguments);
    EXPECT_EQ(read.problem, "");
    EXPECT_EQ(read.settings.frequency_hz, c.frequency_hz);
    EXPECT_EQ(read.settings.sound_speed, c.sound_speed);
    EXPECT_EQ(read.settings.elements_per_wavelength, c.elements_per_wavelength);
  }
}

// A command line split at blanks.
std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> split;
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    split.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return split;
}

TEST(FrequencyOptions, RefusesABadValueInTheOneForm) {
  struct Case {
    std::string_view arguments;
    std::string_view problem;
  };
  const Case cases[] = {
      {"--frequency -20", "--frequency needs a positive number, not '-20'"},
      {"--sound-speed=0", "--sound-speed needs a positive number, not '0'"},
      {"--elements-per-wavelength=+", "--elements-per-wavelength needs a positive number, not '+'"},
      {"--frequency 5x", "--frequency needs a positive number, not '5x'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(read_frequency(words(c.arguments)).problem, c.problem);
  }
}

TEST(FrequencyOptions, RefusesValuesWhoseQuotientsLeaveTheRange) {
  // Each value fine alone, a quotient overflowing or vanishing.
  constexpr std::string_view cases[] = {
      "--frequency 1e-310", "--sound-speed 1e-300 --frequency 1e300",
      "--sound-speed 1e300 --elements-per-wavelength 1e-300",
      "--sound-speed 1e300 --frequency 1e-5 --elements-per-wavelength 1e-5",  // only C / HZ / K
  };
  for (const std::string_view arguments : cases) {
    SCOPED_TRACE(arguments);
    const std::string problem = read_frequency(words(arguments)).problem;
    EXPECT_NE(problem.find("out of range together"), std::string::npos) << problem;
  }
}

TEST(FrequencyOptions, AnOptionMissingFromTheTableIsNotRead) {
  // A command without --elements-per-wavelength keeps its default, whatever
  // the values of the other rules hold.
  constexpr companion::OptionRule rules[] = {
      {companion::FREQUENCY_OPTION, true, ""},
      {"--other", true, ""},
  };
  const std::vector<std::string_view> arguments = {"--other", "0.5", "--frequency", "100"};
  const companion::ReadOptions read = companion::read_options(arguments, rules);
  geometry::FrequencySettings settings;
  EXPECT_EQ(companion::read_frequency_settings(read, rules, settings), "");
  EXPECT_EQ(settings.frequency_hz, 100.0);
  EXPECT_EQ(settings.elements_per_wavelength, 6.0);
}

using geometry::Triangle;
constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

// What a view hands its sink, piece by piece.
struct Pieces {
  std::vector<std::string> pieces;
  bool refuse = false;
  companion::TextSink sink() {
    return [this](std::string_view piece) {
      pieces.emplace_back(piece);
      return !refuse;
    };
  }
  std::string text() const {
    std::string all;
    for (const std::string& piece : pieces) all += piece;
    return all;
  }
};

TEST(TecplotZones, ModelZoneFirstThenFindingsFiniteElementsOnly) {
  const std::vector<Triangle> model = {
      {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}},
      {{{0, 0, NAN_VALUE}, {1, 0, 0}, {0, 1, 0}}},  // not shown
      {{{0.1, -0.0, 1e-300}, {0x1p-1074, 2.5, 1e21}, {3, 4, 5}}},
  };
  // An edge: the last two corners equal.
  const std::vector<Triangle> edges = {{{{0, 0, 0}, {1, 0, 0}, {1, 0, 0}}}};
  const std::vector<Triangle> not_finite = {model[1]};
  Pieces out;
  companion::TecplotZones view("a \"quoted\" title", model, out.sink());
  EXPECT_TRUE(view.add_zone("open edges: 1", edges));
  EXPECT_TRUE(view.add_zone("nothing finite", not_finite));  // no zone
  EXPECT_TRUE(view.add_zone("empty", {}));                   // no zone
  EXPECT_TRUE(view.finish());
  EXPECT_EQ(out.text(),
            "TITLE = \"a \\\"quoted\\\" title\"\n"
            "VARIABLES = \"X\", \"Y\", \"Z\"\n"
            "ZONE T=\"model\", N=6, E=2, DATAPACKING=POINT, ZONETYPE=FETRIANGLE\n"
            "0 0 0\n1 0 0\n0 1 0\n"
            "0.1 -0 1e-300\n5e-324 2.5 1e+21\n3 4 5\n"
            "1 2 3\n4 5 6\n"
            "ZONE T=\"open edges: 1\", N=3, E=1, DATAPACKING=POINT, ZONETYPE=FETRIANGLE\n"
            "0 0 0\n1 0 0\n1 0 0\n"
            "1 2 3\n");
}

TEST(TecplotZones, AViewNeedsAFiniteModelElement) {
  const std::vector<Triangle> nothing;
  const std::vector<Triangle> not_finite = {
      {{{0, 0, 0}, {1, 0, 0}, {0, std::numeric_limits<double>::infinity(), 0}}}};
  const std::vector<Triangle> one = {{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}};
  EXPECT_FALSE(companion::has_zone(nothing));
  EXPECT_FALSE(companion::has_zone(not_finite));
  EXPECT_TRUE(companion::has_zone(one));
}

TEST(TecplotZones, LargeViewGoesOutInPiecesAndStopsAtARefusal) {
  // About 150,000 elements: several mebibytes of text.
  std::vector<Triangle> model(150'000, Triangle{{{0.125, 1, 2}, {3, 4.5, 5}, {6, 7, 8.75}}});
  Pieces out;
  companion::TecplotZones view("large", model, out.sink());
  EXPECT_TRUE(view.finish());
  ASSERT_GT(out.pieces.size(), 2u);
  for (std::size_t i = 0; i + 1 < out.pieces.size(); ++i) {
    EXPECT_GE(out.pieces[i].size(), std::size_t{1} << 20);
    EXPECT_LT(out.pieces[i].size(), (std::size_t{1} << 20) + 64);
  }
  const std::string text = out.text();
  EXPECT_TRUE(text.ends_with("449998 449999 450000\n"));

  Pieces refused;
  refused.refuse = true;
  companion::TecplotZones stopped("large", model, refused.sink());
  EXPECT_FALSE(stopped.add_zone("more", model));
  EXPECT_FALSE(stopped.finish());
  EXPECT_EQ(refused.pieces.size(), 1u);  // nothing after the refused piece
}

}  // namespace
