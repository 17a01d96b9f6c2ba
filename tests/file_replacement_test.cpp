// Replacing a file whole, and the checked writer under it: what a failure,
// a kill or an unusual target leaves behind.
#include "io/file_replacement.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "io/file_writer.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;

constexpr io::Nameless BOTH_WAYS[] = {io::Nameless::where_possible, io::Nameless::never};

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Replaces `name` in dir with `text`; the outcome of the first step that
// failed.
io::Outcome replace(const TempDir& dir, const std::string& name, const std::string& text,
                    io::Nameless nameless = io::Nameless::where_possible) {
  io::ReplacementTarget target;
  if (io::Outcome found = io::find_replacement_target((dir / name).string(), target); !found.ok()) {
    return found;
  }
  io::FileReplacement replacement("test", nameless);
  io::Outcome outcome = replacement.open(target);
  if (outcome.ok()) outcome = replacement.write(text);
  if (outcome.ok()) outcome = replacement.finish();
  if (outcome.ok()) outcome = replacement.commit();
  return outcome;
}

TEST(FileReplacement, ReplacesOrMakesARegularFileOnly) {
  for (const io::Nameless nameless : BOTH_WAYS) {
    SCOPED_TRACE(nameless == io::Nameless::never ? "named" : "nameless");
    const TempDir dir;
    dir.write("old.txt", "old");
    ::chmod((dir / "old.txt").c_str(), 0640);
    dir.write("linked.txt", "old");
    fs::create_symlink("linked.txt", dir / "link");
    fs::create_symlink("nowhere", dir / "dangling");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
    struct Case {
      std::string name;
      std::string refusal;  // empty when replaced
    };
    const Case cases[] = {
        {"old.txt", ""},
        {"new.txt", ""},
        {"link", ""},
        {"dangling", "it is a symbolic link to a file that does not exist"},
        {"folder", "it is a folder"},
        {"fifo", "not a regular file"},
        {"missing/new.txt", "folder " + (dir / "missing").string() + ": No such file or directory"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const io::Outcome outcome = replace(dir, c.name, "new", nameless);
      if (c.refusal.empty()) {
        EXPECT_TRUE(outcome.ok()) << outcome.failure().message();
      } else {
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.failure().message(),
                  "cannot write " + (dir / c.name).string() + ": " + c.refusal);
      }
    }
    EXPECT_EQ(dir.read("old.txt"), "new");
    EXPECT_EQ(fs::status(dir / "old.txt").permissions(), static_cast<fs::perms>(0640));
    EXPECT_EQ(dir.read("new.txt"), "new");
    EXPECT_EQ(fs::status(dir / "new.txt").permissions(),
              static_cast<fs::perms>(io::new_file_mode()));
    // The link stays a link, and the file it names has the new text.
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(dir.read("linked.txt"), "new");
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"dangling", "fifo", "folder", "link",
                                                              "linked.txt", "new.txt", "old.txt"}));
  }
}

TEST(FileReplacement, ADeviceIsNeverReplaced) {
  io::ReplacementTarget target;
  const io::Outcome found = io::find_replacement_target("/dev/null", target);
  ASSERT_FALSE(found.ok());
  EXPECT_EQ(found.failure().message(), "cannot write /dev/null: not a regular file");
}

TEST(FileReplacement, TheInputIsKnownThroughAnyLink) {
  const TempDir dir;
  dir.write("model.stl", "solid");
  fs::create_hard_link(dir / "model.stl", dir / "hard.stl");
  fs::create_symlink(dir / "model.stl", dir / "soft.stl");
  dir.write("other.stl", "solid");
  struct stat input {};
  ASSERT_EQ(::stat((dir / "model.stl").c_str(), &input), 0);
  struct Case {
    const char* name;
    bool same;
  };
  constexpr Case cases[] = {
      {"model.stl", true},  {"hard.stl", true}, {"soft.stl", true},
      {"other.stl", false}, {"new.stl", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    io::ReplacementTarget target;
    ASSERT_TRUE(io::find_replacement_target((dir / c.name).string(), target).ok());
    EXPECT_EQ(io::is_same_file(target, input), c.same);
  }
}

// A write that fails (here past a limit on file sizes) leaves the old file
// as it was and no other file behind, nameless or named.
TEST(FileReplacement, AFailedWriteLeavesTheOldFileAndNothingElse) {
  for (const io::Nameless nameless : BOTH_WAYS) {
    SCOPED_TRACE(nameless == io::Nameless::never ? "named" : "nameless");
    const TempDir dir;
    dir.write("out.txt", "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      io::take_file_size_limit_as_failure();
      const rlimit limit{4096, 4096};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const io::Outcome outcome =
          replace(dir, "out.txt", std::string(3 * io::FileWriter::BUFFER_BYTES, 'x'), nameless);
      const bool as_expected = !outcome.ok() && outcome.failure().error == EFBIG &&
                               outcome.failure().message() == "cannot write " +
                                                                  (dir / "out.txt").string() +
                                                                  ": File too large";
      ::_exit(as_expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(dir.read("out.txt"), "old");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"out.txt"});
  }
}

TEST(FileReplacement, GivenUpOrUnfinishedItLeavesTheOldFile) {
  for (const io::Nameless nameless : BOTH_WAYS) {
    SCOPED_TRACE(nameless == io::Nameless::never ? "named" : "nameless");
    const TempDir dir;
    dir.write("out.txt", "old");
    io::ReplacementTarget target;
    ASSERT_TRUE(io::find_replacement_target((dir / "out.txt").string(), target).ok());
    {
      io::FileReplacement replacement("test", nameless);
      ASSERT_TRUE(replacement.open(target).ok());
      ASSERT_TRUE(replacement.write("new").ok());
      // Not finished: it cannot be named.
      EXPECT_FALSE(replacement.commit().ok());
    }
    {
      io::FileReplacement replacement("test", nameless);
      ASSERT_TRUE(replacement.open(target).ok());
      ASSERT_TRUE(replacement.write("new").ok());
      ASSERT_TRUE(replacement.finish().ok());
    }  // destroyed before its commit
    EXPECT_EQ(dir.read("out.txt"), "old");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"out.txt"});
  }
}

// A killed run leaves the old file; where the new file had a name, the next
// run of the same kind removes it, and leaves another kind's alone.
TEST(FileReplacement, AKilledRunLeavesTheOldFileAndTheNextRunCleansUp) {
  for (const io::Nameless nameless : BOTH_WAYS) {
    SCOPED_TRACE(nameless == io::Nameless::never ? "named" : "nameless");
    const TempDir dir;
    dir.write("out.txt", "old");
    dir.write("out.txt.other-1-0", "another program's");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      io::ReplacementTarget target;
      io::FileReplacement replacement("test", nameless);
      if (io::find_replacement_target((dir / "out.txt").string(), target).ok() &&
          replacement.open(target).ok() && replacement.write("new").ok() &&
          replacement.finish().ok()) {
        ::kill(::getpid(), SIGKILL);
      }
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(dir.read("out.txt"), "old");
    const std::string left = "out.txt.test-" + std::to_string(child) + "-0";
    EXPECT_EQ(fs::exists(dir / left), nameless == io::Nameless::never);

    ASSERT_TRUE(replace(dir, "out.txt", "newer", nameless).ok());
    EXPECT_EQ(dir.read("out.txt"), "newer");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"out.txt", "out.txt.other-1-0"}));
  }
}

TEST(FileWriter, EveryWriteAndCloseIsChecked) {
  struct Case {
    const char* label;
    std::size_t bytes;
  };
  constexpr Case cases[] = {
      {"small, buffered until the close", 100},
      {"larger than the buffer, written at once", 2 * io::FileWriter::BUFFER_BYTES},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    io::FileWriter writer(fd, "/dev/full");
    const io::Outcome written = writer.write(std::string(c.bytes, 'x'));
    const io::Outcome closed = writer.close();
    const io::Outcome failed = written.ok() ? closed : written;
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.failure().message(), "cannot write /dev/full: No space left on device");
    EXPECT_FALSE(writer.is_open());
  }
}

TEST(FileWriter, WritesEveryByteInOrder) {
  const TempDir dir;
  const int fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  io::FileWriter writer(fd, "out");
  std::string expected;
  // Pieces below, at and above the buffer's size, so that buffered bytes
  // must go before a piece written at once.
  for (const std::size_t size :
       {std::size_t{10}, io::FileWriter::BUFFER_BYTES - 5, std::size_t{20},
        io::FileWriter::BUFFER_BYTES, std::size_t{1}, 3 * io::FileWriter::BUFFER_BYTES + 7}) {
    const std::string piece(size, static_cast<char>('a' + expected.size() % 26));
    ASSERT_TRUE(writer.write(piece).ok());
    expected += piece;
  }
  ASSERT_TRUE(writer.close().ok());
  EXPECT_EQ(dir.read("out"), expected);
}

}  // namespace
