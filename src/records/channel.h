// Channels: the open text streams of a run, each owning its file descriptor.
//
// Channel 5 reads "STL_Model.stl"; channels 6 and 8 write "input.dat" and
// "input.plt"; the console channel writes the process's standard output and
// the error channel its standard error. Output is collected in one large
// block per channel and handed to the system in few writes.
//
// An output file is opened without truncation and cut right after the first
// record written to it in this run, so a run that ends before writing keeps
// the file exactly as it was.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

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

inline constexpr std::string_view RECORD_TERMINATOR = "\r\n";

// Outcome of reading one input line.
enum class ReadOutcome { line, end_of_input, failure };

class Channel {
 public:
  Channel(int unit, int fd, std::string path, OutputMode mode, bool owns_fd);
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  ~Channel();

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }
  OutputMode mode() const { return mode_; }

  // --- output ---
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
      any_record_ = true;
      return;
    }
    end_shown_record(length);
  }
  void write_record(std::string_view text);
  // Hands pending output to the system; ends the run with a severe report
  // when the system refuses it.
  void flush();
  // Writes what is pending, owes no line feed, and closes the descriptor.
  // Returns 0 or the report number of the failure.
  int close();
  // On a console: writes the line feed still owed to the last line shown,
  // so that whatever appears next (a report on the same terminal) starts a
  // line of its own. The channel owes nothing afterwards.
  void end_shown_line();

  // --- input ---
  // Reads the next line; on success `first` holds at most `keep` characters
  // of it (the carriage return before the line feed dropped). The view stays
  // valid until the next read.
  ReadOutcome read_line(std::string_view& first, std::size_t keep);

 private:
  char* make_record_space(std::size_t max_length);
  void end_shown_record(std::size_t length);
  int write_all(const char* data, std::size_t size);
  bool refill();

  int unit_;
  int fd_;
  std::string path_;
  OutputMode mode_;
  bool owns_fd_;
  bool regular_file_ = false;  // a file of the run's own, cut after its first write
  bool block_file_ = false;    // plain records collected in blocks (not the console)
  bool any_record_ = false;    // a record was written in this run
  bool cut_done_ = false;      // the old tail of the file has been cut
  bool line_pending_ = false;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // input: next unread byte; output: unused
  std::size_t end_ = 0;    // input: end of data; output: bytes pending
  unsigned long long written_ = 0;
  bool reading_ = false;  // an input channel: its buffer holds unread input
  bool input_ended_ = false;
  char head_[128] = {};  // input: start of a line that spans two blocks
};

// Binds channel 5 to a file that must exist (file-not-found report 29 when
// it or its directory does not exist).
Channel& bind_input(int unit, std::string_view name);
// Binds an output channel to a file created empty if absent and otherwise
// opened without truncation.
Channel& bind_output(int unit, std::string_view name);
// Puts an open channel into the channel table under its unit; the binding
// functions above end with it.
Channel& install_channel(std::unique_ptr<Channel> channel);
// The console channel, bound at its first use.
Channel& console();
// The error channel (standard error), bound at its first use.
Channel& error_channel();
// Channel by unit, or nullptr when not bound.
Channel* find_channel(int unit);

// Closes every bound channel in turn (5, 6, 8, console, error). A failure
// while closing ends the run with a severe report for that channel, and the
// channels are not closed a second time.
void close_all_channels();

// Forgets every channel, closed or not, so that a harness can start another
// run in the same process.
void reset_channels();

// The absolute path of a name in the current directory, when it fits in 256
// characters; otherwise the name itself (blanks around it removed).
std::string recorded_path(std::string_view name);

}  // namespace records
