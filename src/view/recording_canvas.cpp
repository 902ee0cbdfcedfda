#include "view/recording_canvas.h"

#include <cmath>

#include "common/sjis.h"

namespace kestrova {

CanvasCall& RecordingCanvas::Add(CanvasCall::Kind kind) {
  CanvasCall& call = calls.emplace_back();
  call.kind = kind;
  call.state = state;
  return call;
}

void RecordingCanvas::SetPen(const CanvasPen& pen) {
  state.pen = pen;
  Add(CanvasCall::Kind::kSetPen);
}

void RecordingCanvas::SetBrush(const CanvasBrush& brush) {
  state.brush = brush;
  Add(CanvasCall::Kind::kSetBrush);
}

void RecordingCanvas::SetFont(const CanvasFont& font) {
  state.font = font;
  Add(CanvasCall::Kind::kSetFont);
}

void RecordingCanvas::SetTextColour(Colour colour) {
  state.textColour = colour;
  Add(CanvasCall::Kind::kSetTextColour);
}

void RecordingCanvas::SetTextBackground(bool opaque, Colour colour) {
  state.opaqueText = opaque;
  state.textBackground = colour;
  Add(CanvasCall::Kind::kSetTextBackground);
}

void RecordingCanvas::Ellipse(PixelPoint topLeft, PixelPoint bottomRight) {
  Add(CanvasCall::Kind::kEllipse).points = {topLeft, bottomRight};
}

void RecordingCanvas::Rectangle(PixelPoint topLeft, PixelPoint bottomRight) {
  Add(CanvasCall::Kind::kRectangle).points = {topLeft, bottomRight};
}

void RecordingCanvas::Polygon(std::span<const PixelPoint> points) {
  Add(CanvasCall::Kind::kPolygon).points.assign(points.begin(), points.end());
}

void RecordingCanvas::Polyline(std::span<const PixelPoint> points) {
  Add(CanvasCall::Kind::kPolyline).points.assign(points.begin(), points.end());
}

void RecordingCanvas::Text(PixelPoint p, std::string_view cp932) {
  CanvasCall& call = Add(CanvasCall::Kind::kText);
  call.points = {p};
  call.text = std::string(cp932);
}

void RecordingCanvas::TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour,
                               int haloWidth, Colour fillColour) {
  CanvasCall& call = Add(CanvasCall::Kind::kTextHalo);
  call.points = {p};
  call.text = std::string(cp932);
  call.haloColour = haloColour;
  call.haloWidth = haloWidth;
  call.fillColour = fillColour;
}

int RecordingCanvas::TextWidth(std::string_view cp932) {
  const double cell = state.font.width > 0 ? state.font.width : state.font.height / 2;
  return static_cast<int>(std::lround(HalfWidthCount(cp932) * cell));
}

int RecordingCanvas::TextHeight(std::string_view) {
  return static_cast<int>(std::lround(state.font.height));
}

std::vector<CanvasCall> RecordingCanvas::Drawings() const {
  std::vector<CanvasCall> out;
  for (const CanvasCall& c : calls)
    if (c.IsDrawing()) out.push_back(c);
  return out;
}

std::vector<CanvasCall> RecordingCanvas::Drawings(CanvasCall::Kind kind) const {
  std::vector<CanvasCall> out;
  for (const CanvasCall& c : calls)
    if (c.kind == kind) out.push_back(c);
  return out;
}

}  // namespace kestrova
