#include "deck/deck_head.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "format/fields.h"
#include "mesh/mesh_store.h"
#include "writing/deck_head.h"

namespace deck {
namespace {

constexpr std::array<std::string_view, 12> MONTHS = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// Record 2's solver type, record 8's count and NOctave, in 1-based columns.
constexpr std::size_t SOLVER_COLUMN = 17;
constexpr std::size_t FIELD_WIDTH = 10;
constexpr std::size_t COUNT_FIRST_COLUMN = 21;
constexpr std::size_t COUNT_WIDTH = 4;
constexpr std::size_t OCTAVE_WIDTH = 6;
// Record 8's literal from the column after NOctave on.
constexpr std::size_t FREQUENCIES_REST = COUNT_WIDTH + OCTAVE_WIDTH;

std::string columns_text(std::size_t first, std::size_t width) {
  return "columns " + std::to_string(first) + "-" + std::to_string(first + width - 1);
}

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// An INT(w) field holding a number >= 0: blanks, then digits to its end.
std::optional<std::int64_t> read_count(std::string_view field) {
  const std::size_t first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const std::string_view digits = field.substr(first);
  if (!all_digits(digits) || digits.size() > 12) return std::nullopt;
  std::int64_t value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

// A FIX(10.2) field as the converter writes it: blanks, an optional minus,
// at least one digit, the point and two digits, ending in the last column.
std::optional<double> read_fixed(std::string_view field) {
  const std::size_t first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  std::string_view text = field.substr(first);
  const std::string_view number = text;
  if (text.starts_with('-')) text.remove_prefix(1);
  const std::size_t point = text.find('.');
  if (point == 0 || point == std::string_view::npos || text.size() - point != 3 ||
      !all_digits(text.substr(0, point)) || !all_digits(text.substr(point + 1))) {
    return std::nullopt;
  }
  double value = 0.0;
  std::from_chars(number.data(), number.data() + number.size(), value);
  return value;
}

struct HeadReader {
  std::span<const char> bytes;
  std::string problem;

  // Record `number` without its CR LF, or empty with the problem set.
  std::string_view record(std::size_t number) {
    const std::size_t offset = record_offset(number);
    const std::size_t length = HEAD_RECORD_BYTES[number - 1];
    if (bytes.size() < offset + length) {
      fail(number, "the file ends before it (" + std::to_string(bytes.size()) + " bytes)");
      return {};
    }
    const std::string_view text(bytes.data() + offset, length);
    const std::size_t cr_lf = text.find("\r\n");
    if (cr_lf != length - 2) {
      const std::size_t lf = text.find('\n');
      fail(number, cr_lf == std::string_view::npos && lf != std::string_view::npos &&
                           (lf == 0 || text[lf - 1] != '\r')
                       ? "a line ends without its carriage return (CR LF lost)"
                       : "it does not end after " + std::to_string(length - 2) +
                             " characters with CR LF (columns shifted or cut)");
      return {};
    }
    return text.substr(0, length - 2);
  }
  void fail(std::size_t number, const std::string& what) {
    if (problem.empty()) problem = "record " + std::to_string(number) + ": " + what;
  }
  // Columns [first, first + expected.size()) of the record must hold `expected`.
  bool expect(std::size_t number, std::string_view text, std::size_t first_column,
              std::string_view expected) {
    if (text.substr(first_column - 1, expected.size()) == expected) return true;
    fail(number, columns_text(first_column, expected.size()) + " differ from the deck layout ('" +
                     std::string(text.substr(first_column - 1, expected.size())) + "' where '" +
                     std::string(expected) + "' belongs)");
    return false;
  }
};

}  // namespace

std::string_view solver_name(Solver solver) {
  switch (solver) {
    case Solver::fmm:
      return "fmm";
    case Solver::aca:
      return "aca";
    case Solver::cbem:
      break;
  }
  return "cbem";
}

HeadReading read_head(std::span<const char> bytes) {
  HeadReading reading;
  DeckHead& head = reading.head;
  HeadReader reader{bytes, {}};
  const auto done = [&]() -> HeadReading {
    reading.problem = reader.problem;
    return reading;
  };

  // 1: the title, 12 blanks, the date. A file that does not begin with the
  // title is some other file, whatever else is wrong with it.
  if (bytes.empty()) {
    reading.problem = "the file is empty";
    return reading;
  }
  const std::string_view start(bytes.data(), std::min(bytes.size(), writing::DECK_TITLE.size()));
  if (start != writing::DECK_TITLE) {
    reading.problem = "not a solver deck written by stldeck (it does not begin with its title)";
    return reading;
  }
  const std::string_view title = reader.record(1);
  if (title.empty()) return done();
  if (!reader.expect(1, title, 1, writing::DECK_TITLE) ||
      !reader.expect(1, title, 55, std::string(12, ' '))) {
    reader.problem = "not a solver deck written by stldeck (" + reader.problem + ")";
    return done();
  }
  const std::string_view date = title.substr(66, 9);
  bool month_known = false;
  for (const std::string_view month : MONTHS)
    month_known = month_known || date.substr(3, 3) == month;
  if (!all_digits(date.substr(0, 2)) || date[2] != '-' || !month_known || date[6] != '-' ||
      !all_digits(date.substr(7, 2))) {
    reader.fail(
        1, columns_text(67, 9) + " hold '" + std::string(date) + "', not a date such as 07-DEC-26");
    return done();
  }
  head.date = std::string(date);

  // 2: the job and the solver type.
  const std::string_view job = reader.record(2);
  if (job.empty()) return done();
  const char solver = job[SOLVER_COLUMN - 1];
  if (solver < '1' || solver > '3') {
    reader.fail(2, "column 17 holds '" + std::string(1, solver) +
                       "', not a solver type (1 FMM, 2 ACA, 3 CBEM)");
    return done();
  }
  head.solver = static_cast<Solver>(solver - '0');
  if (!reader.expect(2, job, 1, writing::DECK_JOB.substr(0, SOLVER_COLUMN - 1)) ||
      !reader.expect(2, job, SOLVER_COLUMN + 1, writing::DECK_JOB.substr(SOLVER_COLUMN))) {
    return done();
  }

  // 3, 5, 6 and 9: literals alone.
  const auto literal = [&](std::size_t number, std::string_view expected) {
    const std::string_view text = reader.record(number);
    return !text.empty() && reader.expect(number, text, 1, expected);
  };
  if (!literal(3, writing::DECK_SPACE)) return done();

  // 4: the counts.
  const std::string_view counts = reader.record(4);
  if (counts.empty()) return done();
  const std::optional<std::int64_t> elements = read_count(counts.substr(0, 10));
  const std::optional<std::int64_t> nodes = read_count(counts.substr(10, 10));
  if (!elements || !nodes) {
    reader.fail(4, std::string(elements ? columns_text(11, 10) : columns_text(1, 10)) +
                       " do not hold a count right-aligned in its columns");
    return done();
  }
  if (!reader.expect(4, counts, 21, "      0     0") ||
      !reader.expect(4, counts, 34, writing::DECK_COUNTS)) {
    return done();
  }
  if (*elements > mesh::MAX_FACETS || *nodes != 3 * *elements) {
    reader.fail(4, std::to_string(*elements) + " elements and " + std::to_string(*nodes) +
                       " nodes: a deck has three nodes per element and at most " +
                       std::to_string(mesh::MAX_FACETS) + " elements");
    return done();
  }
  head.elements = static_cast<std::int32_t>(*elements);
  head.nodes = static_cast<std::int32_t>(*nodes);

  if (!literal(5, writing::DECK_WAVES) || !literal(6, writing::DECK_SOURCES)) return done();

  // 7 and 8: the medium and the frequencies.
  const auto fixed = [&](std::size_t number, std::string_view text, std::size_t first_column,
                         std::string_view name, double& value) {
    const std::optional<double> read = read_fixed(text.substr(first_column - 1, FIELD_WIDTH));
    if (!read) {
      reader.fail(number, columns_text(first_column, FIELD_WIDTH) + " (" + std::string(name) +
                              ") hold '" + std::string(text.substr(first_column - 1, FIELD_WIDTH)) +
                              "', not a number with two decimals ending in column " +
                              std::to_string(first_column + FIELD_WIDTH - 1));
      return false;
    }
    value = *read;
    return true;
  };
  const std::string_view medium = reader.record(7);
  if (medium.empty() || !fixed(7, medium, 1, "cspeed", head.sound_speed) ||
      !fixed(7, medium, 11, "density", head.density) ||
      !reader.expect(7, medium, 21, writing::DECK_MEDIUM)) {
    return done();
  }
  const std::string_view frequencies = reader.record(8);
  if (frequencies.empty() || !fixed(8, frequencies, 1, "Freq1", head.first_frequency) ||
      !fixed(8, frequencies, 11, "Freq2", head.last_frequency)) {
    return done();
  }
  const std::optional<std::int64_t> count =
      read_count(frequencies.substr(COUNT_FIRST_COLUMN - 1, COUNT_WIDTH));
  const std::optional<std::int64_t> octave =
      read_count(frequencies.substr(COUNT_FIRST_COLUMN - 1 + COUNT_WIDTH, OCTAVE_WIDTH));
  if (!count || !octave) {
    reader.fail(8, (count ? columns_text(25, OCTAVE_WIDTH) + " (NOctave)"
                          : columns_text(21, COUNT_WIDTH) + " (No. freqs)") +
                       " do not hold a number right-aligned in its columns");
    return done();
  }
  head.frequencies = static_cast<std::int32_t>(*count);
  head.octave_steps = static_cast<std::int32_t>(*octave);
  if (!reader.expect(8, frequencies, COUNT_FIRST_COLUMN + FREQUENCIES_REST,
                     writing::DECK_FREQUENCIES.substr(FREQUENCIES_REST))) {
    return done();
  }
  if (!literal(9, writing::DECK_SWITCHES) || !literal(10, writing::DECK_NODES_HEADING)) {
    return done();
  }
  return done();
}

namespace {

// The value in FIX(10.2), or the reason it does not fit: more than two
// decimals, or more columns than the field leaves it.
std::string render_field(std::string_view name, double value, double largest,
                         std::span<char> field) {
  if (!(value > 0.0) || !std::isfinite(value)) {
    return std::string(name) + " must be a positive finite number";
  }
  std::array<char, FIELD_WIDTH> text{};
  format::render_fixed(value, 2, text);
  const std::string_view rendered(text.data(), text.size());
  std::string_view number = rendered.substr(rendered.find_first_not_of(' '));
  double back = 0.0;
  std::from_chars(number.data(), number.data() + number.size(), back);
  if (value > largest || rendered.find('*') != std::string_view::npos) {
    return std::string(name) + " does not fit its field: at most " +
           std::string(largest == LARGEST_FIRST_FIELD ? "9999999.99" : "999999.99");
  }
  if (back != value) {
    return std::string(name) + " has more than two decimals, which its field holds: give it as " +
           std::string(number) + " or another value with at most two";
  }
  std::memcpy(field.data(), text.data(), text.size());
  return {};
}

void render_count(std::int32_t value, std::span<char> field) { format::render_int(value, field); }

}  // namespace

ByteRange changed_range(const DeckSettings& settings) {
  const std::size_t first = settings.solver ? record_offset(2) : record_offset(7);
  return {first, record_offset(9)};
}

std::string apply_settings(const DeckSettings& settings, std::span<char> head) {
  const HeadReading reading = read_head(head);
  if (!reading.problem.empty()) return reading.problem;
  const DeckHead& now = reading.head;
  std::array<char, HEAD_BYTES> changed{};
  std::memcpy(changed.data(), head.data(), HEAD_BYTES);
  const auto column = [&](std::size_t record, std::size_t first_column, std::size_t width) {
    return std::span<char>(changed.data() + record_offset(record) + first_column - 1, width);
  };

  if (settings.sound_speed) {
    if (std::string problem = render_field("the sound speed", *settings.sound_speed,
                                           LARGEST_FIRST_FIELD, column(7, 1, FIELD_WIDTH));
        !problem.empty()) {
      return problem;
    }
  }
  if (settings.density) {
    if (std::string problem = render_field("the density", *settings.density,
                                           LARGEST_FOLLOWING_FIELD, column(7, 11, FIELD_WIDTH));
        !problem.empty()) {
      return problem;
    }
  }
  const double first = settings.first_frequency.value_or(now.first_frequency);
  const double last = settings.last_frequency.value_or(now.last_frequency);
  const std::int32_t count = settings.frequencies.value_or(now.frequencies);
  if (settings.first_frequency || settings.last_frequency || settings.frequencies) {
    if (std::string problem =
            render_field("the first frequency", first, LARGEST_FIRST_FIELD, column(8, 1, 10));
        !problem.empty()) {
      return problem;
    }
    if (std::string problem =
            render_field("the last frequency", last, LARGEST_FOLLOWING_FIELD, column(8, 11, 10));
        !problem.empty()) {
      return problem;
    }
    // Compared as written, since the solver reads the written digits.
    double first_written = 0.0;
    double last_written = 0.0;
    const std::span<char> first_field = column(8, 1, 10);
    const std::span<char> last_field = column(8, 11, 10);
    const std::string_view first_text(first_field.data(), first_field.size());
    const std::string_view last_text(last_field.data(), last_field.size());
    first_written = read_fixed(first_text).value_or(0.0);
    last_written = read_fixed(last_text).value_or(0.0);
    if (first_written > last_written) {
      return "the first frequency (" +
             std::string(first_text.substr(first_text.find_first_not_of(' '))) +
             ") lies above the last (" +
             std::string(last_text.substr(last_text.find_first_not_of(' '))) + ")";
    }
    if (count < 1 || count > MAX_FREQUENCIES) {
      return "the number of frequencies must lie between 1 and " + std::to_string(MAX_FREQUENCIES) +
             " (its field holds 3 digits after a blank)";
    }
    if (first_written == last_written && count != 1) {
      return "the first and the last frequency are one, so the number of frequencies must be 1, "
             "not " +
             std::to_string(count);
    }
    render_count(count, column(8, COUNT_FIRST_COLUMN, COUNT_WIDTH));
  }
  if (settings.octave_steps) {
    if (*settings.octave_steps < 0 || *settings.octave_steps > MAX_OCTAVE_STEPS) {
      return "NOctave must lie between 0 and " + std::to_string(MAX_OCTAVE_STEPS) +
             " (its field holds 5 digits after a blank)";
    }
    render_count(*settings.octave_steps, column(8, COUNT_FIRST_COLUMN + COUNT_WIDTH, OCTAVE_WIDTH));
  }
  if (settings.solver) {
    changed[record_offset(2) + SOLVER_COLUMN - 1] =
        static_cast<char>('0' + static_cast<int>(*settings.solver));
  }
  std::memcpy(head.data(), changed.data(), HEAD_BYTES);
  return {};
}

}  // namespace deck
