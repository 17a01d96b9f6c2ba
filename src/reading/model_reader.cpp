#include "reading/model_reader.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

namespace reading {
namespace {

// The file is read in blocks of this size; a facet never needs more than a
// few hundred bytes, so a block holds thousands of them.
constexpr std::size_t BLOCK_BYTES = std::size_t{4} << 20;

// A line of an ASCII model longer than this is refused rather than cut: no
// exporter writes one, and cutting it could lose a coordinate.
constexpr std::size_t LONGEST_LINE = 4096;

// Progress is reported after each this many bytes.
constexpr std::uint64_t PROGRESS_STEP = std::uint64_t{16} << 20;

// A piece of the file's text, quoted in a message: non-printing bytes as
// \xNN, at most 40 characters.
std::string quote(std::string_view text) {
  constexpr std::size_t SHOWN = 40;
  std::string quoted = "'";
  for (std::size_t i = 0; i < text.size() && i < SHOWN; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      quoted += static_cast<char>(byte);
    } else {
      constexpr char HEX[] = "0123456789abcdef";
      quoted += "\\x";
      quoted += HEX[byte >> 4];
      quoted += HEX[byte & 0xf];
    }
  }
  if (text.size() > SHOWN) quoted += "...";
  return quoted + "'";
}

// Reads exactly `size` bytes; false on a read error or an early end (the
// file shrank while it was read). errno is 0 for an early end.
bool read_exactly(int fd, char* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, into + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

std::string read_failure(std::string_view what) {
  if (errno == 0) return std::string(what) + ": the file ended early (was it changed while read?)";
  return std::string(what) + ": " + std::strerror(errno);
}

std::uint32_t little_endian_u32(const char* bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

float little_endian_float(const char* bytes) {
  return std::bit_cast<float>(little_endian_u32(bytes));
}

std::string read_binary(int fd, std::uint64_t size, ModelRead& model,
                        const ReadProgress& progress) {
  std::array<char, BINARY_HEADER_BYTES> header{};
  if (!read_exactly(fd, header.data(), header.size())) return read_failure("cannot read");
  const std::uint32_t count = little_endian_u32(header.data() + 80);
  model.facets.reserve(count);
  model.facet_lines.reserve(count);

  // A block for as many records as the file holds, up to a full one.
  const auto records_per_block = static_cast<std::size_t>(std::min<std::uint64_t>(
      BLOCK_BYTES / BINARY_RECORD_BYTES, std::max<std::uint32_t>(count, 1)));
  std::unique_ptr<char[]> block(new char[records_per_block * BINARY_RECORD_BYTES]);
  std::uint64_t done = 0;
  std::uint64_t reported = 0;
  while (done < count) {
    const auto records =
        static_cast<std::size_t>(std::min<std::uint64_t>(records_per_block, count - done));
    if (!read_exactly(fd, block.get(), records * BINARY_RECORD_BYTES)) {
      return read_failure("cannot read");
    }
    for (std::size_t r = 0; r < records; ++r) {
      // The normal (12 bytes) is not read: the mending computes its own.
      const char* corner_bytes = block.get() + r * BINARY_RECORD_BYTES + 12;
      geometry::Triangle facet{};
      for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t k = 0; k < 3; ++k) {
          facet[c][k] = static_cast<double>(little_endian_float(corner_bytes + 4 * (3 * c + k)));
        }
      }
      model.facets.push_back(facet);
      model.facet_lines.push_back(static_cast<std::int64_t>(done + r + 1));
    }
    done += records;
    const std::uint64_t bytes = BINARY_HEADER_BYTES + done * BINARY_RECORD_BYTES;
    if (progress && bytes - reported >= PROGRESS_STEP) {
      progress(bytes, size);
      reported = bytes;
    }
  }
  return {};
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The next blank-separated word of `line` from `position`; empty at the
// line's end.
std::string_view next_word(std::string_view line, std::size_t& position) {
  while (position < line.size() && is_space(line[position])) ++position;
  const std::size_t start = position;
  while (position < line.size() && !is_space(line[position])) ++position;
  return line.substr(start, position - start);
}

bool is_keyword(std::string_view word, std::string_view lower_case) {
  if (word.size() != lower_case.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_case[i]) return false;
  }
  return true;
}

// A decimal number, the whole word: optional sign, digits with an optional
// point, an optional E or e exponent; also inf, infinity and nan. Correctly
// rounded; a value beyond the largest double is infinite, one below the
// smallest subnormal zero.
bool read_number(std::string_view word, double& value) {
  if (!word.empty() && word.front() == '+') {
    word.remove_prefix(1);
    if (!word.empty() && (word.front() == '+' || word.front() == '-')) return false;
  }
  const char* const end = word.data() + word.size();
  const auto result = std::from_chars(word.data(), end, value, std::chars_format::general);
  if (result.ptr != end || word.empty()) return false;
  if (result.ec == std::errc()) return true;
  if (result.ec != std::errc::result_out_of_range) return false;
  // Out of range: the syntax was good; strtod gives the overflowed infinity
  // or the underflowed zero (or subnormal) with its sign.
  const std::string text(word);
  value = std::strtod(text.c_str(), nullptr);
  return true;
}

// The grammar of an ASCII model, one line at a time.
class AsciiParser {
 public:
  explicit AsciiParser(ModelRead& model) : model_(model) {}

  // Returns an empty string or why the line is refused.
  std::string take_line(std::string_view line) {
    ++line_number_;
    note_first_line(line);
    std::size_t position = 0;
    const std::string_view word = next_word(line, position);
    if (word.empty()) return {};  // blank lines are allowed anywhere
    switch (state_) {
      case State::outside:
        if (is_keyword(word, "solid")) {
          state_ = State::in_solid;
          solid_line_ = line_number_;
          seen_solid_ = true;
          return {};
        }
        if (!seen_solid_) {
          return "not an STL file: its size is not 84 + 50 N bytes (binary), and its first "
                 "word is not 'solid' (ASCII)";
        }
        return expected("'solid' or the end of the file", word);
      case State::in_solid:
        if (is_keyword(word, "facet")) return begin_facet(line, position);
        if (is_keyword(word, "endsolid")) {
          state_ = State::outside;
          return {};
        }
        return expected("'facet' or 'endsolid'", word);
      case State::facet:
        if (is_keyword(word, "outer") && is_keyword(next_word(line, position), "loop")) {
          state_ = State::loop;
          return rest_is_empty(line, position);
        }
        return expected("'outer loop'", word);
      case State::loop:
        if (is_keyword(word, "vertex")) return take_vertex(line, position);
        if (is_keyword(word, "endloop")) {
          if (corners_ != 3) {
            return "line " + std::to_string(line_number_) + ": the facet of line " +
                   std::to_string(facet_line_) + " has " + std::to_string(corners_) +
                   " corners; a facet of an STL file has 3";
          }
          state_ = State::end_loop;
          return rest_is_empty(line, position);
        }
        return expected("'vertex' or 'endloop'", word);
      case State::end_loop:
        if (is_keyword(word, "endfacet")) {
          model_.facets.push_back(facet_);
          model_.facet_lines.push_back(facet_line_);
          state_ = State::in_solid;
          return rest_is_empty(line, position);
        }
        return expected("'endfacet'", word);
    }
    return {};
  }

  std::string finish() const {
    if (!seen_solid_) return "the file holds no solid: it is blank";
    if (state_ != State::outside && line_number_ == 1 && lone_cr_) return lone_cr_problem();
    if (state_ != State::outside) {
      return "the file ends inside the solid of line " + std::to_string(solid_line_) +
             ", without 'endsolid': it may have been cut short";
    }
    return {};
  }

  std::int64_t line_number() const { return line_number_; }

  // Notes a CR followed by more text on the first line: a file whose lines
  // end with CR alone (the old Mac style) reads as one long line, as CR is
  // a blank within a line.
  void note_first_line(std::string_view line) {
    if (line_number_ > 1) return;
    const std::size_t cr = line.find('\r');
    lone_cr_ = cr != std::string_view::npos && line.find_first_not_of('\r', cr) != line.npos;
  }
  bool lone_cr() const { return lone_cr_; }
  static std::string lone_cr_problem() {
    return "line 1: lines end with CR alone (the old Mac style), which is not read; save the "
           "file with LF or CR LF line ends";
  }

 private:
  enum class State { outside, in_solid, facet, loop, end_loop };

  std::string expected(std::string_view what, std::string_view found) {
    return "line " + std::to_string(line_number_) + ": expected " + std::string(what) + ", found " +
           quote(found);
  }

  std::string rest_is_empty(std::string_view line, std::size_t position) {
    const std::string_view extra = next_word(line, position);
    if (extra.empty()) return {};
    return "line " + std::to_string(line_number_) + ": unexpected " + quote(extra);
  }

  std::string begin_facet(std::string_view line, std::size_t position) {
    facet_line_ = line_number_;
    corners_ = 0;
    state_ = State::facet;
    // "facet normal nx ny nz": the normal is checked for its form only; the
    // mending computes its own from the corners.
    const std::string_view keyword = next_word(line, position);
    if (keyword.empty()) return {};
    if (!is_keyword(keyword, "normal")) return expected("'normal'", keyword);
    for (int k = 0; k < 3; ++k) {
      const std::string_view word = next_word(line, position);
      double ignored = 0.0;
      if (!read_number(word, ignored)) return expected("a number", word);
    }
    return rest_is_empty(line, position);
  }

  std::string take_vertex(std::string_view line, std::size_t position) {
    if (corners_ == 3) {
      return "line " + std::to_string(line_number_) + ": a fourth corner in the facet of line " +
             std::to_string(facet_line_) + "; a facet of an STL file has 3";
    }
    for (std::size_t k = 0; k < 3; ++k) {
      const std::string_view word = next_word(line, position);
      if (!read_number(word, facet_[corners_][k])) return expected("a number", word);
    }
    ++corners_;
    return rest_is_empty(line, position);
  }

  ModelRead& model_;
  State state_ = State::outside;
  std::int64_t line_number_ = 0;
  std::int64_t solid_line_ = 0;
  std::int64_t facet_line_ = 0;
  bool seen_solid_ = false;
  bool lone_cr_ = false;
  std::size_t corners_ = 0;
  geometry::Triangle facet_{};
};

std::string read_ascii(int fd, std::uint64_t size, ModelRead& model, const ReadProgress& progress) {
  // An upper bound on the facets (no facet takes fewer than about 100
  // bytes): the table's pages are only touched as it fills.
  model.facets.reserve(static_cast<std::size_t>(size / 96 + 1));
  model.facet_lines.reserve(static_cast<std::size_t>(size / 96 + 1));
  AsciiParser parser(model);
  // A line that runs over the end of a block is moved to the block's start
  // before the next read, so each block has room for LONGEST_LINE more.
  // A file smaller than a block gets a block its size: a small model costs
  // no memory it does not fill.
  const auto block_bytes = static_cast<std::size_t>(std::min<std::uint64_t>(BLOCK_BYTES, size + 1));
  std::unique_ptr<char[]> block(new char[block_bytes + LONGEST_LINE]);
  std::size_t kept = 0;  // bytes of an unfinished line at the block's start
  std::uint64_t read_so_far = 0;
  std::uint64_t reported = 0;
  for (;;) {
    ssize_t got = 0;
    do {
      got = ::read(fd, block.get() + kept, block_bytes);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return read_failure("cannot read");
    read_so_far += static_cast<std::uint64_t>(got);
    const bool at_end = got == 0;
    const std::size_t filled = kept + static_cast<std::size_t>(got);
    std::size_t start = 0;
    for (;;) {
      const auto* feed =
          static_cast<const char*>(std::memchr(block.get() + start, '\n', filled - start));
      if (feed == nullptr) break;
      const auto end = static_cast<std::size_t>(feed - block.get());
      if (end - start > LONGEST_LINE) {
        return "line " + std::to_string(parser.line_number() + 1) + ": longer than " +
               std::to_string(LONGEST_LINE) + " characters";
      }
      if (std::string problem = parser.take_line({block.get() + start, end - start});
          !problem.empty()) {
        return problem;
      }
      start = end + 1;
    }
    kept = filled - start;
    if (kept > LONGEST_LINE) {
      if (parser.line_number() == 0) parser.note_first_line({block.get() + start, kept});
      if (parser.lone_cr()) return AsciiParser::lone_cr_problem();
      return "line " + std::to_string(parser.line_number() + 1) + ": longer than " +
             std::to_string(LONGEST_LINE) + " characters";
    }
    if (at_end) {
      // A last line without a line end is a line all the same.
      if (kept > 0) {
        if (std::string problem = parser.take_line({block.get() + start, kept}); !problem.empty()) {
          return problem;
        }
      }
      break;
    }
    std::memmove(block.get(), block.get() + start, kept);
    if (progress && read_so_far - reported >= PROGRESS_STEP) {
      progress(read_so_far, size);
      reported = read_so_far;
    }
  }
  if (read_so_far != size) {
    return "cannot read: the file changed size while it was read";
  }
  return parser.finish();
}

}  // namespace

bool is_binary_stl(std::uint64_t size, std::string_view count_bytes) {
  if (size < BINARY_HEADER_BYTES || count_bytes.size() != 4) return false;
  const std::uint64_t count = little_endian_u32(count_bytes.data());
  return size == BINARY_HEADER_BYTES + BINARY_RECORD_BYTES * count;
}

std::string read_model(int fd, std::uint64_t size, ModelRead& model, const ReadProgress& progress) {
  model.facets.clear();
  model.facet_lines.clear();
  if (size == 0) return "the file is empty";
  std::array<char, 4> count_bytes{};
  bool binary = false;
  if (size >= BINARY_HEADER_BYTES) {
    std::size_t done = 0;
    while (done < count_bytes.size()) {
      const ssize_t got = ::pread(fd, count_bytes.data() + done, count_bytes.size() - done,
                                  static_cast<off_t>(80 + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return read_failure("cannot read");
      done += static_cast<std::size_t>(got);
    }
    binary = is_binary_stl(size, {count_bytes.data(), count_bytes.size()});
  }
  try {
    model.format = binary ? ModelFormat::binary : ModelFormat::ascii;
    return binary ? read_binary(fd, size, model, progress) : read_ascii(fd, size, model, progress);
  } catch (const std::bad_alloc&) {
    model.facets = {};
    model.facet_lines = {};
    return "not enough memory to hold the model";
  }
}

}  // namespace reading
