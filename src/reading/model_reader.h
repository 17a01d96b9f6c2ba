// Reading a whole STL model into memory, in either of the two forms CAD
// programs write, for the commands that mend a model before the converter
// sees it.
//
// - Binary: an 80-byte header, a little-endian 32-bit facet count N, then N
//   records of 50 bytes (normal, three corners as little-endian 32-bit
//   floats, a 16-bit attribute). A file of exactly 84 + 50 N bytes is
//   binary, even when its header begins with "solid", as some exporters
//   write it.
// - ASCII in any common style: "solid", "facet normal", "outer loop",
//   "vertex", "endloop", "endfacet", "endsolid", in any letter case, with any
//   indentation, blanks or tabs between words, LF or CR LF line ends, a last
//   line without a line end, several solids one after the other. Coordinates
//   are decimal numbers with an optional sign and an E or e exponent (also
//   "inf" and "nan", which the mending drops), read correctly rounded.
//
// Unlike the converter's scanner, which takes a facet's lines by position,
// this reader checks the grammar and refuses what it does not understand
// (with the line and what was found), so that nothing is silently lost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "reading/stl_scanner.h"

namespace reading {

enum class ModelFormat { binary, ascii };

struct ModelRead {
  ModelFormat format = ModelFormat::ascii;
  std::vector<geometry::Triangle> facets;
  // Where each facet is: the 1-based line of its "facet" line in an ASCII
  // file, its 1-based record number in a binary one.
  std::vector<std::int64_t> facet_lines;
};

// How far the reading has come, for a progress line: told the bytes read
// so far and the total now and then (every few megabytes), never per
// facet. An empty one is told nothing.
using ReadProgress = std::function<void(std::uint64_t bytes_read, std::uint64_t total)>;

// The binary form's sizes.
inline constexpr std::size_t BINARY_HEADER_BYTES = 84;
inline constexpr std::size_t BINARY_RECORD_BYTES = 50;

// True when a file of `size` bytes whose bytes 80..83 hold `count_bytes`
// is a binary STL file: exactly 84 + 50 N bytes.
bool is_binary_stl(std::uint64_t size, std::string_view count_bytes);

// Reads the whole model from `fd` (opened for reading, positioned at the
// start, a regular file of `size` bytes). Returns an empty string, or one
// line saying why the file is not a model it can read (which line, what
// was expected, what was found).
std::string read_model(int fd, std::uint64_t size, ModelRead& model,
                       const ReadProgress& progress = {});

}  // namespace reading
