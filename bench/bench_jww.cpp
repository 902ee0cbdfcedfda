// Writing a drawing of 1,000,000 entities (points, lines and texts as the conversion
// makes them), next to plain writes of the same number of bytes.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "jww/jww_file.h"

namespace {

kestrova::JwwDocument& Drawing() {
  static kestrova::JwwDocument doc = [] {
    kestrova::JwwDocument d;
    kestrova::SetFixedHeaderValues(d.Header);
    for (int i = 0; i < 250'000; ++i) {
      kestrova::TDataTen p;
      p.PenStyle = i % 3 == 0 ? 100 : 1;
      p.X = i * 0.5;
      p.Y = i * 0.25;
      kestrova::Add(d, p);
      kestrova::TDataSen l;
      l.EndX = i;
      kestrova::Add(d, l);
      kestrova::TDataMoji name;
      name.FontName = "\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E";
      name.Text = "P" + std::to_string(i);
      kestrova::Add(d, name);
      kestrova::TDataMoji xy = name;
      xy.Text = "-12045.318 ,-30512.406";
      kestrova::Add(d, std::move(xy));
    }
    d.EntityListCount = static_cast<uint32_t>(d.EntityOrder.size());
    return d;
  }();
  return doc;
}

size_t DrawingBytes() {
  static const size_t bytes = [] {
    kestrova::MemoryOutStream s;
    kestrova::WriteJwwDrawing(Drawing(), s, 420);
    return s.Bytes().size();
  }();
  return bytes;
}

void BM_WriteDrawingToMemory(benchmark::State& state) {
  for (auto _ : state) {
    kestrova::MemoryOutStream s;
    kestrova::WriteJwwDrawing(Drawing(), s, 420);
    benchmark::DoNotOptimize(s.Bytes().data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(DrawingBytes()));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Drawing().EntityOrder.size()));
}
BENCHMARK(BM_WriteDrawingToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainWriteToMemory(benchmark::State& state) {
  const std::string source(DrawingBytes(), 'x');
  for (auto _ : state) {
    std::string out;
    for (size_t at = 0; at < source.size(); at += 64)
      out.append(source, at, 64);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(DrawingBytes()));
}
BENCHMARK(BM_PlainWriteToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

const std::filesystem::path kFile = std::filesystem::temp_directory_path() / "kestrova-bench.jww";

void BM_WriteDrawingToFile(benchmark::State& state) {
  for (auto _ : state) {
    kestrova::FileOutStream s(kFile);
    kestrova::WriteJwwDrawing(Drawing(), s, 420);
    s.Commit();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(DrawingBytes()));
}
BENCHMARK(BM_WriteDrawingToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainWriteToFile(benchmark::State& state) {
  const std::string source(DrawingBytes(), 'x');
  for (auto _ : state) {
    std::FILE* f = std::fopen(kFile.c_str(), "wb");
    std::fwrite(source.data(), 1, source.size(), f);
    std::fflush(f);
    std::fclose(f);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(DrawingBytes()));
}
BENCHMARK(BM_PlainWriteToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// A hostile drawing of 45 MB: half of it class tags repeated over and over, the other
// half references to the last of them. Reading it must stay linear.
std::string RepeatedClassTags() {
  kestrova::JwwDocument one;
  kestrova::SetFixedHeaderValues(one.Header);
  kestrova::Add(one, kestrova::TDataSen{});
  one.EntityListCount = 1;
  kestrova::MemoryOutStream s;
  kestrova::WriteJwwDrawing(one, s, 420);
  const std::string single(s.Bytes());
  const size_t objectAt = single.find("CDataSen") - 6;
  const std::string tagged = single.substr(objectAt, single.size() - 2 - objectAt);
  const std::string record = tagged.substr(14);
  const uint32_t tags = 22'500'000 / static_cast<uint32_t>(tagged.size());
  const uint32_t refs = 22'500'000 / static_cast<uint32_t>(6 + record.size());
  const auto append = [](std::string& out, auto v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
  };
  std::string out = single.substr(0, objectAt - 2);
  append(out, uint16_t{0xFFFF});
  append(out, tags + refs);
  for (uint32_t i = 0; i < tags; ++i)
    out += tagged;
  for (uint32_t i = 0; i < refs; ++i) {
    append(out, uint16_t{0x7FFF});
    append(out, 0x80000000u | (2 * tags - 1));
    out += record;
  }
  append(out, uint16_t{0});
  return out;
}

void BM_ReadRepeatedClassTags(benchmark::State& state) {
  static const std::string bytes = RepeatedClassTags();
  for (auto _ : state)
    benchmark::DoNotOptimize(kestrova::ReadJwwDrawing(bytes).EntityOrder.size());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadRepeatedClassTags)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
