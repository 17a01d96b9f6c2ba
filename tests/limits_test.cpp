// The largest model the converter takes, and the first one it refuses,
// streamed from the model generator through a named pipe so that no
// multi-gigabyte file is needed; the output files go to /dev/null.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support.h"

namespace {

using testing_support::RunResult;
using testing_support::TempDir;

RunResult convert_generated(const TempDir& dir, long facets) {
  const std::string pipe = (dir / "STL_Model.stl").string();
  EXPECT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  const pid_t generator = ::fork();
  if (generator == 0) {
    const std::string count = std::to_string(facets);
    ::execl(STLDECK_MAKE_MODEL, "make_model", count.c_str(), pipe.c_str(), nullptr);
    ::_exit(127);
  }
  RunResult run = testing_support::run_converter(dir.path());
  ::kill(generator, SIGKILL);  // it has nobody left to write to when the run was refused
  ::waitpid(generator, nullptr, 0);
  return run;
}

TEST(Limits, ModelAtTheLimitConvertsAndOneMoreFacetIsRefused) {
  if (testing_support::sanitized_build()) GTEST_SKIP() << "too slow under the sanitizers";
  constexpr long LIMIT = 3'333'333;
  {
    TempDir dir;
    std::filesystem::create_symlink("/dev/null", dir / "input.dat");
    std::filesystem::create_symlink("/dev/null", dir / "input.plt");
    const RunResult run = convert_generated(dir, LIMIT);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "  Read in the model ...\r\n"
              "  Number of elements:  m =     3333333\r\n"
              "  Number of nodes:     n =     9999999\r\n"
              "  Translation from STL data to BEM input is done!\r\n");
  }
  {
    TempDir dir;
    dir.write("input.dat", "old deck\r\n");
    dir.write("input.plt", "old view\r\n");
    const RunResult run = convert_generated(dir, LIMIT + 1);
    EXPECT_EQ(run.status, 250);
    EXPECT_TRUE(run.err.starts_with(
        "forrtl: severe (250): model too large, more than 3333333 facets (9999999 nodes), unit 5, "
        "file " +
        (dir / "STL_Model.stl").string() + "\n"))
        << run.err;
    EXPECT_EQ(run.out, "  Read in the model ...\r\n");
    EXPECT_EQ(dir.read("input.dat"), "old deck\r\n");
    EXPECT_EQ(dir.read("input.plt"), "old view\r\n");
  }
}

}  // namespace
