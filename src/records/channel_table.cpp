#include "records/channel_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "records/endings.h"

namespace records {
namespace {

constexpr std::string_view blanks_around = " ";

// Paths longer than this are not recorded: reports name the file alone.
constexpr std::size_t RECORDED_PATH_LIMIT = 256;

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

// The bound channels, in the order in which they are closed: the STL file,
// the two output files, the console, standard error.
struct ChannelTable {
  std::unique_ptr<InputChannel> stl;
  std::unique_ptr<OutputChannel> solver;
  std::unique_ptr<OutputChannel> mesh_view;
  std::unique_ptr<OutputChannel> console;
  std::unique_ptr<OutputChannel> error;
  bool closing_started = false;
};
ChannelTable table;

std::unique_ptr<OutputChannel>& output_slot(int unit) {
  switch (unit) {
    case SOLVER_UNIT:
      return table.solver;
    case MESH_VIEW_UNIT:
      return table.mesh_view;
    case CONSOLE_UNIT:
      return table.console;
    case ERROR_UNIT:
      return table.error;
  }
  // Every unit of the system is listed above; anything else is a fault in
  // the program, not in its input.
  std::abort();
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

// Whether fd is a regular file that another bound channel already has open
// under some name: writing it would overwrite what the other channel reads
// or writes.
bool is_bound_elsewhere(int fd) {
  struct stat file {};
  if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return false;
  for (const int other :
       {table.stl ? table.stl->descriptor() : -1, table.solver ? table.solver->descriptor() : -1}) {
    struct stat bound {};
    if (other >= 0 && ::fstat(other, &bound) == 0 && bound.st_dev == file.st_dev &&
        bound.st_ino == file.st_ino) {
      return true;
    }
  }
  return false;
}

// Two runs in one folder must not write the same files at once: the second
// waits for the first to end (the lock goes with its descriptors). Only
// regular files are locked; a device or a pipe has nothing to protect.
void lock_against_other_runs(int fd) {
  struct stat file {};
  if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return;
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

OutputChannel& standard_stream(int unit, int fd, const char* name) {
  auto& slot = output_slot(unit);
  if (!slot) {
    const OutputMode mode =
        is_character_device(fd) ? OutputMode::control_column : OutputMode::plain;
    slot = std::make_unique<OutputChannel>(unit, fd, name, mode, false);
    if (!slot->reserve_block()) {
      slot.reset();
      fatal_report(REPORT_NO_MEMORY);
    }
  }
  return *slot;
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
  return absolute.size() <= RECORDED_PATH_LIMIT ? absolute : trimmed;
}

InputChannel& bind_input(std::string_view name) {
  const std::string path = recorded_path(name);
  const std::string file(trim_blanks(name));
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fatal_report(input_open_report(errno), STL_UNIT, path);
  table.stl = std::make_unique<InputChannel>(STL_UNIT, fd, path);
  if (!table.stl->reserve_block()) fatal_report(REPORT_NO_MEMORY);
  return *table.stl;
}

OutputChannel& bind_output(int unit, std::string_view name) {
  const std::string path = recorded_path(name);
  const std::string file(trim_blanks(name));
  // Not waiting at the open: a named pipe that nobody reads would hold the
  // run forever; it fails at once instead (ENXIO), and writes then block as
  // usual.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) fatal_report(output_open_report(errno, file), unit, path);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const bool bound_elsewhere = is_bound_elsewhere(fd);
  auto& slot = output_slot(unit);
  slot = std::make_unique<OutputChannel>(unit, fd, path, OutputMode::plain, true);
  if (bound_elsewhere) fatal_report(REPORT_OPEN_FAILURE, unit, path);
  if (!slot->reserve_block()) fatal_report(REPORT_NO_MEMORY);
  lock_against_other_runs(fd);
  return *slot;
}

OutputChannel& console() { return standard_stream(CONSOLE_UNIT, STDOUT_FILENO, "stdout"); }

OutputChannel& error_channel() { return standard_stream(ERROR_UNIT, STDERR_FILENO, "stderr"); }

void end_shown_lines() {
  for (auto* slot : {&table.console, &table.error}) {
    if (*slot) (*slot)->end_shown_line();
  }
}

void close_all_channels() {
  if (table.closing_started) return;
  table.closing_started = true;
  if (table.stl) table.stl->close();
  for (auto* slot : {&table.solver, &table.mesh_view, &table.console, &table.error}) {
    if (!*slot) continue;
    const int report = (*slot)->close();
    if (report != 0) fatal_report(report, (*slot)->unit(), (*slot)->path());
  }
}

void reset_channels() { table = ChannelTable{}; }

}  // namespace records
