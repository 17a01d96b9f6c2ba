#include "check/file_format.h"

namespace check {

FileFormat classify_format(std::uint64_t size, std::span<const unsigned char> head) {
  if (size == 0) return FileFormat::empty;
  if (size < BINARY_HEADER_BYTES || head.size() < BINARY_HEADER_BYTES) return FileFormat::ascii;
  std::uint64_t count = 0;
  for (std::size_t i = 0; i < 4; ++i) count |= std::uint64_t{head[80 + i]} << (8 * i);
  return size == BINARY_HEADER_BYTES + 50 * count ? FileFormat::binary : FileFormat::ascii;
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
