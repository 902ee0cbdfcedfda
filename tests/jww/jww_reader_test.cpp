#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "common/error.h"
#include "jww/archive.h"
#include "jww/jww_file.h"

namespace kestrova {
namespace {

// A drawing with every class, block definitions included, and awkward texts.
JwwDocument EveryClass() {
  JwwDocument doc;
  SetFixedHeaderValues(doc.Header);
  doc.Header.GridMinimum = 15;
  doc.Header.ShadeTenkor = 50;
  doc.Header.TextOffsetX = {-1, 0, 1};
  TDataSen sen;
  sen.PenColor = 2;
  sen.PenWidth = 3;
  sen.Layer = 4;
  sen.LayerGroup = 8;
  sen.Flags = 2;
  sen.Group = 7;
  sen.StartX = -1.5;
  sen.EndY = 1e10;
  Add(doc, sen);
  TDataEnko enko;
  enko.Radius = 2;
  enko.ArcAngle = 6.283185307179586;
  enko.FullCircle = 1;
  Add(doc, enko);
  TDataTen plain;
  plain.X = 3;
  Add(doc, plain);
  TDataTen coded;
  coded.PenStyle = 100;
  coded.Code = 5;
  coded.RotationAngle = 3.141592653589793;
  coded.Scale = 2;
  Add(doc, coded);
  TDataMoji moji;
  moji.TextKind = 3;
  moji.SizeX = 3;
  moji.FontName = "\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E";  // ＭＳ ゴシック
  moji.Text = std::string(300, 'A');
  Add(doc, moji);
  TDataSunpou dim;
  dim.Line.EndX = 10;
  dim.Label.Text = "10.000";
  dim.SxfMode = 1;
  dim.AuxLine2.EndY = 5;
  dim.AuxPoint2.X = 9;
  Add(doc, dim);
  TDataSolid solid;
  solid.PenColor = 10;
  solid.Color = 0x123456;
  solid.X4 = 4;
  Add(doc, solid);
  TDataSolid pen;
  pen.PenColor = 3;
  pen.Y2 = 8;
  Add(doc, pen);
  TDataBlock block;
  block.BlockNumber = 1;
  block.Rotation = 0.5;
  Add(doc, block);
  BeginBlockDefinition(doc);
  Add(doc, sen);
  Add(doc, coded);
  TDataList def;
  def.Number = 1;
  def.Name = "blk";
  EndBlockDefinition(doc, def);
  Add(doc, TDataSen{});  // added after a definition: still drawn before it
  doc.EntityListCount = static_cast<uint32_t>(doc.EntityOrder.size() - doc.BlockDefList.size());
  return doc;
}

std::string Write(JwwDocument& doc, uint32_t version) {
  MemoryOutStream s;
  EXPECT_TRUE(WriteJwwDrawing(doc, s, version));
  return std::string(s.Bytes());
}

TEST(JwwReader, EveryClassRoundTripsAtEveryVersion) {
  for (uint32_t version : kJwwVersions) {
    JwwDocument doc = EveryClass();
    const std::string bytes = Write(doc, version);
    const JwwDocument back = ReadJwwDrawing(bytes);
    SCOPED_TRACE(version);
    // Reader and writer share the record layouts, so writing what was read gives the
    // same bytes; what is checked here is what each version leaves out.
    EXPECT_EQ(back.Header.Version, version);
    EXPECT_EQ(back.Header.ShadeTenkor, version >= 300 ? 50.0 : 0.0);
    EXPECT_EQ(back.EntityOrder, doc.EntityOrder);
    ASSERT_EQ(back.SenList.size(), 2u);
    EXPECT_EQ(back.SenList[0].PenWidth, version >= 351 ? 3 : 1);  // default without the field
    EXPECT_EQ(back.TenList[1].PenStyle, version >= 300 ? 100 : 1);
    EXPECT_EQ(back.TenList[1].Code, version >= 300 ? 5u : 0u);
    EXPECT_EQ(back.SunpouList[0].AuxPoint2.X, version >= 420 ? 9.0 : 0.0);
    ASSERT_EQ(back.BlockDefList.size(), 1u);
    ASSERT_EQ(back.BlockBodies[0].size(), 2u);
    EXPECT_EQ(std::get<TDataTen>(back.BlockBodies[0][1]).Code, version >= 300 ? 5u : 0u);
    // Written again, the drawing is the same bytes.
    JwwDocument again = back;
    EXPECT_EQ(Write(again, version), bytes);
  }
}

void ExpectRejected(const std::string& bytes, const std::string& what) {
  try {
    ReadJwwDrawing(bytes, "bad.jww");
    ADD_FAILURE() << "accepted: " << what;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("bad.jww: byte offset "), std::string::npos) << e.what();
  }
}

// bytes read through a window of window bytes, as a file too large to hold is read.
JwwDocument ReadThroughWindow(const std::string& bytes, size_t window) {
  size_t at = 0;
  InStream in(
      [&](char* to, size_t n) {
        n = std::min(n, bytes.size() - at);
        std::memcpy(to, bytes.data() + at, n);
        at += n;
        return n;
      },
      bytes.size(), window);
  return ReadJwwDrawing(in, "bad.jww");
}

std::string RejectionOf(const std::function<void()>& read) {
  try {
    read();
  } catch (const Error& e) {
    return e.what();
  }
  return "accepted";
}

// Read a few bytes at a time, a drawing is the same drawing, and a cut one is refused
// with the same message at the same offset.
TEST(JwwReader, AWindowAtATimeReadsWhatTheWholeReads) {
  for (uint32_t version : kJwwVersions) {
    JwwDocument doc = EveryClass();
    const std::string bytes = Write(doc, version);
    for (size_t window : {1u, 7u, 300u, 4096u}) {
      JwwDocument back = ReadThroughWindow(bytes, window);
      EXPECT_EQ(Write(back, version), bytes) << version << " " << window;
    }
  }
  JwwDocument doc = EveryClass();
  const std::string good = Write(doc, 420);
  for (size_t n = 0; n < good.size(); n += (n < 14500 ? 211 : 3)) {
    const std::string cut = good.substr(0, n);
    EXPECT_EQ(RejectionOf([&] { ReadThroughWindow(cut, 5); }),
              RejectionOf([&] { ReadJwwDrawing(cut, "bad.jww"); }))
        << n;
  }
}

// Versions 200 to 420 are read, the first and last included; one beyond either end is
// refused at the version's offset.
TEST(JwwReader, VersionsFrom200To420AreReadAndNoOthers) {
  for (const uint32_t version : {200u, 420u}) {
    JwwDocument doc = EveryClass();
    const std::string bytes = Write(doc, version);
    const JwwDocument back = ReadJwwDrawing(bytes, "edge.jww");
    EXPECT_EQ(back.Header.Version, version);
    EXPECT_EQ(back.EntityOrder, doc.EntityOrder) << version;

    const uint32_t beyond = version == 200 ? 199 : 421;
    std::string patched = bytes;
    std::memcpy(patched.data() + 8, &beyond, 4);
    try {
      ReadJwwDrawing(patched, "bad.jww");
      ADD_FAILURE() << "version " << beyond << " was read";
    } catch (const Error& e) {
      const std::string what = e.what();
      EXPECT_TRUE(what.starts_with("bad.jww: byte offset 8: ")) << what;
      EXPECT_NE(what.find("version " + std::to_string(beyond)), std::string::npos) << what;
    }
  }
}

TEST(JwwReader, HostileInputIsRejectedWithAnOffset) {
  JwwDocument doc = EveryClass();
  const std::string good = Write(doc, 420);
  // Every truncation of a good drawing.
  // (The closing u16 0 after a block list is optional: Jw_cad does not write it.)
  for (size_t n = 0; n < good.size(); n += (n < 14500 ? 97 : 1)) {
    if (n == good.size() - 2) continue;
    ExpectRejected(good.substr(0, n), "truncated at " + std::to_string(n));
  }
  ExpectRejected("JwwDatX." + good.substr(8), "wrong signature");
  std::string v = good;
  v[8] = 0x58;  // version 600
  v[9] = 0x02;
  ExpectRejected(v, "unsupported version");

  const size_t countAt = 14471;
  std::string count = good;
  count.replace(countAt, 2, "\xFF\xFF");
  count.insert(countAt + 2, "\xFF\xFF\xFF\x7F");
  ExpectRejected(count, "absurd entity count");

  std::string name = good;
  name.replace(countAt + 6 + 6, 8, "CDataXYZ");
  ExpectRejected(name, "unknown class");

  std::string longName = good;
  longName.replace(countAt + 6 + 4, 2, "\xFF\x7F");
  ExpectRejected(longName, "absurd class name length");

  // The second object refers to class 9, which was never introduced.
  std::string ref = good;
  const size_t second = countAt + 2 + 14 + 47;
  ASSERT_EQ(static_cast<unsigned char>(ref[second]), 0xFF);  // the circle's class tag
  ref.replace(second, 2, "\x09\x80");
  ExpectRejected(ref, "reference to an unknown class");

  // A text claiming more bytes than the file holds.
  JwwDocument one;
  SetFixedHeaderValues(one.Header);
  TDataMoji moji;
  moji.Text = "abc";
  Add(one, moji);
  one.EntityListCount = 1;
  std::string text = Write(one, 420);
  const size_t textLength = text.size() - 2 - 4;
  ASSERT_EQ(static_cast<unsigned char>(text[textLength]), 3);
  text[textLength] = static_cast<char>(0xFF);
  text.insert(textLength + 1, "\xF0\xFF");
  ExpectRejected(text, "text longer than the file");
}

// n lines, each introduced by a class tag of its own (as a damaged or hostile file may
// do), and one more that refers to map index ref (the last tag when 0).
std::string RepeatedClassTags(uint32_t n, uint16_t refIndex = 0) {
  JwwDocument one;
  SetFixedHeaderValues(one.Header);
  Add(one, TDataSen{});
  one.EntityListCount = 1;
  const std::string single = Write(one, 420);
  Add(one, TDataSen{});
  one.EntityListCount = 2;
  const size_t record = Write(one, 420).size() - single.size() - 2;  // without its reference
  const size_t tag = 14;  // 0xFFFF, schema, name length, "CDataSen"
  const size_t first = single.size() - 2 - tag - record;
  std::string out = single.substr(0, first - 2);
  const uint16_t count = static_cast<uint16_t>(n + 1);
  out.append(reinterpret_cast<const char*>(&count), 2);
  for (uint32_t i = 0; i < n; ++i)
    out += single.substr(first, tag + record);
  // Tags take the map indices 1, 3, 5, ..., the objects 2, 4, 6, ...
  const uint16_t ref = static_cast<uint16_t>(0x8000 | (refIndex ? refIndex : 2 * n - 1));
  out.append(reinterpret_cast<const char*>(&ref), 2);
  out += single.substr(first + tag, record);
  return out + std::string(2, '\0');
}

TEST(JwwReader, RepeatedClassTagsStillRead) {
  for (uint32_t n : {1u, 2u, 5000u}) {
    const JwwDocument doc = ReadJwwDrawing(RepeatedClassTags(n));
    EXPECT_EQ(doc.SenCount(), n + 1);
  }
  EXPECT_EQ(ReadJwwDrawing(RepeatedClassTags(3, 1)).SenCount(), 4u);  // the first tag
  // An object's index, or one past the last, is not a class.
  EXPECT_THROW(ReadJwwDrawing(RepeatedClassTags(3, 4)), Error);
  EXPECT_THROW(ReadJwwDrawing(RepeatedClassTags(3, 7)), Error);
}

}  // namespace
}  // namespace kestrova
