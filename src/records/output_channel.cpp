#include "records/output_channel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace records {
namespace {

// Output files are written in blocks of this size: large enough that system
// calls cost nothing next to the rendering, small enough to stay in the
// cache.
constexpr std::size_t OUTPUT_BLOCK = std::size_t{1} << 20;
// The console and standard error get free-form records of at most 80
// characters and the stop message: with the control character, an owed line
// feed and the terminator, 128 bytes hold any of them. A longer record (only
// tests write one) grows the buffer by the largest of the amount needed, 512
// and one eighth of its size.
constexpr std::size_t SHOWN_START = 128;

}  // namespace

OutputChannel::OutputChannel(int unit, int fd, std::string path, OutputMode mode, bool owns_fd)
    : unit_(unit), fd_(fd), path_(std::move(path)), mode_(mode), owns_fd_(owns_fd) {
  struct stat info {};
  // Only the files the run opens itself are cut; standard output redirected
  // to a file (perhaps appending to a log) is never touched.
  regular_file_ = owns_fd_ && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
  // The console and standard error show each record at once.
  block_file_ = mode_ == OutputMode::plain && unit_ != CONSOLE_UNIT && unit_ != ERROR_UNIT;
}

OutputChannel::~OutputChannel() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

bool OutputChannel::reserve_block() {
  if (capacity_ > 0) return true;
  const std::size_t size = block_file_ ? OUTPUT_BLOCK : SHOWN_START;
  buffer_.reset(new (std::nothrow) char[size]);
  if (!buffer_) return false;
  capacity_ = size;
  return true;
}

char* OutputChannel::make_record_space(std::size_t max_length) {
  // Room for the record, one leading line feed owed in control-column mode,
  // and the terminator.
  const std::size_t needed = max_length + RECORD_TERMINATOR.size() + 1;
  if (capacity_ - end_ < needed) {
    // A refused write is kept as the channel's failure, for its caller.
    if (end_ > 0) (void)flush();
    if (capacity_ < needed) {
      std::size_t grown = capacity_ == 0 ? (block_file_ ? OUTPUT_BLOCK : SHOWN_START) : capacity_;
      while (grown < needed) grown += std::max({needed - grown, std::size_t{512}, grown / 8});
      // Only a record longer than the block grows it, which the system's
      // own records never are; memory refused here takes the way every
      // failed allocation of the program takes.
      buffer_ = std::make_unique<char[]>(grown);
      capacity_ = grown;
    }
  }
  // In control-column mode the record is built one place further on, so that
  // an owed line feed can go before it.
  return buffer_.get() + end_ + (mode_ == OutputMode::plain ? 0 : 1);
}

void OutputChannel::end_shown_record(std::size_t length) {
  if (mode_ == OutputMode::plain) {
    end_ += length;
    std::memcpy(buffer_.get() + end_, RECORD_TERMINATOR.data(), RECORD_TERMINATOR.size());
    end_ += RECORD_TERMINATOR.size();
  } else {
    // The first character is the line-spacing control (always a blank here:
    // start a new line). The line feed that ends the previous line is owed
    // until now, so the cursor stays on the last line shown.
    const char* record = buffer_.get() + end_ + 1;
    if (line_pending_) buffer_[end_++] = '\n';
    if (length > 0) {
      std::memmove(buffer_.get() + end_, record + 1, length - 1);
      end_ += length - 1;
    }
    buffer_[end_++] = '\r';
    line_pending_ = true;
  }
  if (unit_ == CONSOLE_UNIT || unit_ == ERROR_UNIT) (void)flush();
}

void OutputChannel::write_record(std::string_view text) {
  char* record = record_space(text.size());
  std::memcpy(record, text.data(), text.size());
  end_record(text.size());
}

Report OutputChannel::write_all(const char* data, std::size_t size) {
  if (failure_ != Report::none) return failure_;
  // The old content of a file of the run's own is cut off just before the
  // first bytes of this run reach it, so that at no moment does the file
  // hold new records followed by old ones. A run that ends before writing
  // never gets here and leaves the file as it was; one that is killed after
  // the cut leaves a file without its end record.
  //
  // The file is cut to its first byte, not to nothing: the first write
  // replaces that byte, since a write that makes any progress writes it. A
  // file cut to length 0 and written again is taken by ext4 for a file being
  // replaced, and flushed to disk when it is closed, which would cost a
  // large run a good part of its time. An empty file is not cut at all.
  if (!written_ && regular_file_ && size > 0) {
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || (info.st_size > 1 && ::ftruncate(fd_, 1) != 0)) {
      return failure_ = Report::write_error;
    }
  }
  while (size > 0) {
    const ssize_t done = ::write(fd_, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return failure_ = Report::write_error;
    written_ = true;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return Report::none;
}

Status OutputChannel::status() const {
  if (failure_ == Report::none) return {};
  return {failure_, unit_, path_};
}

bool OutputChannel::write_records(std::string_view records) {
  write_pending();
  return write_all(records.data(), records.size()) == Report::none;
}

Report OutputChannel::write_pending() {
  if (end_ == 0) return failure_;
  const std::size_t pending = end_;
  end_ = 0;
  return write_all(buffer_.get(), pending);
}

Status OutputChannel::flush() {
  write_pending();
  return status();
}

Status OutputChannel::close() {
  (void)flush();  // a failure is kept, and returned below
  if (line_pending_) {
    line_pending_ = false;
    write_all("\n", 1);
  }
  if (owns_fd_ && fd_ >= 0) {
    if (::close(fd_) != 0 && failure_ == Report::none && written_) failure_ = Report::write_error;
    fd_ = -1;
  }
  return status();
}

void OutputChannel::end_shown_line() {
  if (!line_pending_) return;
  line_pending_ = false;
  // A console that refuses it has nothing more to show, and it is no
  // failure of the channel: the report that follows is what counts.
  const Report kept = failure_;
  write_all("\n", 1);
  failure_ = kept;
}

}  // namespace records
