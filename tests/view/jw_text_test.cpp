// Jw_cad's text conventions on the plot, asserted on a recording canvas. The text's point
// is at pixel (100, 500); with cells 12 wide, 10 high and a spacing of 2 the first cell's
// top-left corner is (100, 487) and half-width characters follow 7 pixels apart.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "view/plot_draw.h"
#include "view/recording_canvas.h"

namespace kestrova {
namespace {

using Kind = CanvasCall::Kind;

const std::string kCircle = "\x81\x9b";  // ○
const std::string kKyo = "\x8b\xab";     // 境
const std::string kKai = "\x8a\x45";     // 界
const std::string kDot = "\x81\x45";     // ・
const std::string kHalfDot = "\xa5";     // ･

PlotViewState UnitView() {
  PlotViewState v;
  v.MathAxes = true;
  v.YSign = -1;
  v.ViewScale = 1;
  v.WindowRight = 1000;
  v.WindowTop = 1000;
  return v;
}

PlotStyle Style() {
  PlotStyle s;
  for (size_t i = 0; i < s.ScreenColours.size(); ++i)
    s.ScreenColours[i] = 0x111111 * static_cast<Colour>(i);
  s.ScreenColours[0] = 0xFFFFFF;
  return s;
}

JwTextParams Params(std::string_view text) {  // text must outlive the drawing
  JwTextParams p;
  p.pen = {0x00AA00, 1.0};
  p.startX = p.endX = 100;
  p.startY = p.endY = 500;
  p.width = 12;
  p.height = 10;
  p.spacing = 2;
  p.text = text;
  return p;
}

struct Drawn {
  std::string text;
  PixelPoint at;
  CanvasState state;
};

std::vector<Drawn> Draw(const JwTextParams& p, const PlotStyle& style = Style()) {
  RecordingCanvas canvas;
  EXPECT_TRUE(DrawJwText(canvas, UnitView(), style, p));
  std::vector<Drawn> out;
  for (const CanvasCall& c : canvas.Drawings()) {
    if (c.kind == Kind::kText || c.kind == Kind::kTextHalo) {
      out.push_back({c.text, c.points[0], c.state});
      EXPECT_FALSE(c.state.opaqueText);
      EXPECT_TRUE(std::isfinite(c.state.font.height) && std::isfinite(c.state.font.width));
    }
  }
  return out;
}

std::vector<Drawn> Draw(const std::string& text) {
  return Draw(Params(text));
}

std::string Texts(const std::vector<Drawn>& d) {
  std::string s;
  for (const Drawn& x : d)
    s += x.text + "|";
  return s;
}

void ExpectAt(const Drawn& d, int x, int y) {
  EXPECT_EQ(d.at, (PixelPoint{x, y})) << d.text << " at " << d.at.x << ", " << d.at.y;
}

TEST(JwText, PlacesCellsByWidthSpacingAndAngle) {
  auto d = Draw("AB" + kKyo + kKai);
  ASSERT_EQ(d.size(), 4u);
  ExpectAt(d[0], 100, 487);
  ExpectAt(d[1], 107, 487);
  ExpectAt(d[2], 114, 487);
  ExpectAt(d[3], 128, 487);  // a full-width cell advances W + S
  EXPECT_EQ(d[2].text, kKyo);
  EXPECT_EQ(d[0].state.font.height, 10);
  EXPECT_EQ(d[2].state.font.width, 6);  // the nominal half-width cell, for every character
  EXPECT_EQ(d[0].state.textColour, 0x00AA00u);
  EXPECT_EQ(d[0].state.font.face, kGothicFace);

  // Turned texts: the anchor moves by sin(a) * (W - ox) across and cos(a) * (oy + H) up,
  // the cells follow along the angle. W = 11, S = 3: half-width cells 7 apart.
  JwTextParams p = Params("AB");
  p.width = 11;
  p.spacing = 3;
  p.angle = 90;
  d = Draw(p);
  ASSERT_EQ(d.size(), 2u);
  ExpectAt(d[0], 92, 500);
  ExpectAt(d[1], 92, 493);
  EXPECT_EQ(d[0].state.font.escapement, 900);
  p.angle = 30;
  d = Draw(p);
  ExpectAt(d[0], 96, 489);   // (100 - 4, 500 - 13 cos 30)
  ExpectAt(d[1], 102, 485);  // + 7 (cos 30, -sin 30)
  EXPECT_EQ(d[1].state.font.escapement, 300);
  p.angle = -30;
  EXPECT_EQ(Draw(p)[0].state.font.escapement, 3300);
}

TEST(JwText, CodesSwitchAttributesColourAndFace) {
  auto d = Draw("^!A^#B");
  ASSERT_EQ(d.size(), 2u);
  EXPECT_TRUE(d[0].state.font.bold);
  EXPECT_FALSE(d[1].state.font.bold);
  ExpectAt(d[1], 107, 487);  // codes take no room

  d = Draw("^/^_^-A^%B");
  EXPECT_TRUE(d[0].state.font.italic && d[0].state.font.underline && d[0].state.font.strikeOut);
  EXPECT_FALSE(d[1].state.font.italic || d[1].state.font.underline || d[1].state.font.strikeOut);

  // Style codes give the defaults that "^#" goes back to; "^%" clears them.
  JwTextParams p = Params("A^#B^%C");
  p.styleCode = 20003;
  d = Draw(p);
  EXPECT_TRUE(d[0].state.font.bold && d[1].state.font.bold);
  EXPECT_FALSE(d[0].state.font.italic);
  EXPECT_FALSE(d[2].state.font.bold);
  p.styleCode = 30000;
  EXPECT_TRUE(Draw(p)[0].state.font.italic);

  d = Draw("^$3A^%B");
  EXPECT_EQ(d[0].state.textColour, 0x333333u);
  EXPECT_EQ(d[1].state.textColour, 0x00AA00u);
  EXPECT_EQ(Texts(Draw("^$A")), "^|$|A|");
  EXPECT_EQ(Texts(Draw("^$0A")), "^|$|0|A|");

  // "^*" turns codes off except "^%" and "^^".
  d = Draw("^*^!A");
  EXPECT_EQ(Texts(d), "^|!|A|");
  EXPECT_FALSE(d[2].state.font.bold);
  d = Draw("^*^^^!A");
  ASSERT_EQ(d.size(), 1u);
  EXPECT_TRUE(d[0].state.font.bold);
  EXPECT_EQ(Texts(Draw("^*^%^!A")), "A|");

  d = Draw("^\\A^&B");
  EXPECT_EQ(d[0].state.font.face, kGothicFaceNoSpace);
  EXPECT_EQ(d[1].state.font.face, kGothicFace);

  EXPECT_EQ(Texts(Draw("^" + kKyo + "^?")), "^|" + kKyo + "|^|?|");
}

TEST(JwText, RaisedCentredAndLoweredCharacters) {
  // The second cell starts at (107, 487); a' = 250 degrees.
  auto d = Draw("A^uBC");
  ASSERT_EQ(d.size(), 3u);
  ExpectAt(d[1], 102, 487);  // nudged 5 to the left
  EXPECT_EQ(d[1].state.font.height, 5);
  EXPECT_EQ(d[1].state.font.width, 6);
  ExpectAt(d[2], 114, 487);  // a raised character takes half a cell
  ExpectAt(Draw("A^cB")[1], 109, 490);
  ExpectAt(Draw("A^dB")[1], 115, 492);
  d = Draw("A^u" + kKyo + "C");
  EXPECT_EQ(d[1].state.font.width, 3);
  ExpectAt(d[2], 114, 487);
}

TEST(JwText, OverlaysSitOnThePreviousCell) {
  // A digit in a circle: the reduced "^o" size over the circle's cell; the next
  // character starts after the circle.
  auto d = Draw(kCircle + "^o1X");
  ASSERT_EQ(d.size(), 3u);
  ExpectAt(d[1], 104, 491);
  EXPECT_NEAR(d[1].state.font.height, 10 / 1.9, 1e-12);
  EXPECT_NEAR(d[1].state.font.width, 6 / 1.7, 1e-12);
  ExpectAt(d[2], 114, 487);
  d = Draw(kCircle + "^o" + kKyo);
  ExpectAt(d[1], 103, 490);
  EXPECT_NEAR(d[1].state.font.width, 6 / 2.2, 1e-12);

  ExpectAt(Draw("A^bB")[1], 101, 487);        // k = 0.4 after a half-width character
  ExpectAt(Draw(kKyo + "^bA")[1], 104, 487);  // k = 1.5: 104.5, halves to even
  ExpectAt(Draw(kKyo + "^BA")[1], 103, 487);
  ExpectAt(Draw("A^OB")[1], 100, 487);
  ExpectAt(Draw("A^nB")[1], 100, 487);
  // A half-width overlay keeps the height of the character before it: here a raised one.
  d = Draw("A^uB^OC");
  ExpectAt(d[2], 107, 487);
  EXPECT_EQ(d[2].state.font.height, 5);

  // "^w": two half-width characters overlaid together, or one like "^o".
  d = Draw("A^wbc");
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[1].text, "bc");
  ExpectAt(d[1], 102, 490);
  EXPECT_EQ(d[1].state.font.height, 5);
  d = Draw("A^wb" + kKyo);
  ASSERT_EQ(d.size(), 3u);
  ExpectAt(d[1], 102, 489);
  ExpectAt(d[2], 107, 487);

  // Without a previous character these are no codes.
  EXPECT_EQ(Texts(Draw("^oA")), "^|o|A|");
  EXPECT_EQ(Texts(Draw("^wab")), "^|w|a|b|");
}

TEST(JwText, TrailingDotsStretchAndACaretDigitCompresses) {
  // Two letters and two dots: V = 2, D = 2, the spacing becomes 3 S + 2 W = 30.
  auto d = Draw("AB" + kDot + kDot);
  ASSERT_EQ(d.size(), 2u);
  ExpectAt(d[1], 121, 487);
  ExpectAt(Draw("AB" + kHalfDot)[1], 110, 487);  // S = 1.5 S + W / 2 = 9: 110.5
  // Only the very last half-width dot counts.
  d = Draw("AB" + kHalfDot + kHalfDot);
  ASSERT_EQ(d.size(), 3u);
  ExpectAt(d[1], 109, 487);  // S = (2.5 S + W / 2) / 2 = 5.5
  ExpectAt(d[2], 118, 487);

  // Four letters and "^2": C = 4, d = 2, cells and spacing halved.
  d = Draw("ABCD^2");
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[0].state.font.width, 3);
  ExpectAt(d[1], 104, 487);  // 103.5
  ExpectAt(d[2], 107, 487);
  ExpectAt(d[3], 110, 487);  // 110.5
  // Codes are not cells: "^!AB^1" has C = 2.
  ExpectAt(Draw("^!AB^1")[1], 104, 487);
  // Too short to compress: the code goes, nothing shrinks.
  d = Draw("AB^2");
  EXPECT_EQ(Texts(d), "A|B|");
  ExpectAt(d[1], 107, 487);
  // A raised character is a visible character of half a cell.
  ExpectAt(Draw("A^uB" + kDot)[1], 109, 487);  // S = 2 S + W = 16, cursor at 114
}

TEST(JwText, FaultCasesDrawSafely) {
  // One character and a stretch: no gap to spread the room over.
  auto d = Draw("A" + kDot);
  ASSERT_EQ(d.size(), 1u);
  ExpectAt(d[0], 100, 487);
  // Compression with no cell left, or none at all.
  d = Draw("^!^!A^3");
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].state.font.width, 6);
  EXPECT_TRUE(Draw("^!^!^!^2").empty());
  EXPECT_TRUE(Draw(kDot + kDot).empty());
  // Codes at the very end.
  EXPECT_EQ(Texts(Draw("A^u")), "A|");
  EXPECT_EQ(Texts(Draw("A^o")), "A|");
  EXPECT_EQ(Texts(Draw("A^")), "A|^|");
  EXPECT_EQ(Texts(Draw("A^$")), "A|^|$|");
  EXPECT_EQ(Texts(Draw("A^w")), "A|^|w|");
  d = Draw("A^wb");
  ASSERT_EQ(d.size(), 2u);
  ExpectAt(d[1], 102, 489);
  EXPECT_EQ(Texts(Draw("A\x82")), "A|\x82|");  // a lead byte without its trail byte
  EXPECT_TRUE(Draw("").empty());

  // Characters under a pixel are skipped rather than drawn at a default size.
  JwTextParams p = Params("AB");
  p.height = 0.8;
  EXPECT_TRUE(Draw(p).empty());
  p = Params("A^uB");
  p.width = 2;
  p.height = 1.5;
  EXPECT_EQ(Texts(Draw(p)), "A|");
  p.width = 1;
  p.height = 10;
  EXPECT_TRUE(Draw(p).empty());

  // Sizes, angles or points that are not numbers draw nothing.
  for (double JwTextParams::*field :
       {&JwTextParams::width, &JwTextParams::height, &JwTextParams::spacing, &JwTextParams::angle,
        &JwTextParams::offsetX, &JwTextParams::startX}) {
    p = Params("AB");
    p.*field = std::nan("");
    EXPECT_TRUE(Draw(p).empty()) << Params("AB").*field;
    p.*field = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(Draw(p).empty()) << Params("AB").*field;
  }
  // Only the anchor decides: a point outside draws nothing, a point inside draws the
  // whole text even past the window's edge.
  p = Params("AB");
  p.startX = p.endX = -1;
  EXPECT_TRUE(Draw(p).empty());
  p = Params("ABCDEFGHIJ");
  p.startX = p.endX = 990;
  d = Draw(p);
  ASSERT_EQ(d.size(), 10u);
  ExpectAt(d[9], 1053, 487);
}

TEST(JwText, HaloAndBackgroundBox) {
  PlotStyle halo = Style();
  halo.DrawOutLine = 1;
  auto d = Draw(Params("A^$3B"), halo);
  ASSERT_EQ(d.size(), 2u);
  RecordingCanvas canvas;
  DrawJwText(canvas, UnitView(), halo, Params("A^$3B"));
  const auto halos = canvas.Drawings(Kind::kTextHalo);
  ASSERT_EQ(halos.size(), 2u);
  EXPECT_EQ(halos[1].haloColour, 0xFFFFFFu);
  EXPECT_EQ(halos[1].haloWidth, 3);
  EXPECT_EQ(halos[1].fillColour, 0x00AA00u);  // filled with the base colour
  EXPECT_EQ(halos[1].state.textColour, 0x333333u);
  EXPECT_TRUE(canvas.Drawings(Kind::kText).empty());

  PlotStyle box = Style();
  box.DrawOutLine = 2;
  box.OutLineExpansion = 2;
  RecordingCanvas boxed;
  DrawJwText(boxed, UnitView(), box, Params("AB"));
  const auto polygons = boxed.Drawings(Kind::kPolygon);
  ASSERT_EQ(polygons.size(), 1u);
  EXPECT_EQ(polygons[0].points,
            (std::vector<PixelPoint>{{98, 489}, {102, 489}, {102, 475}, {98, 475}}));
  EXPECT_EQ(polygons[0].state.pen.colour, 0xFFFFFFu);
  EXPECT_EQ(polygons[0].state.brush, (CanvasBrush{false, 0xFFFFFF}));
  EXPECT_EQ(boxed.Drawings(Kind::kText).size(), 2u);
}

}  // namespace
}  // namespace kestrova
