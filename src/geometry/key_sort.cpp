#include "geometry/key_sort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <utility>

#include "geometry/large_table.h"

namespace geometry {
namespace {

// 2^11 counters fit the first-level cache, and 11-bit digits take the
// 40 bits of a vertex key in four passes.
constexpr int DIGIT_BITS = 11;
constexpr std::size_t DIGIT_VALUES = std::size_t{1} << DIGIT_BITS;

using Counts = std::array<std::size_t, DIGIT_VALUES>;

// Below this many keys a comparison sort is quicker than clearing and
// summing the counters of even one pass (a model of a few dozen facets is
// checked in microseconds, not in the time of 2^11 counters per pass).
constexpr std::size_t SMALL_COUNT = 256;

// The same order for few keys: a stable comparison sort of the bands.
void sort_few_keys(std::vector<std::uint64_t>& keys, std::vector<std::uint32_t>* payload,
                   int low_bit, std::uint64_t band_mask) {
  struct Entry {
    std::uint64_t band;
    std::uint64_t key;
    std::uint32_t payload;
  };
  std::array<Entry, SMALL_COUNT> entries{};
  const std::size_t count = keys.size();
  for (std::size_t i = 0; i < count; ++i) {
    entries[i] = {(keys[i] >> low_bit) & band_mask, keys[i],
                  payload != nullptr ? (*payload)[i] : 0};
  }
  const auto end = entries.begin() + static_cast<std::ptrdiff_t>(count);
  std::stable_sort(entries.begin(), end,
                   [](const Entry& a, const Entry& b) { return a.band < b.band; });
  for (std::size_t i = 0; i < count; ++i) {
    keys[i] = entries[i].key;
    if (payload != nullptr) (*payload)[i] = entries[i].payload;
  }
}

}  // namespace

int bits_below(std::uint64_t limit) {
  return limit <= 1 ? 0 : static_cast<int>(std::bit_width(limit - 1));
}

void sort_keys(std::vector<std::uint64_t>& keys, std::vector<std::uint32_t>* payload, int low_bit,
               int bit_count) {
  const std::size_t count = keys.size();
  if (count < 2 || bit_count <= 0) return;
  const int passes = (bit_count + DIGIT_BITS - 1) / DIGIT_BITS;

  // Bits above the band take no part; a band of all 64 bits has none.
  const std::uint64_t band_mask =
      bit_count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bit_count) - 1;
  if (count < SMALL_COUNT) {
    sort_few_keys(keys, payload, low_bit, band_mask);
    return;
  }

  // One read of the keys counts the digits of every pass.
  std::vector<Counts> counts(static_cast<std::size_t>(passes));
  for (auto& pass_counts : counts) pass_counts.fill(0);
  for (const std::uint64_t key : keys) {
    std::uint64_t band = (key >> low_bit) & band_mask;
    for (auto& pass_counts : counts) {
      ++pass_counts[band & (DIGIT_VALUES - 1)];
      band >>= DIGIT_BITS;
    }
  }

  std::vector<std::uint64_t> key_scratch;
  reserve_large(key_scratch, count);
  key_scratch.resize(count);
  std::vector<std::uint32_t> payload_scratch;
  reserve_large(payload_scratch, payload != nullptr ? count : 0);
  payload_scratch.resize(payload != nullptr ? count : 0);
  for (int pass = 0; pass < passes; ++pass) {
    Counts& pass_counts = counts[static_cast<std::size_t>(pass)];
    const int shift = low_bit + pass * DIGIT_BITS;
    const std::uint64_t pass_mask = (band_mask >> (pass * DIGIT_BITS)) & (DIGIT_VALUES - 1);
    // A pass whose digits are all equal would only copy: common for the
    // upper bits of small models.
    bool one_digit = false;
    for (const std::size_t digit_count : pass_counts) {
      if (digit_count == 0) continue;
      one_digit = digit_count == count;
      break;
    }
    if (one_digit) continue;
    std::size_t start = 0;
    for (std::size_t& digit_count : pass_counts) start += std::exchange(digit_count, start);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t to = pass_counts[(keys[i] >> shift) & pass_mask]++;
      key_scratch[to] = keys[i];
      if (payload != nullptr) payload_scratch[to] = (*payload)[i];
    }
    keys.swap(key_scratch);
    if (payload != nullptr) payload->swap(payload_scratch);
  }
}

}  // namespace geometry
