// A line reader: a file read line by line, in large blocks.
//
// A line ends at a line feed; a carriage return just before it is not part
// of the line. Bytes after the last line feed do not form a line. Only the
// first characters of a line that the reader asks for are kept.
//
// The reader knows nothing of what its lines mean or of how a program
// reports a failure: a read that fails says so in its outcome, and the
// reader keeps what failed (io::Failure) for the caller to decide about.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "io/failure.h"

namespace io {

// Outcome of reading one line.
enum class ReadOutcome { line, end_of_input, failure };

// What a reader learns of a whole line while it keeps only the line's
// first characters: a few facts gathered as the line streams past, so that
// a line of any length costs no more memory than its kept head.
struct LineShape {
  static constexpr std::size_t WORD_LENGTH = 8;
  // A character other than a blank after the kept characters.
  bool text_after_kept = false;
  // A character other than a blank, a tab or a carriage return anywhere.
  bool has_text = false;
  // The first WORD_LENGTH characters (fewer when the line ends first)
  // after the line's leading blanks and tabs.
  std::array<char, WORD_LENGTH> word{};
  std::size_t word_length = 0;

  std::string_view first_word() const { return {word.data(), word_length}; }
};

class LineReader {
 public:
  // Takes ownership of the descriptor fd, opened for reading; path names the
  // file in failures.
  LineReader(int fd, std::string path);
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  const std::string& path() const { return path_; }
  int descriptor() const { return fd_; }

  // Takes the reader's block now, so that reading needs no memory later;
  // a failure when the system refuses it. Without it the block is taken at
  // the first read, and a refusal is a read failure.
  [[nodiscard]] Outcome reserve_block();

  // What of a line's shape a reader asks for (see the read_line below).
  enum class Shape { none, text_after_kept, whole };

  // Reads the next line; on success `first` holds at most `keep` characters
  // of it (the carriage return before the line feed dropped). The view stays
  // valid until the next read. A line that spans two blocks is gathered in
  // a buffer of its own, which grows only for a caller that keeps more than
  // a short head: a failure to grow is a read failure. After a failure,
  // failure() says what failed.
  ReadOutcome read_line(std::string_view& first, std::size_t keep);
  // The same, and whether the line holds more than blanks after the kept
  // characters.
  ReadOutcome read_line(std::string_view& first, std::size_t keep, bool& text_after_kept);
  // The same, and the line's whole shape.
  ReadOutcome read_line(std::string_view& first, std::size_t keep, LineShape& shape);

  // What the last read or reservation that failed met: the step, the path
  // and the system's reason. Valid once one has failed.
  const Failure& failure() const { return failure_; }

  // Closes the descriptor; a failed close of a file only read loses
  // nothing, so there is nothing to report.
  void close();

 private:
  bool refill();
  // Notes that the line spanning two blocks could not be gathered.
  ReadOutcome line_out_of_memory();
  template <Shape wanted>
  ReadOutcome read_line_as(std::string_view& first, std::size_t keep, LineShape* shape);

  int fd_;
  std::string path_;
  std::unique_ptr<char[]> buffer_;
  std::size_t block_bytes_ = 0;  // of the buffer, once taken
  std::size_t begin_ = 0;        // next unread byte
  std::size_t end_ = 0;          // end of data
  bool input_ended_ = false;
  std::string spanning_;    // the kept start of a line that spans two blocks
  LineShape vertex_shape_;  // the shape read_line takes the flag from
  Failure failure_;
};

}  // namespace io
