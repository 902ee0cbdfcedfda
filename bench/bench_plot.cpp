// One full redraw of the plot onto an offscreen image through the QPainter canvas, as the
// plot widget draws its cached picture: dots, circles and a label for every point.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>

#include "bench/generate.h"
#include "coords/coordinate_file.h"
#include "coords/output_settings.h"
#include "coords/point_table.h"
#include "gui/painter_canvas.h"
#include "jww/header.h"
#include "jww/jwcad_settings.h"
#include "view/plot_draw.h"

namespace {

using namespace kestrova;

// Points on a square grid 2 m apart, named like survey points, every third one marked.
CoordinateData Site(int points) {
  CoordinateData data;
  const int side = static_cast<int>(std::ceil(std::sqrt(points)));
  data.Table.Points.reserve(static_cast<size_t>(points) + 1);
  for (int i = 0; i < points; ++i) {
    SurveyPoint& p = AppendPoint(data.Table);
    p.X = -12000.0 - 2.0 * (i / side);
    p.Y = -30000.0 + 2.0 * (i % side);
    p.Name = "P" + std::to_string(i + 1);
    p.Marked = i % 3 == 0 ? 1 : 0;
  }
  return data;
}

// Redraws of the whole site fitted into a width x height plot, as the widget draws its
// cached picture.
void Redraws(benchmark::State& state, const CoordinateData& data, int width, int height) {
  DataBounds bounds;
  ComputeDataBounds(data.Table, bounds);
  PlotViewState view;
  FitView(view, bounds, data.Table.PointCount, width, height);
  JwwHeader header;
  SetFixedHeaderValues(header);
  const PlotStyle style = PlotStyleFrom(header, JwCadExtras{}, OutputSettings{});
  QImage image(width, height, QImage::Format_RGB32);
  PainterCanvasCache cache;  // kept from one redraw to the next, as the widget keeps it
  for (auto _ : state) {
    image.fill(Qt::white);
    QPainter painter(&image);
    PainterCanvas canvas(painter, &cache);
    DrawPlot(canvas, view, data, style, 1);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PlotRedraw(benchmark::State& state) {
  Redraws(state, Site(static_cast<int>(state.range(0))), 800, 600);
}
BENCHMARK(BM_PlotRedraw)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// The generated SIMA site as the desktop program shows it: every point, a parcel for every
// ten points with its lines and label, a polyline for every hundred. Sizes: the plot of
// the window as it first opens, and 800 x 600.
void BM_PlotRedrawSite(benchmark::State& state) {
  static CoordinateData data;
  static int loaded = 0;
  if (loaded != state.range(0)) {
    data = CoordinateData{};
    LoadCoordinateFile(bench::GeneratedSima(static_cast<int>(state.range(0))), data, false);
    loaded = static_cast<int>(state.range(0));
  }
  Redraws(state, data, static_cast<int>(state.range(1)), static_cast<int>(state.range(2)));
}
BENCHMARK(BM_PlotRedrawSite)
    ->Args({1'000'000, 390, 490})
    ->Args({1'000'000, 800, 600})
    ->Unit(benchmark::kMillisecond);

// The same walk onto a canvas that draws nothing: what the plot itself costs.
class NullCanvas : public Canvas {
 public:
  void SetPen(const CanvasPen&) override {}
  void SetBrush(const CanvasBrush&) override {}
  void SetFont(const CanvasFont& f) override { benchmark::DoNotOptimize(f.height); }
  void SetTextColour(Colour) override {}
  void SetTextBackground(bool, Colour) override {}
  void Ellipse(PixelPoint a, PixelPoint) override { benchmark::DoNotOptimize(a); }
  void Rectangle(PixelPoint, PixelPoint) override {}
  void Polygon(std::span<const PixelPoint>) override {}
  void Polyline(std::span<const PixelPoint>) override {}
  void Text(PixelPoint p, std::string_view) override { benchmark::DoNotOptimize(p); }
  void TextHalo(PixelPoint, std::string_view, Colour, int, Colour) override {}
  int TextWidth(std::string_view) override { return 0; }
  int TextHeight(std::string_view) override { return 0; }
};

void BM_PlotWalk(benchmark::State& state) {
  const CoordinateData data = Site(static_cast<int>(state.range(0)));
  DataBounds bounds;
  ComputeDataBounds(data.Table, bounds);
  PlotViewState view;
  FitView(view, bounds, data.Table.PointCount, 800, 600);
  JwwHeader header;
  SetFixedHeaderValues(header);
  const PlotStyle style = PlotStyleFrom(header, JwCadExtras{}, OutputSettings{});
  NullCanvas canvas;
  for (auto _ : state)
    DrawPlot(canvas, view, data, style, 1);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlotWalk)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Fonts need a GUI application; no screen is needed.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
