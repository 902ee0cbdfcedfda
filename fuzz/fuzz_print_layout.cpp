// The printed coordinate list from arbitrary bytes: the grid's texts (any bytes, any
// length), the screen's column widths and row heights, and the printer's page and
// resolution. The layout either refuses with kestrova::Error or puts every cell on a
// sheet once (the header row and number column on every sheet), every table cell and
// rule inside the page, and draws.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/error.h"
#include "coords/cell_grid.h"
#include "fuzz_support.h"
#include "view/print_layout.h"
#include "view/recording_canvas.h"

namespace {

// Every byte a fixed width, every text a fixed height, both from the input.
class Metrics : public kestrova::TextMetrics {
 public:
  Metrics(int perByte, int height) : perByte_(perByte), height_(height) {}
  void SetFont(const kestrova::CanvasFont&) override {}
  int TextWidth(std::string_view cp932) override {
    return static_cast<int>(std::min<size_t>(cp932.size(), 100000)) * perByte_;
  }
  int TextHeight(std::string_view) override { return height_; }

 private:
  int perByte_;
  int height_;
};

// On the sheet: always within its height; within its width too when every column fits
// beside the number column (a wider one is printed alone, as far as the paper goes).
bool Inside(const kestrova::PixelPoint& p, const kestrova::PageGeometry& page, bool fits) {
  return p.y >= 0 && p.y <= page.Height && (!fits || (p.x >= 0 && p.x <= page.Width));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  using fuzz::Require;
  fuzz::Bytes in(data, size);

  GridGeometry screen;
  for (int& w : screen.ColumnWidths)
    w = in.Byte() % 8 == 0 ? in.Int() : in.Byte();
  screen.HeaderHeight = in.Byte() % 8 == 0 ? in.Int() : in.Byte();
  screen.RowHeight = in.Byte() % 8 == 0 ? in.Int() : in.Byte();
  screen.FontHeight = in.Byte() % 8 == 0 ? in.Int() : in.Byte();
  screen.DpiX = in.Byte() % 8 == 0 ? in.Double() : 24 + in.Byte();
  screen.DpiY = in.Byte() % 8 == 0 ? in.Double() : 24 + in.Byte();
  PageGeometry page;
  page.Width = in.Byte() % 8 == 0 ? in.Int() : 100 + in.Raw<uint16_t>() % 8000;
  page.Height = in.Byte() % 8 == 0 ? in.Int() : 100 + in.Raw<uint16_t>() % 12000;
  page.DpiX = in.Byte() % 8 == 0 ? in.Double() : 24 + in.Raw<uint16_t>() % 2400;
  page.DpiY = in.Byte() % 8 == 0 ? in.Double() : 24 + in.Raw<uint16_t>() % 2400;
  const int perByte = in.Byte() % 64;
  // A printer's text is at most a few thousand pixels high.
  const int textHeight = in.Byte() % 8 == 0 ? in.Raw<uint16_t>() % 4096 : in.Byte();
  Metrics metrics(perByte, textHeight);
  PrintFooter footer;
  footer.SiteName = in.Text();
  footer.Date = in.Text();

  // The grid: cells split at tabs, rows at line ends; row 0 the header.
  CellGrid grid;
  const std::string_view rest = in.Rest();
  grid.Rows.emplace_back();
  size_t column = 0;
  for (const char c : rest) {
    if (c == '\n') {
      if (grid.Rows.size() == 300) break;
      grid.Rows.emplace_back();
      column = 0;
    } else if (c == '\t') {
      column = (column + 1) % CellGrid::kColumns;
    } else {
      grid.Rows.back()[column] += c;
    }
  }

  PrintLayout layout;
  try {
    layout = LayoutCoordinateList(grid, screen, page, metrics, footer);
  } catch (const Error&) {
    return 0;
  }
  Require(!layout.Pages.empty());
  bool fits = true;
  for (int c = 1; c < CellGrid::kColumns; ++c) {
    fits = fits && int64_t{layout.ColumnWidths[0]} + layout.ColumnWidths[c] <= layout.UsableWidth;
  }
  std::vector<int> printed(grid.Rows.size() * CellGrid::kColumns, 0);
  for (const PrintPage& sheet : layout.Pages) {
    Require(!sheet.Rows.empty() && sheet.Rows.front() == 0);
    for (const PrintCell& cell : sheet.Cells) {
      Require(cell.Row >= 0 && cell.Row < grid.RowCount());
      Require(cell.Column >= 0 && cell.Column < CellGrid::kColumns);
      Require(cell.TopLeft.x <= cell.BottomRight.x && cell.TopLeft.y <= cell.BottomRight.y);
      Require(Inside(cell.TopLeft, page, fits) && Inside(cell.BottomRight, page, fits));
      ++printed[static_cast<size_t>(cell.Row) * CellGrid::kColumns + cell.Column];
    }
    for (const PrintRule& rule : sheet.Rules)
      Require(Inside(rule.From, page, fits) && Inside(rule.To, page, fits));
    RecordingCanvas canvas;
    DrawPrintPage(sheet, canvas);
  }
  for (int r = 1; r < grid.RowCount(); ++r) {
    for (int c = 1; c < CellGrid::kColumns; ++c)
      Require(printed[static_cast<size_t>(r) * CellGrid::kColumns + c] == 1);
  }
  return 0;
}
