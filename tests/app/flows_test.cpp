#include "app/flows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/scripted_prompts.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "jww/archive.h"
#include "jww/jww_file.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

using test::MemorySink;

double F64At(const std::string& b, size_t offset) {
  double v;
  std::memcpy(&v, b.data() + offset, 8);
  return v;
}

// n segments of a polyline and nothing else.
Workspace LinesOnly(int n) {
  Workspace ws;
  for (int i = 0; i <= n; ++i) {
    SurveyPoint& p = AppendPoint(ws.Coords.Table);
    p.X = i;
    p.Marked = 1;
  }
  for (int i = 0; i < n; ++i)
    ws.Coords.Sima.SimaLines.push_back({double(i), 0, double(i + 1), 0, 1, 3});
  ws.Settings.Point.OutFlg = false;
  ws.Settings.PointStr.OutFlg = ws.Settings.XYcoord.OutFlg = ws.Settings.Zcoord.OutFlg = false;
  return ws;
}

TEST(Transfer, PayloadLayoutAndScales) {
  for (int n : {1, 2, 40}) {
    Workspace ws = LinesOnly(n);
    MemorySink sink;
    TransferToJwCad(ws, 1, sink);
    EXPECT_EQ(sink.bytes.size(), 8u + 8 + 128 + 2 + (6 + 8 + 47) + (n - 1) * (2 + 47) + 2);
    EXPECT_EQ(sink.bytes.substr(0, 16), std::string(16, '\0'));  // no drawing file saved yet
    EXPECT_EQ(sink.bytes.substr(146, 2), std::string("\xFF\xFF", 2));
    EXPECT_EQ(sink.bytes.substr(148, 2), "\x5F\x01");  // entities in the 351 layout
  }
  for (auto [scale, written] : {std::pair{0.5, 500.0}, {1.0, 1.0}, {200.0, 200.0}}) {
    Workspace ws = LinesOnly(1);
    ws.Settings.WrtBAse.Scale = scale;
    ws.JwwVersion = 220;
    ws.Drawing.Header.LayerGroups[5].GroupScale = 42;
    MemorySink sink;
    TransferToJwCad(ws, 1, sink);
    for (int g = 0; g < 16; ++g)
      EXPECT_EQ(F64At(sink.bytes, 16 + 8 * g), written);
    EXPECT_EQ(ws.Drawing.Header.LayerGroups[5].GroupScale, 42.0);
    EXPECT_EQ(ws.Drawing.Header.Version, 220u);
    // Twice in a row: the same bytes.
    MemorySink again;
    TransferToJwCad(ws, 1, again);
    EXPECT_EQ(again.bytes, sink.bytes);
  }
}

// Once a drawing is saved the payload carries its reference point, X before Y; the two
// differ, so a swap shows.
TEST(Transfer, AfterASaveThePayloadCarriesTheReferencePoint) {
  const fs::path dir = fs::temp_directory_path() / "kestrova-flows-reference";
  fs::create_directories(dir);
  Workspace ws = LinesOnly(2);
  ComputeDataBounds(ws.Coords.Table, ws.Bounds);
  SaveJwwFile(ws, dir / "site.jww", 1, nullptr);
  fs::remove_all(dir);
  MemorySink sink;
  TransferToJwCad(ws, 1, sink);
  ASSERT_GE(sink.bytes.size(), 16u);
  EXPECT_EQ(F64At(sink.bytes, 0), -210.0);
  EXPECT_EQ(F64At(sink.bytes, 8), -148.5);
}

TEST(Transfer, FailureRestoresScalesAndEmptyTableIsRefused) {
  Workspace ws = LinesOnly(3);
  ws.Drawing.Header.LayerGroups[0].GroupScale = 7;
  MemorySink broken;
  broken.busy = true;
  EXPECT_THROW(TransferToJwCad(ws, 1, broken), Error);
  EXPECT_EQ(ws.Drawing.Header.LayerGroups[0].GroupScale, 7.0);
  Workspace empty;
  MemorySink sink;
  try {
    TransferToJwCad(empty, 1, sink);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "データが、ありません。");
  }
  EXPECT_TRUE(sink.bytes.empty());
}

TEST(Transfer, TextsWithoutSizesTakeTheDrawingDefaults) {
  Workspace ws = LinesOnly(1);
  ws.Settings.PointStr.OutFlg = true;
  MemorySink sink;
  TransferToJwCad(ws, 1, sink);
  EXPECT_EQ(ws.Drawing.EntityListCount, 3u);
  // The payload's entities after its 146-byte prefix, read back.
  InStream in(std::string_view(sink.bytes).substr(146));
  JwwDocument back;
  ReadEntityList(in, 3, 351, back);
  ASSERT_EQ(back.MojiCount(), 2u);
  EXPECT_EQ(back.MojiList[0].SizeX, 3.0);
  EXPECT_EQ(back.MojiList[0].Spacing, 0.5);
  EXPECT_EQ(ws.Drawing.Header.TextKinds[2].Width, 0.0);  // the header itself is not changed
}

TEST(SaveJwwFile, EveryVersionReadsBack) {
  const fs::path dir = fs::temp_directory_path() / "kestrova-flows-test";
  fs::create_directories(dir);
  for (uint32_t version : kJwwVersions) {
    Workspace ws = LinesOnly(2);
    ws.Settings.Point.OutFlg = true;
    ws.Coords.Table.Points[2].Mark = "5";
    ws.Settings.WrtBAse.Scale = 100;
    ws.JwwVersion = version;
    ComputeDataBounds(ws.Coords.Table, ws.Bounds);
    const fs::path file = dir / ("v" + std::to_string(version) + ".jww");
    SaveJwwFile(ws, file, 1, nullptr);
    const JwwDocument back = ReadJwwFile(file);
    EXPECT_EQ(back.Header.Version, version);
    EXPECT_EQ(back.Header.LayerGroups[8].GroupScale, 100.0);
    EXPECT_EQ(back.Header.LayerGroups[7].GroupScale, 500.0);
    EXPECT_EQ(back.Header.Memo, "_");
    ASSERT_EQ(back.TenCount(), 3u);
    EXPECT_EQ(back.SenCount(), 2u);
    EXPECT_EQ(back.TenList[1].PenStyle, version >= 300 ? 100 : 1);
    EXPECT_EQ(back.TenList[0].Y, -10.0);  // X 0 against the centre X 1, at 1:100
    EXPECT_EQ(ws.Settings.Folder.name, fs::absolute(dir).string());
  }
  // A refused save leaves the existing file as it was.
  Workspace ws = LinesOnly(2);
  ws.Settings.WrtBAse.Scale = 0;
  const fs::path file = dir / "v420.jww";
  const std::string before = ReadFileBytes(file);
  EXPECT_THROW(SaveJwwFile(ws, file, 1, nullptr), Error);
  EXPECT_EQ(ReadFileBytes(file), before);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrova
