#include "deck/deck_command.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "deck/deck_report.h"
#include "io/input_file.h"
#include "io/standard_error.h"

namespace deck {
namespace {

using companion::ExitStatus;

CommandOutcome failed(std::string reason) { return {ExitStatus::unusable, {}, std::move(reason)}; }

std::string system_reason() { return std::strerror(errno); }

// An open file that closes itself.
class File {
 public:
  explicit File(int fd) : fd_(fd) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Opens a regular file. A pipe or a device is refused before it is opened
// (opening a pipe without a writer waits for one) and again after, in case
// the name changed between. Returns -1 with `problem` set otherwise.
int open_regular(const std::string& path, int flags, std::string& problem) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    problem = path + (S_ISDIR(status.st_mode) ? ": it is a folder" : ": not a regular file");
    return -1;
  }
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    problem = errno == ELOOP && (flags & O_NOFOLLOW) != 0
                  ? path + ": a symbolic link; name the deck itself"
                  : path + ": " + system_reason();
    return -1;
  }
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    problem = path + ": not a regular file";
    ::close(fd);
    return -1;
  }
  return fd;
}

// Takes the lock the converter takes on its outputs (exclusive to write,
// shared to read), waiting for a conversion that holds it and saying so.
void take_lock(int fd, int kind, const std::string& path) {
  if (::flock(fd, kind | LOCK_NB) == 0) return;
  if (errno == EWOULDBLOCK) {
    io::write_to_standard_error("stldeck-deck: waiting for another run to release " + path + "\n");
  }
  while (::flock(fd, kind) != 0 && errno == EINTR) {
  }
}

// Fills `into` from `offset`; empty, or why the file could not be read.
std::string read_bytes(int fd, std::span<char> into, std::uint64_t offset) {
  const io::Outcome got = io::read_at(fd, offset, into, {});
  return got.ok() ? std::string() : got.failure().reason();
}

// The head, the size against the counts, the element heading and the end
// record: what can be verified without reading the sections. Fills
// `facts` and returns false when the deck is not whole (facts.problem).
bool verify_frame(int fd, std::uint64_t size, std::array<char, HEAD_BYTES>& head_bytes,
                  DeckFacts& facts) {
  facts.size = size;
  const auto available = static_cast<std::size_t>(std::min<std::uint64_t>(size, HEAD_BYTES));
  if (const std::string why = read_bytes(fd, std::span(head_bytes.data(), available), 0);
      !why.empty()) {
    facts.problem = "cannot be read: " + why;
    return false;
  }
  const HeadReading reading = read_head(std::span<const char>(head_bytes.data(), available));
  if (!reading.problem.empty()) {
    facts.problem = reading.problem;
    return false;
  }
  facts.head_read = true;
  facts.head = reading.head;
  const auto elements = static_cast<std::uint64_t>(reading.head.elements);
  const std::uint64_t expected = deck_bytes(elements);
  std::array<char, END_RECORD_BYTES> end{};
  if (size >= HEAD_BYTES + END_RECORD_BYTES) {
    if (const std::string why = read_bytes(fd, end, size - END_RECORD_BYTES); !why.empty()) {
      facts.problem = "cannot be read: " + why;
      return false;
    }
    facts.end_record = std::string_view(end.data(), end.size()) == " $ End of the File\r\n";
  } else {
    facts.end_record = false;
  }
  if (size != expected) {
    facts.problem = std::to_string(size) + " bytes where " + std::to_string(elements) +
                    " elements make " + std::to_string(expected) + " (998 + 330 m)" +
                    (size < expected ? ": cut short" : "") +
                    (*facts.end_record ? "" : ", and no end record");
    return false;
  }
  if (!*facts.end_record) {
    facts.problem = "the last record is not the end record ' $ End of the File'";
    return false;
  }
  std::array<char, ELEMENTS_HEADING_BYTES> heading{};
  if (const std::string why = read_bytes(
          fd, heading, elements_heading_offset(static_cast<std::uint64_t>(reading.head.nodes)));
      !why.empty()) {
    facts.problem = "cannot be read: " + why;
    return false;
  }
  if (std::string_view(heading.data(), heading.size()) !=
      " $ Elements and Boundary Conditions:\r\n") {
    facts.problem = "line " + std::to_string(reading.head.nodes + 11) +
                    " is not the heading of the element section";
    return false;
  }
  return true;
}

// The view beside the deck: input.plt in the deck's folder.
std::string view_beside(const std::string& deck_path) {
  const std::filesystem::path folder = std::filesystem::path(deck_path).parent_path();
  return (folder / "input.plt").string();
}

// Compares the view's header and size with the deck's counts; a problem
// is a finding about the view.
std::string check_view_frame(int fd, std::uint64_t size, const DeckHead& head) {
  const std::string expected = view_header(head.nodes, head.elements);
  std::string header(expected.size(), '\0');
  const auto available = static_cast<std::size_t>(std::min<std::uint64_t>(size, header.size()));
  if (const std::string why = read_bytes(fd, std::span(header.data(), available), 0);
      !why.empty()) {
    return "cannot be read: " + why;
  }
  header.resize(available);
  if (header != expected) {
    const std::size_t zone = header.find("N=");
    return zone == std::string::npos
               ? "is not a mesh view as stldeck writes it"
               : "is of another model or not as stldeck writes it (its zone header reads '" +
                     header.substr(header.find(" ZONE"), 48) +
                     "'; the deck has N=" + std::to_string(head.nodes) +
                     ", E=" + std::to_string(head.elements) + ")";
  }
  const std::uint64_t wanted = view_bytes(static_cast<std::uint64_t>(head.elements));
  if (size != wanted) {
    return "has " + std::to_string(size) + " bytes where the deck's model makes " +
           std::to_string(wanted) + (size < wanted ? ": cut short" : "");
  }
  std::array<char, 3> separator{};
  if (const std::string why =
          read_bytes(fd, separator, 176 + 47 * static_cast<std::uint64_t>(head.nodes));
      !why.empty()) {
    return "cannot be read: " + why;
  }
  if (std::string_view(separator.data(), 3) != " \r\n") {
    return "lacks the blank record between its node and element lines";
  }
  return {};
}

}  // namespace

CommandOutcome verify_deck(const DeckOptions& options, int threads) {
  std::string problem;
  const int deck_fd = open_regular(options.path, O_RDONLY, problem);
  if (deck_fd < 0) return failed("cannot read " + problem);
  const File deck(deck_fd);
  take_lock(deck_fd, LOCK_SH, options.path);
  struct stat status {};
  if (::fstat(deck_fd, &status) != 0)
    return failed("cannot read " + options.path + ": " + system_reason());

  DeckFacts facts;
  facts.elements_per_wavelength_wanted = options.elements_per_wavelength;
  std::array<char, HEAD_BYTES> head_bytes{};
  const bool framed =
      verify_frame(deck_fd, static_cast<std::uint64_t>(status.st_size), head_bytes, facts);

  // The view: the one named, which must be readable, or the one beside the
  // deck when there is one.
  std::string view_path = options.view_given ? options.view_path : view_beside(options.path);
  int view_fd = -1;
  std::string view_problem;
  if (options.view_given || ::access(view_path.c_str(), F_OK) == 0) {
    view_fd = open_regular(view_path, O_RDONLY, view_problem);
    if (view_fd < 0 && options.view_given) return failed("cannot read the view " + view_problem);
  }
  const File view(view_fd);
  if (view_fd >= 0) {
    facts.view_path = view_path;
    if (struct stat view_status{}; ::fstat(view_fd, &view_status) == 0 &&
                                   view_status.st_dev == status.st_dev &&
                                   view_status.st_ino == status.st_ino) {
      return failed("the view " + view_path + " is the deck itself: name another file");
    }
    take_lock(view_fd, LOCK_SH, view_path);
  } else if (!view_problem.empty()) {
    facts.view_path = view_path;
    facts.view_problem = "cannot be read: " + view_problem;
  }

  if (framed) {
    int body_view_fd = -1;
    if (view_fd >= 0) {
      struct stat view_status {};
      if (::fstat(view_fd, &view_status) != 0) {
        facts.view_problem = "cannot be read: " + system_reason();
      } else {
        facts.view_problem =
            check_view_frame(view_fd, static_cast<std::uint64_t>(view_status.st_size), facts.head);
      }
      if (facts.view_problem.empty()) body_view_fd = view_fd;
    }
    facts.body = read_body(deck_fd, body_view_fd, facts.head.elements, threads);
    if (!facts.body.problem.empty()) {
      facts.problem = facts.body.problem;
    } else {
      facts.body_read = true;
      if (body_view_fd >= 0) facts.view_problem = facts.body.view_problem;
    }
  }
  const Verdict verdict = judge_deck(facts);
  return {verdict.status,
          options.json ? render_json(options.path, facts, verdict)
                       : render_summary(options.path, facts, verdict),
          {}};
}

CommandOutcome set_deck(const DeckOptions& options) {
  std::string problem;
  // The deck is changed where it lies, so a link is refused rather than
  // followed to a file that may not be a deck of this folder.
  const int fd = open_regular(options.path, O_RDWR | O_NOFOLLOW, problem);
  if (fd < 0) return failed("cannot open " + problem);
  const File deck(fd);
  take_lock(fd, LOCK_EX, options.path);
  // Once locked, the name must still lead to this file: a conversion that
  // held the lock may have replaced it.
  struct stat locked {};
  struct stat named {};
  if (::fstat(fd, &locked) != 0 || ::lstat(options.path.c_str(), &named) != 0 ||
      named.st_dev != locked.st_dev || named.st_ino != locked.st_ino) {
    return failed(options.path + " was replaced while this run waited for it: run it again");
  }
  DeckFacts facts;
  std::array<char, HEAD_BYTES> head_bytes{};
  if (!verify_frame(fd, static_cast<std::uint64_t>(locked.st_size), head_bytes, facts)) {
    return failed("refused to set " + options.path + ", not a whole deck: " + facts.problem);
  }
  const DeckHead before = facts.head;
  std::array<char, HEAD_BYTES> changed = head_bytes;
  if (std::string refusal = apply_settings(options.settings, changed); !refusal.empty()) {
    return failed("refused to set " + options.path + ": " + refusal);
  }
  // Records 7 and 8 (and 2) lie in the deck's first page and are written
  // with one write: the system copies a page into its cache whole or not
  // at all, so a run killed at any moment leaves the old records or the
  // new ones, and a solver never reads a mix.
  const ByteRange range = changed_range(options.settings);
  static_assert(HEAD_BYTES <= 4096);
  const std::size_t length = range.end - range.first;
  ssize_t written = -1;
  do {
    written = ::pwrite(fd, changed.data() + range.first, length, static_cast<off_t>(range.first));
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(length)) {
    return failed("cannot write " + options.path + ": " +
                  (written < 0 ? system_reason() : std::string("the write was cut short")));
  }
  // The page to the disk, without waiting for the rest of a deck the
  // converter may just have written. A file system that cannot do this for
  // one range (EINVAL, ENOSYS) writes the page back in its own time; a
  // failed write-back is reported, for the disk may then hold the old page.
  if (::sync_file_range(
          fd, 0, static_cast<off_t>(HEAD_BYTES),
          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0 &&
      errno != EINVAL && errno != ENOSYS && errno != ESPIPE) {
    return failed("the new records of " + options.path +
                  " were written but may not reach the disk: " + system_reason());
  }
  const DeckHead after = read_head(changed).head;
  return {ExitStatus::ready,
          options.json ? render_set_json(options.path, before, after)
                       : render_set_summary(options.path, before, after),
          {}};
}

}  // namespace deck
