#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "coords/output_settings.h"
#include "coords/point_table.h"
#include "jww/header.h"

namespace kestrova {

// The formats GIS and other CAD programs read, written through GDAL.
enum class GisFormat { kGpkg, kGeoJson, kDxf, kKml, kShp };

// "gpkg", "geojson", "dxf", "kml", "shp".
std::optional<GisFormat> GisFormatFromName(std::string_view name);
// ".gpkg", ".geojson" (or ".json"), ".dxf", ".kml", ".shp", without regard to case.
std::optional<GisFormat> GisFormatFromPath(const std::filesystem::path& path);
// "GeoPackage", "GeoJSON", "DXF", "KML", "Shapefile".
const char* GisFormatTitle(GisFormat format);
// GeoJSON and KML hold longitude/latitude and the GIS formats are placed by their
// system; only DXF is a plain drawing in the survey coordinates.
bool GisFormatNeedsSystem(GisFormat format);

struct GisExportOptions {
  GisFormat Format = GisFormat::kGpkg;
  int32_t Epsg = 0;  // the survey coordinate system; 0 for none (DXF only)
  // DXF: layers, which labels, their base points and text kinds, as in the Jw_cad drawing.
  OutputSettings Settings;
  std::array<JwwTextKind, 10> TextKinds{};  // sizes of text kinds 1..10 in paper mm
};

// One file of an export. A Shapefile is several (.shp, .shx, .dbf, .prj, .cpg for the
// points, and one such set per further layer); every other format is one file.
using GisFileSink = std::function<void(std::string_view bytes)>;

struct GisFile {
  std::string Name;  // file name in the target's folder
  std::string Bytes;
  // A file too large to hold whole (a DXF) is made piece by piece instead, each piece
  // handed to the sink as it is made; it reads the data the export was built from,
  // which must outlive it.
  std::function<void(const GisFileSink& sink)> Stream;
  // The finished file on disk the stream copies whole, when there is one: a file being
  // saved may take it instead of its bytes.
  std::filesystem::path Finished;
};

// Hands the file's bytes to sink, as held or as they are made.
inline void WriteGisFile(const GisFile& file, const GisFileSink& sink) {
  if (file.Stream) {
    file.Stream(sink);
  } else {
    sink(file.Bytes);
  }
}
// The same into a file being written.
inline void WriteGisFile(const GisFile& file, AtomicFileWriter& to) {
  if (!file.Finished.empty() && to.Adopt(file.Finished)) return;
  WriteGisFile(file, [&to](std::string_view bytes) { to.Write(bytes.data(), bytes.size()); });
}

struct GisLayerCount {
  std::string Layer;
  size_t Features = 0;
};

struct GisExport {
  std::vector<GisFile> Files;  // the first is the file the user named
  std::vector<GisLayerCount> Layers;
  size_t parcelsNotWritten = 0;    // naming a point the table does not hold
  size_t trianglesNotWritten = 0;  // the same for "E01" triangles
  size_t textsCut = 0;             // Shapefile: texts beyond its 254 bytes a field
  size_t blanksDropped = 0;        // Shapefile: points with texts its readers trim
  size_t kmlBlanksDropped = 0;     // KML: points with texts that begin with blanks
  // Points outside the area their system is meant for, and the first of them.
  size_t pointsFar = 0;
  std::string firstFar;
  std::string surveySystem;
  // Why GDAL's files were made in memory: no temporary folder could be made.
  std::string madeInMemory;
};

// What an export is made from, read from the start as often as the export needs.
class GisSource {
 public:
  virtual ~GisSource() = default;
  // The last file read was SIMA (the drawing has survey axes).
  virtual bool SimaLoaded() const = 0;
  // How many points EachPoint gives.
  virtual size_t PointCount() const = 0;
  // Every point, in order.
  virtual void EachPoint(const std::function<void(const SurveyPoint&)>& take) const = 0;
  // Every parcel and polyline in order, each with the point every one of its records
  // names: the first point of all with that number (its number and position at least),
  // null where none has it.
  virtual void EachBlock(
      const std::function<void(const SimaBlock&, const std::vector<const SurveyPoint*>&)>& take)
      const = 0;
  // The parcels' lines and labels as the drawing has them.
  virtual void EachLine(const std::function<void(const SimaLine&)>& take) const = 0;
  virtual void EachText(const std::function<void(const SimaText&)>& take) const = 0;
};

// Builds the export of the points and the parcels, boundary lines, triangles and
// polylines a SIMA file brought. fileName is the name the user gave (its stem names the
// Shapefile layers). Throws kestrova::Error for an unknown or unsuitable system, a
// position that cannot be converted, or a failure inside GDAL.
GisExport BuildGisExport(const CoordinateData& data, const GisExportOptions& options,
                         const std::string& fileName);
// The same from a source, which must outlive the export.
GisExport BuildGisExportFrom(const GisSource& source, const GisExportOptions& options,
                             const std::string& fileName);

// The files of an export beside target (the first as target itself). A Shapefile set is
// written beside the file target finally names when it is a symbolic link, named after
// that file, and as one: every file is replaced, and the extra layers of an earlier
// export to the same name that this one does not have are removed, or, when one of
// them cannot be, the files stay as they were.
void WriteGisExport(const GisExport& gis, const std::filesystem::path& target);

// Every file name a Shapefile export named STEM.shp may write, the points' set and the
// extra layers' (STEM_parcels.shp ...), extensions in lower case.
inline std::vector<std::string> ShapefileSetNames(const std::string& stem) {
  std::vector<std::string> out;
  for (const char* layer : {"", "_parcels", "_parcel_lines", "_triangles", "_polylines"}) {
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"})
      out.push_back(stem + layer + ext);
  }
  return out;
}

// Warnings about what the export could not hold (UTF-8), each starting with name.
std::vector<std::string> GisExportWarnings(const GisExport& gis, const std::string& name);
// The same in either language.
std::vector<std::string> GisExportWarnings(const GisExport& gis, const std::string& name,
                                           Language language);

}  // namespace kestrova

namespace kestrova {

// Builds and writes an export to path in one go (the desktop program's export command);
// returns it for its layer counts and warnings.
GisExport ExportGisFile(const CoordinateData& data, const GisExportOptions& options,
                        const std::filesystem::path& path);

}  // namespace kestrova
