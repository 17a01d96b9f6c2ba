// Room for a large table in huge pages where the system offers them.
//
// The programs fill tables of tens or hundreds of megabytes once and read
// them a few times. Each first touch of a 4 KiB page is a page fault, which
// on virtual machines costs several microseconds: the converter's
// coordinate table for a large model touches tens of thousands of pages, a
// third of the run. Asked for 2 MiB pages (transparent huge pages, Linux),
// the system takes one fault per 2 MiB instead. Elsewhere the advice is
// ignored; nothing else changes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace io {

inline constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;

// The first address at or after `address` on a huge-page boundary.
inline std::uintptr_t huge_page_boundary(std::uintptr_t address) {
  return (address + (HUGE_PAGE_BYTES - 1)) & ~std::uintptr_t{HUGE_PAGE_BYTES - 1};
}

// Advises huge pages for the whole 2 MiB blocks inside [data, data + bytes),
// which should not have been touched yet. Advice only: a refusal leaves the
// table in ordinary pages, only slower to fill.
void advise_huge_pages(const void* data, std::size_t bytes);

}  // namespace io
