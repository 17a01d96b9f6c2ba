// Fuzz target: any STL file content, scanned in this process. Every input
// must end in a defined way: a clean end of the scan with a consistent mesh
// store, or one of the scanner's stops and reports, never a crash or an
// access out of bounds.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "mesh/mesh_store.h"
#include "reading/stl_scanner.h"
#include "records/channel.h"
#include "records/endings.h"

namespace {

std::jmp_buf back_to_the_loop;

[[noreturn]] void return_to_the_loop(int status) { std::longjmp(back_to_the_loop, status + 1); }

// Reports and stop messages are expected here by the thousand: run with
// -close_fd_mask=2.
bool set_up() {
  mesh::reserve_mesh_store();
  records::set_process_end(return_to_the_loop);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = set_up();
  (void)ready;
  const int file = ::memfd_create("STL_Model.stl", 0);
  if (file < 0 || ::write(file, data, size) != static_cast<ssize_t>(size)) std::abort();
  ::lseek(file, 0, SEEK_SET);
  records::install_channel(std::make_unique<records::Channel>(
      records::STL_UNIT, file, "STL_Model.stl", records::OutputMode::plain, true));

  const int ending = setjmp(back_to_the_loop);
  if (ending == 0) {
    reading::scan_stl();
    const mesh::MeshTables mesh = mesh::mesh_tables();
    if (mesh.node_count != 3 * mesh.facet_count) __builtin_trap();
    for (std::int32_t e = 0; e < mesh.facet_count; ++e) {
      for (std::int32_t k = 0; k < 3; ++k) {
        if (mesh.element_nodes[3 * e + k] != 3 * e + k + 1) __builtin_trap();
      }
      if (mesh.element_bc[e] != 0.0) __builtin_trap();
    }
    records::close_all_channels();
  } else {
    const int status = ending - 1;
    // The scanner's endings: end of file inside a facet, an invalid
    // coordinate, a failed read.
    if (status != records::REPORT_END_OF_FILE && status != records::REPORT_INVALID_REAL &&
        status != records::REPORT_READ_ERROR && status != reading::READ_FAILURE_STATUS) {
      __builtin_trap();
    }
  }
  records::reset_channels();
  mesh::reset_mesh_store();
  return 0;
}
