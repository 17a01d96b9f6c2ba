// Whether the standard streams write into a given file: a companion refuses
// to run when its report would land in the model it reads or a file it
// writes (`stldeck-check --json m.stl >> m.stl`).
#pragma once

#include <sys/stat.h>

namespace records {

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

}  // namespace records
