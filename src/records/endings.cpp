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

#include "records/channel_table.h"
#include "records/terminal_text.h"

namespace records {
namespace {

struct CatalogueEntry {
  int number;
  std::string_view message;  // "%d" takes the channel, "%s" its file
};

// Every report the converter gives is severe: each ends the run.
constexpr CatalogueEntry catalogue[] = {
    {  REPORT_ACCESS_DENIED,"permission to access file denied, unit %d, file %s"                            },
    {    REPORT_END_OF_FILE,           "end-of-file during read, unit %d, file %s"},
    { REPORT_FILE_NOT_FOUND,                    "file not found, unit %d, file %s"},
    {   REPORT_OPEN_FAILURE,                      "open failure, unit %d, file %s"},
    {    REPORT_WRITE_ERROR,                "error during write, unit %d, file %s"},
    {     REPORT_READ_ERROR,                 "error during read, unit %d, file %s"},
    {      REPORT_NO_MEMORY,                         "insufficient virtual memory"},
    {REPORT_FILE_NAME_ERROR,     "file name specification error, unit %d, file %s"},
    { REPORT_READ_ONLY_FILE,            "write to READONLY file, unit %d, file %s"},
    {REPORT_MODEL_TOO_LARGE,
     "model too large, more than 3333333 facets (9999999 nodes), unit %d, file %s"},
    {   REPORT_INVALID_REAL,                                        "invalid REAL"},
};

constexpr std::string_view TRACE_HEADER =
    "Image              PC        Routine            Line        Source             \n";
constexpr std::string_view TRACE_OVERFLOW =
    "Stack trace buffer overflow; further frames not shown.\n";
constexpr std::string_view TRACE_ABNORMAL = "Stack trace terminated abnormally.\n";
constexpr std::string_view UNKNOWN = "Unknown";

// The longest frame line: image 17, PC 8, routine 17, line 10, source (the
// word "Unknown"), four separators of two blanks and the line feed.
constexpr std::size_t FRAME_LINE_LIMIT = 17 + 8 + 17 + 10 + 7 + 4 * 2 + 1;

const CatalogueEntry& find_entry(int number) {
  for (const auto& entry : catalogue) {
    if (entry.number == number) return entry;
  }
  // Report numbers come from the enumeration above; an unknown one is a
  // fault in the program and still ends the run with its number.
  return catalogue[std::size(catalogue) - 1];
}

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
  escape_for_terminal(file, [&](std::string_view piece) { text.append(piece); });
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

[[noreturn]] void exit_process(int status) { std::_Exit(status); }

ProcessEnd process_end = exit_process;

[[noreturn]] void end_process(int status) {
  close_all_channels();
  std::fflush(nullptr);
  process_end(status);
  std::_Exit(status);  // an ending never returns, whatever was installed
}

// Whether a report is being built: a failure inside it (memory running
// out, say) must not start a second one.
bool reporting = false;

[[noreturn]] void report_and_end(int number, int unit, std::string_view file) {
  if (reporting) {
    process_end(number);
    std::_Exit(number);
  }
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
  const std::size_t size =
      format_report(number, unit, file, std::span(frames.data(), count), depth <= 0, escape, text);
  write_to_standard_error(std::string_view(text.data(), size));
  // A failure while the channels are closed is reported in turn.
  reporting = false;
  end_process(number);
}

// Every standard allocation that fails ends here.
void on_memory_exhausted() { fatal_report(REPORT_NO_MEMORY); }

}  // namespace

std::size_t format_report(int number, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed,
                          bool escape_controls, std::span<char, REPORT_TEXT_LIMIT> room) {
  const CatalogueEntry& entry = find_entry(number);
  FixedText text(room);
  text.append("forrtl: severe (");
  text.append_int(number);
  text.append("): ");
  for (std::size_t i = 0; i < entry.message.size(); ++i) {
    const std::string_view rest = entry.message.substr(i);
    if (rest.starts_with("%d")) {
      text.append_int(unit);
      ++i;
    } else if (rest.starts_with("%s")) {
      append_file_name(text, file, escape_controls);
      ++i;
    } else {
      text.append(entry.message[i]);
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

std::string format_report(int number, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed,
                          bool escape_controls) {
  std::array<char, REPORT_TEXT_LIMIT> room{};
  const std::size_t size =
      format_report(number, unit, file, frames, walk_failed, escape_controls, room);
  return std::string(room.data(), size);
}

void report_memory_exhaustion() {
  // The first stack walk loads the unwinder, which needs memory: done now,
  // while there is some.
  std::array<void*, 4> warm_up{};
  ::backtrace(warm_up.data(), static_cast<int>(warm_up.size()));
  std::set_new_handler(on_memory_exhausted);
}

void write_to_standard_error(std::string_view text) {
  while (!text.empty()) {
    const ssize_t done = ::write(STDERR_FILENO, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;  // nowhere left to report to
    text.remove_prefix(static_cast<std::size_t>(done));
  }
}

void set_process_end(ProcessEnd end) { process_end = end; }

void stop_run(std::string_view message, int status) {
  if (!message.empty()) error_channel().write_record(message);
  end_process(status);
}

void fatal_report(int number) { report_and_end(number, 0, {}); }

void fatal_report(int number, int unit, std::string_view file) {
  report_and_end(number, unit, file);
}

}  // namespace records
