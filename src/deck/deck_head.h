// The head of a solver deck: its title and its eight parameter records, read
// and checked against the layout the converter writes, and rewritten with a
// new medium, new frequencies or another solver type in the same columns.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace deck {

// Bytes of each record of the head, CR LF included, and where it begins.
// Every record of the head has a fixed length, so the head is the first
// HEAD_BYTES bytes of every deck, whatever its model.
inline constexpr std::array<std::size_t, 10> HEAD_RECORD_BYTES = {77, 106, 115, 96,  113,
                                                                  72, 114, 118, 118, 11};
constexpr std::size_t record_offset(std::size_t record_number) {
  std::size_t offset = 0;
  for (std::size_t k = 1; k < record_number; ++k) offset += HEAD_RECORD_BYTES[k - 1];
  return offset;
}
// Records 1-9 and the node heading.
inline constexpr std::size_t HEAD_BYTES = record_offset(11);
static_assert(HEAD_BYTES == 940);

// The rest of the deck: 82 bytes per node record, the element heading, 84
// bytes per element record and the end record: 998 + 330 m bytes in all.
inline constexpr std::size_t NODE_RECORD_BYTES = 82;
inline constexpr std::size_t ELEMENT_RECORD_BYTES = 84;
inline constexpr std::size_t ELEMENTS_HEADING_BYTES = 38;
inline constexpr std::size_t END_RECORD_BYTES = 20;
constexpr std::uint64_t deck_bytes(std::uint64_t elements) { return 998 + 330 * elements; }
constexpr std::uint64_t elements_heading_offset(std::uint64_t nodes) {
  return HEAD_BYTES + NODE_RECORD_BYTES * nodes;
}

enum class Solver { fmm = 1, aca = 2, cbem = 3 };
std::string_view solver_name(Solver solver);

struct DeckHead {
  std::string date;  // "07-DEC-26"
  std::int32_t elements = 0;
  std::int32_t nodes = 0;
  Solver solver = Solver::fmm;
  double sound_speed = 0.0;
  double density = 0.0;
  double first_frequency = 0.0;   // Freq1
  double last_frequency = 0.0;    // Freq2
  std::int32_t frequencies = 0;   // No. freqs
  std::int32_t octave_steps = 0;  // NOctave
};

struct HeadReading {
  DeckHead head;
  std::string problem;  // empty, or where and how the head departs from the layout
};

// Reads and checks the first HEAD_BYTES bytes of a deck (fewer when the
// file is shorter, which is then the problem).
HeadReading read_head(std::span<const char> bytes);

// What to set; an absent value keeps the deck's.
struct DeckSettings {
  std::optional<double> sound_speed;
  std::optional<double> density;
  std::optional<double> first_frequency;
  std::optional<double> last_frequency;
  std::optional<std::int32_t> frequencies;
  std::optional<std::int32_t> octave_steps;
  std::optional<Solver> solver;

  bool any() const {
    return sound_speed || density || first_frequency || last_frequency || frequencies ||
           octave_steps || solver;
  }
};

// Checks the settings against the deck's fields and against each other, and
// writes them into `head` (HEAD_BYTES bytes of a deck whose head reads
// without a problem) in the columns the values occupy. Returns an empty
// string, or the reason the settings are refused; `head` is then unchanged.
std::string apply_settings(const DeckSettings& settings, std::span<char> head);

// The byte range of the head that apply_settings may change: records 7 and
// 8, and record 2 when the solver is set. One page of every file system
// holds it whole.
struct ByteRange {
  std::size_t first = 0;
  std::size_t end = 0;
};
ByteRange changed_range(const DeckSettings& settings);

// The largest values the FIX(10.2) fields take: a value in the first field
// of its record may fill all ten columns; one that follows another field
// keeps a blank in front of it, for the solver reads the fields as a list
// separated by blanks, and a value running into the one before it would
// make one unreadable number of the two.
inline constexpr double LARGEST_FIRST_FIELD = 9'999'999.99;
inline constexpr double LARGEST_FOLLOWING_FIELD = 999'999.99;
// The number of frequencies has columns 21-24 of record 8 and NOctave
// columns 25-30, each after a field, so each keeps a blank in front.
inline constexpr std::int32_t MAX_FREQUENCIES = 999;
inline constexpr std::int32_t MAX_OCTAVE_STEPS = 99'999;

}  // namespace deck
