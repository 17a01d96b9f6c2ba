// The companion layer: the JSON writer's escaping and numbers, the report
// rows, and the command-line reader the companions share.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "companion/json_writer.h"
#include "companion/options.h"
#include "companion/report_rows.h"

namespace {

using namespace std::string_view_literals;

TEST(JsonString, EscapesControlsAndNonAsciiAndReplacesInvalidUtf8) {
  struct Case {
    std::string_view text;
    std::string_view json;
  };
  const Case cases[] = {
      {           "plain"sv,                        "\"plain\""},
      {         "a\"b\\c"sv,                  "\"a\\\"b\\\\c\""},
      {    "\n\t\x01\x1f"sv, "\"\\u000a\\u0009\\u0001\\u001f\""},
      {         "\x7f \0"sv,              "\"\\u007f \\u0000\""},
      {        "\xc2\x85"sv,                      "\"\\u0085\""}, // C1 control NEL
      {        "\xc3\xa9"sv,                      "\"\\u00e9\""}, // e acute
      {    "\xe2\x82\xac"sv,                      "\"\\u20ac\""}, // euro sign
      {"\xf0\x9f\x98\x80"sv,               "\"\\ud83d\\ude00\""}, // above U+FFFF
      {"\xf4\x8f\xbf\xbf"sv,               "\"\\udbff\\udfff\""}, // U+10FFFF
      {            "\x80"sv,                      "\"\\ufffd\""}, // stray continuation
      {        "\xc0\xaf"sv,               "\"\\ufffd\\ufffd\""}, // overlong '/'
      {    "\xed\xa0\x80"sv,        "\"\\ufffd\\ufffd\\ufffd\""}, // a surrogate
      {"\xf4\x90\x80\x80"sv, "\"\\ufffd\\ufffd\\ufffd\\ufffd\""}, // past U+10FFFF
      {       "a\xe2\x82"sv,              "\"a\\ufffd\\ufffd\""}, // cut at the end
      {       "\xe2\x82x"sv,              "\"\\ufffd\\ufffdx\""}, // cut by ASCII
      {            "\xff"sv,                      "\"\\ufffd\""},
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
      {                                     0.1,    "0.1"},
      {                                    -0.0,     "-0"},
      {                                   343.0,    "343"},
      {                                   1e300, "1e+300"},
      {                               0x1p-1074, "5e-324"},
      { std::numeric_limits<double>::infinity(),   "null"},
      {-std::numeric_limits<double>::infinity(),   "null"},
      {std::numeric_limits<double>::quiet_NaN(),   "null"},
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

TEST(ReportRows, GroupsDigitsByThousands) {
  struct Case {
    std::int64_t value;
    std::string_view text;
  };
  constexpr Case cases[] = {
      {                                       0,                          "0"},
      {                                     999,                        "999"},
      {                                    1000,                      "1,000"},
      {                                   -1000,                     "-1,000"},
      {                                 3333333,                  "3,333,333"},
      {std::numeric_limits<std::int64_t>::min(), "-9,223,372,036,854,775,808"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(companion::group_digits(c.value), c.text);
  }
}

TEST(ReportRows, ValuesLineUpAndALongLabelMovesTheColumn) {
  const std::vector<companion::ReportRow> rows = {
      {"size", "1 bytes"},
      {    "",  "(more)"}
  };
  EXPECT_EQ(companion::render_rows(rows, 10), "  size    1 bytes\n          (more)\n");
  const std::vector<companion::ReportRow> long_rows = {
      {"elements per wavelength", "7"},
      {                   "size", "1"}
  };
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
    {   "--json", false,   ""},
    {"--density",  true,   ""},
    {   "--view",  true,   ""},
    {   "--help", false, "-h"},
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
      {  "1.5",          1.5},
      { "+1.5",          1.5},
      {   "-2",         -2.0}, // the sign is the caller's to
  // judge
      { "1e-3",        0.001},
      {  "++1", std::nullopt},
      {  "+-1", std::nullopt},
      {     "", std::nullopt},
      {   " 1", std::nullopt},
      {   "1 ", std::nullopt},
      {  "1Hz", std::nullopt},
      {"1e999", std::nullopt},
      {  "nan", std::nullopt},
      {  "inf", std::nullopt},
      { "0x10", std::nullopt},
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

}  // namespace
