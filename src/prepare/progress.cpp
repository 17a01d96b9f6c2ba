#include "prepare/progress.h"

#include <algorithm>
#include <string>

#include "io/console.h"

namespace prepare {
namespace {

constexpr auto SHOW_AFTER = std::chrono::seconds(1);
constexpr auto REDRAW_AFTER = std::chrono::milliseconds(200);

}  // namespace

ProgressLine::ProgressLine(bool shown)
    : shown_(shown), start_(std::chrono::steady_clock::now()), last_drawn_(start_) {}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::begin(std::string_view step) {
  step_ = step;
  advance(0, 0);
}

void ProgressLine::advance(std::uint64_t done, std::uint64_t total) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < SHOW_AFTER || (drawn_ && now - last_drawn_ < REDRAW_AFTER)) return;
  last_drawn_ = now;
  drawn_ = true;
  // The step's name in ten columns, then the share done in four.
  std::string line = "\rstldeck-prepare: " + std::string(step_);
  if (step_.size() < 10) line.append(10 - step_.size(), ' ');
  if (total == 0) {
    line += "     ";
  } else {
    const std::uint64_t percent = std::min<std::uint64_t>(done * 100 / total, 100);
    const std::string digits = std::to_string(percent);
    line += ' ' + std::string(3 - digits.size(), ' ') + digits + '%';
  }
  // A progress line that cannot be drawn is no failure of the run.
  static_cast<void>(io::write_to(io::StandardStream::error, line));
}

void ProgressLine::clear() {
  if (!drawn_) return;
  drawn_ = false;
  static_cast<void>(io::write_to(io::StandardStream::error, "\r" + std::string(36, ' ') + "\r"));
}

}  // namespace prepare
