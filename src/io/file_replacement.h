// Replacing a file whole: the new text is written to a file of its own in
// the target's folder, flushed to the disk, and only then named over the
// target, so that a run that fails or is killed leaves the old file as it
// was and a reader never sees half a file.
//
// The new file has no name while it is written where the file system
// allows one (a killed run then leaves nothing behind). Where it does not,
// the file is written under PATH.KIND-PID-N; a failure removes it, and a
// later run of the same kind removes what a killed run left (the process
// that made it no longer exists). A file of any other name is left alone.
//
// Only a regular file is replaced, or a new one made: never a folder, a
// device or a named pipe (as root, replacing /dev/null would replace the
// system's). A symbolic link as the name is followed: the file it names is
// replaced, the link stays.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "io/failure.h"
#include "io/file_writer.h"

namespace io {

// Where a replacement goes.
struct ReplacementTarget {
  std::string name;    // as the user gave it, for messages
  std::string path;    // the file to replace or make, links followed
  std::string folder;  // its folder, where the new file is made
  bool exists = false;
  struct stat status {};  // valid when it exists
};

// Finds where `name` leads. Refused: a folder, anything but a regular file,
// a link to nothing, a folder that is missing or is not a folder. The
// failure reads "cannot write NAME: reason".
[[nodiscard]] Outcome find_replacement_target(const std::string& name, ReplacementTarget& target);

// True when the target is the file `file` describes (the same device and
// inode, whether reached by the same name, another hard link or a symbolic
// link): a program never replaces the file it reads.
bool is_same_file(const ReplacementTarget& target, const struct stat& file);

// How the new file is made: nameless where the file system allows, or
// always under a temporary name (to test that way on any file system).
enum class Nameless { where_possible, never };

class FileReplacement {
 public:
  // `kind` tells this program's temporary files apart from others'
  // ("prepare" gives OUT.prepare-PID-N).
  explicit FileReplacement(std::string kind, Nameless nameless = Nameless::where_possible);
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // Removes the new file unless it was committed.
  ~FileReplacement();

  // Makes the new file in the target's folder, with the permissions of the
  // file it replaces, or the usual ones (0666 less the umask) for a new
  // file. Failures: "cannot create a file in FOLDER: reason", "cannot set
  // the permissions: reason".
  [[nodiscard]] Outcome open(const ReplacementTarget& target);

  // Adds bytes to the new file ("cannot write PATH: reason"). After a
  // failure the new file is gone and the replacement is over.
  [[nodiscard]] Outcome write(std::string_view bytes);

  // Writes the rest and flushes the file to the disk; it does not have the
  // target's name yet, so that the run can still fail and leave the old
  // file.
  [[nodiscard]] Outcome finish();

  // Gives the finished file the target's name in one step ("cannot name
  // the new PATH: reason" when it cannot; then the old file stays).
  [[nodiscard]] Outcome commit();

  // Gives the new file up: removed, the target untouched.
  void discard();

 private:
  Outcome failed(Failure failure);

  std::string kind_;
  Nameless nameless_;
  ReplacementTarget target_;
  FileWriter file_;
  std::string temporary_path_;  // set while the new file has a temporary name
  bool finished_ = false;
};

// The usual permissions of a new file: 0666 less the process's umask. The
// umask can only be read by setting it, so it is read once and kept.
mode_t new_file_mode();

}  // namespace io
