// Room for a large table, taken in huge pages where the system offers them.
//
// The companions fill tables of tens of megabytes once and read them a few
// times. Each first touch of a 4 KiB page is a page fault, which on virtual
// machines costs several microseconds: a model of a million and a half
// facets touches some sixty thousand pages, a large part of the run. Asked
// for 2 MiB pages (transparent huge pages, Linux), the kernel takes one
// fault per 2 MiB instead. Elsewhere the advice is ignored; nothing else
// changes.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace geometry {

// Advises huge pages for the whole 2 MiB blocks inside [data, data + bytes)
// that have not been touched yet.
inline void advise_huge_pages(const void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const std::uintptr_t last = (begin + bytes) & ~(HUGE_PAGE - 1);
  if (last > first) {
    // Advice only: a refusal leaves the table in ordinary pages.
    static_cast<void>(::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE));
  }
#else
  static_cast<void>(data);
  static_cast<void>(bytes);
#endif
}

// Reserves room for `count` elements in an empty vector and advises huge
// pages for it.
template <typename T>
void reserve_large(std::vector<T>& table, std::size_t count) {
  table.reserve(count);
  advise_huge_pages(table.data(), table.capacity() * sizeof(T));
}

}  // namespace geometry
