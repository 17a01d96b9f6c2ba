// The converter's scan, with the coordinates converted a batch of facet
// records at a time, ends exactly as a plain reading of the rules line by
// line does, and hands over the same facets and skipped lines, wherever a
// failure lies relative to the batches handed over.
#include "reading/facet_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <string>
#include <string_view>
#include <vector>

#include "mesh/mesh_store.h"
#include "reading/stl_scanner.h"
#include "reading/store_filling.h"
#include "reading/vertex_line.h"
#include "support.h"

namespace {

using testing_support::Scanned;
using testing_support::TempDir;

std::string facet(const std::string& v1, const std::string& v2, const std::string& v3) {
  return "  facet normal 0 0 1\n    outer loop\n      vertex " + v1 + "\n      vertex " + v2 +
         "\n      vertex " + v3 + "\n    endloop\n  endfacet\n";
}

// Facets whose coordinates differ, some in the forms only the full
// conversion reads; enough of them fill several batches.
std::string facets(int count, int first = 0) {
  std::string text;
  for (int i = first; i < first + count; ++i) {
    const std::string n = std::to_string(i);
    text += facet(n + ".5 -" + n + "e-3 1.25D+" + std::to_string(i % 30),
                  "0.1234567890123456789 " + n + " -0", n + "q2 -.5 " + n + "1234567890123e-40");
  }
  return text;
}

// The scan as the rules state it, one line at a time, converting as it
// reads: the oracle for the stream.
Scanned read_by_the_rules(const std::string& stl, std::int32_t limit) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, feed; (feed = stl.find('\n', at)) != std::string::npos; at = feed + 1) {
    std::string line = stl.substr(at, feed - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  Scanned scanned;
  const auto end = [&](reading::ScanEnd how, std::int64_t line_number) {
    scanned.outcome.end = how;
    scanned.outcome.facets = static_cast<std::int32_t>(scanned.facet_lines.size());
    scanned.outcome.line_number = line_number;
    return scanned;
  };
  std::size_t next = 0;  // index of the next line; its number is next + 1
  while (next < lines.size()) {
    std::string lead = lines[next++].substr(0, 8);
    lead.resize(8, ' ');
    if (lead != "  facet ") {
      const std::string& line = lines[next - 1];
      const std::size_t word = line.find_first_not_of(" \t");
      if (line.find_first_not_of(" \t\r") != std::string::npos) {
        scanned.skipped.push_back({static_cast<std::int64_t>(next),
                                   reading::skipped_kind(std::string_view(line).substr(word))});
      }
      continue;
    }
    const auto facet_line = static_cast<std::int64_t>(next);
    if (std::ssize(scanned.facet_lines) == limit) {
      return end(reading::ScanEnd::too_many_facets, facet_line);
    }
    if (next++ >= lines.size()) return end(reading::ScanEnd::end_of_file_in_facet, facet_line);
    geometry::Triangle corners;
    std::array<int, 3> empty{};
    for (std::size_t corner = 0; corner < 3; ++corner) {
      if (next >= lines.size()) return end(reading::ScanEnd::end_of_file_in_facet, facet_line);
      std::string_view bad;
      if (!reading::read_corner(std::string_view(lines[next++]).substr(0, 80), corners[corner], bad,
                                empty[corner])) {
        scanned.outcome.token = bad;
        return end(reading::ScanEnd::invalid_coordinate, static_cast<std::int64_t>(next));
      }
    }
    for (int closing = 0; closing < 2; ++closing) {
      if (next++ >= lines.size()) return end(reading::ScanEnd::end_of_file_in_facet, facet_line);
    }
    scanned.corners.insert(scanned.corners.end(), corners.begin(), corners.end());
    scanned.facet_lines.push_back(facet_line);
    scanned.empty_coordinates.push_back(empty);
  }
  return end(reading::ScanEnd::clean, 0);
}

std::vector<std::uint64_t> bits(const std::vector<geometry::Point>& corners) {
  std::vector<std::uint64_t> all;
  for (const geometry::Point& corner : corners) {
    for (const double coordinate : corner) all.push_back(std::bit_cast<std::uint64_t>(coordinate));
  }
  return all;
}

TEST(FacetStream, EndsAndHandsOverAsTheRulesRead) {
  struct Case {
    const char* name;
    std::string stl;
    reading::ScanEnd end;
    std::int32_t limit = mesh::MAX_FACETS;  // no limit within reach
  };
  const std::string bad = facet("1 2 3", "4 x 6", "7 8 9");
  const std::string cut_after_bad_line =
      "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 3\n      vertex 4 5 y\n";
  const std::string cut_after_vertices =
      "  facet normal 0 0 1\n    outer loop\n      vertex 1 2 3\n      vertex 4 5 6\n"
      "      vertex 7 8 9\n";
  const std::string cut_after_facet_line = "  facet normal 0 0 1\n";
  const std::string cut_after_outer_loop = "  facet normal 0 0 1\n    outer loop\n";
  const std::string overflowing = facet("1 2 3", "4 5 6", "7 8 1e999");
  const std::string solid = "solid t\n" + facets(12000) + "endsolid t\n";
  const std::string bad_late = facets(4500) + bad + facets(300, 4500);
  const std::string bad_first = bad + facets(10);
  const std::string bad_then_cut = facets(3000) + bad + cut_after_facet_line;
  const std::string cut_in_bad = facets(2500) + cut_after_bad_line;
  const std::string cut_after_good = facets(2500) + cut_after_vertices;
  const std::string cut_early = facets(2200) + cut_after_outer_loop;
  const std::string overflow_late = facets(100) + overflowing;
  // More skipped lines between two facets than a batch holds, in every
  // style the model check tells apart, blank lines among them.
  std::string skipped_many = "solid t\n" + facets(1500);
  for (int i = 0; i < 700; ++i) {
    skipped_many += i % 4 == 0   ? "facet normal 0 0 1\n"
                    : i % 4 == 1 ? " \t\n"
                    : i % 4 == 2 ? "\tEndSolid t\n"
                                 : "stray text\n";
  }
  skipped_many += facets(1500, 1500) + "endsolid t\n";
  std::string bad_among_skipped = facets(50) + "solid a\n" + bad + "endsolid a\n" + facets(5);
  using enum reading::ScanEnd;
  std::vector<Case> cases = {
      {"empty file", "", clean},
      {"several batches", solid, clean},
      {"skipped lines fill whole batches", skipped_many, clean},
      {"invalid coordinate after some batches", bad_late, invalid_coordinate},
      {"invalid coordinate in the first facet", bad_first, invalid_coordinate},
      {"invalid coordinate, then the file cut in a facet", bad_then_cut, invalid_coordinate},
      {"file ends after the invalid line of a facet", cut_in_bad, invalid_coordinate},
      {"file ends after the last vertex line, all valid", cut_after_good, end_of_file_in_facet},
      {"file ends inside a facet", cut_early, end_of_file_in_facet},
      {"an overflowing coordinate", overflow_late, invalid_coordinate},
      {"skipped lines around a bad coordinate", bad_among_skipped, invalid_coordinate},
  };
  cases.push_back({"one facet beyond the limit", solid, too_many_facets, 1001});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("STL_Model.stl", c.stl);
    const Scanned expected = read_by_the_rules(c.stl, c.limit);
    const Scanned streamed = testing_support::scan_file(dir / "STL_Model.stl", c.limit);
    EXPECT_EQ(expected.outcome.end, c.end);
    EXPECT_EQ(streamed.outcome.end, expected.outcome.end);
    EXPECT_EQ(streamed.outcome.facets, expected.outcome.facets);
    EXPECT_EQ(streamed.outcome.line_number, expected.outcome.line_number);
    EXPECT_EQ(streamed.outcome.token, expected.outcome.token);
    EXPECT_EQ(streamed.facet_lines, expected.facet_lines);
    EXPECT_TRUE(bits(streamed.corners) == bits(expected.corners));
    EXPECT_EQ(streamed.empty_coordinates, expected.empty_coordinates);
    // The skipped lines reach the destination in file order, among the
    // facets, up to the point where the scan ends.
    ASSERT_EQ(streamed.skipped.size(), expected.skipped.size());
    for (std::size_t i = 0; i < expected.skipped.size(); ++i) {
      EXPECT_EQ(streamed.skipped[i].line_number, expected.skipped[i].line_number);
      EXPECT_EQ(streamed.skipped[i].kind, expected.skipped[i].kind);
    }
    std::string order;
    std::size_t s = 0;
    for (const std::int64_t line : expected.facet_lines) {
      for (; s < expected.skipped.size() && expected.skipped[s].line_number < line; ++s)
        order += 's';
      order += 'f';
    }
    order.append(expected.skipped.size() - s, 's');
    EXPECT_EQ(streamed.order, order);
  }
}

// A scan that is abandoned halfway (its caller returns with another
// failure) leaves the stream with batches handed over and one being
// filled: the destination has the facets of the batches handed over, and
// destroying the stream delivers nothing more and leaks nothing.
TEST(FacetStream, AbandonedMidScanDeliversOnlyTheBatchesHandedOver) {
  constexpr auto BATCH = static_cast<int>(reading::FacetTextBatch::FACETS);
  for (const int facets : {0, 1, BATCH, BATCH + 1, 20 * BATCH}) {
    SCOPED_TRACE(facets);
    mesh::MeshStore store;
    ASSERT_TRUE(store.reserve());
    {
      reading::StoreFilling filling(store);
      reading::FacetStream stream(filling, mesh::MAX_FACETS);
      ASSERT_TRUE(stream.start());
      constexpr std::string_view vertex = "vertex 1.5 -2.25e3 0.1234567890123456789";
      for (int i = 0; i < facets; ++i) {
        reading::FacetText* const facet = stream.begin_facet(2 + 7 * i);
        ASSERT_NE(facet, nullptr);
        for (reading::VertexText& text : facet->vertices) {
          std::copy(vertex.begin(), vertex.end(), text.columns.begin());
          text.length = vertex.size();
          text.text_beyond = false;
        }
        stream.end_facet();
      }
    }
    // A batch is handed over when the facet after its last one begins.
    EXPECT_EQ(store.view().facet_count, facets == 0 ? 0 : (facets - 1) / BATCH * BATCH);
  }
}

}  // namespace
