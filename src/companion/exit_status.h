// How a companion command ends, as one type: its main turns the value into
// the process's exit status, and nothing else does.
#pragma once

namespace companion {

enum class ExitStatus : int {
  ready = 0,     // the file is what the solver needs
  findings = 1,  // usable, but something should be done first
  // A usage error, a file that cannot be read or written or is not what it
  // should be, or too little memory: nothing was written.
  unusable = 2,
};

constexpr int exit_code(ExitStatus status) { return static_cast<int>(status); }

}  // namespace companion
