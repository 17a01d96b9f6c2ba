// What went wrong in an operation of the shared I/O layer, as a value: the
// step that failed, the file it concerns and the system's reason. Nothing
// in the layer throws or ends the process; the caller decides what a
// failure means, and only a program's main turns it into an exit status.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace io {

struct Failure {
  // Written out so that a failure is made from its first fields alone
  // (`Failure{"cannot write", path, errno}`), the detail left empty.
  Failure(std::string what_ = {}, std::string path_ = {}, int error_ = 0, std::string detail_ = {})
      : what(std::move(what_)), path(std::move(path_)), error(error_), detail(std::move(detail_)) {}

  // The step, as a phrase that reads before the path: "cannot write",
  // "cannot open", "file too large".
  std::string what;
  // The file it concerns; empty when it concerns none.
  std::string path;
  // The system's error number (errno); 0 when the system gave no reason.
  int error = 0;
  // The reason in words, said instead of the system's when the refusal is
  // the layer's own ("it is a folder"); empty otherwise.
  std::string detail;

  // One line for people: "cannot write out.stl: No space left on device",
  // "cannot write v.plt: it is a folder".
  // The path is written as it is; a program escapes the whole line for a
  // terminal where it must.
  std::string message() const;
  // The reason alone: the detail, else the system's words for the error
  // number; empty when there is neither.
  std::string reason() const;
};

// The failure of a system call that set errno just now.
Failure system_failure(std::string what, std::string path);

// An operation's outcome: success, or the one failure that stopped it.
class [[nodiscard]] Outcome {
 public:
  Outcome() = default;
  Outcome(Failure failure) : failure_(std::move(failure)) {}  // NOLINT: implicit by design

  bool ok() const { return !failure_.has_value(); }
  // Valid only when !ok().
  const Failure& failure() const { return *failure_; }

 private:
  std::optional<Failure> failure_;
};

}  // namespace io
