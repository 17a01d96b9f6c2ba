#include "io/standard_error.h"

#include <unistd.h>

#include <cerrno>

namespace io {

void write_to_standard_error(std::string_view text) {
  while (!text.empty()) {
    const ssize_t done = ::write(STDERR_FILENO, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;  // nowhere left to report to
    text.remove_prefix(static_cast<std::size_t>(done));
  }
}

}  // namespace io
