#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "coords/cell_grid.h"
#include "view/canvas.h"

namespace kestrova {

// The grid as the user sees it on screen: column widths, row heights and the font's
// cell height in the screen's pixels, and the screen's resolution. The printed table
// keeps these proportions, scaled to the printer.
struct GridGeometry {
  std::array<int, CellGrid::kColumns> ColumnWidths = {40, 60, 80, 80, 80, 80, 40, 80};
  int HeaderHeight = 18;
  int RowHeight = 18;
  int FontHeight = 12;
  double DpiX = 96.0;
  double DpiY = 96.0;
};

// A portrait page in device pixels and the device's resolution in dots per inch.
struct PageGeometry {
  int Width = 0;
  int Height = 0;
  double DpiX = 0.0;
  double DpiY = 0.0;
};

// Text extents on the printer, in printer pixels, for the font last set. The layout
// needs them before a print job exists, so it does not ask the page canvas.
class TextMetrics {
 public:
  virtual ~TextMetrics() = default;
  virtual void SetFont(const CanvasFont& font) = 0;
  virtual int TextWidth(std::string_view cp932) = 0;
  virtual int TextHeight(std::string_view cp932) = 0;
};

// One ruled line and the pen width it is drawn with.
struct PrintRule {
  PixelPoint From;
  PixelPoint To;
  int PenWidth = 1;
  friend bool operator==(const PrintRule&, const PrintRule&) = default;
};

// One printed cell of the grid: its rectangle on the page and where its text starts
// (the text cell's top-left corner). Empty cells carry no text and draw nothing.
struct PrintCell {
  int Row = 0;
  int Column = 0;
  PixelPoint TopLeft;
  PixelPoint BottomRight;
  PixelPoint TextAt;
  std::string Text;  // code page 932, as the grid shows it
};

// One sheet: the grid rows of its band in slot order (the header row first) and the
// columns of its group from left to right (the number column first).
struct PrintPage {
  CanvasFont Font;
  std::vector<int> Rows;
  std::vector<int> Columns;
  std::vector<PrintCell> Cells;  // slot by slot within each column, columns left to right
  std::vector<PrintRule> Rules;  // in drawing order: thick borders after the thin rules
  // Under the table: the site name on the left, "n / N" in the middle, the date on the
  // right (Row and Column are 0).
  std::vector<PrintCell> Footer;
};

// What every page names under its table (code page 932).
struct PrintFooter {
  std::string SiteName;
  std::string Date;  // "2026/12/07"
};

// The values every page shares, kept for the caller (and the tests) to see.
struct PrintLayout {
  int MarginTop = 0;
  int MarginBottom = 0;
  int MarginLeft = 0;
  int MarginRight = 0;
  int Padding = 0;
  int UsableWidth = 0;
  int UsableHeight = 0;
  int HeaderHeight = 0;
  int RowHeight = 0;
  int RowsPerPage = 0;  // data rows below the header on one page
  int TextHeight = 0;
  std::array<int, CellGrid::kColumns> ColumnWidths{};
  std::vector<PrintPage> Pages;
};

// The face of the printed list: a Japanese Gothic that every Windows printer has and
// that the canvases map to an installed equivalent elsewhere (code page 932).
extern const char kPrintFontFace[];

// Lays the whole grid out as pages: bands of rows that fit the page height, each with
// the header row on top, and for each band the column groups that fit the page width,
// every group starting with the number column. Throws kestrova::Error, before anything
// is printed, when the page or resolution is unusable or not even one data row fits
// below the header.
// The number column is widened on paper when its widest row number would not fit.
PrintLayout LayoutCoordinateList(const CellGrid& grid, const GridGeometry& screen,
                                 const PageGeometry& page, TextMetrics& metrics,
                                 const PrintFooter& footer = {});

// Draws one laid-out page onto the page canvas in black on white.
void DrawPrintPage(const PrintPage& page, Canvas& canvas);

}  // namespace kestrova
