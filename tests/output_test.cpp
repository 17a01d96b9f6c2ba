// The two output files, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support.h"
#include "writing/solver_input.h"

namespace {

using testing_support::data_file;
using testing_support::RunResult;
using testing_support::TempDir;

// The deck's title carries the date of the run in columns 67-75.
std::string with_date(std::string deck, const std::string& date) {
  return deck.replace(66, 9, date);
}

struct Converted {
  RunResult run;
  std::string deck;
  std::string view;
  std::string date;  // the local date around the run
};

Converted convert(std::string_view stl) {
  TempDir dir;
  dir.write("STL_Model.stl", stl);
  Converted result;
  result.date = writing::local_date_text();
  result.run = testing_support::run_converter(dir.path());
  result.deck = dir.read("input.dat");
  result.view = dir.read("input.plt");
  return result;
}

TEST(Output, WorkedExamplesByteForByte) {
  const Converted deck_run = convert(data_file("one_facet_deck.stl"));
  ASSERT_EQ(deck_run.run.status, 0);
  EXPECT_EQ(deck_run.deck, with_date(data_file("one_facet_deck.dat"), deck_run.date));
  EXPECT_EQ(deck_run.deck.size(), 1328u);

  const Converted view_run = convert(data_file("one_facet_view.stl"));
  ASSERT_EQ(view_run.run.status, 0);
  EXPECT_EQ(view_run.view, data_file("one_facet_view.plt"));
  EXPECT_EQ(view_run.view.size(), 367u);
}

TEST(Output, EmptyModelWritesHeadersOnly) {
  const Converted empty = convert("solid empty\nendsolid empty\n");
  ASSERT_EQ(empty.run.status, 0);
  EXPECT_EQ(empty.deck.size(), 998u);
  EXPECT_NE(empty.deck.find("\r\n         0         0      0     0     ! Nos. of Boundary"),
            std::string::npos);
  EXPECT_TRUE(empty.deck.ends_with(
      " $ Nodes:\r\n $ Elements and Boundary Conditions:\r\n $ End of the File\r\n"));
  EXPECT_EQ(empty.view,
            " TITLE = \"A BEM Model for Acoustic Analysis\" \r\n"
            "#ZONES\" \r\n"
            " VARIABLES = \"X\", \"Y\", \"Z\" \r\n"
            " ZONE T=\"Model\", N=           0, E=           0\r\n"
            " DATAPACKING=POINT, ZONETYPE=FETRIANGLE\r\n"
            " \r\n");
  EXPECT_EQ(empty.view.size(), 179u);
}

TEST(Output, DateTextForm) {
  const std::string date = writing::local_date_text();
  ASSERT_EQ(date.size(), 9u);
  EXPECT_TRUE(std::isdigit(date[0]) && std::isdigit(date[1]) && date[2] == '-' && date[6] == '-' &&
              std::isdigit(date[7]) && std::isdigit(date[8]))
      << date;
  const std::string months = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
  EXPECT_EQ(months.find(date.substr(3, 3)) % 3, 0u) << date;
}

// Every record ends with CR LF, holds 7-bit ASCII only, and the files have
// the sizes their record layouts give.
void expect_record_structure(const std::string& text, std::size_t records) {
  EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 128; }));
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    ASSERT_GT(end, at);
    EXPECT_EQ(text[end - 1], '\r');
    EXPECT_EQ(text.substr(at, end - 1 - at).find('\r'), std::string::npos);
    at = end + 1;
    ++count;
  }
  EXPECT_EQ(count, records);
}

TEST(Output, SizesAndRecordsOfRealModels) {
  const char* models[] = {"openscad_cube_minus_sphere.stl", "openscad_exponents.stl",
                          "admesh_cube_minus_sphere.stl"};
  const std::size_t facets[] = {168, 24, 168};
  for (std::size_t i = 0; i < std::size(models); ++i) {
    SCOPED_TRACE(models[i]);
    const Converted run = convert(data_file(models[i]));
    ASSERT_EQ(run.run.status, 0);
    const std::size_t m = facets[i];
    const std::size_t n = 3 * m;
    EXPECT_EQ(run.deck.size(), 998 + 330 * m);
    EXPECT_EQ(run.view.size(), 179 + 188 * m);
    expect_record_structure(run.deck, m + n + 12);
    expect_record_structure(run.view, m + n + 6);
    // Element i refers to nodes 3i-2, 3i-1, 3i.
    EXPECT_TRUE(run.view.ends_with(
        std::string(15 - std::to_string(n - 2).size(), ' ') + std::to_string(n - 2) +
        std::string(15 - std::to_string(n - 1).size(), ' ') + std::to_string(n - 1) +
        std::string(15 - std::to_string(n).size(), ' ') + std::to_string(n) + "\r\n"));
  }
}

TEST(Output, RealModelsMatchTheirStoredConversions) {
  for (const char* name :
       {"openscad_cube_minus_sphere", "openscad_exponents", "admesh_cube_minus_sphere"}) {
    SCOPED_TRACE(name);
    const Converted run = convert(data_file(std::string(name) + ".stl"));
    ASSERT_EQ(run.run.status, 0);
    EXPECT_EQ(run.deck, with_date(data_file(std::string(name) + ".dat"), run.date));
    EXPECT_EQ(run.view, data_file(std::string(name) + ".plt"));
  }
}

TEST(Output, TwoRunsOnTheSameDayAreIdentical) {
  const std::string stl = data_file("admesh_cube_minus_sphere.stl");
  const Converted first = convert(stl);
  const Converted second = convert(stl);
  EXPECT_EQ(first.deck, second.deck);
  EXPECT_EQ(first.view, second.view);
}

}  // namespace
