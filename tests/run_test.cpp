// The run as a user meets it: console report, endings, exit statuses, and
// what happens to the output files on every ending.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "check/model_scan.h"
#include "run_sequence.h"
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

// The report each way of ending a scan ends the run with, and the model
// check's account of it: the two programs keep a table each and must never
// disagree, but where the check treats the converter's stop after an
// unreadable vertex line as the read failure it is.
TEST(Run, ScanEndingsAreTheReportsTheCheckNames) {
  using enum reading::ScanEnd;
  struct Case {
    reading::ScanEnd end;
    records::Report report;
    int check_report;
  };
  constexpr Case cases[] = {
      {clean, records::Report::none, 0},
      {end_of_file_in_facet, records::Report::end_of_file, 24},
      {read_failure, records::Report::read_error, 39},
      {vertex_read_failure, records::Report::vertex_read_stop, 39},
      {invalid_coordinate, records::Report::invalid_real, 547},
      {too_many_facets, records::Report::model_too_large, 250},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.end));
    EXPECT_EQ(run::scan_report(c.end), c.report);
    EXPECT_EQ(check::converter_report(c.end), c.check_report);
  }
}

TEST(Run, ConsoleReportInAFileIsFourPlainRecords) {
  TempDir dir;
  dir.write("STL_Model.stl", data_file("one_facet_deck.stl"));
  const RunResult run =
      testing_support::run_converter(dir.path(), {.arguments = {"ignored", "-x"}});
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
  const RunResult b =
      testing_support::run_converter(with_arguments.path(), {.arguments = {"other.stl", "--help"}});
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

}  // namespace
