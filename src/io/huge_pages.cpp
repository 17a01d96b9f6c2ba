#include "io/huge_pages.h"

#include <sys/mman.h>

namespace io {

void advise_huge_pages(const void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = huge_page_boundary(begin);
  const std::uintptr_t last = (begin + bytes) & ~std::uintptr_t{HUGE_PAGE_BYTES - 1};
  if (last > first) {
    static_cast<void>(::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE));
  }
#else
  static_cast<void>(data);
  static_cast<void>(bytes);
#endif
}

}  // namespace io
