#include "io/failure.h"

#include <cerrno>
#include <cstring>

namespace io {

std::string Failure::message() const {
  std::string line = what;
  if (!path.empty()) {
    line += ' ';
    line += path;
  }
  if (!detail.empty()) {
    line += ": ";
    line += detail;
  } else if (error != 0) {
    line += ": ";
    line += std::strerror(error);
  }
  return line;
}

Failure system_failure(std::string what, std::string path) {
  int error = errno;
  return Failure{std::move(what), std::move(path), error, {}};
}

}  // namespace io
