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
// The model is written in metres: each coordinate x of the model becomes
// the correctly rounded product x * factor (metres per model unit), which
// one multiplication gives, and the coordinate text gives the converter
// that very double. A product that leaves the normal doubles (infinite, or
// below 2.2e-308 for a coordinate not zero) is refused, never written.
//
// The file replaces OUT whole (io/file_replacement.h): a run that fails or
// is killed leaves the old file as it was. A symbolic link as the name is
// followed: the file it points to is replaced, the link stays.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "geometry/triangle.h"
#include "io/failure.h"
#include "io/file_replacement.h"

namespace prepare {

class ModelWriter {
 public:
  // `nameless` is Nameless::never only to test the temporary names on a
  // file system that allows nameless files. `metres_per_unit` is the
  // model unit's factor (1 for a model in metres).
  explicit ModelWriter(io::Nameless nameless = io::Nameless::where_possible,
                       double metres_per_unit = 1.0);
  ModelWriter(const ModelWriter&) = delete;
  ModelWriter& operator=(const ModelWriter&) = delete;

  // Makes the new, still nameless file in the target's folder
  // (io::find_replacement_target finds it).
  io::Outcome open(const io::ReplacementTarget& target);

  // Adds one facet, in model units; its corners must be finite. After a
  // failure (a write, or a corner with no value in metres) the writer is
  // done: nothing will be named.
  io::Outcome add_facet(const geometry::Triangle& facet);

  // Writes "endsolid" and flushes the file to the disk; it still has no
  // name of the target's, so that the run can still fail (its report not
  // written) and leave the old file.
  io::Outcome finish();

  // Gives the finished file the target's name.
  io::Outcome commit();

 private:
  io::Outcome flush();

  io::FileReplacement file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  double factor_ = 1.0;
};

}  // namespace prepare
