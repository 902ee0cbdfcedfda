// The plot's transform and gestures, worked out by hand from the fitting and zoom rules.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "coords/point_table.h"
#include "view/plot_view.h"

namespace kestrova {
namespace {

SurveyPoint Point(double x, double y, const char* name = "") {
  SurveyPoint p;
  p.X = x;
  p.Y = y;
  p.Name = name;
  return p;
}

PointTable Table(std::initializer_list<SurveyPoint> points) {
  PointTable t;
  for (const SurveyPoint& p : points)
    AppendPoint(t) = p;
  return t;
}

// Points 100 apart in X and 300 in Y, survey axes, in a 400 x 300 box: the view extent is
// (300, 100), the scale 400 / 305 (sv = 300 / 105 is larger), and the spare room is split
// evenly: WindowLeft = 2000 - (305 - 300) / 2, WindowBottom = 1000 - (228.75 - 100) / 2.
const PointTable kTwo = Table({Point(1000, 2000, "A"), Point(1100, 2300, "B")});

PlotViewState Fitted() {
  DataBounds b;
  ComputeDataBounds(kTwo, b);
  PlotViewState v;
  v.MathAxes = false;
  EXPECT_TRUE(FitView(v, b, kTwo.PointCount, 400, 300));
  return v;
}

void ExpectPixel(const PlotViewState& v, ViewPair p, double x, double y) {
  const ScreenPoint s = ToScreen(v, p);
  EXPECT_NEAR(s.x, x, 1e-9);
  EXPECT_NEAR(s.y, y, 1e-9);
}

TEST(PlotFit, CentresTheDataWithAFiveUnitMargin) {
  const PlotViewState v = Fitted();
  EXPECT_DOUBLE_EQ(v.ViewScale, 400.0 / 305);
  EXPECT_DOUBLE_EQ(v.ViewExtent.h, 300);
  EXPECT_DOUBLE_EQ(v.ViewExtent.v, 100);
  EXPECT_DOUBLE_EQ(v.ViewMin.h, 2000);
  EXPECT_DOUBLE_EQ(v.ViewMax.v, 1100);
  EXPECT_NEAR(v.WindowLeft, 1997.5, 1e-9);
  EXPECT_NEAR(v.WindowBottom, 935.625, 1e-9);
  EXPECT_NEAR(v.WindowRight, 2302.5, 1e-9);
  EXPECT_NEAR(v.WindowTop, 1164.375, 1e-9);
  EXPECT_NEAR(v.PanStep, 34.3125, 1e-9);
  EXPECT_EQ(v.YSign, -1.0);
  EXPECT_EQ(v.BoxWidth, 400);
  // Both points sit 3.28 pixels inside the left and right edges and 84.43 inside the top
  // and the bottom.
  ExpectPixel(v, ToViewAxes(v, 1000, 2000), 2.5 * 400 / 305, 300 - 64.375 * 400 / 305);
  ExpectPixel(v, ToViewAxes(v, 1100, 2300), 400 - 2.5 * 400 / 305, 64.375 * 400 / 305);
  const ViewPair back = ToWorld(v, 100, 150);
  EXPECT_NEAR(back.h, 2073.75, 1e-9);
  EXPECT_NEAR(back.v, 1050, 1e-9);
}

TEST(PlotFit, DegenerateDataAndBoxesStillGiveAFiniteScale) {
  // A single point: the margin alone sets the scale, 300 / 5 here, the point in the middle.
  PlotViewState v;
  v.MathAxes = true;
  DataBounds one;
  ComputeDataBounds(Table({Point(10, 20)}), one);
  ASSERT_TRUE(FitView(v, one, 1, 400, 300));
  EXPECT_DOUBLE_EQ(v.ViewScale, 60);
  ExpectPixel(v, {10, 20}, 200, 150);
  EXPECT_EQ(v.PanStep, 0);

  // Points on one survey line.
  DataBounds line;
  ComputeDataBounds(Table({Point(0, 0), Point(0, 95)}), line);
  ASSERT_TRUE(FitView(v, line, 2, 400, 300));
  EXPECT_DOUBLE_EQ(v.ViewScale, 3);  // min(400 / 5, 300 / 100)
  ExpectPixel(v, {0, 47.5}, 200, 150);

  // A box of no size counts as one pixel each way.
  ASSERT_TRUE(FitView(v, line, 2, 0, 0));
  EXPECT_DOUBLE_EQ(v.ViewScale, 1.0 / 100);
  EXPECT_TRUE(ViewUsable(v));
  ASSERT_TRUE(FitView(v, line, 2, -20, std::nan("")));
  EXPECT_TRUE(ViewUsable(v));

  // No points, or bounds that are not numbers: the view stays as it was.
  const PlotViewState before = v;
  EXPECT_FALSE(FitView(v, line, 0, 400, 300));
  DataBounds broken = line;
  broken.ExtentX = std::numeric_limits<double>::infinity();
  broken.MaxX = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(FitView(v, broken, 2, 400, 300));
  EXPECT_EQ(v.ViewScale, before.ViewScale);
  EXPECT_EQ(v.WindowLeft, before.WindowLeft);
}

TEST(PlotZoom, WheelKeepsTheWorldPointUnderTheCursor) {
  PlotViewState v = Fitted();
  const double start = v.ViewScale;
  const ViewPair under = ToWorld(v, 100, 150);  // (2073.75, 1050)
  ASSERT_TRUE(PlotWheel(v, 2, true, {100, 150}, 400, 300, true));
  EXPECT_DOUBLE_EQ(v.ViewScale, start * 1.12);
  EXPECT_NEAR(v.WindowLeft, 2073.75 - 76.25 / 1.12, 1e-9);
  ExpectPixel(v, under, 100, 150);
  ASSERT_TRUE(PlotWheel(v, 2, true, {100, 150}, 400, 300, false));
  EXPECT_NEAR(v.ViewScale / start, 1.008, 1e-12);
  ExpectPixel(v, under, 100, 150);

  // After the box has grown, the window is first brought to the new size.
  PlotViewState grown = Fitted();
  ASSERT_TRUE(PlotWheel(grown, 2, true, {500, 400}, 600, 450, true));
  // The cursor's world point: WindowTop became 935.625 + 450 / scale first.
  ExpectPixel(grown, {1997.5 + 381.25, 973.75}, 500, 400);

  // Not over the plot, or no points: not handled, nothing changes.
  PlotViewState same = Fitted();
  EXPECT_FALSE(PlotWheel(same, 2, false, {100, 150}, 400, 300, true));
  EXPECT_FALSE(PlotWheel(same, 0, true, {100, 150}, 400, 300, true));
  EXPECT_EQ(same.ViewScale, Fitted().ViewScale);
}

TEST(PlotZoom, KeysPanZoomAndRefit) {
  PlotViewState v = Fitted();
  ASSERT_TRUE(PlotKeyDown(v, 2, PlotKey::kUp, 400, 300));
  EXPECT_NEAR(v.WindowBottom, 935.625 + 34.3125, 1e-9);
  EXPECT_NEAR(v.WindowTop, 1164.375 + 34.3125, 1e-9);
  ASSERT_TRUE(PlotKeyDown(v, 2, PlotKey::kLeft, 400, 300));
  EXPECT_NEAR(v.WindowLeft, 1997.5 - 34.3125, 1e-9);
  EXPECT_NEAR(v.WindowRight, 2302.5 - 34.3125, 1e-9);

  // Page Up zooms about the window's centre; the pan step stays a world distance.
  const ViewPair centre{(v.WindowLeft + v.WindowRight) / 2, (v.WindowBottom + v.WindowTop) / 2};
  ASSERT_TRUE(PlotKeyDown(v, 2, PlotKey::kPageUp, 400, 300));
  EXPECT_DOUBLE_EQ(v.ViewScale, 1.2 * 400 / 305);
  ExpectPixel(v, centre, 200, 150);
  EXPECT_NEAR(v.PanStep, 34.3125, 1e-9);
  ASSERT_TRUE(PlotKeyDown(v, 2, PlotKey::kPageDown, 400, 300));
  EXPECT_DOUBLE_EQ(v.ViewScale, 1.2 * 0.85 * 400 / 305);

  // Home fits again from the stored corners; its arrow step is two thirds of a load's.
  ASSERT_TRUE(PlotKeyDown(v, 2, PlotKey::kHome, 400, 300));
  EXPECT_DOUBLE_EQ(v.ViewScale, 400.0 / 305);
  EXPECT_NEAR(v.WindowLeft, 1997.5, 1e-9);
  EXPECT_NEAR(v.WindowTop, 1164.375, 1e-9);
  EXPECT_NEAR(v.PanStep, 22.875, 1e-9);

  // Without points the keys are not the plot's.
  EXPECT_FALSE(PlotKeyDown(v, 0, PlotKey::kUp, 400, 300));
}

TEST(PlotZoom, ScaleStaysWithinBoundsUnderRepeatedSteps) {
  PlotViewState v = Fitted();
  for (int i = 0; i < 2000; ++i) {
    PlotKeyDown(v, 2, PlotKey::kPageUp, 400, 300);
    PlotWheel(v, 2, true, {123, 45}, 400, 300, true);
  }
  EXPECT_LE(v.ViewScale, kMaxViewScale);
  EXPECT_GT(v.ViewScale, kMaxViewScale / 1.2 / 1.12);
  EXPECT_TRUE(ViewUsable(v));
  for (int i = 0; i < 4000; ++i) {
    PlotKeyDown(v, 2, PlotKey::kPageDown, 400, 300);
    PlotWheel(v, 2, true, {7, 290}, 400, 300, false);
  }
  EXPECT_GE(v.ViewScale, kMinViewScale);
  EXPECT_TRUE(ViewUsable(v));
  EXPECT_TRUE(std::isfinite(ToWorld(v, 400, 300).h));
}

// A two-button drag from press to release; the right button is let go first.
PlotReleaseResult Drag(PlotViewState& v, PixelPoint from, PixelPoint to, PickState& pick,
                       bool& grid) {
  PlotGesture g;
  PlotMousePress(g, {true, true, false}, from);
  const PlotMoveResult moved = PlotMouseMove(v, g, kTwo.PointCount, {true, true, false}, to);
  EXPECT_TRUE(moved.bandChanged);
  EXPECT_TRUE(g.BandVisible);
  EXPECT_EQ(g.DragCorner, to);
  const PlotReleaseResult r =
      PlotMouseRelease(v, g, kTwo, pick, grid, true, {true, false, false}, to, 400, 300);
  EXPECT_FALSE(g.DragActive);
  EXPECT_FALSE(g.BandVisible);
  return r;
}

TEST(PlotGestures, BandZoomsInAndOutByDirection) {
  // Right-down from (100, 100) to (200, 150): the band is 76.25 x 38.125 world units of a
  // 305 x 228.75 window, so the scale grows by min(4, 6) and the window centres on the band.
  PlotViewState v = Fitted();
  PickState pick;
  bool grid = true;
  PlotReleaseResult r = Drag(v, {100, 100}, {200, 150}, pick, grid);
  EXPECT_EQ(r.kind, GestureKind::kZoomIn);
  EXPECT_TRUE(r.repaint);
  EXPECT_DOUBLE_EQ(v.ViewScale, 1600.0 / 305);
  EXPECT_NEAR(v.WindowLeft, 2073.75, 1e-9);
  EXPECT_NEAR(v.WindowBottom, 1040.46875, 1e-9);
  EXPECT_NEAR(v.WindowRight, 2150, 1e-9);
  EXPECT_NEAR(v.WindowTop, 1097.65625, 1e-9);
  // The band's right button leaves the grid enabled; the release picked (nothing there).
  EXPECT_FALSE(r.gridToggled);
  EXPECT_TRUE(grid);
  EXPECT_EQ(pick.PickedRow, -1);

  // Left-up over the same band zooms out by max(1 - 1/4, 1 - 1/6) = 5/6.
  v = Fitted();
  r = Drag(v, {200, 150}, {100, 100}, pick, grid);
  EXPECT_EQ(r.kind, GestureKind::kZoomOut);
  EXPECT_TRUE(grid);
  EXPECT_DOUBLE_EQ(v.ViewScale, 400.0 / 305 * 5 / 6);
  EXPECT_NEAR(v.WindowLeft, 1928.875, 1e-9);
  EXPECT_NEAR(v.WindowBottom, 931.8125, 1e-9);
  EXPECT_NEAR(v.WindowRight, 2294.875, 1e-9);
  EXPECT_NEAR(v.WindowTop, 1206.3125, 1e-9);

  // A zoom-out band larger than the window (the mouse was outside the box) is ignored.
  v = Fitted();
  r = Drag(v, {500, 400}, {-100, -100}, pick, grid);
  EXPECT_EQ(r.kind, GestureKind::kZoomOut);
  EXPECT_DOUBLE_EQ(v.ViewScale, 400.0 / 305);
  EXPECT_NEAR(v.WindowLeft, 1997.5, 1e-9);

  // Left-down only redraws; right-up fits again.
  v = Fitted();
  r = Drag(v, {200, 100}, {100, 150}, pick, grid);
  EXPECT_EQ(r.kind, GestureKind::kRedraw);
  EXPECT_DOUBLE_EQ(v.ViewScale, 400.0 / 305);
  PlotKeyDown(v, 2, PlotKey::kPageUp, 400, 300);
  r = Drag(v, {100, 150}, {200, 100}, pick, grid);
  EXPECT_EQ(r.kind, GestureKind::kRefit);
  EXPECT_DOUBLE_EQ(v.ViewScale, 400.0 / 305);
  EXPECT_NEAR(v.PanStep, 34.3125, 1e-9);

  EXPECT_EQ(ClassifyGesture({10, 10}, {15, 5}, true), GestureKind::kIgnore);
  EXPECT_EQ(ClassifyGesture({10, 10}, {15, 5}, false), GestureKind::kClick);
  EXPECT_EQ(ClassifyGesture({10, 10}, {16, 10}, false), GestureKind::kZoomIn);
}

TEST(PlotGestures, MiddleClickPansAndTheReadoutShowsSurveyCoordinates) {
  PlotViewState v = Fitted();
  PlotGesture g;
  PlotMousePress(g, {false, false, true}, {100, 150});
  EXPECT_TRUE(g.DragActive);
  const PlotMoveResult moved = PlotMouseMove(v, g, 2, {false, false, true}, {100, 150});
  EXPECT_FALSE(g.BandVisible);  // a middle-button drag shows no band
  // Survey axes: X is the vertical world coordinate, Y the horizontal one.
  EXPECT_EQ(moved.xText, "X =    1050.000");
  EXPECT_EQ(moved.yText, "Y =    2073.750");

  const ViewPair clicked = ToWorld(v, 103, 148);
  PickState pick;
  bool grid = true;
  const PlotReleaseResult r =
      PlotMouseRelease(v, g, kTwo, pick, grid, false, {}, {103, 148}, 400, 300);
  EXPECT_EQ(r.kind, GestureKind::kClick);
  EXPECT_TRUE(grid);
  EXPECT_DOUBLE_EQ(v.ViewScale, 400.0 / 305);
  ExpectPixel(v, clicked, 200, 150);

  // A plain press starts no drag; a release without a drag only picks.
  PlotGesture plain;
  PlotMousePress(plain, {true, false, false}, {5, 5});
  EXPECT_FALSE(plain.DragActive);
}

TEST(PlotGestures, HandlersLeaveAnUnusableViewAlone) {
  PlotViewState zero;  // as after the table was cleared
  PlotGesture g;
  PlotMousePress(g, {true, true, false}, {10, 10});
  EXPECT_FALSE(PlotMouseMove(zero, g, 2, {true, true, false}, {50, 50}).readout);
  EXPECT_FALSE(PlotKeyDown(zero, 2, PlotKey::kPageUp, 400, 300));
  EXPECT_FALSE(PlotWheel(zero, 2, true, {1, 1}, 400, 300, true));
  EXPECT_FALSE(RefitView(zero, 400, 300, RefitKind::kHomeKey));
  EXPECT_FALSE(ZoomAbout(zero, {0, 0}, 2));
  PickState pick{1, -1};
  bool grid = true;
  const PlotReleaseResult r =
      PlotMouseRelease(zero, g, kTwo, pick, grid, true, {}, {50, 50}, 400, 300);
  EXPECT_TRUE(r.gridToggled);  // the grid still answers a right click
  EXPECT_FALSE(r.picked);
  EXPECT_EQ(pick.PickedRow, 1);
  EXPECT_EQ(zero.ViewScale, 0);
  EXPECT_EQ(zero.WindowLeft, 0);

  PlotViewState v = Fitted();
  EXPECT_FALSE(ZoomAbout(v, {0, 0}, 0));
  EXPECT_FALSE(ZoomAbout(v, {0, 0}, -1));
  EXPECT_FALSE(ZoomAbout(v, {0, 0}, std::nan("")));
  EXPECT_DOUBLE_EQ(v.ViewScale, 400.0 / 305);

  EXPECT_EQ(RoundPixel(std::nan("")), 0);
  EXPECT_EQ(RoundPixel(1e300), static_cast<int>(kPixelLimit));
  EXPECT_EQ(RoundPixel(-1e300), -static_cast<int>(kPixelLimit));
  EXPECT_EQ(RoundPixel(2.5), 2);
  EXPECT_EQ(RoundPixel(3.5), 4);
  EXPECT_EQ(RoundPixel(-0.5), 0);
}

TEST(PlotPick, ToleranceIsThreePixelsStrictlyAlongBothAxes) {
  // Two pixels per world unit: the tolerance is 1.5 units.
  PlotViewState v;
  v.MathAxes = true;
  v.YSign = -1;
  v.ViewScale = 2;
  v.WindowRight = 200;
  v.WindowTop = 150;
  const PointTable t = Table({Point(50, 50), Point(51, 50), Point(0, 0)});
  // Point 1 is at pixel (100, 200), point 2 at (102, 200).
  EXPECT_EQ(PickPoint(v, t, {102, 200}), 1);
  EXPECT_EQ(PickPoint(v, t, {98, 202}), 1);
  EXPECT_EQ(PickPoint(v, t, {104, 200}), 2);  // 2 pixels from point 2, 4 from point 1
  EXPECT_EQ(PickPoint(v, t, {106, 200}), -1);
  EXPECT_EQ(PickPoint(v, t, {100, 196}), -1);
  EXPECT_EQ(PickPoint(v, t, {97, 200}), -1);  // exactly 3 pixels: not within
  EXPECT_EQ(PickPoint(v, t, {0, 300}), 3);
  EXPECT_EQ(PickPoint(PlotViewState{}, t, {0, 0}), -1);

  // A release remembers the previous pick.
  PlotGesture g;
  PickState pick{3, -1};
  bool grid = true;
  PlotMouseRelease(v, g, t, pick, grid, false, {}, {101, 201}, 400, 300);
  EXPECT_EQ(pick.PickedRow, 1);
  EXPECT_EQ(pick.PreviousPickedRow, 3);
}

TEST(PlotPick, GridScrollBringsThePickIntoViewButNeverAboveTheFirstRow) {
  // 400 pixels of 20-pixel rows: trunc(380 / 20) - 1 = 18 visible, 17 with more rows.
  GridScrollMetrics g{400, 20, 102, 1};
  EXPECT_EQ(GridTopRowAfterPick(50, g), 48);
  EXPECT_EQ(GridTopRowAfterPick(15, g), -1);  // already on screen
  EXPECT_EQ(GridTopRowAfterPick(16, g), -1);
  EXPECT_EQ(GridTopRowAfterPick(17, g), 15);
  g.topRow = 48;
  EXPECT_EQ(GridTopRowAfterPick(30, g), 28);
  EXPECT_EQ(GridTopRowAfterPick(5, g), 1);
  EXPECT_EQ(GridTopRowAfterPick(-1, g), -1);
  // A grid two rows high: the rule would scroll to row 0, the headers.
  GridScrollMetrics tiny{40, 20, 5, 5};
  EXPECT_EQ(GridTopRowAfterPick(2, tiny), 1);
  tiny.topRow = 1;
  EXPECT_EQ(GridTopRowAfterPick(1, tiny), -1);
  EXPECT_EQ(GridTopRowAfterPick(3, GridScrollMetrics{400, 0, 10, 1}), -1);
}

}  // namespace
}  // namespace kestrova
