#include "coords/convert.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <type_traits>
#include <vector>

#include "common/error.h"
#include "common/number_text.h"
#include "common/parallel.h"
#include "common/sjis.h"
#include "jww/archive.h"

namespace kestrova {

void DrawingTransform::Apply(double x, double y, double& u, double& v) const {
  // Each coordinate in one expression of extended precision, stored as a double.
  const long double du = static_cast<long double>(Swap ? y : x) - (Swap ? BaseY : BaseX);
  const long double dv = static_cast<long double>(Swap ? x : y) - (Swap ? BaseX : BaseY);
  u = static_cast<double>(du * K / Scale);
  v = static_cast<double>(dv * K / Scale);
}

TextPlacement PlaceText(std::string_view text, int basePosition, const JwwTextKind& kind,
                        const DrawingTransform& t, double x, double y) {
  const double w = kind.Width;
  const double s = kind.Spacing;
  const double l = (HalfWidthCount(text) / 2.0) * w + (static_cast<double>(text.size()) - 1) * s;
  const double h = kind.Height;
  double px, py;
  t.Apply(x, y, px, py);
  // Positions 1..9 are left, centre and right of the bottom, middle and top line:
  // offsets along the text from the point to its start and end, and across it.
  const int pos = std::clamp(basePosition, 1, 9);
  const int column = (pos - 1) % 3;
  const int row = (pos - 1) / 3;
  const double alongStart = column == 0 ? 0.0 : (column == 1 ? -l / 2 : -l);
  const double alongEnd = column == 0 ? l : (column == 1 ? l / 2 : 0.0);
  const double across = row == 0 ? 0.0 : (row == 1 ? -h / 2 : -h);
  // A zero offset leaves the coordinate as it is (a -0.0 stays -0.0).
  const auto shift = [](double v, double offset) { return offset == 0.0 ? v : v + offset; };
  TextPlacement p;
  if (t.Swap) {  // survey axes: the text runs along +u
    p.StartX = shift(px, alongStart);
    p.EndX = shift(px, alongEnd);
    p.StartY = p.EndY = shift(py, across);
  } else {  // mathematical axes: the text runs along +v
    p.StartY = shift(py, alongStart);
    p.EndY = shift(py, alongEnd);
    p.StartX = p.EndX = shift(px, across);
  }
  return p;
}

namespace {

// "%8.3f" of the value rounded to three decimals.
std::string Fixed8(double v) {
  return FormatFixed(RoundOff(34, v), 8, 3);
}

// A point's code from its mark: 1..100 as they are, 101..200 turned a quarter,
// 201 and up turned a half, negative ones a quarter the other way.
void ApplyCodeRule(const SurveyPoint& p, const OutputSettings& s, TDataTen& e) {
  const int64_t m = ParseInt(p.Mark).value_or(0);
  e.PenStyle = 100;
  e.RotationAngle = 0.0;
  if (m < 0) {
    e.Code = static_cast<uint32_t>(-m - 100);
    e.RotationAngle = -1.5707963267948966;
  } else if (m > 200) {
    e.Code = static_cast<uint32_t>(m - 200);
    e.RotationAngle = 3.141592653589793;
  } else if (m > 100) {
    e.Code = static_cast<uint32_t>(m - 100);
    e.RotationAngle = 1.5707963267948966;
  } else if (m >= 1) {
    e.Code = static_cast<uint32_t>(m);
  } else if (s.Point.CodeFlg && s.Point.Code >= 1) {
    e.Code = s.Point.Code;
  } else {
    e.PenStyle = 1;
    e.Code = 0;
  }
}

template <class E>
void SetAttributes(E& e, uint8_t style, uint16_t color, uint16_t layer, uint16_t group,
                   uint16_t flags) {
  e.Group = 0;
  e.PenStyle = style;
  e.PenColor = color;
  e.PenWidth = 1;
  e.Layer = layer;
  e.LayerGroup = group;
  e.Flags = flags;
}

const char kFontName[] = "\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E";  // ＭＳ ゴシック

bool Finite(double u, double v) {
  return std::isfinite(u) && std::isfinite(v);
}

// Jw_cad cannot show an infinite or NaN coordinate, and a drawing holding one will not
// open: every position is checked before anything is built, naming what lies too far.
void CheckFinite(const CoordinateData& data, const OutputSettings& s, const DrawingTransform& t,
                 const std::array<JwwTextKind, 10>& textKinds) {
  const std::string at = " cannot be drawn at 1:" + FormatGeneral(t.Scale) +
                         ": it lies too far from the base point (the drawing coordinates are "
                         "not finite)";
  double u = 0.0;
  double v = 0.0;
  const PointTable& table = data.Table;
  for (int32_t r = 1; r <= table.PointCount; ++r) {
    const SurveyPoint& p = table.Points[r];
    if (p.Marked != 1) continue;
    t.Apply(p.X, p.Y, u, v);
    if (!Finite(u, v)) {
      throw Error("point " + std::to_string(p.Number) + " \"" + Cp932ToUtf8(p.Name) + "\" (row " +
                  std::to_string(r) + ", X " + FormatGeneral(p.X) + ", Y " + FormatGeneral(p.Y) +
                  ")" + at);
    }
  }
  for (const SimaLine& l : data.Sima.SimaLines) {
    double u2 = 0.0;
    double v2 = 0.0;
    t.Apply(l.StartX, l.StartY, u, v);
    t.Apply(l.EndX, l.EndY, u2, v2);
    if (!Finite(u, v) || !Finite(u2, v2)) {
      throw Error("a parcel or polyline line from X " + FormatGeneral(l.StartX) + ", Y " +
                  FormatGeneral(l.StartY) + at);
    }
  }
  for (const SimaText& label : data.Sima.SimaTexts) {
    t.Apply(label.X, label.Y, u, v);
    if (!Finite(u, v)) throw Error("the label of parcel \"" + Cp932ToUtf8(label.Text) + "\"" + at);
  }
  if (s.Point.EnkoFlg && !std::isfinite((s.Point.EnkoR / 2) * t.K / t.Scale)) {
    throw Error("the circle diameter (Point.EnkoR) " + FormatGeneral(s.Point.EnkoR) +
                " is too large for a drawing at 1:" + FormatGeneral(t.Scale));
  }
  for (size_t k = 0; k < textKinds.size(); ++k) {
    const JwwTextKind& kind = textKinds[k];
    // The longest label (255 bytes) must still have a finite length.
    if (!std::isfinite(kind.Width * 255 + kind.Spacing * 255) || !std::isfinite(kind.Height)) {
      throw Error("text kind " + std::to_string(k + 1) + " has a size that is not finite");
    }
  }
}

}  // namespace

DrawingPlan PlanDrawing(const CoordinateData& data, const DataBounds& bounds,
                        const OutputSettings& s, const std::array<JwwTextKind, 10>& textKinds,
                        int baseRow) {
  // A hand-edited settings file may hold 0, a negative value or one too small to divide
  // by; none of them gives a drawing.
  const double scale = s.WrtBAse.Scale;
  if (!(std::isfinite(scale) && scale > 0.0) || !std::isfinite(1000.0 / scale)) {
    throw Error("the drawing scale (WrtBAse.Scale) is " + FormatGeneral(scale) +
                "; set the scale denominator, e.g. 500");
  }
  const PointTable& table = data.Table;
  DrawingPlan plan;
  plan.Data = &data;
  plan.Settings = s;
  plan.TextKinds = textKinds;
  DrawingTransform& t = plan.Transform;
  t.K = s.WrtBAse.mmFlg ? 1.0 : 1000.0;
  t.Scale = s.WrtBAse.Scale;
  t.Swap = data.Sima.SimaLoaded || s.Coordinate.Flg;
  if (s.WrtBAse.OutBaseFlg && baseRow >= 1 && baseRow <= table.PointCount) {
    t.BaseX = table.Points[baseRow].X;
    t.BaseY = table.Points[baseRow].Y;
  } else {
    // Also the base when the grid cursor stands below the last point.
    t.BaseX = bounds.CentreX;
    t.BaseY = bounds.CentreY;
  }
  CheckFinite(data, s, t, textKinds);
  plan.MarkedRows.reserve(static_cast<size_t>(table.PointCount));
  for (int32_t r = 1; r <= table.PointCount; ++r) {
    if (table.Points[r].Marked == 1) plan.MarkedRows.push_back(r);
  }
  return plan;
}

uint32_t DrawingPlan::EntityCount() const {
  const size_t m = MarkedRows.size();
  const size_t perPoint = (Settings.Point.OutFlg ? 1 : 0) + (Settings.Point.EnkoFlg ? 1 : 0) +
                          (Settings.PointStr.OutFlg ? 1 : 0) + (Settings.XYcoord.OutFlg ? 1 : 0) +
                          (Settings.Zcoord.OutFlg ? 1 : 0);
  return static_cast<uint32_t>(m * perPoint + Data->Sima.SimaLines.size() +
                               Data->Sima.SimaTexts.size());
}

namespace {

// Calls visit(type, class, n, make) for each block of entities in drawing order, where
// make(k, e) fills e with entity k of the block (0 <= k < n) from nothing but the plan:
// blocks can be built whole, or range by range and in parallel.
template <class Visit>
void ForEachBlock(const DrawingPlan& plan, const Visit& visit) {
  const OutputSettings& s = plan.Settings;
  const CoordinateData& data = *plan.Data;
  const DrawingTransform& t = plan.Transform;
  const SurveyPoint* points = data.Table.Points.data();
  const std::vector<int32_t>& rows = plan.MarkedRows;
  const size_t m = rows.size();
  const uint16_t group = static_cast<uint16_t>(s.WrtBAse.Group);

  if (s.Point.OutFlg) {
    visit(std::type_identity<TDataTen>{}, EntityClass::kTen, m, [&](size_t k, TDataTen& e) {
      const SurveyPoint& p = points[rows[k]];
      SetAttributes(e, 1, s.Point.LColor, s.Point.Lay, group, 2);
      t.Apply(p.X, p.Y, e.X, e.Y);
      e.IsTemporary = 0;
      e.Scale = 1.0;
      ApplyCodeRule(p, s, e);
    });
  }
  if (s.Point.EnkoFlg) {
    const double radius = (s.Point.EnkoR / 2) * t.K / t.Scale;
    visit(std::type_identity<TDataEnko>{}, EntityClass::kEnko, m, [&](size_t k, TDataEnko& e) {
      const SurveyPoint& p = points[rows[k]];
      SetAttributes(e, 1, s.Point.LColor, s.Point.Lay, group, 2);
      t.Apply(p.X, p.Y, e.CenterX, e.CenterY);
      e.Radius = radius;
      e.StartAngle = 0.0;
      e.ArcAngle = 6.283185307179586;
      e.TiltAngle = 0.0;
      e.Flatness = 1.0;
      e.FullCircle = 1;
    });
  }
  const auto makeText = [&](TDataMoji& e, std::string text, const OutputSettings::TextSection& ts,
                            double x, double y, uint16_t color, uint16_t layer) {
    const uint32_t kindNumber = std::clamp<uint32_t>(ts.MojiNo, 1, 10);
    const JwwTextKind& kind = plan.TextKinds[kindNumber - 1];
    SetAttributes(e, 1, color, layer, group, 2);
    const TextPlacement place = PlaceText(text, ts.MojiBs, kind, t, x, y);
    e.StartX = place.StartX;
    e.StartY = place.StartY;
    e.EndX = place.EndX;
    e.EndY = place.EndY;
    e.TextKind = kindNumber;
    e.SizeX = kind.Width;
    e.SizeY = kind.Height;
    e.Spacing = kind.Spacing;
    e.Angle = 0.0;
    e.FontName = kFontName;
    e.Text = std::move(text);
  };
  const auto textBlock = [&](const OutputSettings::TextSection& ts, auto textOf) {
    if (!ts.OutFlg) return;
    visit(std::type_identity<TDataMoji>{}, EntityClass::kMoji, m, [&](size_t k, TDataMoji& e) {
      const SurveyPoint& p = points[rows[k]];
      makeText(e, textOf(p), ts, p.X, p.Y, static_cast<uint16_t>(ts.MojiCl), ts.Lay);
    });
  };
  textBlock(s.PointStr, [](const SurveyPoint& p) { return p.Name.str(); });
  textBlock(s.XYcoord, [](const SurveyPoint& p) { return Fixed8(p.X) + " ," + Fixed8(p.Y); });
  textBlock(s.Zcoord, [](const SurveyPoint& p) { return Fixed8(p.Z); });

  const std::vector<SimaLine>& lines = data.Sima.SimaLines;
  visit(std::type_identity<TDataSen>{}, EntityClass::kSen, lines.size(),
        [&](size_t k, TDataSen& e) {
          const SimaLine& l = lines[k];
          SetAttributes(e, static_cast<uint8_t>(l.PenStyle & 0xFF), l.PenColor, 4, group, 0);
          t.Apply(l.StartX, l.StartY, e.StartX, e.StartY);
          t.Apply(l.EndX, l.EndY, e.EndX, e.EndY);
        });
  const std::vector<SimaText>& labels = data.Sima.SimaTexts;
  visit(std::type_identity<TDataMoji>{}, EntityClass::kMoji, labels.size(),
        [&](size_t k, TDataMoji& e) {
          const SimaText& label = labels[k];
          const OutputSettings::TextSection ts{5, label.TextKind, 2, 1, true};
          makeText(e, label.Text, ts, label.X, label.Y, 2, 5);
        });
}

template <class E>
std::vector<E>& ListOf(JwwDocument& doc) {
  if constexpr (std::is_same_v<E, TDataSen>) return doc.SenList;
  if constexpr (std::is_same_v<E, TDataEnko>) return doc.EnkoList;
  if constexpr (std::is_same_v<E, TDataTen>) return doc.TenList;
  if constexpr (std::is_same_v<E, TDataMoji>) return doc.MojiList;
}

// Entities made in one go of the streaming writer: enough to keep both cores busy, few
// enough that a block of long labels stays a few megabytes.
constexpr size_t kEntitiesPerRange = 16384;

}  // namespace

void ConvertPointsToDrawing(const CoordinateData& data, const DataBounds& bounds,
                            const OutputSettings& s, const std::array<JwwTextKind, 10>& textKinds,
                            int baseRow, JwwDocument& doc) {
  const DrawingPlan plan = PlanDrawing(data, bounds, s, textKinds, baseRow);
  Clear(doc);
  Init(doc);
  doc.EntityOrder.reserve(plan.EntityCount());
  ForEachBlock(plan, [&doc](auto type, EntityClass c, size_t n, const auto& make) {
    using E = typename decltype(type)::type;
    std::vector<E>& list = ListOf<E>(doc);
    const size_t base = list.size();
    list.resize(base + n);
    FillInRanges(n, [&](size_t begin, size_t end) {
      for (size_t k = begin; k < end; ++k)
        make(k, list[base + k]);
    });
    doc.EntityOrder.insert(doc.EntityOrder.end(), n, c);
    doc.EntityCount += static_cast<int32_t>(n);
  });
  doc.EntityListCount =
      static_cast<uint32_t>(doc.SenCount() + doc.EnkoCount() + doc.TenCount() + doc.MojiCount());
}

bool WritePlannedEntities(const DrawingPlan& plan, OutStream& stream, uint32_t version,
                          ProgressMonitor* progress) {
  try {
    ArchiveObjectWriter writer(stream, version);
    std::tuple<std::vector<TDataSen>, std::vector<TDataEnko>, std::vector<TDataTen>,
               std::vector<TDataMoji>>
        ranges;
    const double total = std::max<double>(plan.EntityCount(), 1.0);
    uint64_t done = 0;
    ReportProgress(progress, 0.0);
    ForEachBlock(plan, [&](auto type, EntityClass c, size_t n, const auto& make) {
      using E = typename decltype(type)::type;
      std::vector<E>& range = std::get<std::vector<E>>(ranges);
      for (size_t first = 0; first < n; first += kEntitiesPerRange) {
        range.resize(std::min(kEntitiesPerRange, n - first));
        FillInRanges(
            range.size(),
            [&](size_t begin, size_t end) {
              for (size_t k = begin; k < end; ++k)
                make(first + k, range[k]);
            },
            kEntitiesPerRange / 4);
        for (const E& e : range)
          writer.Object(c, e);
        done += range.size();
        ReportProgress(progress, static_cast<double>(done) / total);
      }
    });
    // No block definitions: the empty list closes the drawing.
    stream.WriteValue(static_cast<uint16_t>(0));
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception& e) {
    stream.SetLastError(e.what());
    return false;
  }
  return true;
}

}  // namespace kestrova
