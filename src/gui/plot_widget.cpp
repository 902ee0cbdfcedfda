#include "gui/plot_widget.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTableView>
#include <QWheelEvent>

#include "gui/painter_canvas.h"
#include "view/plot_draw.h"

namespace kestrova {

namespace {

MouseButtons ButtonsOf(Qt::MouseButtons b) {
  return {b.testFlag(Qt::LeftButton), b.testFlag(Qt::RightButton), b.testFlag(Qt::MiddleButton)};
}

PixelPoint PixelOf(const QPointF& p) {
  return {RoundPixel(p.x()), RoundPixel(p.y())};
}

// One notch of a common mouse wheel.
constexpr int kWheelNotch = 120;

}  // namespace

PlotWidget::PlotWidget(Workspace& ws, QWidget* parent) : QWidget(parent), ws_(ws) {
  setObjectName(QStringLiteral("PaintBox1"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);  // the readout follows the cursor without a button down
  setMinimumSize(1, 1);
}

void PlotWidget::SetGridMetricsProvider(std::function<GridScrollMetrics()> provider) {
  gridMetrics_ = std::move(provider);
}

void PlotWidget::FitToData(RefitKind kind) {
  fitKind_ = kind;
  // Files named on the command line load before the window is laid out: the fit waits
  // for the size the plot will really have.
  if (!isVisible()) {
    fitPending_ = true;
  } else {
    FitNow();
  }
  Redraw();
}

void PlotWidget::FitNow() {
  fitPending_ = false;
  if (FitView(ws_.View, ws_.Bounds, ws_.Coords.Table.PointCount, width(), height(), fitKind_)) {
    gesture_.DragActive = false;
    gesture_.BandVisible = false;
  }
}

void PlotWidget::showEvent(QShowEvent*) {
  if (fitPending_) {
    FitNow();
    Redraw();
  }
}

void PlotWidget::Redraw() {
  pictureStale_ = true;
  readoutShown_ = false;
  update();
}

void PlotWidget::RenderPicture() {
  if (picture_.size() != size()) picture_ = QImage(size(), QImage::Format_RGB32);
  picture_.fill(Qt::white);
  if (ws_.Coords.Table.PointCount >= 1) {
    QPainter painter(&picture_);
    PainterCanvas canvas(painter, &spriteCache_);
    DrawPlot(canvas, ws_.View, ws_.Coords, DrawingPlotStyle(ws_.JwCad, ws_.Settings),
             ws_.Grid.PickedRow);
  }
  pictureStale_ = false;
}

void PlotWidget::paintEvent(QPaintEvent*) {
  if (pictureStale_ || picture_.size() != size()) RenderPicture();
  QPainter painter(this);
  painter.drawImage(0, 0, picture_);
  PainterCanvas canvas(painter);
  if (gesture_.DragActive && gesture_.BandVisible) {
    DrawBand(canvas, gesture_.DragStart, gesture_.DragCorner, PenMode::kCopy);
  }
  if (readoutShown_) DrawReadout(canvas, readoutX_, readoutY_);
}

void PlotWidget::resizeEvent(QResizeEvent*) {
  if (fitPending_ && isVisible()) FitNow();
  pictureStale_ = true;
}

void PlotWidget::mousePressEvent(QMouseEvent* event) {
  PlotMousePress(gesture_, ButtonsOf(event->buttons()), PixelOf(event->position()));
  event->accept();
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
  const PlotMoveResult r = PlotMouseMove(ws_.View, gesture_, ws_.Coords.Table.PointCount,
                                         ButtonsOf(event->buttons()), PixelOf(event->position()));
  if (r.readout) {
    readoutShown_ = true;
    readoutX_ = r.xText;
    readoutY_ = r.yText;
  }
  if (r.readout || r.bandChanged) update();
  event->accept();
}

void PlotWidget::mouseReleaseEvent(QMouseEvent* event) {
  PickState pick{ws_.Grid.PickedRow, ws_.Grid.PreviousPickedRow};
  const PlotReleaseResult r =
      PlotMouseRelease(ws_.View, gesture_, ws_.Coords.Table, pick, ws_.GridEditable,
                       event->button() == Qt::RightButton, ButtonsOf(event->buttons()),
                       PixelOf(event->position()), width(), height());
  event->accept();
  ws_.Grid.PickedRow = pick.PickedRow;
  ws_.Grid.PreviousPickedRow = pick.PreviousPickedRow;
  if (r.repaint) Redraw();
  if (r.gridToggled) emit GridEnabledChanged(ws_.GridEditable);
  if (r.picked) {
    const int top = pick.PickedRow >= 1 ? GridTopRowAfterPick(pick.PickedRow, GridMetrics()) : -1;
    emit PickChanged(pick.PickedRow, top);
  }
}

bool PlotWidget::HandleKey(QKeyEvent* event) {
  PlotKey key;
  switch (event->key()) {
    case Qt::Key_Up:
      key = PlotKey::kUp;
      break;
    case Qt::Key_Down:
      key = PlotKey::kDown;
      break;
    case Qt::Key_Left:
      key = PlotKey::kLeft;
      break;
    case Qt::Key_Right:
      key = PlotKey::kRight;
      break;
    case Qt::Key_Home:
      key = PlotKey::kHome;
      break;
    case Qt::Key_PageUp:
      key = PlotKey::kPageUp;
      break;
    case Qt::Key_PageDown:
      key = PlotKey::kPageDown;
      break;
    default:
      return false;
  }
  if (!PlotKeyDown(ws_.View, ws_.Coords.Table.PointCount, key, width(), height())) return false;
  event->accept();
  Redraw();
  return true;
}

bool PlotWidget::HandleWheel(QWheelEvent* event) {
  if (ws_.Coords.Table.PointCount < 1) return false;
  const QPoint local = mapFromGlobal(event->globalPosition()).toPoint();
  // Edges included, as the box's screen rectangle reaches one past the last pixel.
  const bool over =
      local.x() >= 0 && local.y() >= 0 && local.x() <= width() && local.y() <= height();
  if (!over) return false;
  // High-resolution wheels and touchpads send parts of a notch; a step is taken per notch.
  wheelRemainder_ += event->angleDelta().y();
  bool changed = false;
  while (wheelRemainder_ >= kWheelNotch || wheelRemainder_ <= -kWheelNotch) {
    const bool up = wheelRemainder_ > 0;
    wheelRemainder_ += up ? -kWheelNotch : kWheelNotch;
    changed |= PlotWheel(ws_.View, ws_.Coords.Table.PointCount, true, {local.x(), local.y()},
                         width(), height(), up);
  }
  event->accept();
  if (changed) Redraw();
  return true;
}

GridScrollMetrics PlotWidget::GridMetrics() const {
  if (gridMetrics_) return gridMetrics_();
  GridScrollMetrics m;
  const auto* grid = window()->findChild<QTableView*>(QStringLiteral("StringGrid1"));
  if (!grid || !grid->model()) return m;
  // The headers are either the model's first row or the view's own header row.
  const int modelRows = grid->model()->rowCount();
  const int offset = modelRows == ws_.Grid.RowCount() ? 0 : 1;
  m.gridHeight = grid->height();
  m.defaultRowHeight = grid->verticalHeader()->defaultSectionSize();
  m.rowCount = modelRows + offset;
  const int top = grid->rowAt(0);
  m.topRow = top < 0 ? 1 : top + offset;
  return m;
}

}  // namespace kestrova
