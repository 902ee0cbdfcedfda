#pragma once

// The archive primitives and the record layouts, written once for both directions: a
// record is described by one template over an Io that either writes or reads each
// value, so writer and reader cannot drift apart.

#include <cstdint>
#include <string>

#include "jww/archive.h"
#include "jww/entities.h"
#include "jww/stream.h"

namespace kestrova {

struct WriteIo {
  OutStream& s;
  void U8(uint8_t v) { s.WriteValue(v); }
  void U16(uint16_t v) { s.WriteValue(v); }
  void U32(uint32_t v) { s.WriteValue(v); }
  void F64(double v) { s.WriteValue(v); }
  void Str(const std::string& v) { WriteArchiveString(s, v); }
  void Count(uint32_t v) { WriteCount(s, v); }
};

struct ReadIo {
  InStream& s;
  void U8(uint8_t& v) { v = s.Read<uint8_t>(); }
  void U16(uint16_t& v) { v = s.Read<uint16_t>(); }
  void U32(uint32_t& v) { v = s.Read<uint32_t>(); }
  void F64(double& v) { v = s.Read<double>(); }
  void Str(std::string& v) { v = ReadArchiveString(s); }
  void Count(uint32_t& v) { v = ReadCount(s); }
};

template <class Io, class E>
void VisitAttributes(Io& io, E& e, uint32_t version) {
  io.U32(e.Group);
  io.U8(e.PenStyle);
  io.U16(e.PenColor);
  if (version >= 351) io.U16(e.PenWidth);
  io.U16(e.Layer);
  io.U16(e.LayerGroup);
  io.U16(e.Flags);
}

template <class Io, class E>
void VisitRecord(Io& io, E& e, uint32_t version) {
  using T = std::remove_const_t<E>;
  if constexpr (std::is_same_v<T, TDataSen>) {
    VisitAttributes(io, e, version);
    io.F64(e.StartX);
    io.F64(e.StartY);
    io.F64(e.EndX);
    io.F64(e.EndY);
  } else if constexpr (std::is_same_v<T, TDataEnko>) {
    VisitAttributes(io, e, version);
    io.F64(e.CenterX);
    io.F64(e.CenterY);
    io.F64(e.Radius);
    io.F64(e.StartAngle);
    io.F64(e.ArcAngle);
    io.F64(e.TiltAngle);
    io.F64(e.Flatness);
    io.U32(e.FullCircle);
  } else if constexpr (std::is_same_v<T, TDataTen>) {
    VisitAttributes(io, e, version);
    io.F64(e.X);
    io.F64(e.Y);
    io.U32(e.IsTemporary);
    // Readers of the format take the code part whenever the line type is 100; the
    // writer never writes 100 below version 300, where the part has no place.
    if (e.PenStyle == 100) {
      io.U32(e.Code);
      io.F64(e.RotationAngle);
      io.F64(e.Scale);
    }
  } else if constexpr (std::is_same_v<T, TDataMoji>) {
    VisitAttributes(io, e, version);
    io.F64(e.StartX);
    io.F64(e.StartY);
    io.F64(e.EndX);
    io.F64(e.EndY);
    io.U32(e.TextKind);
    io.F64(e.SizeX);
    io.F64(e.SizeY);
    io.F64(e.Spacing);
    io.F64(e.Angle);
    io.Str(e.FontName);
    io.Str(e.Text);
  } else if constexpr (std::is_same_v<T, TDataSunpou>) {
    VisitRecord(io, e.Line, version);
    VisitRecord(io, e.Label, version);
    if (version >= 420) {
      io.U16(e.SxfMode);
      VisitRecord(io, e.AuxLine1, version);
      VisitRecord(io, e.AuxLine2, version);
      for (auto* p : {&e.Point1, &e.Point2, &e.AuxPoint1, &e.AuxPoint2}) {
        VisitAttributes(io, *p, version);
        io.F64(p->X);
        io.F64(p->Y);
        io.U32(p->IsTemporary);
      }
    }
  } else if constexpr (std::is_same_v<T, TDataSolid>) {
    VisitAttributes(io, e, version);
    io.F64(e.X1);
    io.F64(e.Y1);
    io.F64(e.X2);
    io.F64(e.Y2);
    io.F64(e.X3);
    io.F64(e.Y3);
    io.F64(e.X4);
    io.F64(e.Y4);
    // Writer and reader share one condition for the RGB colour.
    if (e.PenColor == 10) io.U32(e.Color);
  } else if constexpr (std::is_same_v<T, TDataBlock>) {
    VisitAttributes(io, e, version);
    io.F64(e.X);
    io.F64(e.Y);
    io.F64(e.ScaleX);
    io.F64(e.ScaleY);
    io.F64(e.Rotation);
    io.U32(e.BlockNumber);
  } else if constexpr (std::is_same_v<T, TDataList>) {
    VisitAttributes(io, e, version);
    io.U32(e.Number);
    io.U32(e.IsReferenced);
    io.U32(e.Time);
    io.Str(e.Name);
    io.Count(e.MemberCount);
  }
}

}  // namespace kestrova
