// Records rendered ahead on a worker reach the file exactly as records
// rendered in place: same bytes, same order, whatever the chunks' borders;
// destroying the renderer stops its worker wherever it is.
#include "records/render_ahead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
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

// Sections alternating between the two kinds, the first of points.
std::vector<RecordSection> make_sections(const std::vector<std::int64_t>& counts) {
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
  return sections;
}

// Each section is preceded by a record written on the channel itself.
std::string write_sections(const std::vector<std::int64_t>& counts, bool ahead) {
  TempDir dir;
  const std::string path = (dir / "out").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  {
    OutputChannel channel(records::SOLVER_UNIT, fd, path, records::OutputMode::plain, true);
    if (!channel.reserve_block()) return {};
    const std::vector<RecordSection> sections = make_sections(counts);
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
      {"no records at all", {0, 0}},
      {"one record", {1}},
      {"exactly one chunk", {P, 0}},
      {"one record more", {P + 1, T + 1}},
      {"one record short of two chunks", {2 * P - 1, 2 * T}},
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

// While it lives, writes to files stop at `bytes` (the system refuses the
// rest of a write, and every one after it), for this process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, saved_.rlim_max};
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
};

// A write refused in a chunk of either thread, or in the records before a
// section, is the section's failure, reported on the writing thread with
// the channel's unit and path, and the file holds the start of the whole
// output up to where the system stopped it.
TEST(RenderAhead, ARefusedWriteInAnyChunkIsTheSectionsFailure) {
  constexpr std::int64_t P = POINTS_PER_CHUNK;
  const std::vector<std::int64_t> counts = {5 * P + 3, 7};
  const std::string whole = write_sections(counts, false);
  ASSERT_FALSE(whole.empty());
  const std::size_t heading = std::string_view("section 0\r\n").size();
  const std::size_t chunk = static_cast<std::size_t>(P) * (POINT_LENGTH + 2);
  struct Case {
    const char* name;
    std::size_t limit;  // bytes the file may hold
  };
  const Case cases[] = {
      {"inside the heading", 4},
      {"the first chunk (writer)", heading + 1000},
      {"the second chunk (worker)", heading + chunk + 1},
      {"the end of the fourth (worker)", heading + 4 * chunk - 1},
      {"the last, short one (worker)", heading + 5 * chunk + 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = (dir / "out").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::vector<RecordSection> sections = make_sections(counts);
    {
      OutputChannel channel(records::SOLVER_UNIT, fd, path, records::OutputMode::plain, true);
      ASSERT_TRUE(channel.reserve_block());
      RenderAhead renderer;
      ASSERT_TRUE(renderer.start(sections));
      const FileSizeLimit limit(c.limit);
      channel.write_record("section 0");
      const records::Status status = renderer.write_section("s0", channel);
      EXPECT_EQ(status.report, records::Report::write_error);
      EXPECT_EQ(status.unit, records::SOLVER_UNIT);
      EXPECT_EQ(status.path, path);
      // A caller that goes on anyway, on a channel that works, writes
      // nothing there and hears of the failure again.
      OutputChannel next(records::MESH_VIEW_UNIT, ::open("/dev/null", O_WRONLY), "null",
                         records::OutputMode::plain, true);
      ASSERT_TRUE(next.reserve_block());
      EXPECT_EQ(renderer.write_section("s1", next).report, records::Report::write_error);
    }
    const std::string written = dir.read("out");
    EXPECT_EQ(written.size(), c.limit);
    EXPECT_TRUE(whole.starts_with(written)) << "not the start of the whole output";
  }
}

constexpr format::EditDescriptor number_layout[] = {format::IntField(12)};

// Sections of many chunks each, rendered ahead: the renderer is destroyed
// before any section is written, or after the first of them (a test that
// hangs here has found a worker that cannot be stopped).
TEST(RenderAhead, DestroyedBeforeItsSectionsAreWrittenStopsItsWorker) {
  const auto render = [](format::RecordChunk& chunk, std::int64_t first, std::int64_t end) {
    for (std::int64_t n = first; n < end; ++n) {
      const format::Item items[] = {static_cast<std::int32_t>(n)};
      format::write_layout<number_layout>(chunk, items);
    }
  };
  for (const int written : {0, 1}) {
    SCOPED_TRACE(written);
    RenderAhead renderer;
    std::vector<RecordSection> sections;
    sections.push_back({"first", 2'000'000, format::longest_record(number_layout), render});
    sections.push_back({"second", 2'000'000, format::longest_record(number_layout), render});
    ASSERT_TRUE(renderer.start(sections));
    if (written > 0) {
      // A channel on /dev/null takes the first section whole.
      OutputChannel null(records::SOLVER_UNIT, ::open("/dev/null", O_WRONLY), "null",
                         records::OutputMode::plain, true);
      ASSERT_TRUE(null.reserve_block());
      EXPECT_TRUE(renderer.write_section("first", null).ok());
    }
  }
}

}  // namespace
