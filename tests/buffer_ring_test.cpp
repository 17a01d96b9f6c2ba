// The buffer ring between the calling thread and its worker: every buffer
// passes in order, and destroying the ring, or either worker built on it,
// stops the worker wherever it is (a test that hangs here has found a
// worker that cannot be stopped).
#include "records/buffer_ring.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "format/layout.h"
#include "mesh/mesh_store.h"
#include "reading/facet_stream.h"
#include "reading/store_filling.h"
#include "records/render_ahead.h"

namespace {

using records::BufferRing;

constexpr std::size_t SMALL = 64;

// Fills buffer n with the number n, up to `count` buffers.
BufferRing::Job numbers_up_to(std::uint64_t count) {
  return [count](BufferRing::Buffer& buffer, std::uint64_t sequence) {
    if (sequence == count) return false;
    std::memcpy(buffer.bytes.get(), &sequence, sizeof sequence);
    buffer.size = sizeof sequence;
    return true;
  };
}

std::uint64_t number_in(const BufferRing::Buffer& buffer) {
  std::uint64_t number = 0;
  std::memcpy(&number, buffer.bytes.get(), sizeof number);
  return number;
}

TEST(BufferRing, FilledBuffersArriveInOrderAndEnd) {
  BufferRing ring(SMALL, 3);
  ASSERT_TRUE(ring.reserve());
  ring.start(BufferRing::WorkerRole::fills, numbers_up_to(1000));
  for (std::uint64_t expected = 0; expected < 1000; ++expected) {
    const BufferRing::Buffer* buffer = ring.take();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(number_in(*buffer), expected);
    ring.give_back();
  }
  EXPECT_EQ(ring.take(), nullptr);
}

TEST(BufferRing, HandedBuffersAreEmptiedInOrderBeforeFinishReturns) {
  std::vector<std::uint64_t> emptied;
  BufferRing ring(SMALL, 3);
  ASSERT_TRUE(ring.reserve());
  ring.start(BufferRing::WorkerRole::empties,
             [&](BufferRing::Buffer& buffer, std::uint64_t sequence) {
               EXPECT_EQ(number_in(buffer), sequence);
               emptied.push_back(sequence);
               return true;
             });
  for (std::uint64_t n = 0; n < 1000; ++n) {
    std::memcpy(ring.filling().bytes.get(), &n, sizeof n);
    if (n + 1 < 1000) ring.hand_over();
  }
  ring.finish();
  ASSERT_EQ(emptied.size(), 1000u);
  EXPECT_EQ(emptied.back(), 999u);
}

// Destroyed with the worker waiting for room (every buffer filled, none
// taken), waiting after some were taken, or still filling.
TEST(BufferRing, DestroyedEarlyStopsAFillingWorker) {
  for (const int taken : {0, 1, 5}) {
    SCOPED_TRACE(taken);
    BufferRing ring(SMALL, 4);
    ASSERT_TRUE(ring.reserve());
    ring.start(BufferRing::WorkerRole::fills, numbers_up_to(1'000'000));
    for (int i = 0; i < taken; ++i) {
      ASSERT_NE(ring.take(), nullptr);
      ring.give_back();
    }
  }
}

// Destroyed with the worker waiting for a buffer (none handed), or while
// it still has buffers handed over to empty.
TEST(BufferRing, DestroyedEarlyStopsAnEmptyingWorker) {
  for (const int handed : {0, 1, 3}) {
    SCOPED_TRACE(handed);
    BufferRing ring(SMALL, 4);
    ASSERT_TRUE(ring.reserve());
    ring.start(BufferRing::WorkerRole::empties,
               [](BufferRing::Buffer&, std::uint64_t) { return true; });
    for (int i = 0; i < handed; ++i) ring.hand_over();
  }
}

constexpr format::EditDescriptor number_layout[] = {format::IntField(12)};

// Sections of many chunks each, rendered ahead: the renderer is destroyed
// before any section is written, or after the first of them.
TEST(RenderAhead, DestroyedBeforeItsSectionsAreWrittenStopsItsWorker) {
  const auto render = [](format::RecordChunk& chunk, std::int64_t first, std::int64_t end) {
    for (std::int64_t n = first; n < end; ++n) {
      const format::Item items[] = {static_cast<std::int32_t>(n)};
      format::write_layout<number_layout>(chunk, items);
    }
  };
  for (const int written : {0, 1}) {
    SCOPED_TRACE(written);
    records::RenderAhead renderer;
    std::vector<records::RecordSection> sections;
    sections.push_back({"first", 2'000'000, format::longest_record(number_layout), render});
    sections.push_back({"second", 2'000'000, format::longest_record(number_layout), render});
    ASSERT_TRUE(renderer.start(sections));
    if (written > 0) {
      // A channel on /dev/null takes the first section whole.
      records::OutputChannel null(records::SOLVER_UNIT, ::open("/dev/null", O_WRONLY), "null",
                                  records::OutputMode::plain, true);
      ASSERT_TRUE(null.reserve_block());
      EXPECT_TRUE(renderer.write_section("first", null).ok());
    }
  }
}

// A scan that is abandoned halfway (its caller returns with another
// failure) leaves the stream with batches handed over and one being
// filled: destroying it stops the worker.
TEST(FacetStream, DestroyedMidScanStopsItsWorker) {
  for (const int facets : {0, 1, 20'000}) {
    SCOPED_TRACE(facets);
    mesh::MeshStore store;
    ASSERT_TRUE(store.reserve());
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
}

}  // namespace
