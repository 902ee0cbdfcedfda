#pragma once

#include <algorithm>
#include <array>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "common/parallel.h"
#include "coords/cell_grid.h"
#include "coords/streamed_drawing.h"
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
  std::vector<PrintPage> Pages;  // LayoutCoordinateList only

  // What laying out a page needs besides its rows.
  CanvasFont Font;
  int RowCount = 0;   // grid rows, the header row included
  int BandCount = 0;  // bands of rows, each printed as one sheet per column group
  std::vector<std::vector<int>> Groups;
  std::array<int, CellGrid::kColumns> ColumnX{};       // within the table, for each group
  std::array<int, CellGrid::kColumns> HeaderWidths{};  // text widths of the header row
  std::array<std::string, CellGrid::kColumns> Headers;
  int FooterY = 0;
  PrintFooter Footer;

  int PageCount() const { return BandCount * static_cast<int>(Groups.size()); }
  // The grid rows of band b after the header: [first, end).
  int BandFirstRow(int b) const { return 1 + b * RowsPerPage; }
  int BandEndRow(int b) const { return std::min(RowCount, BandFirstRow(b) + RowsPerPage); }
};

// The face of the printed list: a Japanese Gothic that every Windows printer has and
// that the canvases map to an installed equivalent elsewhere (code page 932).
extern const char kPrintFontFace[];

// The font the list is printed in. Throws kestrova::Error when the page or the screen
// reports no usable resolution.
CanvasFont PrintFont(const GridGeometry& screen, const PageGeometry& page);

// The widest of the row numbers (column 0 of rows 1 and on), measured in the print
// font; the metrics must have it set.
class WidestNumber {
 public:
  void Add(TextMetrics& metrics, std::string_view cp932) {
    const int w = metrics.TextWidth(cp932);
    if (w > widest_) widest_ = w;
  }
  int Width() const { return widest_; }

 private:
  int widest_ = 0;
};

// Everything but the pages: margins, bands of rows that fit the page height and the
// column groups that fit the page width, every group starting with the number column.
// rowCount counts the grid's rows (the header included), header is row 0 and
// widestNumber the widest row number as WidestNumber measured it. Throws
// kestrova::Error, before anything is printed, when the page or resolution is unusable
// or not even one data row fits below the header. The number column is widened on
// paper when its widest row number would not fit.
PrintLayout PlanCoordinateList(const CellGrid::Row& header, int rowCount, int widestNumber,
                               const GridGeometry& screen, const PageGeometry& page,
                               TextMetrics& metrics, const PrintFooter& footer = {});

// The rows of one band as the page layout asks for them: the header row 0 and the rows
// of the band, nothing else.
class PrintRows {
 public:
  virtual ~PrintRows() = default;
  virtual const CellGrid::Row& Row(int r) = 0;
};

// The rows of a grid held whole.
class GridPrintRows : public PrintRows {
 public:
  explicit GridPrintRows(const CellGrid& grid) : grid_(grid) {}
  const CellGrid::Row& Row(int r) override { return grid_.Rows[static_cast<size_t>(r)]; }

 private:
  const CellGrid& grid_;
};

// The rows of a point table as FillGridFromPoints would show them (the row after the
// last point empty), made when a page asks for them and kept for one band: a list of a
// million points is printed without a grid of eight million texts.
class TablePrintRows : public PrintRows {
 public:
  TablePrintRows(const PointTable& table, int rowsPerBand);
  const CellGrid::Row& Row(int r) override;

 private:
  const PointTable& table_;
  CellGrid::Row header_;
  CellGrid::Row empty_;
  std::vector<CellGrid::Row> rows_;
  std::vector<int> made_;  // which row each of rows_ holds
};

// The rows of points gathered for an export (StreamedDrawingData), read from the
// temporary files once, from the first to the last, as the bands ask for them: a list of
// any length is printed without its table. The rows of the next bands are read and
// formatted on another core while these are printed, a few thousand at a time so that
// the pages are not kept waiting. Every band asks for rows after the band before it;
// the data must outlive the rows.
class GatheredPrintRows : public PrintRows {
 public:
  // The rows are read about rowsAtOnce at a time, in whole bands.
  GatheredPrintRows(const StreamedDrawingData& data, int rowsPerBand, int rowsAtOnce = 4096);
  const CellGrid::Row& Row(int r) override;

 private:
  // Rows first, first + 1, ... of a few whole bands.
  struct Rows {
    int32_t first = 1;
    std::vector<CellGrid::Row> rows;
  };
  Rows Make(int32_t first);

  StreamedDrawingData::Points points_;
  StreamedDrawingData::Names names_;
  StreamedDrawingData::Texts texts_;
  int32_t pointCount_ = 0;
  int32_t rowsAtOnce_ = 1;  // whole bands
  CellGrid::Row header_;
  CellGrid::Row empty_;
  Rows ready_;
  // Why reading the rows failed: the files stopped part way, so every later row fails too.
  std::exception_ptr failed_;
  Aside<Rows> next_;  // last: its end waits while the files are read
};

// The plan of the grid a table of the gathered points (at least one) would show.
PrintLayout PlanCoordinateList(const StreamedDrawingData& data, const GridGeometry& screen,
                               const PageGeometry& page, TextMetrics& metrics,
                               const PrintFooter& footer = {});

// The plan of the grid FillGridFromPoints would make of a table of at least one point.
PrintLayout PlanCoordinateList(const PointTable& table, const GridGeometry& screen,
                               const PageGeometry& page, TextMetrics& metrics,
                               const PrintFooter& footer = {});

// The plan of a grid held whole.
PrintLayout PlanCoordinateList(const CellGrid& grid, const GridGeometry& screen,
                               const PageGeometry& page, TextMetrics& metrics,
                               const PrintFooter& footer = {});

// Sheet `group` of band `band` (pages are numbered band by band, a group after the other).
PrintPage LayoutPrintPage(const PrintLayout& layout, int band, int group, PrintRows& rows,
                          TextMetrics& metrics);

// Lays the whole grid out as pages: the plan and every page of it. For the tests and
// small grids; printing lays a page out only when it is drawn.
PrintLayout LayoutCoordinateList(const CellGrid& grid, const GridGeometry& screen,
                                 const PageGeometry& page, TextMetrics& metrics,
                                 const PrintFooter& footer = {});

// Draws one laid-out page onto the page canvas in black on white.
void DrawPrintPage(const PrintPage& page, Canvas& canvas);

}  // namespace kestrova
