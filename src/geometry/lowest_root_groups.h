// Groups joined pair by pair (union-find), each named by its lowest member:
// the grouping and the names do not depend on the order of the joins.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace geometry {

// Works on a table of parents the caller owns (one per member), which it
// may take over once the joins are done: every parent is a lower member or
// the member itself.
class LowestRootGroups {
 public:
  explicit LowestRootGroups(std::vector<std::uint32_t>& parent) : parent_(parent) {
    for (std::size_t m = 0; m < parent_.size(); ++m) parent_[m] = static_cast<std::uint32_t>(m);
  }
  std::uint32_t root(std::uint32_t member) {
    while (parent_[member] != member) {
      parent_[member] = parent_[parent_[member]];  // halves the path as it goes
      member = parent_[member];
    }
    return member;
  }
  void join(std::uint32_t a, std::uint32_t b) {
    a = root(a);
    b = root(b);
    if (a == b) return;
    if (a < b) std::swap(a, b);
    parent_[a] = b;
  }

 private:
  std::vector<std::uint32_t>& parent_;
};

}  // namespace geometry
