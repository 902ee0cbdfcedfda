#pragma once

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "coords/output_settings.h"
#include "coords/point_table.h"
#include "coords/streamed_drawing.h"
#include "jww/header.h"
#include "jww/jwcad_settings.h"

namespace kestrova::cli {

// A command line that parses but asks for something impossible (exit status 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loads the files in order, the first replacing and the rest appending. A file of
// fewer than two lines is an error here: the user named it and would get nothing.
// GeoPackage, GeoJSON and Shapefile points are converted into the survey system crs
// ("EPSG:N"; empty keeps a plane system the file has).
// warn: whether the loads' warnings are written to standard error. drawn: whether the
// lines and labels of the parcels a drawing shows are kept (an export makes its own
// shapes from the parcels, and a large site's lines take more room than its points).
// gisBlocks (may be null) takes, per file, the parcels and polylines of a GIS file, which
// are not drawn.
CoordinateData LoadFiles(const std::vector<std::string>& files, const std::string& crs = {},
                         bool warn = true, bool drawn = true,
                         std::vector<size_t>* gisBlocks = nullptr);

// Some of the files are read through GDAL.
bool AnyGisInput(const std::vector<std::string>& files);
// The parcels and polylines of a GIS file are kept for saves and exports, not drawn: a
// drawing or plot of such a file says so, file by file. counts[i]: those of files[i].
void WarnOfBlocksNotDrawn(const std::vector<std::string>& files, const std::vector<size_t>& counts,
                          std::ostream& err);
// Whether StreamFiles can read the files: coordinate files, and GIS files whose points
// can be handed on as they are read (texts that need not wait for all, every point
// marked). The GIS files are opened here and stay open for the reading.
bool StreamableFiles(const std::vector<std::string>& files, const std::string& crs);
// Thrown by StreamFiles when a GIS file turns out to need a table after all; nothing was
// said yet, and the files are to be loaded into a table instead.
class TableNeeded : public std::exception {};
// Reads the files into data as LoadFiles reads them into a table, with the same warnings;
// those of numbers an earlier file already has come once every file is read. also (may be
// null, as may data) takes the points and blocks too. sima takes the site name, titles and
// whether the last file was SIMA. Returns the number of points read.
int32_t StreamFiles(const std::vector<std::string>& files, StreamedDrawingData* data,
                    LoadSink* also, SimaData& sima, std::ostream& err, const std::string& crs);
inline void StreamFiles(const std::vector<std::string>& files, StreamedDrawingData& data,
                        SimaData& sima, std::ostream& err, const std::string& crs) {
  StreamFiles(files, &data, nullptr, sima, err, crs);
}
// Somewhere to gather the points in temporary files rather than a table, or null, having
// said why there is none: then the points are held in memory. forExport: with what a GIS
// export needs too.
std::unique_ptr<StreamedDrawingData> StreamedData(int32_t baseRow, std::ostream& err,
                                                  bool forExport = false);
// The files read into temporary files by StreamFiles (sima as it gives it), or null when
// they are to be read into a table: a pipe beside a GIS layer, a layer that turns out to
// need one, or no temporary file to be had (said on err).
std::unique_ptr<StreamedDrawingData> GatherFiles(const std::vector<std::string>& files,
                                                 const std::string& crs, SimaData& sima,
                                                 std::ostream& err, bool forExport = false);
// The settings of --settings FILE: an error when it is missing or no settings file, a
// warning on standard error for each value that is not a number.
OutputSettings ReadSettingsOptionFile(const std::string& settingsFile);

int RunInfo(const std::vector<std::string>& files, std::ostream& out, const std::string& crs = {});

struct ExportOptions {
  std::vector<std::string> files;
  std::string output;
  std::string format;         // empty: from the output's extension
  std::string crs;            // "EPSG:N": the survey coordinate system
  std::string settingsFile;   // DXF: layers and labels as in the drawing
  std::string jwcadSettings;  // DXF: text sizes
};
int RunExport(const ExportOptions& options, std::ostream& err);

struct DrawingOptions {
  std::vector<std::string> files;
  std::string crs;
  std::string output;         // empty: standard output (clip only)
  std::string settingsFile;   // empty: the defaults
  std::string jwcadSettings;  // empty: this machine's Jw_cad settings, if any
  uint32_t jwwVersion = 420;
  int baseRow = 1;
  bool baseRowGiven = false;  // --base-row was on the command line
};

// Writes the loaded points as a Jw_cad drawing file.
int RunConvert(const DrawingOptions& options, std::ostream& err);
// Builds the clipboard drawing ("Jw_win" payload) into a file or standard output.
int RunClip(const DrawingOptions& options, std::ostream& out, std::ostream& err);

// The plot as an SVG picture.
inline constexpr int32_t kMaxPlotSide = 100000;
struct PlotSize {
  int32_t width = 800;
  int32_t height = 600;
};
struct PlotOptions {
  std::vector<std::string> files;
  std::string crs;
  std::string output;         // "-": standard output
  std::string settingsFile;   // empty: the defaults
  std::string jwcadSettings;  // empty: this machine's Jw_cad settings, if any
  PlotSize size;
};
// "WxH" in pixels, each 1..kMaxPlotSide; anything else is a UsageError.
PlotSize ParsePlotSize(const std::string& text);
// The plot of the loaded data fitted into a box of that size; shown, when given, gets
// the number of points inside it.
std::string PlotSvg(const CoordinateData& data, const OutputSettings& settings,
                    const JwCadExtras& extras, PlotSize size, int32_t* shown = nullptr);
int RunPlot(const PlotOptions& options, std::ostream& err);

// Reads a drawing and prints its header and one line per entity (JSON with json).
int RunDump(const std::string& file, bool json, std::ostream& out);

}  // namespace kestrova::cli
