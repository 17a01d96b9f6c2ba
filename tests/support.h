// Helpers for tests that run the programs as a user would: in a fresh
// directory, with their standard streams captured.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "io/line_reader.h"
#include "mesh/mesh_store.h"
#include "reading/facet_stream.h"

namespace testing_support {

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view content);
// A file of tests/data.
std::string data_file(std::string_view name);
std::filesystem::path data_path(std::string_view name);

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
  void write(std::string_view name, std::string_view content) const;
  std::string read(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

struct RunOptions {
  std::vector<std::string> arguments;
  bool stdout_terminal = false;                // standard output on a pseudo-terminal
  bool stderr_terminal = false;                // standard error on a pseudo-terminal
  bool as_unprivileged_user = false;           // drop root, so that file modes apply
  unsigned long long address_space_limit = 0;  // bytes; 0 for none
  std::string stdout_log;       // standard output appends to a file that already holds this
  bool without_stdout = false;  // started with standard output closed
  unsigned long long file_size_limit = 0;  // bytes; 0 for none
  // Under the file size limit, SIGXFSZ left to end the program as it does
  // under a shell's limit (`prlimit --fsize`), instead of being ignored.
  bool file_size_signal = false;
  unsigned long long stack_limit = 0;  // bytes; 0 for the inherited limit
  // A file in the run's directory that standard output (or standard error)
  // appends to instead of the capture, as with `stldeck >> name`; the run's
  // out (or err) is then what the file gained.
  std::string stdout_into;
  std::string stderr_into;
  // A command that runs the program (its path is appended), for example
  // strace with a fault to inject.
  std::vector<std::string> wrapper;
  // A run that takes longer is ended by an alarm (status -1); 0 for none.
  unsigned timeout_seconds = 0;
};

struct RunResult {
  int status = -1;  // exit status (low 8 bits), or -1 when killed by a signal
  int signal = 0;
  std::string out;           // standard output (or the terminal's bytes)
  std::string err;           // standard error (or the terminal's bytes)
  long peak_memory_kib = 0;  // largest resident set of the run
};

// Runs a program (the converter, a companion, another command) in dir and
// waits for it.
RunResult run_program(const char* program, const std::filesystem::path& dir,
                      const RunOptions& options = {});
// Runs the converter in dir and waits for it.
RunResult run_converter(const std::filesystem::path& dir, const RunOptions& options = {});

// A run started in the background, its standard streams going to files.
class StartedRun {
 public:
  StartedRun(const std::filesystem::path& dir, const RunOptions& options = {});
  StartedRun(const StartedRun&) = delete;
  StartedRun& operator=(const StartedRun&) = delete;
  ~StartedRun();
  // What the run has written to standard output, or standard error, so far.
  std::string out_so_far() const;
  std::string err_so_far() const;
  // Waits for the run to end.
  RunResult finish();

 private:
  TempDir capture_;
  int pid_ = -1;
};

// A pseudo-terminal in raw mode: returns its primary side and sets
// secondary to the side a program writes to.
int open_terminal(int& secondary);
// Everything readable from fd until its other side is closed.
std::string drain(int fd);

// What the production scan of a file hands over: the converter's stream
// and scanner, with a destination that keeps everything.
struct Scanned {
  reading::ScanOutcome outcome;
  std::vector<geometry::Point> corners;          // of the stored facets, in order
  std::vector<std::int64_t> facet_lines;         // per stored facet
  std::vector<std::array<bool, 3>> text_beyond;  // per stored facet, per vertex line
  std::vector<std::array<int, 3>> empty_coordinates;
  std::vector<reading::SkippedLine> skipped;  // in order
  // Skipped lines and facets as they came: 's' or 'f' each.
  std::string order;
};
Scanned scan_channel(io::LineReader& stl, std::int32_t facet_limit = mesh::MAX_FACETS);
Scanned scan_file(const std::filesystem::path& path, std::int32_t facet_limit = mesh::MAX_FACETS);

// True when the tests run in a sanitizer build.
bool sanitized_build();

}  // namespace testing_support
