#pragma once

// Shared by the print layout and print command tests: a grid with known texts, text
// metrics with fixed extents, and a canvas that logs every call as a line of text.

#include <string>
#include <vector>

#include "common/number_text.h"
#include "common/sjis.h"
#include "coords/cell_grid.h"
#include "view/canvas.h"
#include "view/print_layout.h"

namespace kestrova {

// Seven points, all marked: numbers 101.., names P1.., X 1234.568, remarks "remark r".
inline CellGrid SevenPointGrid(PointTable* tableOut = nullptr) {
  PointTable table;
  SimaData sima;
  CellGrid grid;
  ClearPointTable(table, sima, grid);
  for (int i = 1; i <= 7; ++i) {
    SurveyPoint& p = AppendPoint(table);
    p.Number = 100 + i;
    p.Name = "P" + std::to_string(i);
    p.X = 1234.5678;
    p.Y = -12.5;
    p.Z = i;
    p.Remarks = "remark " + std::to_string(i);
    p.Marked = 1;
  }
  FillGridFromPoints(table, grid);
  if (tableOut) *tableOut = table;
  return grid;
}

// Every byte 10 pixels wide (a full-width character 20), every text 20 high.
class FixedMetrics : public TextMetrics {
 public:
  void SetFont(const CanvasFont& font) override { fonts.push_back(font); }
  int TextWidth(std::string_view cp932) override { return static_cast<int>(cp932.size()) * 10; }
  int TextHeight(std::string_view) override { return 20; }
  std::vector<CanvasFont> fonts;
};

class CallLog : public Canvas {
 public:
  void SetPen(const CanvasPen& pen) override {
    Add("pen " + std::to_string(pen.colour) + " " + std::to_string(pen.width));
  }
  void SetBrush(const CanvasBrush&) override { Add("brush"); }
  void SetFont(const CanvasFont& font) override {
    Add("font " + Cp932ToUtf8(font.face) + " " + FormatGeneral(font.height));
  }
  void SetTextColour(Colour colour) override { Add("colour " + std::to_string(colour)); }
  void SetTextBackground(bool opaque, Colour colour) override {
    Add(opaque ? "background opaque " + std::to_string(colour) : "background transparent");
  }
  void Ellipse(PixelPoint, PixelPoint) override { Add("ellipse"); }
  void Rectangle(PixelPoint, PixelPoint) override { Add("rectangle"); }
  void Polygon(std::span<const PixelPoint>) override { Add("polygon"); }
  void Polyline(std::span<const PixelPoint> points) override {
    std::string s = "line";
    for (const PixelPoint& p : points)
      s += " " + Pair(p);
    Add(s);
  }
  void Text(PixelPoint p, std::string_view cp932) override {
    Add("text " + Pair(p) + " " + Cp932ToUtf8(cp932));
  }
  void TextHalo(PixelPoint, std::string_view, Colour, int, Colour) override { Add("halo"); }
  int TextWidth(std::string_view cp932) override { return static_cast<int>(cp932.size()) * 10; }
  int TextHeight(std::string_view) override { return 20; }

  std::vector<std::string> calls;

 private:
  static std::string Pair(PixelPoint p) { return std::to_string(p.x) + "," + std::to_string(p.y); }
  void Add(std::string s) { calls.push_back(std::move(s)); }
};

}  // namespace kestrova
