#include "prepare/model_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "prepare/coordinate_text.h"

namespace prepare {
namespace {

constexpr std::size_t BUFFER_BYTES = std::size_t{4} << 20;
// One facet's text stays well below this.
constexpr std::size_t FACET_ROOM = 1024;

constexpr std::string_view SOLID_LINE = "solid model\n";
constexpr std::string_view END_LINE = "endsolid model\n";

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The temporary name of a run's new file beside `path`: path.prepare-PID-N,
// so that a later run can tell a file that a run now gone left behind.
std::string temporary_name(const std::string& path, int attempt) {
  return path + ".prepare-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
}

// Removes the files a killed run left beside `path`: names of the form
// above whose process no longer exists. A live run's file, or a name of any
// other form, is left alone.
void remove_leftovers(const std::string& folder, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + ".prepare-";
  DIR* const directory = ::opendir(folder.c_str());
  if (directory == nullptr) return;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix)) continue;
    const std::string_view rest = name.substr(prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size() ||
        rest.find_first_not_of("0123456789-") != std::string_view::npos ||
        rest.find('-', dash + 1) != std::string_view::npos || dash > 9) {
      continue;
    }
    const pid_t pid = static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
    if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
      ::unlinkat(::dirfd(directory), entry->d_name, 0);
    }
  }
  ::closedir(directory);
}

char* append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

std::string find_output_target(const std::string& name, OutputTarget& target) {
  target = OutputTarget{};
  target.path = name;
  struct stat link_status {};
  if (::lstat(name.c_str(), &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(name.c_str(), resolved) == nullptr) {
      return "cannot write " + name + ": it is a symbolic link to a file that does not exist";
    }
    target.path = resolved;
  }
  target.folder = folder_of(target.path);
  if (::stat(target.path.c_str(), &target.status) == 0) {
    target.exists = true;
    if (S_ISDIR(target.status.st_mode)) return "cannot write " + name + ": it is a folder";
    if (!S_ISREG(target.status.st_mode)) {
      return "cannot write " + name + ": not a regular file";
    }
  } else if (errno != ENOENT) {
    return "cannot write " + name + ": " + std::strerror(errno);
  }
  struct stat folder_status {};
  if (::stat(target.folder.c_str(), &folder_status) != 0) {
    return "cannot write " + name + ": folder " + target.folder + ": " + std::strerror(errno);
  }
  if (!S_ISDIR(folder_status.st_mode)) {
    return "cannot write " + name + ": " + target.folder + " is not a folder";
  }
  return {};
}

bool is_same_file(const OutputTarget& target, const struct stat& input) {
  return target.exists && target.status.st_dev == input.st_dev &&
         target.status.st_ino == input.st_ino;
}

ModelWriter::ModelWriter() : buffer_(new char[BUFFER_BYTES]) {}

ModelWriter::~ModelWriter() { discard(); }

void ModelWriter::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_path_.empty()) ::unlink(temporary_path_.c_str());
  temporary_path_.clear();
}

std::string ModelWriter::failure(const std::string& what, int error) {
  discard();
  return what + ": " + std::strerror(error);
}

std::string ModelWriter::open(const OutputTarget& target) {
  discard();
  target_ = target;
  // A replaced file keeps its permissions; a new one gets the usual ones.
  mode_t mode = 0;
  if (target.exists) {
    mode = target.status.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  remove_leftovers(target.folder, target.path);
  // A nameless file disappears by itself when the run is killed.
  fd_ = ::open(target.folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
      return failure("cannot create a file in " + target.folder, errno);
    }
    for (int attempt = 0; fd_ < 0; ++attempt) {
      const std::string name = temporary_name(target.path, attempt);
      fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd_ >= 0) temporary_path_ = name;
      if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
        return failure("cannot create a file in " + target.folder, errno);
      }
    }
  }
  if (::fchmod(fd_, mode) != 0) return failure("cannot set the permissions", errno);
  finished_ = false;
  used_ = 0;
  char* out = append(buffer_.get(), SOLID_LINE);
  used_ = static_cast<std::size_t>(out - buffer_.get());
  return {};
}

std::string ModelWriter::flush() {
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t wrote = ::write(fd_, buffer_.get() + done, used_ - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      return failure("cannot write " + target_.path, wrote == 0 ? ENOSPC : errno);
    }
    done += static_cast<std::size_t>(wrote);
  }
  used_ = 0;
  return {};
}

std::string ModelWriter::add_facet(const geometry::Triangle& facet) {
  if (fd_ < 0) return "cannot write " + target_.path + ": the file is not open";
  if (BUFFER_BYTES - used_ < FACET_ROOM) {
    if (std::string problem = flush(); !problem.empty()) return problem;
  }
  char* out = buffer_.get() + used_;
  out = append(out, "  facet normal");
  for (const double component : geometry::unit_normal(facet)) {
    *out++ = ' ';
    out += render_normal_component(component, out);
  }
  out = append(out, "\n  outer loop\n");
  for (const geometry::Point& corner : facet) {
    out = append(out, "  vertex");
    for (const double value : corner) {
      *out++ = ' ';
      out += render_coordinate(value, out);
    }
    *out++ = '\n';
  }
  out = append(out, "  endloop\n  endfacet\n");
  used_ = static_cast<std::size_t>(out - buffer_.get());
  return {};
}

std::string ModelWriter::finish() {
  if (fd_ < 0) return "cannot write " + target_.path + ": the file is not open";
  used_ = static_cast<std::size_t>(append(buffer_.get() + used_, END_LINE) - buffer_.get());
  if (std::string problem = flush(); !problem.empty()) return problem;
  if (::fsync(fd_) != 0) return failure("cannot write " + target_.path, errno);
  finished_ = true;
  return {};
}

std::string ModelWriter::commit() {
  if (fd_ < 0 || !finished_) return "cannot write " + target_.path + ": the file is not finished";
  if (temporary_path_.empty()) {
    // The nameless file gets a temporary name beside the target, then the
    // target's name in one step.
    const std::string descriptor = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0;; ++attempt) {
      const std::string name = temporary_name(target_.path, attempt);
      if (::linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temporary_path_ = name;
        break;
      }
      if (errno != EEXIST || attempt == 100) {
        return failure("cannot name the new " + target_.path, errno);
      }
    }
  }
  if (::close(fd_) != 0) {
    fd_ = -1;
    return failure("cannot write " + target_.path, errno);
  }
  fd_ = -1;
  if (::rename(temporary_path_.c_str(), target_.path.c_str()) != 0) {
    return failure("cannot name the new " + target_.path, errno);
  }
  temporary_path_.clear();
  // The new name itself is made lasting too; the file is complete either way.
  const int folder = ::open(target_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return {};
}

}  // namespace prepare
