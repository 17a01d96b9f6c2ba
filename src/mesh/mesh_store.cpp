#include "mesh/mesh_store.h"

#include <sys/mman.h>

namespace mesh {
namespace {

// The coordinate table is filled front to back and read twice; in pages of
// 2 MiB the system supplies it in a few hundred faults instead of tens of
// thousands, which was a third of a large run's time.
constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;
constexpr std::size_t TABLE_BYTES = std::size_t{MAX_NODES} * 3 * sizeof(double);

}  // namespace

MeshStore::~MeshStore() {
  if (mapping_ != nullptr) ::munmap(mapping_, mapping_size_);
}

bool MeshStore::reserve() {
  // Address space only: a page is committed when the scanner first writes
  // it. One huge page more than the table lets its start be aligned.
  const std::size_t size = TABLE_BYTES + HUGE_PAGE;
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping == MAP_FAILED) return false;
  mapping_ = mapping;
  mapping_size_ = size;
  const auto address = reinterpret_cast<std::uintptr_t>(mapping);
  const std::uintptr_t aligned = (address + HUGE_PAGE - 1) & ~std::uintptr_t{HUGE_PAGE - 1};
  // A system without transparent huge pages refuses the advice; the table
  // then takes ordinary pages, only more slowly.
  ::madvise(reinterpret_cast<void*>(aligned), TABLE_BYTES, MADV_HUGEPAGE);
  node_xyz_ = reinterpret_cast<double*>(aligned);
  return true;
}

}  // namespace mesh
