// Records in memory: the terminator every record of a file ends with, and
// a chunk of whole records rendered into a caller's buffer, ready to be
// written as they are.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string_view>

namespace format {

inline constexpr std::string_view RECORD_TERMINATOR = "\r\n";

// A chunk of whole records, each with its record terminator: a destination
// for write_layout. It never grows: a record that would not fit is a fault
// of the program that sized the chunk, and stops the process at once
// rather than write past the buffer.
class RecordChunk {
 public:
  RecordChunk(char* bytes, std::size_t capacity) : bytes_(bytes), capacity_(capacity) {}

  char* record_space(std::size_t max_length) {
    if (capacity_ - size_ < max_length + RECORD_TERMINATOR.size()) std::abort();
    return bytes_ + size_;
  }
  void end_record(std::size_t length) {
    bytes_[size_ + length] = RECORD_TERMINATOR[0];
    bytes_[size_ + length + 1] = RECORD_TERMINATOR[1];
    size_ += length + RECORD_TERMINATOR.size();
  }

  std::string_view text() const { return {bytes_, size_}; }

 private:
  char* bytes_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

}  // namespace format
