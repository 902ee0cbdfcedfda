#include "gis/gis_module.h"

#include "gis/gis_import.h"

#if defined(__GNUC__) && !defined(_WIN32)
#define KESTROVA_GIS_EXPORT __attribute__((visibility("default")))
#else
#define KESTROVA_GIS_EXPORT
#endif

extern "C" KESTROVA_GIS_EXPORT const kestrova::GisModule* KestrovaGisModule() {
  using namespace kestrova;
  static const GisModule table = [] {
    GisModule t;
    t.ProgramVersion = KESTROVA_VERSION;
    t.LoadAnyCoordinateFile = &LoadAnyCoordinateFile;
    t.GisPointsStream = &GisPointsStream;
    t.StreamGisPoints = &StreamGisPoints;
    t.GisFileSystem = &GisFileSystem;
    t.GisFormatFromName = &GisFormatFromName;
    t.GisFormatTitle = &GisFormatTitle;
    t.GisFormatNeedsSystem = &GisFormatNeedsSystem;
    t.BuildGisExport = &BuildGisExport;
    t.BuildGisExportFrom = &BuildGisExportFrom;
    t.WriteGisExport = &WriteGisExport;
    t.GisExportWarnings = &GisExportWarnings;
    return t;
  }();
  return &table;
}
