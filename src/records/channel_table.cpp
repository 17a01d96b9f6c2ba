#include "records/channel_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "format/terminal_text.h"
#include "io/standard_error.h"
#include "io/worker_thread.h"

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
  std::unique_ptr<io::LineReader> stl;
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

Report input_open_report(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return Report::file_not_found;
    case EACCES:
    case EPERM:
      return Report::access_denied;
    case ENAMETOOLONG:
    case ELOOP:
      return Report::file_name_error;
    default:
      return Report::open_failure;
  }
}

Report output_open_report(int error, const std::string& name) {
  switch (error) {
    case EACCES:
    case EPERM:
      // An existing file we may not write is a read-only file; otherwise the
      // directory refuses the new file.
      return ::access(name.c_str(), F_OK) == 0 ? Report::read_only_file : Report::access_denied;
    case EROFS:
      return Report::read_only_file;
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return Report::file_name_error;
    default:
      return Report::open_failure;
  }
}

// Whether fd is a regular file that the run already has open otherwise: as
// the STL file, as the deck, or as standard output or standard error
// redirected into it (`stldeck > input.dat`). Writing it would overwrite what
// the other reads or writes, or put the console report into the deck. A
// device, a pipe or a terminal on the standard streams is never a file of
// the run.
bool is_bound_elsewhere(int fd) {
  struct stat file {};
  if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return false;
  for (const int other :
       {table.stl ? table.stl->descriptor() : -1, table.solver ? table.solver->descriptor() : -1,
        int{STDOUT_FILENO}, int{STDERR_FILENO}}) {
    struct stat bound {};
    if (other >= 0 && other != fd && ::fstat(other, &bound) == 0 && bound.st_dev == file.st_dev &&
        bound.st_ino == file.st_ino) {
      return true;
    }
  }
  return false;
}

// The line that says what a waiting run waits for, with the file's path
// escaped as in a report when standard error is a terminal.
std::string waiting_note(const std::string& path) {
  std::string note = "Waiting for another run in this folder to release ";
  if (::isatty(STDERR_FILENO) == 1) {
    format::escape_for_terminal(path, [&](std::string_view piece) { note += piece; });
  } else {
    note += path;
  }
  note += '\n';
  return note;
}

// How long a run waits for another run's lock before it says so: a run
// started just as another ends waits a moment, without a word.
constexpr std::chrono::seconds QUIET_WAIT{1};

// Waits until the other run releases fd's lock. It may hold it as long as
// its conversion takes, or for ever when it is stopped, so after a moment
// this run says on standard error what it waits for, and goes on waiting.
// This thread blocks in flock, which takes the lock the moment it is free
// and costs nothing meanwhile; a second thread, asleep on a condition with
// a time limit, writes the note if the wait outlasts it. (A timer signal
// could reach the conversion worker rather than this thread, and polling
// the lock would either spin or take it late.) When the system refuses the
// thread, the note is written at once.
void wait_for_lock(int fd, const std::string& path) {
  const std::string note = waiting_note(path);
  std::mutex mutex;
  std::condition_variable locked_now;
  bool locked = false;
  io::WorkerThread timer;
  const bool timed = timer.start([&] {
    bool waited_long = false;
    {
      std::unique_lock lock(mutex);
      waited_long = !locked_now.wait_for(lock, QUIET_WAIT, [&] { return locked; });
    }
    if (waited_long) io::write_to_standard_error(note);
  });
  if (!timed) io::write_to_standard_error(note);
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  {
    const std::lock_guard lock(mutex);
    locked = true;
  }
  locked_now.notify_one();
  if (timed) timer.join();
}

// Two runs in one folder must not write the same files at once: the second
// waits for the first to end (the lock goes with its descriptors). Only
// regular files are locked; a device or a pipe has nothing to protect.
// Returns false when, once locked, the name no longer leads to the file:
// the other run renamed or removed it meanwhile, and the caller opens the
// name again, since the files of this run are the ones under the names.
bool lock_against_other_runs(int fd, const std::string& file, const std::string& path) {
  struct stat locked {};
  if (::fstat(fd, &locked) != 0 || !S_ISREG(locked.st_mode)) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) wait_for_lock(fd, path);
  struct stat named {};
  return ::stat(file.c_str(), &named) == 0 && named.st_dev == locked.st_dev &&
         named.st_ino == locked.st_ino;
}

Binding<OutputChannel> standard_stream(int unit, int fd, const char* name) {
  auto& slot = output_slot(unit);
  if (!slot) {
    const OutputMode mode =
        is_character_device(fd) ? OutputMode::control_column : OutputMode::plain;
    slot = std::make_unique<OutputChannel>(unit, fd, name, mode, false);
    if (!slot->reserve_block()) {
      slot.reset();
      return {nullptr, {Report::no_memory}};
    }
  }
  return {slot.get(), {}};
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

// A refused binding leaves the descriptor it opened in the table, to be
// closed with the others: the run ends next, and its ending closes them.
Binding<io::LineReader> bind_input(std::string_view name) {
  const std::string path = recorded_path(name);
  const std::string file(trim_blanks(name));
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {nullptr, {input_open_report(errno), STL_UNIT, path}};
  const bool bound_elsewhere = is_bound_elsewhere(fd);
  table.stl = std::make_unique<io::LineReader>(fd, path);
  // The console report or a report would be written into the model.
  if (bound_elsewhere) return {nullptr, {Report::open_failure, STL_UNIT, path}};
  if (!table.stl->reserve_block().ok()) return {nullptr, {Report::no_memory}};
  return {table.stl.get(), {}};
}

Binding<OutputChannel> bind_output(int unit, std::string_view name) {
  const std::string path = recorded_path(name);
  const std::string file(trim_blanks(name));
  auto& slot = output_slot(unit);
  for (;;) {
    // Not waiting at the open: a named pipe that nobody reads would hold the
    // run forever; it fails at once instead (ENXIO), and writes then block
    // as usual.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return {nullptr, {output_open_report(errno, file), unit, path}};
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const bool bound_elsewhere = is_bound_elsewhere(fd);
    slot = std::make_unique<OutputChannel>(unit, fd, path, OutputMode::plain, true);
    if (bound_elsewhere) return {nullptr, {Report::open_failure, unit, path}};
    if (!slot->reserve_block()) return {nullptr, {Report::no_memory}};
    if (lock_against_other_runs(fd, file, path)) return {slot.get(), {}};
    // Closing the renamed or removed file releases its lock, untouched.
    slot.reset();
  }
}

Binding<OutputChannel> console() { return standard_stream(CONSOLE_UNIT, STDOUT_FILENO, "stdout"); }

Binding<OutputChannel> error_channel() {
  return standard_stream(ERROR_UNIT, STDERR_FILENO, "stderr");
}

void end_shown_lines() {
  for (auto* slot : {&table.console, &table.error}) {
    if (*slot) (*slot)->end_shown_line();
  }
}

Status close_all_channels() {
  if (table.closing_started) return {};
  table.closing_started = true;
  if (table.stl) table.stl->close();
  for (auto* slot : {&table.solver, &table.mesh_view, &table.console, &table.error}) {
    if (!*slot) continue;
    if (Status closed = (*slot)->close(); !closed.ok()) return closed;
  }
  return {};
}

}  // namespace records
