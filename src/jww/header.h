#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

class OutStream;
class InStream;

// The Jww versions the program writes.
inline constexpr std::array<uint32_t, 7> kJwwVersions = {420, 351, 300, 230, 225, 223, 220};
bool IsWritableJwwVersion(uint32_t version);

struct JwwLayerGroup {
  uint32_t GroupState = 0;
  uint32_t GroupWriteLayer = 0;
  double GroupScale = 0.0;
  uint32_t GroupProtect = 0;  // from 212
  std::array<uint32_t, 16> LayerState{};
  std::array<uint32_t, 16> LayerProtect{};  // from 212
};

struct JwwScalePosition {
  double Scale = 0.0, X = 0.0, Y = 0.0;
  uint32_t Extra = 0;  // in the entries of item 21 from 300 on
};

struct JwwPen {
  uint32_t Color = 0;  // 0x00BBGGRR
  uint32_t Width = 0;
};

struct JwwPrinterPen {
  uint32_t Color = 0;
  uint32_t Width = 0;
  double PointRadius = 0.0;
};

struct JwwLineType {
  uint32_t Pattern = 0, UnitDots = 0, Pitch = 0, PrinterPitch = 0;
};

struct JwwRandomLine {
  uint32_t Pattern = 0, Amplitude = 0, Pitch = 0, PrinterAmplitude = 0, PrinterPitch = 0;
};

struct JwwSxfPrinterPen {
  std::string ColorName;
  uint32_t Color = 0;
  uint32_t Width = 0;
  double PointRadius = 0.0;
};

struct JwwSxfLineTypeDef {
  std::string Name;
  uint32_t SegmentCount = 0;
  std::array<double, 10> Segments{};
};

struct JwwTextKind {
  double Width = 0.0, Height = 0.0, Spacing = 0.0;
  uint32_t Color = 0;
};

// The drawing-wide header of a .jww file, in file order. Everything starts at zero;
// InitHeaderDefaults gives the fixed values and Jw_cad's settings fill the rest.
struct JwwHeader {
  uint32_t Version = 0;
  std::string Memo;
  uint32_t PaperSize = 0;
  uint32_t WriteLayerGroup = 0;
  std::array<JwwLayerGroup, 16> LayerGroups{};
  std::array<uint32_t, 21> Reserved{};  // from 212
  double OriginX = 0.0, OriginY = 0.0;  // from 100
  double Scale = 0.0;                   // from 202
  std::array<uint32_t, 2> Flags10{};    // from 202
  double GridMinimum = 0.0;             // registry Mesh
  double GridIntervalX = 0.0, GridIntervalY = 0.0;
  double ReferenceX = 0.0, ReferenceY = 0.0;
  std::array<std::array<std::string, 16>, 16> LayerNames;
  std::array<std::string, 16> LayerGroupNames;
  double ShadeLevel = 0.0, ShadeLatitude = 0.0;  // from 200, registry Hikage
  uint32_t ShadeHours = 0;
  double ShadeMSize = 0.0;
  double ShadeTenkor = 0.0, ShadeTLevel = 0.0;  // from 300
  uint32_t Flag18 = 0;                          // from 200
  JwwScalePosition ScaleA, ScaleB;
  std::array<JwwScalePosition, 10> ScaleEntries{};  // 4 before 300
  std::array<double, 10> ParallelDistances{};
  double ParallelEnd = 0.0;
  std::array<JwwPen, 10> Pens{};  // from 201
  std::array<JwwPrinterPen, 10> PrinterPens{};
  std::array<JwwLineType, 8> LineTypes{};        // line types 2..9
  std::array<JwwRandomLine, 5> RandomLines{};    // 11..15
  std::array<JwwLineType, 4> DoubleLineTypes{};  // 16..19
  std::array<uint32_t, 11> Switches{};           // from 217
  std::array<uint32_t, 2> Values30{};            // from 223
  std::array<uint32_t, 3> Values31{};
  std::array<double, 5> Values32{};
  std::array<double, 4> Values33{};         // from 225
  std::array<uint32_t, 2> ColorSettings{};  // from 230
  std::array<JwwPen, 257> SxfPens{};        // from 420
  std::array<JwwSxfPrinterPen, 257> SxfPrinterPens;
  std::array<JwwLineType, 33> SxfLineTypes{};
  std::array<JwwSxfLineTypeDef, 33> SxfLineTypeDefs;
  std::array<JwwTextKind, 10> TextKinds{};  // text kinds 1..10
  JwwTextKind DefaultText;
  uint32_t DefaultTextKind = 0;
  double TextValue1 = 0.0, TextValue2 = 0.0;
  uint32_t TextOffsetSwitch = 0;  // from 214
  std::array<double, 3> TextOffsetX{}, TextOffsetY{};
};

// Sets every field that has a fixed value, which is all but the version, the paper,
// the write group, and what Jw_cad's settings give (grid, shade, text offsets). Every
// group scale becomes 500; the caller then sets the write group's. The caller reads
// Jw_cad's settings first (ReadJwCadSettings).
void SetFixedHeaderValues(JwwHeader& header);

// Writes the signature, the header at version (the header's own version when version
// is below 200, 420 when that is 0) and the entity count from entityCount; records the
// position after the count in entityStreamPos. Returns false on a stream error (the
// stream's LastError says why); the header is not changed.
bool WriteJwwHeader(OutStream& stream, const JwwHeader& header, uint32_t version,
                    uint32_t entityCount, uint64_t& entityStreamPos);

// Reads signature, version and header; returns the entity count that follows.
// Throws ReadError on anything that is not a drawing this program understands.
uint32_t ReadJwwHeader(InStream& stream, JwwHeader& header);
// The bytes every drawing begins with.
inline constexpr std::string_view kJwwSignature = "JwwData.";

}  // namespace kestrova
