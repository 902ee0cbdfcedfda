// Several coordinate files appended one after the other, from arbitrary bytes: a settings
// file and up to four coordinate files, split at NUL bytes. Loaded into a table (the first
// replacing, the rest appending) and gathered in temporary files (tiny parts and buckets,
// small read pieces), both must refuse the same file alike, warn the same per file
// (repeated numbers included) and write the same entities.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_file.h"
#include "common/error.h"
#include "coords/convert.h"
#include "coords/coordinate_file.h"
#include "coords/streamed_drawing.h"
#include "fuzz_support.h"
#include "jww/header.h"
#include "jww/stream.h"

namespace {

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines)
    out += line + "\n";
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  using fuzz::Require;
  fuzz::Bytes in(data, size);
  const uint8_t shape = in.Byte();
  const OutputSettings settings = ReadSettings(IniFile::Parse(in.Text()), "");
  std::vector<std::string> files;
  while (files.size() < 4 && !in.Rest().empty())
    files.emplace_back(in.Text());
  if (files.size() < 2) return 0;
  const int baseRow = shape % 5;
  const uint32_t version = shape & 0x80 ? 420 : 230;
  JwwHeader header;
  SetFixedHeaderValues(header);

  std::string table;
  try {
    CoordinateData coords;
    for (size_t f = 0; f < files.size(); ++f) {
      LoadReport report;
      const std::string name = "file" + std::to_string(f);
      if (!LoadCoordinateText(files[f], name, coords, f > 0, &report)) {
        throw Error(name + ": fewer than two lines");
      }
      table += Joined(LoadWarnings(report, name));
    }
    if (coords.Table.PointCount == 0) throw Error("no points");
    DataBounds bounds;
    ComputeDataBounds(coords.Table, bounds);
    const DrawingPlan plan = PlanDrawing(coords, bounds, settings, header.TextKinds, baseRow);
    MemoryOutStream out;
    Require(WritePlannedEntities(plan, out, version));
    table += out.Bytes();
  } catch (const Error& e) {
    table = std::string("error: ") + e.what();
  }

  std::string streamed;
  try {
    // Every other run keeps the gathered files in memory: disk is slow, and the parts
    // and buckets are as tiny either way.
    const size_t inMemory = shape & 0x40 ? SIZE_MAX : 300;
    StreamedDrawingData gathered(baseRow,
                                 StreamTuning{1 + shape % 3u, 1 + shape / 3 % 4u, inMemory});
    const LoadTuning pieces{1 + shape / 12 % 64u, 1 + shape / 12 % 3u};
    CoordinateData counts;
    std::vector<LoadReport> reports(files.size());
    for (size_t f = 0; f < files.size(); ++f) {
      const std::string name = "file" + std::to_string(f);
      gathered.StartFile();
      if (!StreamCoordinateText(files[f], name, gathered, counts, &reports[f], nullptr, pieces)) {
        throw Error(name + ": fewer than two lines");
      }
    }
    const std::vector<RepeatedNumbers> repeated = gathered.Finish();
    Require(repeated.size() == files.size());
    for (size_t f = 0; f < files.size(); ++f) {
      TakeRepeats(reports[f], repeated[f]);
      if (f < gathered.Gaps().size()) TakeGaps(reports[f], gathered.Gaps()[f]);
      streamed += Joined(LoadWarnings(reports[f], "file" + std::to_string(f)));
    }
    if (gathered.PointCount() == 0) throw Error("no points");
    const StreamedDrawingPlan plan =
        PlanStreamedDrawing(gathered, counts.Sima.SimaLoaded, settings, header.TextKinds);
    MemoryOutStream out;
    Require(WriteStreamedEntities(plan, out, version));
    streamed += out.Bytes();
  } catch (const Error& e) {
    streamed = std::string("error: ") + e.what();
  }
  Require(streamed == table);
  return 0;
}
