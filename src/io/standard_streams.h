// Whether the standard streams write into a given file: a companion refuses
// to run when its report would land in the model it reads or a file it
// writes (`stldeck-check --json m.stl >> m.stl`).
#pragma once

#include <sys/stat.h>

namespace io {

struct StreamsInto {
  bool standard_output = false;
  bool standard_error = false;
  bool any() const { return standard_output || standard_error; }
};

// Which standard streams are the regular file `file` describes (the same
// device and inode). A pipe, a terminal or a device such as /dev/null is
// never a file of the run, so it never matches; neither does a closed
// stream.
StreamsInto standard_streams_into(const struct stat& file);

// Holds the number of each closed standard stream with /dev/null opened for
// reading only (`prog >&-`): a file the run opens later would otherwise
// take number 1 or 2, and the report would be written into it. Writing the
// stream still fails with EBADF, as it does when the stream is closed.
void hold_closed_standard_streams();

}  // namespace io
