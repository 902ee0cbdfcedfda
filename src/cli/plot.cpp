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
                    const JwCadExtras& extras, PlotSize size) {
  PlotViewState view;
  view.YSign = -1.0;
  view.MathAxes = !(data.Sima.SimaLoaded || settings.Coordinate.Flg);
  DataBounds bounds;
  ComputeDataBounds(data.Table, bounds);
  FitView(view, bounds, data.Table.PointCount, size.width, size.height);
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
  if (!o.settingsFile.empty()) settings = ReadSettingsOptionFile(o.settingsFile);
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
  const std::string svg = PlotSvg(data, settings, extras, o.size);
  WriteOutput(o.output, svg);
  err << "kestrova-cli: wrote the plot of " << data.Table.PointCount << " points (" << o.size.width
      << "x" << o.size.height << ") to " << OutputName(o.output) << '\n';
  return 0;
}

}  // namespace kestrova::cli
