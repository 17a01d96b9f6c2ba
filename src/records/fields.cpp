#include "records/fields.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace records {
namespace {

// The exponent-form fast path multiplies a 53-bit significand by a 64-bit
// one and needs the whole 117-bit product.
#if !defined(__SIZEOF_INT128__)
#error "the exponent-form renderer needs a 128-bit unsigned integer type"
#endif
__extension__ using Uint128 = unsigned __int128;

// ---------------------------------------------------------------------------
// Powers of ten, computed exactly at compile time.
//
// Entry k holds 10^k = (significand + delta) * 2^binary_exponent with
// 2^63 <= significand < 2^64 and 0 <= delta < 1: the significand is the
// exact value truncated to 64 bits, never rounded up. For 0 <= k <= 27 the
// power is exact (delta = 0), since 5^27 < 2^64.
// ---------------------------------------------------------------------------

struct PowerOfTen {
  std::uint64_t significand;
  int binary_exponent;
};

// The fast path handles up to 15 digits; more go to the exact path.
constexpr int MAX_FAST_DIGITS = 15;

// It uses 10^k with k = digits - 1 - floor(log10 of the value): from
// 1 - 1 - 307 for the largest doubles (below 2^1024, so the floor estimated
// from the binary exponent is at most 307) to MAX_FAST_DIGITS - 1 + 324 for
// the smallest subnormals.
constexpr int MIN_POWER = -307;
constexpr int MAX_POWER = MAX_FAST_DIGITS - 1 + 324;

// An unsigned integer of up to 896 bits (2^800 is the largest used), in 32-bit limbs,
// least significant first. Just enough arithmetic for the table.
struct BigNumber {
  static constexpr int LIMBS = 28;
  std::array<std::uint32_t, LIMBS> limbs{};

  constexpr void multiply_small(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (auto& limb : limbs) {
      const std::uint64_t product = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
  }
  // Divides in place, rounding down.
  constexpr void divide_small(std::uint32_t divisor) {
    std::uint64_t remainder = 0;
    for (auto limb = limbs.rbegin(); limb != limbs.rend(); ++limb) {
      const std::uint64_t dividend = (remainder << 32) | *limb;
      *limb = static_cast<std::uint32_t>(dividend / divisor);
      remainder = dividend % divisor;
    }
  }
  constexpr int bit_length() const {
    for (int i = LIMBS - 1; i >= 0; --i) {
      const std::uint32_t limb = limbs[static_cast<std::size_t>(i)];
      if (limb != 0) return 32 * i + static_cast<int>(std::bit_width(limb));
    }
    return 0;
  }
  constexpr bool bit(int position) const {
    return (limbs[static_cast<std::size_t>(position / 32)] >> (position % 32)) & 1;
  }
  // The bits [from, from + 64) as an integer; bits below 0 read as zero.
  constexpr std::uint64_t bits_from(int from) const {
    std::uint64_t result = 0;
    for (int position = from + 63; position >= from; --position) {
      result = (result << 1) | (position >= 0 && bit(position) ? 1 : 0);
    }
    return result;
  }
  static constexpr BigNumber power_of_two(int exponent) {
    BigNumber result;
    result.limbs[static_cast<std::size_t>(exponent / 32)] = std::uint32_t{1} << (exponent % 32);
    return result;
  }
};

constexpr std::array<PowerOfTen, MAX_POWER - MIN_POWER + 1> compute_powers_of_ten() {
  std::array<PowerOfTen, MAX_POWER - MIN_POWER + 1> table{};
  // 10^j = 5^j * 2^j: the top 64 bits of 5^j, truncated.
  BigNumber five_power = BigNumber::power_of_two(0);
  for (int j = 0; j <= MAX_POWER; ++j) {
    const int length = five_power.bit_length();
    table[static_cast<std::size_t>(j - MIN_POWER)] = {five_power.bits_from(length - 64),
                                                      j + length - 64};
    five_power.multiply_small(5);
  }
  // 10^-j = 2^-j * 2^-N * (2^N / 5^j). Dividing by 5 one step at a time
  // keeps floor(2^N / 5^j) exact, as floor(floor(x) / 5) = floor(x / 5);
  // with N = 800 it still has more than 64 bits at j = 307 (5^307 < 2^714).
  constexpr int N = 800;
  BigNumber reciprocal = BigNumber::power_of_two(N);
  for (int j = 1; j <= -MIN_POWER; ++j) {
    reciprocal.divide_small(5);
    const int length = reciprocal.bit_length();
    table[static_cast<std::size_t>(-j - MIN_POWER)] = {reciprocal.bits_from(length - 64),
                                                       -j - N + length - 64};
  }
  return table;
}

constexpr auto POWERS_OF_TEN = compute_powers_of_ten();

static_assert(POWERS_OF_TEN[0 - MIN_POWER].significand == std::uint64_t{1} << 63);
static_assert(POWERS_OF_TEN[0 - MIN_POWER].binary_exponent == -63);
static_assert(POWERS_OF_TEN[1 - MIN_POWER].significand == std::uint64_t{10} << 60);
// 10^-1 = 0.1100110011..._2 * 2^-3: the pattern 0xC...C, truncated.
static_assert(POWERS_OF_TEN[-1 - MIN_POWER].significand == 0xCCCCCCCCCCCCCCCCu);
static_assert(POWERS_OF_TEN[-1 - MIN_POWER].binary_exponent == -67);

// Exactly representable powers of ten 10^0 .. 10^18.
constexpr std::array<std::uint64_t, 19> compute_integer_powers() {
  std::array<std::uint64_t, 19> powers{};
  std::uint64_t power = 1;
  for (auto& entry : powers) {
    entry = power;
    power *= 10;
  }
  return powers;
}
constexpr auto INTEGER_POWERS = compute_integer_powers();

constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void write_pair(std::uint32_t value, char* out) { std::memcpy(out, DIGIT_PAIRS + 2 * value, 2); }

// The eight decimal digits of value < 10^8 as eight characters, most
// significant in the lowest byte, computed in all positions at once: the
// value is split into halves of four digits, each half into two pairs, each
// pair into two digits, every step on all the parts side by side in one
// 64-bit word. (x * 10486) >> 20 is x / 100 for x < 10^4, and
// (x * 103) >> 10 is x / 10 for x < 100; neither product reaches the next
// part's bits. A step puts the quotient q of every part x in its lower half
// and x - 100q in its upper half: (x << 16) - q * ((100 << 16) - 1), no part
// borrowing from another, and one multiply fewer than shifting them apart.
constexpr std::uint64_t eight_digit_chars(std::uint32_t value) {
  const std::uint64_t quotient = value / 10000;
  std::uint64_t parts = quotient | (value - quotient * 10000) << 32;
  std::uint64_t high = ((parts * 10486) >> 20) & 0x0000007F0000007Fu;
  parts = (parts << 16) - high * ((100 << 16) - 1);
  high = ((parts * 103) >> 10) & 0x000F000F000F000Fu;
  parts = (parts << 8) - high * ((10 << 8) - 1);
  return parts + 0x3030303030303030u;  // '0' in every character
}
static_assert(eight_digit_chars(12345678) == 0x3837363534333231u);
static_assert(eight_digit_chars(0) == 0x3030303030303030u);
static_assert(eight_digit_chars(99999999) == 0x3939393939393939u);

// Stores the first COUNT characters of a word whose lowest byte is the
// first character.
template <std::size_t COUNT>
void store_chars(std::uint64_t chars, char* out) {
  static_assert(COUNT <= 8);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &chars, COUNT);
  } else {
    for (std::size_t i = 0; i < COUNT; ++i) out[i] = static_cast<char>(chars >> (8 * i));
  }
}

void write_eight_digits(std::uint32_t value, char* out) {
  store_chars<8>(eight_digit_chars(value), out);
}

// Writes exactly `count` digits of value < 10^count, leading zeros included.
void write_digits(std::uint64_t value, int count, char* out) {
  char* end = out + count;
  while (count >= 8) {
    end -= 8;
    write_eight_digits(static_cast<std::uint32_t>(value % 100000000), end);
    value /= 100000000;
    count -= 8;
  }
  auto rest = static_cast<std::uint32_t>(value);
  while (count >= 2) {
    end -= 2;
    write_pair(rest % 100, end);
    rest /= 100;
    count -= 2;
  }
  if (count == 1) end[-1] = static_cast<char>('0' + rest);
}

// Short runs of blanks are written as a few fixed-size stores rather than
// through a library call, which costs more than the whole run here.
void write_blanks(char* out, std::size_t count) {
  constexpr char BLANKS[] = "        ";
  if (count >= 8 && count <= 16) {
    std::memcpy(out, BLANKS, 8);
    std::memcpy(out + count - 8, BLANKS, 8);
  } else if (count >= 4 && count < 8) {
    std::memcpy(out, BLANKS, 4);
    std::memcpy(out + count - 4, BLANKS, 4);
  } else if (count >= 1 && count < 4) {
    out[0] = ' ';
    out[count / 2] = ' ';
    out[count - 1] = ' ';
  } else {
    std::memset(out, ' ', count);
  }
}

void fill_asterisks(std::span<char> field) { std::fill(field.begin(), field.end(), '*'); }

// Right-aligns text after blanks, or fills the field with asterisks when the
// text is wider than the field.
void place_right(std::string_view text, std::span<char> field) {
  if (text.size() > field.size()) {
    fill_asterisks(field);
    return;
  }
  const std::size_t blanks = field.size() - text.size();
  std::fill_n(field.begin(), blanks, ' ');
  std::copy(text.begin(), text.end(), field.begin() + static_cast<std::ptrdiff_t>(blanks));
}

// NaN has no sign; an infinity falls back to its short text, then to
// asterisks, when the field is too narrow.
void render_not_finite(double value, std::span<char> field) {
  if (std::isnan(value)) {
    place_right("NaN", field);
    return;
  }
  const bool negative = value < 0;
  const std::string_view long_text = negative ? "-Infinity" : "Infinity";
  place_right(long_text.size() <= field.size() ? long_text : (negative ? "-Inf" : "Inf"), field);
}

// A decimal approximation digits * 10^(exponent - count): with `count`
// digits, 10^(count-1) <= digits < 10^count, the value is 0.d1d2... * 10^exponent.
struct Rounded {
  std::uint64_t digits;
  int exponent;
};

// A finite nonzero double as m * 2^q with 2^52 <= m < 2^53; subnormals are
// normalised, so q goes down to -1074 - 52.
struct Binary {
  std::uint64_t m;
  int q;
};

constexpr Binary decompose(double magnitude) {
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  const auto biased_exponent = static_cast<int>(bits >> 52);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased_exponent == 0) {
    const int shift = std::countl_zero(fraction) - 11;
    return {fraction << shift, -1074 - shift};
  }
  return {fraction | std::uint64_t{1} << 52, biased_exponent - 1075};
}

// 2^(q+52) <= value < 2^(q+53), so floor(log10(value)) is this or one more.
// 78913 / 2^18 approximates log10(2) closely enough that this is
// floor((q + 52) * log10(2)) for every |q + 52| <= 1200, which covers every
// double (checked once against exact powers of two and ten).
constexpr int low_decimal_exponent(int q) { return ((q + 52) * 78913) >> 18; }

// How far the product m * T of a double's m and the table significand T of
// 10^k lies above X = value * 10^k: X = m * T * 2^-shift (plus error).
constexpr int product_shift(int q, int count) {
  const int k = count - 1 - low_decimal_exponent(q);
  return -(q + POWERS_OF_TEN[static_cast<std::size_t>(k - MIN_POWER)].binary_exponent);
}

// The fast path below keeps the last digit's unit, 2^shift, inside the high
// word of the product and half of it above the low word: 65 <= shift < 128.
// (Rough bounds give only shift >= 62 for 15 digits; the exact table gives
// 66, so every binary exponent a double can have is checked here.)
constexpr bool shifts_fit_high_word() {
  for (int count = 1; count <= MAX_FAST_DIGITS; ++count) {
    for (int q = -1074 - 52; q <= 1023 - 52; ++q) {
      const int shift = product_shift(q, count);
      if (shift < 65 || shift > 127) return false;
    }
  }
  return true;
}
static_assert(shifts_fit_high_word());

// The first COUNT (1..15) significant digits of a positive finite double,
// rounded to nearest, or false when the rounding cannot be decided here.
//
// With k chosen so that X = value * 10^k lies in [10^(count-1),
// 10^(count+1)), the product P = m * T is exact in 128 bits, and
// X = (P + m * delta) * 2^-shift with 0 <= delta < 1 (see the table). So, in
// units of 2^-shift, the true X lies in [P, P + m): the remainder below the
// last kept digit can only be too small, by less than m < 2^53, while half
// a unit is at least 2^64. The digit is certainly rounded down when
// remainder + m <= half, and certainly up when remainder > half. Anything in
// between (about one value in 4000 of random bit patterns, none of
// six-digit decimals, and every exact decimal tie) is left to the exact path.
template <int COUNT>
bool round_fast(double magnitude, Rounded& result) {
  static_assert(COUNT >= 1 && COUNT <= MAX_FAST_DIGITS);
  constexpr int count = COUNT;
  const auto [m, q] = decompose(magnitude);
  const int low_exponent = low_decimal_exponent(q);
  const int k = count - 1 - low_exponent;
  const PowerOfTen& power = POWERS_OF_TEN[static_cast<std::size_t>(k - MIN_POWER)];
  const Uint128 product = Uint128{m} * power.significand;
  const auto high = static_cast<std::uint64_t>(product >> 64);
  const auto low = static_cast<std::uint64_t>(product);
  const int unit_shift = -(q + power.binary_exponent) - 64;  // 1..63, see above
  const std::uint64_t integer = high >> unit_shift;
  std::uint64_t remainder_high = high & ((std::uint64_t{1} << unit_shift) - 1);
  // When X has count+1 digits, the last joins the remainder and the unit
  // grows tenfold.
  const bool extra_digit = integer >= INTEGER_POWERS[static_cast<std::size_t>(count)];
  const std::uint64_t tenth = integer / 10;
  const std::uint64_t last = integer - 10 * tenth;
  std::uint64_t digits = extra_digit ? tenth : integer;
  remainder_high |= extra_digit ? last << unit_shift : 0;
  const std::uint64_t half_high = std::uint64_t{extra_digit ? 10u : 1u} << (unit_shift - 1);
  const Uint128 remainder = Uint128{remainder_high} << 64 | low;
  const Uint128 half = Uint128{half_high} << 64;
  const bool round_up = remainder > half;
  const bool undecided = !round_up & (remainder + m > half);
  if (undecided) return false;
  digits += round_up;
  int exponent = low_exponent + 1 + extra_digit;
  if (digits == INTEGER_POWERS[static_cast<std::size_t>(count)]) {
    // The carry ran past the first digit: 0.999..95 becomes 0.1 * 10^1.
    digits = INTEGER_POWERS[static_cast<std::size_t>(count - 1)];
    exponent += 1;
  }
  result = {digits, exponent};
  return true;
}

// A double's exact decimal expansion has at most 767 significant digits, so
// rounding to more than that changes nothing and the rest are zeros.
constexpr int MAX_SIGNIFICANT_DIGITS = 780;

// Writes the first `count` significant digits of a positive finite double
// and returns the exponent of the 0.d1d2... form. The library conversion
// works on the stored binary value and rounds exact ties to even.
int write_exact_digits(double magnitude, int count, char* out) {
  const int precision = std::min(count, MAX_SIGNIFICANT_DIGITS) - 1;
  char buffer[MAX_SIGNIFICANT_DIGITS + 16];
  const auto conversion = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                        std::chars_format::scientific, precision);
  // buffer holds d[.ddd]e<sign><digits>
  const char* position = buffer;
  *out++ = *position++;
  if (*position == '.') {
    ++position;
    out = std::copy_n(position, precision, out);
    position += precision;
  }
  std::fill_n(out, count - 1 - precision, '0');
  ++position;  // the 'e'
  const bool negative_exponent = *position++ == '-';
  int exponent = 0;
  std::from_chars(position, conversion.ptr, exponent);
  return (negative_exponent ? -exponent : exponent) + 1;
}

// Writes the COUNT digits of a significand after its point, in blocks of
// eight from the right. A leading block of seven digits (7 and 15 digits,
// the counts in use) is written as eight over the point's position, which
// is written later.
template <int COUNT>
void write_significand(std::uint64_t value, char* out) {
  if constexpr (COUNT % 8 == 7 || COUNT % 8 == 0) {
    char* end = out + COUNT;
    for (int block = 0; block < (COUNT + 1) / 8; ++block) {
      end -= 8;
      write_eight_digits(static_cast<std::uint32_t>(value % 100000000), end);
      value /= 100000000;
    }
  } else {
    write_digits(value, COUNT, out);
  }
}

// Writes the first COUNT significant digits of a positive finite double and
// returns the exponent of the 0.d1d2... form.
template <int COUNT>
int write_significant_digits(double magnitude, char* out) {
  Rounded rounded{};
  if (round_fast<COUNT>(magnitude, rounded)) {
    write_significand<COUNT>(rounded.digits, out);
    return rounded.exponent;
  }
  return write_exact_digits(magnitude, COUNT, out);
}

// One instance per digit count of the fast path, each with its count as a
// constant; the two counts in use are called directly.
using DigitWriter = int (*)(double, char*);
template <int... COUNTS>
constexpr std::array<DigitWriter, sizeof...(COUNTS)> make_digit_writers(
    std::integer_sequence<int, COUNTS...>) {
  return {&write_significant_digits<COUNTS + 1>...};
}
constexpr auto DIGIT_WRITERS =
    make_digit_writers(std::make_integer_sequence<int, MAX_FAST_DIGITS>());

// ---------------------------------------------------------------------------
// The two forms in use, EXP(24.15) and EXP(15.7), have their own code: with
// the digit count and the layout fixed, a field is four or five stores of
// words built without loops, and only normal doubles whose rounding is
// decided here take this way. Everything else goes the general way above,
// which gives the same characters.
// ---------------------------------------------------------------------------

constexpr std::uint64_t HIDDEN_BIT = std::uint64_t{1} << 52;
constexpr std::uint64_t MAGNITUDE_MASK = ~(std::uint64_t{1} << 63);

// Binary exponents q of normal doubles (biased exponents 1 .. 2046), and the
// decimal exponents n whose powers 10^n start the decades they can reach.
constexpr int MIN_NORMAL_Q = 1 - 1075;
constexpr int MAX_NORMAL_Q = 2046 - 1075;
constexpr int MIN_DECADE = low_decimal_exponent(MIN_NORMAL_Q) + 1;
constexpr int MAX_DECADE = low_decimal_exponent(MAX_NORMAL_Q) + 1;
static_assert(MIN_DECADE >= MIN_POWER && MAX_DECADE <= MAX_POWER);

// The bits of the smallest double >= 10^n. Bits of positive doubles order
// like their values, so a positive double is at least 10^n exactly when its
// bits are at least these. 10^n is a double only when the table holds it
// exactly (0 <= n <= 27, where delta = 0) and the 11 bits below the 53 kept
// are zero; otherwise the next double up is one more in the last bit, which
// carries into the exponent field by itself.
constexpr std::uint64_t decade_start_bits(int n) {
  const PowerOfTen& power = POWERS_OF_TEN[static_cast<std::size_t>(n - MIN_POWER)];
  const bool exact = n >= 0 && n <= 27 && (power.significand & 0x7FF) == 0;
  const auto biased_exponent = static_cast<std::uint64_t>(power.binary_exponent + 63 + 1023);
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
// split off as in round_fast; the unit shift of the product plus the
// value's biased exponent; the exponent part of E + 1, letter included.
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
    const PowerOfTen power = k >= MIN_POWER && k <= MAX_POWER
                                 ? POWERS_OF_TEN[static_cast<std::size_t>(k - MIN_POWER)]
                                 : PowerOfTen{0, 0};
    std::uint32_t exponent_part = exponent_part_chars(decimal_exponent + 1);
    if ((exponent_part & 0xFF) == 0) exponent_part |= static_cast<unsigned char>(LETTER);
    // The unit shift is -(q + binary_exponent) - 64 with q = b - 1075.
    scales[static_cast<std::size_t>(index)] = {power.significand, 1075 - 64 - power.binary_exponent,
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

// Kept out of line, so that the forms' code and the dispatch save no registers for it.
[[gnu::noinline]] void render_exp_any(double value, int digits, char letter, std::span<char> field);

// Renders a field of WIDTH characters with COUNT digits. Zeros, subnormals,
// infinities and NaN, and values whose last digit's rounding is undecided,
// are left to the general way.
//
// The layout, for the two forms: blanks, sign or blank, "0", the point and
// the first seven digits, blocks of eight digits, the exponent part. The
// first seven digits are converted as eight, whose leading "0" becomes the
// point; the sign, "0" and point are one store over the first four columns.
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
    render_exp_any(value, COUNT, LETTER, {out, WIDTH});
    return;
  }
  // Blanks, then the sign's column, "0" and the point.
  constexpr std::uint64_t BLANKS = 0x2020202020202020u;
  constexpr std::uint64_t PREFIX = (BLANKS & ((std::uint64_t{1} << (8 * (POINT - 1))) - 1)) |
                                   std::uint64_t{'0'} << (8 * (POINT - 1)) |
                                   std::uint64_t{'.'} << (8 * POINT);
  constexpr std::uint64_t MINUS = std::uint64_t{'-' - ' '} << (8 * (POINT - 2));
  store_chars<4>(static_cast<std::uint32_t>(PREFIX + (bits >> 63) * MINUS), out);

  const std::uint64_t m = (magnitude & (HIDDEN_BIT - 1)) | HIDDEN_BIT;
  const std::uint32_t decade = decade_of(biased_exponent);
  const std::uint32_t index = decade + (magnitude >= DECADE_STARTS[decade]);
  const DecadeScale& scale = DECADE_SCALES<COUNT, LETTER>[index];

  // The rounding as in round_fast: with the remainder below the last digit
  // and half a unit taken from the product, the true remainder lies in
  // [remainder, remainder + m), and half a unit is at least 2^64 > m; the
  // digit is rounded up when remainder > half, down when remainder + m <=
  // half, and left to the general way in between. Here half a unit is added
  // to the product first, so that the digits come out rounded up exactly
  // when remainder >= half, and r, what is left below them, is
  // remainder - half (>= 0) or remainder + half (< unit). The case in
  // between is then r = 0 or r > unit - m: exactly when r + m - 1, modulo
  // the unit, is below m. A unit is 2^(64 + unit_shift), so r is the low
  // unit_shift bits of the high word and the low word.
  const Uint128 product = Uint128{m} * scale.significand;
  const auto low = static_cast<std::uint64_t>(product);
  const int unit_shift = scale.shift_base - static_cast<int>(biased_exponent);  // 1..63
  const std::uint64_t unit_high = std::uint64_t{1} << unit_shift;
  const auto high = static_cast<std::uint64_t>(product >> 64) + (unit_high >> 1);
  std::uint64_t digits = high >> unit_shift;
  const std::uint64_t r_plus_low = low + (m - 1);
  const std::uint64_t r_plus_high = high + (r_plus_low < low);
  if ((r_plus_high & (unit_high - 1)) == 0 && r_plus_low < m) [[unlikely]] {
    render_exp_any(value, COUNT, LETTER, {out, WIDTH});
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
    render_exp_any(value, COUNT, LETTER, {out, WIDTH});
    return;
  }
  store_chars<8>(eight_digit_chars(static_cast<std::uint32_t>(digits)) - ('0' - '.'), block - 8);

  store_chars<4>(scale.exponent_part, out + WIDTH - 4);
}

// Any form and any value; see render_exp.
void render_exp_any(double value, int digits, char letter, std::span<char> field) {
  if (!std::isfinite(value)) {
    render_not_finite(value, field);
    return;
  }
  const bool negative = value < 0;  // false for -0.0
  // Point, digits and a 4-character exponent part (a double's decimal
  // exponent never needs more than three digits), then the sign.
  if (digits < 1 || field.size() < static_cast<std::size_t>(digits) + 5 + (negative ? 1 : 0)) {
    fill_asterisks(field);
    return;
  }
  const std::size_t width = field.size();
  const auto count = static_cast<std::size_t>(digits);
  char* const digits_out = field.data() + (width - 4 - count);

  int exponent = 0;
  const double magnitude = std::fabs(value);
  if (magnitude == 0) {
    std::fill_n(digits_out, count, '0');
  } else {
    if (digits == 15) {
      exponent = write_significant_digits<15>(magnitude, digits_out);
    } else if (digits == 7) {
      exponent = write_significant_digits<7>(magnitude, digits_out);
    } else if (digits <= MAX_FAST_DIGITS) {
      exponent = DIGIT_WRITERS[count - 1](magnitude, digits_out);
    } else {
      exponent = write_exact_digits(magnitude, digits, digits_out);
    }
  }

  // Exponent part: letter, sign, two digits; from |e| = 100 up the letter
  // gives way to a third digit.
  char* const exponent_out = field.data() + (width - 4);
  const char exponent_sign = exponent < 0 ? '-' : '+';
  const auto exponent_magnitude = static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent);
  if (exponent_magnitude <= 99) {
    exponent_out[0] = letter;
    exponent_out[1] = exponent_sign;
  } else {
    exponent_out[0] = exponent_sign;
    exponent_out[1] = static_cast<char>('0' + exponent_magnitude / 100);
  }
  write_pair(exponent_magnitude % 100, exponent_out + 2);

  // Point, then "0" where there is room for it, sign and blanks. The usual
  // fields have room for both; the sign is then chosen without a branch.
  std::size_t position = width - 5 - count;
  field[position] = '.';
  if (position >= 2) {
    field[position - 1] = '0';
    field[position - 2] = negative ? '-' : ' ';
    write_blanks(field.data(), position - 2);
  } else if (position == 1) {
    field[0] = negative ? '-' : '0';
  }
}

}  // namespace

void render_int(std::int32_t value, std::span<char> field) {
  // Node and element numbers fill most records: below 10^8 they are eight
  // digits made at once, whose leading zeros turn into blanks.
  auto magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) magnitude = 0u - magnitude;
  // Digits from the bit length: 1233/4096 is just above log10(2), and one
  // compare settles the power of ten in between.
  const auto guess = (static_cast<std::size_t>(std::bit_width(magnitude)) * 1233) >> 12;
  std::size_t length = guess;
  if (magnitude >= INTEGER_POWERS[guess]) ++length;  // guess <= 9
  if (magnitude == 0) ++length;
  if (value < 0) ++length;

  const std::size_t width = field.size();
  if (length > width) {
    fill_asterisks(field);
    return;
  }
  char* const out = field.data();
  constexpr std::uint64_t BLANKS = 0x2020202020202020u;
  if (value >= 0 && length <= 8 && width >= 8 && width <= 16) {
    const std::uint64_t leading = (std::uint64_t{1} << (8 * (8 - length))) - 1;  // first bytes
    const std::uint64_t chars = (eight_digit_chars(magnitude) & ~leading) | (BLANKS & leading);
    store_chars<8>(BLANKS, out);
    store_chars<8>(chars, out + width - 8);
    return;
  }

  // Any other value or width: blanks, then the digits two at a time from
  // the right.
  static constexpr char digit_pairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  std::memset(out, ' ', width - length);
  char* at = out + width;
  while (magnitude >= 100) {
    const std::uint32_t pair = magnitude % 100;
    magnitude /= 100;
    at -= 2;
    std::memcpy(at, digit_pairs + 2 * pair, 2);
  }
  if (magnitude >= 10) {
    at -= 2;
    std::memcpy(at, digit_pairs + 2 * magnitude, 2);
  } else {
    *--at = static_cast<char>('0' + magnitude);
  }
  if (value < 0) *--at = '-';
}

void render_fixed(double value, int decimals, std::span<char> field) {
  if (!std::isfinite(value)) {
    render_not_finite(value, field);
    return;
  }
  if (decimals < 0) {
    fill_asterisks(field);
    return;
  }
  // No digit of a double lies more than 1074 places after the point, so
  // rounding at 1074 places is exact and further places are zeros.
  constexpr int MAX_EXACT_DECIMALS = 1074;
  const int precision = std::min(decimals, MAX_EXACT_DECIMALS);
  const double magnitude = std::fabs(value);
  char buffer[309 + 1 + MAX_EXACT_DECIMALS + 8];
  const auto conversion =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, precision);
  const std::string_view text(buffer, static_cast<std::size_t>(conversion.ptr - buffer));
  const std::string_view integer_part = text.substr(0, text.find('.'));
  const std::string_view fraction =
      precision > 0 ? text.substr(integer_part.size() + 1) : std::string_view();

  const bool rounds_to_zero = text.find_first_not_of("0.") == std::string_view::npos;
  // Zeros of either sign and subnormals that round away show no sign; a
  // negative normal value keeps its sign even when it rounds to zero.
  const bool subnormal = magnitude < std::numeric_limits<double>::min();
  const bool negative = value < 0 && !(rounds_to_zero && subnormal);
  const bool integer_is_zero = integer_part == "0";

  const auto decimal_count = static_cast<std::size_t>(decimals);
  // The "0" of a zero integer part is counted only where it is required.
  std::size_t needed = (negative ? 1 : 0) + 1 + decimal_count;
  if (!integer_is_zero || decimals == 0) needed += integer_part.size();
  if (needed > field.size()) {
    fill_asterisks(field);
    return;
  }
  const bool leading_zero = integer_is_zero && decimals > 0 && needed < field.size();
  if (leading_zero) needed += 1;

  auto out = std::fill_n(field.begin(), field.size() - needed, ' ');
  if (negative) *out++ = '-';
  if (!integer_is_zero || decimals == 0 || leading_zero) {
    out = std::copy(integer_part.begin(), integer_part.end(), out);
  }
  *out++ = '.';
  out = std::copy(fraction.begin(), fraction.end(), out);
  std::fill(out, field.end(), '0');
}

namespace {

// The fields of the values rendered last, by value. A mesh repeats its
// coordinates: every corner is shared by about six facets, mostly close
// together in the file, and faces on a coordinate plane share a value, so a
// third to two thirds of the coordinates are found here. The rendering is a
// pure function of the value's bits, so a field found here is the field.
template <std::size_t WIDTH>
class RecentFields {
 public:
  // The field of bits, or nullptr; a miss takes the slot for the new field.
  char* find(std::uint64_t bits) {
    slot_ = static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15u) >> (64 - SLOT_BITS));
    return keys_[slot_] == bits ? fields_[slot_].data() : nullptr;
  }
  void keep(std::uint64_t bits, const char* field) {
    keys_[slot_] = bits;
    std::memcpy(fields_[slot_].data(), field, WIDTH);
  }

 private:
  static constexpr int SLOT_BITS = 9;
  // Empty slots hold a NaN's bits, and NaN is never looked up or kept.
  std::array<std::uint64_t, std::size_t{1} << SLOT_BITS> keys_ = [] {
    std::array<std::uint64_t, std::size_t{1} << SLOT_BITS> keys{};
    keys.fill(~std::uint64_t{0});
    return keys;
  }();
  std::array<std::array<char, WIDTH>, std::size_t{1} << SLOT_BITS> fields_{};
  std::size_t slot_ = 0;
};

template <int COUNT, std::size_t WIDTH, char LETTER>
void render_recent_or_new(double value, char* out) {
  static RecentFields<WIDTH> recent;
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

void render_exp(double value, int digits, char letter, std::span<char> field) {
  // The solver deck's and the mesh view's coordinate fields.
  if (digits == 15 && field.size() == 24 && letter == 'D') {
    render_recent_or_new<15, 24, 'D'>(value, field.data());
  } else if (digits == 7 && field.size() == 15 && letter == 'E') {
    render_recent_or_new<7, 15, 'E'>(value, field.data());
  } else {
    render_exp_any(value, digits, letter, field);
  }
}

void render_text(std::string_view text, std::span<char> field) {
  if (text.size() >= field.size()) {
    std::copy_n(text.begin(), field.size(), field.begin());
  } else {
    place_right(text, field);
  }
}

}  // namespace records
