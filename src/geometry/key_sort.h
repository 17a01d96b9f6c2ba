// Sorting of 64-bit keys by a band of their bits, for the vertex table of
// the corner merge.
//
// A least-significant-digit radix sort: stable, a fixed number of passes
// over the keys, and no comparisons, so millions of keys sort in a few
// tens of milliseconds where a comparison sort takes ten times as long.
// A few hundred keys or fewer are sorted by comparison, in time that
// follows their count rather than the radix's counters.
#pragma once

#include <cstdint>
#include <vector>

namespace geometry {

// Sorts `keys` ascending by bits [low_bit, low_bit + bit_count), keeping the
// order of keys whose band is equal. When `payload` is given it has one
// entry per key and is moved along with it. Bits outside the band do not
// take part. Valid range: 0 <= low_bit, low_bit + bit_count <= 64.
void sort_keys(std::vector<std::uint64_t>& keys, std::vector<std::uint32_t>* payload, int low_bit,
               int bit_count);

// The number of bits needed to hold every value below `limit` (0 for a
// limit of 0 or 1).
int bits_below(std::uint64_t limit);

}  // namespace geometry
