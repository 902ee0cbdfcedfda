#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/messages.h"
#include "common/progress.h"
#include "coords/coordinate_file.h"
#include "coords/point_table.h"

namespace kestrova {

// A file to read through GDAL: ".gpkg", ".geojson", ".json" or ".shp", without regard
// to case.
bool IsGisFile(const std::filesystem::path& path);

// Reads the points of a GeoPackage, GeoJSON or Shapefile: the layer named "points", or
// else the first layer of points. The fields number (or no), name, z, mark, remarks and
// marked are found without regard to case; a missing number is the row's, a missing z
// the geometry's height, a missing marked 1. The positions are converted into the
// survey system epsg (x easting to Y, y northing to X); with epsg 0 a plane system the
// layer has is kept, and longitude/latitude are refused.
//
// All or nothing, like every load: the table changes only when every point was read;
// kestrova::Error names the file (and feature) otherwise. With appendOnLoad the points
// follow the existing rows, else they replace the points and the SIMA records. Texts are
// brought to code page 932; report counts what could not be. Returns further warnings
// (UTF-8) starting with name, in language.
std::vector<std::string> LoadGisPoints(const std::filesystem::path& path, const std::string& name,
                                       int32_t epsg, CoordinateData& data, bool appendOnLoad,
                                       LoadReport& report, Language language = Language::kEnglish,
                                       ProgressMonitor* progress = nullptr);

// Whether the points of a GIS file can be handed to a load's sink as they are read (see
// StreamGisPoints): their texts can be decoded one by one, and every point is marked. Throws
// kestrova::Error as LoadGisPoints does for a file it cannot open. The file stays open for the
// reading that follows.
bool GisPointsStream(const std::filesystem::path& path, const std::string& name, int32_t epsg);

// The EPSG code of the projected system a GIS file's points are in, 0 when it names none,
// names one in degrees or cannot be opened. The file stays open for a reading in that system
// (epsg 0).
int32_t GisFileSystem(const std::filesystem::path& path, const std::string& name);

// Reads the points of a GIS file as an appending LoadGisPoints does, handing them to sink
// a range at a time as they are read, and then the parcels and polylines beside them:
// data's table only counts the rows, and data.Sima.SimaLoaded becomes false. report and warnings
// get what LoadGisPoints gives them, but for repeated point numbers, which only the sink can count.
// Returns false when the points need a table after all (GisPointsStream), as soon as that shows:
// what the sink took before stays taken.
bool StreamGisPoints(const std::filesystem::path& path, const std::string& name, int32_t epsg,
                     LoadSink& sink, CoordinateData& data, LoadReport& report,
                     std::vector<std::string>& warnings);

// How the parcels and polylines beside the points find the points they run through:
// the points' places sorted in memory up to pointsPerPart at a time (more parts for a
// file of long texts), the points found for up to verticesPerBucket vertices at a time.
struct PlaceJoinTuning {
  size_t pointsPerPart = 500'000;
  size_t verticesPerBucket = 1'000'000;
};
bool StreamGisPoints(const std::filesystem::path& path, const std::string& name, int32_t epsg,
                     LoadSink& sink, CoordinateData& data, LoadReport& report,
                     std::vector<std::string>& warnings, const PlaceJoinTuning& tuning);

}  // namespace kestrova

namespace kestrova {

// The load every front end uses: GIS files through GDAL, every other file through the
// coordinate readers. Returns false for a coordinate file of fewer than two lines (as
// LoadCoordinateFile does); warnings collects what the user should hear (UTF-8).
bool LoadAnyCoordinateFile(const std::filesystem::path& path, const std::string& name, int32_t epsg,
                           CoordinateData& data, bool appendOnLoad,
                           std::vector<std::string>& warnings);

}  // namespace kestrova
