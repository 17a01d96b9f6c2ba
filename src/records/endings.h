// The ways a run ends: the normal end, the stop with a message, and the
// numbered severe report. Every ending closes every channel (writing what is
// pending) and ends the process; none of them returns. Only the run
// sequence calls them, with the status an operation reported.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "records/status.h"

namespace records {

// The message of the stop that ends a run whose vertex line could not be
// read (Report::vertex_read_stop), written as one record on the error
// channel.
inline constexpr std::string_view VERTEX_READ_STOP_MESSAGE =
    " Error in reading triangles. Program stopped!";

// Ends the run as the status says: Report::none ends it normally (exit
// status 0), Report::vertex_read_stop with its message, any other report
// with the report line and its traceback on standard error. The channels
// are then closed; a failure while closing them ends the run with that
// channel's report instead.
[[noreturn]] void end_run(const Status& status);

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
// (format/terminal_text.h: control characters, C1 controls and bytes that
// are not valid UTF-8 as a backslash and three octal digits), so that a
// name cannot drive the terminal the report is shown on. Returns the length.
std::size_t format_report(Report report, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed,
                          bool escape_controls, std::span<char, REPORT_TEXT_LIMIT> text);

// The same, as a string (for tests).
std::string format_report(Report report, int unit, std::string_view file,
                          std::span<const TraceFrame> frames, bool walk_failed,
                          bool escape_controls = false);

// Makes every later failure to get memory (a standard allocation anywhere
// in the run) end with the insufficient-memory report, and prepares the
// stack walk so that a report does not need memory itself.
void report_memory_exhaustion();

}  // namespace records
