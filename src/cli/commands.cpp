#include "cli/commands.h"

#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "coords/coordinate_file.h"

namespace kestrova::cli {

CoordinateData LoadFiles(const std::vector<std::string>& files) {
  CoordinateData data;
  bool append = false;
  for (const std::string& file : files) {
    if (!LoadCoordinateFile(file, data, append)) {
      throw Error(file + ": fewer than two lines; nothing was loaded");
    }
    append = true;
  }
  return data;
}

namespace {

std::string Number(double v) {
  return FormatGeneral(RoundOff(64, v));
}

}  // namespace

int RunInfo(const std::vector<std::string>& files, std::ostream& out) {
  const CoordinateData data = LoadFiles(files);
  DataBounds b;
  ComputeDataBounds(data.Table, b);
  out << "points: " << data.Table.PointCount << '\n';
  if (data.Table.PointCount > 0) {
    out << "X: " << Number(b.MinX) << " .. " << Number(b.MaxX) << '\n';
    out << "Y: " << Number(b.MinY) << " .. " << Number(b.MaxY) << '\n';
    out << "centre: " << Number(b.CentreX) << ", " << Number(b.CentreY) << '\n';
  } else {
    out << "X: none\nY: none\ncentre: none\n";
  }
  out << "site: " << Cp932ToUtf8(data.Sima.SiteName) << '\n';
  out << "title 1: " << Cp932ToUtf8(data.Sima.SimaTitles[0]) << '\n';
  out << "title 2: " << Cp932ToUtf8(data.Sima.SimaTitles[1]) << '\n';
  out << "sima lines: " << data.Sima.SimaLines.size() << '\n';
  out << "sima labels: " << data.Sima.SimaTexts.size() << '\n';
  return 0;
}

int RunExport(const std::vector<std::string>& files, const std::string& output,
              const std::string& format, std::ostream& err) {
  std::optional<CoordinateFormat> f =
      format.empty() ? CoordinateFormatFromPath(output) : CoordinateFormatFromName(format);
  if (!f) {
    throw UsageError("cannot tell the format from the name " + output +
                     "; give --format zhy, csv, sima or apa");
  }
  const CoordinateData data = LoadFiles(files);
  SaveCoordinateFile(output, data, *f);
  err << "kestrova-cli: wrote " << data.Table.PointCount << " points to " << output << '\n';
  return 0;
}

}  // namespace kestrova::cli
