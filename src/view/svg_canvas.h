#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "view/canvas.h"

namespace kestrova {

// Draws into an SVG document (UTF-8) of the given pixel size on a white ground: shapes as
// SVG shapes, texts as <text> in a Japanese Gothic face, turned by the font's escapement.
// The XOR pen mode has no SVG form and draws as copy; nothing the plot keeps uses it.
// The characters of one label become one <text> element with a position per character:
// viewers refuse documents of too many elements, and a dense site has many characters.
class SvgCanvas : public Canvas {
 public:
  SvgCanvas(int width, int height);
  // Hands the document to output as it is drawn, a megabyte or so at a time, instead of
  // keeping it: a plot of millions of points is never held whole. Finish gives the rest.
  using Output = std::function<void(std::string_view)>;
  SvgCanvas(int width, int height, Output output);

  void SetPen(const CanvasPen& pen) override { pen_ = pen; }
  void SetBrush(const CanvasBrush& brush) override { brush_ = brush; }
  void SetFont(const CanvasFont& font) override { font_ = font; }
  void SetTextColour(Colour colour) override { textColour_ = colour; }
  void SetTextBackground(bool opaque, Colour colour) override {
    opaque_ = opaque;
    background_ = colour;
  }
  void Ellipse(PixelPoint topLeft, PixelPoint bottomRight) override;
  void Rectangle(PixelPoint topLeft, PixelPoint bottomRight) override;
  void Polygon(std::span<const PixelPoint> points) override;
  void Polyline(std::span<const PixelPoint> points) override;
  void Text(PixelPoint p, std::string_view cp932) override;
  void TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                Colour fillColour) override;
  void BeginTextRun() override;
  void EndTextRun() override;
  int TextWidth(std::string_view cp932) override;
  int TextHeight(std::string_view cp932) override;

  // The whole document so far, closed (without an output).
  std::string Document() const;
  // With an output: hands it what is not yet given and the document's end.
  void Finish();

 private:
  std::string Head() const;
  void Flush(bool all);
  void AppendStroke(bool filled);
  void AppendText(PixelPoint p, std::string_view cp932, const std::string& paint);
  struct Glyph {
    PixelPoint p;
    std::string utf8;  // not yet escaped
    CanvasFont font;
    std::string paint;
  };
  void AppendRun(const std::vector<Glyph>& glyphs, size_t begin, size_t end);
  void FlushRun(const std::vector<Glyph>& glyphs);

  int width_;
  int height_;
  std::string body_;
  Output output_;
  CanvasPen pen_;
  CanvasBrush brush_;
  CanvasFont font_;
  Colour textColour_ = 0;
  bool opaque_ = false;
  Colour background_ = 0xFFFFFF;
  bool inRun_ = false;
  std::vector<Glyph> haloRun_;  // drawn first, under the glyphs
  std::vector<Glyph> run_;
};

// "#rrggbb" of a Windows colour value.
std::string SvgColour(Colour c);

// Text for SVG character data and attribute values: UTF-8 with &, <, >, " and '
// escaped; control characters XML cannot hold become U+FFFD.
std::string XmlEscape(std::string_view utf8);

}  // namespace kestrova
