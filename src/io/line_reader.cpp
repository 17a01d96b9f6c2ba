#include "io/line_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "numeric/short_copy.h"

namespace io {
namespace {

// The file is read in blocks of this size: large enough that system calls
// cost nothing next to the scan, small enough to stay in the cache.
constexpr std::size_t INPUT_BLOCK = std::size_t{1} << 20;

// A regular file smaller than a block gets a block of its size and a byte
// more, so that one read takes it all and the next sees its end: a small
// model costs little memory and no time for a block it does not fill.
std::size_t block_bytes_for(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= 0 &&
      static_cast<std::uint64_t>(status.st_size) < INPUT_BLOCK) {
    return static_cast<std::size_t>(status.st_size) + 1;
  }
  return INPUT_BLOCK;
}

// A line that spans two blocks is gathered in a string; its kept head
// grows to at most this before any growth needs the allocator (the
// converter keeps 80 characters of a line at most).
constexpr std::size_t SHORT_HEAD = 128;

// Takes the characters of a line from `position` on (0-based) into its
// shape. Each search stops at its first find, so a long line is looked at
// once at most, piece by piece, and usually not beyond its start.
template <LineReader::Shape wanted>
void take_into_shape(LineShape& shape, std::string_view piece, std::size_t position,
                     std::size_t keep) {
  const char* const begin = piece.data();
  const char* const end = begin + piece.size();
  if (!shape.text_after_kept && position + piece.size() > keep) {
    const char* at = begin + (keep > position ? keep - position : 0);
    while (at != end && *at == ' ') ++at;
    shape.text_after_kept = at != end;
  }
  if constexpr (wanted == LineReader::Shape::whole) {
    for (const char* at = begin; !shape.has_text && at != end; ++at) {
      shape.has_text = *at != ' ' && *at != '\t' && *at != '\r';
    }
    if (shape.word_length < LineShape::WORD_LENGTH) {
      const char* at = begin;
      if (shape.word_length == 0) {
        // Still among the leading blanks and tabs.
        while (at != end && (*at == ' ' || *at == '\t')) ++at;
      }
      const std::size_t count =
          std::min(LineShape::WORD_LENGTH - shape.word_length, static_cast<std::size_t>(end - at));
      numeric::copy_short(shape.word.data() + shape.word_length, at, count);
      shape.word_length += count;
    }
  }
}

}  // namespace

LineReader::LineReader(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
  spanning_.reserve(SHORT_HEAD);
}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

void LineReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Outcome LineReader::reserve_block() {
  if (!buffer_) {
    block_bytes_ = block_bytes_for(fd_);
    buffer_.reset(new (std::nothrow) char[block_bytes_]);
  }
  if (buffer_ == nullptr) {
    failure_ = Failure{"cannot take memory to read", path_, ENOMEM};
    return failure_;
  }
  return {};
}

ReadOutcome LineReader::line_out_of_memory() {
  failure_ = Failure{"cannot take memory for a line of", path_, ENOMEM};
  return ReadOutcome::failure;
}

bool LineReader::refill() {
  if (!reserve_block().ok()) return false;
  begin_ = 0;
  end_ = 0;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get(), block_bytes_);
    if (got < 0) {
      if (errno == EINTR) continue;
      failure_ = system_failure("cannot read", path_);
      return false;
    }
    if (got == 0) input_ended_ = true;
    end_ = static_cast<std::size_t>(got);
    return true;
  }
}

ReadOutcome LineReader::read_line(std::string_view& first, std::size_t keep) {
  return read_line_as<Shape::none>(first, keep, nullptr);
}

ReadOutcome LineReader::read_line(std::string_view& first, std::size_t keep,
                                  bool& text_after_kept) {
  // Only the flag of the shape is set; building a whole shape for every
  // line would cost more than the rest of its reading.
  vertex_shape_.text_after_kept = false;
  const ReadOutcome outcome = read_line_as<Shape::text_after_kept>(first, keep, &vertex_shape_);
  text_after_kept = vertex_shape_.text_after_kept;
  return outcome;
}

ReadOutcome LineReader::read_line(std::string_view& first, std::size_t keep, LineShape& shape) {
  // The word's characters beyond its length are never read.
  shape.text_after_kept = false;
  shape.has_text = false;
  shape.word_length = 0;
  return read_line_as<Shape::whole>(first, keep, &shape);
}

template <LineReader::Shape wanted>
ReadOutcome LineReader::read_line_as(std::string_view& first, std::size_t keep, LineShape* shape) {
  bool spans = false;    // this line began in an earlier block
  char last_seen = 0;    // the last byte of this line in earlier blocks
  std::size_t seen = 0;  // bytes of this line in earlier blocks
  // The shape's view of a line that spans blocks: how much of it has been
  // taken, and whether a carriage return ending the last piece is held
  // back, since it is no part of the line when a line feed follows it.
  std::size_t shaped = 0;
  bool held_return = false;
  const auto take = [&](std::string_view piece) {
    if constexpr (wanted != Shape::none) {
      take_into_shape<wanted>(*shape, piece, shaped, keep);
      shaped += piece.size();
    }
  };
  spanning_.clear();
  for (;;) {
    if (begin_ < end_) {
      char* start = buffer_.get() + begin_;
      const std::size_t available = end_ - begin_;
      const auto* feed = static_cast<const char*>(std::memchr(start, '\n', available));
      if (feed != nullptr) {
        std::size_t length = static_cast<std::size_t>(feed - start);
        begin_ += length + 1;
        if (!spans) {
          // The common case: the whole line lies in this block.
          if (length > 0 && start[length - 1] == '\r') --length;
          first = std::string_view(start, std::min(length, keep));
          take(std::string_view(start, length));
          return ReadOutcome::line;
        }
        // A carriage return just before the line feed may have ended the
        // previous block.
        const char last = length > 0 ? start[length - 1] : last_seen;
        const std::size_t total = seen + length - (last == '\r' ? 1 : 0);
        try {
          spanning_.append(start, std::min(keep - spanning_.size(), length));
        } catch (const std::bad_alloc&) {
          return line_out_of_memory();
        }
        first = std::string_view(spanning_.data(), std::min(total, keep));
        if constexpr (wanted != Shape::none) {
          if (length > 0) {
            if (held_return) take("\r");
            take(std::string_view(start, length - (last == '\r' ? 1 : 0)));
          }
        }
        return ReadOutcome::line;
      }
      // The line goes on in the next block: keep its start only.
      try {
        spanning_.append(start, std::min(keep - spanning_.size(), available));
      } catch (const std::bad_alloc&) {
        return line_out_of_memory();
      }
      if constexpr (wanted != Shape::none) {
        if (held_return) take("\r");
        held_return = start[available - 1] == '\r';
        take(std::string_view(start, available - (held_return ? 1 : 0)));
      }
      spans = true;
      seen += available;
      last_seen = start[available - 1];
      begin_ = end_;
    }
    // Bytes after the last line feed do not form a line.
    if (input_ended_) return ReadOutcome::end_of_input;
    if (!refill()) return ReadOutcome::failure;
  }
}

}  // namespace io
