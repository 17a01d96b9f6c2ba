#include "io/file_writer.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

namespace io {

void take_file_size_limit_as_failure() { std::signal(SIGXFSZ, SIG_IGN); }

Outcome write_all(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return system_failure("cannot write", path);
    if (wrote == 0) return Failure{"cannot write", path, ENOSPC, {}};
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

FileWriter::FileWriter(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

FileWriter::FileWriter(FileWriter&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      buffer_(std::move(other.buffer_)),
      used_(std::exchange(other.used_, 0)) {}

FileWriter& FileWriter::operator=(FileWriter&& other) noexcept {
  if (this != &other) {
    abandon();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    buffer_ = std::move(other.buffer_);
    used_ = std::exchange(other.used_, 0);
  }
  return *this;
}

FileWriter::~FileWriter() { abandon(); }

void FileWriter::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  used_ = 0;
}

Outcome FileWriter::write(std::string_view bytes) {
  if (fd_ < 0) return Failure{"cannot write", path_, EBADF, {}};
  if (used_ + bytes.size() <= BUFFER_BYTES) {
    if (buffer_ == nullptr) buffer_ = std::make_unique_for_overwrite<char[]>(BUFFER_BYTES);
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    return {};
  }
  if (Outcome flushed = flush(); !flushed.ok()) return flushed;
  if (bytes.size() >= BUFFER_BYTES) return write_all(fd_, bytes, path_);
  return write(bytes);
}

Outcome FileWriter::flush() {
  if (fd_ < 0) return Failure{"cannot write", path_, EBADF, {}};
  const std::size_t count = std::exchange(used_, 0);
  return write_all(fd_, std::string_view(buffer_.get(), count), path_);
}

Outcome FileWriter::sync() {
  if (Outcome flushed = flush(); !flushed.ok()) return flushed;
  if (::fsync(fd_) != 0) return system_failure("cannot write", path_);
  return {};
}

Outcome FileWriter::close() {
  Outcome flushed = flush();
  if (fd_ < 0) return flushed;
  const int closed = ::close(std::exchange(fd_, -1));
  if (!flushed.ok()) return flushed;
  if (closed != 0) return system_failure("cannot write", path_);
  return {};
}

}  // namespace io
