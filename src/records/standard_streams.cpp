#include "records/standard_streams.h"

#include <unistd.h>

namespace records {
namespace {

bool writes_into(int fd, const struct stat& file) {
  struct stat stream {};
  return S_ISREG(file.st_mode) && ::fstat(fd, &stream) == 0 && S_ISREG(stream.st_mode) &&
         stream.st_dev == file.st_dev && stream.st_ino == file.st_ino;
}

}  // namespace

StreamsInto standard_streams_into(const struct stat& file) {
  return {writes_into(STDOUT_FILENO, file), writes_into(STDERR_FILENO, file)};
}

}  // namespace records
