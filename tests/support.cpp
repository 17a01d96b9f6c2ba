#include "support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "reading/stl_scanner.h"
#include "records/output_channel.h"

namespace testing_support {

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::filesystem::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::filesystem::path data_path(std::string_view name) {
  return std::filesystem::path(STLDECK_TEST_DATA) / name;
}

std::string data_file(std::string_view name) { return read_file(data_path(name)); }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "stldeck-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  // Reachable by an unprivileged user, for the tests that drop root.
  std::filesystem::permissions(path_, std::filesystem::perms::all);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::all, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(std::string_view name, std::string_view content) const {
  write_file(path_ / name, content);
}

std::string TempDir::read(std::string_view name) const { return read_file(path_ / name); }

std::string drain(int fd) {
  std::string content;
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // a terminal reports EIO once its other side is closed
    content.append(block, static_cast<std::size_t>(got));
  }
  return content;
}

int open_terminal(int& secondary) {
  const int primary = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (primary < 0 || ::grantpt(primary) != 0 || ::unlockpt(primary) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  secondary = ::open(::ptsname(primary), O_RDWR | O_NOCTTY);
  if (secondary < 0) throw std::runtime_error("cannot open the pseudo-terminal");
  // Raw mode: the terminal passes every byte unchanged, so the test sees
  // exactly what the program wrote.
  termios mode{};
  ::tcgetattr(secondary, &mode);
  ::cfmakeraw(&mode);
  ::tcsetattr(secondary, TCSANOW, &mode);
  return primary;
}

namespace {

// In the child: sets up the limits and the user, and becomes the program.
[[noreturn]] void exec_program(const char* program, const RunOptions& options) {
  if (options.address_space_limit != 0) {
    const rlimit limit{options.address_space_limit, options.address_space_limit};
    ::setrlimit(RLIMIT_AS, &limit);
  }
  if (options.file_size_limit != 0) {
    // Writing past the limit then fails with EFBIG, as a full disk would
    // with ENOSPC, instead of ending the process.
    ::signal(SIGXFSZ, options.file_size_signal ? SIG_DFL : SIG_IGN);
    const rlimit limit{options.file_size_limit, options.file_size_limit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (options.stack_limit != 0) {
    const rlimit limit{options.stack_limit, options.stack_limit};
    ::setrlimit(RLIMIT_STACK, &limit);
  }
  if (options.as_unprivileged_user && ::geteuid() == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
  }
  std::vector<char*> argv;
  for (const auto& word : options.wrapper) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(const_cast<char*>(program));
  for (const auto& argument : options.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  if (options.timeout_seconds != 0) ::alarm(options.timeout_seconds);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

std::size_t size_of(const std::string& file) {
  std::error_code ignored;
  const auto size = std::filesystem::file_size(file, ignored);
  return ignored ? 0 : static_cast<std::size_t>(size);
}

// What a file holds beyond its first `start` bytes.
std::string gained(const std::string& file, std::size_t start) {
  const std::string content = read_file(file);
  return content.size() >= start ? content.substr(start) : content;
}

RunResult wait_for(pid_t child) {
  RunResult result;
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.peak_memory_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace

RunResult run_converter(const std::filesystem::path& dir, const RunOptions& options) {
  return run_program(STLDECK_EXE, dir, options);
}

RunResult run_program(const char* program, const std::filesystem::path& dir,
                      const RunOptions& options) {
  TempDir capture;
  const std::string out_name = (capture / "stdout").string();
  const std::string err_name = (capture / "stderr").string();
  int out_secondary = -1;
  int err_secondary = -1;
  const int out_primary = options.stdout_terminal ? open_terminal(out_secondary) : -1;
  const int err_primary = options.stderr_terminal ? open_terminal(err_secondary) : -1;

  if (!options.stdout_log.empty()) write_file(out_name, options.stdout_log);
  // Standard output or standard error appended to a file of the run's own.
  const std::string out_file =
      options.stdout_into.empty() ? out_name : (dir / options.stdout_into).string();
  const std::string err_file =
      options.stderr_into.empty() ? err_name : (dir / options.stderr_into).string();
  const std::size_t out_start = options.stdout_into.empty() ? 0 : size_of(out_file);
  const std::size_t err_start = options.stderr_into.empty() ? 0 : size_of(err_file);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    const int out_fd = options.stdout_terminal
                           ? out_secondary
                           : ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    const int err_fd =
        options.stderr_terminal
            ? err_secondary
            : ::open(err_file.c_str(),
                     O_WRONLY | O_CREAT | (options.stderr_into.empty() ? 0 : O_APPEND), 0666);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, STDIN_FILENO);
    if (options.without_stdout) ::close(STDOUT_FILENO);
    exec_program(program, options);
  }
  if (out_secondary >= 0) ::close(out_secondary);
  if (err_secondary >= 0) ::close(err_secondary);
  std::string out;
  std::string err;
  if (out_primary >= 0) out = drain(out_primary);
  if (err_primary >= 0) err = drain(err_primary);
  RunResult result = wait_for(child);
  if (out_primary >= 0) ::close(out_primary);
  if (err_primary >= 0) ::close(err_primary);
  result.out = options.stdout_terminal ? out : gained(out_file, out_start);
  result.err = options.stderr_terminal ? err : gained(err_file, err_start);
  return result;
}

StartedRun::StartedRun(const std::filesystem::path& dir, const RunOptions& options) {
  const std::string out_name = (capture_ / "stdout").string();
  const std::string err_name = (capture_ / "stderr").string();
  pid_ = ::fork();
  if (pid_ == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::dup2(::open(out_name.c_str(), O_WRONLY | O_CREAT, 0666), STDOUT_FILENO);
    ::dup2(::open(err_name.c_str(), O_WRONLY | O_CREAT, 0666), STDERR_FILENO);
    ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
    exec_program(STLDECK_EXE, options);
  }
}

StartedRun::~StartedRun() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    wait_for(pid_);
  }
}

std::string StartedRun::out_so_far() const {
  return std::filesystem::exists(capture_ / "stdout") ? capture_.read("stdout") : std::string();
}

std::string StartedRun::err_so_far() const {
  return std::filesystem::exists(capture_ / "stderr") ? capture_.read("stderr") : std::string();
}

RunResult StartedRun::finish() {
  RunResult result = wait_for(pid_);
  pid_ = -1;
  result.out = capture_.read("stdout");
  result.err = capture_.read("stderr");
  return result;
}

Scanned scan_channel(io::LineReader& stl, std::int32_t facet_limit) {
  struct Keeper final : reading::FacetDestination {
    Scanned& scanned;
    explicit Keeper(Scanned& into) : scanned(into) {}
    void store_facet(const reading::FacetText& text, const geometry::Triangle& corners,
                     const std::array<int, 3>& empty) override {
      scanned.corners.insert(scanned.corners.end(), corners.begin(), corners.end());
      scanned.facet_lines.push_back(text.facet_line);
      scanned.text_beyond.push_back({text.vertices[0].text_beyond, text.vertices[1].text_beyond,
                                     text.vertices[2].text_beyond});
      scanned.empty_coordinates.push_back(empty);
      scanned.order += 'f';
    }
    void skipped_line(const reading::SkippedLine& line) override {
      scanned.skipped.push_back(line);
      scanned.order += 's';
    }
  };
  Scanned scanned;
  Keeper keeper(scanned);
  reading::FacetStream stream(keeper, facet_limit);
  if (!stream.start()) throw std::bad_alloc();
  scanned.outcome = stream.finish(reading::scan_stl(stl, stream));
  return scanned;
}

Scanned scan_file(const std::filesystem::path& path, std::int32_t facet_limit) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + path.string());
  io::LineReader stl(fd, path.string());
  return scan_channel(stl, facet_limit);
}

bool sanitized_build() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

}  // namespace testing_support
