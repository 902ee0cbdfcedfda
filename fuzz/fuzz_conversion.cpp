// A settings file and a coordinate file from arbitrary bytes (split at the first NUL),
// converted to a drawing: nothing that is not finite may reach it, and every version
// written must read back.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/settings_file.h"
#include "common/error.h"
#include "coords/convert.h"
#include "coords/coordinate_file.h"
#include "jww/jww_file.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

void RequireFinite(std::initializer_list<double> values) {
  for (double v : values)
    Require(std::isfinite(v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const size_t cut = all.find('\0');
  if (cut == std::string_view::npos) return 0;
  const OutputSettings settings = ReadSettings(IniFile::Parse(all.substr(0, cut)), "");
  CoordinateData coords;
  try {
    if (!LoadCoordinateText(std::string(all.substr(cut + 1)), "fuzz", coords, false)) return 0;
  } catch (const Error&) {
    return 0;
  }
  DataBounds bounds;
  ComputeDataBounds(coords.Table, bounds);
  JwwDocument doc;
  SetFixedHeaderValues(doc.Header);
  try {
    ConvertPointsToDrawing(coords, bounds, settings, doc.Header.TextKinds,
                           static_cast<int>(size % 5), doc);
  } catch (const Error&) {
    return 0;
  }
  for (const TDataTen& e : doc.TenList)
    RequireFinite({e.X, e.Y, e.RotationAngle, e.Scale});
  for (const TDataEnko& e : doc.EnkoList)
    RequireFinite({e.CenterX, e.CenterY, e.Radius});
  for (const TDataSen& e : doc.SenList)
    RequireFinite({e.StartX, e.StartY, e.EndX, e.EndY});
  for (const TDataMoji& e : doc.MojiList)
    RequireFinite({e.StartX, e.StartY, e.EndX, e.EndY, e.SizeX, e.SizeY, e.Spacing});
  static const uint32_t kVersions[] = {420, 351, 300, 230, 225, 223, 220};
  const uint32_t version = kVersions[size % 7];
  doc.Header.Version = version;
  MemoryOutStream out;
  Require(WriteJwwDrawing(doc, out, version));
  const JwwDocument back = ReadJwwDrawing(out.Bytes());
  Require(back.EntityOrder.size() == doc.EntityOrder.size());
  return 0;
}
