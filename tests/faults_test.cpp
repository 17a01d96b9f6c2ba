// Whatever the converter is given, it ends in one of its defined ways and
// never damages an output file that must keep its old content.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "support.h"

namespace {

using namespace std::string_literals;
using testing_support::data_file;
using testing_support::RunResult;
using testing_support::TempDir;

constexpr std::string_view OLD = "old content\r\n";
constexpr std::string_view REPORT_HEADER =
    "Image              PC        Routine            Line        Source             \n";

enum class After {
  unchanged,  // the file still holds its old content
  complete,   // the file was written to its end
  absent,     // not a file
};

std::string binary_stl() {
  std::string stl(80, ' ');
  stl.replace(0, 12, "solid binary");  // some exporters start binary headers so
  const std::uint32_t count = 3;
  stl.append(reinterpret_cast<const char*>(&count), 4);
  std::mt19937 random(7);
  for (std::uint32_t i = 0; i < count; ++i) {
    for (int k = 0; k < 12; ++k) {
      const float value = static_cast<float>(random() % 1000) / 7.0f;
      stl.append(reinterpret_cast<const char*>(&value), 4);
    }
    stl.append(2, '\0');
  }
  return stl;
}

std::string random_bytes() {
  std::mt19937 random(2026);
  std::string bytes(1 << 16, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// A line of 1 GiB of NUL bytes before a facet, as a sparse file.
void write_huge_line(const TempDir& dir) {
  const std::string path = (dir / "STL_Model.stl").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
  std::string rest(1, '\n');
  rest += data_file("one_facet_deck.stl");
  ASSERT_EQ(::pwrite(fd, rest.data(), rest.size(), off_t{1} << 30),
            static_cast<ssize_t>(rest.size()));
  ::close(fd);
}

TEST(Faults, EveryInputEndsInADefinedWay) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> prepare;
    bool unprivileged;
    int status;
    std::string err_start;  // with the directory's path in place of @
    std::string out;
    After deck;
    After view;
  };
  const std::string read_notice = "  Read in the model ...\r\n";
  const std::string counts_of_one = read_notice +
                                    "  Number of elements:  m =           1\r\n"
                                    "  Number of nodes:     n =           3\r\n";
  const std::string done = "  Translation from STL data to BEM input is done!\r\n";
  const std::string empty_model = read_notice +
                                  "  Number of elements:  m =           0\r\n"
                                  "  Number of nodes:     n =           0\r\n" +
                                  done;
  const auto stl = [](std::string content) {
    return [content](const TempDir& d) { d.write("STL_Model.stl", content); };
  };
  const Case cases[] = {
      {               "output on a full device",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::remove(d / "input.plt");
       std::filesystem::create_symlink("/dev/full", d / "input.plt");
       },false, 38,  "forrtl: severe (38): error during write, unit 8, file @/input.plt\n",
       counts_of_one,After::complete,After::absent                                                                                                                                           },
      {                        "read-only deck",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::permissions(d / "input.dat", std::filesystem::perms::owner_read);
       },  true, 47,         "forrtl: severe (47): write to READONLY file, unit 6, file @/input.dat\n",                   "",
       After::unchanged, After::unchanged                                                                                                                   },
      {              "mesh view is a directory",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::remove(d / "input.plt");
       std::filesystem::create_directory(d / "input.plt");
       }, false, 30,                   "forrtl: severe (30): open failure, unit 8, file @/input.plt\n",                   "",
       After::unchanged,    After::absent                                                                                                                   },
      {                        "unreadable stl",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::permissions(d / "STL_Model.stl", std::filesystem::perms::none);
       },  true,  9,
       "forrtl: severe (9): permission to access file denied, unit 5, file @/STL_Model.stl\n",                   "",
       After::unchanged, After::unchanged                                                                                                                   },
      {                    "stl is a directory",
       [](const TempDir& d) { std::filesystem::create_directory(d / "STL_Model.stl"); }, false, 39,
       "forrtl: severe (39): error during read, unit 5, file @/STL_Model.stl\n",          read_notice,
       After::unchanged, After::unchanged                                                                                                                   },
      {                       "a line of 1 GiB",                                        write_huge_line, false,  0,                                                                                "", counts_of_one + done, After::complete,
       After::complete                                                                                                                                      },
      {                            "binary stl",                                      stl(binary_stl()), false,  0,                                                                                "",          empty_model, After::complete,
       After::complete                                                                                                                                      },
      {                          "random bytes",                                    stl(random_bytes()), false,  0,                                                                                "",          empty_model, After::complete,
       After::complete                                                                                                                                      },
      {                "NUL bytes inside lines",
       stl("  facet normal\0 0 0\n\0\n      vertex 1\0abc 2 3\n      vertex \0 2 3\n"
       "      vertex 1 2 3\n\0\n\0\n"s),
       false,  0,                                                                                "", counts_of_one + done, After::complete,  After::complete},
      {"mesh view is a named pipe nobody reads",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::remove(d / "input.plt");
       ASSERT_EQ(::mkfifo((d / "input.plt").c_str(), 0644), 0);
       }, false, 30,                   "forrtl: severe (30): open failure, unit 8, file @/input.plt\n",                   "",
       After::unchanged,    After::absent                                                                                                                   },
      {                   "ends inside a facet", stl("solid x\n  facet normal 0 0 1\n    outer loop\n"), false, 24,
       "forrtl: severe (24): end-of-file during read, unit 5, file @/STL_Model.stl\n",          read_notice,
       After::unchanged, After::unchanged                                                                                                                   },
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("input.dat", OLD);
    dir.write("input.plt", OLD);
    c.prepare(dir);
    const RunResult run =
        testing_support::run_converter(dir.path(), {.as_unprivileged_user = c.unprivileged});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    if (c.err_start.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      std::string expected = c.err_start;
      expected.replace(expected.find('@'), 1, dir.path().string());
      EXPECT_TRUE(run.err.starts_with(expected + std::string(REPORT_HEADER))) << run.err;
    }
    for (const auto& [name, after] : {
             std::pair{"input.dat", c.deck},
             std::pair{"input.plt", c.view}
    }) {
      SCOPED_TRACE(name);
      const bool file = std::filesystem::is_regular_file(dir / name);
      switch (after) {
        case After::unchanged:
          EXPECT_EQ(dir.read(name), OLD);
          break;
        case After::complete:
          EXPECT_TRUE(dir.read(name).ends_with(
              name == std::string_view("input.dat") ? " $ End of the File\r\n" : "\r\n"));
          EXPECT_NE(dir.read(name), OLD);
          break;
        case After::absent:
          EXPECT_FALSE(file);
          break;
      }
    }
    if (std::string_view(c.name) == "a line of 1 GiB" && !testing_support::sanitized_build()) {
      EXPECT_LT(run.peak_memory_kib, 16 * 1024) << "a long line must not cost memory";
    }
  }
}

}  // namespace
