// The channel table: every channel a run binds, so that each ending can
// close them all. It is the one global of the converter's runtime; code
// that reads or writes a channel is handed the channel. Binding reports a
// status and never ends the run.
//
// Channel 5 reads "STL_Model.stl"; channels 6 and 8 write "input.dat" and
// "input.plt"; the console channel writes the process's standard output and
// the error channel its standard error.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "io/line_reader.h"
#include "records/output_channel.h"
#include "records/status.h"

namespace records {

// A channel bound, or the status that says why it could not be.
template <typename Channel>
struct Binding {
  Channel* channel = nullptr;
  Status status;
};

// Binds channel 5 to a file that must exist (file-not-found report 29 when
// it or its directory does not exist; other refusals by their reports). A
// model that standard output or standard error is redirected into is
// refused with the open-failure report. The channel is a plain line
// reader: its unit is known here, for the reports. Its block is reserved
// at once (report 41 when memory is short).
[[nodiscard]] Binding<io::LineReader> bind_input(std::string_view name);

// Binds channel 6 or 8 to a file created empty if absent and otherwise
// opened without truncation. A file that the run already has open otherwise
// (a hard link or symbolic link to the STL file or the other output, or
// the file that standard output or standard error is redirected into) is
// refused with the open-failure report before anything is written to any
// of them. The channel's block is reserved at once (report 41 when memory
// is short). A regular file is then locked against other runs: a run that
// finds it locked waits until the other run has ended, and after a second
// says so on standard error. When the name then leads to another file (the
// other run renamed or removed it), the name is opened again, created if
// gone, and locked in turn.
[[nodiscard]] Binding<OutputChannel> bind_output(int unit, std::string_view name);

// The console channel, bound at its first use (report 41 when its block
// cannot be had).
[[nodiscard]] Binding<OutputChannel> console();
// The error channel (standard error), the same way.
[[nodiscard]] Binding<OutputChannel> error_channel();

// On the console and standard error, when bound: writes the line feed
// still owed to the last line shown, so that a report starts a line of its
// own.
void end_shown_lines();

// Closes every bound channel in turn (5, 6, 8, console, error), up to the
// first that fails, and returns that failure. The channels are closed once:
// a later call does nothing.
[[nodiscard]] Status close_all_channels();

// The absolute path of a name in the current directory, when it fits in 256
// characters; otherwise the name itself (blanks around it removed).
std::string recorded_path(std::string_view name);

}  // namespace records
