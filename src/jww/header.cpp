#include "jww/header.h"

#include <algorithm>
#include <cstring>

#include "jww/archive_io.h"

namespace kestrova {

bool IsWritableJwwVersion(uint32_t version) {
  return std::find(kJwwVersions.begin(), kJwwVersions.end(), version) != kJwwVersions.end();
}

namespace {

template <class Io, class L>
void VisitLineType(Io& io, L& t) {
  io.U32(t.Pattern);
  io.U32(t.UnitDots);
  io.U32(t.Pitch);
  io.U32(t.PrinterPitch);
}

// Items 3 to 44 of the file, each behind the version from which it is present.
template <class Io, class H>
void VisitHeader(Io& io, H& h, uint32_t v) {
  io.Str(h.Memo);
  io.U32(h.PaperSize);
  io.U32(h.WriteLayerGroup);
  for (auto& g : h.LayerGroups) {
    io.U32(g.GroupState);
    io.U32(g.GroupWriteLayer);
    io.F64(g.GroupScale);
    if (v >= 212) io.U32(g.GroupProtect);
    for (size_t l = 0; l < 16; ++l) {
      io.U32(g.LayerState[l]);
      if (v >= 212) io.U32(g.LayerProtect[l]);
    }
  }
  if (v >= 212) {
    for (auto& r : h.Reserved)
      io.U32(r);
  }
  if (v >= 100) {
    io.F64(h.OriginX);
    io.F64(h.OriginY);
  }
  if (v >= 202) {
    io.F64(h.Scale);
    io.U32(h.Flags10[0]);
    io.U32(h.Flags10[1]);
  }
  if (v >= 100) {
    io.F64(h.GridMinimum);
    io.F64(h.GridIntervalX);
    io.F64(h.GridIntervalY);
    io.F64(h.ReferenceX);
    io.F64(h.ReferenceY);
  }
  for (auto& group : h.LayerNames) {
    for (auto& name : group)
      io.Str(name);
  }
  for (auto& name : h.LayerGroupNames)
    io.Str(name);
  if (v >= 200) {
    io.F64(h.ShadeLevel);
    io.F64(h.ShadeLatitude);
    io.U32(h.ShadeHours);
    io.F64(h.ShadeMSize);
  }
  if (v >= 300) {
    io.F64(h.ShadeTenkor);
    io.F64(h.ShadeTLevel);
  }
  if (v >= 200) {
    io.U32(h.Flag18);
    for (auto* sp : {&h.ScaleA, &h.ScaleB}) {
      io.F64(sp->Scale);
      io.F64(sp->X);
      io.F64(sp->Y);
    }
    const size_t entries = v >= 300 ? 10 : 4;
    for (size_t i = 0; i < entries; ++i) {
      auto& e = h.ScaleEntries[i];
      io.F64(e.Scale);
      io.F64(e.X);
      io.F64(e.Y);
      if (v >= 300) io.U32(e.Extra);
    }
    for (auto& d : h.ParallelDistances)
      io.F64(d);
    io.F64(h.ParallelEnd);
  }
  if (v >= 201) {
    for (auto& p : h.Pens) {
      io.U32(p.Color);
      io.U32(p.Width);
    }
    for (auto& p : h.PrinterPens) {
      io.U32(p.Color);
      io.U32(p.Width);
      io.F64(p.PointRadius);
    }
    for (auto& t : h.LineTypes)
      VisitLineType(io, t);
    for (auto& r : h.RandomLines) {
      io.U32(r.Pattern);
      io.U32(r.Amplitude);
      io.U32(r.Pitch);
      io.U32(r.PrinterAmplitude);
      io.U32(r.PrinterPitch);
    }
    for (auto& t : h.DoubleLineTypes)
      VisitLineType(io, t);
  }
  if (v >= 217) {
    for (auto& s : h.Switches)
      io.U32(s);
  }
  if (v >= 223) {
    for (auto& x : h.Values30)
      io.U32(x);
    for (auto& x : h.Values31)
      io.U32(x);
    for (auto& x : h.Values32)
      io.F64(x);
  }
  if (v >= 225) {
    for (auto& x : h.Values33)
      io.F64(x);
  }
  if (v >= 230) {
    for (auto& x : h.ColorSettings)
      io.U32(x);
  }
  if (v >= 420) {
    for (auto& p : h.SxfPens) {
      io.U32(p.Color);
      io.U32(p.Width);
    }
    for (auto& p : h.SxfPrinterPens) {
      io.Str(p.ColorName);
      io.U32(p.Color);
      io.U32(p.Width);
      io.F64(p.PointRadius);
    }
    for (auto& t : h.SxfLineTypes)
      VisitLineType(io, t);
    for (auto& d : h.SxfLineTypeDefs) {
      io.Str(d.Name);
      io.U32(d.SegmentCount);
      for (auto& x : d.Segments)
        io.F64(x);
    }
  }
  for (auto& k : h.TextKinds) {
    io.F64(k.Width);
    io.F64(k.Height);
    io.F64(k.Spacing);
    io.U32(k.Color);
  }
  io.F64(h.DefaultText.Width);
  io.F64(h.DefaultText.Height);
  io.F64(h.DefaultText.Spacing);
  io.U32(h.DefaultText.Color);
  io.U32(h.DefaultTextKind);
  io.F64(h.TextValue1);
  io.F64(h.TextValue2);
  if (v >= 214) {
    io.U32(h.TextOffsetSwitch);
    for (auto& x : h.TextOffsetX)
      io.F64(x);
    for (auto& x : h.TextOffsetY)
      io.F64(x);
  }
}

}  // namespace

void SetFixedHeaderValues(JwwHeader& h) {
  if (h.Memo.empty()) h.Memo = "_";
  for (JwwLayerGroup& g : h.LayerGroups) {
    g.GroupState = 2;
    g.GroupWriteLayer = 2;
    g.GroupScale = 500.0;
    g.GroupProtect = 0;
    g.LayerState.fill(2);
    g.LayerProtect.fill(0);
  }
  h.Reserved.fill(0);
  h.OriginX = h.OriginY = 0.0;
  h.Scale = 1.0;
  h.Flags10 = {0, 0};
  h.ReferenceX = -210.0;
  h.ReferenceY = -148.5;
  for (auto& group : h.LayerNames)
    group.fill(std::string());
  h.LayerGroupNames.fill(std::string());
  h.Flag18 = 0;
  h.ScaleA = {1.0, 0.0, 0.0, 0};
  h.ScaleB = {1.0, 0.0, 0.0, 0};
  h.ScaleEntries.fill({1.0, 0.0, 0.0, 0});
  h.ParallelDistances = {100, 200, 300, 400, 500, 6000, 7000, 8000, 9000, 10000};
  h.ParallelEnd = 0.0;

  constexpr uint32_t kScreen[10] = {0xFFFFFF, 0x00C0C0, 0x000000, 0x00C000, 0xC0C000,
                                    0xC000C0, 0x0000FF, 0x008080, 0xFF0080, 0xC0C0C0};
  constexpr uint32_t kScreenWidth[10] = {1, 1, 1, 1, 1, 1, 2, 3, 5, 1};
  constexpr uint32_t kPrinter[10] = {0xFFFFFF, 0x00FFFF, 0x000000, 0x00FF00, 0xFFFF00,
                                     0xFF00FF, 0x0000FF, 0x008080, 0xFF0000, 0x808080};
  constexpr double kRadius[10] = {0.2, 0.2, 0.3, 0.4, 0.5, 0.5, 0.5, 0.5, 0.5, 0.2};
  for (size_t i = 0; i < 10; ++i) {
    h.Pens[i] = {kScreen[i], kScreenWidth[i]};
    h.PrinterPens[i] = {kPrinter[i], 1, kRadius[i]};
  }
  constexpr uint32_t kPattern[8] = {0x99999999, 0xC3C3C3C3, 0xE7E7E7E7, 0xF99FF99F,
                                    0xFFF99FFF, 0xF24FF24F, 0xFFF24FFF, 0x22222222};
  constexpr uint32_t kUnit[8] = {4, 8, 8, 4, 32, 16, 32, 4};
  constexpr uint32_t kPitch[8] = {1, 1, 1, 16, 1, 1, 1, 1};
  for (size_t i = 0; i < 8; ++i)
    h.LineTypes[i] = {kPattern[i], kUnit[i], kPitch[i], 10};
  constexpr uint32_t kAmplitude[5] = {1, 1, 2, 2, 2};
  for (uint32_t i = 0; i < 5; ++i) {
    h.RandomLines[i] = {0xCCB2B32A, kAmplitude[i], 3 + i, 1, 5 * (i + 1)};
  }
  constexpr uint32_t kDoublePitch[4] = {2, 2, 2, 4};
  constexpr uint32_t kDoublePrinter[4] = {20, 20, 20, 40};
  for (size_t i = 0; i < 4; ++i) {
    h.DoubleLineTypes[i] = {0xFFF99FFF, 32, kDoublePitch[i], kDoublePrinter[i]};
  }
  h.Switches = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0};
  h.Values30 = {0, 0};
  h.Values31 = {4500, 4500, 4500};
  uint64_t bits = 0x4041A1D78568F141ull;
  double lastValue;
  std::memcpy(&lastValue, &bits, sizeof lastValue);
  h.Values32 = {2000.0, 1000000.0, 1000000.0, 1000000.0, lastValue};
  h.Values33 = {0.0, 0.0, 0.0, 0.0};
  h.ColorSettings = {10, 0x00FF0000};

  constexpr uint32_t kSxfColor[17] = {0x000000, 0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF,
                                      0xFF00FF, 0xFFFF00, 0xFFFFFF, 0x8000C0, 0x4080C0, 0x0080FF,
                                      0x80C080, 0xFF8000, 0xFF4080, 0xC0C0C0, 0x808080};
  constexpr const char* kSxfColorName[17] = {
      "",           "black",     "red",      "green",     "blue",    "yellow",
      "magenta",    "cyan",      "white",    "deeppink",  "brown",   "orange",
      "lightgreen", "lightblue", "lavender", "lightgray", "darkgray"};
  for (size_t k = 0; k < 257; ++k) {
    const uint32_t color = k <= 16 ? kSxfColor[k] : (k <= 32 ? 0xC0C0C0 : 0);
    const uint32_t width = k <= 156 ? 18 : 0;
    h.SxfPens[k] = {color, width};
    h.SxfPrinterPens[k] = {k <= 16 ? kSxfColorName[k] : "", color, width, k <= 156 ? 18.0 : 0.0};
  }
  constexpr uint32_t kSxfPattern[17] = {0x00000000, 0xFFFFFFFF, 0xFE3FFE3F, 0xF00FF00F, 0xFFFBBFFF,
                                        0xFFEEEFFF, 0xFFBBBBFF, 0x10101010, 0xFFFDBFFF, 0xFFF6DFFF,
                                        0xFFE083FF, 0xFC7FF11F, 0xFF8421FF, 0xF8FF888F, 0xFE10843F,
                                        0xF9FF249F, 0xFFFFFFFF};
  constexpr uint32_t kSxfPrinterPitch[16] = {0,  10, 15, 24, 15, 17, 19, 7,
                                             19, 24, 9,  17, 11, 19, 13, 20};
  constexpr const char* kSxfLineName[17] = {"",
                                            "continuous",
                                            "dashed",
                                            "dashed spaced",
                                            "long dashed dotted",
                                            "long dashed double-dotted",
                                            "long dashed triplicate-dotted",
                                            "dotted",
                                            "chain",
                                            "chain double dash",
                                            "dashed dotted",
                                            "double-dashed dotted",
                                            "dashed double-dotted",
                                            "double-dashed double-dotted",
                                            "dashed triplicate-dotted",
                                            "double-dashed triplicate-dotted",
                                            "undefined"};
  constexpr uint32_t kSegmentCount[16] = {0, 0, 2, 2, 4, 6, 8, 2, 4, 6, 4, 6, 6, 8, 8, 10};
  const double kLengths[16][10] = {
      {},
      {},
      {6, 1.5},
      {6, 6},
      {12, 1.5, 0.25, 1.5},
      {12, 1.5, 0.25, 1.5, 0.25, 1.5},
      {12, 1.5, 0.25, 1.5, 0.25, 1.5, 0.25, 1.5},
      {0, 1.5},
      {12, 1.5, 3.5, 1.5},
      {12, 1.5, 3.5, 1.5, 0.25, 1.5},
      {6, 1.5, 0.25, 1.5},
      {6, 1.5, 6, 1.5, 0.25, 1.5},
      {6, 1.5, 0.25, 1.5, 0.25, 1.5},
      {6, 1.5, 6, 1.5, 0.25, 1.5, 0.25, 1.5},
      {6, 1.5, 0.25, 1.5, 0.25, 1.5, 0.25, 1.5},
      {6, 1.5, 6, 1.5, 0.25, 1.5, 0.25, 1.5, 0.25, 1.5},
  };
  for (size_t k = 0; k < 33; ++k) {
    JwwLineType& t = h.SxfLineTypes[k];
    t.Pattern = k <= 16 ? kSxfPattern[k] : 0;
    t.UnitDots =
        k == 0 ? 0 : (k == 2 || k == 3 || k == 18 || k == 19 ? 16 : (k == 7 || k == 23 ? 8 : 32));
    t.Pitch = k == 0 ? 0 : 1;
    t.PrinterPitch = k <= 15 ? kSxfPrinterPitch[k] : 10;
    JwwSxfLineTypeDef& d = h.SxfLineTypeDefs[k];
    d.Name = k <= 16 ? kSxfLineName[k] : "";
    d.SegmentCount = k <= 15 ? kSegmentCount[k] : 0;
    d.Segments.fill(0.0);
    if (k <= 15) std::copy(std::begin(kLengths[k]), std::end(kLengths[k]), d.Segments.begin());
  }

  constexpr double kSize[10] = {2, 2.5, 3, 4, 5, 6, 7, 8, 9, 10};
  constexpr double kSpacing[10] = {0, 0, 0.5, 0.5, 0.5, 1, 1, 1, 1, 1};
  constexpr uint32_t kTextColor[10] = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
  for (size_t i = 0; i < 10; ++i)
    h.TextKinds[i] = {kSize[i], kSize[i], kSpacing[i], kTextColor[i]};
  h.DefaultText = {3.0, 3.0, 0.5, 2};
  h.DefaultTextKind = 3;
  h.TextValue1 = 0.5;
  h.TextValue2 = 0.5;
  h.TextOffsetSwitch = 0;
}

bool WriteJwwHeader(OutStream& stream, const JwwHeader& header, uint32_t version,
                    uint32_t entityCount, uint64_t& entityStreamPos) {
  uint32_t v = version >= 200 ? version : header.Version;
  if (v == 0) v = 420;
  try {
    stream.Seek(0);
    stream.Write(kJwwSignature.data(), kJwwSignature.size());
    stream.WriteValue(v);
    WriteIo io{stream};
    VisitHeader(io, header, v);
    WriteCount(stream, entityCount);
    entityStreamPos = stream.Position();
  } catch (const std::exception& e) {
    stream.SetLastError(e);
    return false;
  }
  return true;
}

uint32_t ReadJwwHeader(InStream& stream, JwwHeader& header) {
  if (stream.Remaining() < 12 || stream.ReadBytes(kJwwSignature.size()) != kJwwSignature) {
    stream.FailAt(0, "not a Jw_cad drawing: the file does not begin with \"JwwData.\"");
  }
  header.Version = stream.Read<uint32_t>();
  if (header.Version < 200 || header.Version > 420) {
    stream.FailAt(8, "drawing format version " + std::to_string(header.Version) +
                         " is not one this program reads (200 to 420)");
  }
  ReadIo io{stream};
  VisitHeader(io, header, header.Version);
  return ReadCount(stream);
}

}  // namespace kestrova
