#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>

namespace kestrova {

// Jw_cad's drawing records. Field order is the record order of the file format.

// The attributes every entity starts with.
struct TJwData {
  uint32_t Group = 0;       // curve attribute number, 0 = none
  uint8_t PenStyle = 1;     // line type; 100 on a point marks a point with a code
  uint16_t PenColor = 1;    // pens 1..9, SXF colours 100..356
  uint16_t PenWidth = 1;    // in records from version 351 on
  uint16_t Layer = 0;       // 0..15 inside the layer group
  uint16_t LayerGroup = 0;  // 0..15
  uint16_t Flags = 0;
};

struct TDataSen : TJwData {  // line
  double StartX = 0.0, StartY = 0.0, EndX = 0.0, EndY = 0.0;
};

struct TDataEnko : TJwData {  // arc, circle, ellipse
  double CenterX = 0.0, CenterY = 0.0, Radius = 0.0, StartAngle = 0.0, ArcAngle = 0.0,
         TiltAngle = 0.0, Flatness = 1.0;
  uint32_t FullCircle = 0;
};

struct TDataTen : TJwData {  // point
  double X = 0.0, Y = 0.0;
  uint32_t IsTemporary = 0;
  uint32_t Code = 0;  // Code, RotationAngle and Scale only with PenStyle 100
  double RotationAngle = 0.0;
  double Scale = 1.0;
};

struct TDataMoji : TJwData {  // text
  double StartX = 0.0, StartY = 0.0, EndX = 0.0, EndY = 0.0;
  uint32_t TextKind = 0;
  double SizeX = 0.0, SizeY = 0.0, Spacing = 0.0, Angle = 0.0;  // Angle in degrees
  std::string FontName;                                         // code page 932
  std::string Text;
};

// A dimension: its attributes are those of its line.
struct TDataSunpou {
  TDataSen Line;
  TDataMoji Label;
  uint16_t SxfMode = 0;  // this and the rest from version 420 on
  TDataSen AuxLine1, AuxLine2;
  TDataTen Point1, Point2, AuxPoint1, AuxPoint2;  // never with a code part
};

struct TDataSolid : TJwData {  // filled quadrilateral
  double X1 = 0.0, Y1 = 0.0, X2 = 0.0, Y2 = 0.0, X3 = 0.0, Y3 = 0.0, X4 = 0.0, Y4 = 0.0;
  uint32_t Color = 0;  // RGB, in the record only with PenColor 10
};

struct TDataBlock : TJwData {  // block insertion
  double X = 0.0, Y = 0.0, ScaleX = 1.0, ScaleY = 1.0, Rotation = 0.0;
  uint32_t BlockNumber = 0;
};

struct TDataList : TJwData {  // block definition
  uint32_t Number = 0;
  uint32_t IsReferenced = 0;
  uint32_t Time = 0;
  std::string Name;
  uint32_t MemberCount = 0;  // member entities that follow the definition
};

enum class EntityClass : uint8_t { kSen, kEnko, kTen, kMoji, kSunpou, kSolid, kBlock, kList };
inline constexpr int kEntityClassCount = 8;

// "CDataSen" and so on.
const char* ArchiveClassName(EntityClass c);

// A member of a block definition; the alternative index is its EntityClass.
using BlockMember =
    std::variant<TDataSen, TDataEnko, TDataTen, TDataMoji, TDataSunpou, TDataSolid, TDataBlock>;

}  // namespace kestrova
