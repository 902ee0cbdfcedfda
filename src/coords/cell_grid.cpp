#include "coords/cell_grid.h"

#include <algorithm>
#include <utility>

#include "common/number_text.h"
#include "common/sjis.h"

namespace kestrova {

const std::array<const char*, CellGrid::kColumns> kGridHeaders = {
    "  No. ",
    "\x93\x5F\x94\xD4\x8D\x86",    // 点番号
    "\x91\xAA\x93\x5F\x96\xBC",    // 測点名
    " \x82\x77 \x8D\xC0\x95\x57",  // " Ｘ 座標"
    " \x82\x78 \x8D\xC0\x95\x57",  // " Ｙ 座標"
    " \x82\x79 \x8D\xC0\x95\x57",  // " Ｚ 座標"
    "\x83\x7D\x81\x5B\x83\x4E",    // マーク
    "\x94\xF5\x81\x40\x8D\x6C",    // 備　考
};

const std::array<int, CellGrid::kColumns> kGridColumnWidths = {40, 60, 80, 80, 80, 80, 40, 80};

namespace {

std::string CoordinateCell(double v) {
  std::string s = FormatFixed(RoundOff(34, v), 7, 3);
  s += ' ';
  return s;
}

std::string NumberTextCell(int32_t number) {
  return std::to_string(number) + "  ";
}

void TogglePoint(CellGrid& grid, PointTable& table, int row) {
  SurveyPoint& p = table.Points[row];
  p.Marked = p.Marked == 0 ? 1 : 0;
  grid.Rows[row][0] = GridNumberCell(row, p.Marked == 1);
}

bool HoldsPoint(const CellGrid& grid, const PointTable& table, int column, int row) {
  return column == 0 && row >= 1 && row <= table.PointCount && row < grid.RowCount();
}

}  // namespace

std::string GridNumberCell(int32_t row, bool marked) {
  std::string s = marked ? "*" : "";
  AppendInt(s, row);
  s += ' ';
  return s;
}

GridRows::GridRows(const GridRows& other) : table_(other.table_), linked_(other.linked_) {
  rows_.reserve(other.rows_.size());
  for (const auto& row : other.rows_)
    rows_.push_back(row ? std::make_unique<GridRow>(*row) : nullptr);
}

GridRows& GridRows::operator=(const GridRows& other) {
  if (this != &other) *this = GridRows(other);
  return *this;
}

void GridRows::resize(size_t n) {
  rows_.resize(n);
  if (linked_ >= n) linked_ = n == 0 ? 0 : n - 1;
}

void GridRows::assign(size_t n, const GridRow& row) {
  rows_.clear();
  table_ = nullptr;
  linked_ = 0;
  made_.reset();
  rows_.resize(n);
  if (row != GridRow{}) {
    for (auto& r : rows_)
      r = std::make_unique<GridRow>(row);
  }
}

GridRow& GridRows::emplace_back() {
  rows_.push_back(std::make_unique<GridRow>());
  return *rows_.back();
}

GridRow& GridRows::operator[](size_t r) {
  std::unique_ptr<GridRow>& row = rows_[r];
  if (!row) {
    row = std::make_unique<GridRow>();
    if (ShowsPoint(r)) {
      FormatGridRow(table_->Points[r], static_cast<int32_t>(r), *row);
      if (made_) {
        for (size_t& w : made_->which) {
          if (w == r) w = 0;
        }
      }
    }
  }
  return *row;
}

const GridRow& GridRows::operator[](size_t r) const {
  if (const auto& row = rows_[r]) return *row;
  static const GridRow kEmpty;
  if (!ShowsPoint(r)) return kEmpty;
  if (!made_) made_ = std::make_unique<Made>();
  for (size_t i = 0; i < made_->which.size(); ++i) {
    if (made_->which[i] == r) return made_->rows[i];
  }
  const size_t slot = made_->next;
  made_->next = (slot + 1) % made_->rows.size();
  FormatGridRow(table_->Points[r], static_cast<int32_t>(r), made_->rows[slot]);
  made_->which[slot] = r;
  return made_->rows[slot];
}

void GridRows::Link(const PointTable& table, int32_t rows) {
  table_ = &table;
  linked_ = std::min(static_cast<size_t>(std::max(rows, 0)), rows_.empty() ? 0 : rows_.size() - 1);
  made_.reset();
  for (size_t r = 1; r <= linked_; ++r)
    rows_[r].reset();
}

bool operator==(const GridRows& a, const std::vector<GridRow>& b) {
  if (a.size() != b.size()) return false;
  for (size_t r = 0; r < b.size(); ++r) {
    if (a[r] != b[r]) return false;
  }
  return true;
}

GridRows::operator std::vector<GridRow>() const {
  std::vector<GridRow> rows;
  rows.reserve(size());
  for (size_t r = 0; r < size(); ++r)
    rows.push_back((*this)[r]);
  return rows;
}

void ClearPointTable(PointTable& table, SimaData& sima, CellGrid& grid) {
  ClearPoints(table);
  sima.SimaLines.clear();
  sima.SimaTexts.clear();
  // A parcel names rows of the table it came with; kept, a SIMA save would write the old
  // site's parcels over points that are not there.
  sima.SimaBlocks.clear();
  sima.SimaNotes.clear();
  grid.PickedRow = -1;
  grid.PreviousPickedRow = -1;
  grid.MarkDragActive = false;
  grid.Rows.assign(11, CellGrid::Row{});
  for (int c = 0; c < CellGrid::kColumns; ++c)
    grid.Rows[0][c] = kGridHeaders[c];
  for (int r = 1; r <= 10; ++r)
    grid.Rows[r][0] = std::to_string(r);
  grid.CurrentRow = 1;
  grid.CurrentColumn = 1;
}

void FormatGridRow(const SurveyPoint& p, int32_t r, CellGrid::Row& row) {
  row[0] = GridNumberCell(r, p.Marked == 1);
  row[1] = NumberTextCell(p.Number);
  row[2] = p.Name;
  row[3] = CoordinateCell(p.X);
  row[4] = CoordinateCell(p.Y);
  row[5] = CoordinateCell(p.Z);
  row[6] = p.Mark;
  row[7] = p.Remarks;
}

void LinkGridToPoints(const PointTable& table, CellGrid& grid) {
  if (table.PointCount == 0) return;
  grid.Rows.resize(static_cast<size_t>(table.PointCount) + 2);
  for (int c = 0; c < CellGrid::kColumns; ++c)
    grid.Rows[0][c] = kGridHeaders[c];
  grid.Rows.Link(table, table.PointCount);
  grid.Rows[static_cast<size_t>(table.PointCount) + 1] = CellGrid::Row{};
  if (grid.CurrentRow >= grid.RowCount()) grid.CurrentRow = grid.RowCount() - 1;
}

void FillGridFromPoints(const PointTable& table, CellGrid& grid) {
  if (table.PointCount == 0) return;
  grid.Rows.resize(static_cast<size_t>(table.PointCount) + 2);
  for (int c = 0; c < CellGrid::kColumns; ++c)
    grid.Rows[0][c] = kGridHeaders[c];
  for (size_t r = 1; r < grid.Rows.size(); ++r)
    grid.Rows[r] = CellGrid::Row{};
  for (int32_t r = 1; r <= table.PointCount; ++r) {
    FormatGridRow(table.Points[r], r, grid.Rows[r]);
  }
  if (grid.CurrentRow >= grid.RowCount()) grid.CurrentRow = grid.RowCount() - 1;
}

int32_t SyncGridToPoints(CellGrid& grid, PointTable& table, bool* moved) {
  const int32_t before = table.PointCount;
  for (int r = 1; r < grid.RowCount(); ++r) {
    // A row still linked to its point shows it unchanged: nothing to read back.
    if (grid.Rows.Linked(static_cast<size_t>(r))) continue;
    CellGrid::Row& row = grid.Rows[r];
    auto cell = [&row](int c) { return CutToBytes(row[c], 255); };
    if (cell(3).empty()) break;  // an empty X cell ends the read-back
    const bool added = r > table.PointCount;
    if (added) AppendPoint(table);
    SurveyPoint& p = table.Points[r];
    // A cell the user left alone gives back the point's own value, not the rounded or
    // trimmed text the grid shows for it.
    const auto edited = [&](int c, std::string_view shown) { return added || row[c] != shown; };
    if (edited(1, NumberTextCell(p.Number))) {
      p.Number = cell(1).empty() ? r : ParseInt(cell(1)).value_or(0);
    }
    if (edited(2, p.Name)) {
      const std::string_view name = TrimBlanks(cell(2));
      p.Name = cell(2).empty() ? std::to_string(r) : std::string(name);
    }
    const double x = p.X;
    const double y = p.Y;
    if (edited(3, CoordinateCell(p.X))) p.X = ParseFloat(cell(3)).value_or(0.0);
    if (edited(4, CoordinateCell(p.Y))) p.Y = ParseFloat(cell(4)).value_or(0.0);
    if (moved && !added && (p.X != x || p.Y != y)) *moved = true;
    if (edited(5, CoordinateCell(p.Z))) p.Z = ParseFloat(cell(5)).value_or(0.0);
    if (edited(6, p.Mark)) p.Mark = std::string(CutToBytes(TrimLeftBlanks(cell(6)), kMarkLimit));
    if (edited(7, p.Remarks)) {
      p.Remarks = std::string(CutToBytes(TrimLeftBlanks(cell(7)), kRemarksLimit));
    }
    // Marks are the user's, set in the number column; only a new point starts marked.
    if (added) {
      p.Marked = 1;
      row[0] = GridNumberCell(r, true);
    }
  }
  InvalidatePointIndex(table);
  return table.PointCount - before;
}

int32_t UnreadGridRow(const CellGrid& grid, const PointTable& table) {
  const auto blank = [](const CellGrid::Row& row, int c) {
    return CutToBytes(row[c], 255).empty();
  };
  int stop = 0;
  for (int r = 1; r < grid.RowCount() && stop == 0; ++r) {
    if (!grid.Rows.Linked(static_cast<size_t>(r)) && blank(grid.Rows[static_cast<size_t>(r)], 3))
      stop = r;
  }
  if (stop == 0) return 0;
  if (stop <= table.PointCount) return stop;
  for (int r = stop; r < grid.RowCount(); ++r) {
    const CellGrid::Row& row = grid.Rows[static_cast<size_t>(r)];
    for (int c = 1; c < CellGrid::kColumns; ++c)
      if (!blank(row, c)) return stop;
  }
  return 0;
}

bool IsNumberColumn(int column) {
  return column == 1 || (column >= 3 && column <= 5);
}

bool ReadsAsNumber(int column, std::string_view text) {
  return column == 1 ? ParseInt(text).has_value() : ParseFloat(text).has_value();
}

CellsNotNumbers FindCellsNotNumbers(const CellGrid& grid) {
  CellsNotNumbers found;
  for (int r = 1; r < grid.RowCount(); ++r) {
    if (grid.Rows.Linked(static_cast<size_t>(r))) continue;
    if (CutToBytes(grid.Rows[r][3], 255).empty()) break;  // where the read-back stops
    for (const int c : {1, 3, 4, 5}) {
      if (CellReadsBack(grid, r, c)) continue;
      if (found.count++ == 0) {
        found.row = r;
        found.column = c;
      }
    }
  }
  return found;
}

bool CellReadsBack(const CellGrid& grid, int row, int column) {
  if (row < 1 || row >= grid.RowCount() || grid.Rows.Linked(static_cast<size_t>(row))) return true;
  if (!IsNumberColumn(column)) return true;
  const std::string_view cell = CutToBytes(grid.Rows[row][column], 255);
  return cell.empty() || ReadsAsNumber(column, cell);
}

bool GridHoldsText(const CellGrid& grid) {
  for (int r = 1; r < grid.RowCount(); ++r) {
    for (int c = 1; c < CellGrid::kColumns; ++c) {
      if (!grid.Rows[r][c].empty()) return true;
    }
  }
  return false;
}

bool GridMousePress(CellGrid& grid, PointTable& table, int column, int row) {
  if (table.PointCount < 1) return true;
  grid.MarkDragActive = true;
  if (HoldsPoint(grid, table, column, row)) {
    TogglePoint(grid, table, row);
    grid.LastDragColumn = column;
    grid.LastDragRow = row;
  }
  return true;
}

void GridMouseMove(CellGrid& grid, PointTable& table, int column, int row) {
  if (!grid.MarkDragActive || table.PointCount < 1) return;
  if (column == grid.LastDragColumn && row == grid.LastDragRow) return;
  if (HoldsPoint(grid, table, column, row)) TogglePoint(grid, table, row);
  grid.LastDragColumn = column;
  grid.LastDragRow = row;
}

void GridMouseRelease(CellGrid& grid, const PointTable& table) {
  if (table.PointCount >= 1) grid.MarkDragActive = false;
}

bool GridEnterKey(CellGrid& grid) {
  if (grid.CurrentRow != grid.RowCount() - 1) return false;
  grid.Rows.emplace_back();
  grid.Rows.back()[0] = std::to_string(grid.RowCount() - 1);
  return true;
}

}  // namespace kestrova
