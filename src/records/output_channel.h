// An output channel: a file, the console or standard error, written record
// by record.
//
// File records are collected in one large block and handed to the system
// in few writes. An output file is opened without truncation; the old
// content is cut off just before the first block of this run is written,
// so a run that ends before writing keeps the file exactly as it was, and a
// file never holds new records followed by old ones.
//
// A channel reports its first failure and never ends the run: the record
// writes (which must stay cheap) keep it, and every write after it is
// dropped, so that the file holds nothing after the failure; flush,
// write_records and close return it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "format/record_chunk.h"
#include "records/status.h"

namespace records {

inline constexpr int STL_UNIT = 5;
inline constexpr int SOLVER_UNIT = 6;
inline constexpr int MESH_VIEW_UNIT = 8;
inline constexpr int CONSOLE_UNIT = -1;
inline constexpr int ERROR_UNIT = -2;

// How records reach the device: plain records end with CR LF; on a character
// device (an interactive console) the first character of each record is a
// line-spacing control that is not shown, and the line feed that ends a line
// is owed until the next line or the closing of the channel.
enum class OutputMode { plain, control_column };

using format::RECORD_TERMINATOR;

class OutputChannel {
 public:
  // Writes on fd; closes it at the end only when it owns it. path names the
  // file in reports.
  OutputChannel(int unit, int fd, std::string path, OutputMode mode, bool owns_fd);
  OutputChannel(const OutputChannel&) = delete;
  OutputChannel& operator=(const OutputChannel&) = delete;
  ~OutputChannel();

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }
  int descriptor() const { return fd_; }

  // Takes the channel's block now, so that no later write needs memory;
  // false when the system refuses it.
  [[nodiscard]] bool reserve_block();

  // Room for a record of at most max_length characters; the caller writes
  // the record there and then calls end_record with its length. The common
  // case, a file record that fits the current block, stays inline.
  char* record_space(std::size_t max_length) {
    if (block_file_ && capacity_ - end_ >= max_length + RECORD_TERMINATOR.size()) {
      return buffer_.get() + end_;
    }
    return make_record_space(max_length);
  }
  void end_record(std::size_t length) {
    if (block_file_) {
      end_ += length;
      buffer_[end_] = RECORD_TERMINATOR[0];
      buffer_[end_ + 1] = RECORD_TERMINATOR[1];
      end_ += RECORD_TERMINATOR.size();
      return;
    }
    end_shown_record(length);
  }
  void write_record(std::string_view text);
  // Writes whole records, terminators included, after the records pending;
  // false when the channel has failed (status() tells how). A file channel
  // only. It takes no memory, so a worker may call it while the channel is
  // its alone.
  [[nodiscard]] bool write_records(std::string_view records);
  // Hands pending output to the system.
  [[nodiscard]] Status flush();
  // The first failure of the channel so far (Report::none when none).
  [[nodiscard]] Status status() const;
  // Writes what is pending, owes no line feed, and closes the descriptor;
  // the channel's first failure, or that of the close.
  [[nodiscard]] Status close();
  // On a console: writes the line feed still owed to the last line shown,
  // so that whatever appears next (a report on the same terminal) starts a
  // line of its own. The channel owes nothing afterwards.
  void end_shown_line();

 private:
  char* make_record_space(std::size_t max_length);
  void end_shown_record(std::size_t length);
  // Writes the bytes, or nothing once the channel has failed; keeps the
  // first failure.
  Report write_all(const char* data, std::size_t size);
  Report write_pending();

  int unit_;
  int fd_;
  std::string path_;
  OutputMode mode_;
  bool owns_fd_;
  bool regular_file_ = false;  // a file of the run's own, cut before its first write
  bool block_file_ = false;    // plain records collected in blocks (not the console)
  bool written_ = false;       // a byte was written in this run
  bool line_pending_ = false;
  Report failure_ = Report::none;  // the first failure; nothing is written after it
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t end_ = 0;  // bytes pending
};

}  // namespace records
