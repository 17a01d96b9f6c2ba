#include "check/file_format.h"

namespace check {

FileFormat classify_format(std::uint64_t size, std::span<const unsigned char> head) {
  if (size == 0) return FileFormat::empty;
  if (head.size() < BINARY_HEADER_BYTES) return FileFormat::ascii;
  const std::string_view count_bytes(reinterpret_cast<const char*>(head.data()) + 80, 4);
  return reading::is_binary_stl(size, count_bytes) ? FileFormat::binary : FileFormat::ascii;
}

std::string_view format_name(FileFormat format) {
  switch (format) {
    case FileFormat::empty:
      return "empty";
    case FileFormat::binary:
      return "binary";
    case FileFormat::ascii:
      break;
  }
  return "ascii";
}

}  // namespace check
