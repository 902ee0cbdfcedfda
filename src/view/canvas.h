#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kestrova {

// Colours are Windows colour values, 0x00BBGGRR, as Jw_cad stores them.
using Colour = uint32_t;
constexpr Colour Rgb(uint32_t r, uint32_t g, uint32_t b) {
  return r | (g << 8) | (b << 16);
}
constexpr uint32_t RedOf(Colour c) {
  return c & 0xFF;
}
constexpr uint32_t GreenOf(Colour c) {
  return (c >> 8) & 0xFF;
}
constexpr uint32_t BlueOf(Colour c) {
  return (c >> 16) & 0xFF;
}

// A device pixel; y grows downwards.
struct PixelPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

enum class PenStyle { kSolid, kDot };
enum class PenMode { kCopy, kXor };  // kXor: drawing the same shape twice restores the pixels

struct CanvasPen {
  Colour colour = 0;
  int width = 1;
  PenStyle style = PenStyle::kSolid;
  PenMode mode = PenMode::kCopy;
  friend bool operator==(const CanvasPen&, const CanvasPen&) = default;
};

struct CanvasBrush {
  bool hollow = false;  // shapes are outlined only
  Colour colour = Rgb(255, 255, 255);
  friend bool operator==(const CanvasBrush&, const CanvasBrush&) = default;
};

struct CanvasFont {
  std::string face;      // code page 932, e.g. "ＭＳ ゴシック"; resolved to an installed face
  double height = 12.0;  // character cell height in pixels
  double width = 0.0;    // average character width in pixels; 0: the face's own
  int escapement = 0;    // rotation in tenths of a degree, counter-clockwise
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  friend bool operator==(const CanvasFont&, const CanvasFont&) = default;
};

// Where the plot, the text renderer and the printed coordinate list draw: the screen or
// the printer through QPainter, a recording for tests, an SVG file. Texts are code page
// 932 bytes; each canvas converts them once to what it draws with. Pen, brush, font,
// text colour and background mode carry over from call to call, as on a Windows canvas.
class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void SetPen(const CanvasPen& pen) = 0;
  virtual void SetBrush(const CanvasBrush& brush) = 0;
  virtual void SetFont(const CanvasFont& font) = 0;
  virtual void SetTextColour(Colour colour) = 0;
  // Opaque text first fills its cell with colour; transparent text draws glyphs only.
  virtual void SetTextBackground(bool opaque, Colour colour) = 0;

  // Shapes are drawn with the current pen and filled with the current brush.
  virtual void Ellipse(PixelPoint topLeft, PixelPoint bottomRight) = 0;
  virtual void Rectangle(PixelPoint topLeft, PixelPoint bottomRight) = 0;
  virtual void Polygon(std::span<const PixelPoint> points) = 0;
  // Lines use the current pen only.
  virtual void Polyline(std::span<const PixelPoint> points) = 0;

  // A plotted point's two shapes: the first ellipse in pen with the brush in effect, then
  // the second with brush. A canvas that can draw the pair at once overrides it; what it
  // draws and the state it leaves are those of the calls below.
  virtual void EllipsePair(const CanvasPen& pen, PixelPoint firstTopLeft,
                           PixelPoint firstBottomRight, const CanvasBrush& brush,
                           PixelPoint secondTopLeft, PixelPoint secondBottomRight) {
    SetPen(pen);
    Ellipse(firstTopLeft, firstBottomRight);
    SetBrush(brush);
    Ellipse(secondTopLeft, secondBottomRight);
  }

  // One text with its cell's top-left corner at p, turned by the font's escapement about
  // p, in the text colour.
  virtual void Text(PixelPoint p, std::string_view cp932) = 0;
  // The same text as an outline: stroked with haloWidth pixels of haloColour, then
  // filled with fillColour (the halo Jw_cad draws round texts on busy drawings).
  virtual void TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                        Colour fillColour) = 0;

  // The texts drawn between these two calls are one label, character by character; a
  // canvas that writes elements may join them into one.
  virtual void BeginTextRun() {}
  virtual void EndTextRun() {}

  // Extent of a text in the current font, in pixels.
  virtual int TextWidth(std::string_view cp932) = 0;
  virtual int TextHeight(std::string_view cp932) = 0;

  // What under draws, with what over draws on top of it. A canvas may draw over at the
  // same time on another thread, onto a layer of its own laid on afterwards: over then
  // starts from a canvas of its own and sets every pen it uses, it draws only opaque,
  // unblended shapes in copy mode, and the two share nothing but what both only read.
  // The pen and brush afterwards are either's.
  virtual void Layered(const std::function<void(Canvas&)>& under,
                       const std::function<void(Canvas&)>& over) {
    under(*this);
    over(*this);
  }
};

}  // namespace kestrova
