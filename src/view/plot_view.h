#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "view/canvas.h"

namespace kestrova {

struct DataBounds;
struct PointTable;

// A pair in view axes: h runs to the right on screen, v upwards.
struct ViewPair {
  double h = 0.0;
  double v = 0.0;
};

// The plot's transform and visible window (all zero after the table is cleared).
// A survey point (X, Y) has view coordinates (X, Y) under MathAxes, else (Y, X).
struct PlotViewState {
  double BoxWidth = 0.0;  // plot box size at the last fit, pixels
  double BoxHeight = 0.0;
  double YSign = 0.0;      // -1 once fitted: growing v goes up the screen
  double ViewScale = 0.0;  // pixels per world unit
  double WindowLeft = 0.0;
  double WindowBottom = 0.0;
  double WindowRight = 0.0;
  double WindowTop = 0.0;
  double PanStep = 0.0;  // world distance of one arrow-key pan
  ViewPair ViewMin;      // data corners and extent at the last fit, in view axes
  ViewPair ViewMax;
  ViewPair ViewExtent;
  bool MathAxes = false;  // survey X horizontal; false: X up, Y to the right
};

// The scale zooming may reach, pixels per world unit. A fit may land outside (data
// spanning a whole continent in millimetres); zooming then only moves back towards the
// range. Beyond it the picture would only show rounding noise, or none at all.
inline constexpr double kMinViewScale = 1e-9;
inline constexpr double kMaxViewScale = 1e9;

// Zoom factors of the wheel and of Page Up / Page Down.
inline constexpr double kWheelUpFactor = 1.12;
inline constexpr double kWheelDownFactor = 0.9;
inline constexpr double kPageUpFactor = 1.2;
inline constexpr double kPageDownFactor = 0.85;

// True when the transform can be used: a finite positive scale and a finite window.
// Every handler does nothing while it is false (the state after the table is cleared).
bool ViewUsable(const PlotViewState& view);

// Survey (X, Y) in view axes.
inline ViewPair ToViewAxes(const PlotViewState& view, double x, double y) {
  return view.MathAxes ? ViewPair{x, y} : ViewPair{y, x};
}
// View axes back to survey (X, Y) (the swap is its own inverse).
ViewPair ToSurveyAxes(const PlotViewState& view, ViewPair p);

// The unrounded pixel position of a view-axes point, and back.
struct ScreenPoint {
  double x = 0.0;
  double y = 0.0;
};
inline ScreenPoint ToScreen(const PlotViewState& view, ViewPair p) {
  return {(p.h - view.WindowLeft) * view.ViewScale,
          (p.v - view.WindowTop) * view.ViewScale * view.YSign};
}
ViewPair ToWorld(const PlotViewState& view, double px, double py);

// A pixel coordinate as an integer: rounded to the nearest, halves to even, after being
// clamped to ±kPixelLimit (a NaN becomes 0), so no position overflows a device.
inline constexpr double kPixelLimit = 1'000'000.0;
inline int RoundPixel(double value) {
  if (std::isnan(value)) return 0;
  const double clamped = std::clamp(value, -kPixelLimit, kPixelLimit);
  // Adding and taking away 1.5 * 2^52 leaves no fraction bits: the sum is rounded to the
  // nearest, halves to even, by the floating-point unit itself.
  constexpr double kRounder = 6755399441055744.0;
  return static_cast<int>((clamped + kRounder) - kRounder);
}
inline PixelPoint RoundPixels(ScreenPoint p) {
  return {RoundPixel(p.x), RoundPixel(p.y)};
}

enum class RefitKind {
  kHomeKey,  // pan step one tenth of the extent
  kRightUp,  // pan step as after a fit (one and a half times that)
};

// Fits the view to the bounds in a box of the given size. The margin is 5 world units
// added to each extent, so a single point or points on one line fit as well; a box
// narrower than a pixel counts as one pixel. Returns false and leaves the view as it
// was when the table is empty or the bounds give no usable scale. kind: the pan step.
bool FitView(PlotViewState& view, const DataBounds& bounds, int32_t pointCount, double boxWidth,
             double boxHeight, RefitKind kind = RefitKind::kRightUp);

// The fit again from the corners stored by the last fit, with the box's current size.
bool RefitView(PlotViewState& view, double boxWidth, double boxHeight, RefitKind kind);

// Zooms about a view-axes point by factor, keeping that point's pixel position. A factor
// or a result that is not finite and positive, or a scale leaving the zoom range (other
// than back towards it), changes nothing; returns whether the view changed.
bool ZoomAbout(PlotViewState& view, ViewPair centre, double factor);

enum class PlotKey { kUp, kDown, kLeft, kRight, kHome, kPageUp, kPageDown };

// A key on the plot (only reaching it while the grid is disabled). Returns whether the key
// was handled: then the plot is drawn again. Nothing is handled without points.
bool PlotKeyDown(PlotViewState& view, int32_t pointCount, PlotKey key, double boxWidth,
                 double boxHeight);

// One wheel step with the cursor at cursor (plot pixels); overPlot says whether it lies
// inside the plot box, edges included. Returns whether the event was handled (the plot
// is drawn again). The grid's enabled state is not touched.
bool PlotWheel(PlotViewState& view, int32_t pointCount, bool overPlot, PixelPoint cursor,
               double boxWidth, double boxHeight, bool wheelUp);

// The mouse buttons down at an event.
struct MouseButtons {
  bool left = false;
  bool right = false;
  bool middle = false;
};

// A two-button or middle-button drag in progress.
struct PlotGesture {
  bool DragActive = false;
  bool BandVisible = false;  // the band from DragStart to DragCorner is on screen
  bool RightInBand = false;  // the right button helped draw a band: its release is no click
  PixelPoint DragStart;
  PixelPoint DragCorner;
};

void PlotMousePress(PlotGesture& gesture, MouseButtons down, PixelPoint at);

// What a move shows: the readout texts (code page 932) and whether the band changed.
struct PlotMoveResult {
  bool readout = false;  // the texts below are to be shown
  std::string xText;     // "X = " and the survey X, 3 decimals in 11 characters
  std::string yText;
  bool bandChanged = false;
};
PlotMoveResult PlotMouseMove(const PlotViewState& view, PlotGesture& gesture, int32_t pointCount,
                             MouseButtons down, PixelPoint at);

// How a drag ended, by its direction.
enum class GestureKind {
  kNone = -1,  // no drag was active
  kClick = 0,  // pan the clicked point to the centre
  kZoomIn = 1,
  kZoomOut = 2,
  kRedraw = 3,
  kRefit = 4,
  kIgnore = 5,
};
GestureKind ClassifyGesture(PixelPoint start, PixelPoint release, bool leftAndRightStillDown);

// Where the grid's current row and picking live.
struct PickState {
  int32_t PickedRow = -1;
  int32_t PreviousPickedRow = -1;
};

struct PlotReleaseResult {
  bool repaint = false;      // the view changed or the band has to go
  bool gridToggled = false;  // a right release: GridEditable was flipped
  bool picked = false;       // a pick ran (PickedRow may be -1: nothing hit)
  GestureKind kind = GestureKind::kNone;
};

// A release on the plot: the right button toggles gridEditable (whenever there are
// points), a drag ends in its gesture, then the release position picks a point. The box
// size is the plot's current one, for the refit of a right-up drag.
PlotReleaseResult PlotMouseRelease(PlotViewState& view, PlotGesture& gesture,
                                   const PointTable& table, PickState& pick, bool& gridEditable,
                                   bool rightReleased, MouseButtons stillDown, PixelPoint at,
                                   double boxWidth, double boxHeight);

// The first point (1..PointCount) within 3 pixels of the pixel position along both survey
// axes, strictly; -1 when none or the view is unusable.
int32_t PickPoint(const PlotViewState& view, const PointTable& table, PixelPoint at);

// The grid's geometry for the scroll that follows a pick.
struct GridScrollMetrics {
  int gridHeight = 0;        // pixels, the fixed header row included
  int defaultRowHeight = 0;  // pixels
  int rowCount = 0;          // rows of the grid, the header row included
  int topRow = 1;            // first data row on screen
};
// The grid's new top row that brings a picked row into view; -1 when it stays. Never
// above the first data row.
int GridTopRowAfterPick(int32_t pickedRow, const GridScrollMetrics& grid);

}  // namespace kestrova
