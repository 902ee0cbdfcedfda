#pragma once

#include "coords/streamed_drawing.h"
#include "gis/gis_export.h"

namespace kestrova::cli {

// Points gathered in temporary files as what an export is made from: the same export the
// same files loaded into a table give. A DXF, the drawing, needs only what a drawing is
// gathered with; the other formats need the data gathered for an export.
class StreamedGisSource final : public GisSource {
 public:
  // simaLoaded: the last file read was SIMA.
  StreamedGisSource(const StreamedDrawingData& data, bool simaLoaded)
      : data_(data), simaLoaded_(simaLoaded) {}

  bool SimaLoaded() const override { return simaLoaded_; }
  size_t PointCount() const override { return static_cast<size_t>(data_.PointCount()); }
  void EachPoint(const std::function<void(const SurveyPoint&)>& take) const override;
  void EachBlock(
      const std::function<void(const SimaBlock&, const std::vector<const SurveyPoint*>&)>& take)
      const override;
  void EachLine(const std::function<void(const SimaLine&)>& take) const override;
  void EachText(const std::function<void(const SimaText&)>& take) const override;

 private:
  const StreamedDrawingData& data_;
  bool simaLoaded_;
};

}  // namespace kestrova::cli
