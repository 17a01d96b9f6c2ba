// The run as a user meets it: console report, endings, exit statuses, and
// what happens to the output files on every ending.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support.h"
#include "writing/solver_input.h"

namespace {

using testing_support::data_file;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::TempDir;

// The console report of a one-facet model, as a file receives it.
constexpr std::string_view ONE_FACET_CONSOLE =
    "  Read in the model ...\r\n"
    "  Number of elements:  m =           1\r\n"
    "  Number of nodes:     n =           3\r\n"
    "  Translation from STL data to BEM input is done!\r\n";

constexpr std::string_view OLD_CONTENT = "old content that must survive\r\nand a second line\r\n";

// The report line, then the traceback header, then at least one frame.
void expect_report(const RunResult& run, int number, const std::string& message) {
  SCOPED_TRACE(run.err);
  EXPECT_EQ(run.status, number & 0xFF);
  const std::string line = "forrtl: severe (" + std::to_string(number) + "): " + message + "\n";
  ASSERT_TRUE(run.err.starts_with(line));
  const std::string rest = run.err.substr(line.size());
  EXPECT_TRUE(rest.starts_with(
      "Image              PC        Routine            Line        Source             \n"));
  EXPECT_GT(std::count(rest.begin(), rest.end(), '\n'), 1);
}

TEST(Run, ConsoleReportInAFileIsFourPlainRecords) {
  TempDir dir;
  dir.write("STL_Model.stl", data_file("one_facet_deck.stl"));
  const RunResult run =
      testing_support::run_converter(dir.path(), {
                                                     .arguments = {"ignored", "-x"}
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, ONE_FACET_CONSOLE);
  EXPECT_EQ(run.err, "");
}

TEST(Run, ConsoleReportAppendedToALogKeepsTheLog) {
  TempDir dir;
  dir.write("STL_Model.stl", data_file("one_facet_deck.stl"));
  const std::string log(5000, 'L');
  const RunResult run = testing_support::run_converter(dir.path(), {.stdout_log = log});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, log + std::string(ONE_FACET_CONSOLE));
}

TEST(Run, WithoutStandardOutputTheDeckGetsNoConsoleLines) {
  TempDir with;
  TempDir without;
  for (const TempDir* dir : {&with, &without}) {
    dir->write("STL_Model.stl", data_file("one_facet_deck.stl"));
  }
  ASSERT_EQ(testing_support::run_converter(with.path()).status, 0);
  const RunResult run = testing_support::run_converter(without.path(), {.without_stdout = true});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(without.read("input.dat"), with.read("input.dat"));
  EXPECT_EQ(without.read("input.plt"), with.read("input.plt"));
}

TEST(Run, ConsoleReportOnATerminalOwesEachLineFeed) {
  TempDir dir;
  dir.write("STL_Model.stl", data_file("one_facet_deck.stl"));
  const RunResult run = testing_support::run_converter(dir.path(), {.stdout_terminal = true});
  EXPECT_EQ(run.status, 0);
  // The control column is not shown; the line feed of each line arrives with
  // the next line, the last one when the run ends.
  EXPECT_EQ(run.out,
            " Read in the model ...\r"
            "\n Number of elements:  m =           1\r"
            "\n Number of nodes:     n =           3\r"
            "\n Translation from STL data to BEM input is done!\r"
            "\n");
}

TEST(Run, ArgumentsChangeNothing) {
  TempDir plain;
  TempDir with_arguments;
  for (const TempDir* dir : {&plain, &with_arguments}) {
    dir->write("STL_Model.stl", data_file("openscad_cube_minus_sphere.stl"));
  }
  const RunResult a = testing_support::run_converter(plain.path());
  const RunResult b = testing_support::run_converter(with_arguments.path(),
                                                     {
                                                         .arguments = {"other.stl", "--help"}
  });
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(plain.read("input.dat"), with_arguments.read("input.dat"));
  EXPECT_EQ(plain.read("input.plt"), with_arguments.read("input.plt"));
}

TEST(Run, LongerOldOutputFilesHoldExactlyTheNewContent) {
  TempDir fresh;
  TempDir reused;
  for (const TempDir* dir : {&fresh, &reused})
    dir->write("STL_Model.stl", data_file("one_facet_deck.stl"));
  const std::string long_old(100000, 'x');
  reused.write("input.dat", long_old);
  reused.write("input.plt", long_old);
  ASSERT_EQ(testing_support::run_converter(fresh.path()).status, 0);
  ASSERT_EQ(testing_support::run_converter(reused.path()).status, 0);
  EXPECT_EQ(reused.read("input.dat"), fresh.read("input.dat"));
  EXPECT_EQ(reused.read("input.plt"), fresh.read("input.plt"));
}

TEST(Run, MissingStlFileIsReport29AndTouchesNothing) {
  TempDir dir;
  const RunResult run = testing_support::run_converter(dir.path());
  expect_report(run, 29, "file not found, unit 5, file " + (dir / "STL_Model.stl").string());
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(std::filesystem::exists(dir / "input.dat"));
  EXPECT_FALSE(std::filesystem::exists(dir / "input.plt"));

  dir.write("input.dat", OLD_CONTENT);
  dir.write("input.plt", OLD_CONTENT);
  expect_report(testing_support::run_converter(dir.path()), 29,
                "file not found, unit 5, file " + (dir / "STL_Model.stl").string());
  EXPECT_EQ(dir.read("input.dat"), OLD_CONTENT);
  EXPECT_EQ(dir.read("input.plt"), OLD_CONTENT);
}

TEST(Run, ReportsNameTheFullPathOnlyWhenItFitsIn256Characters) {
  TempDir dir;
  std::filesystem::path deep = dir.path();
  while ((deep / "STL_Model.stl").string().size() <= 256) deep /= std::string(40, 'd');
  std::filesystem::create_directories(deep);
  const RunResult run = testing_support::run_converter(deep);
  expect_report(run, 29, "file not found, unit 5, file STL_Model.stl");
}

TEST(Run, FailedReservationIsReport41BeforeAnyFile) {
  if (testing_support::sanitized_build()) GTEST_SKIP() << "the sanitizers need more address space";
  TempDir dir;
  dir.write("STL_Model.stl", data_file("one_facet_deck.stl"));
  const RunResult run =
      testing_support::run_converter(dir.path(), {.address_space_limit = 128ull << 20});
  expect_report(run, 41, "insufficient virtual memory");
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(std::filesystem::exists(dir / "input.dat"));
  EXPECT_FALSE(std::filesystem::exists(dir / "input.plt"));
}

// Files that cannot be read or written: each ends with the report that
// names the channel and its file, never with status 0, and the files that
// were not written keep what they held.
TEST(Run, FilesThatCannotBeUsedEndWithTheirReport) {
  struct Case {
    const char* name;
    void (*prepare)(const TempDir&);
    int number;
    std::string_view message;  // up to the file name
    std::string_view file;
    bool unprivileged;
    std::string_view console;  // standard output
  };
  const Case cases[] = {
      {        "stl is a directory",
       [](const TempDir& d) { std::filesystem::create_directory(d / "STL_Model.stl"); }, 39,
       "error during read, unit 5, file ", "STL_Model.stl", false,"  Read in the model ...\r\n"                                                                                        },
      {            "stl unreadable",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::permissions(d / "STL_Model.stl", std::filesystem::perms::none);
       },  9, "permission to access file denied, unit 5, file ", "STL_Model.stl",  true,                            ""},
      {            "deck read-only",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       d.write("input.dat", OLD_CONTENT);
       std::filesystem::permissions(d / "input.dat", std::filesystem::perms::owner_read |
       std::filesystem::perms::group_read |
       std::filesystem::perms::others_read);
       }, 47,           "write to READONLY file, unit 6, file ",     "input.dat",  true,                            ""},
      {       "deck is a directory",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::create_directory(d / "input.dat");
       }, 30,                     "open failure, unit 6, file ",     "input.dat", false,                            ""},
      {  "mesh view is a directory",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::create_directory(d / "input.plt");
       }, 30,                     "open failure, unit 8, file ",     "input.plt", false,                            ""},
      {     "deck on a full device",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::create_symlink("/dev/full", d / "input.dat");
       }, 38,               "error during write, unit 6, file ",     "input.dat", false,
       "  Read in the model ...\r\n  Number of elements:  m =           1\r\n"
       "  Number of nodes:     n =           3\r\n"                                                                   },
      {"mesh view on a full device",
       [](const TempDir& d) {
       d.write("STL_Model.stl", data_file("one_facet_deck.stl"));
       std::filesystem::create_symlink("/dev/full", d / "input.plt");
       }, 38,               "error during write, unit 8, file ",     "input.plt", false,
       "  Read in the model ...\r\n  Number of elements:  m =           1\r\n"
       "  Number of nodes:     n =           3\r\n"                                                                   },
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.prepare(dir);
    const RunResult run =
        testing_support::run_converter(dir.path(), {.as_unprivileged_user = c.unprivileged});
    expect_report(run, c.number, std::string(c.message) + (dir / c.file).string());
    EXPECT_EQ(run.out, c.console);
    if (c.file == "input.plt" && c.number == 38) {
      // The deck was complete before the mesh view was begun.
      EXPECT_TRUE(dir.read("input.dat").ends_with("$ End of the File\r\n"));
    }
    if (c.file == "input.dat" && std::filesystem::is_regular_file(dir / "input.dat")) {
      EXPECT_EQ(dir.read("input.dat"), OLD_CONTENT);
    }
  }
}

TEST(Run, EndingDuringTheScanLeavesOldOutputsByteForByte) {
  struct Case {
    const char* name;
    std::string_view stl;
    int status;
    std::string_view error_start;
  };
  const Case cases[] = {
      {"end of file inside a facet",            "solid x\n  facet normal 0 0 1\n    outer loop\n",24,
       "forrtl: severe (24): end-of-file during read, unit 5, file "              },
      {        "invalid coordinate", "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 x\n",
       547 & 0xFF,                          "forrtl: severe (547): invalid REAL\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("STL_Model.stl", c.stl);
    dir.write("input.dat", OLD_CONTENT);
    dir.write("input.plt", OLD_CONTENT);
    const RunResult run = testing_support::run_converter(dir.path());
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.err.starts_with(c.error_start)) << run.err;
    EXPECT_EQ(run.out, "  Read in the model ...\r\n");
    EXPECT_EQ(dir.read("input.dat"), OLD_CONTENT);
    EXPECT_EQ(dir.read("input.plt"), OLD_CONTENT);
  }
}

}  // namespace
