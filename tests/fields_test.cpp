#include "format/fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using format::render_exp;
using format::render_fixed;
using format::render_int;
using format::render_text;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

// Renders into the middle of a guarded buffer, so that a write outside the
// field shows up as a changed guard character.
template <typename Render>
std::string render_guarded(std::size_t width, Render render) {
  constexpr std::size_t GUARD = 8;
  std::string buffer(width + 2 * GUARD, '#');
  render(std::span<char>(buffer.data() + GUARD, width));
  EXPECT_EQ(buffer.substr(0, GUARD), std::string(GUARD, '#')) << "write before the field";
  EXPECT_EQ(buffer.substr(GUARD + width), std::string(GUARD, '#')) << "write after the field";
  return buffer.substr(GUARD, width);
}

std::string hex(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

// ---------------------------------------------------------------------------
// Examples of the format, one table per renderer
// ---------------------------------------------------------------------------

TEST(RenderInt, RightAlignsOrFillsWithAsterisks) {
  struct Case {
    std::int32_t value;
    std::size_t width;
    std::string_view expected;
  };
  constexpr Case cases[] = {
      {0, 8, "       0"},
      {12345678, 8, "12345678"},  // exactly full: no blank left
      {123456789, 8, "********"},
      {-1234567, 8, "-1234567"},
      {-12345678, 8, "********"},  // the sign is one column too many
      {5000000, 10, "   5000000"},
      {0, 6, "     0"},
      {3, 15, "              3"},
      {INT32_MAX, 10, "2147483647"},
      {INT32_MIN, 11, "-2147483648"},
      {INT32_MIN, 10, "**********"},
      {-1, 1, "*"},
      {7, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " in " << c.width);
    EXPECT_EQ(render_guarded(c.width, [&](std::span<char> f) { render_int(c.value, f); }),
              c.expected);
  }
}

struct ExpCase {
  double value;
  std::size_t width;
  int digits;
  char letter;
  std::string_view expected;
};

void check_exp_cases(std::span<const ExpCase> cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << hex(c.value) << " as EXP(" << c.width << "." << c.digits
                                    << " " << c.letter << ")");
    EXPECT_EQ(render_guarded(
                  c.width, [&](std::span<char> f) { render_exp(c.value, c.digits, c.letter, f); }),
              c.expected);
  }
}

TEST(RenderExp, DeckCoordinateForm) {
  constexpr ExpCase cases[] = {
      {1.0, 24, 15, 'D', "   0.100000000000000D+01"},
      {-1.0, 24, 15, 'D', "  -0.100000000000000D+01"},
      {0.0, 24, 15, 'D', "   0.000000000000000D+00"},
      {-0.0, 24, 15, 'D', "   0.000000000000000D+00"},
      {343.0, 24, 15, 'D', "   0.343000000000000D+03"},
      {0.1, 24, 15, 'D', "   0.100000000000000D+00"},
      {1.5, 24, 15, 'D', "   0.150000000000000D+01"},
      {-2.25, 24, 15, 'D', "  -0.225000000000000D+01"},
      {1e-100, 24, 15, 'D', "   0.100000000000000D-99"},
      {1e-120, 24, 15, 'D', "   0.100000000000000-119"},
      {1e99, 24, 15, 'D', "   0.100000000000000+100"},  // 1e99 lies below 10^99
      {1e100, 24, 15, 'D', "   0.100000000000000+101"},
      {0x1p-1074, 24, 15, 'D', "   0.494065645841247-323"},
      {-0x1p-1074, 24, 15, 'D', "  -0.494065645841247-323"},
      {0x1p-1022, 24, 15, 'D', "   0.222507385850720-307"},  // smallest normal
      {0x1.fffffffffffffp+1023, 24, 15, 'D', "   0.179769313486232+309"},
      {0.9999999999999999, 24, 15, 'D', "   0.100000000000000D+01"},  // carry past d1
      {1234567890123455.0, 24, 15, 'D', "   0.123456789012346D+16"},  // exact tie, odd: up
      {1234567890123445.0, 24, 15, 'D', "   0.123456789012344D+16"},  // exact tie, even: stays
  };
  check_exp_cases(cases);
}

TEST(RenderExp, MeshViewForm) {
  constexpr ExpCase cases[] = {
      {1.0, 15, 7, 'E', "  0.1000000E+01"},
      {-1.0, 15, 7, 'E', " -0.1000000E+01"},
      {0.0, 15, 7, 'E', "  0.0000000E+00"},
      {-0.0, 15, 7, 'E', "  0.0000000E+00"},
      {0.125, 15, 7, 'E', "  0.1250000E+00"},
      {1e100, 15, 7, 'E', "  0.1000000+101"},
      {-9.87654321e-07, 15, 7, 'E', " -0.9876543E-06"},
      {1234567.5, 15, 7, 'E', "  0.1234568E+07"},  // exact tie, odd: up
      {1234568.5, 15, 7, 'E', "  0.1234568E+07"},  // exact tie, even: stays
      {9999999.5, 15, 7, 'E', "  0.1000000E+08"},  // tie that carries
      {0x1p-1074, 15, 7, 'E', "  0.4940656-323"},
  };
  check_exp_cases(cases);
}

TEST(RenderExp, NarrowFieldsDropTheZeroThenGiveAsterisks) {
  constexpr ExpCase cases[] = {
      {-1.0, 12, 5, 'E', "-0.10000E+01"}, {-1.0, 11, 5, 'E', "-.10000E+01"},
      {-1.0, 10, 5, 'E', "**********"},   {1.0, 11, 5, 'E', "0.10000E+01"},
      {1.0, 10, 5, 'E', ".10000E+01"},    {1.0, 9, 5, 'E', "*********"},
      {1e200, 10, 5, 'E', ".10000+201"},  // three-digit exponent: same four columns
  };
  check_exp_cases(cases);
}

// 0.1 is stored as 0.1000000000000000055511151231257827..., 0.3 as
// 0.2999999999999999888977697537484345..., so more digits show the binary value.
TEST(RenderExp, MoreDigitsThanTheFastPathCoversStayExact) {
  constexpr ExpCase cases[] = {
      {0.1, 32, 25, 'E', " 0.1000000000000000055511151E+00"},
      {0x1p-1074, 24, 17, 'D', " 0.49406564584124654-323"},
      {0x1.fffffffffffffp+1023, 24, 17, 'D', " 0.17976931348623157+309"},
      {0.3, 26, 20, 'E', "0.29999999999999998890E+00"},  // rounds up
  };
  check_exp_cases(cases);
}

TEST(RenderExp, DigitsBeyondTheExactExpansionAreZeros) {
  // The smallest subnormal has 751 significant digits; asking for 800 pads
  // them with zeros.
  constexpr int DIGITS = 800;
  std::vector<char> library(DIGITS + 16);
  std::snprintf(library.data(), library.size(), "%.*e", DIGITS - 1, 0x1p-1074);
  std::string expected =
      "0." + std::string(1, library[0]) + std::string(library.data() + 2, DIGITS - 1) + "-323";
  EXPECT_EQ(expected.substr(expected.size() - 4 - 40, 40), std::string(40, '0'));
  EXPECT_EQ(render_guarded(expected.size(),
                           [](std::span<char> f) { render_exp(0x1p-1074, DIGITS, 'E', f); }),
            expected);
}

TEST(RenderExp, NotANumberAndInfinity) {
  const double negative_nan = std::bit_cast<double>(std::uint64_t{0xFFF8000000000000});
  const ExpCase cases[] = {
      {INF, 24, 15, 'D', "                Infinity"},
      {-INF, 24, 15, 'D', "               -Infinity"},
      {NAN_VALUE, 24, 15, 'D', "                     NaN"},
      {negative_nan, 24, 15, 'D', "                     NaN"},  // a NaN never shows a sign
      {NAN_VALUE, 3, 7, 'E', "NaN"},
      {NAN_VALUE, 2, 7, 'E', "**"},
      {INF, 8, 7, 'E', "Infinity"},
      {INF, 7, 7, 'E', "    Inf"},
      {INF, 3, 7, 'E', "Inf"},
      {INF, 2, 7, 'E', "**"},
      {-INF, 9, 7, 'E', "-Infinity"},
      {-INF, 8, 7, 'E', "    -Inf"},
      {-INF, 4, 7, 'E', "-Inf"},
      {-INF, 3, 7, 'E', "***"},
  };
  check_exp_cases(cases);
}

TEST(RenderFixed, ConstantsAndRounding) {
  struct Case {
    double value;
    std::size_t width;
    int decimals;
    std::string_view expected;
  };
  constexpr Case cases[] = {
      {343.0, 10, 2, "    343.00"},
      {1.29, 10, 2, "      1.29"},
      {54.59, 10, 2, "     54.59"},
      {0.125, 10, 2, "      0.12"},  // exact tie: even digit
      {0.375, 10, 2, "      0.38"},  // exact tie: even digit
      {0.025, 10, 2, "      0.03"},  // stored value lies above the tie
      {0.015, 10, 2, "      0.01"},  // stored value lies below the tie
      {-0.005, 10, 2, "     -0.01"},
      {-9.87654321e-07, 10, 2, "     -0.00"},  // negative normal rounding to zero
      {-0x1p-1022, 10, 2, "     -0.00"},
      {-0x1p-1074, 10, 2, "      0.00"},  // subnormal rounding to zero: no sign
      {0.0, 10, 2, "      0.00"},
      {-0.0, 10, 2, "      0.00"},
      {9999999.99, 10, 2, "9999999.99"},   // exactly full
      {9999999.996, 10, 2, "**********"},  // carry into an eleventh column
      {1e15, 10, 2, "**********"},
      {INF, 10, 2, "  Infinity"},
      {-INF, 10, 2, " -Infinity"},
      {NAN_VALUE, 10, 2, "       NaN"},
      {0.5, 3, 2, ".50"},
      {0.5, 4, 2, "0.50"},
      {-0.5, 4, 2, "-.50"},
      {-0.5, 3, 2, "***"},
      {7.0, 2, 0, "7."},
      // With no decimals the zero before the point is required:
      {0.3, 2, 0, "0."},
      {0.3, 1, 0, "*"},
      {2.5, 3, 0, " 2."},  // exact tie: even
      {3.5, 3, 0, " 4."},
      {-INF, 8, 2, "    -Inf"},
      {-INF, 3, 2, "***"},
      {0.1, 24, 20, "  0.10000000000000000555"},  // 0.1 as stored
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << hex(c.value) << " as FIX(" << c.width << "." << c.decimals << ")");
    EXPECT_EQ(
        render_guarded(c.width, [&](std::span<char> f) { render_fixed(c.value, c.decimals, f); }),
        c.expected);
  }
}

TEST(RenderText, CutsOrRightAligns) {
  struct Case {
    std::string_view text;
    std::size_t width;
    std::string_view expected;
  };
  constexpr Case cases[] = {
      {"07-DEC-26", 9, "07-DEC-26"},
      {"abc", 5, "  abc"},
      {"abcdef", 3, "abc"},
      {"", 2, "  "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(render_guarded(c.width, [&](std::span<char> f) { render_text(c.text, f); }),
              c.expected);
  }
}

// ---------------------------------------------------------------------------
// Bulk cross-checks against the C library, which converts the stored binary
// value exactly and rounds exact ties to even.
// ---------------------------------------------------------------------------

struct ExpForm {
  std::size_t width;
  int digits;
  char letter;
};
constexpr ExpForm DECK_FORM{24, 15, 'D'};
constexpr ExpForm VIEW_FORM{15, 7, 'E'};

// The field the format asks for, built from the library's digits.
std::string expected_exp(double value, const ExpForm& form) {
  std::string digits;
  int exponent = 0;
  if (value == 0) {
    digits.assign(static_cast<std::size_t>(form.digits), '0');
  } else {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", form.digits - 1, std::fabs(value));
    const std::string_view converted(text);
    const std::size_t e_position = converted.find('e');
    digits = std::string(converted.substr(0, e_position));
    digits.erase(1, 1);  // the point
    exponent = std::atoi(text + e_position + 1) + 1;
  }
  char exponent_part[16];
  if (std::abs(exponent) <= 99) {
    std::snprintf(exponent_part, sizeof exponent_part, "%c%c%02d", form.letter,
                  exponent < 0 ? '-' : '+', std::abs(exponent));
  } else {
    std::snprintf(exponent_part, sizeof exponent_part, "%c%03d", exponent < 0 ? '-' : '+',
                  std::abs(exponent));
  }
  const std::string sign = value < 0 ? "-" : "";
  std::string text = "." + digits + exponent_part;
  if (sign.size() + text.size() < form.width) text = "0" + text;
  text = sign + text;
  if (text.size() > form.width) return std::string(form.width, '*');
  return std::string(form.width - text.size(), ' ') + text;
}

// FIX(10.2) built from the library's digits.
std::string expected_fixed_10_2(double value) {
  constexpr std::size_t WIDTH = 10;
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  std::string text = buffer;
  const bool rounds_to_zero = text.find_first_not_of("-0.") == std::string::npos;
  if (text[0] == '-' && rounds_to_zero && std::fabs(value) < DBL_MIN) text.erase(0, 1);
  if (text.size() > WIDTH) return std::string(WIDTH, '*');
  return std::string(WIDTH - text.size(), ' ') + text;
}

constexpr int MAX_REPORTED = 10;

void cross_check_exp(const std::vector<double>& values, const ExpForm& form) {
  std::string field(form.width, '?');
  int failures = 0;
  for (const double value : values) {
    render_exp(value, form.digits, form.letter, field);
    const std::string expected = expected_exp(value, form);
    if (field != expected) {
      ADD_FAILURE() << hex(value) << " (" << std::setprecision(17) << value << "): got \"" << field
                    << "\", expected \"" << expected << "\"";
      if (++failures == MAX_REPORTED) return;
    }
  }
}

void cross_check_fixed(const std::vector<double>& values) {
  std::string field(10, '?');
  int failures = 0;
  for (const double value : values) {
    render_fixed(value, 2, field);
    const std::string expected = expected_fixed_10_2(value);
    if (field != expected) {
      ADD_FAILURE() << hex(value) << ": got \"" << field << "\", expected \"" << expected << "\"";
      if (++failures == MAX_REPORTED) return;
    }
  }
}

class RandomValues {
 public:
  explicit RandomValues(std::uint64_t seed) : engine_(seed) {}

  std::uint64_t bits() { return engine_(); }
  std::uint64_t below(std::uint64_t limit) {
    return std::uniform_int_distribution<std::uint64_t>(0, limit - 1)(engine_);
  }
  std::uint64_t between(std::uint64_t low, std::uint64_t high) {
    return std::uniform_int_distribution<std::uint64_t>(low, high)(engine_);
  }
  double sign(double magnitude) { return (engine_() & 1) != 0 ? -magnitude : magnitude; }

  // Any finite double, every bit pattern equally likely.
  double finite() {
    for (;;) {
      const double value = std::bit_cast<double>(bits());
      if (std::isfinite(value)) return value;
    }
  }
  // A finite double whose binary exponent lies in [low, high].
  double with_exponent(int low, int high) {
    const auto biased = static_cast<std::uint64_t>(
        static_cast<int>(between(0, static_cast<std::uint64_t>(high - low))) + low + 1023);
    const std::uint64_t mantissa = bits() & ((std::uint64_t{1} << 52) - 1);
    return sign(std::bit_cast<double>((biased << 52) | mantissa));
  }
  double subnormal() {
    const std::uint64_t mantissa = bits() >> (12 + below(52));  // all bit lengths alike
    return sign(std::bit_cast<double>(mantissa == 0 ? std::uint64_t{1} : mantissa));
  }
  // A value as an STL file writes it: six significant digits, read back.
  double stl_like() {
    char text[32];
    const double mantissa = static_cast<double>(below(1000000)) / 1000.0;
    std::snprintf(text, sizeof text, "%.6g",
                  std::ldexp(mantissa, static_cast<int>(below(20)) - 10));
    return sign(std::strtod(text, nullptr));
  }

 private:
  std::mt19937_64 engine_;
};

constexpr std::uint64_t SEED = 20260101;

std::uint64_t power_of_ten(int exponent) {
  std::uint64_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

std::uint64_t power_of_five(int exponent) {
  std::uint64_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= 5;
  return result;
}

// Doubles whose exact decimal expansion has digits+1 significant digits, the
// last a 5: exact ties at the rounding digit. A double A * 2^-j with odd A
// has the significant digits of A * 5^j; and N * 10^i, with N ending in 5,
// is exact as long as N * 5^i stays below 2^53. Each tie comes with its two
// neighbours, the closest values that must not be treated as ties.
std::vector<double> exact_ties(int digits, std::size_t count) {
  RandomValues random(SEED + 1);
  const std::uint64_t low = power_of_ten(digits);
  const std::uint64_t high = power_of_ten(digits + 1) - 1;
  constexpr std::uint64_t EXACT_LIMIT = std::uint64_t{1} << 53;
  int max_fraction_bits = 0;
  while (power_of_five(max_fraction_bits + 1) <= high) ++max_fraction_bits;

  std::vector<double> values;
  while (values.size() < count) {
    double tie = 0;
    const int choice =
        static_cast<int>(random.below(static_cast<std::uint64_t>(max_fraction_bits) + 12));
    if (choice <= max_fraction_bits) {
      const int j = choice;
      const std::uint64_t five_j = power_of_five(j);
      const std::uint64_t a_low = (low + five_j - 1) / five_j;
      const std::uint64_t a_high = std::min(high / five_j, EXACT_LIMIT - 1);
      if (a_low > a_high) continue;
      std::uint64_t a = random.between(a_low, a_high) | 1;
      if (a > a_high) a -= 2;
      if (a < a_low || (a * five_j) % 10 != 5) continue;
      tie = std::ldexp(static_cast<double>(a), -j);
    } else {
      const int i = choice - max_fraction_bits;
      const std::uint64_t n = random.between(low / 10, high / 10) * 10 + 5;
      if (n > (EXACT_LIMIT - 1) / power_of_five(i)) continue;
      tie = std::ldexp(static_cast<double>(n * power_of_five(i)), i);
    }
    tie = random.sign(tie);
    values.push_back(tie);
    values.push_back(std::nextafter(tie, INF));
    values.push_back(std::nextafter(tie, -INF));
  }
  return values;
}

// Values within a few units in the last place of a rounding boundary, at
// every decimal exponent: digits+1 significant digits ending in 5, followed
// by a long run of 0s or 9s, read back by the C library.
std::vector<double> near_ties(int digits, std::size_t count) {
  RandomValues random(SEED + 2);
  std::vector<double> values;
  while (values.size() < count) {
    std::string text = "0.";
    text += std::to_string(random.between(power_of_ten(digits - 1), power_of_ten(digits) - 1));
    text += '5';
    text += std::string(random.below(4) + 4, random.below(2) == 0 ? '0' : '9');
    text += std::to_string(random.below(10));
    text += 'e' + std::to_string(static_cast<int>(random.below(632)) - 322);
    const double value = random.sign(std::strtod(text.c_str(), nullptr));
    if (value == 0 || !std::isfinite(value)) continue;
    values.push_back(value);
  }
  return values;
}

// Powers of ten and the places where rounding to 7 or 15 digits carries into
// a new leading digit, each with its neighbours: every decimal exponent.
std::vector<double> near_powers_of_ten() {
  std::vector<double> values;
  for (int exponent = -324; exponent <= 308; ++exponent) {
    for (const char* mantissa : {"1", "9.99999999999999950", "9.99999950", "9.5"}) {
      const std::string text = std::string(mantissa) + "e" + std::to_string(exponent);
      double value = std::strtod(text.c_str(), nullptr);
      if (value == 0 || !std::isfinite(value)) continue;
      for (int step = 0; step < 3; ++step) value = std::nextafter(value, 0.0);
      for (int step = 0; step < 7; ++step) {
        values.push_back(value);
        values.push_back(-value);
        value = std::nextafter(value, INF);
      }
    }
  }
  return values;
}

class RenderExpCrossCheck : public testing::TestWithParam<ExpForm> {};

TEST_P(RenderExpCrossCheck, AnyBitPattern) {
  RandomValues random(SEED);
  std::vector<double> values;
  for (int i = 0; i < 600000; ++i) values.push_back(random.finite());
  for (int i = 0; i < 100000; ++i) values.push_back(random.subnormal());
  for (int i = 0; i < 100000; ++i) values.push_back(random.stl_like());
  cross_check_exp(values, GetParam());
}

TEST_P(RenderExpCrossCheck, ExactTiesAndTheirNeighbours) {
  cross_check_exp(exact_ties(GetParam().digits, 150000), GetParam());
}

TEST_P(RenderExpCrossCheck, NearTiesAtEveryExponent) {
  cross_check_exp(near_ties(GetParam().digits, 150000), GetParam());
}

TEST_P(RenderExpCrossCheck, NearPowersOfTen) { cross_check_exp(near_powers_of_ten(), GetParam()); }

// Fields of recently rendered values are reused: values drawn again and
// again from a pool larger than that memory, so that reuse and eviction both
// happen all the time, each still gives its own field.
TEST_P(RenderExpCrossCheck, RepeatedValues) {
  RandomValues random(SEED + 3);
  std::vector<double> pool = {0.0, -0.0, 0x1p-1074, -0x1p-1074, 1.0, -1.0};
  for (int i = 0; i < 1500; ++i) {
    const double value = i % 2 == 0 ? random.stl_like() : random.finite();
    pool.push_back(value);
    pool.push_back(-value);  // the same digits, another field
  }
  std::vector<double> values;
  for (int i = 0; i < 300000; ++i) values.push_back(pool[random.below(pool.size())]);
  cross_check_exp(values, GetParam());

  // A NaN, whatever its bits, is never taken for another value's field.
  const ExpForm form = GetParam();
  std::string field(form.width, '?');
  for (const std::uint64_t bits : {~std::uint64_t{0}, std::uint64_t{0x7FF8000000000000u}}) {
    format::render_exp(std::bit_cast<double>(bits), form.digits, form.letter, field);
    EXPECT_EQ(field, std::string(field.size() - 3, ' ') + "NaN");
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, RenderExpCrossCheck, testing::Values(DECK_FORM, VIEW_FORM),
                         [](const testing::TestParamInfo<ExpForm>& form_info) {
                           return form_info.param.letter == 'D' ? std::string("Deck24_15D")
                                                                : std::string("View15_7E");
                         });

// The forms in use have 7 and 15 digits, which have a fast path of their
// own; other layouts would take other counts, which go the exact way.
TEST(RenderExpCrossCheck, EveryDigitCount) {
  RandomValues random(SEED + 4);
  for (int digits = 1; digits <= 18; ++digits) {
    SCOPED_TRACE(testing::Message() << digits << " digits");
    std::vector<double> values = exact_ties(digits, 6000);
    const std::vector<double> near = near_ties(digits, 6000);
    values.insert(values.end(), near.begin(), near.end());
    for (int i = 0; i < 10000; ++i) values.push_back(random.finite());
    const std::size_t width = static_cast<std::size_t>(digits) + 7;
    cross_check_exp(values, {width, digits, 'E'});
  }
}

TEST(RenderFixedCrossCheck, Field10_2) {
  RandomValues random(SEED + 3);
  std::vector<double> values;
  for (int i = 0; i < 300000; ++i) values.push_back(random.finite());
  for (int i = 0; i < 100000; ++i) values.push_back(random.subnormal());
  // Values that fit or nearly fit the field, down to those that round to zero.
  for (int i = 0; i < 400000; ++i) values.push_back(random.with_exponent(-30, 24));
  // Exact ties at the second decimal are the odd eighths; with neighbours.
  for (int i = 0; i < 70000; ++i) {
    const double tie = random.sign(static_cast<double>(random.below(100000)) +
                                   static_cast<double>(2 * random.below(4) + 1) / 8.0);
    values.push_back(tie);
    values.push_back(std::nextafter(tie, INF));
    values.push_back(std::nextafter(tie, -INF));
  }
  cross_check_fixed(values);
}

}  // namespace
