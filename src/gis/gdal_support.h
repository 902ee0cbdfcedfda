#pragma once

// What the GIS export and import share: GDAL's set-up, its errors as kestrova::Error,
// coordinate systems in easting/northing order, and the folders GDAL writes files into.

#include <cpl_error.h>
#include <ogr_spatialref.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kestrova::gis {

// Registers GDAL's drivers once.
void EnsureGdal();

// Keeps GDAL's messages off standard error while it lives; the last one is asked for
// when a call fails.
class QuietGdal {
 public:
  QuietGdal();
  ~QuietGdal();
  QuietGdal(const QuietGdal&) = delete;
  QuietGdal& operator=(const QuietGdal&) = delete;
  // "what: GDAL's last message" (or just what when GDAL said nothing).
  static std::string Explain(const std::string& what);
};

// What Explain adds to a text: ": GDAL's last message", or nothing.
std::string GdalReason();

// The survey system by its EPSG code, x = easting and y = northing whatever axis order
// the definition has. A code PROJ does not know, or one that is not a plane (projected)
// system, is refused with kestrova::Error.
std::unique_ptr<OGRSpatialReference> SurveyReference(int32_t epsg);

// WGS 84 longitude/latitude, x = longitude.
std::unique_ptr<OGRSpatialReference> Wgs84Reference();

// Where a survey system is meant for, in its own metres: the area of use its definition
// gives, widened on every side by kMargin. A point outside it is a mistyped coordinate or
// the wrong system; past the pole, a plane system's longitude and latitude wrap around.
struct SurveyArea {
  static constexpr double kMargin = 100'000;  // metres
  double minEast = 0, minNorth = 0, maxEast = 0, maxNorth = 0;
  bool Holds(double east, double north) const {
    return east >= minEast && east <= maxEast && north >= minNorth && north <= maxNorth;
  }
};
// Empty where the definition gives no area or it cannot be converted.
std::optional<SurveyArea> AreaOfUse(const OGRSpatialReference& survey);

// A conversion from one system to another better than any this machine can make at a
// place: it needs correction grids that are not installed (JGD2000 to JGD2011 in the
// areas the 2011 earthquake moved, without PROJ's grid for it), and PROJ falls back to a
// plainer one without a word.
struct MissingGrids {
  std::string grids;    // their names, comma separated
  double accuracy = 0;  // metres, of the conversion that needs them
  std::string area;     // where that conversion applies, as EPSG describes it
};
std::optional<MissingGrids> BetterConversionMissing(const OGRSpatialReference& source,
                                                    const OGRSpatialReference& target,
                                                    double longitude, double latitude);

// A folder of its own in the system's temporary folder, for files GDAL writes that are
// too large to keep in memory, or in GDAL's memory when none can be made there; removed
// with everything in it at the end. Its files are read and written through GDAL's
// file functions (VSIFOpenL ...), which take either.
class ScratchFolder {
 public:
  ScratchFolder();
  // Why the folder is in memory, empty when it is on disk.
  const std::string& InMemoryBecause() const { return inMemoryBecause_; }
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string inMemoryBecause_;
};

}  // namespace kestrova::gis
