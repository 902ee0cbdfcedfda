#pragma once

// The GIS functions as one table, so that a program can take them from the loadable
// kestrova-gis module (and GDAL with it) only when a command needs them. C++ types cross
// the boundary: the module and the program come from the same build and compiler, and
// the program refuses a module of another build.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "coords/coordinate_file.h"
#include "coords/point_table.h"
#include "gis/gis_export.h"

namespace kestrova {

// Raised whenever a function is added, removed or changes its signature.
inline constexpr uint32_t kGisModuleVersion = 5;

// The sizes of the types passed through the table: a build between two versions that
// changed one of them is told apart by this.
// The points' own layout counts too: the table holds them by value.
inline constexpr uint64_t kGisModuleLayout =
    uint64_t{sizeof(CoordinateData)} | uint64_t{sizeof(GisExportOptions)} << 12 |
    uint64_t{sizeof(GisExport)} << 24 |
    uint64_t{sizeof(std::string) + sizeof(std::filesystem::path) + sizeof(LoadReport)} << 36 |
    uint64_t{sizeof(SurveyPoint)} << 48 | uint64_t{sizeof(SimaBlockRecord)} << 56;
static_assert(sizeof(CoordinateData) < 4096 && sizeof(GisExportOptions) < 4096 &&
              sizeof(GisExport) < 4096 && sizeof(LoadReport) < 2048 && sizeof(SurveyPoint) < 256 &&
              sizeof(SimaBlockRecord) < 256);

struct GisModule {
  uint32_t Version = kGisModuleVersion;
  uint32_t Size = sizeof(GisModule);
  uint64_t Layout = kGisModuleLayout;
  const char* ProgramVersion = nullptr;  // KESTROVA_VERSION of the build

  bool (*LoadAnyCoordinateFile)(const std::filesystem::path& path, const std::string& name,
                                int32_t epsg, CoordinateData& data, bool appendOnLoad,
                                std::vector<std::string>& warnings) = nullptr;
  bool (*GisPointsStream)(const std::filesystem::path& path, const std::string& name,
                          int32_t epsg) = nullptr;
  bool (*StreamGisPoints)(const std::filesystem::path& path, const std::string& name, int32_t epsg,
                          LoadSink& sink, CoordinateData& data, LoadReport& report,
                          std::vector<std::string>& warnings) = nullptr;
  int32_t (*GisFileSystem)(const std::filesystem::path& path, const std::string& name) = nullptr;
  std::optional<GisFormat> (*GisFormatFromName)(std::string_view name) = nullptr;
  const char* (*GisFormatTitle)(GisFormat format) = nullptr;
  bool (*GisFormatNeedsSystem)(GisFormat format) = nullptr;
  GisExport (*BuildGisExport)(const CoordinateData& data, const GisExportOptions& options,
                              const std::string& fileName) = nullptr;
  GisExport (*BuildGisExportFrom)(const GisSource& source, const GisExportOptions& options,
                                  const std::string& fileName) = nullptr;
  void (*WriteGisExport)(const GisExport& gis, const std::filesystem::path& target) = nullptr;
  std::vector<std::string> (*GisExportWarnings)(const GisExport& gis,
                                                const std::string& name) = nullptr;
};

}  // namespace kestrova

// The module's one exported symbol; the table lives as long as the module is loaded.
extern "C" const kestrova::GisModule* KestrovaGisModule();

// Its name, for dlsym.
inline constexpr char kGisModuleEntry[] = "KestrovaGisModule";
