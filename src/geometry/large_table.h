// Room for a large table, taken in huge pages where the system offers them
// (io/huge_pages.h says why): the companions fill tables of tens of
// megabytes once and read them a few times.
#pragma once

#include <cstddef>
#include <vector>

#include "io/huge_pages.h"

namespace geometry {

// Reserves room for `count` elements in an empty vector and advises huge
// pages for it.
template <typename T>
void reserve_large(std::vector<T>& table, std::size_t count) {
  table.reserve(count);
  io::advise_huge_pages(table.data(), table.capacity() * sizeof(T));
}

}  // namespace geometry
