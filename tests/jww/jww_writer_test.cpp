#include <gtest/gtest.h>

#include <cstring>

#include "common/error.h"
#include "jww/archive.h"
#include "jww/jww_file.h"

namespace kestrova {
namespace {

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

template <class T>
T At(std::string_view bytes, size_t offset) {
  T v;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

JwwDocument DefaultDrawing() {
  JwwDocument doc;
  SetFixedHeaderValues(doc.Header);
  return doc;
}

TEST(JwwHeader, SizeOfEveryVersion) {
  const std::pair<uint32_t, size_t> sizes[] = {{420, 14473}, {351, 4340}, {300, 4340}, {230, 4140},
                                               {225, 4132},  {223, 4100}, {220, 4040}};
  for (auto [version, size] : sizes) {
    JwwDocument doc = DefaultDrawing();
    MemoryOutStream s;
    ASSERT_TRUE(WriteJwwHeader(s, doc.Header, version, 0, doc.EntityStreamPos));
    EXPECT_EQ(s.Bytes().size(), size) << version;
    EXPECT_EQ(doc.EntityStreamPos, size);
    EXPECT_EQ(s.Bytes().substr(0, 8), "JwwData.");
    EXPECT_EQ(At<uint32_t>(s.Bytes(), 8), version);
    EXPECT_EQ(Hex(s.Bytes().substr(12, 2)), "01 5F");  // the memo "_"
  }
}

TEST(JwwHeader, FixedValuesAtTheirPlaces) {
  JwwDocument doc = DefaultDrawing();
  doc.Header.PaperSize = 3;
  doc.Header.WriteLayerGroup = 8;
  doc.Header.LayerGroups[8].GroupScale = 100.0;
  MemoryOutStream s;
  ASSERT_TRUE(WriteJwwHeader(s, doc.Header, 420, 0x8000, doc.EntityStreamPos));
  const std::string b(s.Bytes());
  EXPECT_EQ(At<uint32_t>(b, 14), 3u);
  EXPECT_EQ(At<uint32_t>(b, 18), 8u);
  for (int g = 0; g < 16; ++g) {
    const size_t block = 22 + static_cast<size_t>(g) * 148;
    EXPECT_EQ(At<uint32_t>(b, block), 2u);
    EXPECT_EQ(At<double>(b, block + 8), g == 8 ? 100.0 : 500.0) << g;
    EXPECT_EQ(At<uint32_t>(b, block + 20), 2u);  // layer 0 state
  }
  // reference point after reserved words, origin, scale, flags, grid
  EXPECT_EQ(At<double>(b, 2530), -210.0);
  EXPECT_EQ(At<double>(b, 2538), -148.5);
  // The count of 0x8000 entities takes the long form.
  EXPECT_EQ(Hex(b.substr(b.size() - 6)), "FF FF 00 80 00 00");

  // Read back and compare with the values of the tables as Jw_cad documents them.
  InStream in(b);
  JwwHeader h;
  EXPECT_EQ(ReadJwwHeader(in, h), 0x8000u);
  const uint32_t screen[10] = {0xFFFFFF, 0x00C0C0, 0x000000, 0x00C000, 0xC0C000,
                               0xC000C0, 0x0000FF, 0x008080, 0xFF0080, 0xC0C0C0};
  const uint32_t screenWidth[10] = {1, 1, 1, 1, 1, 1, 2, 3, 5, 1};
  const uint32_t printer[10] = {0xFFFFFF, 0x00FFFF, 0x000000, 0x00FF00, 0xFFFF00,
                                0xFF00FF, 0x0000FF, 0x008080, 0xFF0000, 0x808080};
  const double radius[10] = {0.2, 0.2, 0.3, 0.4, 0.5, 0.5, 0.5, 0.5, 0.5, 0.2};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(h.Pens[i].Color, screen[i]);
    EXPECT_EQ(h.Pens[i].Width, screenWidth[i]);
    EXPECT_EQ(h.PrinterPens[i].Color, printer[i]);
    EXPECT_EQ(h.PrinterPens[i].Width, 1u);
    EXPECT_EQ(h.PrinterPens[i].PointRadius, radius[i]);
  }
  const uint32_t patterns[8] = {0x99999999, 0xC3C3C3C3, 0xE7E7E7E7, 0xF99FF99F,
                                0xFFF99FFF, 0xF24FF24F, 0xFFF24FFF, 0x22222222};
  const uint32_t units[8] = {4, 8, 8, 4, 32, 16, 32, 4};
  const uint32_t pitches[8] = {1, 1, 1, 16, 1, 1, 1, 1};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(h.LineTypes[i].Pattern, patterns[i]);
    EXPECT_EQ(h.LineTypes[i].UnitDots, units[i]);
    EXPECT_EQ(h.LineTypes[i].Pitch, pitches[i]);
    EXPECT_EQ(h.LineTypes[i].PrinterPitch, 10u);
  }
  const uint32_t amplitudes[5] = {1, 1, 2, 2, 2};
  const uint32_t randomPitch[5] = {3, 4, 5, 6, 7};
  const uint32_t randomPrinterPitch[5] = {5, 10, 15, 20, 25};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(h.RandomLines[i].Pattern, 0xCCB2B32Au);
    EXPECT_EQ(h.RandomLines[i].Amplitude, amplitudes[i]);
    EXPECT_EQ(h.RandomLines[i].Pitch, randomPitch[i]);
    EXPECT_EQ(h.RandomLines[i].PrinterAmplitude, 1u);
    EXPECT_EQ(h.RandomLines[i].PrinterPitch, randomPrinterPitch[i]);
  }
  const uint32_t doublePitch[4] = {2, 2, 2, 4};
  const uint32_t doublePrinter[4] = {20, 20, 20, 40};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(h.DoubleLineTypes[i].Pattern, 0xFFF99FFFu);
    EXPECT_EQ(h.DoubleLineTypes[i].UnitDots, 32u);
    EXPECT_EQ(h.DoubleLineTypes[i].Pitch, doublePitch[i]);
    EXPECT_EQ(h.DoubleLineTypes[i].PrinterPitch, doublePrinter[i]);
  }
  const double parallel[10] = {100, 200, 300, 400, 500, 6000, 7000, 8000, 9000, 10000};
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(h.ParallelDistances[i], parallel[i]);
  const uint32_t switches[11] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0};
  for (int i = 0; i < 11; ++i)
    EXPECT_EQ(h.Switches[i], switches[i]);
  EXPECT_EQ(h.Values31[2], 4500u);
  uint64_t bits;
  std::memcpy(&bits, &h.Values32[4], 8);
  EXPECT_EQ(bits, 0x4041A1D78568F141ull);
  EXPECT_EQ(h.Values32[0], 2000.0);
  EXPECT_EQ(h.ColorSettings[1], 0x00FF0000u);
  // SXF tables: a sample of every kind of entry.
  EXPECT_EQ(h.SxfPens[9].Color, 0x8000C0u);
  EXPECT_EQ(h.SxfPens[20].Color, 0xC0C0C0u);
  EXPECT_EQ(h.SxfPens[33].Color, 0u);
  EXPECT_EQ(h.SxfPens[156].Width, 18u);
  EXPECT_EQ(h.SxfPens[157].Width, 0u);
  EXPECT_EQ(h.SxfPrinterPens[1].ColorName, "black");
  EXPECT_EQ(h.SxfPrinterPens[16].ColorName, "darkgray");
  EXPECT_EQ(h.SxfPrinterPens[0].ColorName, "");
  EXPECT_EQ(h.SxfPrinterPens[156].PointRadius, 18.0);
  EXPECT_EQ(h.SxfLineTypes[11].Pattern, 0xFC7FF11Fu);
  EXPECT_EQ(h.SxfLineTypes[18].UnitDots, 16u);
  EXPECT_EQ(h.SxfLineTypes[23].UnitDots, 8u);
  EXPECT_EQ(h.SxfLineTypes[4].PrinterPitch, 15u);
  EXPECT_EQ(h.SxfLineTypes[16].PrinterPitch, 10u);
  EXPECT_EQ(h.SxfLineTypeDefs[15].Name, "double-dashed triplicate-dotted");
  EXPECT_EQ(h.SxfLineTypeDefs[15].SegmentCount, 10u);
  EXPECT_EQ(h.SxfLineTypeDefs[15].Segments[9], 1.5);
  EXPECT_EQ(h.SxfLineTypeDefs[9].Segments[2], 3.5);
  EXPECT_EQ(h.SxfLineTypeDefs[16].Name, "undefined");
  const double sizes[10] = {2, 2.5, 3, 4, 5, 6, 7, 8, 9, 10};
  const double spacings[10] = {0, 0, 0.5, 0.5, 0.5, 1, 1, 1, 1, 1};
  const uint32_t colors[10] = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(h.TextKinds[i].Width, sizes[i]);
    EXPECT_EQ(h.TextKinds[i].Height, sizes[i]);
    EXPECT_EQ(h.TextKinds[i].Spacing, spacings[i]);
    EXPECT_EQ(h.TextKinds[i].Color, colors[i]);
  }
  EXPECT_EQ(h.DefaultTextKind, 3u);
  EXPECT_EQ(h.TextValue2, 0.5);
}

TEST(JwwArchive, WorkedExampleOfTwoLinesAndAPoint) {
  JwwDocument doc = DefaultDrawing();
  Add(doc, TDataSen{});
  Add(doc, TDataSen{});
  Add(doc, TDataTen{});
  MemoryOutStream s;
  ASSERT_TRUE(WriteEntityList(doc, s, 420));
  const std::string b(s.Bytes());
  ASSERT_EQ(b.size(), 14u + 47 + 2 + 47 + 14 + 35 + 2);
  EXPECT_EQ(Hex(b.substr(0, 6)), "FF FF A4 01 08 00");
  EXPECT_EQ(b.substr(6, 8), "CDataSen");
  EXPECT_EQ(Hex(b.substr(61, 2)), "01 80");
  EXPECT_EQ(Hex(b.substr(110, 6)), "FF FF A4 01 08 00");
  EXPECT_EQ(b.substr(116, 8), "CDataTen");
  EXPECT_EQ(Hex(b.substr(b.size() - 2)), "00 00");
  // A further point refers to class 4.
  Add(doc, TDataTen{});
  MemoryOutStream s2;
  ASSERT_TRUE(WriteEntityList(doc, s2, 420));
  EXPECT_EQ(Hex(s2.Bytes().substr(159, 2)), "04 80");
}

TEST(JwwArchive, SchemaWordFollowsTheVersion) {
  const std::pair<uint32_t, const char*> schema[] = {{420, "A4 01"}, {351, "5F 01"}, {300, "2C 01"},
                                                     {230, "E6 00"}, {225, "E1 00"}, {223, "DF 00"},
                                                     {220, "DC 00"}};
  for (auto [version, word] : schema) {
    JwwDocument doc = DefaultDrawing();
    Add(doc, TDataSen{});
    MemoryOutStream s;
    ASSERT_TRUE(WriteEntityList(doc, s, version));
    EXPECT_EQ(Hex(s.Bytes().substr(2, 2)), word);
    // Attributes carry PenWidth from 351 on.
    EXPECT_EQ(s.Bytes().size(), 14u + (version >= 351 ? 47 : 45) + 2) << version;
  }
}

TEST(JwwArchive, StringLengthForms) {
  for (size_t n : {0u, 1u, 254u, 255u, 300u, 70000u}) {
    MemoryOutStream s;
    WriteArchiveString(s, std::string(n, 'x'));
    const std::string b(s.Bytes());
    if (n < 255) {
      EXPECT_EQ(static_cast<unsigned char>(b[0]), n);
      EXPECT_EQ(b.size(), n + 1);
    } else if (n < 0xFFFE) {
      EXPECT_EQ(Hex(b.substr(0, 1)), "FF");
      EXPECT_EQ(At<uint16_t>(b, 1), n);
      EXPECT_EQ(b.size(), n + 3);
    } else {
      EXPECT_EQ(Hex(b.substr(0, 3)), "FF FF FF");
      EXPECT_EQ(At<uint32_t>(b, 3), n);
    }
    InStream in(b);
    EXPECT_EQ(ReadArchiveString(in).size(), n);
  }
}

TEST(JwwArchive, CodedPointsByVersion) {
  TDataTen coded;
  coded.PenStyle = 100;
  coded.Code = 5;
  coded.RotationAngle = 1.5;
  for (uint32_t version : kJwwVersions) {
    MemoryOutStream s;
    WriteRecord(s, coded, version);
    const size_t attributes = version >= 351 ? 15 : 13;
    if (version >= 300) {
      EXPECT_EQ(s.Bytes().size(), attributes + 20 + 20) << version;
      EXPECT_EQ(static_cast<unsigned char>(s.Bytes()[4]), 100);
    } else {
      // No place for the code: a plain point, so that readers stay in step.
      EXPECT_EQ(s.Bytes().size(), attributes + 20) << version;
      EXPECT_EQ(static_cast<unsigned char>(s.Bytes()[4]), 1);
    }
  }
}

TEST(JwwArchive, FailingStreamReturnsFalseAndRestoresTheVersion) {
  JwwDocument doc = DefaultDrawing();
  doc.Header.Version = 230;
  for (int i = 0; i < 10; ++i)
    Add(doc, TDataSen{});
  MemoryOutStream s(100);
  EXPECT_FALSE(WriteEntityList(doc, s, 420));
  EXPECT_FALSE(s.LastError().empty());
  EXPECT_EQ(doc.Header.Version, 230u);
  MemoryOutStream ok;
  EXPECT_TRUE(WriteEntityList(doc, ok, 0));  // below 200: the header's own version
  EXPECT_EQ(Hex(ok.Bytes().substr(2, 2)), "E6 00");
  EXPECT_EQ(doc.Header.Version, 230u);
  MemoryOutStream small(1000);
  EXPECT_FALSE(WriteJwwHeader(small, doc.Header, 420, 0, doc.EntityStreamPos));
}

TEST(JwwArchive, LargeDrawingsUseTheLongReferenceForm) {
  JwwDocument doc = DefaultDrawing();
  for (int i = 0; i < 40000; ++i) {
    TDataSen l;
    l.StartX = i;
    Add(doc, l);
  }
  for (int i = 0; i < 30000; ++i) {
    TDataTen p;
    p.X = i;
    Add(doc, p);
  }
  doc.EntityListCount = static_cast<uint32_t>(doc.EntityOrder.size());
  MemoryOutStream s;
  ASSERT_TRUE(WriteJwwDrawing(doc, s, 420));
  // The point class is introduced as number 40002, beyond the short form.
  const std::string b(s.Bytes());
  // Objects after the 32768th refer to their class in the long form.
  const size_t firstPoint = 14473 + 4 + (14 + 47) + 32768 * (2 + 47) + 7231 * (6 + 47);
  EXPECT_EQ(b.substr(firstPoint + 6, 8), "CDataTen");
  const size_t secondPoint = firstPoint + 14 + 35;
  EXPECT_EQ(Hex(b.substr(secondPoint, 6)), "FF 7F 42 9C 00 80");
  // No reference is ever written as 0xFFFF.
  const JwwDocument back = ReadJwwDrawing(b);
  ASSERT_EQ(back.SenList.size(), 40000u);
  ASSERT_EQ(back.TenList.size(), 30000u);
  EXPECT_EQ(back.SenList[39999].StartX, 39999.0);
  EXPECT_EQ(back.TenList[29999].X, 29999.0);
}

}  // namespace
}  // namespace kestrova
