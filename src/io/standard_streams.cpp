#include "io/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace io {
namespace {

bool writes_into(int fd, const struct stat& file) {
  struct stat stream {};
  return S_ISREG(file.st_mode) && ::fstat(fd, &stream) == 0 && S_ISREG(stream.st_mode) &&
         stream.st_dev == file.st_dev && stream.st_ino == file.st_ino;
}

}  // namespace

StreamsInto standard_streams_into(const struct stat& file) {
  return {writes_into(STDOUT_FILENO, file), writes_into(STDERR_FILENO, file)};
}

void hold_closed_standard_streams() {
  for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(stream, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free number is the closed stream's own.
    const int held = ::open("/dev/null", O_RDONLY);
    if (held >= 0 && held != stream) ::close(held);
  }
}

}  // namespace io
