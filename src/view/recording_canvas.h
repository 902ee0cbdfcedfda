#pragma once

#include <string>
#include <vector>

#include "view/canvas.h"

namespace kestrova {

// The state a drawing call was made in.
struct CanvasState {
  CanvasPen pen;
  CanvasBrush brush;
  CanvasFont font;
  Colour textColour = 0;
  bool opaqueText = false;
  Colour textBackground = 0xFFFFFF;
};

// One call made on a RecordingCanvas, with its arguments and the state in force after it.
struct CanvasCall {
  enum class Kind {
    kSetPen,
    kSetBrush,
    kSetFont,
    kSetTextColour,
    kSetTextBackground,
    kEllipse,
    kRectangle,
    kPolygon,
    kPolyline,
    kText,
    kTextHalo,
  };
  Kind kind = Kind::kEllipse;
  std::vector<PixelPoint> points;  // corners, vertices, or the text's position
  std::string text;                // code page 932
  Colour haloColour = 0;
  int haloWidth = 0;
  Colour fillColour = 0;
  CanvasState state;

  bool IsDrawing() const { return kind >= Kind::kEllipse; }
};

// A canvas that draws nothing and remembers everything, so tests can state exact pixel
// positions, colours and fonts. Text metrics are those of a fixed-pitch face: a
// half-width character is the font's width wide (half its height when the width is 0),
// and the height is the font's height.
class RecordingCanvas : public Canvas {
 public:
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

  // The drawing calls only (no state changes), in order; and those of one kind.
  std::vector<CanvasCall> Drawings() const;
  std::vector<CanvasCall> Drawings(CanvasCall::Kind kind) const;
  void Clear() { calls.clear(); }

  std::vector<CanvasCall> calls;
  CanvasState state;  // the state now

 private:
  CanvasCall& Add(CanvasCall::Kind kind);
};

}  // namespace kestrova
