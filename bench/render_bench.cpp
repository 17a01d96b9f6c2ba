// Node records of both output files, rendered from coordinates into a large
// buffer as the writers do: records per second and bytes per second.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <vector>

#include "format/fields.h"

namespace {

constexpr std::size_t NODES = 1 << 16;  // 5 MB of deck records: beyond the caches

enum class Coordinates { stl_like, any_bits };

// Three coordinates per node. STL files write about six significant digits,
// so the "STL-like" values are such decimals read back; "any bits" covers
// every finite double, every exponent alike.
std::vector<double> make_coordinates(Coordinates kind) {
  std::mt19937_64 engine(12345);
  std::vector<double> values;
  values.reserve(3 * NODES);
  while (values.size() < 3 * NODES) {
    if (kind == Coordinates::stl_like) {
      char text[32];
      const double mantissa = std::uniform_real_distribution<double>(-1000.0, 1000.0)(engine);
      std::snprintf(text, sizeof text, "%.6g", mantissa);
      values.push_back(std::strtod(text, nullptr));
    } else {
      const double value = std::bit_cast<double>(engine());
      if (std::isfinite(value)) values.push_back(value);
    }
  }
  return values;
}

// "input.dat": INT(8), 3 x EXP(24.15 D), CR LF.
constexpr std::size_t DECK_RECORD = 8 + 3 * 24 + 2;
// "input.plt": 3 x EXP(15.7 E), CR LF.
constexpr std::size_t VIEW_RECORD = 3 * 15 + 2;

std::int64_t times_iterations(const benchmark::State& state, std::size_t per_iteration) {
  return state.iterations() * static_cast<std::int64_t>(per_iteration);
}

void render_deck_records(const std::vector<double>& xyz, char* out) {
  for (std::size_t node = 0; node < NODES; ++node) {
    format::render_int(static_cast<std::int32_t>(node + 1), {out, 8});
    for (std::size_t axis = 0; axis < 3; ++axis) {
      format::render_exp(xyz[3 * node + axis], 15, 'D', {out + 8 + 24 * axis, 24});
    }
    out[80] = '\r';
    out[81] = '\n';
    out += DECK_RECORD;
  }
}

void render_view_records(const std::vector<double>& xyz, char* out) {
  for (std::size_t node = 0; node < NODES; ++node) {
    for (std::size_t axis = 0; axis < 3; ++axis) {
      format::render_exp(xyz[3 * node + axis], 7, 'E', {out + 15 * axis, 15});
    }
    out[45] = '\r';
    out[46] = '\n';
    out += VIEW_RECORD;
  }
}

void BM_DeckNodeRecords(benchmark::State& state, Coordinates kind) {
  const std::vector<double> xyz = make_coordinates(kind);
  std::vector<char> buffer(NODES * DECK_RECORD);
  for (auto _ : state) {
    render_deck_records(xyz, buffer.data());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(times_iterations(state, NODES));
  state.SetBytesProcessed(times_iterations(state, NODES * DECK_RECORD));
}

void BM_ViewNodeRecords(benchmark::State& state, Coordinates kind) {
  const std::vector<double> xyz = make_coordinates(kind);
  std::vector<char> buffer(NODES * VIEW_RECORD);
  for (auto _ : state) {
    render_view_records(xyz, buffer.data());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(times_iterations(state, NODES));
  state.SetBytesProcessed(times_iterations(state, NODES * VIEW_RECORD));
}

// One exponent field at a time; items are fields. The library conversion at
// a fixed precision is measured alongside as the reference point.
void BM_ExpField(benchmark::State& state, Coordinates kind, int digits, char letter,
                 std::size_t width) {
  const std::vector<double> values = make_coordinates(kind);
  std::vector<char> field(width);
  for (auto _ : state) {
    for (const double value : values) {
      format::render_exp(value, digits, letter, field);
      benchmark::DoNotOptimize(field.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(times_iterations(state, values.size()));
}

void BM_LibraryScientific(benchmark::State& state, Coordinates kind, int digits) {
  const std::vector<double> values = make_coordinates(kind);
  char text[32];
  for (auto _ : state) {
    for (const double value : values) {
      auto result =
          std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, digits - 1);
      benchmark::DoNotOptimize(result.ptr);
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(times_iterations(state, values.size()));
}

BENCHMARK_CAPTURE(BM_DeckNodeRecords, stl_like, Coordinates::stl_like);
BENCHMARK_CAPTURE(BM_DeckNodeRecords, any_bits, Coordinates::any_bits);
BENCHMARK_CAPTURE(BM_ViewNodeRecords, stl_like, Coordinates::stl_like);
BENCHMARK_CAPTURE(BM_ViewNodeRecords, any_bits, Coordinates::any_bits);
BENCHMARK_CAPTURE(BM_ExpField, deck_24_15_D_stl_like, Coordinates::stl_like, 15, 'D', 24);
BENCHMARK_CAPTURE(BM_ExpField, deck_24_15_D_any_bits, Coordinates::any_bits, 15, 'D', 24);
BENCHMARK_CAPTURE(BM_ExpField, view_15_7_E_stl_like, Coordinates::stl_like, 7, 'E', 15);
BENCHMARK_CAPTURE(BM_ExpField, view_15_7_E_any_bits, Coordinates::any_bits, 7, 'E', 15);
BENCHMARK_CAPTURE(BM_LibraryScientific, digits_15_stl_like, Coordinates::stl_like, 15);
BENCHMARK_CAPTURE(BM_LibraryScientific, digits_15_any_bits, Coordinates::any_bits, 15);
BENCHMARK_CAPTURE(BM_LibraryScientific, digits_7_stl_like, Coordinates::stl_like, 7);

}  // namespace
