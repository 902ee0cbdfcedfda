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

namespace {

// The site gathered in temporary files, read from there as often as the plot asks.
class StreamedPlotSource : public PlotSource {
 public:
  explicit StreamedPlotSource(const StreamedDrawingData& data) : data_(data) {}

  int32_t PointCount() const override { return data_.PointCount(); }
  void EachLabel(const std::function<void(const PlotLabel&)>& take) override {
    StreamedDrawingData::Labels labels(data_);
    StreamedLabel l;
    while (labels.Next(l))
      take(PlotLabel{l.X, l.Y, l.TextKind, 0.0, l.Text});
  }
  void EachPoint(const std::function<void(const PlotPoint&)>& take) override {
    const bool counting = view_ != nullptr && !counted_;
    counted_ = true;
    StreamedDrawingData::Points points(data_);
    StreamedDrawingData::Names names(data_);
    std::vector<StreamedPoint> range(4096);
    std::string_view name;
    while (const size_t n = points.Read(range.data(), range.size())) {
      for (size_t k = 0; k < n; ++k) {
        if (!names.Next(name)) throw Error("the temporary file of point names is short");
        // A load marks every point it reads.
        take(PlotPoint{range[k].X, range[k].Y, name, true});
        if (counting && PointVisible(*view_, ToViewAxes(*view_, range[k].X, range[k].Y))) ++shown_;
      }
    }
  }
  void EachLine(const std::function<void(const SimaLine&)>& take) override {
    StreamedDrawingData::Lines lines(data_);
    SimaLine l;
    while (lines.Next(l))
      take(l);
  }

  // Counts, on the first pass over the points, those inside the view.
  void CountShown(const PlotViewState& view) { view_ = &view; }
  int32_t Shown() const { return shown_; }

 private:
  const StreamedDrawingData& data_;
  const PlotViewState* view_ = nullptr;
  bool counted_ = false;
  int32_t shown_ = 0;
};

PlotViewState FittedView(bool simaLoaded, const OutputSettings& settings, const DataBounds& bounds,
                         int32_t pointCount, PlotSize size) {
  PlotViewState view;
  view.YSign = -1.0;
  view.MathAxes = !(simaLoaded || settings.Coordinate.Flg);
  FitView(view, bounds, pointCount, size.width, size.height);
  return view;
}

// Beyond about 1e17 the plot's margin around the points is lost in rounding, and every
// point lies on the edge or outside: say so rather than write a blank picture silently.
void WarnIfNoneShown(std::ostream& err, int32_t pointCount, int32_t shown, const DataBounds& b) {
  if (pointCount == 0 || shown > 0) return;
  err << "kestrova-cli: warning: the plot shows none of the " << pointCount
      << " points: coordinates this large (X " << FormatGeneral(b.MinX) << " .. "
      << FormatGeneral(b.MaxX) << ", Y " << FormatGeneral(b.MinY) << " .. " << FormatGeneral(b.MaxY)
      << ") cannot be placed on it\n";
}

}  // namespace

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

namespace {

// The plot of a table, handed to output as it is drawn.
void DrawTablePlot(const CoordinateData& data, const OutputSettings& settings,
                   const JwCadExtras& extras, PlotSize size, int32_t* shown, SvgCanvas& canvas) {
  DataBounds bounds;
  ComputeDataBounds(data.Table, bounds);
  const PlotViewState view =
      FittedView(data.Sima.SimaLoaded, settings, bounds, data.Table.PointCount, size);
  if (shown) {
    *shown = 0;
    for (int32_t r = 1; r <= data.Table.PointCount; ++r) {
      const SurveyPoint& p = data.Table.Points[r];
      if (PointVisible(view, ToViewAxes(view, p.X, p.Y))) ++*shown;
    }
  }
  DrawPlot(canvas, view, data, DrawingPlotStyle(extras, settings), -1);
}

}  // namespace

std::string PlotSvg(const CoordinateData& data, const OutputSettings& settings,
                    const JwCadExtras& extras, PlotSize size, int32_t* shown) {
  SvgCanvas canvas(size.width, size.height);
  DrawTablePlot(data, settings, extras, size, shown, canvas);
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

  // Files that need no table (coordinate files, most GIS layers) are gathered
  // in temporary files and drawn from there, the picture written as it is drawn.
  SimaData sima;
  const std::unique_ptr<StreamedDrawingData> gathered = GatherFiles(o.files, o.crs, sima, err);
  if (gathered) {
    const StreamedDrawingData& data = *gathered;
    WarnOfBlocksNotDrawn(o.files, data.BlocksNotDrawn(), err);
    const PlotViewState view =
        FittedView(sima.SimaLoaded, settings, data.Bounds(), data.PointCount(), o.size);
    const auto writer = OpenOutput(o.output);
    SvgCanvas canvas(o.size.width, o.size.height, [&writer](std::string_view bytes) {
      writer->Write(bytes.data(), bytes.size());
    });
    StreamedPlotSource streamed(data);
    streamed.CountShown(view);
    DrawPlot(canvas, view, streamed, DrawingPlotStyle(extras, settings), -1, nullptr);
    canvas.Finish();
    writer->Commit();
    WarnIfNoneShown(err, data.PointCount(), streamed.Shown(), data.Bounds());
    err << "kestrova-cli: wrote the plot of " << data.PointCount() << " points (" << o.size.width
        << "x" << o.size.height << ") to " << OutputName(o.output) << '\n';
    return 0;
  }
  std::vector<size_t> gisBlocks;
  const CoordinateData data = LoadFiles(o.files, o.crs, true, true, &gisBlocks);
  WarnOfBlocksNotDrawn(o.files, gisBlocks, err);
  int32_t shown = 0;
  {
    // Written as it is drawn, as above: the picture of a large layer is never held.
    const auto writer = OpenOutput(o.output);
    SvgCanvas canvas(o.size.width, o.size.height, [&writer](std::string_view bytes) {
      writer->Write(bytes.data(), bytes.size());
    });
    DrawTablePlot(data, settings, extras, o.size, &shown, canvas);
    canvas.Finish();
    writer->Commit();
  }
  DataBounds bounds;
  ComputeDataBounds(data.Table, bounds);
  WarnIfNoneShown(err, data.Table.PointCount, shown, bounds);
  err << "kestrova-cli: wrote the plot of " << data.Table.PointCount << " points (" << o.size.width
      << "x" << o.size.height << ") to " << OutputName(o.output) << '\n';
  return 0;
}

}  // namespace kestrova::cli
