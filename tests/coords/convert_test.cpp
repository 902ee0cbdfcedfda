#include "coords/convert.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/error.h"
#include "common/sjis.h"
#include "jww/header.h"

namespace kestrova {
namespace {

std::array<JwwTextKind, 10> DefaultKinds() {
  JwwHeader h;
  SetFixedHeaderValues(h);
  return h.TextKinds;
}

struct ConvertFixture : ::testing::Test {
  void SetUp() override {
    data.Table.Points.reserve(8);
    AddPoint(1, "B", 100, 200, 0, "");  // the base point
    AddPoint(2, "P", 110, 250, 1.23456, "");
    bounds.CentreX = 0;
    bounds.CentreY = 0;
  }
  SurveyPoint& AddPoint(int32_t number, std::string name, double x, double y, double z,
                        std::string mark) {
    SurveyPoint& p = AppendPoint(data.Table);
    p.Number = number;
    p.Name = std::move(name);
    p.X = x;
    p.Y = y;
    p.Z = z;
    p.Mark = std::move(mark);
    p.Marked = 1;
    return p;
  }
  void Convert(int baseRow = 1) {
    ConvertPointsToDrawing(data, bounds, settings, DefaultKinds(), baseRow, doc);
  }
  CoordinateData data;
  DataBounds bounds;
  OutputSettings settings;
  JwwDocument doc;
};

TEST_F(ConvertFixture, AxesBaseUnitAndScale) {
  settings.WrtBAse.OutBaseFlg = true;
  Convert();
  ASSERT_EQ(doc.TenCount(), 2u);
  EXPECT_EQ(doc.TenList[1].X, 100.0);  // survey axes: u from Y
  EXPECT_EQ(doc.TenList[1].Y, 20.0);
  settings.Coordinate.Flg = false;
  Convert();
  EXPECT_EQ(doc.TenList[1].X, 20.0);
  EXPECT_EQ(doc.TenList[1].Y, 100.0);
  data.Sima.SimaLoaded = true;  // a SIMA file forces survey axes
  Convert();
  EXPECT_EQ(doc.TenList[1].X, 100.0);
  settings.WrtBAse.mmFlg = true;
  settings.WrtBAse.Scale = 1;
  Convert();
  EXPECT_EQ(doc.TenList[1].X, 50.0);
  EXPECT_EQ(doc.TenList[1].Y, 10.0);
  // A cursor below the last point: the centre of the data.
  bounds.CentreX = 105;
  bounds.CentreY = 225;
  Convert(3);
  EXPECT_EQ(doc.TenList[1].X, 25.0);
  EXPECT_EQ(doc.TenList[1].Y, 5.0);
  EXPECT_EQ(bounds.CentreX, 105.0);
  // A point left out by its mark does not move the centre: the drawing is the one the
  // marked points alone give.
  AddPoint(3, "U", 1000, -1000, 0, "").Marked = 0;
  ComputeDataBounds(data.Table, bounds);
  Convert(4);
  EXPECT_EQ(doc.TenList[1].X, 25.0);
  EXPECT_EQ(doc.TenList[1].Y, 5.0);
}

TEST_F(ConvertFixture, NothingInfiniteReachesTheDrawing) {
  Convert();
  const size_t before = doc.EntityOrder.size();
  const auto message = [this]() -> std::string {
    try {
      Convert();
    } catch (const Error& e) {
      return e.what();
    }
    return "converted";
  };
  for (double scale : {0.0, -500.0, std::nan(""), 1e-310, 1e-300, 1e-200, HUGE_VAL}) {
    settings.WrtBAse.Scale = scale;
    EXPECT_EQ(message().rfind("the drawing scale (WrtBAse.Scale) is ", 0), 0u) << scale;
  }
  EXPECT_EQ(doc.EntityOrder.size(), before);
  settings.WrtBAse.Scale = 500;
  settings.WrtBAse.OutBaseFlg = true;  // point 1 is the base
  // A point far out (a hand-edited value): u = (1.7e308 - 200) * 1000 / 500 overflows.
  SurveyPoint& far = AddPoint(7, Utf8ToCp932("遠").text, 0, 1.7e308, 0, "");
  EXPECT_EQ(message(),
            "point 7 \"遠\" (row 3, X 0, Y 1.7E308) cannot be drawn at 1:500: it lies too far "
            "from the base point (the drawing coordinates are not finite)");
  far.Marked = 0;  // an unmarked point is not drawn and does not matter
  EXPECT_EQ(message(), "converted");
  data.Sima.SimaTexts.push_back(SimaText{-1.7e308, 0, "P", 3, 0});
  EXPECT_NE(message().find("parcel \"P\" cannot be drawn"), std::string::npos);
  data.Sima.SimaTexts.clear();
  settings.Point.EnkoFlg = true;
  settings.Point.EnkoR = 1e308;
  EXPECT_EQ(message().rfind("the circle diameter (Point.EnkoR) 1E308", 0), 0u);
  // A circle of no size, or a negative one, is no circle.
  for (double diameter : {0.0, -2.0, std::nan("")}) {
    settings.Point.EnkoR = diameter;
    EXPECT_EQ(message().rfind("the circle diameter (Point.EnkoR) is ", 0), 0u) << diameter;
  }
  settings.Point.EnkoFlg = false;  // without circles it does not matter
  EXPECT_EQ(message(), "converted");
  settings.Point.EnkoFlg = true;
  settings.Point.EnkoR = 1;
  std::array<JwwTextKind, 10> kinds = DefaultKinds();
  kinds[2].Width = 1e307;
  EXPECT_THROW(ConvertPointsToDrawing(data, bounds, settings, kinds, 1, doc), Error);
  EXPECT_EQ(doc.EntityOrder.size(), before);  // each refusal left the last good drawing
}

TEST_F(ConvertFixture, BlocksInOrderWithTheirAttributes) {
  settings.Point.EnkoFlg = true;
  settings.WrtBAse.Group = 3;
  data.Table.Points[1].Marked = 0;
  data.Sima.SimaLines.push_back({100, 200, 110, 250, 5, 1});
  data.Sima.SimaTexts.push_back({100, 200, "lot", 3, 0});
  Convert();
  using C = EntityClass;
  const std::vector<C> order = {C::kTen, C::kEnko, C::kMoji, C::kMoji, C::kMoji, C::kSen, C::kMoji};
  EXPECT_EQ(doc.EntityOrder, order);
  EXPECT_EQ(doc.EntityListCount, 7u);
  EXPECT_EQ(doc.EnkoList[0].Radius, 1.0);
  EXPECT_EQ(doc.EnkoList[0].FullCircle, 1u);
  EXPECT_EQ(doc.TenList[0].LayerGroup, 3);
  EXPECT_EQ(doc.TenList[0].Layer, 1);
  EXPECT_EQ(doc.TenList[0].PenColor, 2);
  EXPECT_EQ(doc.MojiList[0].Text, "P");
  EXPECT_EQ(doc.MojiList[0].Layer, 2);
  EXPECT_EQ(doc.MojiList[1].Text, " 110.000 , 250.000");
  EXPECT_EQ(doc.MojiList[1].PenColor, 1);
  EXPECT_EQ(doc.MojiList[2].Text, "   1.235");
  EXPECT_EQ(doc.MojiList[2].Layer, 8);
  EXPECT_EQ(Cp932ToUtf8(doc.MojiList[0].FontName), "ＭＳ ゴシック");
  EXPECT_EQ(doc.SenList[0].PenStyle, 5);
  EXPECT_EQ(doc.SenList[0].Layer, 4);
  EXPECT_EQ(doc.SenList[0].Flags, 0);
  EXPECT_EQ(doc.MojiList[3].Text, "lot");
  EXPECT_EQ(doc.MojiList[3].Layer, 5);
  EXPECT_EQ(doc.MojiList[3].PenColor, 2);
  // Nothing enabled and no SIMA lists: an empty drawing.
  settings.Point.OutFlg = settings.Point.EnkoFlg = false;
  settings.PointStr.OutFlg = settings.XYcoord.OutFlg = settings.Zcoord.OutFlg = false;
  data.Sima = {};
  Convert();
  EXPECT_EQ(doc.EntityListCount, 0u);
  EXPECT_TRUE(doc.EntityOrder.empty());
}

TEST_F(ConvertFixture, CodeRule) {
  settings.Point.CodeFlg = true;
  settings.Point.Code = 3;
  const struct {
    const char* mark;
    uint8_t style;
    uint32_t code;
    double rotation;
  } cases[] = {
      {"250", 100, 50, 3.141592653589793},
      {"105", 100, 5, 1.5707963267948966},
      {"-105", 100, 5, -1.5707963267948966},
      {"-3", 100, static_cast<uint32_t>(-97), -1.5707963267948966},
      {"100", 100, 100, 0},
      {"7", 100, 7, 0},
      {"", 100, 3, 0},
      {"abc", 100, 3, 0},
  };
  for (const auto& c : cases) {
    data.Table.Points[2].Mark = c.mark;
    Convert();
    EXPECT_EQ(doc.TenList[1].PenStyle, c.style) << c.mark;
    EXPECT_EQ(doc.TenList[1].Code, c.code) << c.mark;
    EXPECT_EQ(doc.TenList[1].RotationAngle, c.rotation) << c.mark;
  }
  settings.Point.Code = 0;
  data.Table.Points[2].Mark = "";
  Convert();
  EXPECT_EQ(doc.TenList[1].PenStyle, 1);
  EXPECT_EQ(doc.TenList[1].Code, 0u);
}

TEST_F(ConvertFixture, TextsTakeTheWidthAndHeightOfTheirKind) {
  // Kinds narrower or wider than high: a width and a height taken the wrong way round
  // show in the sizes and in the placement.
  std::array<JwwTextKind, 10> kinds = DefaultKinds();
  kinds[2] = {2.5, 4.0, 0.25, 0};
  kinds[4] = {6.0, 1.5, 0.75, 0};
  settings.XYcoord.MojiNo = 5;
  settings.PointStr.MojiBs = 8;  // centre top: moved across by the height
  ConvertPointsToDrawing(data, bounds, settings, kinds, 1, doc);
  ASSERT_GE(doc.MojiCount(), 3u);
  const TDataMoji& name = doc.MojiList[0];
  EXPECT_EQ(name.Text, "B");
  EXPECT_EQ(name.SizeX, 2.5);
  EXPECT_EQ(name.SizeY, 4.0);
  EXPECT_EQ(name.Spacing, 0.25);
  EXPECT_EQ(doc.MojiList[2].SizeX, 6.0);  // the X,Y text of point 1
  EXPECT_EQ(doc.MojiList[2].SizeY, 1.5);
  EXPECT_EQ(doc.MojiList[2].Spacing, 0.75);
  // One half-width character: the text is half the width long, centred on the point,
  // and lies its height below it. The base point is (0, 0) of the drawing.
  const TDataTen& point = doc.TenList[0];
  EXPECT_EQ(name.EndX - name.StartX, 1.25);
  EXPECT_EQ(name.StartX, point.X - 0.625);
  EXPECT_EQ(name.StartY, point.Y - 4.0);
}

TEST(PlaceText, NinePositionsInBothAxes) {
  JwwTextKind kind{3, 4, 0.5, 2};
  const std::string name = "\x93\x5F\x96\xBC";  // two double-byte characters: L = 7.5
  DrawingTransform survey;
  survey.K = 1;
  survey.Scale = 1;
  survey.Swap = true;
  DrawingTransform math = survey;
  math.Swap = false;
  const double px = 20, py = 10;  // the point (X 10, Y 20) under survey axes
  const double l = 7.5, h = 4;
  const double expected[9][4] = {
      {px, py, px + l, py},
      {px - l / 2, py, px + l / 2, py},
      {px - l, py, px, py},
      {px, py - h / 2, px + l, py - h / 2},
      {px - l / 2, py - h / 2, px + l / 2, py - h / 2},
      {px - l, py - h / 2, px, py - h / 2},
      {px, py - h, px + l, py - h},
      {px - l / 2, py - h, px + l / 2, py - h},
      {px - l, py - h, px, py - h},
  };
  for (int pos = 1; pos <= 9; ++pos) {
    const double* e = expected[pos - 1];
    const TextPlacement s = PlaceText(name, pos, kind, survey, 10, 20);
    EXPECT_EQ(s.StartX, e[0]) << pos;
    EXPECT_EQ(s.StartY, e[1]) << pos;
    EXPECT_EQ(s.EndX, e[2]) << pos;
    EXPECT_EQ(s.EndY, e[3]) << pos;
    // Mathematical axes: the text runs up the v axis, the point is (u 20, v 10)... with
    // the roles of along and across exchanged.
    const TextPlacement m = PlaceText(name, pos, kind, math, 20, 10);
    const double along = e[0] - px, alongEnd = e[2] - px, across = e[1] - py;
    EXPECT_EQ(m.StartX, px + across) << pos;
    EXPECT_EQ(m.StartY, py + along) << pos;
    EXPECT_EQ(m.EndX, px + across) << pos;
    EXPECT_EQ(m.EndY, py + alongEnd) << pos;
  }
  // An empty text is -S long.
  const TextPlacement empty = PlaceText("", 1, kind, survey, 0, 0);
  EXPECT_EQ(empty.EndX - empty.StartX, -0.5);
}

}  // namespace
}  // namespace kestrova
