#include "view/plot_draw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "common/sjis.h"
#include "coords/output_settings.h"
#include "coords/point_table.h"
#include "jww/header.h"
#include "jww/jwcad_settings.h"

namespace kestrova {

PlotStyle PlotStyleFrom(const JwwHeader& header, const JwCadExtras& extras,
                        const OutputSettings& settings) {
  PlotStyle s;
  for (size_t i = 0; i < s.ScreenColours.size(); ++i)
    s.ScreenColours[i] = header.Pens[i].Color;
  for (size_t i = 0; i < s.TextKindWidths.size(); ++i) {
    s.TextKindWidths[i] = header.TextKinds[i].Width;
    s.TextKindHeights[i] = header.TextKinds[i].Height;
    s.TextKindSpacings[i] = header.TextKinds[i].Spacing;
  }
  s.DrawOutLine = extras.DrawOutLine;
  s.OutLineExpansion = extras.OutLineExpansion;
  // A scale the conversion would refuse still leaves a plot to look at.
  const double scale = settings.WrtBAse.Scale;
  const double unitsPerMetre = settings.WrtBAse.mmFlg ? 1000.0 : 1.0;
  if (std::isfinite(scale) && scale > 0) s.SurveyPerPaperMm = scale / 1000.0 * unitsPerMetre;
  return s;
}

PlotStyle DrawingPlotStyle(const JwCadExtras& extras, const OutputSettings& settings) {
  static const JwwHeader fixed = [] {
    JwwHeader h;
    SetFixedHeaderValues(h);
    return h;
  }();
  return PlotStyleFrom(fixed, extras, settings);
}

Colour ScreenColour(const PlotStyle& style, int pen) {
  if (pen < 0 || pen >= static_cast<int>(style.ScreenColours.size())) return kPlotBlack;
  return style.ScreenColours[static_cast<size_t>(pen)];
}

bool PointVisible(const PlotViewState& v, ViewPair p) {
  // Written so that a NaN fails every comparison and is not visible.
  return v.WindowLeft + 1e-7 < p.h && p.h < v.WindowRight - 1e-7 && v.WindowBottom + 1e-7 < p.v &&
         p.v < v.WindowTop - 1e-7;
}

namespace {

int OutCode(const PlotViewState& v, ViewPair p) {
  int code = 0;
  if (p.h - v.WindowLeft < 1e-7) code |= 1;
  if (p.h - v.WindowRight > -1e-7) code |= 2;
  if (p.v - v.WindowBottom < 1e-7) code |= 4;
  if (p.v - v.WindowTop > -1e-7) code |= 8;
  return code;
}

// Moves one end onto the window edges its outcode names, in the order left, right,
// bottom, top, along the line of the unclipped segment.
void ClipEnd(const PlotViewState& v, ViewPair& p, double dx, double dy) {
  for (int bit : {1, 2, 4, 8}) {
    if (!(OutCode(v, p) & bit)) continue;
    if (bit <= 2) {
      if (std::fabs(dx) <= 1e-7) continue;
      const double edge = bit == 1 ? v.WindowLeft : v.WindowRight;
      p.v += (edge - p.h) * dy / dx;
      p.h = edge;
    } else {
      if (std::fabs(dy) <= 1e-7) continue;
      const double edge = bit == 4 ? v.WindowBottom : v.WindowTop;
      p.h += (edge - p.v) * dx / dy;
      p.v = edge;
    }
  }
}

bool Finite(ViewPair p) {
  return std::isfinite(p.h) && std::isfinite(p.v);
}

void SetPenOf(Canvas& canvas, const StyleLine& pen, int width) {
  canvas.SetPen(CanvasPen{pen.colour, width, PenStyle::kSolid, PenMode::kCopy});
}

int RoundedWidth(double width) {
  return RoundPixel(width);
}

PixelPoint TopLeft(PixelPoint a, PixelPoint b) {
  return {std::min(a.x, b.x), std::min(a.y, b.y)};
}
PixelPoint BottomRight(PixelPoint a, PixelPoint b) {
  return {std::max(a.x, b.x), std::max(a.y, b.y)};
}

constexpr CanvasBrush kHollow{true, kPlotWhite};

struct Box {
  double left, top, right, bottom;
};

// The screen box a label covers: its cells run from the anchor along the angle, each a
// half or a full cell wide and the height tall.
Box LabelBox(ScreenPoint anchor, std::string_view text, double width, double height, double spacing,
             double angleDegrees) {
  const double length = HalfWidthCount(text) * (width + spacing) / 2;
  // Upright (every point name of a dense plot), the box runs right and down from the
  // anchor: the same box without the turning.
  if (angleDegrees == 0 && length >= 0 && height >= 0 && std::isfinite(height)) {
    return Box{anchor.x, anchor.y, anchor.x + length, anchor.y + height};
  }
  const double a = angleDegrees * 3.14159265358979323846 / 180;
  const double c = angleDegrees == 0 ? 1.0 : std::cos(a);
  const double s = angleDegrees == 0 ? 0.0 : std::sin(a);
  const ScreenPoint along{c * length, -s * length};
  const ScreenPoint down{s * height, c * height};
  Box b{anchor.x, anchor.y, anchor.x, anchor.y};
  for (const ScreenPoint& d : {along, down, ScreenPoint{along.x + down.x, along.y + down.y}}) {
    b.left = std::min(b.left, anchor.x + d.x);
    b.right = std::max(b.right, anchor.x + d.x);
    b.top = std::min(b.top, anchor.y + d.y);
    b.bottom = std::max(b.bottom, anchor.y + d.y);
  }
  return b;
}

// The labels already placed, by square buckets of the screen. A label that would overlap
// one of them is left out: a dense site seen whole shows its points and as many names as
// can be read, and zooming in brings the others back.
class LabelSpace {
 public:
  // Buckets over the screen of columns x rows pixels are kept in an array, those beyond
  // in a map.
  LabelSpace(double columns, double rows)
      : across_(OnScreen(columns)), down_(OnScreen(rows)), near_(across_ * down_) {
    if (columns >= 1 && rows >= 1 && columns * rows <= kMaxCoverage) {
      width_ = static_cast<int>(columns);
      height_ = static_cast<int>(rows);
      covered_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0);
    }
  }

  bool Take(const Box& b) {
    if (!(b.left < b.right || b.top < b.bottom)) return true;  // nothing to collide
    const Pixels inner = Span<false>(b);
    if (CoveredCorner(inner)) return false;
    const int x0 = Bucket(b.left), x1 = Bucket(b.right);
    const int y0 = Bucket(b.top), y1 = Bucket(b.bottom);
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        const std::vector<size_t>* boxes = Find(x, y);
        if (!boxes) continue;
        for (size_t i : *boxes) {
          const Box& o = boxes_[i];
          // Boxes that only touch, or overlap by less than a pixel, do not collide.
          if (b.left < o.right - 1 && o.left < b.right - 1 && b.top < o.bottom - 1 &&
              o.top < b.bottom - 1) {
            return false;
          }
        }
      }
    }
    boxes_.push_back(b);
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x)
        At(x, y).push_back(boxes_.size() - 1);
    }
    Cover(Span<true>(b));
    return true;
  }

 private:
  static constexpr double kBucket = 64.0;
  static constexpr int kBefore = 2;  // buckets kept in the array before the screen's edge
  static int OnScreen(double pixels) {
    return static_cast<int>(std::clamp(pixels / kBucket, 0.0, 256.0)) + 2 * kBefore + 1;
  }
  // Labels far outside any screen are clamped into the border buckets.
  static int Bucket(double v) { return static_cast<int>(std::clamp(v / kBucket, -1e4, 1e4)); }
  static int64_t Key(int x, int y) { return (static_cast<int64_t>(x) << 32) ^ (y & 0xFFFFFFFF); }
  bool Near(int x, int y) const {
    return x >= -kBefore && y >= -kBefore && x + kBefore < across_ && y + kBefore < down_;
  }
  size_t Index(int x, int y) const {
    return static_cast<size_t>(y + kBefore) * static_cast<size_t>(across_) +
           static_cast<size_t>(x + kBefore);
  }
  const std::vector<size_t>* Find(int x, int y) const {
    if (Near(x, y)) return &near_[Index(x, y)];
    const auto it = far_.find(Key(x, y));
    return it == far_.end() ? nullptr : &it->second;
  }
  std::vector<size_t>& At(int x, int y) {
    return Near(x, y) ? near_[Index(x, y)] : far_[Key(x, y)];
  }

  // A pixel [x, x + 1) x [y, y + 1) that lies in [left, right - 1) x [top, bottom - 1) of
  // a new box b (its inner pixels) and that a placed box o reaches, o.left - 1 < x <
  // o.right - 1 and the same down, proves that they collide by the rule above: b starts
  // at or before x and ends a pixel or more after it, o the other way round. The placed
  // boxes mark the pixels they reach, and a box with a mark in the first row of its inner
  // pixels is refused without a search: on a dense site seen whole nearly every name is.
  static constexpr double kMaxCoverage = 16e6;
  struct Pixels {
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;  // [x0, x1) x [y0, y1), clipped to the screen
  };
  // The inner pixels of b, [ceil(left), floor(right - 1)), or those it reaches,
  // [floor(left), ceil(right - 1)), and the same down.
  template <bool kReach>
  Pixels Span(const Box& b) const {
    Pixels p;
    if (covered_.empty() || !(std::isfinite(b.left) && std::isfinite(b.right) &&
                              std::isfinite(b.top) && std::isfinite(b.bottom))) {
      return p;
    }
    // Clamped to a few pixels around the screen first, the edges are rounded in integers.
    const auto start = [](double v, double size) {
      const double c = std::clamp(v, -2.0, size + 2);
      return std::max(kReach ? FloorNear(c) : CeilNear(c), 0);
    };
    const auto end = [](double v, double size, int limit) {
      const double c = std::clamp(v - 1, -2.0, size + 2);
      return std::min(kReach ? CeilNear(c) : FloorNear(c), limit);
    };
    const double w = width_, h = height_;
    const int left = start(b.left, w), top = start(b.top, h);
    const int right = end(b.right, w, width_), bottom = end(b.bottom, h, height_);
    if (!(left < right && top < bottom)) return p;
    return {left, right, top, bottom};
  }
  static int CeilNear(double v) {
    const int t = static_cast<int>(v);
    return t + (t < v ? 1 : 0);
  }
  static int FloorNear(double v) {
    const int t = static_cast<int>(v);
    return t - (t > v ? 1 : 0);
  }
  bool CoveredCorner(const Pixels& p) const {
    if (!(p.x0 < p.x1)) return false;
    const uint8_t* row = covered_.data() + static_cast<size_t>(p.y0) * static_cast<size_t>(width_);
    if (row[p.x0]) return true;
    return std::memchr(row + p.x0 + 1, 1, static_cast<size_t>(p.x1 - p.x0 - 1)) != nullptr;
  }
  void Cover(const Pixels& p) {
    for (int y = p.y0; y < p.y1; ++y) {
      uint8_t* row = covered_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
      std::fill(row + p.x0, row + p.x1, uint8_t{1});
    }
  }

  int across_;
  int down_;
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> covered_;
  std::vector<Box> boxes_;
  std::vector<std::vector<size_t>> near_;
  std::unordered_map<int64_t, std::vector<size_t>> far_;
};

}  // namespace

std::optional<ClippedSegment> ClipSegment(const PlotViewState& v, ViewPair a, ViewPair b) {
  // An end at infinity has no line to clip along.
  if (!Finite(a) || !Finite(b)) return std::nullopt;
  const int ca = OutCode(v, a);
  const int cb = OutCode(v, b);
  if (ca == 0 && cb == 0) return ClippedSegment{a, b};
  if (ca & cb) return std::nullopt;
  const double dx = b.h - a.h;
  const double dy = b.v - a.v;
  ClipEnd(v, a, dx, dy);
  ClipEnd(v, b, dx, dy);
  return ClippedSegment{a, b};
}

void DrawDot(Canvas& canvas, const PlotViewState& view, const StyleLine& pen, double x, double y,
             double /*size: the dot is one pixel round whatever is asked*/) {
  const ViewPair p = ToViewAxes(view, x, y);
  if (!PointVisible(view, p)) return;
  SetPenOf(canvas, pen, RoundedWidth(pen.width));
  const ScreenPoint s = ToScreen(view, p);
  constexpr double r = 1.0;
  canvas.Ellipse(RoundPixels({s.x - r, s.y - r}), RoundPixels({s.x + r, s.y + r}));
}

void DrawCircle(Canvas& canvas, const PlotViewState& view, double x, double y, double diameter) {
  const ViewPair p = ToViewAxes(view, x, y);
  if (!PointVisible(view, p)) return;
  const ScreenPoint s = ToScreen(view, p);
  const double r = diameter / 2;
  canvas.Ellipse(RoundPixels({s.x - r, s.y - r}), RoundPixels({s.x + r, s.y + r}));
}

void DrawSegment(Canvas& canvas, const PlotViewState& view, const StyleLine& pen, double x1,
                 double y1, double x2, double y2) {
  const auto clipped = ClipSegment(view, ToViewAxes(view, x1, y1), ToViewAxes(view, x2, y2));
  if (!clipped) return;
  SetPenOf(canvas, pen, pen.width < 1.0 ? 1 : RoundedWidth(pen.width));
  const PixelPoint ends[2] = {RoundPixels(ToScreen(view, clipped->a)),
                              RoundPixels(ToScreen(view, clipped->b))};
  canvas.Polyline(ends);
}

void DrawBand(Canvas& canvas, PixelPoint c1, PixelPoint c2, PenMode mode) {
  canvas.SetPen(CanvasPen{kBandGreen, 1, PenStyle::kDot, mode});
  canvas.SetBrush(kHollow);
  canvas.Rectangle(TopLeft(c1, c2), BottomRight(c1, c2));
}

void EraseBox(Canvas& canvas, PixelPoint c1, PixelPoint c2) {
  canvas.SetPen(CanvasPen{kPlotWhite, 1, PenStyle::kSolid, PenMode::kCopy});
  canvas.SetBrush(CanvasBrush{false, kPlotWhite});
  canvas.Rectangle(TopLeft(c1, c2), BottomRight(c1, c2));
}

void DrawReadout(Canvas& canvas, std::string_view xText, std::string_view yText,
                 std::string_view face) {
  canvas.SetTextColour(kReadoutBlue);
  CanvasFont font;
  font.face = std::string(face);
  font.height = kReadoutFontHeight;
  canvas.SetFont(font);
  canvas.SetBrush(CanvasBrush{false, kPlotWhite});
  canvas.SetTextBackground(true, kPlotWhite);
  canvas.Text({8, 3}, xText);
  canvas.Text({8, 13}, yText);
}

namespace {

// Takes the label's room when its point is visible and nothing placed covers it. A label
// whose point is outside draws nothing and takes nothing.
bool LabelFitsAt(LabelSpace& space, const PlotViewState& view, const JwTextParams& p,
                 const ScreenPoint& s);

bool LabelFits(LabelSpace& space, const PlotViewState& view, const JwTextParams& p) {
  const ViewPair at = ToViewAxes(view, p.startX, p.startY);
  if (!PointVisible(view, at)) return false;
  return LabelFitsAt(space, view, p, ToScreen(view, at));
}

// The same for a label whose visible point is at s on the screen. The point is taken by
// reference: passed by value, its two halves were stored apart and read back as one, a
// stall on every point of the plot.
bool LabelFitsAt(LabelSpace& space, const PlotViewState& view, const JwTextParams& p,
                 const ScreenPoint& s) {
  const double a = p.angle * 3.14159265358979323846 / 180;
  const double sinA = p.angle == 0 ? 0.0 : std::sin(a);
  const double cosA = p.angle == 0 ? 1.0 : std::cos(a);
  // The first cell's top-left corner, as the text renderer places it.
  const ScreenPoint anchor{s.x - sinA * (p.width - p.offsetX),
                           s.y + cosA * (p.offsetY + p.height) * view.YSign};
  return space.Take(LabelBox(anchor, p.text, p.width, p.height, p.spacing, p.angle));
}

}  // namespace

namespace {

// A parcel label's text parameters at the view's zoom.
JwTextParams SimaLabelParams(const PlotStyle& style, const PlotViewState& view,
                             const PlotLabel& t) {
  // The label's kind is 1..10 in every file this program reads; anything else would
  // index past the table.
  const size_t kind = std::clamp<size_t>(t.TextKind, 1, 10);
  const double w = style.TextKindWidths[kind - 1];
  const double h = style.TextKindHeights[kind - 1];
  // Paper millimetres to pixels through the drawing scale and the zoom.
  double pixelsPerMm = style.SurveyPerPaperMm * view.ViewScale;
  if (h > 0 && h * pixelsPerMm < kMinSimaLabelHeight) pixelsPerMm = kMinSimaLabelHeight / h;
  if (h > 0 && h * pixelsPerMm > kMaxSimaLabelHeight) pixelsPerMm = kMaxSimaLabelHeight / h;
  JwTextParams sima;
  sima.pen = StyleLine{kPlotGreen, 1.0};
  sima.startX = sima.endX = t.X;
  sima.startY = sima.endY = t.Y;
  sima.text = t.Text;
  sima.width = w * pixelsPerMm;
  sima.height = h * pixelsPerMm;
  sima.spacing = style.TextKindSpacings[kind - 1] * pixelsPerMm;
  sima.angle = std::nearbyint(t.Angle);
  return sima;
}

// The loaded table and its SIMA lists as a source.
class TablePlotSource : public PlotSource {
 public:
  explicit TablePlotSource(const CoordinateData& data) : data_(data) {}

  int32_t PointCount() const override {
    const PointTable& table = data_.Table;
    return std::min<int32_t>(table.PointCount, static_cast<int32_t>(table.Points.size()) - 1);
  }
  void EachLabel(const std::function<void(const PlotLabel&)>& take) override {
    for (const SimaText& t : data_.Sima.SimaTexts)
      take(PlotLabel{t.X, t.Y, t.TextKind, t.Angle, t.Text});
  }
  void EachPoint(const std::function<void(const PlotPoint&)>& take) override {
    const int32_t count = PointCount();
    for (int32_t i = 1; i <= count; ++i)
      take(Point(i));
  }
  void EachLine(const std::function<void(const SimaLine&)>& take) override {
    for (const SimaLine& l : data_.Sima.SimaLines)
      take(l);
  }
  // Only reads the table; worth a second thread when there are lines.
  bool ReadsAtOnce() const override { return !data_.Sima.SimaLines.empty(); }
  PlotPoint Point(int32_t row) const {
    const SurveyPoint& p = data_.Table.Points[static_cast<size_t>(row)];
    return PlotPoint{p.X, p.Y, p.Name, p.Marked == 1};
  }

 private:
  const CoordinateData& data_;
};

}  // namespace

void DrawPlot(Canvas& canvas, const PlotViewState& view, const CoordinateData& data,
              const PlotStyle& style, int32_t pickedRow) {
  TablePlotSource source(data);
  const bool known = pickedRow >= 1 && pickedRow <= source.PointCount();
  const PlotPoint picked = known ? source.Point(pickedRow) : PlotPoint{};
  DrawPlot(canvas, view, source, style, pickedRow, known ? &picked : nullptr);
}

void DrawPlot(Canvas& canvas, const PlotViewState& view, PlotSource& source, const PlotStyle& style,
              int32_t pickedRow, const PlotPoint* picked) {
  if (source.PointCount() < 1 || !ViewUsable(view)) return;
  canvas.SetPen(CanvasPen{kPlotBlack, 1, PenStyle::kSolid, PenMode::kCopy});
  // Every shape is outlined only; the first dot too, whatever brush the readout left.
  canvas.SetBrush(kHollow);
  canvas.SetTextBackground(false, kPlotWhite);

  // The parcel labels are placed first: a parcel has one, a point name can be read in the
  // grid. Then the picked point's name, then the others in table order. Which labels found
  // room is all that is kept of them: they are drawn last, read again.
  std::vector<bool> simaFits;
  LabelSpace space((view.WindowRight - view.WindowLeft) * view.ViewScale,
                   (view.WindowTop - view.WindowBottom) * view.ViewScale);
  source.EachLabel([&](const PlotLabel& t) {
    simaFits.push_back(LabelFits(space, view, SimaLabelParams(style, view, t)));
  });

  JwTextParams label;
  label.width = 12.0;
  label.height = 10.0;
  label.spacing = 0.0;
  label.angle = 0.0;
  const auto placeName = [&](const PlotPoint& p) {
    label.startX = label.endX = p.X;
    label.startY = label.endY = p.Y;
    label.text = p.Name;
    return LabelFits(space, view, label);
  };
  const bool pickedShown = picked && placeName(*picked);
  // The parcels' and polylines' sides lie over the points and their names; a canvas may
  // draw them while the points are drawn.
  const auto drawPoints = [&](Canvas& on) {
    int32_t i = 0;
    source.EachPoint([&](const PlotPoint& p) {
      const bool isPicked = ++i == pickedRow;
      const Colour mark = isPicked ? kPlotRed : (p.Marked ? kPlotBlue : kPlotGreen);
      const Colour text = isPicked ? kPlotRed : (p.Marked ? kPlotBlack : kPlotGreen);
      // DrawDot, DrawCircle and the label's test with the point's place on the screen
      // worked out once.
      const ViewPair at = ToViewAxes(view, p.X, p.Y);
      const bool visible = PointVisible(view, at);
      const ScreenPoint s = visible ? ToScreen(view, at) : ScreenPoint{};
      if (visible) {
        on.EllipsePair(CanvasPen{mark, RoundedWidth(1.0), PenStyle::kSolid, PenMode::kCopy},
                       RoundPixels({s.x - 1, s.y - 1}), RoundPixels({s.x + 1, s.y + 1}), kHollow,
                       RoundPixels({s.x - 3, s.y - 3}), RoundPixels({s.x + 3, s.y + 3}));
      } else {
        on.SetBrush(kHollow);
      }
      on.SetBrush(kHollow);
      bool named = pickedShown;
      if (!isPicked) {
        label.startX = label.endX = p.X;
        label.startY = label.endY = p.Y;
        label.text = p.Name;
        named = visible && LabelFitsAt(space, view, label, s);
      }
      if (named) {
        label.startX = label.endX = p.X;
        label.startY = label.endY = p.Y;
        label.text = p.Name;
        label.pen = StyleLine{text, 1.0};
        DrawJwText(on, view, style, label);
      }
      on.SetBrush(kHollow);
    });
  };
  const auto drawLines = [&](Canvas& on) {
    source.EachLine([&](const SimaLine& l) {
      DrawSegment(on, view, StyleLine{ScreenColour(style, l.PenColor), 1.0}, l.StartX, l.StartY,
                  l.EndX, l.EndY);
    });
  };
  if (source.ReadsAtOnce()) {
    canvas.Layered(drawPoints, drawLines);
  } else {
    drawPoints(canvas);
    drawLines(canvas);
  }

  size_t k = 0;
  source.EachLabel([&](const PlotLabel& t) {
    const bool fits = k < simaFits.size() && simaFits[k];
    ++k;
    if (fits) DrawJwText(canvas, view, style, SimaLabelParams(style, view, t));
  });
}

}  // namespace kestrova
