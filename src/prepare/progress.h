// A progress line for long runs, on a terminal only: on standard error,
// rewritten in place ("stldeck-prepare: refining 42%"), shown once a run
// has taken a second, and wiped at the end. In a pipe or a file it writes
// nothing, so what a script reads never holds it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace prepare {

class ProgressLine {
 public:
  // `shown` false makes every call do nothing (standard error is not a
  // terminal).
  explicit ProgressLine(bool shown);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine();

  // The step now running.
  void begin(std::string_view step);
  // How far it has come: done of total.
  void advance(std::uint64_t done, std::uint64_t total);
  // Wipes the line (before the report is printed).
  void clear();

 private:
  bool shown_;
  bool drawn_ = false;
  std::string_view step_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_drawn_;
};

}  // namespace prepare
