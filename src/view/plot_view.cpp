#include "view/plot_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/number_text.h"
#include "coords/point_table.h"

namespace kestrova {

namespace {

bool Finite(double v) {
  return std::isfinite(v);
}

// Every change goes through a copy that is taken only when the result is usable, so a
// degenerate step (a zero-sized band, an overflow) can never leave a broken transform.
bool Commit(PlotViewState& view, const PlotViewState& next) {
  if (!ViewUsable(next)) return false;
  view = next;
  return true;
}

bool ScaleAllowed(double before, double after) {
  if (!Finite(after) || after <= 0.0) return false;
  if (after >= kMinViewScale && after <= kMaxViewScale) return true;
  // Outside the range only a step back towards it is taken.
  return (after < kMinViewScale && after > before) || (after > kMaxViewScale && after < before);
}

double WindowWidth(const PlotViewState& v) {
  return std::fabs(v.WindowRight - v.WindowLeft);
}
double WindowHeight(const PlotViewState& v) {
  return std::fabs(v.WindowTop - v.WindowBottom);
}
ViewPair WindowCentre(const PlotViewState& v) {
  return {(v.WindowLeft + v.WindowRight) / 2, (v.WindowBottom + v.WindowTop) / 2};
}

// Centres the window on c with the box size at the last fit, as the band zooms do.
void RecentreOn(PlotViewState& v, ViewPair c) {
  v.WindowLeft = c.h - (v.BoxWidth / 2) / v.ViewScale;
  v.WindowBottom = c.v - (v.BoxHeight / 2) / v.ViewScale;
  v.WindowRight = c.h + (v.BoxWidth / 2) / v.ViewScale;
  v.WindowTop = c.v + (v.BoxHeight / 2) / v.ViewScale;
}

// The scale that shows extent plus the 5-unit margin in the box, the smaller of both.
double FitScale(double boxWidth, double boxHeight, ViewPair extent) {
  const double sh = boxWidth / std::fabs(extent.h + 5);
  const double sv = boxHeight / std::fabs(extent.v + 5);
  return sh < sv ? sh : sv;
}

double AtLeastOnePixel(double size) {
  // NaN fails the comparison and becomes one pixel too.
  return size >= 1.0 ? size : 1.0;
}

}  // namespace

bool ViewUsable(const PlotViewState& v) {
  return Finite(v.ViewScale) && v.ViewScale > 0.0 && Finite(v.WindowLeft) &&
         Finite(v.WindowRight) && Finite(v.WindowBottom) && Finite(v.WindowTop) &&
         Finite(v.YSign) && v.YSign != 0.0;
}

ViewPair ToSurveyAxes(const PlotViewState& view, ViewPair p) {
  return view.MathAxes ? p : ViewPair{p.v, p.h};
}

ViewPair ToWorld(const PlotViewState& view, double px, double py) {
  return {px / view.ViewScale + view.WindowLeft, view.WindowTop - py / view.ViewScale};
}

bool FitView(PlotViewState& view, const DataBounds& bounds, int32_t pointCount, double boxWidth,
             double boxHeight, RefitKind kind) {
  if (pointCount < 1) return false;
  PlotViewState next = view;
  const bool math = view.MathAxes;
  next.ViewMin = math ? ViewPair{bounds.MinX, bounds.MinY} : ViewPair{bounds.MinY, bounds.MinX};
  next.ViewMax = math ? ViewPair{bounds.MaxX, bounds.MaxY} : ViewPair{bounds.MaxY, bounds.MaxX};
  next.ViewExtent =
      math ? ViewPair{bounds.ExtentX, bounds.ExtentY} : ViewPair{bounds.ExtentY, bounds.ExtentX};
  next.BoxWidth = AtLeastOnePixel(boxWidth);
  next.BoxHeight = AtLeastOnePixel(boxHeight);
  next.ViewScale = FitScale(next.BoxWidth, next.BoxHeight, next.ViewExtent);
  next.PanStep = next.ViewExtent.h / 10 / next.ViewScale;
  if (kind == RefitKind::kRightUp) next.PanStep *= 1.5;
  next.WindowLeft = next.ViewMin.h - (next.BoxWidth / next.ViewScale - next.ViewExtent.h) / 2;
  next.WindowBottom = next.ViewMin.v - (next.BoxHeight / next.ViewScale - next.ViewExtent.v) / 2;
  next.WindowRight = next.BoxWidth / next.ViewScale + next.WindowLeft;
  next.WindowTop = next.BoxHeight / next.ViewScale + next.WindowBottom;
  next.YSign = -1.0;
  return Commit(view, next);
}

bool RefitView(PlotViewState& view, double boxWidth, double boxHeight, RefitKind kind) {
  if (!ViewUsable(view)) return false;
  PlotViewState next = view;
  next.BoxWidth = AtLeastOnePixel(boxWidth);
  next.BoxHeight = AtLeastOnePixel(boxHeight);
  next.ViewScale = FitScale(next.BoxWidth, next.BoxHeight, next.ViewExtent);
  next.PanStep = next.ViewExtent.h / 10 / next.ViewScale;
  if (kind == RefitKind::kRightUp) next.PanStep *= 1.5;
  const double spareH = next.BoxWidth / next.ViewScale - next.ViewExtent.h;
  const double spareV = next.BoxHeight / next.ViewScale - next.ViewExtent.v;
  next.WindowLeft = next.ViewMin.h - spareH / 2;
  next.WindowBottom = next.ViewMin.v - spareV / 2;
  next.WindowRight = next.ViewMax.h + spareH / 2;
  next.WindowTop = next.ViewMax.v + spareV / 2;
  return Commit(view, next);
}

bool ZoomAbout(PlotViewState& view, ViewPair c, double f) {
  if (!ViewUsable(view) || !Finite(f) || f <= 0.0) return false;
  PlotViewState next = view;
  const double w = WindowWidth(view);
  const double hgt = WindowHeight(view);
  const ViewPair m = WindowCentre(view);
  next.ViewScale = view.ViewScale * f;
  if (!ScaleAllowed(view.ViewScale, next.ViewScale)) return false;
  next.WindowLeft = c.h - (w / 2) / f - (c.h - m.h) / f;
  next.WindowRight = c.h + (w / 2) / f - (c.h - m.h) / f;
  next.WindowBottom = c.v - (hgt / 2) / f - (c.v - m.v) / f;
  next.WindowTop = c.v + (hgt / 2) / f - (c.v - m.v) / f;
  return Commit(view, next);
}

bool PlotKeyDown(PlotViewState& view, int32_t pointCount, PlotKey key, double boxWidth,
                 double boxHeight) {
  if (pointCount < 1 || !ViewUsable(view)) return false;
  PlotViewState next = view;
  switch (key) {
    case PlotKey::kUp:
      next.WindowBottom += view.PanStep;
      next.WindowTop += view.PanStep;
      break;
    case PlotKey::kDown:
      next.WindowBottom -= view.PanStep;
      next.WindowTop -= view.PanStep;
      break;
    case PlotKey::kLeft:
      next.WindowLeft -= view.PanStep;
      next.WindowRight -= view.PanStep;
      break;
    case PlotKey::kRight:
      next.WindowLeft += view.PanStep;
      next.WindowRight += view.PanStep;
      break;
    case PlotKey::kHome:
      RefitView(next, boxWidth, boxHeight, RefitKind::kHomeKey);
      break;
    case PlotKey::kPageUp:
      ZoomAbout(next, WindowCentre(view), kPageUpFactor);
      break;
    case PlotKey::kPageDown:
      ZoomAbout(next, WindowCentre(view), kPageDownFactor);
      break;
  }
  // The key is the plot's even when a step was refused at the end of the zoom range.
  Commit(view, next);
  return true;
}

bool PlotWheel(PlotViewState& view, int32_t pointCount, bool overPlot, PixelPoint cursor,
               double boxWidth, double boxHeight, bool wheelUp) {
  if (pointCount < 1 || !overPlot || !ViewUsable(view)) return false;
  PlotViewState next = view;
  // The window is brought to the box's current size first, so the zoom keeps the
  // cursor's point in place even after a resize.
  next.WindowRight = boxWidth / view.ViewScale + view.WindowLeft;
  next.WindowTop = boxHeight / view.ViewScale + view.WindowBottom;
  if (!ViewUsable(next)) return true;
  const ViewPair c = ToWorld(next, cursor.x, cursor.y);
  if (ZoomAbout(next, c, wheelUp ? kWheelUpFactor : kWheelDownFactor)) Commit(view, next);
  return true;
}

void PlotMousePress(PlotGesture& gesture, MouseButtons down, PixelPoint at) {
  if (!down.right) gesture.RightInBand = false;
  if ((down.left && down.right) || down.middle) {
    gesture.DragActive = true;
    gesture.BandVisible = false;
    gesture.DragStart = at;
    gesture.DragCorner = {1, 1};
  }
}

PlotMoveResult PlotMouseMove(const PlotViewState& view, PlotGesture& gesture, int32_t pointCount,
                             MouseButtons down, PixelPoint at) {
  PlotMoveResult r;
  if (pointCount < 1 || !ViewUsable(view)) return r;
  const ViewPair world = ToWorld(view, at.x, at.y);
  if (gesture.DragActive) {
    const bool wasVisible = gesture.BandVisible;
    if (down.left && down.right) {
      gesture.BandVisible = true;
      gesture.RightInBand = true;
      r.bandChanged = !wasVisible || !(gesture.DragCorner == at);
      gesture.DragCorner = at;
    } else {
      gesture.BandVisible = false;
      r.bandChanged = wasVisible;
    }
  }
  const ViewPair survey = ToSurveyAxes(view, world);
  r.readout = true;
  r.xText = "X = " + RoundOffText(34, 7, survey.h);
  r.yText = "Y = " + RoundOffText(34, 7, survey.v);
  return r;
}

GestureKind ClassifyGesture(PixelPoint start, PixelPoint release, bool leftAndRightStillDown) {
  const int64_t dx = static_cast<int64_t>(release.x) - start.x;
  const int64_t dy = static_cast<int64_t>(release.y) - start.y;
  if (std::llabs(dx) <= 5 && std::llabs(dy) <= 5) {
    return leftAndRightStillDown ? GestureKind::kIgnore : GestureKind::kClick;
  }
  if (dx >= 0) return dy >= 0 ? GestureKind::kZoomIn : GestureKind::kRefit;
  return dy >= 0 ? GestureKind::kRedraw : GestureKind::kZoomOut;
}

namespace {

// Applies a finished drag to the view; returns whether the plot is to be drawn again.
bool ApplyGesture(PlotViewState& view, GestureKind kind, PixelPoint start, PixelPoint release,
                  double boxWidth, double boxHeight) {
  const ViewPair s = ToWorld(view, start.x, start.y);
  const ViewPair e = ToWorld(view, release.x, release.y);
  const double w = WindowWidth(view);
  const double hgt = WindowHeight(view);
  const ViewPair m = WindowCentre(view);
  double bw = std::fabs(s.h - e.h);
  double bh = std::fabs(s.v - e.v);
  const ViewPair c{(s.h + e.h) / 2, (s.v + e.v) / 2};
  PlotViewState next = view;
  switch (kind) {
    case GestureKind::kNone:
    case GestureKind::kIgnore:
      return false;
    case GestureKind::kClick:
      next.WindowLeft += e.h - m.h;
      next.WindowRight += e.h - m.h;
      next.WindowBottom += e.v - m.v;
      next.WindowTop += e.v - m.v;
      break;
    case GestureKind::kZoomIn: {
      bw = std::max(bw, 1e-6);
      bh = std::max(bh, 1e-6);
      next.ViewScale = view.ViewScale * std::min(w / bw, hgt / bh);
      if (!ScaleAllowed(view.ViewScale, next.ViewScale)) return true;
      RecentreOn(next, c);
      break;
    }
    case GestureKind::kZoomOut: {
      // A band as large as the window (the mouse was captured outside the box) would
      // give a factor of zero or less: such a gesture is ignored.
      const double f = std::max(1 - bw / w, 1 - bh / hgt);
      if (!(f > 0.0)) return true;
      next.ViewScale = view.ViewScale * f;
      if (!ScaleAllowed(view.ViewScale, next.ViewScale)) return true;
      RecentreOn(next, c);
      break;
    }
    case GestureKind::kRedraw:
      return true;
    case GestureKind::kRefit:
      RefitView(next, boxWidth, boxHeight, RefitKind::kRightUp);
      break;
  }
  Commit(view, next);
  return true;
}

}  // namespace

PlotReleaseResult PlotMouseRelease(PlotViewState& view, PlotGesture& gesture,
                                   const PointTable& table, PickState& pick, bool& gridEditable,
                                   bool rightReleased, MouseButtons stillDown, PixelPoint at,
                                   double boxWidth, double boxHeight) {
  PlotReleaseResult r;
  if (table.PointCount < 1) return r;
  // A right click switches the grid off and on; the right button of a band zoom only
  // helped draw the band, and its release leaves the grid as it was.
  if (rightReleased && gesture.RightInBand) {
    gesture.RightInBand = false;
  } else if (rightReleased) {
    gridEditable = !gridEditable;
    r.gridToggled = true;
  }
  if (!ViewUsable(view)) return r;
  if (gesture.DragActive) {
    gesture.DragActive = false;
    if (gesture.BandVisible) r.repaint = true;
    gesture.BandVisible = false;
    r.kind = ClassifyGesture(gesture.DragStart, at, stillDown.left && stillDown.right);
    if (ApplyGesture(view, r.kind, gesture.DragStart, at, boxWidth, boxHeight)) r.repaint = true;
  }
  pick.PreviousPickedRow = pick.PickedRow;
  pick.PickedRow = PickPoint(view, table, at);
  r.picked = true;
  r.repaint = true;
  return r;
}

int32_t PickPoint(const PlotViewState& view, const PointTable& table, PixelPoint at) {
  if (!ViewUsable(view)) return -1;
  const ViewPair p = ToSurveyAxes(view, ToWorld(view, at.x, at.y));
  const double t = 3 / view.ViewScale;
  const int32_t count =
      std::min<int32_t>(table.PointCount, static_cast<int32_t>(table.Points.size()) - 1);
  for (int32_t i = 1; i <= count; ++i) {
    const SurveyPoint& q = table.Points[static_cast<size_t>(i)];
    if (std::fabs(p.h - q.X) < t && std::fabs(p.v - q.Y) < t) return i;
  }
  return -1;
}

int GridTopRowAfterPick(int32_t index, const GridScrollMetrics& g) {
  if (index < 1 || g.defaultRowHeight <= 0) return -1;
  int visible = (g.gridHeight - g.defaultRowHeight) / g.defaultRowHeight - 1;
  if (g.rowCount > visible) visible -= 1;
  int top = g.topRow;
  if (index > top + visible - 2) top = index - 2;
  if (index < top && index > visible - 1) top = index - 2;
  if (index < top && index < visible) top = 1;
  // Row 0 holds the headers: the first data row is as high as the grid may scroll.
  top = std::max(top, 1);
  return top == g.topRow ? -1 : top;
}

}  // namespace kestrova
