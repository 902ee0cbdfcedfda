// An export of points gathered in temporary files must be byte for byte the export of the
// same files loaded into a table: parcels, triangles and polylines looked up among all the
// points, the drawing's lines and labels, with the smallest parts the gathering can use.

#include <cpl_conv.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cli/gis_source.h"
#include "common/error.h"
#include "coords/coordinate_file.h"
#include "coords/streamed_drawing.h"
#include "gis/gis_export.h"
#include "support/random_sima.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// Every file of an export with its bytes, and what it says about itself.
std::string Describe(const GisExport& gis) {
  std::string out;
  for (const GisFile& f : gis.Files) {
    out += "== " + f.Name + "\n";
    WriteGisFile(f, [&out](std::string_view bytes) { out += bytes; });
  }
  for (const GisLayerCount& l : gis.Layers)
    out += "\n" + l.Layer + " " + std::to_string(l.Features);
  out += "\n" + std::to_string(gis.parcelsNotWritten) + " " +
         std::to_string(gis.trianglesNotWritten) + " " + std::to_string(gis.textsCut) + " " +
         std::to_string(gis.blanksDropped);
  return out;
}

// A folder of the test's own, removed however the test ends.
struct TestFolder {
  fs::path path =
      fs::temp_directory_path() / ("kestrova-gis-streamed-" + std::to_string(::getpid()));
  TestFolder() {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TestFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

TEST(GisFromGatheredPoints, EveryFormatIsTheTablesExport) {
  // A GeoPackage notes when its tables changed: the same moment for both.
  CPLSetConfigOption("OGR_CURRENT_DATE", "2026-12-08T00:00:00.000Z");
  struct Now {
    ~Now() { CPLSetConfigOption("OGR_CURRENT_DATE", nullptr); }
  } now;
  const TestFolder folder;
  const fs::path& dir = folder.path;
  std::mt19937 rng(20261207);
  for (int site = 0; site < 4; ++site) {
    SCOPED_TRACE("site " + std::to_string(site));
    // Two files: the second's numbers repeat the first's, and parcels of either name
    // points of the other.
    std::vector<fs::path> files;
    for (const int points : {20 + site * 50, 15 + site * 10}) {
      files.push_back(dir / ("in" + std::to_string(files.size()) + ".sim"));
      std::ofstream(files.back(), std::ios::binary) << test::RandomSima(rng, points);
    }
    CoordinateData table;
    for (size_t i = 0; i < files.size(); ++i)
      ASSERT_TRUE(LoadCoordinateFile(files[i], table, i > 0));

    // Tiny parts and buckets, moving to files after a few records; then every file on
    // disk from the start.
    for (const StreamTuning tuning : {StreamTuning{3, 2, 400}, StreamTuning{1, 1, 0}}) {
      for (const GisFormat format : {GisFormat::kDxf, GisFormat::kGeoJson, GisFormat::kKml,
                                     GisFormat::kShp, GisFormat::kGpkg}) {
        // A DXF, the drawing, takes what a drawing is gathered with; the other formats
        // what is gathered for an export.
        for (const bool forExport : {true, false}) {
          if (!forExport && format != GisFormat::kDxf) continue;
          SCOPED_TRACE(std::string(GisFormatTitle(format)) + ", parts of " +
                       std::to_string(tuning.pointsPerPartition) +
                       (forExport ? ", for an export" : ", for a drawing"));
          StreamedDrawingData data(0, tuning,
                                   forExport ? StreamedUse::kExport : StreamedUse::kDrawing);
          CoordinateData counts;
          for (const fs::path& file : files) {
            data.StartFile();
            ASSERT_TRUE(StreamCoordinateFile(file, data, counts));
          }
          data.Finish();
          GisExportOptions options;
          options.Format = format;
          options.Epsg = format == GisFormat::kDxf ? 0 : 6677;
          options.Settings.Point.EnkoFlg = true;
          options.Settings.XYcoord.OutFlg = true;
          const std::string name = "site.ext";
          const cli::StreamedGisSource source(data, counts.Sima.SimaLoaded);
          EXPECT_EQ(Describe(BuildGisExportFrom(source, options, name)),
                    Describe(BuildGisExport(table, options, name)));
        }
      }
    }
  }
}

}  // namespace
}  // namespace kestrova
