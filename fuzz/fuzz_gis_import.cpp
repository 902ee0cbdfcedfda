// Points read from a GeoJSON file or a GeoPackage, from arbitrary bytes kept in GDAL's
// memory files. The first byte chooses the format, the survey system and whether the
// points append to a site already loaded. A load either refuses with kestrova::Error,
// leaving the site as it was, or adds the file's points, every one with finite
// coordinates and texts within their limits.

#include <cpl_vsi.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/error.h"
#include "coords/coordinate_file.h"
#include "fuzz_support.h"
#include "gis/gis_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  using fuzz::Require;
  if (size == 0) return 0;
  const uint8_t how = data[0];
  static const char* const kFiles[] = {"/vsimem/fuzz.geojson", "/vsimem/fuzz.gpkg"};
  static const int32_t kSystems[] = {0, 6677, 2451, 4326};
  const std::string file = kFiles[how % 2];
  const int32_t epsg = kSystems[how / 2 % 4];
  const bool append = how / 8 % 2;

  // A site of one point that an append keeps.
  CoordinateData site;
  SurveyPoint& first = AppendPoint(site.Table);
  first.Number = 7;
  first.Name = "P7";
  first.X = 100.0;
  first.Y = 200.0;
  const int32_t before = site.Table.PointCount;

  VSILFILE* f = VSIFileFromMemBuffer(file.c_str(), const_cast<GByte*>(data + 1), size - 1, FALSE);
  Require(f != nullptr);
  VSIFCloseL(f);
  LoadReport report;
  bool loaded = false;
  try {
    LoadGisPoints(file, "fuzz", epsg, site, append, report);
    loaded = true;
  } catch (const Error&) {
  }
  VSIUnlink(file.c_str());
  // GeoPackage leaves its journal beside the file.
  VSIUnlink((file + "-journal").c_str());
  VSIUnlink((file + "-wal").c_str());

  if (!loaded) {
    Require(site.Table.PointCount == before && site.Table.Points[1].Number == 7 &&
            site.Table.Points[1].Name == "P7");
    return 0;
  }
  Require(site.Table.PointCount > (append ? before : 0));
  for (int32_t r = 1; r <= site.Table.PointCount; ++r) {
    const SurveyPoint& p = site.Table.Points[r];
    Require(std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Z));
    Require(p.Name.size() <= kNameLimit && p.Mark.size() <= kMarkLimit &&
            p.Remarks.size() <= kRemarksLimit);
  }
  return 0;
}
