#include "format/exp_forms.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format/digit_chars.h"
#include "format/exp_general.h"
#include "format/recent_fields.h"
#include "format/significant_digits.h"
#include "numeric/powers_of_ten.h"
#include "numeric/wide_multiply.h"

namespace format {
namespace {

using numeric::BinaryPower;
using numeric::TRUNCATED_HIGHEST;
using numeric::TRUNCATED_LOWEST;
using numeric::TRUNCATED_POWERS;
using numeric::Uint128;

constexpr std::uint64_t HIDDEN_BIT = std::uint64_t{1} << 52;
constexpr std::uint64_t MAGNITUDE_MASK = ~(std::uint64_t{1} << 63);

// Binary exponents q of normal doubles (biased exponents 1 .. 2046), and the
// decimal exponents n whose powers 10^n start the decades they can reach.
constexpr int MIN_NORMAL_Q = 1 - 1075;
constexpr int MAX_NORMAL_Q = 2046 - 1075;
constexpr int MIN_DECADE = low_decimal_exponent(MIN_NORMAL_Q) + 1;
constexpr int MAX_DECADE = low_decimal_exponent(MAX_NORMAL_Q) + 1;
static_assert(MIN_DECADE >= TRUNCATED_LOWEST && MAX_DECADE <= TRUNCATED_HIGHEST);

// The bits of the smallest double >= 10^n. Bits of positive doubles order
// like their values, so a positive double is at least 10^n exactly when its
// bits are at least these. 10^n is a double only when the table holds it
// exactly (0 <= n <= 27, where delta = 0) and the 11 bits below the 53 kept
// are zero; otherwise the next double up is one more in the last bit, which
// carries into the exponent field by itself.
constexpr std::uint64_t decade_start_bits(int n) {
  const BinaryPower& power = TRUNCATED_POWERS[static_cast<std::size_t>(n - TRUNCATED_LOWEST)];
  const bool exact = n >= 0 && n <= 27 && (power.significand & 0x7FF) == 0;
  const auto biased_exponent = static_cast<std::uint64_t>(power.exponent + 63 + 1023);
  return (biased_exponent << 52 | ((power.significand >> 11) & (HIDDEN_BIT - 1))) + (exact ? 0 : 1);
}

constexpr std::array<std::uint64_t, MAX_DECADE - MIN_DECADE + 1> compute_decade_starts() {
  std::array<std::uint64_t, MAX_DECADE - MIN_DECADE + 1> starts{};
  for (int n = MIN_DECADE; n <= MAX_DECADE; ++n) {
    starts[static_cast<std::size_t>(n - MIN_DECADE)] = decade_start_bits(n);
  }
  return starts;
}
constexpr auto DECADE_STARTS = compute_decade_starts();

static_assert(decade_start_bits(0) == std::bit_cast<std::uint64_t>(1.0));
static_assert(decade_start_bits(22) == std::bit_cast<std::uint64_t>(1e22));
// The doubles nearest 10^23 and 10^-307 lie below them; those nearest 10^-1
// and 10^308 lie above.
static_assert(decade_start_bits(23) == std::bit_cast<std::uint64_t>(1e23) + 1);
static_assert(decade_start_bits(-307) == std::bit_cast<std::uint64_t>(1e-307) + 1);
static_assert(decade_start_bits(-1) == std::bit_cast<std::uint64_t>(0.1));
static_assert(decade_start_bits(308) == std::bit_cast<std::uint64_t>(1e308));

// The decade of a normal double with biased exponent b, counted from the
// first one: low_decimal_exponent(b - 1075) + 1 - MIN_DECADE, computed
// without negative numbers (a multiple of 2^18 added before the shift is
// added after it, divided by 2^18).
constexpr std::uint32_t decade_of(std::uint32_t biased_exponent) {
  constexpr int OFFSET = (1 - MIN_DECADE) * (1 << 18) - (1075 - 52) * 78913;
  static_assert(OFFSET >= 0);
  return (biased_exponent * 78913 + OFFSET) >> 18;
}

// Everything a form needs for the decimal exponent E of its value, at index
// E + 1 - MIN_DECADE (the decade, or the next one when the value reaches
// the next decade's start): the power 10^(COUNT-1-E) that scales the value
// to exactly COUNT digits before its point, so no extra digit has to be
// split off; the unit shift of the product plus the value's biased exponent; the exponent part of E
// + 1, letter included.
struct DecadeScale {
  std::uint64_t significand;
  std::int32_t shift_base;
  std::uint32_t exponent_part;
};

// The exponent part as four characters, the first in the lowest byte: sign
// and two digits after a 0 byte where the letter goes, or sign and three
// digits.
constexpr std::uint32_t exponent_part_chars(int exponent) {
  const std::uint32_t sign = exponent < 0 ? '-' : '+';
  const auto magnitude = static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent);
  const std::uint32_t units = '0' + magnitude % 10;
  const std::uint32_t tens = '0' + magnitude / 10 % 10;
  if (magnitude <= 99) return sign << 8 | tens << 16 | units << 24;
  return sign | ('0' + magnitude / 100) << 8 | tens << 16 | units << 24;
}
static_assert(exponent_part_chars(-5) == ('-' << 8 | '0' << 16 | '5' << 24));
static_assert(exponent_part_chars(308) == ('+' | '3' << 8 | '0' << 16 | '8' << 24));

constexpr int DECADE_SCALE_COUNT = MAX_DECADE - MIN_DECADE + 2;

template <int COUNT, char LETTER>
constexpr std::array<DecadeScale, DECADE_SCALE_COUNT> compute_decade_scales() {
  std::array<DecadeScale, DECADE_SCALE_COUNT> scales{};
  for (int index = 0; index < DECADE_SCALE_COUNT; ++index) {
    const int decimal_exponent = index - 1 + MIN_DECADE;
    const int k = COUNT - 1 - decimal_exponent;
    const BinaryPower power = k >= TRUNCATED_LOWEST && k <= TRUNCATED_HIGHEST
                                  ? TRUNCATED_POWERS[static_cast<std::size_t>(k - TRUNCATED_LOWEST)]
                                  : BinaryPower{0, 0};
    std::uint32_t exponent_part = exponent_part_chars(decimal_exponent + 1);
    if ((exponent_part & 0xFF) == 0) exponent_part |= static_cast<unsigned char>(LETTER);
    // The unit shift is -(q + binary_exponent) - 64 with q = b - 1075.
    scales[static_cast<std::size_t>(index)] = {power.significand, 1075 - 64 - power.exponent,
                                               exponent_part};
  }
  return scales;
}

template <int COUNT, char LETTER>
constexpr auto DECADE_SCALES = compute_decade_scales<COUNT, LETTER>();

// Checked for every normal biased exponent and both decimal exponents it
// allows: the decade is low_decimal_exponent's, the power is in the table,
// and the last digit's unit 2^(64 + unit shift) lies in the high word of
// the product with half of it above the low word.
template <int COUNT, char LETTER>
constexpr bool decade_scales_fit() {
  for (std::uint32_t biased_exponent = 1; biased_exponent <= 2046; ++biased_exponent) {
    const int q = static_cast<int>(biased_exponent) - 1075;
    const std::uint32_t decade = decade_of(biased_exponent);
    if (static_cast<int>(decade) != low_decimal_exponent(q) + 1 - MIN_DECADE) return false;
    for (std::uint32_t index = decade; index <= decade + 1; ++index) {
      if (index >= DECADE_SCALE_COUNT) return false;
      const DecadeScale& scale = DECADE_SCALES<COUNT, LETTER>[index];
      const int unit_shift = scale.shift_base - static_cast<int>(biased_exponent);
      if (scale.significand == 0 || unit_shift < 1 || unit_shift > 63) return false;
    }
  }
  return true;
}

// Renders a field of WIDTH characters with COUNT digits. Zeros, subnormals,
// infinities and NaN, and values whose last digit's rounding is undecided,
// are left to the general way.
//
// The layout, for the two forms: blanks, sign or blank, "0", the point and
// the first seven digits, blocks of eight digits, the exponent part. The
// first seven digits are converted as eight, whose leading "0" becomes the
// point; the sign, "0" and point are one store over the first four columns.
//
// Kept out of line: the memo's lookup, which answers many calls, is inlined
// into the writers' loops, and this larger body would crowd them.
template <int COUNT, std::size_t WIDTH, char LETTER>
[[gnu::noinline]] void render_exp_form(double value, char* out) {
  static_assert(COUNT <= MAX_FAST_DIGITS && COUNT % 8 == 7);
  static_assert(decade_scales_fit<COUNT, LETTER>());
  constexpr std::size_t POINT = WIDTH - 4 - COUNT - 1;
  static_assert(POINT >= 2 && POINT <= 4, "sign, zero and blanks take one 4-byte store");

  const auto bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t magnitude = bits & MAGNITUDE_MASK;
  const auto biased_exponent = static_cast<std::uint32_t>(magnitude >> 52);
  // Zero of either sign is common in models (faces on coordinate planes)
  // and is every element's boundary value: one copy of its whole field.
  if (magnitude == 0) {
    static constexpr auto ZERO_FIELD = [] {
      std::array<char, WIDTH> field{};
      field.fill(' ');
      field[POINT - 1] = '0';
      field[POINT] = '.';
      for (std::size_t i = POINT + 1; i < WIDTH - 4; ++i) field[i] = '0';
      field[WIDTH - 4] = LETTER;
      field[WIDTH - 3] = '+';
      field[WIDTH - 2] = '0';
      field[WIDTH - 1] = '0';
      return field;
    }();
    std::memcpy(out, ZERO_FIELD.data(), WIDTH);
    return;
  }
  // One compare sends subnormals, infinities and NaN away.
  if (biased_exponent - 1 >= 2046) [[unlikely]] {
    render_exp_general(value, COUNT, LETTER, {out, WIDTH});
    return;
  }
  // Blanks, then the sign's column, "0" and the point.
  constexpr std::uint64_t PREFIX = (BLANK_CHARS & ((std::uint64_t{1} << (8 * (POINT - 1))) - 1)) |
                                   std::uint64_t{'0'} << (8 * (POINT - 1)) |
                                   std::uint64_t{'.'} << (8 * POINT);
  constexpr std::uint64_t MINUS = std::uint64_t{'-' - ' '} << (8 * (POINT - 2));
  store_chars<4>(static_cast<std::uint32_t>(PREFIX + (bits >> 63) * MINUS), out);

  const std::uint64_t m = (magnitude & (HIDDEN_BIT - 1)) | HIDDEN_BIT;
  const std::uint32_t decade = decade_of(biased_exponent);
  const std::uint32_t index = decade + (magnitude >= DECADE_STARTS[decade]);
  const DecadeScale& scale = DECADE_SCALES<COUNT, LETTER>[index];

  // The rounding: the product P = m * T of the value's significand and the
  // table's truncated significand of the power is exact in 128 bits, and
  // the scaled value is (P + m * delta) * 2^-shift with 0 <= delta < 1 (see
  // the table). So with the remainder below the last digit taken from the
  // product, the true remainder lies in [remainder, remainder + m), and
  // half a unit is at least 2^64 > m; the digit is rounded up when
  // remainder > half, down when remainder + m <= half, and left to the
  // general way in between. Here half a unit is added
  // to the product first, so that the digits come out rounded up exactly
  // when remainder >= half, and r, what is left below them, is
  // remainder - half (>= 0) or remainder + half (< unit). The case in
  // between is then r = 0 or r > unit - m: exactly when r + m - 1, modulo
  // the unit, is below m. A unit is 2^(64 + unit_shift), so r is the low
  // unit_shift bits of the high word and the low word.
  const Uint128 product = numeric::multiply_64(m, scale.significand);
  const std::uint64_t low = numeric::low_64(product);
  const int unit_shift = scale.shift_base - static_cast<int>(biased_exponent);  // 1..63
  const std::uint64_t unit_high = std::uint64_t{1} << unit_shift;
  const std::uint64_t high = numeric::high_64(product) + (unit_high >> 1);
  std::uint64_t digits = high >> unit_shift;
  const std::uint64_t r_plus_low = low + (m - 1);
  const std::uint64_t r_plus_high = high + (r_plus_low < low);
  if ((r_plus_high & (unit_high - 1)) == 0 && r_plus_low < m) [[unlikely]] {
    render_exp_general(value, COUNT, LETTER, {out, WIDTH});
    return;
  }

  char* block = out + WIDTH - 4;
  for (int i = 0; i < COUNT / 8; ++i) {
    block -= 8;
    store_chars<8>(eight_digit_chars(static_cast<std::uint32_t>(digits % 100000000)), block);
    digits /= 100000000;
  }
  if (digits == 10000000) [[unlikely]] {
    // The rounding carried into a new first digit (0.999..95 becomes
    // 0.1 * 10^1), which the general way handles.
    render_exp_general(value, COUNT, LETTER, {out, WIDTH});
    return;
  }
  store_chars<8>(eight_digit_chars(static_cast<std::uint32_t>(digits)) - ('0' - '.'), block - 8);

  store_chars<4>(scale.exponent_part, out + WIDTH - 4);
}

// The memo's field for the value, or a new one. NaN is never kept: its
// bits mark the memo's empty slots.
template <int COUNT, std::size_t WIDTH, char LETTER>
void render_recent_or_new(double value, char* out) {
  // One memo per thread: the renderers may run on any thread.
  thread_local RecentFields<WIDTH> recent;
  if (std::isnan(value)) {
    render_exp_form<COUNT, WIDTH, LETTER>(value, out);
    return;
  }
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if (const char* known = recent.find(bits)) {
    std::memcpy(out, known, WIDTH);
    return;
  }
  render_exp_form<COUNT, WIDTH, LETTER>(value, out);
  recent.keep(bits, out);
}

}  // namespace

void render_deck_coordinate(double value, char* out) {
  render_recent_or_new<15, DECK_COORDINATE_WIDTH, 'D'>(value, out);
}

void render_view_coordinate(double value, char* out) {
  render_recent_or_new<7, VIEW_COORDINATE_WIDTH, 'E'>(value, out);
}

}  // namespace format
