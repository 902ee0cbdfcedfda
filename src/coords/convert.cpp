#include "coords/convert.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app/messages.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/parallel.h"
#include "common/sjis.h"
#include "coords/streamed_drawing.h"
#include "jww/archive.h"

namespace kestrova {

void DrawingTransform::Apply(double x, double y, double& u, double& v) const {
  // Each coordinate in one expression of extended precision, stored as a double.
  const long double du = static_cast<long double>(Swap ? y : x) - (Swap ? BaseY : BaseX);
  const long double dv = static_cast<long double>(Swap ? x : y) - (Swap ? BaseX : BaseY);
  u = static_cast<double>(du * K / Scale);
  v = static_cast<double>(dv * K / Scale);
}

bool DrawingHasSurveyAxes(const OutputSettings& s, bool simaLoaded) {
  return simaLoaded || s.Coordinate.Flg;
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

bool TakesPointCode(int64_t markValue, const OutputSettings& s) {
  return markValue != 0 || (s.Point.CodeFlg && s.Point.Code >= 1);
}

namespace {

// "%8.3f" of the value rounded to three decimals.
std::string Fixed8(double v) {
  return FormatFixed(RoundOff(34, v), 8, 3);
}

// A point's code from its mark: 1..100 as they are, 101..200 turned a quarter,
// 201 and up turned a half, negative ones a quarter the other way.
void ApplyCodeRule(int64_t m, const OutputSettings& s, TDataTen& e) {
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
  } else if (TakesPointCode(0, s)) {  // no mark: the settings' code, if any
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
class FiniteCheck {
 public:
  explicit FiniteCheck(const DrawingTransform& t) : t_(t), scale_(FormatGeneral(t.Scale)) {}

  bool PointIsFinite(double x, double y) const {
    double u = 0.0;
    double v = 0.0;
    t_.Apply(x, y, u, v);
    return Finite(u, v);
  }
  [[noreturn]] void PointError(int32_t number, std::string_view name, int32_t row, double x,
                               double y) const {
    throw Error(MessageId::kPointTooFar,
                {std::to_string(number), Cp932ToUtf8(name), std::to_string(row), FormatGeneral(x),
                 FormatGeneral(y), scale_});
  }
  void Line(const SimaLine& l) const {
    double u = 0.0;
    double v = 0.0;
    double u2 = 0.0;
    double v2 = 0.0;
    t_.Apply(l.StartX, l.StartY, u, v);
    t_.Apply(l.EndX, l.EndY, u2, v2);
    if (!Finite(u, v) || !Finite(u2, v2)) {
      throw Error(MessageId::kLineTooFar,
                  {FormatGeneral(l.StartX), FormatGeneral(l.StartY), scale_});
    }
  }
  void Label(std::string_view text, double x, double y) const {
    double u = 0.0;
    double v = 0.0;
    t_.Apply(x, y, u, v);
    if (!Finite(u, v)) throw Error(MessageId::kLabelTooFar, {Cp932ToUtf8(text), scale_});
  }
  void Sizes(const OutputSettings& s, const std::array<JwwTextKind, 10>& textKinds) const {
    if (s.Point.EnkoFlg && !std::isfinite((s.Point.EnkoR / 2) * t_.K / t_.Scale)) {
      throw Error(MessageId::kCircleTooLarge, {FormatGeneral(s.Point.EnkoR), scale_});
    }
    for (size_t k = 0; k < textKinds.size(); ++k) {
      const JwwTextKind& kind = textKinds[k];
      // The longest label (255 bytes) must still have a finite length.
      if (!std::isfinite(kind.Width * 255 + kind.Spacing * 255) || !std::isfinite(kind.Height)) {
        throw Error(MessageId::kTextKindNotFinite, {std::to_string(k + 1)});
      }
    }
  }

 private:
  const DrawingTransform& t_;
  const std::string scale_;
};

void CheckFinite(const CoordinateData& data, const OutputSettings& s, const DrawingTransform& t,
                 const std::array<JwwTextKind, 10>& textKinds) {
  const FiniteCheck check(t);
  const PointTable& table = data.Table;
  for (int32_t r = 1; r <= table.PointCount; ++r) {
    const SurveyPoint& p = table.Points[r];
    if (p.Marked == 1 && !check.PointIsFinite(p.X, p.Y)) {
      check.PointError(p.Number, p.Name, r, p.X, p.Y);
    }
  }
  for (const SimaLine& l : data.Sima.SimaLines)
    check.Line(l);
  for (const SimaText& label : data.Sima.SimaTexts)
    check.Label(label.Text, label.X, label.Y);
  check.Sizes(s, textKinds);
}

}  // namespace

void CheckDrawingSettings(const OutputSettings& s) {
  // A hand-edited settings file may hold 0, a negative value or one so small that the
  // drawing coordinates overflow: a point 10,000 km from the base, in millimetres at
  // this scale, must still square to a finite number (Jw_cad measures by squares).
  const double scale = s.WrtBAse.Scale;
  const double farthest = 1e10 * 1000.0 / scale;
  if (!(std::isfinite(scale) && scale > 0.0) || !std::isfinite(farthest * farthest)) {
    throw Error(MessageId::kScaleNotUsable, {FormatGeneral(scale)});
  }
  if (s.Point.EnkoFlg && !(s.Point.EnkoR > 0.0)) {
    throw Error(MessageId::kCircleDiameterNotPositive, {FormatGeneral(s.Point.EnkoR)});
  }
}

namespace {

void LayOut(DrawingLayout& layout, const OutputSettings& s,
            const std::array<JwwTextKind, 10>& textKinds, bool simaLoaded) {
  CheckDrawingSettings(s);
  layout.Settings = s;
  layout.TextKinds = textKinds;
  DrawingTransform& t = layout.Transform;
  t.K = s.WrtBAse.mmFlg ? 1.0 : 1000.0;
  t.Scale = s.WrtBAse.Scale;
  t.Swap = DrawingHasSurveyAxes(s, simaLoaded);
}

}  // namespace

DrawingPlan PlanDrawing(const CoordinateData& data, const DataBounds& bounds,
                        const OutputSettings& s, const std::array<JwwTextKind, 10>& textKinds,
                        int baseRow) {
  const PointTable& table = data.Table;
  DrawingPlan plan;
  plan.Data = &data;
  LayOut(plan, s, textKinds, data.Sima.SimaLoaded);
  DrawingTransform& t = plan.Transform;
  plan.MarkedRows.reserve(static_cast<size_t>(table.PointCount));
  DataBounds marked;
  StartDataBounds(marked);
  for (int32_t r = 1; r <= table.PointCount; ++r) {
    const SurveyPoint& p = table.Points[r];
    if (p.Marked != 1) continue;
    plan.MarkedRows.push_back(r);
    AddToDataBounds(marked, p.X, p.Y);
  }
  if (s.WrtBAse.OutBaseFlg && baseRow >= 1 && baseRow <= table.PointCount) {
    t.BaseX = table.Points[baseRow].X;
    t.BaseY = table.Points[baseRow].Y;
  } else if (!plan.MarkedRows.empty()) {
    // The drawing is centred on the points it holds: leaving points out by their marks
    // gives the drawing of those points alone. Also the base when the grid cursor stands
    // below the last point.
    FinishDataBounds(marked);
    t.BaseX = marked.CentreX;
    t.BaseY = marked.CentreY;
  } else {
    t.BaseX = bounds.CentreX;
    t.BaseY = bounds.CentreY;
  }
  CheckFinite(data, s, t, textKinds);
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

// What a block's entities are made from.
enum class BlockData { kPoints, kNamedPoints, kLines, kLabels };

// The drawn points, lines and labels of a table: all in memory already.
class TableSource {
 public:
  explicit TableSource(const DrawingPlan& plan)
      : points_(plan.Data->Table.Points.data()),
        rows_(plan.MarkedRows),
        lines_(plan.Data->Sima.SimaLines),
        labels_(plan.Data->Sima.SimaTexts) {}

  size_t Points() const { return rows_.size(); }
  size_t Lines() const { return lines_.size(); }
  size_t Labels() const { return labels_.size(); }
  void Load(BlockData, size_t, size_t) {}
  const SurveyPoint& Point(size_t k) const { return points_[rows_[k]]; }
  int64_t MarkValue(size_t k) const { return ParseInt(Point(k).Mark).value_or(0); }
  std::string_view Name(size_t k) const { return Point(k).Name; }
  const SimaLine& Line(size_t k) const { return lines_[k]; }
  StreamedLabel Label(size_t k) const {
    const SimaText& l = labels_[k];
    return StreamedLabel{l.X, l.Y, l.TextKind, l.Text};
  }

 private:
  const SurveyPoint* points_;
  const std::vector<int32_t>& rows_;
  const std::vector<SimaLine>& lines_;
  const std::vector<SimaText>& labels_;
};

// The drawn points, lines and labels gathered in temporary files: Load reads the range
// the next entities are made from, the ranges of a block coming in order.
class SpilledSource {
 public:
  explicit SpilledSource(const StreamedDrawingData& data) : data_(data) {}

  size_t Points() const { return static_cast<size_t>(data_.PointCount()); }
  size_t Lines() const { return data_.LineCount(); }
  size_t Labels() const { return data_.LabelCount(); }
  void Load(BlockData which, size_t first, size_t n) {
    first_ = first;
    switch (which) {
      case BlockData::kPoints:
      case BlockData::kNamedPoints:
        if (first == 0) pointReader_.emplace(data_);
        points_.resize(n);
        if (pointReader_->Read(points_.data(), n) != n) Short();
        if (which == BlockData::kNamedPoints) LoadNames(first, n);
        return;
      case BlockData::kLines:
        if (first == 0) lineReader_.emplace(data_);
        lines_.resize(n);
        for (SimaLine& line : lines_) {
          if (!lineReader_->Next(line)) Short();
        }
        return;
      case BlockData::kLabels:
        LoadLabels(first, n);
        return;
    }
  }
  const StreamedPoint& Point(size_t k) const { return points_[k - first_]; }
  int64_t MarkValue(size_t k) const { return Point(k).MarkValue; }
  std::string_view Name(size_t k) const { return names_[k - first_]; }
  const SimaLine& Line(size_t k) const { return lines_[k - first_]; }
  const StreamedLabel& Label(size_t k) const { return labels_[k - first_]; }

 private:
  [[noreturn]] static void Short() {
    throw Error("a temporary file of the drawing ended before its last record");
  }

  // Texts are gathered first and viewed once they no longer move.
  void LoadNames(size_t first, size_t n) {
    if (first == 0) nameReader_.emplace(data_);
    names_.resize(n);
    texts_.clear();
    for (std::string_view& name : names_) {
      if (!nameReader_->Next(name)) Short();
      texts_.append(name);
    }
    size_t at = 0;
    const std::string_view texts(texts_);
    for (std::string_view& name : names_) {
      name = texts.substr(at, name.size());
      at += name.size();
    }
  }

  void LoadLabels(size_t first, size_t n) {
    if (first == 0) labelReader_.emplace(data_);
    labels_.resize(n);
    texts_.clear();
    for (StreamedLabel& label : labels_) {
      if (!labelReader_->Next(label)) Short();
      texts_.append(label.Text);
    }
    size_t at = 0;
    const std::string_view texts(texts_);
    for (StreamedLabel& label : labels_) {
      label.Text = texts.substr(at, label.Text.size());
      at += label.Text.size();
    }
  }

  const StreamedDrawingData& data_;
  std::optional<StreamedDrawingData::Points> pointReader_;
  std::optional<StreamedDrawingData::Names> nameReader_;
  std::optional<StreamedDrawingData::Lines> lineReader_;
  std::optional<StreamedDrawingData::Labels> labelReader_;
  size_t first_ = 0;
  std::vector<StreamedPoint> points_;
  std::vector<std::string_view> names_;
  std::vector<SimaLine> lines_;
  std::vector<StreamedLabel> labels_;
  std::string texts_;
};

// Calls visit(type, class, n, make, data) for each block of entities in drawing order,
// where make(k, e) fills e with entity k of the block (0 <= k < n) from the layout and
// the source's item k of data: blocks can be built whole, or range by range (once the
// source has loaded the range) and in parallel.
template <class Source, class Visit>
void ForEachBlock(const DrawingLayout& plan, const Source& source, const Visit& visit) {
  const OutputSettings& s = plan.Settings;
  const DrawingTransform& t = plan.Transform;
  const size_t m = source.Points();  // drawn points
  const uint16_t group = static_cast<uint16_t>(s.WrtBAse.Group);
  constexpr BlockData kPoints = BlockData::kPoints;

  if (s.Point.OutFlg) {
    visit(
        std::type_identity<TDataTen>{}, EntityClass::kTen, m,
        [&](size_t k, TDataTen& e) {
          const auto& p = source.Point(k);
          SetAttributes(e, 1, s.Point.LColor, s.Point.Lay, group, 2);
          t.Apply(p.X, p.Y, e.X, e.Y);
          e.IsTemporary = 0;
          e.Scale = 1.0;
          ApplyCodeRule(source.MarkValue(k), s, e);
        },
        kPoints);
  }
  if (s.Point.EnkoFlg) {
    const double radius = (s.Point.EnkoR / 2) * t.K / t.Scale;
    visit(
        std::type_identity<TDataEnko>{}, EntityClass::kEnko, m,
        [&](size_t k, TDataEnko& e) {
          const auto& p = source.Point(k);
          SetAttributes(e, 1, s.Point.LColor, s.Point.Lay, group, 2);
          t.Apply(p.X, p.Y, e.CenterX, e.CenterY);
          e.Radius = radius;
          e.StartAngle = 0.0;
          e.ArcAngle = 6.283185307179586;
          e.TiltAngle = 0.0;
          e.Flatness = 1.0;
          e.FullCircle = 1;
        },
        kPoints);
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
  const auto textBlock = [&](const OutputSettings::TextSection& ts, BlockData data, auto textOf) {
    if (!ts.OutFlg) return;
    visit(
        std::type_identity<TDataMoji>{}, EntityClass::kMoji, m,
        [&](size_t k, TDataMoji& e) {
          const auto& p = source.Point(k);
          makeText(e, textOf(k, p), ts, p.X, p.Y, static_cast<uint16_t>(ts.MojiCl), ts.Lay);
        },
        data);
  };
  textBlock(s.PointStr, BlockData::kNamedPoints,
            [&](size_t k, const auto&) { return std::string(source.Name(k)); });
  textBlock(s.XYcoord, kPoints,
            [](size_t, const auto& p) { return Fixed8(p.X) + " ," + Fixed8(p.Y); });
  textBlock(s.Zcoord, kPoints, [](size_t, const auto& p) { return Fixed8(p.Z); });

  visit(
      std::type_identity<TDataSen>{}, EntityClass::kSen, source.Lines(),
      [&](size_t k, TDataSen& e) {
        const SimaLine& l = source.Line(k);
        SetAttributes(e, static_cast<uint8_t>(l.PenStyle & 0xFF), l.PenColor, 4, group, 0);
        t.Apply(l.StartX, l.StartY, e.StartX, e.StartY);
        t.Apply(l.EndX, l.EndY, e.EndX, e.EndY);
      },
      BlockData::kLines);
  visit(
      std::type_identity<TDataMoji>{}, EntityClass::kMoji, source.Labels(),
      [&](size_t k, TDataMoji& e) {
        const auto& label = source.Label(k);
        const OutputSettings::TextSection ts{5, label.TextKind, 2, 1, true};
        makeText(e, std::string(label.Text), ts, label.X, label.Y, 2, 5);
      },
      BlockData::kLabels);
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
// Fewer entities than this a core are made and written by one.
constexpr size_t kLeastPerPart = kEntitiesPerRange / 4;

template <class Source>
bool WriteEntities(const DrawingLayout& layout, Source& source, uint32_t count, OutStream& stream,
                   uint32_t version, ProgressMonitor* progress) {
  try {
    ArchiveObjectWriter writer(stream, version);
    // Each core makes its share of a range: the first share is written to the stream as
    // it is made, the others into bytes of their own that follow it in order.
    const size_t cores = std::min<size_t>(Cores(), 8);
    std::vector<MemoryOutStream> shares(cores);
    const double total = std::max<double>(count, 1.0);
    uint64_t done = 0;
    ReportProgress(progress, 0.0);
    ForEachBlock(
        layout, source, [&](auto type, EntityClass c, size_t n, const auto& make, BlockData data) {
          using E = typename decltype(type)::type;
          for (size_t first = 0; first < n; first += kEntitiesPerRange) {
            const size_t size = std::min(kEntitiesPerRange, n - first);
            source.Load(data, first, size);
            const size_t parts = std::clamp<size_t>(size / kLeastPerPart, 1, cores);
            size_t firstShare = 0;
            const ArchiveObjectWriter before = writer;  // the first share moves writer on
            InShares(size, parts, [&](size_t part, size_t begin, size_t end) {
              shares[part].Clear();
              ArchiveObjectWriter share = part == 0 ? before : before.After(shares[part], c, begin);
              E e;
              for (size_t k = begin; k < end; ++k) {
                make(first + k, e);
                share.Object(c, e);
              }
              if (part == 0) {
                writer = share;
                firstShare = end;
              }
            });
            for (size_t part = 1; part < parts; ++part) {
              const std::string_view bytes = shares[part].Bytes();
              stream.Write(bytes.data(), bytes.size());
            }
            writer.Skip(c, size - firstShare);
            done += size;
            ReportProgress(progress, static_cast<double>(done) / total);
          }
        });
    // No block definitions: the empty list closes the drawing.
    stream.WriteValue(static_cast<uint16_t>(0));
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception& e) {
    stream.SetLastError(e);
    return false;
  }
  return true;
}

}  // namespace

void ConvertPointsToDrawing(const CoordinateData& data, const DataBounds& bounds,
                            const OutputSettings& s, const std::array<JwwTextKind, 10>& textKinds,
                            int baseRow, JwwDocument& doc) {
  const DrawingPlan plan = PlanDrawing(data, bounds, s, textKinds, baseRow);
  Clear(doc);
  Init(doc);
  doc.EntityOrder.reserve(plan.EntityCount());
  const TableSource source(plan);
  ForEachBlock(plan, source, [&doc](auto type, EntityClass c, size_t n, const auto& make, auto) {
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
  TableSource source(plan);
  return WriteEntities(plan, source, plan.EntityCount(), stream, version, progress);
}

uint32_t StreamedDrawingPlan::EntityCount() const {
  const size_t perPoint = (Settings.Point.OutFlg ? 1 : 0) + (Settings.Point.EnkoFlg ? 1 : 0) +
                          (Settings.PointStr.OutFlg ? 1 : 0) + (Settings.XYcoord.OutFlg ? 1 : 0) +
                          (Settings.Zcoord.OutFlg ? 1 : 0);
  return static_cast<uint32_t>(static_cast<size_t>(Data->PointCount()) * perPoint +
                               Data->LineCount() + Data->LabelCount());
}

StreamedDrawingPlan PlanStreamedDrawing(const StreamedDrawingData& data, bool simaLoaded,
                                        const OutputSettings& s,
                                        const std::array<JwwTextKind, 10>& textKinds) {
  StreamedDrawingPlan plan;
  plan.Data = &data;
  LayOut(plan, s, textKinds, simaLoaded);
  DrawingTransform& t = plan.Transform;
  const auto& base = data.BasePoint();
  if (s.WrtBAse.OutBaseFlg && base) {
    t.BaseX = base->first;
    t.BaseY = base->second;
  } else {
    t.BaseX = data.Bounds().CentreX;
    t.BaseY = data.Bounds().CentreY;
  }
  // As for a table. The transform keeps the order of coordinates, so when the corners of
  // the bounds land at finite places every point does, and every line between points;
  // only then are the points and lines not read once more to find the one that fails.
  const FiniteCheck check(t);
  const DataBounds& b = data.Bounds();
  const bool inside = data.AllFinite() && check.PointIsFinite(b.MinX, b.MinY) &&
                      check.PointIsFinite(b.MaxX, b.MaxY);
  if (!inside) {
    StreamedDrawingData::Points points(data);
    std::vector<StreamedPoint> range(4096);
    size_t done = 0;
    while (const size_t n = points.Read(range.data(), range.size())) {
      for (size_t k = 0; k < n; ++k) {
        const StreamedPoint& p = range[k];
        if (check.PointIsFinite(p.X, p.Y)) continue;
        StreamedDrawingData::Names names(data);
        std::string_view name;
        for (size_t i = 0; i <= done + k; ++i)
          names.Next(name);
        check.PointError(p.Number, name, p.Row, p.X, p.Y);
      }
      done += n;
    }
    StreamedDrawingData::Lines lines(data);
    SimaLine line;
    while (lines.Next(line))
      check.Line(line);
  }
  StreamedDrawingData::Labels labels(data);
  StreamedLabel label;
  while (labels.Next(label))
    check.Label(label.Text, label.X, label.Y);
  check.Sizes(s, textKinds);
  return plan;
}

bool WriteStreamedEntities(const StreamedDrawingPlan& plan, OutStream& stream, uint32_t version,
                           ProgressMonitor* progress) {
  SpilledSource source(*plan.Data);
  return WriteEntities(plan, source, plan.EntityCount(), stream, version, progress);
}

}  // namespace kestrova
