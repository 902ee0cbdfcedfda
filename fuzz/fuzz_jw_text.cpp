// Jw_cad's text conventions drawn on the plot from arbitrary bytes: any text, face,
// size, angle, style code and position, onto the SVG canvas and the recording canvas.
// The SVG document stays well formed, and every pixel position is one a device takes.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "coords/point_table.h"
#include "fuzz_support.h"
#include "view/plot_draw.h"
#include "view/plot_view.h"
#include "view/recording_canvas.h"
#include "view/svg_canvas.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  using fuzz::Require;
  fuzz::Bytes in(data, size);

  PlotViewState view;
  if (in.Byte() % 4 == 0) {
    // Any transform at all, usable or not.
    view.YSign = in.Byte() % 2 ? -1.0 : 1.0;
    view.ViewScale = in.Double();
    view.WindowLeft = in.Double();
    view.WindowBottom = in.Double();
    view.WindowRight = in.Double();
    view.WindowTop = in.Double();
    view.MathAxes = in.Byte() % 2;
  } else {
    view.YSign = -1.0;
    view.MathAxes = in.Byte() % 2;
    DataBounds b;
    b.MinX = in.Double();
    b.MinY = in.Double();
    b.MaxX = b.MinX + std::abs(in.Double());
    b.MaxY = b.MinY + std::abs(in.Double());
    b.ExtentX = b.MaxX - b.MinX;
    b.ExtentY = b.MaxY - b.MinY;
    b.CentreX = (b.MinX + b.MaxX) / 2;
    b.CentreY = (b.MinY + b.MaxY) / 2;
    const int boxWidth = 1 + in.Byte() * 8;
    const int boxHeight = 1 + in.Byte() * 8;
    FitView(view, b, 2, boxWidth, boxHeight);
  }

  PlotStyle style;
  for (size_t k = 0; k < 10; ++k) {
    style.ScreenColours[k] = in.Raw<uint32_t>();
    style.TextKindWidths[k] = in.Double();
    style.TextKindHeights[k] = in.Double();
    style.TextKindSpacings[k] = in.Double();
  }
  style.DrawOutLine = in.Byte() % 4;
  style.OutLineExpansion = in.Double();
  style.SurveyPerPaperMm = in.Double();

  JwTextParams p;
  p.pen.colour = in.Raw<uint32_t>();
  p.pen.width = in.Double();
  p.startX = in.Double();
  p.startY = in.Double();
  p.endX = in.Double();
  p.endY = in.Double();
  p.width = in.Double();
  p.height = in.Double();
  p.spacing = in.Double();
  p.angle = in.Double();
  p.offsetX = in.Double();
  p.offsetY = in.Double();
  p.styleCode = in.Int();
  p.textFlags = in.Raw<uint16_t>();
  const std::string face(in.Text());
  if (in.Byte() % 2) p.fontName = face;
  const std::string text(in.Rest());
  p.text = text;

  SvgCanvas svg(800, 600);
  Require(DrawJwText(svg, view, style, p));
  Require(fuzz::SaneSvg(svg.Document()));

  RecordingCanvas recording;
  Require(DrawJwText(recording, view, style, p));
  for (const CanvasCall& call : recording.calls) {
    for (const PixelPoint& pt : call.points) {
      Require(std::abs(pt.x) <= kPixelLimit && std::abs(pt.y) <= kPixelLimit);
    }
    Require(std::isfinite(call.state.font.height) && std::isfinite(call.state.font.width));
  }
  return 0;
}
