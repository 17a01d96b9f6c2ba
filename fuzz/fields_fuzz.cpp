// Fuzz target: the field renderers against plain models of their format.
//
// The input is a run of 10-byte records: the 8 bytes of a double's bits (or
// an integer, or a text), a form, a parameter. Exponent and fixed fields are
// compared with the C library's exact conversions ("%.*e", "%.*f") arranged
// into the field's form; integer and text fields with a direct model. The
// forms in use come first, then any small width. Values of the two
// coordinate forms recur within an input and across inputs, so the memo of
// recent fields is tested too: a stale field shows as a difference.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "format/fields.h"

namespace {

// What render_not_finite writes: NaN without a sign, an infinity as its long
// word, its short word, or asterisks, whichever fits first.
std::string expected_not_finite(double value, std::size_t width) {
  std::string text = "NaN";
  if (!std::isnan(value)) {
    text = value < 0 ? "-Infinity" : "Infinity";
    if (text.size() > width) text = value < 0 ? "-Inf" : "Inf";
  }
  if (text.size() > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

// Blanks, then text; asterisks when it does not fit.
std::string right_aligned(const std::string& text, std::size_t width) {
  if (text.size() > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

// EXP(w.d letter): [sign][0].d1..dd and the exponent part of 0.d form: letter,
// sign, two digits, or from |e| = 100 on sign and three digits.
std::string expected_exp(double value, std::size_t width, int digits, char letter) {
  if (!std::isfinite(value)) return expected_not_finite(value, width);
  if (digits < 1) return std::string(width, '*');
  std::string significand;
  int exponent = 0;
  if (value == 0) {
    significand.assign(static_cast<std::size_t>(digits), '0');
  } else {
    std::string text(static_cast<std::size_t>(digits) + 16, '\0');
    const int length =
        std::snprintf(text.data(), text.size(), "%.*e", digits - 1, std::fabs(value));
    text.resize(static_cast<std::size_t>(length));
    const std::size_t e_position = text.find('e');
    significand = text.substr(0, e_position);
    if (significand.size() > 1) significand.erase(1, 1);  // the point
    exponent = std::atoi(text.c_str() + e_position + 1) + 1;
  }
  char exponent_part[16];
  const int magnitude = std::abs(exponent);
  const char sign = exponent < 0 ? '-' : '+';
  if (magnitude <= 99) {
    std::snprintf(exponent_part, sizeof exponent_part, "%c%c%02d", letter, sign, magnitude);
  } else {
    std::snprintf(exponent_part, sizeof exponent_part, "%c%03d", sign, magnitude);
  }
  const std::string minus = value < 0 ? "-" : "";
  std::string body = "." + significand + exponent_part;
  if (minus.size() + body.size() < width) body = "0" + body;
  return right_aligned(minus + body, width);
}

// FIX(w.d): the "0" before the point only where it fits (always with no
// decimals); a negative value that rounds to zero keeps its sign unless it
// is subnormal.
std::string expected_fixed(double value, std::size_t width, int decimals) {
  if (!std::isfinite(value)) return expected_not_finite(value, width);
  if (decimals < 0) return std::string(width, '*');
  std::string text(400 + static_cast<std::size_t>(decimals), '\0');
  const int length = std::snprintf(text.data(), text.size(), "%.*f", decimals, std::fabs(value));
  text.resize(static_cast<std::size_t>(length));
  const bool rounds_to_zero = text.find_first_not_of("0.") == std::string::npos;
  const bool subnormal = std::fabs(value) < 0x1p-1022;
  const std::string minus = value < 0 && !(rounds_to_zero && subnormal) ? "-" : "";
  std::string integer_part = text.substr(0, text.find('.'));
  const std::string fraction = decimals > 0 ? text.substr(integer_part.size() + 1) : "";
  std::string body = integer_part + "." + fraction;
  if (integer_part == "0" && decimals > 0) {
    body = "." + fraction;
    if (minus.size() + body.size() < width) body = "0" + body;
  }
  return right_aligned(minus + body, width);
}

std::string expected_int(std::int32_t value, std::size_t width) {
  return right_aligned(std::to_string(value), width);
}

std::string expected_text(std::string_view text, std::size_t width) {
  if (text.size() >= width) return std::string(text.substr(0, width));
  return std::string(width - text.size(), ' ') + std::string(text);
}

// Renders into a heap block of exactly the field's size, so that the address
// sanitizer sees any write outside the field.
template <typename Render>
std::string rendered(std::size_t width, Render render) {
  const auto block = std::make_unique<char[]>(width == 0 ? 1 : width);
  std::memset(block.get(), '?', width);
  render(std::span<char>(block.get(), width));
  return std::string(block.get(), width);
}

void expect_same(const std::string& got, const std::string& expected) {
  if (got != expected) {
    std::fprintf(stderr, "got      \"%s\"\nexpected \"%s\"\n", got.c_str(), expected.c_str());
    std::abort();
  }
}

void check_exp(double value, std::size_t width, int digits, char letter) {
  expect_same(
      rendered(width, [&](std::span<char> f) { format::render_exp(value, digits, letter, f); }),
      expected_exp(value, width, digits, letter));
}

void check_fixed(double value, std::size_t width, int decimals) {
  expect_same(rendered(width, [&](std::span<char> f) { format::render_fixed(value, decimals, f); }),
              expected_fixed(value, width, decimals));
}

void check_int(std::int32_t value, std::size_t width) {
  expect_same(rendered(width, [&](std::span<char> f) { format::render_int(value, f); }),
              expected_int(value, width));
}

void check_text(std::string_view text, std::size_t width) {
  expect_same(rendered(width, [&](std::span<char> f) { format::render_text(text, f); }),
              expected_text(text, width));
}

// The same bits with a binary exponent whose decimal exponent needs three
// digits (below 2^-330 or from 2^333 up), where the letter gives way.
double with_three_digit_exponent(std::uint64_t bits, std::uint8_t parameter) {
  const std::uint64_t biased = (parameter & 1) != 0 ? 1 + parameter % 690 : 1360 + parameter % 686;
  return std::bit_cast<double>((bits & ~(std::uint64_t{0x7FF} << 52)) | biased << 52);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t RECORD = 10;
  for (; size >= RECORD; data += RECORD, size -= RECORD) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, data, sizeof bits);
    const double value = std::bit_cast<double>(bits);
    const auto integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    const std::uint8_t form = data[8];
    const std::uint8_t parameter = data[9];
    // The text is the record's first bytes, any of them, NUL included.
    const std::string_view text(reinterpret_cast<const char*>(data), parameter % 9);
    const char letter = (parameter & 0x80) != 0 ? 'D' : 'E';
    switch (form % 12) {
      case 0:  // the solver deck's coordinates
        check_exp(value, 24, 15, 'D');
        break;
      case 1:  // the mesh view's coordinates
        check_exp(value, 15, 7, 'E');
        break;
      case 2:  // both, with three-digit exponents
        check_exp(with_three_digit_exponent(bits, parameter), 24, 15, 'D');
        check_exp(with_three_digit_exponent(bits, parameter), 15, 7, 'E');
        break;
      case 3:  // the deck's parameters
        check_fixed(value, 10, 2);
        break;
      case 4:
        check_int(integer, 8);
        check_int(integer, 10);
        check_int(integer, 15);
        break;
      case 5:  // the deck's date
        check_text(text, 9);
        break;
      case 6:  // any small exponent field, up to 20 digits, or -1
        check_exp(value, parameter % 48, form / 12 % 42 - 1, letter);
        break;
      case 7:  // any small fixed field, up to 20 decimals, or -1
        check_fixed(value, parameter % 48, form / 12 % 42 - 1);
        break;
      case 8:
        check_int(integer, parameter % 16);
        break;
      case 9:
        check_text(text, form / 12 % 12);
        break;
      case 10:  // the coordinate forms' near cousins: one column or one digit off
        check_exp(value, 23 + parameter % 3, 15, 'D');
        check_exp(value, 24, 14 + parameter % 3, 'D');
        check_exp(value, 15, 7, 'D');
        break;
      default:  // a value rounded to few digits, as STL files hold them
        check_exp(std::round(value * 1e3) / 1e3, 24, 15, 'D');
        check_exp(std::round(value * 1e3) / 1e3, 15, 7, 'E');
        break;
    }
  }
  return 0;
}
