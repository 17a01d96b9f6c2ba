// Standard error written directly, below every channel: for the lines that
// must get through when no channel can (a report of insufficient memory, a
// note written while a channel is being bound).
#pragma once

#include <string_view>

namespace io {

// Writes text to standard error as it is, bypassing the error channel; a
// standard error that refuses it is not a failure of the run (there is
// nowhere left to say so). Takes no memory.
void write_to_standard_error(std::string_view text);

}  // namespace io
