// The node and element sections of a deck, and of the mesh view beside it,
// read record by record: numbered as the converter numbers them, every
// coordinate readable, and the view's coordinates the deck's to their 7
// digits. Also the longest element edge, for the wavelength.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace deck {

// The mesh view's size for a deck of m elements.
constexpr std::uint64_t view_bytes(std::uint64_t elements) { return 179 + 188 * elements; }

// The view's header records for a model of n nodes and m elements.
std::string view_header(std::int32_t nodes, std::int32_t elements);

struct BodyFacts {
  std::string problem;       // the deck's first fault (empty when whole), with its line
  std::string view_problem;  // the view's first difference from the deck; empty for none
  std::int64_t nonfinite_nodes = 0;
  double longest_edge = 0.0;  // over the elements whose corners are finite
};

// Reads the deck's sections, and the view's when view_fd is not -1 (its
// header and size already found to match the deck's). `threads` > 1 lets
// that many threads take a share of the records each.
BodyFacts read_body(int deck_fd, int view_fd, std::int32_t elements, int threads);

}  // namespace deck
