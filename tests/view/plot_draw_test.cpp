// What the plot draws, asserted on a recording canvas: pixel positions worked out from the
// fitted view of plot_view_test (scale 400 / 305, window 1997.5..2302.5 by 935.625..1164.375).

#include <gtest/gtest.h>

#include <cmath>

#include "coords/output_settings.h"
#include "coords/point_table.h"
#include "jww/header.h"
#include "jww/jwcad_settings.h"
#include "view/plot_draw.h"
#include "view/recording_canvas.h"

namespace kestrova {
namespace {

using Kind = CanvasCall::Kind;

SurveyPoint Point(double x, double y, const char* name, uint16_t marked = 0) {
  SurveyPoint p;
  p.X = x;
  p.Y = y;
  p.Name = name;
  p.Marked = marked;
  return p;
}

PlotViewState Fitted() {
  PointTable two;
  AppendPoint(two) = Point(1000, 2000, "");
  AppendPoint(two) = Point(1100, 2300, "");
  DataBounds b;
  ComputeDataBounds(two, b);
  PlotViewState v;
  EXPECT_TRUE(FitView(v, b, 2, 400, 300));
  return v;
}

PlotStyle Style() {
  PlotStyle s;
  for (size_t i = 0; i < s.ScreenColours.size(); ++i)
    s.ScreenColours[i] = 0x101010 * static_cast<Colour>(i);
  s.ScreenColours[0] = 0xFFFFFF;
  s.TextKindWidths[2] = s.TextKindHeights[2] = 3;  // kind 3, in paper millimetres
  s.TextKindSpacings[2] = 0.5;
  return s;
}

std::vector<PixelPoint> Corners(PixelPoint a, PixelPoint b) {
  return {a, b};
}

TEST(DrawPlot, DotsCirclesAndLabelsInTheColoursOfTheirState) {
  CoordinateData data;
  AppendPoint(data.Table) = Point(1000, 2000, "A1");           // unmarked
  AppendPoint(data.Table) = Point(1100, 2300, "B", 1);         // marked
  AppendPoint(data.Table) = Point(1050, 2100, "C", 1);         // marked and picked
  AppendPoint(data.Table) = Point(1050, 1997.5, "edge");       // on the window's left edge
  AppendPoint(data.Table) = Point(1050, 1997.5 + 5e-8, "in");  // within 1e-7 of it
  RecordingCanvas canvas;
  DrawPlot(canvas, Fitted(), data, Style(), 3);

  const auto ellipses = canvas.Drawings(Kind::kEllipse);
  ASSERT_EQ(ellipses.size(), 6u);
  // Point 1 at (3.28, 215.57): a dot of radius 1 and a circle of radius 3 round it.
  EXPECT_EQ(ellipses[0].points, Corners({2, 215}, {4, 217}));
  EXPECT_EQ(ellipses[1].points, Corners({0, 213}, {6, 219}));
  EXPECT_EQ(ellipses[0].state.pen.colour, kPlotGreen);
  EXPECT_EQ(ellipses[1].state.pen.colour, kPlotGreen);
  EXPECT_TRUE(ellipses[0].state.brush.hollow);
  EXPECT_TRUE(ellipses[1].state.brush.hollow);
  EXPECT_EQ(ellipses[0].state.pen.width, 1);
  EXPECT_EQ(ellipses[0].state.pen.mode, PenMode::kCopy);
  // Point 2 at (396.72, 84.43), marked: blue.
  EXPECT_EQ(ellipses[2].points, Corners({396, 83}, {398, 85}));
  EXPECT_EQ(ellipses[3].points, Corners({394, 81}, {400, 87}));
  EXPECT_EQ(ellipses[3].state.pen.colour, kPlotBlue);
  // Point 3 at (134.43, 150), picked: red although marked.
  EXPECT_EQ(ellipses[4].points, Corners({133, 149}, {135, 151}));
  EXPECT_EQ(ellipses[5].points, Corners({131, 147}, {137, 153}));
  EXPECT_EQ(ellipses[4].state.pen.colour, kPlotRed);
  EXPECT_EQ(ellipses[5].state.pen.colour, kPlotRed);

  // Labels stand on the point's column, their bottom 3 pixels above it: 12-pixel cells,
  // 10 pixels high, half-width characters 6 pixels apart.
  const auto texts = canvas.Drawings(Kind::kText);
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0].text, "A");
  EXPECT_EQ(texts[0].points[0], (PixelPoint{3, 203}));
  EXPECT_EQ(texts[1].text, "1");
  EXPECT_EQ(texts[1].points[0], (PixelPoint{9, 203}));
  EXPECT_EQ(texts[0].state.textColour, kPlotGreen);
  EXPECT_EQ(texts[0].state.font.height, 10);
  EXPECT_EQ(texts[0].state.font.width, 6);
  EXPECT_EQ(texts[0].state.font.escapement, 0);
  EXPECT_EQ(texts[0].state.font.face, kGothicFace);
  EXPECT_FALSE(texts[0].state.font.bold);
  EXPECT_FALSE(texts[0].state.opaqueText);
  EXPECT_EQ(texts[2].points[0], (PixelPoint{397, 71}));
  EXPECT_EQ(texts[2].state.textColour, kPlotBlack);
  EXPECT_EQ(texts[3].state.textColour, kPlotRed);
}

// On a dense site a name is drawn exactly when its room overlaps no name drawn before it:
// the pixels the drawn names cover may refuse a name at once, but only one that overlaps.
TEST(DrawPlot, NamesAreLeftOutOnlyWhereAnEarlierNameStands) {
  PointTable table;
  for (int n = 0; n < 3000; ++n) {
    // Placed in a scattered order, so that names drawn before stand on every side.
    const int i = n * 1103 % 3000;
    const std::string name(static_cast<size_t>(1 + i % 9), static_cast<char>('A' + i % 26));
    AppendPoint(table) = Point(1000 + (i % 61) * 1.7 + (i % 7) * 0.31,
                               2000 + (i / 61) * 6.1 + (i % 5) * 0.5, name.c_str());
  }
  DataBounds bounds;
  ComputeDataBounds(table, bounds);
  PlotViewState view;
  ASSERT_TRUE(FitView(view, bounds, table.PointCount, 400, 300));
  CoordinateData data;
  data.Table = table;
  RecordingCanvas canvas;
  DrawPlot(canvas, view, data, Style(), -1);
  // A name's first character stands at its point's pixel column, 13 pixels higher.
  std::vector<bool> drawn(static_cast<size_t>(table.PointCount) + 1);
  std::vector<PixelPoint> firsts;
  for (const CanvasCall& c : canvas.Drawings(Kind::kText))
    firsts.push_back(c.points.at(0));
  struct Room {
    double left, top, right, bottom;
  };
  std::vector<Room> rooms(drawn.size());
  size_t texts = 0;
  for (int32_t i = 1; i <= table.PointCount; ++i) {
    const SurveyPoint& p = table.Points[static_cast<size_t>(i)];
    const ViewPair at = ToViewAxes(view, p.X, p.Y);
    if (!PointVisible(view, at)) continue;
    const ScreenPoint s = ToScreen(view, at);
    rooms[static_cast<size_t>(i)] = {s.x, s.y - 13, s.x + static_cast<double>(p.Name.size()) * 6.0,
                                     s.y - 3};
    const PixelPoint first = RoundPixels({s.x, s.y - 13});
    if (texts < firsts.size() && firsts[texts] == first) {
      drawn[static_cast<size_t>(i)] = true;
      texts += p.Name.size();  // one text a character
    }
  }
  ASSERT_EQ(texts, firsts.size());
  const auto collide = [](const Room& b, const Room& o) {
    return b.left < o.right - 1 && o.left < b.right - 1 && b.top < o.bottom - 1 &&
           o.top < b.bottom - 1;
  };
  size_t left = 0;
  for (int32_t i = 1; i <= table.PointCount; ++i) {
    const Room& room = rooms[static_cast<size_t>(i)];
    if (room.right == 0) continue;  // not visible
    bool overlaps = false;
    for (int32_t j = 1; j < i && !overlaps; ++j)
      overlaps = drawn[static_cast<size_t>(j)] && collide(room, rooms[static_cast<size_t>(j)]);
    EXPECT_EQ(drawn[static_cast<size_t>(i)], !overlaps) << i;
    left += overlaps;
  }
  EXPECT_GT(left, 2000u);  // dense enough that most names are left out
}

TEST(DrawPlot, SimaSegmentsAreClippedAndLabelsGrowWithTheZoomAsOnPaper) {
  CoordinateData data;
  AppendPoint(data.Table) = Point(1000, 2000, "");
  // Horizontal through the left edge: from its intersection (0, 150) to (134.43, 150).
  data.Sima.SimaLines.push_back({1050, 1900, 1050, 2100, 1, 3});
  // Diagonal: enters at view (1997.5, 1007.5) and ends at (2010, 1020).
  data.Sima.SimaLines.push_back({1000, 1990, 1020, 2010, 1, 7});
  // Both ends left of the window.
  data.Sima.SimaLines.push_back({1050, 1900, 1060, 1950, 1, 3});
  // Inside, with a pen number past the table.
  data.Sima.SimaLines.push_back({1050, 2100, 1050, 2110, 1, 42});
  data.Sima.SimaTexts.push_back({1050, 2100, "1\x94\xd4", 3, 0.0});  // "1番", kind 3: W = 3
  data.Sima.SimaTexts.push_back({1050, 1900, "out", 3, 0.0});
  RecordingCanvas canvas;
  DrawPlot(canvas, Fitted(), data, Style(), -1);

  const auto lines = canvas.Drawings(Kind::kPolyline);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].points, Corners({0, 150}, {134, 150}));
  EXPECT_EQ(lines[0].state.pen.colour, 0x303030u);
  EXPECT_EQ(lines[1].points, Corners({0, 206}, {16, 189}));
  EXPECT_EQ(lines[1].state.pen.colour, 0x707070u);
  EXPECT_EQ(lines[2].state.pen.colour, kPlotBlack);
  EXPECT_EQ(lines[2].points, Corners({134, 150}, {148, 150}));

  // At 1:500 a 3 mm label would be 1.97 pixels high in this view: it is drawn at the
  // point names' height instead, its cells and spacing in proportion. The anchor is the
  // centroid at (134.43, 150); the full-width character follows (10 + 5 / 3) / 2 on.
  const auto texts = canvas.Drawings(Kind::kText);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "1");
  EXPECT_EQ(texts[0].points[0], (PixelPoint{134, 137}));
  EXPECT_EQ(texts[1].text, "\x94\xd4");
  EXPECT_EQ(texts[1].points[0], (PixelPoint{140, 137}));
  EXPECT_DOUBLE_EQ(texts[1].state.font.height, kMinSimaLabelHeight);
  EXPECT_DOUBLE_EQ(texts[1].state.font.width, 5);
  EXPECT_EQ(texts[1].state.textColour, kPlotGreen);

  // At 1:5000 (or zoomed in tenfold) it is as large as Jw_cad shows it: 3 mm of paper
  // are 15 m, 19.67 pixels.
  PlotStyle coarse = Style();
  coarse.SurveyPerPaperMm = 5.0;
  RecordingCanvas zoomed;
  DrawPlot(zoomed, Fitted(), data, coarse, -1);
  const auto large = zoomed.Drawings(Kind::kText);
  ASSERT_EQ(large.size(), 2u);
  EXPECT_NEAR(large[0].state.font.height, 15 * 400 / 305.0, 1e-9);
  EXPECT_EQ(large[0].points[0], (PixelPoint{134, 127}));
}

// 900 points 1 m apart: seen whole every point is drawn but only names that do not
// overlap; zoomed in, every visible point has its name again.
TEST(DrawPlot, DenseSitesKeepEveryPointAndThinTheNames) {
  CoordinateData data;
  for (int i = 0; i < 900; ++i) {
    AppendPoint(data.Table) = Point(1000 + i / 30, 2000 + i % 30, "P123");
  }
  data.Sima.SimaTexts.push_back({1014.4, 2014.4, "1\x94\xd4", 3, 0.0});  // "1番"
  DataBounds b;
  ComputeDataBounds(data.Table, b);
  PlotViewState whole;
  ASSERT_TRUE(FitView(whole, b, 900, 400, 300));
  RecordingCanvas canvas;
  DrawPlot(canvas, whole, data, Style(), 5);
  EXPECT_EQ(canvas.Drawings(Kind::kEllipse).size(), 1800u);
  // The parcel label, the picked point's name and names 24 pixels wide on a grid 8.57
  // pixels apart: one name in a row of three, one row in two.
  const auto texts = canvas.Drawings(Kind::kText);
  size_t names = 0;
  bool parcel = false;
  bool picked = false;
  std::vector<std::pair<PixelPoint, PixelPoint>> boxes;
  for (const auto& t : texts) {
    if (t.text == "P") {
      ++names;
      const PixelPoint a = t.points[0];
      for (const auto& [l, r] : boxes) {
        EXPECT_FALSE(a.x < r.x - 1 && l.x < a.x + 23 && a.y < r.y - 1 && l.y < a.y + 9)
            << a.x << "," << a.y << " overlaps " << l.x << "," << l.y;
      }
      boxes.push_back({a, {a.x + 24, a.y + 10}});
      picked = picked || t.state.textColour == kPlotRed;
    }
    parcel = parcel || t.text == "\x94\xd4";
  }
  EXPECT_TRUE(parcel);
  EXPECT_TRUE(picked);
  EXPECT_GT(names, 40u);
  EXPECT_LT(names, 200u);

  data.Sima.SimaTexts.clear();  // grown with the zoom, it would cover a few names
  PlotViewState close = whole;
  ZoomAbout(close, {2015, 1015}, 8);
  RecordingCanvas zoomed;
  DrawPlot(zoomed, close, data, Style(), -1);
  const size_t visible = zoomed.Drawings(Kind::kEllipse).size() / 2;
  size_t shown = 0;
  for (const auto& t : zoomed.Drawings(Kind::kText))
    shown += t.text == "P";
  EXPECT_GT(visible, 10u);
  EXPECT_EQ(shown, visible);
}

TEST(DrawPlot, NothingWithoutPointsOrWithAnUnusableView) {
  CoordinateData data;
  data.Sima.SimaLines.push_back({1050, 1900, 1050, 2100, 1, 3});
  data.Sima.SimaTexts.push_back({1050, 2100, "x", 3, 0.0});
  RecordingCanvas canvas;
  DrawPlot(canvas, Fitted(), data, Style(), -1);
  EXPECT_TRUE(canvas.Drawings().empty());
  AppendPoint(data.Table) = Point(0, 0, "p");
  DrawPlot(canvas, PlotViewState{}, data, Style(), -1);
  EXPECT_TRUE(canvas.Drawings().empty());
  data.Table.Points[1].X = std::nan("");
  DrawPlot(canvas, Fitted(), data, Style(), -1);
  EXPECT_TRUE(canvas.Drawings(Kind::kEllipse).empty());
}

TEST(DrawPlot, ClipSegmentKeepsInsideEndsAndSkipsNaN) {
  const PlotViewState v = Fitted();
  const auto inside = ClipSegment(v, {2000, 1000}, {2100, 1050});
  ASSERT_TRUE(inside);
  EXPECT_EQ(inside->a.h, 2000);
  EXPECT_EQ(inside->b.v, 1050);
  // Out past the top-right corner: the right edge is met first, and then the end is
  // below the top.
  const auto right = ClipSegment(v, {2200, 1100}, {2400, 1200});
  ASSERT_TRUE(right);
  EXPECT_NEAR(right->b.h, 2302.5, 1e-9);
  EXPECT_NEAR(right->b.v, 1151.25, 1e-9);
  const auto top = ClipSegment(v, {2200, 1100}, {2250, 1200});
  ASSERT_TRUE(top);
  EXPECT_NEAR(top->b.h, 2232.1875, 1e-9);
  EXPECT_NEAR(top->b.v, 1164.375, 1e-9);
  EXPECT_FALSE(ClipSegment(v, {std::nan(""), 1000}, {2100, 1050}));
  EXPECT_FALSE(ClipSegment(v, {2400, 1000}, {2500, 1050}));
  EXPECT_FALSE(PointVisible(v, {1997.5, 1000}));
  EXPECT_FALSE(PointVisible(v, {1997.5 + 5e-8, 1000}));
  EXPECT_TRUE(PointVisible(v, {1997.5 + 2e-7, 1000}));
}

TEST(DrawPlot, BandEraseBoxAndReadout) {
  RecordingCanvas canvas;
  DrawBand(canvas, {50, 40}, {10, 20});
  EraseBox(canvas, {0, 0}, {400, 300});
  DrawReadout(canvas, "X =    1050.000", "Y =    2073.750");
  const auto d = canvas.Drawings();
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[0].points, Corners({10, 20}, {50, 40}));
  EXPECT_EQ(d[0].state.pen, (CanvasPen{Rgb(0, 128, 0), 1, PenStyle::kDot, PenMode::kXor}));
  EXPECT_TRUE(d[0].state.brush.hollow);
  EXPECT_EQ(d[1].state.pen, (CanvasPen{0xFFFFFF, 1, PenStyle::kSolid, PenMode::kCopy}));
  EXPECT_EQ(d[1].state.brush, (CanvasBrush{false, 0xFFFFFF}));
  EXPECT_EQ(d[2].points[0], (PixelPoint{8, 3}));
  EXPECT_EQ(d[3].points[0], (PixelPoint{8, 13}));
  EXPECT_EQ(d[3].text, "Y =    2073.750");
  EXPECT_EQ(d[2].state.textColour, Rgb(0, 0, 255));
  EXPECT_TRUE(d[2].state.opaqueText);
  EXPECT_EQ(d[2].state.font.height, kReadoutFontHeight);
}

TEST(DrawPlot, StyleComesFromTheHeaderAndJwCadSettings) {
  JwwHeader h;
  SetFixedHeaderValues(h);
  JwCadExtras x;
  x.DrawOutLine = 2;
  x.OutLineExpansion = 1.5;
  OutputSettings settings;
  settings.WrtBAse.Scale = 250;
  const PlotStyle s = PlotStyleFrom(h, x, settings);
  EXPECT_EQ(ScreenColour(s, 0), 0xFFFFFFu);
  EXPECT_EQ(ScreenColour(s, 6), 0x0000FFu);
  EXPECT_EQ(ScreenColour(s, 10), kPlotBlack);
  EXPECT_EQ(ScreenColour(s, -1), kPlotBlack);
  EXPECT_EQ(s.TextKindWidths[2], 3);
  EXPECT_EQ(s.TextKindSpacings[2], 0.5);
  EXPECT_EQ(s.SurveyPerPaperMm, 0.25);
  settings.WrtBAse.mmFlg = true;
  EXPECT_EQ(PlotStyleFrom(h, x, settings).SurveyPerPaperMm, 250);
  settings.WrtBAse.Scale = 0;  // refused by a save, still a plot
  EXPECT_EQ(PlotStyleFrom(h, x, settings).SurveyPerPaperMm, 0.5);
  EXPECT_EQ(s.DrawOutLine, 2u);
  EXPECT_EQ(s.OutLineExpansion, 1.5);
}

}  // namespace
}  // namespace kestrova
