// The ways a run ends: the normal stop, the stop with a message, and the
// numbered severe report. Every ending closes every channel (writing what is
// pending) and ends the process; none of them returns.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace records {

// Report numbers of the message catalogue. The number is also the exit
// status (the operating system keeps its low 8 bits: 547 shows as 35).
enum ReportNumber : int {
  REPORT_ACCESS_DENIED = 9,
  REPORT_END_OF_FILE = 24,
  REPORT_FILE_NOT_FOUND = 29,
  REPORT_OPEN_FAILURE = 30,
  REPORT_WRITE_ERROR = 38,
  REPORT_READ_ERROR = 39,
  REPORT_NO_MEMORY = 41,
  REPORT_FILE_NAME_ERROR = 43,
  REPORT_READ_ONLY_FILE = 47,
  REPORT_MODEL_TOO_LARGE = 250,
  REPORT_INVALID_REAL = 547,
};

// Ends the run normally. An empty message writes nothing; any other message
// is written to standard error as one record. Exit status: see the caller.
[[noreturn]] void stop_run(std::string_view message, int status = 0);

// Writes the report for a catalogue entry without channel arguments, with
// its traceback, to standard error, closes every channel and exits with the
// report number.
[[noreturn]] void fatal_report(int number);

// The same for an entry whose message names a channel and its file.
[[noreturn]] void fatal_report(int number, int unit, std::string_view file);

// The last step of every ending, after the channels are closed: by default
// the process ends with the status. A fuzzing harness installs its own, which
// must not return either (it jumps back to its loop).
using ProcessEnd = void (*)(int status);
void set_process_end(ProcessEnd end);

// One frame of a traceback, as the stack walk found it.
struct TraceFrame {
  std::string_view image;    // file name and extension of the executable or library
  unsigned long long pc;     // code address, shown as 8 upper-case hex digits
  std::string_view routine;  // empty when the frame has no symbol information
};

// Largest report text, report line and traceback together.
inline constexpr std::size_t REPORT_TEXT_LIMIT = 16384;

// Builds the report text into `text` without allocating (a report of
// insufficient memory must not need memory): the report line, then the
// traceback (header and one line per frame), cut to the text limit.
// walk_failed adds the line for a stack walk that ended abnormally. When
// escape_controls is set, the file name is shown escaped as on a terminal
// (records/terminal_text.h: control characters, C1 controls and bytes that
// are not valid UTF-8 as a backslash and three octal digits), so that a
// name cannot drive the terminal the report is shown on. Returns the length.
std::size_t format_report(int number, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed,
                          bool escape_controls, std::span<char, REPORT_TEXT_LIMIT> text);

// The same, as a string (for tests).
std::string format_report(int number, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed,
                          bool escape_controls = false);

// Writes text to standard error as it is, bypassing the error channel; a
// standard error that refuses it is not a failure of the run (there is
// nowhere left to say so). Takes no memory.
void write_to_standard_error(std::string_view text);

// Makes every later failure to get memory (a standard allocation anywhere
// in the run) end with the insufficient-memory report, and prepares the
// stack walk so that a report does not need memory itself.
void report_memory_exhaustion();

}  // namespace records
