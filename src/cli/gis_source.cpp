#include "cli/gis_source.h"

#include <optional>
#include <stdexcept>

namespace kestrova::cli {

void StreamedGisSource::EachPoint(const std::function<void(const SurveyPoint&)>& take) const {
  StreamedDrawingData::Points points(data_);
  StreamedDrawingData::Names names(data_);
  // Data gathered for a drawing (the DXF) has no marks and remarks, which it does not use.
  std::optional<StreamedDrawingData::Texts> texts;
  if (data_.HasTexts()) texts.emplace(data_);
  std::vector<StreamedPoint> range(4096);
  SurveyPoint p;
  p.Marked = 1;  // a load marks every row
  std::string_view name, mark, remarks;
  while (const size_t n = points.Read(range.data(), range.size())) {
    for (size_t k = 0; k < n; ++k) {
      if (!names.Next(name) || (texts && !texts->Next(mark, remarks)))
        throw std::logic_error("a gathered point lost its texts");
      p.Number = range[k].Number;
      p.X = range[k].X;
      p.Y = range[k].Y;
      p.Z = range[k].Z;
      p.Name = name;
      p.Mark = mark;
      p.Remarks = remarks;
      take(p);
    }
  }
}

void StreamedGisSource::EachBlock(
    const std::function<void(const SimaBlock&, const std::vector<const SurveyPoint*>&)>& take)
    const {
  if (!data_.HasShapes()) throw std::logic_error("the parcels were gathered for a drawing");
  StreamedDrawingData::Shapes shapes(data_);
  SimaBlock block;
  std::vector<std::optional<std::pair<double, double>>> at;
  std::vector<SurveyPoint> found;
  std::vector<const SurveyPoint*> points;
  while (shapes.Next(block, at)) {
    found.resize(at.size());
    points.assign(at.size(), nullptr);
    for (size_t i = 0; i < at.size(); ++i) {
      if (!at[i]) continue;
      found[i].Number = block.Records[i].Point.Number;
      found[i].X = at[i]->first;
      found[i].Y = at[i]->second;
      points[i] = &found[i];
    }
    take(block, points);
  }
}

void StreamedGisSource::EachLine(const std::function<void(const SimaLine&)>& take) const {
  StreamedDrawingData::Lines lines(data_);
  SimaLine line;
  while (lines.Next(line))
    take(line);
}

void StreamedGisSource::EachText(const std::function<void(const SimaText&)>& take) const {
  StreamedDrawingData::Labels labels(data_);
  StreamedLabel label;
  SimaText text;
  while (labels.Next(label)) {
    text.X = label.X;
    text.Y = label.Y;
    text.TextKind = label.TextKind;
    text.Text = label.Text;
    take(text);
  }
}

}  // namespace kestrova::cli
