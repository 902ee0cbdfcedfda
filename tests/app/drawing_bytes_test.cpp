// The bytes of saved drawings and clipboard payloads, pinned by hash for every version at
// the entity counts where the archive changes its reference forms (32768 objects, class
// indices past 0x7FFF), and compared with the document written in memory.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include <unistd.h>

#include "app/flows.h"
#include "app/scripted_prompts.h"
#include "common/atomic_file.h"
#include "coords/convert.h"
#include "jww/jww_file.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001B3ull;
  }
  return h;
}

using test::MemorySink;

// entities drawing entities: points (marks cycling through every code rule) and, from
// two entities on, two parcel lines after them, so that the line class is met last. One
// unmarked point more keeps the table from being empty.
Workspace PointsAndLines(int entities) {
  Workspace ws;
  const int lines = entities >= 2 ? 2 : 0;
  const char* marks[] = {"", "5", "105", "205", "-3", "x", "100"};
  for (int i = 0; i < entities - lines; ++i) {
    SurveyPoint& p = AppendPoint(ws.Coords.Table);
    p.Number = i + 1;
    p.X = 1000.125 + i * 0.37;
    p.Y = -52.5 + (i % 977) * 1.5;
    p.Mark = marks[i % 7];
    p.Marked = 1;
  }
  AppendPoint(ws.Coords.Table).X = 7;
  for (int i = 0; i < lines; ++i)
    ws.Coords.Sima.SimaLines.push_back({1000.0 + i, -50.0, 1001.0 + i, -49.0, 1, 2});
  ws.Settings.Point.CodeFlg = false;
  ws.Settings.PointStr.OutFlg = ws.Settings.XYcoord.OutFlg = ws.Settings.Zcoord.OutFlg = false;
  ComputeDataBounds(ws.Coords.Table, ws.Bounds);
  return ws;
}

// Every block on: points, circles, three labels per point (double-byte, empty and
// 300-byte names among them), parcel lines and labels. 6600 points give 33000 entities
// before the lines, whose class is then introduced past 32768 objects.
Workspace EveryBlock() {
  Workspace ws;
  for (int i = 0; i < 6600; ++i) {
    SurveyPoint& p = AppendPoint(ws.Coords.Table);
    p.Number = i + 1;
    p.X = -3.25 + i * 0.011;
    p.Y = 12.0 - i * 0.013;
    p.Z = i * 0.0005;
    p.Name =
        i % 3 == 0 ? "\x8a\xee" + std::to_string(i) : (i % 3 == 1 ? "" : "N" + std::to_string(i));
    if (i == 17) p.Name = std::string(300, 'L');
    p.Mark = i % 2 ? "12" : "";
    p.Marked = i % 11 == 5 ? 0 : 1;
  }
  for (int i = 0; i < 40; ++i)
    ws.Coords.Sima.SimaLines.push_back({i * 0.5, 1.0, i * 0.5 + 0.5, 2.0, 3, 4});
  ws.Coords.Sima.SimaTexts.push_back({1.5, 2.5, "\x92\x6e\x94\xd4 1", 3, 0.0});
  ws.Coords.Sima.SimaTexts.push_back({-1.5, 0.5, "", 2, 0.0});
  ws.Settings.Point.EnkoFlg = true;
  ws.Settings.Point.Code = 3;
  ws.Settings.XYcoord.MojiBs = 5;
  ws.Settings.Zcoord.MojiBs = 9;
  ws.Settings.WrtBAse.Group = 3;
  ComputeDataBounds(ws.Coords.Table, ws.Bounds);
  return ws;
}

// What the conversion and the in-memory writer make of the same workspace.
std::string InMemory(Workspace ws, uint32_t version) {
  JwwHeader& h = ws.Drawing.Header;
  h.Version = version;
  InitHeaderDefaults(h, nullptr, ws.JwCad);
  h.PaperSize = static_cast<uint32_t>(ws.Settings.WrtBAse.Size);
  h.WriteLayerGroup = ws.Settings.WrtBAse.Group;
  h.LayerGroups[ws.Settings.WrtBAse.Group & 15].GroupScale = ws.Settings.WrtBAse.Scale;
  ConvertPointsToDrawing(ws.Coords, ws.Bounds, ws.Settings, h.TextKinds, 1, ws.Drawing);
  MemoryOutStream out;
  EXPECT_TRUE(WriteJwwDrawing(ws.Drawing, out, version));
  return std::string(out.Bytes());
}

struct Pinned {
  std::map<std::tuple<int, uint32_t>, uint64_t> files;  // (entities, version)
  std::map<int, uint64_t> payloads;                     // entities
};

// Hashes of the bytes this program has always written; a change here changes what
// Jw_cad receives.
const Pinned& Expected() {
  static const Pinned pinned = [] {
    Pinned p;
    p.files = {
        {{0, 420}, 0x296c0a080b0f0c1full},     {{0, 351}, 0x8fa30707fdbd7024ull},
        {{0, 300}, 0x451e6e78d6191c07ull},     {{0, 230}, 0x81f09da96cf03832ull},
        {{0, 225}, 0xa4518f4729dfabe8ull},     {{0, 223}, 0xdd7dbc66d5782ceaull},
        {{0, 220}, 0xd0f3308c79a9f808ull},     {{1, 420}, 0x91c5ee7291494902ull},
        {{1, 351}, 0x45c8237755f58556ull},     {{1, 300}, 0xdb85964156621a6bull},
        {{1, 230}, 0xf3b52c5cef5bd58full},     {{1, 225}, 0x144760264e8403ecull},
        {{1, 223}, 0x8fec2d244257450cull},     {{1, 220}, 0x77a63a6549f0e8e3ull},
        {{32767, 420}, 0x7f12b41f80140075ull}, {{32767, 351}, 0x8d8a579b1d4935eull},
        {{32767, 300}, 0x8155647c0c243946ull}, {{32767, 230}, 0xb6fe4970f692c0b0ull},
        {{32767, 225}, 0xc166c3a9b0f16df4ull}, {{32767, 223}, 0xa3e89f5cc7c2425aull},
        {{32767, 220}, 0x667bf1e5a1b92bdeull}, {{32768, 420}, 0x453e89b7d7da37bbull},
        {{32768, 351}, 0xfa3404b2f4f654bcull}, {{32768, 300}, 0xbfdd75c631774fbbull},
        {{32768, 230}, 0x8b36b2d80bcc5d3full}, {{32768, 225}, 0x661863753c65c775ull},
        {{32768, 223}, 0xf9af43a71d2e3f7ull},  {{32768, 220}, 0x597f40a94891a105ull},
        {{65536, 420}, 0x30a57232522bb1cfull}, {{65536, 351}, 0xaa82c2b67c475014ull},
        {{65536, 300}, 0x3864d95b7b2493ull},   {{65536, 230}, 0xbbfbddd0a1046fd4ull},
        {{65536, 225}, 0xac730c99e644633eull}, {{65536, 223}, 0x68ff8e6b008f6a88ull},
        {{65536, 220}, 0x1c13bb10889f5b12ull}, {{-1, 420}, 0x48b3164dc0699cc6ull},
        {{-1, 351}, 0xaf38bb2254144f05ull},    {{-1, 300}, 0xc7411ec0a9cc47f2ull},
        {{-1, 230}, 0x242e3e6421c5affdull},    {{-1, 225}, 0xb5d67de55703b1a1ull},
        {{-1, 223}, 0x1ccd2c9f3ca8d26full},    {{-1, 220}, 0x3025c92c4bbe4bbull},
    };
    p.payloads = {
        {0, 0x610b298d55b3e035ull},     {1, 0x7b42716e9c5954d9ull},
        {32767, 0x7f6d153e92678871ull}, {32768, 0x40346af3e45f2795ull},
        {65536, 0xb16e95140cc7b51ull},  {-1, 0x619e5eda3cd605e3ull},
    };
    return p;
  }();
  return pinned;
}

const fs::path& Folder() {
  static const fs::path dir = [] {
    fs::path d =
        fs::temp_directory_path() / ("kestrova-drawing-bytes-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

TEST(DrawingBytes, FilesOfEveryVersionAroundTheArchiveBoundaries) {
  constexpr int kEveryBlock = -1;
  for (int entities : {0, 1, 32767, 32768, 65536, kEveryBlock}) {
    for (uint32_t version : kJwwVersions) {
      Workspace ws = entities == kEveryBlock ? EveryBlock() : PointsAndLines(entities);
      ws.JwwVersion = version;
      const std::string expected = InMemory(ws, version);
      const fs::path file = Folder() / "drawing.jww";
      SaveJwwFile(ws, file, 1, nullptr);
      const std::string bytes = ReadFileBytes(file);
      SCOPED_TRACE("entities " + std::to_string(entities) + ", version " + std::to_string(version));
      EXPECT_TRUE(bytes == expected) << "differs from the document written in memory";
      const auto pinned = Expected().files.find({entities, version});
      const uint64_t expectedHash = pinned == Expected().files.end() ? 0 : pinned->second;
      EXPECT_EQ(Fnv1a(bytes), expectedHash)
          << "{{" << entities << ", " << version << "}, 0x" << std::hex << Fnv1a(bytes) << "ull},";
      if (entities >= 0) {
        const uint32_t count = static_cast<uint32_t>(entities);
        EXPECT_EQ(ws.Drawing.EntityListCount, count);
      }
    }
  }
  fs::remove_all(Folder());
}

TEST(DrawingBytes, ClipboardPayloadAroundTheArchiveBoundaries) {
  constexpr int kEveryBlock = -1;
  for (int entities : {0, 1, 32767, 32768, 65536, kEveryBlock}) {
    Workspace ws = entities == kEveryBlock ? EveryBlock() : PointsAndLines(entities);
    ws.JwwVersion = 230;  // the payload is always in the 351 layout
    MemorySink sink;
    TransferToJwCad(ws, 1, sink);
    SCOPED_TRACE("entities " + std::to_string(entities));
    const auto pinned = Expected().payloads.find(entities);
    const uint64_t expectedHash = pinned == Expected().payloads.end() ? 0 : pinned->second;
    EXPECT_EQ(Fnv1a(sink.bytes), expectedHash)
        << "{" << entities << ", 0x" << std::hex << Fnv1a(sink.bytes) << "ull},";
  }
}

}  // namespace
}  // namespace kestrova
