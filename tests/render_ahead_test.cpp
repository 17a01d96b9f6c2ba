// Records rendered ahead on a worker reach the file exactly as records
// rendered in place: same bytes, same order, whatever the chunks' borders.
#include "records/render_ahead.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/layout.h"
#include "support.h"

namespace {

using format::Item;
using format::RecordChunk;
using records::OutputChannel;
using records::RecordSection;
using records::RenderAhead;
using testing_support::TempDir;

// A node-like record of 32 characters and an element-like one of 45.
constexpr format::EditDescriptor point[] = {format::IntField(8), format::ExpField(24, 15, 'D')};
constexpr format::EditDescriptor triple[] = {format::IntField(15, 3)};
constexpr std::size_t POINT_LENGTH = format::longest_record(point);
constexpr std::size_t TRIPLE_LENGTH = format::longest_record(triple);
// Records of each kind in one chunk.
constexpr auto POINTS_PER_CHUNK =
    static_cast<std::int64_t>(RenderAhead::CHUNK_BYTES / (POINT_LENGTH + 2));
constexpr auto TRIPLES_PER_CHUNK =
    static_cast<std::int64_t>(RenderAhead::CHUNK_BYTES / (TRIPLE_LENGTH + 2));

template <typename Destination>
void render_point(Destination& destination, std::int64_t number) {
  const Item items[] = {static_cast<std::int32_t>(number + 1), static_cast<double>(number) * 0.1};
  format::write_layout<point>(destination, items);
}

template <typename Destination>
void render_triple(Destination& destination, std::int64_t number) {
  const auto first = static_cast<std::int32_t>(3 * number + 1);
  const Item items[] = {first, first + 1, first + 2};
  format::write_layout<triple>(destination, items);
}

// Sections alternate between the two kinds, the first of points; each is
// preceded by a record written on the channel itself.
std::string write_sections(const std::vector<std::int64_t>& counts, bool ahead) {
  TempDir dir;
  const std::string path = (dir / "out").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  {
    OutputChannel channel(records::SOLVER_UNIT, fd, path, records::OutputMode::plain, true);
    if (!channel.reserve_block()) return {};
    std::vector<RecordSection> sections;
    static constexpr std::string_view names[] = {"s0", "s1", "s2", "s3", "s4", "s5"};
    for (std::size_t s = 0; s < counts.size(); ++s) {
      if (s % 2 == 0) {
        sections.push_back({names[s], counts[s], POINT_LENGTH,
                            [](RecordChunk& chunk, std::int64_t first, std::int64_t end) {
                              for (auto n = first; n < end; ++n) render_point(chunk, n);
                            }});
      } else {
        sections.push_back({names[s], counts[s], TRIPLE_LENGTH,
                            [](RecordChunk& chunk, std::int64_t first, std::int64_t end) {
                              for (auto n = first; n < end; ++n) render_triple(chunk, n);
                            }});
      }
    }
    RenderAhead renderer;
    if (ahead && !renderer.start(sections)) return {};
    for (std::size_t s = 0; s < counts.size(); ++s) {
      channel.write_record("section " + std::to_string(s));
      if (ahead) {
        EXPECT_TRUE(renderer.write_section(sections[s].name, channel).ok());
      } else {
        for (std::int64_t n = 0; n < counts[s]; ++n) {
          if (s % 2 == 0) {
            render_point(channel, n);
          } else {
            render_triple(channel, n);
          }
        }
      }
    }
    channel.write_record("end");
    EXPECT_TRUE(channel.close().ok());
  }
  return dir.read("out");
}

TEST(RenderAhead, WritesWhatRenderingInPlaceWrites) {
  struct Case {
    const char* name;
    std::vector<std::int64_t> counts;  // records per section, points first
  };
  constexpr std::int64_t P = POINTS_PER_CHUNK;
  constexpr std::int64_t T = TRIPLES_PER_CHUNK;
  const Case cases[] = {
      {                             "no records at all",                              {0, 0}},
      {                                    "one record",                                 {1}},
      {                             "exactly one chunk",                              {P, 0}},
      {                               "one record more",                      {P + 1, T + 1}},
      {                "one record short of two chunks",                  {2 * P - 1, 2 * T}},
      {"more chunks than in flight, empty ones between", {9 * P + 5, 0, 7, 11 * T + 3, 0, 1}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in_place = write_sections(c.counts, false);
    const std::string ahead = write_sections(c.counts, true);
    ASSERT_FALSE(in_place.empty());
    EXPECT_EQ(ahead.size(), in_place.size());
    EXPECT_TRUE(ahead == in_place) << "the files differ";
  }
}

}  // namespace
