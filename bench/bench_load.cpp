// Loading large coordinate files: a 1,000,000-point SIMA file with 100,000 parcels and a
// 1,000,000-point ZHY file, generated once into the temporary folder.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bench/generate.h"
#include "coords/coordinate_file.h"

namespace {

void LoadFile(benchmark::State& state, const std::filesystem::path& path) {
  const auto bytes = std::filesystem::file_size(path);
  int64_t points = 0;
  for (auto _ : state) {
    kestrova::CoordinateData data;
    kestrova::LoadCoordinateFile(path, data, false);
    points = data.Table.PointCount;
    benchmark::DoNotOptimize(data.Table.Points.data());
  }
  state.SetItemsProcessed(state.iterations() * points);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void BM_LoadSima(benchmark::State& state) {
  LoadFile(state, kestrova::bench::GeneratedSima(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_LoadSima)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadZhy(benchmark::State& state) {
  LoadFile(state, kestrova::bench::GeneratedZhy(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_LoadZhy)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Many files appended one after the other, as `kestrova-cli info *.sim` does: the cost
// must grow with the total, not with the number of files times the table.
void BM_AppendManyFiles(benchmark::State& state) {
  const auto files = static_cast<int>(state.range(0));
  const auto path = kestrova::bench::GeneratedSima(static_cast<int>(state.range(1)));
  for (auto _ : state) {
    kestrova::CoordinateData data;
    for (int f = 0; f < files; ++f)
      kestrova::LoadCoordinateFile(path, data, f > 0);
    benchmark::DoNotOptimize(data.Table.Points.data());
  }
  state.SetItemsProcessed(state.iterations() * files * state.range(1));
}
BENCHMARK(BM_AppendManyFiles)
    ->Args({40, 50'000})
    ->Args({3'000, 20})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
