#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

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

  // The reader finds the count where the writer put it.
  InStream in(b);
  JwwHeader h;
  EXPECT_EQ(ReadJwwHeader(in, h), 0x8000u);
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

// Objects written apart, each piece starting as if the objects before it were written,
// and joined in order, are one writer's bytes: the way the drawing is written on several
// cores. Cuts land before, at and after the 32768th object, and at a class's first one.
TEST(JwwArchive, ObjectsWrittenInPiecesJoinIntoOneWritersBytes) {
  struct Run {
    EntityClass c;
    size_t n;
  };
  // Lines past the short reference form, then points whose class comes after it, then
  // lines again.
  const Run runs[] = {{EntityClass::kSen, 40000}, {EntityClass::kTen, 3}, {EntityClass::kSen, 5}};
  const auto put = [](ArchiveObjectWriter& w, EntityClass c, size_t k) {
    if (c == EntityClass::kSen) {
      TDataSen l;
      l.StartX = static_cast<double>(k);
      w.Object(c, l);
    } else {
      TDataTen p;
      p.X = static_cast<double>(k);
      w.Object(c, p);
    }
  };
  MemoryOutStream whole;
  ArchiveObjectWriter one(whole, 420);
  for (const Run& run : runs) {
    for (size_t k = 0; k < run.n; ++k)
      put(one, run.c, k);
  }
  for (const size_t lineCut : {0, 1, 20000, 32767, 32768, 32769, 40000}) {
    for (const size_t pointCut : {0, 1, 3}) {
      SCOPED_TRACE(std::to_string(lineCut) + " " + std::to_string(pointCut));
      MemoryOutStream joined;
      ArchiveObjectWriter writer(joined, 420);
      for (const Run& run : runs) {
        const size_t cut = run.c == EntityClass::kTen ? pointCut : std::min(lineCut, run.n);
        // The first piece goes on in the writer, the rest apart from where it ends.
        MemoryOutStream rest;
        ArchiveObjectWriter apart = writer.After(rest, run.c, cut);
        for (size_t k = 0; k < cut; ++k)
          put(writer, run.c, k);
        for (size_t k = cut; k < run.n; ++k)
          put(apart, run.c, k);
        if (!rest.Bytes().empty()) joined.Write(rest.Bytes().data(), rest.Bytes().size());
        writer.Skip(run.c, run.n - cut);
      }
      ASSERT_TRUE(joined.Bytes() == whole.Bytes());
    }
  }
}

}  // namespace
}  // namespace kestrova
