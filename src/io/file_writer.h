// A file written through a buffer, every write and every close checked: the
// companions' files (a prepared model, a findings view) and the standard
// streams' reports all go through here, so that a full disk, a limit on
// file sizes or a closed stream is a failure the caller sees, never a short
// file reported as written.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "io/failure.h"

namespace io {

// Under a limit on file sizes (`ulimit -f`) a write past it would end the
// process by SIGXFSZ, without a word and leaving a partial file; with the
// signal ignored the write fails with EFBIG instead ("File too large"),
// which reaches the caller as a failure with the file's path. Each program
// calls this once, first thing in main.
void take_file_size_limit_as_failure();

// Writes all of `bytes` to the descriptor, again after an interrupted or
// short write. A write that takes nothing is a full device (ENOSPC). The
// failure reads "cannot write PATH: reason".
[[nodiscard]] Outcome write_all(int fd, std::string_view bytes, const std::string& path);

// Owns a descriptor open for writing and buffers what is written to it.
// Move-only; a writer still open when destroyed is closed without a check
// (close() is the checked way).
class FileWriter {
 public:
  // Pieces smaller than this are gathered before they are written.
  static constexpr std::size_t BUFFER_BYTES = std::size_t{1} << 20;

  FileWriter() = default;
  // Takes over `fd`; `path` names the file in failures.
  FileWriter(int fd, std::string path);
  FileWriter(FileWriter&& other) noexcept;
  FileWriter& operator=(FileWriter&& other) noexcept;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;
  ~FileWriter();

  bool is_open() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  const std::string& path() const { return path_; }

  // Adds bytes; a piece at least as large as the buffer goes straight to
  // the file once what is buffered has gone before it.
  [[nodiscard]] Outcome write(std::string_view bytes);
  // Writes what is buffered.
  [[nodiscard]] Outcome flush();
  // Writes what is buffered and waits until the device holds the file.
  [[nodiscard]] Outcome sync();
  // Writes what is buffered and closes the descriptor, whatever the
  // outcome; the writer is then closed.
  [[nodiscard]] Outcome close();
  // Closes the descriptor without writing what is buffered (the file is
  // being given up).
  void abandon();

 private:
  int fd_ = -1;
  std::string path_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

}  // namespace io
