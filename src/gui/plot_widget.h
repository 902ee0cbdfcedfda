#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <string>

#include "app/flows.h"
#include "gui/painter_canvas.h"
#include "view/plot_view.h"

class QKeyEvent;
class QWheelEvent;

namespace kestrova {

// The plot box "PaintBox1": the points, SIMA lines and labels of the workspace through
// its view. Only paintEvent paints; input changes the view and asks for a repaint. The
// drawn picture is kept in an image, so the coordinate readout and the rubber band are
// drawn over it without drawing every point again.
class PlotWidget : public QWidget {
  Q_OBJECT
 public:
  explicit PlotWidget(Workspace& ws, QWidget* parent = nullptr);

  // FitView with the widget's current size, then repaint; kind: the arrow-key step.
  void FitToData(RefitKind kind = RefitKind::kRightUp);
  void Redraw();  // the cached picture is stale (data, marks, options changed): repaint

  // The main window forwards its key-down and wheel events here (keys only reach the plot
  // while the grid is disabled). Return true when consumed.
  bool HandleKey(QKeyEvent* event);
  bool HandleWheel(QWheelEvent* event);  // the global cursor position decides "over the plot"

  // The grid's geometry for the scroll after a pick, in grid rows (row 0 holds the
  // headers). Without a provider the widget measures the table view named "StringGrid1"
  // in its window.
  void SetGridMetricsProvider(std::function<GridScrollMetrics()> provider);

  const PlotGesture& Gesture() const { return gesture_; }

 signals:
  void PickChanged(int pickedRow, int newTopRow);  // -1 = none / no scroll
  void GridEnabledChanged(bool enabled);           // a right-button release toggled GridEditable

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void RenderPicture();
  void FitNow();
  GridScrollMetrics GridMetrics() const;

  Workspace& ws_;
  PlotGesture gesture_;
  QImage picture_;
  bool pictureStale_ = true;
  bool fitPending_ = false;  // asked to fit before the widget had its size on screen
  RefitKind fitKind_ = RefitKind::kRightUp;
  bool readoutShown_ = false;
  std::string readoutX_;
  std::string readoutY_;
  int wheelRemainder_ = 0;  // eighths of a degree not yet turned into a step
  std::function<GridScrollMetrics()> gridMetrics_;
  PainterCanvasCache spriteCache_;  // the plot's dots, circles and characters, drawn once
};

}  // namespace kestrova
