// Tokens per second of the coordinate conversion: the forms STL writers
// print, and long tokens that take the multi-word way.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "reading/coordinate.h"

namespace {

constexpr int TOKEN_COUNT = 4096;

// Coordinates of a model some hundred units across, with a few tiny ones
// that a writer prints with a negative exponent.
std::vector<std::string> printed_tokens(const char* format) {
  std::mt19937_64 random(1);
  std::uniform_real_distribution<double> coordinate(-300.0, 300.0);
  std::vector<std::string> tokens;
  for (int i = 0; i < TOKEN_COUNT; ++i) {
    double value = coordinate(random);
    if (i % 16 == 0) value *= 1e-8;
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    tokens.emplace_back(text);
  }
  return tokens;
}

// 19 to 40 significant digits, exponents over the whole double range.
std::vector<std::string> long_tokens() {
  std::mt19937_64 random(2);
  std::vector<std::string> tokens;
  for (int i = 0; i < TOKEN_COUNT; ++i) {
    std::string token = "-0.";
    const auto count = 19 + random() % 22;
    for (std::size_t d = 0; d < count; ++d) {
      token += static_cast<char>('0' + (d == 0 ? 1 + random() % 9 : random() % 10));
    }
    token += 'E';
    token += std::to_string(static_cast<int>(random() % 600) - 300);
    tokens.push_back(token);
  }
  return tokens;
}

void convert_all(benchmark::State& state, const std::vector<std::string>& tokens) {
  for (auto _ : state) {
    for (const auto& token : tokens) {
      double value = 0.0;
      const bool converted = reading::parse_coordinate(token, value);
      benchmark::DoNotOptimize(converted);
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(tokens.size()));
  // Seconds per token, shown with a unit prefix ("8.1n").
  state.counters["per_token"] = benchmark::Counter(
      static_cast<double>(tokens.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ConvertShortestStyle(benchmark::State& state) {  // "17.5", "-1.73818", "2.86102e-06"
  static const auto tokens = printed_tokens("%.6g");
  convert_all(state, tokens);
}
BENCHMARK(BM_ConvertShortestStyle);

void BM_ConvertExponentStyle(benchmark::State& state) {  // "-1.73818004E+00"
  static const auto tokens = printed_tokens("%.8E");
  convert_all(state, tokens);
}
BENCHMARK(BM_ConvertExponentStyle);

void BM_ConvertLongTokens(benchmark::State& state) {  // "-0.1234567890123456789012E-287"
  static const auto tokens = long_tokens();
  convert_all(state, tokens);
}
BENCHMARK(BM_ConvertLongTokens);

}  // namespace
