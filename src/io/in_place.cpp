#include "io/in_place.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace io {

Outcome lock_file(InputFile& file, LockKind kind, const std::function<void()>& before_waiting,
                  const std::string& path) {
  const int operation = kind == LockKind::shared ? LOCK_SH : LOCK_EX;
  if (::flock(file.descriptor(), operation | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK && before_waiting) before_waiting();
    while (::flock(file.descriptor(), operation) != 0 && errno == EINTR) {
    }
  }
  return file.look_again(path);
}

bool still_named(const InputFile& file, const std::string& path) {
  struct stat named {};
  return ::lstat(path.c_str(), &named) == 0 && named.st_dev == file.status().st_dev &&
         named.st_ino == file.status().st_ino;
}

Outcome write_at(const InputFile& file, std::uint64_t offset, std::span<const char> bytes,
                 const std::string& path) {
  ssize_t written = -1;
  do {
    written = ::pwrite(file.descriptor(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
  } while (written < 0 && errno == EINTR);
  if (written < 0) return system_failure("cannot write", path);
  if (static_cast<std::size_t>(written) != bytes.size()) {
    return Failure{"cannot write", path, 0, "the write was cut short"};
  }
  return {};
}

Outcome sync_head(const InputFile& file, std::uint64_t length, const std::string& path) {
  if (::sync_file_range(
          file.descriptor(), 0, static_cast<off_t>(length),
          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0 &&
      errno != EINVAL && errno != ENOSYS && errno != ESPIPE) {
    return system_failure("cannot write", path);
  }
  return {};
}

}  // namespace io
