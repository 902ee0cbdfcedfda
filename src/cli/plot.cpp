// kestrova-cli plot: the desktop plot's picture after loading and fitting, as SVG.

#include <iostream>
#include <memory>

#include "app/settings_file.h"
#include "cli/commands.h"
#include "cli/files.h"
#include "common/error.h"
#include "common/number_text.h"
#include "jww/jwcad_settings.h"
#include "view/plot_draw.h"
#include "view/svg_canvas.h"

namespace kestrova::cli {

PlotSize ParsePlotSize(const std::string& text) {
  const size_t x = text.find_first_of("xX");
  const auto bad = [&text]() {
    return UsageError("--size " + text +
                      ": give the plot's width and height in pixels, as 800x600");
  };
  if (x == std::string::npos) throw bad();
  const std::optional<int32_t> w = ParseInt(std::string_view(text).substr(0, x));
  const std::optional<int32_t> h = ParseInt(std::string_view(text).substr(x + 1));
  if (!w || !h || *w < 1 || *h < 1 || *w > kMaxPlotSide || *h > kMaxPlotSide) throw bad();
  return {*w, *h};
}

std::string PlotSvg(const CoordinateData& data, const OutputSettings& settings,
                    const JwCadExtras& extras, PlotSize size, int32_t* shown) {
  PlotViewState view;
  view.YSign = -1.0;
  view.MathAxes = !(data.Sima.SimaLoaded || settings.Coordinate.Flg);
  DataBounds bounds;
  ComputeDataBounds(data.Table, bounds);
  const bool fitted = FitView(view, bounds, data.Table.PointCount, size.width, size.height);
  if (shown) {
    *shown = 0;
    for (int32_t r = 1; fitted && r <= data.Table.PointCount; ++r) {
      const SurveyPoint& p = data.Table.Points[r];
      if (PointVisible(view, ToViewAxes(view, p.X, p.Y))) ++*shown;
    }
  }
  SvgCanvas canvas(size.width, size.height);
  DrawPlot(canvas, view, data, DrawingPlotStyle(extras, settings), -1);
  return canvas.Document();
}

int RunPlot(const PlotOptions& o, std::ostream& err) {
  std::vector<std::string> inputs = o.files;
  inputs.push_back(o.settingsFile);
  inputs.push_back(o.jwcadSettings);
  CheckOutput(o.output, inputs);
  OutputSettings settings;
  if (!o.settingsFile.empty()) {
    std::error_code ec;
    if (!std::filesystem::exists(o.settingsFile, ec)) {
      throw Error(o.settingsFile + ": no such settings file");
    }
    settings = ReadSettingsFile(o.settingsFile, std::filesystem::current_path().string());
  }
  // Jw_cad's settings give the outline mode; pens and text kinds are those every drawing
  // save installs, as the desktop program draws them.
  JwwHeader header;
  JwCadExtras extras;
  std::unique_ptr<JwCadSettingsSource> source =
      o.jwcadSettings.empty()
          ? DefaultJwCadSettingsSource()
          : std::make_unique<JwCadSettingsMap>(JwCadSettingsMap::FromRegFile(o.jwcadSettings));
  if (source) ReadJwCadSettings(*source, header, extras);

  const CoordinateData data = LoadFiles(o.files, o.crs);
  int32_t shown = 0;
  const std::string svg = PlotSvg(data, settings, extras, o.size, &shown);
  WriteOutput(o.output, svg);
  if (data.Table.PointCount > 0 && shown == 0) {
    // Beyond about 1e17 the plot's margin around the points is lost in rounding, and
    // every point lies on the edge or outside.
    DataBounds b;
    ComputeDataBounds(data.Table, b);
    err << "kestrova-cli: warning: the plot shows none of the " << data.Table.PointCount
        << " points: coordinates this large (X " << FormatGeneral(b.MinX) << " .. "
        << FormatGeneral(b.MaxX) << ", Y " << FormatGeneral(b.MinY) << " .. "
        << FormatGeneral(b.MaxY) << ") cannot be placed on it\n";
  }
  err << "kestrova-cli: wrote the plot of " << data.Table.PointCount << " points (" << o.size.width
      << "x" << o.size.height << ") to " << OutputName(o.output) << '\n';
  return 0;
}

}  // namespace kestrova::cli
