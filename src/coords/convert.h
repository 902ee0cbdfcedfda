#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "common/progress.h"

#include "coords/output_settings.h"
#include "coords/point_table.h"
#include "jww/document.h"
#include "jww/stream.h"

namespace kestrova {

// Maps stored survey coordinates to drawing millimetres: relative to the base point,
// metres (or millimetres) to paper millimetres at the scale, and X up under survey axes.
struct DrawingTransform {
  double BaseX = 0.0;
  double BaseY = 0.0;
  double K = 1000.0;  // 1000 for metres, 1 for millimetres
  double Scale = 500.0;
  bool Swap = true;  // survey axes: u from Y, v from X

  void Apply(double x, double y, double& u, double& v) const;
};

// Whether the drawing has survey axes (X up, Y to the right): unless the settings ask
// for mathematical axes and the last file read was not SIMA, which always has them.
bool DrawingHasSurveyAxes(const OutputSettings& settings, bool simaLoaded);

// The start and end point of a label at base position 1..9 of text kind `kind`.
struct TextPlacement {
  double StartX = 0.0, StartY = 0.0, EndX = 0.0, EndY = 0.0;
};
TextPlacement PlaceText(std::string_view text, int basePosition, const JwwTextKind& kind,
                        const DrawingTransform& t, double x, double y);

// What every entity of a conversion follows from besides its point.
struct DrawingLayout {
  OutputSettings Settings;
  std::array<JwwTextKind, 10> TextKinds{};
  DrawingTransform Transform;
};

// A conversion checked and laid out but not built: the drawing follows from it entity by
// entity, so a drawing of any size can be written without ever holding it. It refers to
// the coordinate data it was made from, which must outlive it and stay unchanged.
struct DrawingPlan : DrawingLayout {
  const CoordinateData* Data = nullptr;
  std::vector<int32_t> MarkedRows;  // the table rows drawn, in table order

  // The entities the drawing holds, known before the first one is made.
  uint32_t EntityCount() const;
};

// Checks the settings and positions as the conversion does (kestrova::Error when they
// give no drawing) and lays the conversion out.
// Throws an Error naming the setting when the drawing scale is not a positive number
// that keeps the drawing coordinates finite, or the circles are on and their diameter
// is not above 0.
void CheckDrawingSettings(const OutputSettings& settings);

// Whether a drawn point of this mark (read as an integer, 0 for none) carries a point
// code, which only drawings of version 300 and later hold.
bool TakesPointCode(int64_t markValue, const OutputSettings& settings);

DrawingPlan PlanDrawing(const CoordinateData& data, const DataBounds& bounds,
                        const OutputSettings& settings,
                        const std::array<JwwTextKind, 10>& textKinds, int baseRow);

// Writes the planned entities and the closing empty block list at version (the one in
// force, 200..420): the same bytes WriteEntityList writes for the converted document.
// They are made range by range, so memory stays bounded whatever the point count.
// Returns false on a stream error (stream.LastError() says why); throws Cancelled when
// progress asks to stop.
bool WritePlannedEntities(const DrawingPlan& plan, OutStream& stream, uint32_t version,
                          ProgressMonitor* progress = nullptr);

class StreamedDrawingData;

// The conversion of points gathered by a StreamedDrawingData (which must outlive it and
// stay unchanged), checked and laid out as PlanDrawing does, the base point being the
// row the data was told to keep. simaLoaded: the last file read was SIMA (survey axes
// are forced).
struct StreamedDrawingPlan : DrawingLayout {
  const StreamedDrawingData* Data = nullptr;
  uint32_t EntityCount() const;
};
StreamedDrawingPlan PlanStreamedDrawing(const StreamedDrawingData& data, bool simaLoaded,
                                        const OutputSettings& settings,
                                        const std::array<JwwTextKind, 10>& textKinds);
// Writes the planned entities as WritePlannedEntities does: the same bytes the same
// points in a table give, with nothing but a range of them in memory at a time.
bool WriteStreamedEntities(const StreamedDrawingPlan& plan, OutStream& stream, uint32_t version,
                           ProgressMonitor* progress = nullptr);

// Rebuilds doc from the marked points, their circles and labels, and the SIMA segments
// and labels. baseRow is the grid cursor's row, the base point with WrtBAse.OutBaseFlg;
// otherwise the base is the centre of the marked points (of bounds when none is marked).
// textKinds are the sizes of text kinds 1..10. A scale of 0 is refused with kestrova::Error,
// nothing changed.
void ConvertPointsToDrawing(const CoordinateData& data, const DataBounds& bounds,
                            const OutputSettings& settings,
                            const std::array<JwwTextKind, 10>& textKinds, int baseRow,
                            JwwDocument& doc);

}  // namespace kestrova
