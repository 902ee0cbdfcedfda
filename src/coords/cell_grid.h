#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "coords/point_table.h"

namespace kestrova {

using GridRow = std::array<std::string, 8>;

// The rows of the cell grid. A row is held as text once something wrote to it; rows
// linked to a point table (LinkGridToPoints) show their point as FillGridFromPoints
// would write it until then, so a million loaded points need no eight million texts.
// Reading through a const grid never makes a row; writing through operator[] does.
class GridRows {
 public:
  GridRows() = default;
  GridRows(const GridRows& other);
  GridRows& operator=(const GridRows& other);
  GridRows(GridRows&&) noexcept = default;
  GridRows& operator=(GridRows&&) noexcept = default;

  size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  // New rows are empty; rows cut off are gone, links included.
  void resize(size_t n);
  void assign(size_t n, const GridRow& row);
  GridRow& emplace_back();
  GridRow& back() { return (*this)[rows_.size() - 1]; }

  GridRow& operator[](size_t r);
  // A linked row's text is made into a small ring of rows: the reference stays valid
  // for the next 63 reads of linked rows, whatever is read before them.
  const GridRow& operator[](size_t r) const;

  // Rows 1..rows show table's points (whose table must outlive the link or the next
  // resize, assign or link); every row held so far is dropped.
  void Link(const PointTable& table, int32_t rows);
  // Whether row r still shows its point as the table holds it.
  bool Linked(size_t r) const { return r < rows_.size() && !rows_[r] && ShowsPoint(r); }

  friend bool operator==(const GridRows& a, const std::vector<GridRow>& b);
  operator std::vector<GridRow>() const;  // NOLINT: tests keep a copy to compare

 private:
  // A table that lost rows behind the grid's back shows them as empty, never past its end.
  bool ShowsPoint(size_t r) const {
    return r >= 1 && r <= linked_ && r <= static_cast<size_t>(table_->PointCount);
  }

  std::vector<std::unique_ptr<GridRow>> rows_;  // null: linked, or empty
  const PointTable* table_ = nullptr;
  size_t linked_ = 0;
  struct Made {
    std::array<GridRow, 64> rows;
    std::array<size_t, 64> which{};
    size_t next = 0;
  };
  mutable std::unique_ptr<Made> made_;
};

// The editing surface of the point table without any drawing: rows of eight code page
// 932 cells. Row 0 holds the headers and column 0 the row numbers; row r shows point r.
// The desktop grid only wraps this.
struct CellGrid {
  static constexpr int kColumns = 8;
  using Row = GridRow;

  GridRows Rows;
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

// As FillGridFromPoints, with the points' rows linked to the table rather than written:
// the table must stay as long as the grid shows it (the desktop program's workspace).
void LinkGridToPoints(const PointTable& table, CellGrid& grid);

// Grid row r as FillGridFromPoints writes it for point p, the point in row r.
void FormatGridRow(const SurveyPoint& p, int32_t r, CellGrid::Row& row);

// Reads the grid back into the table, row by row until a row with an empty X cell. A cell
// that still holds what FillGridFromPoints wrote for its point keeps the point's value
// (the grid shows only three decimals); edited cells are parsed. Points keep their marks;
// rows read in as new points are marked, and their number cells show it. Returns how
// many points were added; moved, when given, is set when a point of table moved.
int32_t SyncGridToPoints(CellGrid& grid, PointTable& table, bool* moved = nullptr);

// Where SyncGridToPoints stops short of what the grid shows: the row of the first empty X
// cell when a point of table stands in it (its cleared cells are not read: the point
// stays as it was) or a row from it on holds text that is not read. 0 when every row
// with text is read.
int32_t UnreadGridRow(const CellGrid& grid, const PointTable& table);

// The number cells SyncGridToPoints reads that hold text that is no number (it reads
// them as 0): how many, and the first of them. count 0 when there is none.
struct CellsNotNumbers {
  size_t count = 0;
  int32_t row = 0;
  int column = 0;
};
CellsNotNumbers FindCellsNotNumbers(const CellGrid& grid);

// The point number, X, Y and Z columns, and whether text reads as such a column's number
// (an integer for the point number).
bool IsNumberColumn(int column);
bool ReadsAsNumber(int column, std::string_view text);

// False when cell (row, column) of the number, X, Y or Z column holds typed text that the
// read-back cannot take for a number, and will save as 0: the grid shows such a cell so.
bool CellReadsBack(const CellGrid& grid, int row, int column);

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
