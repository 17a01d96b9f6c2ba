#include "records/input_channel.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace records {
namespace {

// The file is read in blocks of this size: large enough that system calls
// cost nothing next to the scan, small enough to stay in the cache.
constexpr std::size_t INPUT_BLOCK = std::size_t{1} << 20;

// A line that spans two blocks is gathered in a string; its kept head
// grows to at most this before any growth needs the allocator (the
// converter keeps 80 characters of a line at most).
constexpr std::size_t SHORT_HEAD = 128;

}  // namespace

InputChannel::InputChannel(int unit, int fd, std::string path)
    : unit_(unit), fd_(fd), path_(std::move(path)) {
  spanning_.reserve(SHORT_HEAD);
}

InputChannel::~InputChannel() {
  if (fd_ >= 0) ::close(fd_);
}

void InputChannel::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool InputChannel::reserve_block() {
  if (!buffer_) buffer_.reset(new (std::nothrow) char[INPUT_BLOCK]);
  return buffer_ != nullptr;
}

bool InputChannel::refill() {
  if (!reserve_block()) return false;
  begin_ = 0;
  end_ = 0;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get(), INPUT_BLOCK);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) input_ended_ = true;
    end_ = static_cast<std::size_t>(got);
    return true;
  }
}

ReadOutcome InputChannel::read_line(std::string_view& first, std::size_t keep) {
  bool spans = false;    // this line began in an earlier block
  char last_seen = 0;    // the last byte of this line in earlier blocks
  std::size_t seen = 0;  // bytes of this line in earlier blocks
  spanning_.clear();
  for (;;) {
    if (begin_ < end_) {
      char* start = buffer_.get() + begin_;
      const std::size_t available = end_ - begin_;
      const auto* feed = static_cast<const char*>(std::memchr(start, '\n', available));
      if (feed != nullptr) {
        std::size_t length = static_cast<std::size_t>(feed - start);
        begin_ += length + 1;
        if (!spans) {
          // The common case: the whole line lies in this block.
          if (length > 0 && start[length - 1] == '\r') --length;
          first = std::string_view(start, std::min(length, keep));
          return ReadOutcome::line;
        }
        // A carriage return just before the line feed may have ended the
        // previous block.
        const char last = length > 0 ? start[length - 1] : last_seen;
        const std::size_t total = seen + length - (last == '\r' ? 1 : 0);
        try {
          spanning_.append(start, std::min(keep - spanning_.size(), length));
        } catch (const std::bad_alloc&) {
          return ReadOutcome::failure;
        }
        first = std::string_view(spanning_.data(), std::min(total, keep));
        return ReadOutcome::line;
      }
      // The line goes on in the next block: keep its start only.
      try {
        spanning_.append(start, std::min(keep - spanning_.size(), available));
      } catch (const std::bad_alloc&) {
        return ReadOutcome::failure;
      }
      spans = true;
      seen += available;
      last_seen = start[available - 1];
      begin_ = end_;
    }
    // Bytes after the last line feed do not form a line.
    if (input_ended_) return ReadOutcome::end_of_input;
    if (!refill()) return ReadOutcome::failure;
  }
}

}  // namespace records
