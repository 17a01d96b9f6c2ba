#include "records/channel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "records/endings.h"

namespace records {
namespace {

// Output files are written in blocks of this size; the STL file is read in
// blocks of this size. Large enough that system calls cost nothing next to
// the rendering, small enough to stay in the cache.
constexpr std::size_t OUTPUT_BLOCK = std::size_t{1} << 20;
constexpr std::size_t INPUT_BLOCK = std::size_t{1} << 20;
// A record under construction starts with room for this many characters and
// grows by the largest of the amount needed, 512 and one eighth of its size.
constexpr std::size_t RECORD_START = 133;

constexpr std::string_view blanks_around = " ";

std::string_view trim_blanks(std::string_view name) {
  const auto first = name.find_first_not_of(blanks_around);
  if (first == std::string_view::npos) return {};
  const auto last = name.find_last_not_of(blanks_around);
  return name.substr(first, last - first + 1);
}

bool is_character_device(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode);
}

// The channel table: channels 5, 6 and 8, the console and standard error,
// in the order in which they are closed.
enum Slot : std::size_t { SLOT_STL, SLOT_SOLVER, SLOT_MESH_VIEW, SLOT_CONSOLE, SLOT_ERROR, SLOTS };
std::array<std::unique_ptr<Channel>, SLOTS> channel_table;
bool closing_started = false;

std::size_t slot_of(int unit) {
  switch (unit) {
    case STL_UNIT:
      return SLOT_STL;
    case SOLVER_UNIT:
      return SLOT_SOLVER;
    case MESH_VIEW_UNIT:
      return SLOT_MESH_VIEW;
    case CONSOLE_UNIT:
      return SLOT_CONSOLE;
    default:
      return SLOT_ERROR;
  }
}

int input_open_report(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return REPORT_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return REPORT_ACCESS_DENIED;
    case ENAMETOOLONG:
    case ELOOP:
      return REPORT_FILE_NAME_ERROR;
    default:
      return REPORT_OPEN_FAILURE;
  }
}

int output_open_report(int error, const std::string& name) {
  switch (error) {
    case EACCES:
    case EPERM:
      // An existing file we may not write is a read-only file; otherwise the
      // directory refuses the new file.
      return ::access(name.c_str(), F_OK) == 0 ? REPORT_READ_ONLY_FILE : REPORT_ACCESS_DENIED;
    case EROFS:
      return REPORT_READ_ONLY_FILE;
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return REPORT_FILE_NAME_ERROR;
    default:
      return REPORT_OPEN_FAILURE;
  }
}

}  // namespace

std::string recorded_path(std::string_view name) {
  const std::string trimmed(trim_blanks(name));
  if (!trimmed.empty() && trimmed.front() == '/') return trimmed;
  std::array<char, 4096> cwd{};
  if (::getcwd(cwd.data(), cwd.size()) == nullptr) return trimmed;
  std::string absolute(cwd.data());
  if (absolute.empty() || absolute.back() != '/') absolute += '/';
  absolute += trimmed;
  return absolute.size() <= 256 ? absolute : trimmed;
}

Channel::Channel(int unit, int fd, std::string path, OutputMode mode, bool owns_fd)
    : unit_(unit), fd_(fd), path_(std::move(path)), mode_(mode), owns_fd_(owns_fd) {
  struct stat info {};
  // Only the files the run opens itself are cut; standard output redirected
  // to a file (perhaps appending to a log) is never touched.
  regular_file_ = owns_fd_ && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
  // The console and standard error show each record at once.
  block_file_ = mode_ == OutputMode::plain && unit_ != CONSOLE_UNIT && unit_ != ERROR_UNIT;
}

Channel::~Channel() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

char* Channel::make_record_space(std::size_t max_length) {
  // Room for the record, one leading line feed owed in control-column mode,
  // and the terminator.
  const std::size_t needed = max_length + RECORD_TERMINATOR.size() + 1;
  if (capacity_ - end_ < needed) {
    if (end_ > 0) flush();
    if (capacity_ < needed) {
      std::size_t grown = capacity_ == 0 ? RECORD_START : capacity_;
      if (unit_ == SOLVER_UNIT || unit_ == MESH_VIEW_UNIT) grown = std::max(grown, OUTPUT_BLOCK);
      while (grown < needed) grown += std::max({needed - grown, std::size_t{512}, grown / 8});
      buffer_ = std::make_unique_for_overwrite<char[]>(grown);
      capacity_ = grown;
    }
  }
  // In control-column mode the record is built one place further on, so that
  // an owed line feed can go before it.
  return buffer_.get() + end_ + (mode_ == OutputMode::plain ? 0 : 1);
}

void Channel::end_shown_record(std::size_t length) {
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
  any_record_ = true;
  if (unit_ == CONSOLE_UNIT || unit_ == ERROR_UNIT) flush();
}

void Channel::write_record(std::string_view text) {
  char* record = record_space(text.size());
  std::memcpy(record, text.data(), text.size());
  end_record(text.size());
}

int Channel::write_all(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd_, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return REPORT_WRITE_ERROR;
    }
    if (done == 0) return REPORT_WRITE_ERROR;
    data += done;
    size -= static_cast<std::size_t>(done);
    written_ += static_cast<unsigned long long>(done);
  }
  // The old content of the file beyond the first record written in this run
  // is cut off, once; later records only extend the file.
  if (!cut_done_ && regular_file_) {
    cut_done_ = true;
    if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) return REPORT_WRITE_ERROR;
  }
  return 0;
}

void Channel::flush() {
  if (end_ == 0) return;
  const std::size_t pending = end_;
  end_ = 0;
  const int report = write_all(buffer_.get(), pending);
  if (report != 0) fatal_report(report, unit_, path_);
}

int Channel::close() {
  int report = 0;
  if (!reading_ && end_ > 0) {
    const std::size_t pending = end_;
    end_ = 0;
    report = write_all(buffer_.get(), pending);
  }
  if (report == 0 && line_pending_) {
    line_pending_ = false;
    report = write_all("\n", 1);
  }
  if (owns_fd_ && fd_ >= 0) {
    if (::close(fd_) != 0 && report == 0 && any_record_) report = REPORT_WRITE_ERROR;
    fd_ = -1;
  }
  return report;
}

void Channel::end_shown_line() {
  if (!line_pending_) return;
  line_pending_ = false;
  write_all("\n", 1);  // a console that refuses it has nothing more to show
}

bool Channel::refill() {
  if (!buffer_) {
    buffer_ = std::make_unique_for_overwrite<char[]>(INPUT_BLOCK);
    capacity_ = INPUT_BLOCK;
    reading_ = true;
  }
  begin_ = 0;
  end_ = 0;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get(), capacity_);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) input_ended_ = true;
    end_ = static_cast<std::size_t>(got);
    return true;
  }
}

ReadOutcome Channel::read_line(std::string_view& first, std::size_t keep) {
  keep = std::min(keep, sizeof head_);
  std::size_t head_length = 0;  // characters of this line kept in head_
  std::size_t seen = 0;         // characters of this line in earlier blocks
  char last_seen = 0;
  for (;;) {
    if (begin_ < end_) {
      char* start = buffer_.get() + begin_;
      const std::size_t available = end_ - begin_;
      const auto* feed = static_cast<const char*>(std::memchr(start, '\n', available));
      if (feed != nullptr) {
        std::size_t length = static_cast<std::size_t>(feed - start);
        begin_ += length + 1;
        if (seen == 0) {
          // The common case: the whole line lies in this block.
          if (length > 0 && start[length - 1] == '\r') --length;
          first = std::string_view(start, std::min(length, keep));
          return ReadOutcome::line;
        }
        const char last = length > 0 ? start[length - 1] : last_seen;
        const std::size_t total = seen + length - (last == '\r' ? 1 : 0);
        const std::size_t take = std::min(keep - head_length, length);
        std::memcpy(head_ + head_length, start, take);
        first = std::string_view(head_, std::min(total, keep));
        return ReadOutcome::line;
      }
      // The line goes on in the next block: keep its start only.
      const std::size_t take = std::min(keep - head_length, available);
      std::memcpy(head_ + head_length, start, take);
      head_length += take;
      seen += available;
      last_seen = start[available - 1];
      begin_ = end_;
    }
    // Bytes after the last line feed do not form a line.
    if (input_ended_) return ReadOutcome::end_of_input;
    if (!refill()) return ReadOutcome::failure;
  }
}

Channel& install_channel(std::unique_ptr<Channel> channel) {
  auto& slot = channel_table[slot_of(channel->unit())];
  slot = std::move(channel);
  return *slot;
}

Channel& bind_input(int unit, std::string_view name) {
  const std::string path = recorded_path(name);
  const std::string file(trim_blanks(name));
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fatal_report(input_open_report(errno), unit, path);
  return install_channel(std::make_unique<Channel>(unit, fd, path, OutputMode::plain, true));
}

Channel& bind_output(int unit, std::string_view name) {
  const std::string path = recorded_path(name);
  const std::string file(trim_blanks(name));
  // Not waiting at the open: a named pipe that nobody reads would hold the
  // run forever; it fails at once instead (ENXIO), and writes then block as
  // usual.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) fatal_report(output_open_report(errno, file), unit, path);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return install_channel(std::make_unique<Channel>(unit, fd, path, OutputMode::plain, true));
}

namespace {
Channel& standard_stream(int unit, int fd, const char* name) {
  auto& slot = channel_table[slot_of(unit)];
  if (!slot) {
    const OutputMode mode =
        is_character_device(fd) ? OutputMode::control_column : OutputMode::plain;
    return install_channel(std::make_unique<Channel>(unit, fd, name, mode, false));
  }
  return *slot;
}
}  // namespace

Channel& console() { return standard_stream(CONSOLE_UNIT, STDOUT_FILENO, "stdout"); }

Channel& error_channel() { return standard_stream(ERROR_UNIT, STDERR_FILENO, "stderr"); }

Channel* find_channel(int unit) { return channel_table[slot_of(unit)].get(); }

void close_all_channels() {
  if (closing_started) return;
  closing_started = true;
  for (auto& slot : channel_table) {
    if (!slot) continue;
    const int report = slot->close();
    if (report != 0) fatal_report(report, slot->unit(), slot->path());
  }
}

void reset_channels() {
  for (auto& slot : channel_table) slot.reset();
  closing_started = false;
}

}  // namespace records
