#include "io/input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace io {
namespace {

Outcome refuse_kind(const std::string& path, const struct stat& status) {
  return Failure{"cannot read", path, 0,
                 S_ISDIR(status.st_mode) ? "it is a folder" : "not a regular file"};
}

}  // namespace

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), status_(other.status_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    status_ = other.status_;
  }
  return *this;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

int InputFile::release() { return std::exchange(fd_, -1); }

Outcome InputFile::look_again(const std::string& path) {
  if (::fstat(fd_, &status_) != 0) return system_failure("cannot read", path);
  return {};
}

Outcome open_input_file(const std::string& path, InputFile& file, Access access) {
  file = InputFile{};
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    return refuse_kind(path, status);
  }
  const int flags = access == Access::read ? O_RDONLY : O_RDWR | O_NOFOLLOW;
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && errno == ELOOP && access == Access::change_in_place) {
    return Failure{"cannot open", path, 0, "a symbolic link; name the file itself"};
  }
  if (fd < 0) return system_failure("cannot open", path);
  file.fd_ = fd;
  if (::fstat(fd, &file.status_) != 0) {
    Failure failure = system_failure("cannot read", path);
    file = InputFile{};
    return failure;
  }
  if (!S_ISREG(file.status_.st_mode)) {
    Outcome refused = refuse_kind(path, file.status_);
    file = InputFile{};
    return refused;
  }
  return {};
}

bool is_same_file(const InputFile& a, const InputFile& b) {
  return a.status().st_dev == b.status().st_dev && a.status().st_ino == b.status().st_ino;
}

Outcome read_at(int fd, std::uint64_t offset, std::span<char> bytes, const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return system_failure("cannot read", path);
    if (got == 0) return Failure{"cannot read", path, 0, "the file ended early"};
    done += static_cast<std::size_t>(got);
  }
  return {};
}

Outcome read_at(const InputFile& file, std::uint64_t offset, std::span<char> bytes,
                const std::string& path) {
  return read_at(file.descriptor(), offset, bytes, path);
}

}  // namespace io
