// A memo of the fields of the values rendered last, by value.
//
// A mesh repeats its coordinates: every corner is shared by about six
// facets, mostly close together in the file, and faces on a coordinate plane
// share a value, so a third to two thirds of the coordinates are found here.
// The rendering is a pure function of the value's bits, so a field found
// here is the field: the memo changes the speed, never a character.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace format {

// Direct-mapped: one slot per hash of the bits, a new value takes its
// slot's place. NaN must never be looked up or kept: empty slots hold a
// NaN's bits.
template <std::size_t WIDTH>
class RecentFields {
 public:
  // The field of bits, or nullptr; a miss takes the slot for the new field.
  char* find(std::uint64_t bits) {
    // Fibonacci hashing: the golden-ratio multiplier spreads nearby bit
    // patterns over the top bits, which pick the slot.
    slot_ = static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15u) >> (64 - SLOT_BITS));
    return keys_[slot_] == bits ? fields_[slot_].data() : nullptr;
  }
  void keep(std::uint64_t bits, const char* field) {
    keys_[slot_] = bits;
    std::memcpy(fields_[slot_].data(), field, WIDTH);
  }

 private:
  // 512 slots hold the corners of the last few hundred facets; keys and
  // fields take 16 kB for the 24-column field, within a first-level data
  // cache.
  static constexpr int SLOT_BITS = 9;
  static constexpr std::size_t SLOTS = std::size_t{1} << SLOT_BITS;

  std::array<std::uint64_t, SLOTS> keys_ = [] {
    std::array<std::uint64_t, SLOTS> keys{};
    keys.fill(~std::uint64_t{0});
    return keys;
  }();
  std::array<std::array<char, WIDTH>, SLOTS> fields_{};
  std::size_t slot_ = 0;
};

}  // namespace format
