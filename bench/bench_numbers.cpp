#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "common/number_text.h"

namespace {

std::vector<double> SampleCoordinates() {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> d(-150000.0, 150000.0);
  std::vector<double> v(4096);
  for (double& x : v)
    x = d(rng);
  return v;
}

void BM_RoundOff(benchmark::State& state) {
  const auto values = SampleCoordinates();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrova::RoundOff(34, values[i++ & 4095]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoundOff);

void BM_GeneralText(benchmark::State& state) {
  const auto values = SampleCoordinates();
  std::string out;
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    kestrova::AppendGeneral(out, kestrova::RoundOff(64, values[i++ & 4095]));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GeneralText);

void BM_FixedText(benchmark::State& state) {
  const auto values = SampleCoordinates();
  std::string out;
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    kestrova::AppendFixed(out, kestrova::RoundOff(34, values[i++ & 4095]), 8, 3);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FixedText);

void BM_ParseFloat(benchmark::State& state) {
  const auto values = SampleCoordinates();
  std::vector<std::string> texts;
  for (double v : values)
    texts.push_back(kestrova::FormatGeneral(kestrova::RoundOff(64, v)));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrova::ParseFloat(texts[i++ & 4095]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseFloat);

}  // namespace
