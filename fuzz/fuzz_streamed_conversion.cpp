// A settings file and a coordinate file from arbitrary bytes (split at the first NUL),
// converted once from a table and once from points gathered in temporary files (tiny
// parts and buckets, files moving to disk after a few records): both must refuse alike
// or write the same entities.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/settings_file.h"
#include "common/error.h"
#include "coords/convert.h"
#include "coords/coordinate_file.h"
#include "coords/streamed_drawing.h"
#include "jww/header.h"
#include "jww/stream.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const size_t cut = all.find('\0');
  if (cut == std::string_view::npos) return 0;
  const OutputSettings settings = ReadSettings(IniFile::Parse(all.substr(0, cut)), "");
  const std::string text(all.substr(cut + 1));
  const int baseRow = static_cast<int>(size % 5);
  const uint32_t version = size % 2 ? 420 : 230;
  JwwHeader header;
  SetFixedHeaderValues(header);

  std::string table;
  try {
    CoordinateData coords;
    if (!LoadCoordinateText(text, "fuzz", coords, false)) return 0;
    if (coords.Table.PointCount == 0) return 0;
    DataBounds bounds;
    ComputeDataBounds(coords.Table, bounds);
    const DrawingPlan plan = PlanDrawing(coords, bounds, settings, header.TextKinds, baseRow);
    MemoryOutStream out;
    Require(WritePlannedEntities(plan, out, version));
    table = std::string(out.Bytes());
  } catch (const Error& e) {
    table = std::string("error: ") + e.what();
  }

  std::string streamed;
  try {
    StreamedDrawingData gathered(baseRow, StreamTuning{2, 3, 400});
    CoordinateData counts;
    gathered.StartFile();
    Require(StreamCoordinateText(text, "fuzz", gathered, counts));
    gathered.Finish();
    const StreamedDrawingPlan plan =
        PlanStreamedDrawing(gathered, counts.Sima.SimaLoaded, settings, header.TextKinds);
    MemoryOutStream out;
    Require(WriteStreamedEntities(plan, out, version));
    streamed = std::string(out.Bytes());
  } catch (const Error& e) {
    streamed = std::string("error: ") + e.what();
  }
  Require(streamed == table);
  return 0;
}
