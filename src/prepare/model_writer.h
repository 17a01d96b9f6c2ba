// Writing the mended model as an ASCII STL file in the converter's own
// style, whole or not at all.
//
// Each facet is seven lines: "  facet normal nx ny nz", "  outer loop",
// three "  vertex x y z" lines, "  endloop", "  endfacet", between one
// "solid" and one "endsolid" line. The converter knows a facet by the two
// blanks and "facet " at the start of its line and takes the six lines
// after it by position; it reads a vertex line's first 80 columns, so the
// indentation is short and the coordinates compact (coordinate_text.h):
// "  vertex " and three numbers of at most 23 characters fill 80 columns at
// most. The normal is the facet's own unit normal to 7 digits, which the
// converter never reads.
//
// The file is first written under no name (or a temporary name in the same
// folder where the file system cannot do that), flushed to the disk, and
// only then given its name: a run that fails or is killed leaves the old
// file as it was. A symbolic link as the name is followed: the file it
// points to is replaced, the link stays.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "geometry/triangle.h"

namespace prepare {

// Where the model will be written: the file the name stands for, after
// following symbolic links.
struct OutputTarget {
  std::string path;    // the file to replace or create
  std::string folder;  // its folder, where the new file is made
  bool exists = false;
  struct stat status {};  // valid when it exists
};

// Finds where `name` leads. Returns an empty string, or why it cannot be
// written there (a folder, a link to nowhere, a folder that is missing).
std::string find_output_target(const std::string& name, OutputTarget& target);

// True when the target is the file `input` describes (the same inode,
// reached by the same name, another hard link or a symbolic link).
bool is_same_file(const OutputTarget& target, const struct stat& input);

class ModelWriter {
 public:
  ModelWriter();
  ModelWriter(const ModelWriter&) = delete;
  ModelWriter& operator=(const ModelWriter&) = delete;
  // Removes the unfinished file, if any.
  ~ModelWriter();

  // Makes the new, still nameless file in the target's folder. Returns an
  // empty string or why it cannot.
  std::string open(const OutputTarget& target);

  // Adds one facet; its corners must be finite. Returns an empty string or
  // why the file could not be written (then the writer is done: nothing
  // will be named).
  std::string add_facet(const geometry::Triangle& facet);

  // Writes "endsolid" and flushes the file to the disk; it still has no
  // name of the target's, so that the run can still fail (its report not
  // written) and leave the old file. Returns an empty string or why not.
  std::string finish();

  // Gives the finished file the target's name. Returns an empty string or
  // why it could not.
  std::string commit();

 private:
  std::string flush();
  std::string failure(const std::string& what, int error);
  void discard();

  OutputTarget target_;
  int fd_ = -1;
  std::string temporary_path_;  // set when the file has a temporary name
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  bool finished_ = false;
};

}  // namespace prepare
