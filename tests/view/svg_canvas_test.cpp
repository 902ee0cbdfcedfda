// The SVG canvas writes exactly these elements (a byte-exact document).

#include <gtest/gtest.h>

#include <cctype>
#include <limits>

#include "view/plot_draw.h"
#include "view/svg_canvas.h"

namespace kestrova {
namespace {

TEST(SvgCanvas, WritesShapesAndEscapedJapaneseText) {
  SvgCanvas c(40, 30);
  c.SetPen({0x0000FF, 1, PenStyle::kDot, PenMode::kXor});
  c.SetBrush({true, 0});
  c.Rectangle({30, 20}, {10, 5});
  c.SetPen({0x22CC22, 2, PenStyle::kSolid, PenMode::kCopy});
  c.SetBrush({false, 0xEE2222});
  c.Ellipse({1, 2}, {7, 8});
  const PixelPoint line[3] = {{0, 0}, {5, 5}, {9, 1}};
  c.Polyline(line);
  CanvasFont f;
  f.face = std::string(kGothicFace);
  f.height = 10;
  c.SetFont(f);
  c.SetTextColour(0x000000);
  c.Text({3, 4}, "a<&>\"'\x01\x8b\xab");  // a control character and 境
  f.width = 6;
  f.escapement = 300;
  f.bold = true;
  c.SetFont(f);
  c.SetTextBackground(true, 0xFFFFFF);
  c.Text({5, 6}, "X");
  c.SetTextBackground(false, 0xFFFFFF);
  // A label: one element, a position per character, turned about the first corner.
  f = CanvasFont{};
  f.face = std::string(kGothicFace);
  f.height = 10;
  f.escapement = 900;
  c.SetFont(f);
  c.SetTextColour(0x000000);
  c.BeginTextRun();
  c.Text({10, 20}, "a");
  c.Text({10, 15}, "&");
  c.SetTextColour(0x0000FF);  // a colour code: the rest is its own element
  c.Text({10, 10}, "\x8b\xab");
  c.EndTextRun();
  f = CanvasFont{};
  f.face = "Other";
  f.height = 12;
  f.underline = true;
  f.strikeOut = true;
  c.SetFont(f);
  c.TextHalo({1, 1}, "h", 0xFFFFFF, 3, 0x0000FF);
  EXPECT_EQ(c.TextWidth("ab\x8b\xab"), 24);
  EXPECT_EQ(c.TextHeight("h"), 12);

  const std::string gothic = "font-family=\"IPAGothic, 'ＭＳ ゴシック', monospace\"";
  const std::string other = "font-family=\"'Other', IPAGothic, monospace\"";
  EXPECT_EQ(
      c.Document(),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"40\" "
      "height=\"30\" viewBox=\"0 0 40 30\" shape-rendering=\"crispEdges\">\n"
      "<rect x=\"0\" y=\"0\" width=\"40\" height=\"30\" fill=\"#ffffff\"/>\n"
      "<rect x=\"10\" y=\"5\" width=\"20\" height=\"15\" stroke=\"#ff0000\" "
      "stroke-width=\"1\" stroke-dasharray=\"1 1\" fill=\"none\"/>\n"
      "<ellipse cx=\"4\" cy=\"5\" rx=\"3\" ry=\"3\" stroke=\"#22cc22\" stroke-width=\"2\" "
      "fill=\"#2222ee\"/>\n"
      "<polyline points=\"0,0 5,5 9,1\" stroke=\"#22cc22\" stroke-width=\"2\" "
      "fill=\"none\"/>\n"
      "<text xml:space=\"preserve\" x=\"3\" y=\"12.8\" " +
          gothic +
          " font-size=\"10\" fill=\"#000000\">a&lt;&amp;&gt;&quot;&apos;\xEF\xBF\xBD境</text>\n"
          "<g transform=\"translate(5 6) rotate(-30) scale(1.2 1)\"><rect x=\"0\" y=\"0\" "
          "width=\"5\" height=\"10\" fill=\"#ffffff\"/><text xml:space=\"preserve\" x=\"0\" "
          "y=\"8.8\" " +
          gothic +
          " font-size=\"10\" font-weight=\"bold\" fill=\"#000000\">X</text></g>\n"
          "<text xml:space=\"preserve\" transform=\"translate(10 20) rotate(-90)\" x=\"0 5\" "
          "y=\"8.8 8.8\" " +
          gothic +
          " font-size=\"10\" fill=\"#000000\">a&amp;</text>\n"
          "<text xml:space=\"preserve\" transform=\"translate(10 10) rotate(-90)\" x=\"0\" "
          "y=\"8.8\" " +
          gothic +
          " font-size=\"10\" fill=\"#ff0000\">境</text>\n"
          "<text xml:space=\"preserve\" x=\"1\" y=\"11.56\" " +
          other +
          " font-size=\"12\" text-decoration=\"underline line-through\" fill=\"#ffffff\" "
          "stroke=\"#ffffff\" stroke-linejoin=\"round\" stroke-width=\"3\">h</text>\n"
          "<text xml:space=\"preserve\" x=\"1\" y=\"11.56\" " +
          other +
          " font-size=\"12\" text-decoration=\"underline line-through\" "
          "fill=\"#ff0000\">h</text>\n"
          "</svg>\n");
}

// Sizes and positions beyond any device (an infinite font, a width that divides to
// infinity) are written as numbers all the same: no viewer reads "inf" or "nan".
TEST(SvgCanvas, EveryNumberIsANumber) {
  SvgCanvas c(40, 30);
  CanvasFont f;
  f.face = std::string(kGothicFace);
  f.height = std::numeric_limits<double>::infinity();
  f.width = 5e-324;
  f.escapement = 300;
  c.SetFont(f);
  c.Text({3, 4}, "ab");
  c.BeginTextRun();
  c.Text({10, 20}, "a");
  c.Text({12, 20}, "\x8b\xab");
  c.EndTextRun();
  f.height = std::numeric_limits<double>::quiet_NaN();
  f.width = 0;
  c.SetFont(f);
  c.TextHalo({1, 1}, "h", 0xFFFFFF, 3, 0x0000FF);
  std::string doc = c.Document();
  for (char& ch : doc)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_EQ(doc.find("inf"), std::string::npos) << doc;
  EXPECT_EQ(doc.find("nan"), std::string::npos) << doc;
  EXPECT_NE(doc.find("font-size=\"1000000\""), std::string::npos) << doc;
}

}  // namespace
}  // namespace kestrova
