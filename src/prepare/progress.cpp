#include "prepare/progress.h"

#include <cstdio>

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
  if (total == 0) {
    std::fprintf(stderr, "\rstldeck-prepare: %-10.*s     ", static_cast<int>(step_.size()),
                 step_.data());
  } else {
    const auto percent = static_cast<int>(done * 100 / total);
    std::fprintf(stderr, "\rstldeck-prepare: %-10.*s %3d%%", static_cast<int>(step_.size()),
                 step_.data(), percent > 100 ? 100 : percent);
  }
  std::fflush(stderr);
}

void ProgressLine::clear() {
  if (!drawn_) return;
  drawn_ = false;
  std::fprintf(stderr, "\r%36s\r", "");
  std::fflush(stderr);
}

}  // namespace prepare
