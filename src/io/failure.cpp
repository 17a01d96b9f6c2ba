#include "io/failure.h"

#include <cerrno>
#include <cstring>

namespace io {

std::string Failure::reason() const {
  if (!detail.empty()) return detail;
  return error != 0 ? std::strerror(error) : std::string();
}

std::string Failure::message() const {
  std::string line = what;
  if (!path.empty()) {
    line += ' ';
    line += path;
  }
  if (const std::string why = reason(); !why.empty()) {
    line += ": ";
    line += why;
  }
  return line;
}

Failure system_failure(std::string what, std::string path) {
  int error = errno;
  return Failure{std::move(what), std::move(path), error, {}};
}

}  // namespace io
