#include "records/endings.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "format/terminal_text.h"
#include "io/standard_error.h"
#include "records/channel_table.h"

namespace records {
namespace {

// The message of each report: "%d" takes the channel, "%s" its file. A
// switch over the enumeration, so that every report has its message.
std::string_view report_message(Report report) {
  switch (report) {
    case Report::none:
      return "";
    case Report::vertex_read_stop:
      return VERTEX_READ_STOP_MESSAGE;
    case Report::access_denied:
      return "permission to access file denied, unit %d, file %s";
    case Report::end_of_file:
      return "end-of-file during read, unit %d, file %s";
    case Report::file_not_found:
      return "file not found, unit %d, file %s";
    case Report::open_failure:
      return "open failure, unit %d, file %s";
    case Report::write_error:
      return "error during write, unit %d, file %s";
    case Report::read_error:
      return "error during read, unit %d, file %s";
    case Report::no_memory:
      return "insufficient virtual memory";
    case Report::file_name_error:
      return "file name specification error, unit %d, file %s";
    case Report::read_only_file:
      return "write to READONLY file, unit %d, file %s";
    case Report::model_too_large:
      return "model too large, more than 3333333 facets (9999999 nodes), unit %d, file %s";
    case Report::invalid_real:
      return "invalid REAL";
  }
  return "";
}

constexpr std::string_view TRACE_HEADER =
    "Image              PC        Routine            Line        Source             \n";
constexpr std::string_view TRACE_OVERFLOW =
    "Stack trace buffer overflow; further frames not shown.\n";
constexpr std::string_view TRACE_ABNORMAL = "Stack trace terminated abnormally.\n";
constexpr std::string_view UNKNOWN = "Unknown";

// The longest frame line: image 17, PC 8, routine 17, line 10, source (the
// word "Unknown"), four separators of two blanks and the line feed.
constexpr std::size_t FRAME_LINE_LIMIT = 17 + 8 + 17 + 10 + 7 + 4 * 2 + 1;

// Text built into a fixed buffer; what does not fit is dropped.
class FixedText {
 public:
  explicit FixedText(std::span<char> room) : room_(room) {}
  std::size_t size() const { return used_; }
  std::size_t left() const { return room_.size() - used_; }
  void append(std::string_view text) {
    const std::size_t take = std::min(text.size(), left());
    std::copy_n(text.data(), take, room_.data() + used_);
    used_ += take;
  }
  void append(char c) { append(std::string_view(&c, 1)); }
  void append_int(long long value) {
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    // Character by character: g++ 12 with ThreadSanitizer cannot bound a
    // copy of the digits as a whole and refuses the build (-Warray-bounds).
    for (const char* digit = digits.data(); digit != result.ptr; ++digit) append(*digit);
  }
  // Left-aligned, cut or padded to exactly width characters.
  void append_left(std::string_view value, std::size_t width) {
    value = value.substr(0, width);
    append(value);
    for (std::size_t i = value.size(); i < width; ++i) append(' ');
  }

 private:
  std::span<char> room_;
  std::size_t used_ = 0;
};

void append_file_name(FixedText& text, std::string_view file, bool escape_controls) {
  if (!escape_controls) {
    text.append(file);
    return;
  }
  format::escape_for_terminal(file, [&](std::string_view piece) { text.append(piece); });
}

void append_frame_line(FixedText& text, const TraceFrame& frame) {
  text.append_left(frame.image, 17);
  text.append("  ");
  std::array<char, 8> pc{};
  auto address = static_cast<unsigned>(frame.pc & 0xFFFFFFFFu);
  for (std::size_t i = pc.size(); i-- > 0; address >>= 4) pc[i] = "0123456789ABCDEF"[address & 15u];
  text.append(std::string_view(pc.data(), pc.size()));
  text.append("  ");
  text.append_left(frame.routine.empty() ? UNKNOWN : frame.routine, 17);
  text.append("  ");
  // No line numbers are known: the line field is always the word, right-aligned.
  for (std::size_t i = UNKNOWN.size(); i < 10; ++i) text.append(' ');
  text.append(UNKNOWN);
  text.append("  ");
  text.append(UNKNOWN);
  text.append('\n');
}

std::string_view file_part(const char* path) {
  std::string_view name(path == nullptr ? "" : path);
  const auto slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

[[noreturn]] void report_and_end(const Status& status);

// Closes every channel and ends the process with the exit status; a channel
// that fails to close ends it with its report instead.
[[noreturn]] void end_process(int exit_status) {
  if (const Status closed = close_all_channels(); !closed.ok()) report_and_end(closed);
  std::fflush(nullptr);
  std::_Exit(exit_status);
}

// Whether a report is being built: a failure inside it (memory running
// out, say) must not start a second one.
bool reporting = false;

[[noreturn]] void report_and_end(const Status& status) {
  const int number = report_number(status.report);
  if (reporting) std::_Exit(number);
  reporting = true;
  // The stack of this very function is the innermost frame listed. Nothing
  // here allocates: a report of insufficient memory must get through.
  static std::array<void*, 256> addresses{};
  const int depth = ::backtrace(addresses.data(), static_cast<int>(addresses.size()));
  static char executable[4096];
  const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
  executable[length > 0 ? length : 0] = '\0';

  static std::array<TraceFrame, 256> frames{};
  std::size_t count = 0;
  for (int i = 0; i < depth; ++i) {
    const auto address =
        reinterpret_cast<unsigned long long>(addresses[static_cast<std::size_t>(i)]);
    Dl_info info{};
    TraceFrame& frame = frames[count++];
    frame = TraceFrame{file_part(executable), address, {}};
    if (::dladdr(addresses[static_cast<std::size_t>(i)], &info) != 0) {
      if (info.dli_fname != nullptr && info.dli_fname[0] != '\0') {
        frame.image = file_part(info.dli_fname);
      }
      frame.pc = address - reinterpret_cast<unsigned long long>(info.dli_fbase);
      if (info.dli_sname != nullptr) frame.routine = info.dli_sname;
    }
  }
  end_shown_lines();
  // On an interactive console a file name must not drive the terminal; a
  // file or a pipe gets the name's exact bytes, which a caller may parse.
  const bool escape = ::isatty(STDERR_FILENO) == 1;
  static std::array<char, REPORT_TEXT_LIMIT> text;
  const std::size_t size = format_report(status.report, status.unit, status.path,
                                         std::span(frames.data(), count), depth <= 0, escape, text);
  io::write_to_standard_error(std::string_view(text.data(), size));
  // A failure while the channels are closed is reported in turn.
  reporting = false;
  end_process(number);
}

// Every standard allocation that fails ends here.
void on_memory_exhausted() { report_and_end({Report::no_memory}); }

}  // namespace

std::size_t format_report(Report report, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed,
                          bool escape_controls, std::span<char, REPORT_TEXT_LIMIT> room) {
  const std::string_view message = report_message(report);
  FixedText text(room);
  text.append("forrtl: severe (");
  text.append_int(report_number(report));
  text.append("): ");
  for (std::size_t i = 0; i < message.size(); ++i) {
    const std::string_view rest = message.substr(i);
    if (rest.starts_with("%d")) {
      text.append_int(unit);
      ++i;
    } else if (rest.starts_with("%s")) {
      append_file_name(text, file, escape_controls);
      ++i;
    } else {
      text.append(message[i]);
    }
  }
  text.append('\n');

  text.append(TRACE_HEADER);
  for (const TraceFrame& frame : frames) {
    if (text.left() < FRAME_LINE_LIMIT + TRACE_OVERFLOW.size()) {
      text.append(TRACE_OVERFLOW);
      return text.size();
    }
    append_frame_line(text, frame);
  }
  if (walk_failed && text.left() >= TRACE_ABNORMAL.size()) text.append(TRACE_ABNORMAL);
  return text.size();
}

std::string format_report(Report report, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed,
                          bool escape_controls) {
  std::array<char, REPORT_TEXT_LIMIT> room{};
  const std::size_t size =
      format_report(report, unit, file, frames, walk_failed, escape_controls, room);
  return std::string(room.data(), size);
}

void report_memory_exhaustion() {
  // The first stack walk loads the unwinder, which needs memory: done now,
  // while there is some.
  std::array<void*, 4> warm_up{};
  ::backtrace(warm_up.data(), static_cast<int>(warm_up.size()));
  std::set_new_handler(on_memory_exhausted);
}

void end_run(const Status& status) {
  switch (status.report) {
    case Report::none:
      end_process(0);
    case Report::vertex_read_stop: {
      // The output files are left as they were, and a caller must not take
      // them for a fresh conversion: a stop with a failure status.
      const Binding<OutputChannel> error = error_channel();
      if (error.channel == nullptr) report_and_end(error.status);
      error.channel->write_record(VERTEX_READ_STOP_MESSAGE);
      if (const Status shown = error.channel->status(); !shown.ok()) report_and_end(shown);
      end_process(report_number(Report::vertex_read_stop));
    }
    default:
      report_and_end(status);
  }
}

}  // namespace records
