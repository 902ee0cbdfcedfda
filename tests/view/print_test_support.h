#pragma once

// Shared by the print layout and print command tests: a grid with known texts, text
// metrics with fixed extents.

#include <string>
#include <vector>

#include "common/sjis.h"
#include "coords/cell_grid.h"
#include "view/canvas.h"
#include "view/print_layout.h"
#include "view/recording_canvas.h"

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

}  // namespace kestrova
