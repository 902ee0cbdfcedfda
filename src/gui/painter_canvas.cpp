#include "gui/painter_canvas.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QPen>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/sjis.h"
#include "view/font_faces.h"

namespace kestrova {

QString ResolveFontFace(std::string_view cp932Face) {
  const std::string_view installed = InstalledFaceFor(cp932Face);
  if (!installed.empty()) {
    return QString::fromLatin1(installed.data(), static_cast<qsizetype>(installed.size()));
  }
  return QString::fromStdString(Cp932ToUtf8(cp932Face));
}

QColor ToQColor(Colour c) {
  return QColor(static_cast<int>(RedOf(c)), static_cast<int>(GreenOf(c)),
                static_cast<int>(BlueOf(c)));
}

PainterCanvas::PainterCanvas(QPainter& painter) : painter_(painter) {
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing, false);
}

PainterCanvas::~PainterCanvas() {
  painter_.restore();
}

void PainterCanvas::SetPen(const CanvasPen& pen) {
  if (pen == pen_ && !shapeStateDirty_) return;
  pen_ = pen;
  shapeStateDirty_ = true;
}

void PainterCanvas::SetBrush(const CanvasBrush& brush) {
  if (brush == brush_) return;
  brush_ = brush;
  shapeStateDirty_ = true;
}

void PainterCanvas::SetFont(const CanvasFont& font) {
  if (font == font_ && !fontDirty_) return;
  font_ = font;
  fontDirty_ = true;
}

void PainterCanvas::SetTextColour(Colour colour) {
  textColour_ = colour;
}

void PainterCanvas::SetTextBackground(bool opaque, Colour colour) {
  opaque_ = opaque;
  background_ = colour;
}

void PainterCanvas::ApplyShapeState() {
  if (!shapeStateDirty_) return;
  QPen pen(ToQColor(pen_.colour));
  pen.setWidth(std::max(pen_.width, 1));
  pen.setStyle(pen_.style == PenStyle::kDot ? Qt::DotLine : Qt::SolidLine);
  pen.setJoinStyle(Qt::MiterJoin);
  painter_.setPen(pen);
  painter_.setBrush(brush_.hollow ? QBrush(Qt::NoBrush) : QBrush(ToQColor(brush_.colour)));
  painter_.setCompositionMode(pen_.mode == PenMode::kXor ? QPainter::RasterOp_SourceXorDestination
                                                         : QPainter::CompositionMode_SourceOver);
  shapeStateDirty_ = false;
}

// The Windows canvas draws the outline of a shape inside its corners, the right and bottom
// edges excluded; QPainter strokes one pixel further out.
QRect PainterCanvas::ShapeRect(PixelPoint a, PixelPoint b) const {
  const int left = std::min(a.x, b.x);
  const int top = std::min(a.y, b.y);
  const int w = std::abs(b.x - a.x);
  const int h = std::abs(b.y - a.y);
  return QRect(left, top, std::max(w - 1, 0), std::max(h - 1, 0));
}

void PainterCanvas::Ellipse(PixelPoint topLeft, PixelPoint bottomRight) {
  ApplyShapeState();
  painter_.drawEllipse(ShapeRect(topLeft, bottomRight));
}

void PainterCanvas::Rectangle(PixelPoint topLeft, PixelPoint bottomRight) {
  ApplyShapeState();
  painter_.drawRect(ShapeRect(topLeft, bottomRight));
}

void PainterCanvas::Polygon(std::span<const PixelPoint> points) {
  ApplyShapeState();
  QPolygon poly;
  poly.reserve(static_cast<qsizetype>(points.size()));
  for (const PixelPoint& p : points)
    poly << QPoint(p.x, p.y);
  painter_.drawPolygon(poly);
}

void PainterCanvas::Polyline(std::span<const PixelPoint> points) {
  ApplyShapeState();
  std::vector<QPoint> line;
  line.reserve(points.size());
  for (const PixelPoint& p : points)
    line.emplace_back(p.x, p.y);
  painter_.drawPolyline(line.data(), static_cast<int>(line.size()));
}

const QString& PainterCanvas::Unicode(std::string_view cp932) {
  auto it = unicode_.find(std::string(cp932));
  if (it == unicode_.end()) {
    it = unicode_.emplace(std::string(cp932), QString::fromStdString(Cp932ToUtf8(cp932))).first;
  }
  return it->second;
}

namespace {

// The font's height is the cell's height, which for the IPA faces is the em; its width,
// when given, is that of a half-width character, half an em by the face's design.
QFont MakeFont(const CanvasFont& f) {
  QFont font(ResolveFontFace(f.face));
  const int pixels = std::max(1, static_cast<int>(std::lround(f.height)));
  font.setPixelSize(pixels);
  if (f.width > 0) {
    const double stretch = 100.0 * f.width / (pixels / 2.0);
    font.setStretch(std::clamp(static_cast<int>(std::lround(stretch)), 1, 4000));
  }
  font.setWeight(f.bold ? QFont::Bold : QFont::Normal);
  font.setItalic(f.italic);
  font.setUnderline(f.underline);
  font.setStrikeOut(f.strikeOut);
  return font;
}

}  // namespace

void PainterCanvas::EnsureFont() {
  if (!fontDirty_) return;
  qfont_ = MakeFont(font_);
  const QFontMetricsF metrics(qfont_);
  ascent_ = metrics.ascent();
  height_ = metrics.height();
  painter_.setFont(qfont_);
  fontDirty_ = false;
}

// Texts are drawn in copy mode with the text colour as the painter's pen; the shapes'
// pen and mode are put back before the next shape.
void PainterCanvas::Text(PixelPoint p, std::string_view cp932) {
  if (cp932.empty()) return;
  EnsureFont();
  const QString& text = Unicode(cp932);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  shapeStateDirty_ = true;
  const bool turned = font_.escapement != 0;
  if (turned) {
    painter_.save();
    painter_.translate(p.x, p.y);
    painter_.rotate(-font_.escapement / 10.0);
  }
  const QPointF origin = turned ? QPointF(0, 0) : QPointF(p.x, p.y);
  if (opaque_) {
    const double width = QFontMetricsF(qfont_).horizontalAdvance(text);
    painter_.fillRect(QRectF(origin, QSizeF(width, height_)), ToQColor(background_));
  }
  painter_.setPen(ToQColor(textColour_));
  painter_.drawText(QPointF(origin.x(), origin.y() + ascent_), text);
  if (turned) painter_.restore();
}

void PainterCanvas::TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                             Colour fillColour) {
  if (cp932.empty()) return;
  EnsureFont();
  QPainterPath path;
  path.addText(QPointF(0, ascent_), qfont_, Unicode(cp932));
  painter_.save();
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.translate(p.x, p.y);
  if (font_.escapement != 0) painter_.rotate(-font_.escapement / 10.0);
  painter_.strokePath(path, QPen(ToQColor(haloColour), std::max(haloWidth, 1), Qt::SolidLine,
                                 Qt::RoundCap, Qt::RoundJoin));
  painter_.fillPath(path, ToQColor(fillColour));
  painter_.restore();
  shapeStateDirty_ = true;
}

int PainterCanvas::TextWidth(std::string_view cp932) {
  EnsureFont();
  return static_cast<int>(std::ceil(QFontMetricsF(qfont_).horizontalAdvance(Unicode(cp932))));
}

int PainterCanvas::TextHeight(std::string_view) {
  EnsureFont();
  return static_cast<int>(std::ceil(height_));
}

}  // namespace kestrova
