#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "coords/point_table.h"

namespace kestrova {

// The editing surface of the point table without any drawing: rows of eight code page
// 932 cells. Row 0 holds the headers and column 0 the row numbers; row r shows point r.
// The desktop grid only wraps this.
struct CellGrid {
  static constexpr int kColumns = 8;
  using Row = std::array<std::string, kColumns>;

  std::vector<Row> Rows;
  int CurrentRow = 1;      // the grid cursor
  int CurrentColumn = 1;   //
  int32_t PickedRow = -1;  // the point picked in the plot, -1 for none
  int32_t PreviousPickedRow = -1;
  bool MarkDragActive = false;
  int LastDragColumn = -1;
  int LastDragRow = -1;

  int RowCount() const { return static_cast<int>(Rows.size()); }
};

// The header texts of row 0 and the column widths in pixels.
extern const std::array<const char*, CellGrid::kColumns> kGridHeaders;
extern const std::array<int, CellGrid::kColumns> kGridColumnWidths;

// Empties table and grid: 11 rows with the headers and the numbers 1 to 10, nothing
// picked. SIMA segments, labels and parcels go too: they belong to the points that were
// there. The site name and titles stay.
void ClearPointTable(PointTable& table, SimaData& sima, CellGrid& grid);

// Writes every point into the grid (PointCount + 2 rows; the last one stays empty for
// typing a further point). Does nothing with an empty table.
void FillGridFromPoints(const PointTable& table, CellGrid& grid);

// The number cell of grid row r: "*12 " for a marked point, "12 " otherwise.
std::string GridNumberCell(int32_t row, bool marked);

// Grid row r as FillGridFromPoints writes it for point p, the point in row r.
void FormatGridRow(const SurveyPoint& p, int32_t r, CellGrid::Row& row);

// Reads the grid back into the table, row by row until a row with an empty X cell. A cell
// that still holds what FillGridFromPoints wrote for its point keeps the point's value
// (the grid shows only three decimals); edited cells are parsed. Points keep their marks;
// rows read in as new points are marked, and their number cells show it. Returns how
// many points were added.
int32_t SyncGridToPoints(CellGrid& grid, PointTable& table);

// True when a data cell (columns 1..7) holds text: there is something typed to lose.
bool GridHoldsText(const CellGrid& grid);

// Marking by the number column. Column and row are those of the cell under the
// pointer, -1 when it is outside the cells; only the left button marks. Press returns
// true: the plot shows the marks and is repainted after every left press.
bool GridMousePress(CellGrid& grid, PointTable& table, int column, int row);
void GridMouseMove(CellGrid& grid, PointTable& table, int column, int row);
void GridMouseRelease(CellGrid& grid, const PointTable& table);

// Enter on the last row adds a row numbered with its index. Returns whether it did.
bool GridEnterKey(CellGrid& grid);

}  // namespace kestrova
