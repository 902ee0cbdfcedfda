#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QString>
#include <string>
#include <string_view>
#include <unordered_map>

#include "view/canvas.h"

namespace kestrova {

// The family Qt draws a face named in code page 932 with: the Windows faces Jw_cad and
// the settings name ("ＭＳ ゴシック", "ＭＳ Ｐゴシック", "ＭＳゴシック", the Mincho faces)
// resolve to the installed IPA fonts, any other name is used as it stands.
QString ResolveFontFace(std::string_view cp932Face);

QColor ToQColor(Colour c);

// A Canvas over a QPainter that is active on any paint device: the plot widget's cached
// image, the screen, a printer or a PDF. Shapes are drawn without antialiasing and with
// the outline inside the corners given, as the Windows canvas draws them; the XOR pen
// mode uses the raster operation (only raster devices such as QImage and widgets support
// it; drawing twice restores the pixels).
class PainterCanvas : public Canvas {
 public:
  explicit PainterCanvas(QPainter& painter);
  ~PainterCanvas() override;
  PainterCanvas(const PainterCanvas&) = delete;
  PainterCanvas& operator=(const PainterCanvas&) = delete;

  void SetPen(const CanvasPen& pen) override;
  void SetBrush(const CanvasBrush& brush) override;
  void SetFont(const CanvasFont& font) override;
  void SetTextColour(Colour colour) override;
  void SetTextBackground(bool opaque, Colour colour) override;
  void Ellipse(PixelPoint topLeft, PixelPoint bottomRight) override;
  void Rectangle(PixelPoint topLeft, PixelPoint bottomRight) override;
  void Polygon(std::span<const PixelPoint> points) override;
  void Polyline(std::span<const PixelPoint> points) override;
  void Text(PixelPoint p, std::string_view cp932) override;
  void TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                Colour fillColour) override;
  int TextWidth(std::string_view cp932) override;
  int TextHeight(std::string_view cp932) override;

 private:
  void ApplyShapeState();
  void EnsureFont();
  const QString& Unicode(std::string_view cp932);
  QRect ShapeRect(PixelPoint topLeft, PixelPoint bottomRight) const;

  QPainter& painter_;
  CanvasPen pen_;
  CanvasBrush brush_;
  CanvasFont font_;
  QFont qfont_;
  double ascent_ = 0.0;
  double height_ = 0.0;
  bool fontDirty_ = true;
  Colour textColour_ = 0;
  bool opaque_ = false;
  Colour background_ = 0xFFFFFF;
  bool shapeStateDirty_ = true;
  std::unordered_map<std::string, QString> unicode_;  // texts are short and repeat often
};

}  // namespace kestrova
