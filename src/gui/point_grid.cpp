#include "gui/point_grid.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <utility>

#include "gui/fonts.h"
#include "gui/qt_text.h"

namespace kestrova {

namespace {

constexpr int kRowHeight = 18;
const QColor kRuleColour(160, 160, 160);

bool IsLeftAligned(int gridColumn) {
  return gridColumn == 2 || gridColumn == 7;
}

// Text placement shared by cells and headers: 2 pixels in from the aligned edge and
// from the top. Data cells' text is fitted first (FitCellText).
void DrawCellText(QPainter* painter, const QRect& cell, const QString& text, Qt::Alignment align,
                  bool fit = false) {
  const QRect inner = cell.adjusted(2, 2, -2, 0);
  const QString shown =
      fit ? FitCellText(painter->fontMetrics(), text, inner.width(), align) : text;
  painter->save();
  painter->setClipRect(cell);
  painter->drawText(inner, static_cast<int>(align | Qt::AlignTop), shown);
  painter->restore();
}

}  // namespace

QString FitCellText(const QFontMetrics& metrics, const QString& text, int width,
                    Qt::Alignment& align) {
  if (!(align & Qt::AlignRight) || metrics.horizontalAdvance(text) <= width) return text;
  // The blank that follows a filled-in number is only a margin.
  QString trimmed = text;
  while (!trimmed.isEmpty() && trimmed.back() == QLatin1Char(' '))
    trimmed.chop(1);
  if (metrics.horizontalAdvance(trimmed) <= width) return trimmed;
  align = (align & ~Qt::AlignHorizontal_Mask) | Qt::AlignLeft;
  return metrics.elidedText(trimmed, Qt::ElideRight, width);
}

// --- GridModel -------------------------------------------------------------------------

GridModel::GridModel(CellGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), shownRows_(std::max(0, grid.RowCount() - 1)) {}

int GridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shownRows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : CellGrid::kColumns - 1;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::TextAlignmentRole) {
    return {};
  }
  const int row = index.row() + 1;
  const int column = index.column() + 1;
  if (!index.isValid() || row >= grid_.RowCount()) return {};
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(IsLeftAligned(column) ? Qt::AlignLeft | Qt::AlignTop
                                                     : Qt::AlignRight | Qt::AlignTop);
  }
  return Cp932ToQt(std::as_const(grid_).Rows[row][column]);
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const int row = index.row() + 1;
  const int column = index.column() + 1;
  if (role != Qt::EditRole || !index.isValid() || row >= grid_.RowCount()) return false;
  const std::string typed = QtToUtf8(value.toString());
  if (editHandler_) {
    editHandler_(row, column, typed);
  } else {
    grid_.Rows[row][column] = Utf8ToCp932(typed).text;
  }
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section + 1 >= CellGrid::kColumns || grid_.Rows.empty()) return {};
    return Cp932ToQt(std::as_const(grid_).Rows[0][section + 1]);
  }
  if (section < 0 || section + 1 >= grid_.RowCount()) return {};
  return Cp932ToQt(std::as_const(grid_).Rows[section + 1][0]);
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

void GridModel::Reset() {
  beginResetModel();
  shownRows_ = std::max(0, grid_.RowCount() - 1);
  endResetModel();
}

void GridModel::RowsAppended() {
  const int rows = std::max(0, grid_.RowCount() - 1);
  if (rows <= shownRows_) return;
  beginInsertRows(QModelIndex(), shownRows_, rows - 1);
  shownRows_ = rows;
  endInsertRows();
}

void GridModel::CellsChanged() {
  if (shownRows_ < 1) return;
  emit headerDataChanged(Qt::Vertical, 0, shownRows_ - 1);
  emit dataChanged(index(0, 0), index(shownRows_ - 1, columnCount() - 1));
}

void GridModel::NumberCellChanged(int gridRow) {
  if (gridRow >= 1 && gridRow - 1 < shownRows_) {
    emit headerDataChanged(Qt::Vertical, gridRow - 1, gridRow - 1);
  }
}

// --- GridHeader ------------------------------------------------------------------------

GridHeader::GridHeader(Qt::Orientation orientation, const CellGrid& grid, QWidget* parent)
    : QHeaderView(orientation, parent), grid_(grid) {
  setSectionsClickable(false);
  setHighlightSections(false);
  setMinimumSectionSize(1);
  // Below the last row and right of the last column the grid shows its own white.
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::Base, Qt::white);
  white.setColor(QPalette::Button, Qt::white);
  setPalette(white);
  viewport()->setAutoFillBackground(true);
  viewport()->setPalette(white);
}

void GridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  if (!rect.isValid()) return;
  painter->save();
  QColor fill(kFixedCellColour);
  if (orientation() == Qt::Vertical && grid_.PickedRow >= 0 &&
      logicalIndex + 1 == grid_.PickedRow) {
    fill = QColor(kPickedRowColour);
  }
  painter->fillRect(rect, fill);
  painter->setPen(kRuleColour);
  painter->drawLine(rect.topRight(), rect.bottomRight());
  painter->drawLine(rect.bottomLeft(), rect.bottomRight());
  painter->setPen(Qt::black);
  const QString text = model()->headerData(logicalIndex, orientation()).toString();
  DrawCellText(painter, rect, text,
               orientation() == Qt::Horizontal ? Qt::AlignHCenter : Qt::AlignRight);
  painter->restore();
}

// --- GridDelegate ----------------------------------------------------------------------

GridDelegate::GridDelegate(const CellGrid& grid, QObject* parent)
    : QStyledItemDelegate(parent), grid_(grid) {}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
  const int gridRow = index.row() + 1;
  const int gridColumn = index.column() + 1;
  QColor fill = Qt::white;
  QColor ink = Qt::black;
  if (option.state & QStyle::State_Selected) {
    fill = option.palette.color(QPalette::Active, QPalette::Highlight);
    ink = option.palette.color(QPalette::Active, QPalette::HighlightedText);
  }
  const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
  if (view != nullptr && view->currentIndex() == index) {
    fill = QColor(kCurrentCellColour);
    ink = Qt::black;
  }
  if (grid_.PickedRow >= 0 && gridRow == grid_.PickedRow) {
    fill = QColor(kPickedRowColour);
    ink = Qt::black;
  }
  if (grid_.PreviousPickedRow >= 0 && gridRow == grid_.PreviousPickedRow && grid_.PickedRow == -1) {
    fill = Qt::white;
    ink = Qt::black;
  }
  // Typed text that will be saved as 0 is drawn red, whatever the row's colours.
  if (!CellReadsBack(grid_, gridRow, gridColumn)) ink = QColor(kUnreadCellInk);
  painter->fillRect(option.rect, fill);
  painter->setPen(ink);
  painter->setFont(option.font);
  DrawCellText(painter, option.rect, index.data(Qt::DisplayRole).toString(),
               IsLeftAligned(gridColumn) ? Qt::AlignLeft : Qt::AlignRight, true);
}

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    line->setAlignment(IsLeftAligned(index.column() + 1) ? Qt::AlignLeft : Qt::AlignRight);
  }
  return editor;
}

// --- PointGrid -------------------------------------------------------------------------

PointGrid::PointGrid(CellGrid& grid, PointTable& table, QWidget* parent)
    : QTableView(parent), grid_(grid), table_(table), model_(new GridModel(grid, this)) {
  setObjectName(QStringLiteral("StringGrid1"));
  setFont(PGothicFont(12));
  setHorizontalHeader(new GridHeader(Qt::Horizontal, grid, this));
  setVerticalHeader(new GridHeader(Qt::Vertical, grid, this));
  setModel(model_);
  setItemDelegate(new GridDelegate(grid, this));

  // Fixed row heights: the view never measures 100,000 rows.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setFixedHeight(kRowHeight);
  horizontalHeader()->setStretchLastSection(false);
  for (int c = 1; c < CellGrid::kColumns; ++c)
    setColumnWidth(c - 1, kGridColumnWidths[c]);
  FitNumberColumn();

  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setTabKeyNavigation(true);
  setWordWrap(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setGridStyle(Qt::SolidLine);
  setCornerButtonEnabled(false);

  viewport()->installEventFilter(this);
  verticalHeader()->viewport()->installEventFilter(this);
  horizontalHeader()->viewport()->installEventFilter(this);
  if (auto* corner = findChild<QAbstractButton*>()) corner->installEventFilter(this);
}

void PointGrid::GridChanged() {
  if (model_->rowCount() == std::max(0, grid_.RowCount() - 1)) {
    // The same rows with new texts (a read-back marking typed points): the view keeps
    // its place.
    model_->CellsChanged();
  } else {
    std::array<int, CellGrid::kColumns - 1> widths{};
    for (int c = 0; c < model_->columnCount(); ++c)
      widths[c] = columnWidth(c);
    model_->Reset();
    for (int c = 0; c < model_->columnCount(); ++c)
      setColumnWidth(c, widths[c]);
  }
  FitNumberColumn();
  const QModelIndex current = model_->index(grid_.CurrentRow - 1, grid_.CurrentColumn - 1);
  if (current.isValid() && current != currentIndex())
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect);
}

void PointGrid::CommitEdit() {
  if (state() != QAbstractItemView::EditingState) return;
  if (QWidget* editor = indexWidget(currentIndex())) {
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
  }
}

void PointGrid::ShowPick(int newTopRow) {
  if (newTopRow >= 1 && newTopRow - 1 < model_->rowCount()) {
    scrollTo(model_->index(newTopRow - 1, 0), QAbstractItemView::PositionAtTop);
  }
  viewport()->update();
  verticalHeader()->viewport()->update();
}

std::pair<int, int> PointGrid::CellAt(QPoint pos) const {
  const QRect numbers = verticalHeader()->geometry();
  const QRect headers = horizontalHeader()->geometry();
  const QPoint inViewport = viewport()->mapFrom(this, pos);
  int column = -1;
  if (pos.x() >= numbers.left() && pos.x() <= numbers.right()) {
    column = 0;
  } else if (pos.x() > numbers.right()) {
    const int c = columnAt(inViewport.x());
    if (c >= 0) column = c + 1;
  }
  int row = -1;
  if (pos.y() >= headers.top() && pos.y() <= headers.bottom()) {
    row = 0;
  } else if (pos.y() > headers.bottom()) {
    const int r = rowAt(inViewport.y());
    if (r >= 0) row = r + 1;
  }
  if (column < 0 || row < 0) return {-1, -1};
  return {column, row};
}

void PointGrid::Press(QPoint pos) {
  const auto [column, row] = CellAt(pos);
  GridMousePress(grid_, table_, column, row);
  if (column == 0) model_->NumberCellChanged(row);
  emit MarkingPressed();
}

void PointGrid::Move(QPoint pos) {
  if (!grid_.MarkDragActive) return;
  const auto [column, row] = CellAt(pos);
  GridMouseMove(grid_, table_, column, row);
  if (column == 0) model_->NumberCellChanged(row);
}

void PointGrid::Release() {
  const bool dragging = grid_.MarkDragActive;
  GridMouseRelease(grid_, table_);
  if (dragging) emit MarkingDone();
}

bool PointGrid::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr) return QTableView::eventFilter(watched, event);
  if (event->type() == QEvent::Paint && qobject_cast<QAbstractButton*>(widget) != nullptr) {
    // The corner holds the number column's header "  No. ".
    QPainter painter(widget);
    const QRect rect = widget->rect();
    painter.fillRect(rect, QColor(kFixedCellColour));
    painter.setPen(kRuleColour);
    painter.drawLine(rect.topRight(), rect.bottomRight());
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.setPen(Qt::black);
    painter.setFont(font());
    if (!grid_.Rows.empty()) {
      DrawCellText(&painter, rect, Cp932ToQt(std::as_const(grid_).Rows[0][0]), Qt::AlignHCenter);
    }
    return true;
  }
  const bool numbers = widget == verticalHeader()->viewport();
  const bool inGrid = numbers || widget == viewport() || widget == horizontalHeader()->viewport();
  if (!inGrid) return QTableView::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton)
        Press(widget->mapTo(this, mouse->position().toPoint()));
      return numbers;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->buttons() & Qt::LeftButton) Move(widget->mapTo(this, mouse->position().toPoint()));
      return numbers;
    }
    case QEvent::MouseButtonRelease:
      Release();
      return numbers;
    case QEvent::MouseButtonDblClick: {
      // The second press of a double click is a press too: a number clicked twice is
      // marked as it was.
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (numbers && mouse->button() == Qt::LeftButton)
        Press(widget->mapTo(this, mouse->position().toPoint()));
      return numbers;
    }
    default:
      return QTableView::eventFilter(watched, event);
  }
}

void PointGrid::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) EnterKey();
  QTableView::keyPressEvent(event);
}

void PointGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  QTableView::closeEditor(editor, hint);
  // The delegate closes its editor with this hint on Enter.
  if (hint == QAbstractItemDelegate::SubmitModelCache) EnterKey();
}

void PointGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (current.isValid()) {
    grid_.CurrentRow = current.row() + 1;
    grid_.CurrentColumn = current.column() + 1;
  }
}

void PointGrid::EnterKey() {
  if (GridEnterKey(grid_)) {
    model_->RowsAppended();
    FitNumberColumn();
  }
}

void PointGrid::FitNumberColumn() {
  const QFontMetrics metrics(verticalHeader()->font());
  const QString widest = QStringLiteral("*%1 ").arg(std::max(10, grid_.RowCount()));
  verticalHeader()->setFixedWidth(
      std::max(kGridColumnWidths[0], metrics.horizontalAdvance(widest) + 6));
}

}  // namespace kestrova
