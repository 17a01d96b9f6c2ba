#include "deck/deck_body.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "deck/deck_head.h"
#include "format/fields.h"
#include "io/input_file.h"
#include "io/worker_thread.h"

namespace deck {
namespace {

constexpr std::size_t VIEW_RECORD_BYTES = 47;
constexpr std::size_t VIEW_HEADER_BYTES = 176;
constexpr std::size_t VIEW_SEPARATOR_BYTES = 3;
// Records read at a time from each file: about 1 MiB of deck.
constexpr std::int64_t BATCH_RECORDS = 12'288;

// A decimal number kept as the text of a right-aligned INT(w) field and
// counted up in place, so that the numbers of millions of records are
// compared without rendering each.
template <std::size_t WIDTH>
class FieldCounter {
 public:
  explicit FieldCounter(std::int64_t start) {
    text_.fill(' ');
    std::string digits = std::to_string(start);
    std::memcpy(text_.data() + WIDTH - digits.size(), digits.data(), digits.size());
  }
  std::string_view text() const { return {text_.data(), WIDTH}; }
  void step() {
    for (std::size_t i = WIDTH; i-- > 0;) {
      if (text_[i] == ' ') {
        text_[i] = '1';
        return;
      }
      if (text_[i] != '9') {
        ++text_[i];
        return;
      }
      text_[i] = '0';
    }
  }

 private:
  std::array<char, WIDTH> text_{};
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A coordinate of EXP(w.d) as the converter writes it: 0.d1...dd and the
// exponent part ('D' or 'E', sign, two digits; or sign and three digits).
// Kind `other` for the non-finite forms, compared as text.
struct Coordinate {
  enum Kind { finite, other, unreadable } kind = unreadable;
  bool negative = false;
  std::uint64_t digits = 0;  // d1...dd as an integer
  int exponent = 0;          // value = 0.d1...dd x 10^exponent
};

template <std::size_t DIGITS>
Coordinate read_coordinate(const char* field, std::size_t width, char letter) {
  Coordinate c;
  const std::size_t start = width - DIGITS - 7;  // the sign's column
  for (std::size_t i = 0; i < start; ++i) {
    if (field[i] != ' ') {
      c.kind = Coordinate::unreadable;
      return c;
    }
  }
  if (field[start] == '-') {
    c.negative = true;
  } else if (field[start] != ' ') {
    // "Infinity", "-Infinity" and "NaN" are right-aligned words.
    c.kind = Coordinate::other;
    return c;
  }
  if (field[start + 1] != '0' || field[start + 2] != '.') {
    c.kind = field[start + 1] == ' ' || field[start + 1] == 'I' || field[start + 1] == 'N'
                 ? Coordinate::other
                 : Coordinate::unreadable;
    return c;
  }
  const char* p = field + start + 3;
  std::uint64_t digits = 0;
  for (std::size_t i = 0; i < DIGITS; ++i) {
    if (!is_digit(p[i])) return c;
    digits = digits * 10 + static_cast<std::uint64_t>(p[i] - '0');
  }
  p += DIGITS;
  int exponent = 0;
  int sign = 0;
  if (p[0] == letter && (p[1] == '+' || p[1] == '-') && is_digit(p[2]) && is_digit(p[3])) {
    sign = p[1] == '-' ? -1 : 1;
    exponent = (p[2] - '0') * 10 + (p[3] - '0');
  } else if ((p[0] == '+' || p[0] == '-') && is_digit(p[1]) && is_digit(p[2]) && is_digit(p[3])) {
    sign = p[0] == '-' ? -1 : 1;
    exponent = (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
  } else {
    return c;
  }
  c.kind = Coordinate::finite;
  c.digits = digits;
  c.exponent = sign * exponent;
  return c;
}

constexpr std::size_t DECK_DIGITS = 15;
constexpr std::size_t VIEW_DIGITS = 7;

// Powers of ten for the coordinates' values; the edge lengths need them to
// a unit in the last place or two, not exactly.
struct PowersOfTen {
  static constexpr int LOWEST = -400;
  std::array<double, 801> table{};
  PowersOfTen() {
    for (int k = LOWEST; k <= 400; ++k) {
      table[static_cast<std::size_t>(k - LOWEST)] = std::pow(10.0, k);
    }
  }
  double operator()(int k) const {
    return k < LOWEST ? 0.0 : k > 400 ? HUGE_VAL : table[static_cast<std::size_t>(k - LOWEST)];
  }
};

double value_of(const Coordinate& c, const PowersOfTen& powers) {
  const double magnitude =
      static_cast<double>(c.digits) * powers(c.exponent - static_cast<int>(DECK_DIGITS));
  return c.negative ? -magnitude : magnitude;
}

// Whether the view's 7 digits are the deck's 15 rounded to nearest. The
// view was rounded from the same double as the deck; when the deck's
// digits 8-15 are exactly 50000000 that double may have lain on either
// side of the tie, so either neighbour is right.
bool view_matches(const Coordinate& deck, const Coordinate& view) {
  if (deck.digits == 0) return view.digits == 0 && view.exponent == 0 && !view.negative;
  if (deck.negative != view.negative) return false;
  constexpr std::uint64_t CUT = 100'000'000;  // 10^(15 - 7)
  const std::uint64_t kept = deck.digits / CUT;
  const std::uint64_t rest = deck.digits % CUT;
  const auto same = [&](std::uint64_t digits) {
    int exponent = deck.exponent;
    if (digits == 10'000'000) {
      digits = 1'000'000;
      ++exponent;
    }
    return view.digits == digits && view.exponent == exponent;
  };
  if (rest > CUT / 2) return same(kept + 1);
  if (rest < CUT / 2) return same(kept);
  return same(kept) || same(kept + 1);
}

// The text the converter writes for a non-finite coordinate in a field.
std::string nonfinite_text(std::string_view deck_field, std::size_t width, char letter) {
  const std::string_view word = deck_field.substr(deck_field.find_first_not_of(' '));
  const double value = word == "NaN"         ? std::nan("")
                       : word == "-Infinity" ? -HUGE_VAL
                       : word == "Infinity"  ? HUGE_VAL
                                             : 0.0;
  std::string text(width, ' ');
  if (value == 0.0) return {};
  format::render_exp(value, VIEW_DIGITS, letter, std::span<char>(text.data(), width));
  return text;
}

// Fills `into` from `offset`; empty, or why the file could not be read.
std::string read_bytes(int fd, std::span<char> into, std::uint64_t offset) {
  const io::Outcome got = io::read_at(fd, offset, into, {});
  return got.ok() ? std::string() : got.failure().reason();
}

// One share of the work: nodes [first_node, end_node) (0-based, a multiple
// of 3 apart) and the elements they make.
struct Share {
  std::int64_t first_node = 0;
  std::int64_t end_node = 0;
  BodyFacts facts;
  std::uint64_t problem_at = UINT64_MAX;  // the deck's byte where the first fault lies
  std::uint64_t view_problem_at = UINT64_MAX;
};

std::string line_text(std::uint64_t line) { return "line " + std::to_string(line); }

void read_share(int deck_fd, int view_fd, std::int64_t nodes, Share& share) {
  const PowersOfTen powers;
  const bool with_view = view_fd >= 0;
  std::vector<char> deck_bytes(static_cast<std::size_t>(BATCH_RECORDS) * ELEMENT_RECORD_BYTES);
  std::vector<char> view_bytes(
      with_view ? static_cast<std::size_t>(BATCH_RECORDS) * VIEW_RECORD_BYTES : 0);
  const auto fault = [&](std::uint64_t at, std::string what) {
    if (at < share.problem_at) {
      share.problem_at = at;
      share.facts.problem = std::move(what);
    }
  };
  const auto view_fault = [&](std::uint64_t at, std::string what) {
    if (at < share.view_problem_at) {
      share.view_problem_at = at;
      share.facts.view_problem = std::move(what);
    }
  };

  // The nodes, three at a time: an element's corners.
  FieldCounter<8> node_number(share.first_node + 1);
  std::array<double, 9> corners{};
  for (std::int64_t batch = share.first_node; batch < share.end_node; batch += BATCH_RECORDS) {
    const auto count = static_cast<std::size_t>(std::min(BATCH_RECORDS, share.end_node - batch));
    const std::uint64_t deck_at =
        HEAD_BYTES + NODE_RECORD_BYTES * static_cast<std::uint64_t>(batch);
    if (const std::string why =
            read_bytes(deck_fd, std::span(deck_bytes.data(), count * NODE_RECORD_BYTES), deck_at);
        !why.empty()) {
      fault(deck_at, "the node records could not be read from " +
                         line_text(11 + static_cast<std::uint64_t>(batch)) + ": " + why);
      return;
    }
    const std::uint64_t view_at =
        VIEW_HEADER_BYTES + VIEW_RECORD_BYTES * static_cast<std::uint64_t>(batch);
    if (const std::string why =
            with_view ? read_bytes(view_fd, std::span(view_bytes.data(), count * VIEW_RECORD_BYTES),
                                   view_at)
                      : std::string();
        !why.empty()) {
      view_fault(deck_at, "its node lines could not be read: " + why);
      return;
    }
    for (std::size_t r = 0; r < count; ++r) {
      const auto node = batch + static_cast<std::int64_t>(r);  // 0-based
      const char* record = deck_bytes.data() + r * NODE_RECORD_BYTES;
      const std::uint64_t at = deck_at + r * NODE_RECORD_BYTES;
      const std::uint64_t line = 11 + static_cast<std::uint64_t>(node);
      if (std::string_view(record, 8) != node_number.text() || record[80] != '\r' ||
          record[81] != '\n') {
        fault(at, line_text(line) + " is not node record " + std::to_string(node + 1) +
                      " (its number in columns 1-8, 80 characters and CR LF)");
        return;
      }
      node_number.step();
      bool finite = true;
      for (std::size_t axis = 0; axis < 3; ++axis) {
        const char* field = record + 8 + 24 * axis;
        const Coordinate c = read_coordinate<DECK_DIGITS>(field, 24, 'D');
        if (c.kind == Coordinate::unreadable ||
            (c.kind == Coordinate::other && nonfinite_text({field, 24}, 24, 'D').empty())) {
          fault(at, line_text(line) + ", columns " + std::to_string(9 + 24 * axis) + "-" +
                        std::to_string(32 + 24 * axis) + ": '" + std::string(field, 24) +
                        "' is not a coordinate");
          return;
        }
        finite = finite && c.kind == Coordinate::finite;
        corners[static_cast<std::size_t>(node % 3) * 3 + axis] =
            c.kind == Coordinate::finite ? value_of(c, powers) : HUGE_VAL;
        if (!with_view || share.view_problem_at != UINT64_MAX) continue;
        const char* view_field = view_bytes.data() + r * VIEW_RECORD_BYTES + 15 * axis;
        bool same = false;
        if (c.kind == Coordinate::finite) {
          const Coordinate v = read_coordinate<VIEW_DIGITS>(view_field, 15, 'E');
          same = v.kind == Coordinate::finite && view_matches(c, v);
        } else {
          same = std::string_view(view_field, 15) == nonfinite_text({field, 24}, 15, 'E');
        }
        if (!same) {
          view_fault(at, "node " + std::to_string(node + 1) + " has '" +
                             std::string(view_field, 15) + "' where the deck has '" +
                             std::string(field, 24) + "'");
        }
      }
      if (with_view && share.view_problem_at == UINT64_MAX &&
          (view_bytes[r * VIEW_RECORD_BYTES + 45] != '\r' ||
           view_bytes[r * VIEW_RECORD_BYTES + 46] != '\n')) {
        view_fault(at, "node line " + std::to_string(node + 1) + " does not end with CR LF");
      }
      if (!finite) ++share.facts.nonfinite_nodes;
      if (node % 3 == 2 &&
          std::isfinite(corners[0] + corners[3] + corners[6] + corners[1] + corners[4] +
                        corners[7] + corners[2] + corners[5] + corners[8])) {
        for (std::size_t a = 0; a < 3; ++a) {
          const std::size_t b = (a + 1) % 3;
          const double dx = corners[3 * a] - corners[3 * b];
          const double dy = corners[3 * a + 1] - corners[3 * b + 1];
          const double dz = corners[3 * a + 2] - corners[3 * b + 2];
          share.facts.longest_edge =
              std::max(share.facts.longest_edge, std::sqrt(dx * dx + dy * dy + dz * dz));
        }
      }
    }
  }

  // The elements: number i, nodes 3i-2, 3i-1, 3i, type 2 and a value.
  const std::int64_t first_element = share.first_node / 3;
  const std::int64_t end_element = share.end_node / 3;
  const auto total_nodes = static_cast<std::uint64_t>(nodes);
  FieldCounter<10> element_number(first_element + 1);
  FieldCounter<8> corner_number(3 * first_element + 1);
  FieldCounter<15> view_corner(3 * first_element + 1);
  constexpr std::string_view CONDITION = "        2   (0.D+00,";  // columns 38-57
  for (std::int64_t batch = first_element; batch < end_element; batch += BATCH_RECORDS) {
    const auto count = static_cast<std::size_t>(std::min(BATCH_RECORDS, end_element - batch));
    const std::uint64_t deck_at = elements_heading_offset(total_nodes) + ELEMENTS_HEADING_BYTES +
                                  ELEMENT_RECORD_BYTES * static_cast<std::uint64_t>(batch);
    if (const std::string why = read_bytes(
            deck_fd, std::span(deck_bytes.data(), count * ELEMENT_RECORD_BYTES), deck_at);
        !why.empty()) {
      fault(deck_at, "the element records could not be read: " + why);
      return;
    }
    const std::uint64_t view_at = VIEW_HEADER_BYTES + VIEW_RECORD_BYTES * total_nodes +
                                  VIEW_SEPARATOR_BYTES +
                                  VIEW_RECORD_BYTES * static_cast<std::uint64_t>(batch);
    if (const std::string why =
            with_view ? read_bytes(view_fd, std::span(view_bytes.data(), count * VIEW_RECORD_BYTES),
                                   view_at)
                      : std::string();
        !why.empty()) {
      view_fault(deck_at, "its element lines could not be read: " + why);
      return;
    }
    for (std::size_t r = 0; r < count; ++r) {
      const auto element = batch + static_cast<std::int64_t>(r);
      const char* record = deck_bytes.data() + r * ELEMENT_RECORD_BYTES;
      const std::uint64_t at = deck_at + r * ELEMENT_RECORD_BYTES;
      const std::uint64_t line = 12 + total_nodes + static_cast<std::uint64_t>(element);
      bool whole = std::string_view(record, 10) == element_number.text() &&
                   std::string_view(record + 10, 3) == "   ";
      const char* view_record = view_bytes.data() + r * VIEW_RECORD_BYTES;
      bool view_same = true;
      for (std::size_t k = 0; k < 3; ++k) {
        whole = whole && std::string_view(record + 13 + 8 * k, 8) == corner_number.text();
        view_same = view_same && (!with_view ||
                                  std::string_view(view_record + 15 * k, 15) == view_corner.text());
        corner_number.step();
        view_corner.step();
      }
      const Coordinate value = read_coordinate<DECK_DIGITS>(record + 57, 24, 'D');
      whole = whole && std::string_view(record + 37, CONDITION.size()) == CONDITION &&
              value.kind == Coordinate::finite && record[81] == ')' && record[82] == '\r' &&
              record[83] == '\n';
      if (!whole) {
        fault(at, line_text(line) + " is not element record " + std::to_string(element + 1) +
                      " (its number, nodes " + std::to_string(3 * element + 1) + "-" +
                      std::to_string(3 * element + 3) +
                      ", boundary condition 2 with a value, 82 characters and CR LF)");
        return;
      }
      element_number.step();
      if (with_view && share.view_problem_at == UINT64_MAX &&
          (!view_same || view_record[45] != '\r' || view_record[46] != '\n')) {
        view_fault(at, "element line " + std::to_string(element + 1) + " does not list nodes " +
                           std::to_string(3 * element + 1) + "-" + std::to_string(3 * element + 3));
      }
    }
  }
}

}  // namespace

std::string view_header(std::int32_t nodes, std::int32_t elements) {
  std::array<char, 12> node_text{};
  std::array<char, 12> element_text{};
  format::render_int(nodes, node_text);
  format::render_int(elements, element_text);
  // The zones record is a comment for Tecplot readers, with "#" in column 1.
  return std::string(" TITLE = \"A BEM Model for Acoustic Analysis\" \r\n#ZONES\" \r\n") +
         " VARIABLES = \"X\", \"Y\", \"Z\" \r\n ZONE T=\"Model\", N=" +
         std::string(node_text.data(), 12) + ", E=" + std::string(element_text.data(), 12) +
         "\r\n DATAPACKING=POINT, ZONETYPE=FETRIANGLE\r\n";
}

BodyFacts read_body(int deck_fd, int view_fd, std::int32_t elements, int threads) {
  const std::int64_t nodes = 3 * std::int64_t{elements};
  // Shares of whole elements, so that each share measures its own edges.
  const auto share_count = static_cast<std::size_t>(std::max(1, std::min(threads, 8)));
  std::vector<Share> shares(share_count);
  for (std::size_t s = 0; s < share_count; ++s) {
    shares[s].first_node =
        3 * (elements * static_cast<std::int64_t>(s) / static_cast<std::int64_t>(share_count));
    shares[s].end_node =
        3 * (elements * static_cast<std::int64_t>(s + 1) / static_cast<std::int64_t>(share_count));
  }
  // The first share runs here; a share whose thread the system refuses
  // runs here after it.
  const auto workers = std::make_unique<io::WorkerThread[]>(share_count);
  std::vector<bool> started(share_count, false);
  for (std::size_t s = 1; s < share_count; ++s) {
    Share& share = shares[s];
    started[s] = workers[s].start(
        [&, deck_fd, view_fd, nodes] { read_share(deck_fd, view_fd, nodes, share); });
  }
  read_share(deck_fd, view_fd, nodes, shares[0]);
  for (std::size_t s = 1; s < share_count; ++s) {
    if (started[s]) {
      workers[s].join();
    } else {
      read_share(deck_fd, view_fd, nodes, shares[s]);
    }
  }
  BodyFacts facts;
  std::uint64_t problem_at = UINT64_MAX;
  std::uint64_t view_problem_at = UINT64_MAX;
  for (const Share& share : shares) {
    if (share.problem_at < problem_at) {
      problem_at = share.problem_at;
      facts.problem = share.facts.problem;
    }
    if (share.view_problem_at < view_problem_at) {
      view_problem_at = share.view_problem_at;
      facts.view_problem = share.facts.view_problem;
    }
    facts.nonfinite_nodes += share.facts.nonfinite_nodes;
    facts.longest_edge = std::max(facts.longest_edge, share.facts.longest_edge);
  }
  return facts;
}

}  // namespace deck
