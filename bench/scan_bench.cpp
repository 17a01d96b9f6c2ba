// The facet scanner on a large generated model read from a file in the page
// cache: MB/s of STL text and facets per second, along the converter's own
// path (the scanner filling the facet stream, which converts each batch
// into the mesh store on the scanning thread), as in a real run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "io/line_reader.h"
#include "mesh/mesh_store.h"
#include "reading/facet_stream.h"
#include "reading/stl_scanner.h"
#include "reading/store_filling.h"

namespace {

constexpr int FACETS = 200'000;

void append_number(std::string& text, double value) {
  char digits[32];
  const auto end =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6).ptr;
  text.append(digits, end);
}

// A model in the style CAD exporters write, numbers as "%.6g" gives them.
std::string generated_model(const char* number_style) {
  std::string text = "solid bench\n";
  for (int f = 0; f < FACETS; ++f) {
    text += "  facet normal 0 0 1\n    outer loop\n";
    for (int corner = 0; corner < 3; ++corner) {
      text += "      vertex";
      for (int axis = 0; axis < 3; ++axis) {
        const double value = 40.0 * std::sin(0.001 * f + corner + 1.7 * axis);
        text += ' ';
        if (number_style == nullptr) {
          append_number(text, value);
        } else {
          char digits[32];
          std::snprintf(digits, sizeof digits, number_style, value);
          text += digits;
        }
      }
      text += '\n';
    }
    text += "    endloop\n  endfacet\n";
  }
  return text + "endsolid bench\n";
}

void scan_model(benchmark::State& state, const char* number_style) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("stldeck-scan-bench-" + std::to_string(::getpid()));
  const std::string model = generated_model(number_style);
  std::ofstream(file, std::ios::binary) << model;
  // The store is reused, so that every pass writes to memory already
  // committed.
  mesh::MeshStore store;
  if (!store.reserve()) state.SkipWithError("no memory for the store");
  for (auto _ : state) {
    store.clear();
    const int fd = ::open(file.c_str(), O_RDONLY);
    io::LineReader stl(fd, file.string());
    reading::StoreFilling filling(store);
    reading::FacetStream facets(filling, mesh::MAX_FACETS);
    if (!facets.start()) state.SkipWithError("no memory for the stream");
    const reading::ScanOutcome outcome = facets.finish(reading::scan_stl(stl, facets));
    benchmark::DoNotOptimize(outcome.facets);
  }
  std::filesystem::remove(file);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(model.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * FACETS);
  state.counters["facets/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * FACETS,
                                                  benchmark::Counter::kIsRate);
}

void BM_ScanShortNumbers(benchmark::State& state) { scan_model(state, nullptr); }
void BM_ScanExponentFields(benchmark::State& state) { scan_model(state, "% .8E"); }

BENCHMARK(BM_ScanShortNumbers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanExponentFields)->Unit(benchmark::kMillisecond);

}  // namespace
