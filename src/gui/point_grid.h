#pragma once

#include <QAbstractTableModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <string>

#include "coords/cell_grid.h"
#include "coords/point_table.h"

namespace kestrova {

// The text a data cell shows in width pixels. Right-aligned text that does not fit
// would lose its sign and leading digits to the cell's left edge (-123456.789 showed as
// 123456.789): it drops its trailing blanks, and if still too wide is cut at its end
// behind an ellipsis and drawn from the left (align becomes left). Other text is shown
// as it is, clipped at the cell's right edge.
QString FitCellText(const QFontMetrics& metrics, const QString& text, int width,
                    Qt::Alignment& align);

// The cell grid as a Qt table. Row 0 of the cell grid is the horizontal header and
// column 0 the vertical header, so both stay put while the points scroll; model row r
// and column c are cell grid row r + 1 and column c + 1. Cells are code page 932 in the
// grid and converted only when shown or typed.
class GridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  GridModel(CellGrid& grid, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The cell grid was replaced or refilled as a whole.
  void Reset();
  // Rows were appended to the cell grid.
  void RowsAppended();
  // A number cell changed (marking).
  void NumberCellChanged(int gridRow);
  // Cells changed in rows the view already shows.
  void CellsChanged();

  CellGrid& Grid() { return grid_; }

  // Who turns typed text (UTF-8) into the cell grid's text: grid row and column, 1-based.
  // Without one the text is converted here.
  using EditHandler = std::function<void(int row, int column, const std::string& utf8)>;
  void SetEditHandler(EditHandler handler) { editHandler_ = std::move(handler); }

 private:
  CellGrid& grid_;
  EditHandler editHandler_;
  int shownRows_ = 0;  // model rows the view knows about
};

// The fixed header row and number column: light green cells, ruled, texts aligned as the
// grid's own cells; a picked row shows in its number cell too.
class GridHeader : public QHeaderView {
  Q_OBJECT

 public:
  GridHeader(Qt::Orientation orientation, const CellGrid& grid, QWidget* parent = nullptr);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

 private:
  const CellGrid& grid_;
};

// Fill colours and text placement of the data cells.
class GridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  GridDelegate(const CellGrid& grid, QObject* parent = nullptr);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;

 private:
  const CellGrid& grid_;
};

inline constexpr QRgb kFixedCellColour = qRgb(192, 220, 192);
inline constexpr QRgb kCurrentCellColour = qRgb(255, 255, 221);
inline constexpr QRgb kPickedRowColour = qRgb(176, 224, 255);
inline constexpr QRgb kUnreadCellInk = qRgb(220, 0, 0);  // a number cell that is no number

// StringGrid1: the point table's editing surface. Marking by press-and-drag in the
// number column, Enter on the last row adding a row, the grid cursor kept in the cell
// grid.
class PointGrid : public QTableView {
  Q_OBJECT

 public:
  PointGrid(CellGrid& grid, PointTable& table, QWidget* parent = nullptr);

  GridModel* Model() { return model_; }
  // Shows the cell grid again after it was replaced (a load, a clear).
  void GridChanged();
  // Hands an open editor's text to the cell grid.
  void CommitEdit();
  // Shows a pick from the plot: the picked rows highlighted, newTopRow (-1: none) scrolled
  // to the top.
  void ShowPick(int newTopRow);

  // The cell grid's column and row under a point of this widget; -1 outside the cells.
  std::pair<int, int> CellAt(QPoint pos) const;

 signals:
  // A left press anywhere in the grid: the plot shows marks and is repainted.
  void MarkingPressed();
  // A marking drag ended: the plot shows the marks it changed.
  void MarkingDone();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  void Press(QPoint pos);
  void Move(QPoint pos);
  void Release();
  void EnterKey();
  void FitNumberColumn();

  CellGrid& grid_;
  PointTable& table_;
  GridModel* model_;
};

}  // namespace kestrova
