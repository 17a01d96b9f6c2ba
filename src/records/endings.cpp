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

#include "records/channel.h"

namespace records {
namespace {

struct CatalogueEntry {
  int number;
  int severity;              // 1 info, 2 warning, 3 error, 4 severe
  std::string_view message;  // "%d" takes the channel, "%s" its file
};

constexpr CatalogueEntry catalogue[] = {
    {     REPORT_ACCESS_DENIED, 4,"permission to access file denied, unit %d, file %s"                                  },
    {       REPORT_END_OF_FILE, 4,          "end-of-file during read, unit %d, file %s"},
    {    REPORT_FILE_NOT_FOUND, 4,                   "file not found, unit %d, file %s"},
    {      REPORT_OPEN_FAILURE, 4,                     "open failure, unit %d, file %s"},
    {       REPORT_WRITE_ERROR, 4,               "error during write, unit %d, file %s"},
    {        REPORT_READ_ERROR, 4,                "error during read, unit %d, file %s"},
    {         REPORT_NO_MEMORY, 4,                        "insufficient virtual memory"},
    {   REPORT_FILE_NAME_ERROR, 4,    "file name specification error, unit %d, file %s"},
    {    REPORT_READ_ONLY_FILE, 4,           "write to READONLY file, unit %d, file %s"},
    {REPORT_LINE_BUFFER_MEMORY, 4,
     "cannot allocate memory for the file buffer - out of memory, unit %d, file %s"    },
    {   REPORT_MODEL_TOO_LARGE, 4,
     "model too large, more than 3333333 facets (9999999 nodes), unit %d, file %s"     },
    {      REPORT_INVALID_REAL, 4,                                       "invalid REAL"},
};

constexpr std::string_view severity_names[] = {"info", "warning", "error", "severe"};

constexpr std::string_view TRACE_HEADER =
    "Image              PC        Routine            Line        Source             \n";
constexpr std::string_view TRACE_OVERFLOW =
    "Stack trace buffer overflow; further frames not shown.\n";
constexpr std::string_view TRACE_ABNORMAL = "Stack trace terminated abnormally.\n";
constexpr std::string_view UNKNOWN = "Unknown";

const CatalogueEntry& find_entry(int number) {
  for (const auto& entry : catalogue) {
    if (entry.number == number) return entry;
  }
  return catalogue[std::size(catalogue) - 1];
}

void append_int(std::string& text, long long value) {
  std::array<char, 24> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  text.append(digits.data(), result.ptr);
}

// Left-aligned, cut or padded to exactly width characters.
void append_left(std::string& text, std::string_view value, std::size_t width) {
  value = value.substr(0, width);
  text += value;
  text.append(width - value.size(), ' ');
}

std::string frame_line(const TraceFrame& frame) {
  std::string line;
  append_left(line, frame.image, 17);
  line += "  ";
  std::array<char, 8> pc{};
  auto address = static_cast<unsigned>(frame.pc & 0xFFFFFFFFu);
  for (std::size_t i = pc.size(); i-- > 0; address >>= 4) pc[i] = "0123456789ABCDEF"[address & 15u];
  line.append(pc.data(), pc.size());
  line += "  ";
  append_left(line, frame.routine.empty() ? UNKNOWN : frame.routine, 17);
  line += "  ";
  // No line numbers are known: the line field is always the word, right-aligned.
  line.append(10 - UNKNOWN.size(), ' ');
  line += UNKNOWN;
  line += "  ";
  line += UNKNOWN;
  line += '\n';
  return line;
}

void write_to_standard_error(std::string_view text) {
  while (!text.empty()) {
    const ssize_t done = ::write(STDERR_FILENO, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;  // nowhere left to report to
    text.remove_prefix(static_cast<std::size_t>(done));
  }
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

[[noreturn]] void report_and_end(int number, int unit, std::string_view file) {
  // The stack of this very function is the innermost frame listed.
  std::array<void*, 256> addresses{};
  const int depth = ::backtrace(addresses.data(), static_cast<int>(addresses.size()));
  static char executable[4096];
  const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
  executable[length > 0 ? length : 0] = '\0';

  std::array<TraceFrame, 256> frames{};
  std::size_t count = 0;
  for (int i = 0; i < depth; ++i) {
    const auto address =
        reinterpret_cast<unsigned long long>(addresses[static_cast<std::size_t>(i)]);
    Dl_info info{};
    TraceFrame& frame = frames[count++];
    frame.pc = address;
    frame.image = file_part(executable);
    if (::dladdr(addresses[static_cast<std::size_t>(i)], &info) != 0) {
      if (info.dli_fname != nullptr && info.dli_fname[0] != '\0') {
        frame.image = file_part(info.dli_fname);
      }
      frame.pc = address - reinterpret_cast<unsigned long long>(info.dli_fbase);
      if (info.dli_sname != nullptr) frame.routine = info.dli_sname;
    }
  }
  for (const int shown : {CONSOLE_UNIT, ERROR_UNIT}) {
    if (Channel* terminal = find_channel(shown)) terminal->end_shown_line();
  }
  write_to_standard_error(
      format_report(number, unit, file, std::span(frames.data(), count), depth <= 0));
  end_process(number);
}

}  // namespace

std::string format_report(int number, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed) {
  const CatalogueEntry& entry = find_entry(number);
  std::string text = "forrtl: ";
  text += severity_names[static_cast<std::size_t>(entry.severity - 1)];
  text += " (";
  append_int(text, number);
  text += "): ";
  for (std::size_t i = 0; i < entry.message.size(); ++i) {
    const std::string_view rest = entry.message.substr(i);
    if (rest.starts_with("%d")) {
      append_int(text, unit);
      ++i;
    } else if (rest.starts_with("%s")) {
      text += file;
      ++i;
    } else {
      text += entry.message[i];
    }
  }
  text += '\n';
  if (entry.severity != 4) return text;

  text += TRACE_HEADER;
  for (const TraceFrame& frame : frames) {
    const std::string line = frame_line(frame);
    if (text.size() + line.size() + TRACE_OVERFLOW.size() > REPORT_TEXT_LIMIT) {
      text += TRACE_OVERFLOW;
      return text;
    }
    text += line;
  }
  if (walk_failed && text.size() + TRACE_ABNORMAL.size() <= REPORT_TEXT_LIMIT) {
    text += TRACE_ABNORMAL;
  }
  return text;
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
