#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "view/canvas.h"
#include "view/plot_view.h"

namespace kestrova {

struct CoordinateData;
struct JwwHeader;
struct JwCadExtras;
struct OutputSettings;
struct SimaLine;

// Colours by state: unmarked points and SIMA labels, marked points, labels of marked
// points, and the picked point.
inline constexpr Colour kPlotGreen = 0x22CC22;
inline constexpr Colour kPlotBlue = 0xEE2222;
inline constexpr Colour kPlotBlack = 0x000000;
inline constexpr Colour kPlotRed = 0x0000FF;
inline constexpr Colour kPlotWhite = 0xFFFFFF;
inline constexpr Colour kBandGreen = Rgb(0, 128, 0);
inline constexpr Colour kReadoutBlue = Rgb(0, 0, 255);

// Font faces (code page 932): the plot's labels and the face "^\" switches to.
inline constexpr std::string_view kGothicFace =
    "\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e";
inline constexpr std::string_view kGothicFaceNoSpace =
    "\x82\x6c\x82\x72\x83\x53\x83\x56\x83\x62\x83\x4e";

// Jw_cad's side of the picture: the screen colours of pens 0..9 (0 is the background),
// the sizes of text kinds 1..10 in paper millimetres, how texts are set off from the
// drawing, and how large a paper millimetre is on the ground.
struct PlotStyle {
  std::array<Colour, 10> ScreenColours{};
  std::array<double, 10> TextKindWidths{};
  std::array<double, 10> TextKindHeights{};
  std::array<double, 10> TextKindSpacings{};
  uint32_t DrawOutLine = 0;       // 1: a halo round each character; 2: a background box
  double OutLineExpansion = 0.0;  // margin of the background box
  double SurveyPerPaperMm = 0.5;  // survey units one paper millimetre stands for (1:500, m)
  friend bool operator==(const PlotStyle&, const PlotStyle&) = default;
};
// The style of the drawing the settings would write: a parcel label is as large on the
// plot as it will be in Jw_cad at the same zoom.
PlotStyle PlotStyleFrom(const JwwHeader& header, const JwCadExtras& extras,
                        const OutputSettings& settings);

// The style of the plot: the pens and text kinds every drawing save installs (Jw_cad's
// own registry values do not survive a save), Jw_cad's outline mode, and the scale. The
// plot therefore looks the same before the first save as after it.
PlotStyle DrawingPlotStyle(const JwCadExtras& extras, const OutputSettings& settings);

// Parcel labels never shrink below the point names' height, so that they stay readable
// when a site is seen whole; above it they grow with the zoom as Jw_cad's texts do.
inline constexpr double kMinSimaLabelHeight = 10.0;
inline constexpr double kMaxSimaLabelHeight = 2000.0;

// The screen colour of a pen number; numbers outside the table draw in black.
Colour ScreenColour(const PlotStyle& style, int pen);

// The pen of a plot primitive: colour and width in pixels (lines are always solid).
struct StyleLine {
  Colour colour = 0;
  double width = 1.0;
};

// True when the view-axes point lies strictly inside the window shrunk by 1e-7 on every
// side; NaN is never visible.
bool PointVisible(const PlotViewState& view, ViewPair p);

struct ClippedSegment {
  ViewPair a;
  ViewPair b;
};
// The part of a view-axes segment inside the window; nullopt when it lies outside or an
// end is not a finite number.
std::optional<ClippedSegment> ClipSegment(const PlotViewState& view, ViewPair a, ViewPair b);

// Primitives over survey coordinates (swapped into view axes when MathAxes is false).
void DrawDot(Canvas& canvas, const PlotViewState& view, const StyleLine& pen, double x, double y,
             double size);
// Uses the canvas's current pen and brush.
void DrawCircle(Canvas& canvas, const PlotViewState& view, double x, double y, double diameter);
void DrawSegment(Canvas& canvas, const PlotViewState& view, const StyleLine& pen, double x1,
                 double y1, double x2, double y2);

// The rubber band (dotted green, hollow) and the erase rectangle, in pixels. The widget
// draws the band over its cached picture in copy mode; XOR lets it be taken off again by
// drawing it twice.
void DrawBand(Canvas& canvas, PixelPoint c1, PixelPoint c2, PenMode mode = PenMode::kXor);
void EraseBox(Canvas& canvas, PixelPoint c1, PixelPoint c2);

// The coordinate readout in the plot's top-left corner: blue, 9 points, opaque.
void DrawReadout(Canvas& canvas, std::string_view xText, std::string_view yText,
                 std::string_view face = kGothicFace);
// The pixel height of a 9-point font on a 96-dpi screen.
inline constexpr double kReadoutFontHeight = 12.0;

// Everything the plot shows: for each point a dot, a 6-pixel circle and its name in the
// colour of its state, then the SIMA segments and the SIMA labels. Nothing without points
// or with an unusable view.
void DrawPlot(Canvas& canvas, const PlotViewState& view, const CoordinateData& data,
              const PlotStyle& style, int32_t pickedRow);

// A point and a parcel label as the plot draws them.
struct PlotPoint {
  double X = 0.0;
  double Y = 0.0;
  std::string_view Name;  // code page 932
  bool Marked = true;
};
struct PlotLabel {
  double X = 0.0;
  double Y = 0.0;
  uint16_t TextKind = 3;
  double Angle = 0.0;
  std::string_view Text;  // code page 932
};

// What the plot draws, handed over in order each time it is asked: a site kept in
// temporary files is read from there rather than held. The texts a call views stay valid
// during that call only.
class PlotSource {
 public:
  virtual ~PlotSource() = default;
  virtual int32_t PointCount() const = 0;
  virtual void EachLabel(const std::function<void(const PlotLabel&)>& take) = 0;
  virtual void EachPoint(const std::function<void(const PlotPoint&)>& take) = 0;
  virtual void EachLine(const std::function<void(const SimaLine&)>& take) = 0;
  // True when a canvas may draw the lines while the points are drawn: EachPoint and
  // EachLine may then run at the same time on two threads.
  virtual bool ReadsAtOnce() const { return false; }
};

// The same from a source; picked is the point of pickedRow (1-based), or null.
void DrawPlot(Canvas& canvas, const PlotViewState& view, PlotSource& source, const PlotStyle& style,
              int32_t pickedRow, const PlotPoint* picked);

// Jw_cad's text conventions on the plot (codes, stretch, raised and overlaid characters).
struct JwTextParams {
  StyleLine pen;                                              // the base colour of the text
  double startX = 0.0, startY = 0.0, endX = 0.0, endY = 0.0;  // survey coordinates
  double width = 0.0;                                         // full-width cell, pixels
  double height = 0.0;                                        // character height, pixels
  double spacing = 0.0;  // added after a full-width cell, pixels
  double angle = 0.0;    // degrees, counter-clockwise
  double offsetX = 3.0, offsetY = 3.0;
  int32_t styleCode = 3;   // 10000s digit: italic, bold, both
  uint16_t textFlags = 0;  // vertical writing is never asked for
  std::string_view fontName = kGothicFace;
  std::string_view text;  // code page 932
};
// Draws the text when its start point is visible. Always returns true.
bool DrawJwText(Canvas& canvas, const PlotViewState& view, const PlotStyle& style,
                const JwTextParams& params);

}  // namespace kestrova
