#include "io/file_replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace io {
namespace {

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

Failure refusal(const std::string& name, std::string detail) {
  return Failure{"cannot write", name, 0, std::move(detail)};
}

// The temporary name of a run's new file beside `path`: PATH.KIND-PID-N, so
// that a later run can tell a file that a run now gone left behind.
std::string temporary_name(const std::string& path, const std::string& kind, int attempt) {
  return path + "." + kind + "-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
}

// Removes the files a killed run left beside `path`: names of the form
// above whose process no longer exists. A live run's file, or a name of any
// other form, is left alone.
void remove_leftovers(const std::string& folder, const std::string& path, const std::string& kind) {
  const std::size_t slash = path.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + "." + kind + "-";
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
    const auto pid = static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
    if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
      ::unlinkat(::dirfd(directory), entry->d_name, 0);
    }
  }
  ::closedir(directory);
}

}  // namespace

mode_t new_file_mode() {
  static const mode_t mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

Outcome find_replacement_target(const std::string& name, ReplacementTarget& target) {
  target = ReplacementTarget{};
  target.name = name;
  target.path = name;
  struct stat link_status {};
  if (::lstat(name.c_str(), &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(name.c_str(), resolved) == nullptr) {
      return refusal(name, "it is a symbolic link to a file that does not exist");
    }
    target.path = resolved;
  }
  target.folder = folder_of(target.path);
  if (::stat(target.path.c_str(), &target.status) == 0) {
    target.exists = true;
    if (S_ISDIR(target.status.st_mode)) return refusal(name, "it is a folder");
    if (!S_ISREG(target.status.st_mode)) return refusal(name, "not a regular file");
  } else if (errno != ENOENT) {
    return system_failure("cannot write", name);
  }
  struct stat folder_status {};
  if (::stat(target.folder.c_str(), &folder_status) != 0) {
    const int error = errno;
    return Failure{"cannot write", name, error,
                   "folder " + target.folder + ": " + std::strerror(error)};
  }
  if (!S_ISDIR(folder_status.st_mode)) {
    return refusal(name, target.folder + " is not a folder");
  }
  return {};
}

bool is_same_file(const ReplacementTarget& target, const struct stat& file) {
  return target.exists && target.status.st_dev == file.st_dev &&
         target.status.st_ino == file.st_ino;
}

FileReplacement::FileReplacement(std::string kind, Nameless nameless)
    : kind_(std::move(kind)), nameless_(nameless) {}

FileReplacement::~FileReplacement() { discard(); }

void FileReplacement::discard() {
  file_.abandon();
  if (!temporary_path_.empty()) ::unlink(temporary_path_.c_str());
  temporary_path_.clear();
  finished_ = false;
}

Outcome FileReplacement::failed(Failure failure) {
  discard();
  return failure;
}

Outcome FileReplacement::open(const ReplacementTarget& target) {
  discard();
  target_ = target;
  // A replaced file keeps its permissions; a new one gets the usual ones.
  const mode_t mode = target.exists ? target.status.st_mode & 07777 : new_file_mode();
  remove_leftovers(target.folder, target.path, kind_);
  // A nameless file disappears by itself when the run is killed.
  int fd = -1;
  if (nameless_ == Nameless::where_possible) {
    fd = ::open(target.folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
      return failed(system_failure("cannot create a file in", target.folder));
    }
  }
  for (int attempt = 0; fd < 0; ++attempt) {
    const std::string name = temporary_name(target.path, kind_, attempt);
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) temporary_path_ = name;
    if (fd < 0 && (errno != EEXIST || attempt == 100)) {
      return failed(system_failure("cannot create a file in", target.folder));
    }
  }
  file_ = FileWriter(fd, target.path);
  if (::fchmod(fd, mode) != 0) return failed(system_failure("cannot set the permissions", ""));
  return {};
}

Outcome FileReplacement::write(std::string_view bytes) {
  if (Outcome written = file_.write(bytes); !written.ok()) return failed(written.failure());
  return {};
}

Outcome FileReplacement::finish() {
  if (Outcome synced = file_.sync(); !synced.ok()) return failed(synced.failure());
  finished_ = true;
  return {};
}

Outcome FileReplacement::commit() {
  if (!file_.is_open() || !finished_) {
    return failed(Failure{"cannot write", target_.path, 0, "the file is not finished"});
  }
  if (temporary_path_.empty()) {
    // The nameless file gets a temporary name beside the target, then the
    // target's name in one step.
    const std::string descriptor = "/proc/self/fd/" + std::to_string(file_.descriptor());
    for (int attempt = 0;; ++attempt) {
      const std::string name = temporary_name(target_.path, kind_, attempt);
      if (::linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temporary_path_ = name;
        break;
      }
      if (errno != EEXIST || attempt == 100) {
        return failed(system_failure("cannot name the new", target_.path));
      }
    }
  }
  if (Outcome closed = file_.close(); !closed.ok()) return failed(closed.failure());
  if (::rename(temporary_path_.c_str(), target_.path.c_str()) != 0) {
    return failed(system_failure("cannot name the new", target_.path));
  }
  temporary_path_.clear();
  finished_ = false;
  // The new name itself is made lasting too; the file is complete either way.
  const int folder = ::open(target_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return {};
}

}  // namespace io
