// What kind of STL file a file looks like from its size and its first
// 84 bytes, before any line is read.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "reading/model_reader.h"

namespace check {

enum class FileFormat { empty, binary, ascii };

// Binary STL has an 80-byte header, a little-endian 32-bit facet count N
// and 50 bytes per facet: a file of exactly 84 + 50 N bytes is taken for
// one. `head` holds the file's first min(size, 84) bytes.
FileFormat classify_format(std::uint64_t size, std::span<const unsigned char> head);

std::string_view format_name(FileFormat format);

inline constexpr std::size_t BINARY_HEADER_BYTES = reading::BINARY_HEADER_BYTES;

}  // namespace check
