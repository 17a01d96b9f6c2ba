// A file opened for reading (a model, a deck), or for changing a few bytes
// where they lie (io/in_place.h), refused unless it is a regular file: a
// named pipe could hold the run waiting for a writer, a device could give
// no end, and a folder has no bytes to read.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>

#include "io/failure.h"

namespace io {

enum class Access {
  read,
  // Read and written, and named itself: a symbolic link is refused, for
  // its target may lie in another folder and belong to another model.
  change_in_place,
};

// Owns a descriptor open for reading; move-only, closed when destroyed.
class InputFile {
 public:
  InputFile() = default;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  int descriptor() const { return fd_; }
  const struct stat& status() const { return status_; }
  std::uint64_t size() const { return static_cast<std::uint64_t>(status_.st_size); }
  // Hands the descriptor to a new owner, which closes it.
  int release();
  // Takes the status again: the size may have changed since the file was
  // opened (by a run that held its lock meanwhile). Failure: "cannot read
  // PATH: reason".
  [[nodiscard]] Outcome look_again(const std::string& path);

  friend Outcome open_input_file(const std::string& path, InputFile& file, Access access);

 private:
  int fd_ = -1;
  struct stat status_ {};
};

// Opens `path` for reading. Refused before it is opened when it is no
// regular file (opening a pipe without a writer waits for one); opened
// without waiting and looked at again, in case the name changed between.
// Failures: "cannot open PATH: reason", "cannot read PATH: it is a folder",
// "cannot read PATH: not a regular file", and to change it in place
// "cannot open PATH: a symbolic link; name the file itself".
[[nodiscard]] Outcome open_input_file(const std::string& path, InputFile& file,
                                      Access access = Access::read);

// Fills `bytes` from `offset` of the file without moving its position;
// a file that ends first is a failure ("cannot read PATH: reason").
[[nodiscard]] Outcome read_at(const InputFile& file, std::uint64_t offset, std::span<char> bytes,
                              const std::string& path);

// Whether two open files are one file (under any names).
bool is_same_file(const InputFile& a, const InputFile& b);

// The same for a descriptor the caller opened itself (with flags of its
// own, to lock the file or to write it too).
[[nodiscard]] Outcome read_at(int fd, std::uint64_t offset, std::span<char> bytes,
                              const std::string& path);

}  // namespace io
