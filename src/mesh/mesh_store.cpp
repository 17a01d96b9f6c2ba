#include "mesh/mesh_store.h"

#include <sys/mman.h>

#include "io/huge_pages.h"

namespace mesh {
namespace {

// The coordinate table is filled front to back and read twice; in huge
// pages the system supplies it in a few hundred faults instead of tens of
// thousands, which was a third of a large run's time.
constexpr std::size_t TABLE_BYTES = std::size_t{MAX_NODES} * 3 * sizeof(double);

}  // namespace

MeshStore::~MeshStore() {
  if (mapping_ != nullptr) ::munmap(mapping_, mapping_size_);
}

bool MeshStore::reserve() {
  // Address space only: a page is committed when the scanner first writes
  // it. The table rounded up to whole huge pages, and one more to align
  // its start, so that every page of it lies in a whole huge page.
  const std::size_t size =
      (TABLE_BYTES + io::HUGE_PAGE_BYTES - 1) / io::HUGE_PAGE_BYTES * io::HUGE_PAGE_BYTES +
      io::HUGE_PAGE_BYTES;
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping == MAP_FAILED) return false;
  mapping_ = mapping;
  mapping_size_ = size;
  io::advise_huge_pages(mapping, size);
  node_xyz_ =
      reinterpret_cast<double*>(io::huge_page_boundary(reinterpret_cast<std::uintptr_t>(mapping)));
  return true;
}

}  // namespace mesh
