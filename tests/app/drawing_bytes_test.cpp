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
        {{0, 220}, 0xd0f3308c79a9f808ull},     {{1, 420}, 0x4873aab820cde0acull},
        {{1, 351}, 0xc7b2cabf86fd3028ull},     {{1, 300}, 0x7ec7e12cbb3f7219ull},
        {{1, 230}, 0xe92f7cac64df2465ull},     {{1, 225}, 0xa7939a5c2326b8beull},
        {{1, 223}, 0x40085f115195645eull},     {{1, 220}, 0xe69db458430f41ull},
        {{32767, 420}, 0x87d058755522a3baull}, {{32767, 351}, 0x63894dd4d735678dull},
        {{32767, 300}, 0x1822e830b327e0a9ull}, {{32767, 230}, 0xec90a1a90e163bf3ull},
        {{32767, 225}, 0xc2fe3f1222e509afull}, {{32767, 223}, 0xc295e94c2ebd1541ull},
        {{32767, 220}, 0x5e0d1d45ed311b65ull}, {{32768, 420}, 0xde2fe65fb3039b41ull},
        {{32768, 351}, 0x53adcabc82f68806ull}, {{32768, 300}, 0x7e5558d97e6acb95ull},
        {{32768, 230}, 0xceab19e113c4c355ull}, {{32768, 225}, 0x7bff9ec50680bbafull},
        {{32768, 223}, 0x3603ab0bf294cc2dull}, {{32768, 220}, 0xb9c60282d1abcf87ull},
        {{65536, 420}, 0xf55a5fc21ee68c4aull}, {{65536, 351}, 0x1eebbb36e99eee59ull},
        {{65536, 300}, 0xa5581362a2cde476ull}, {{65536, 230}, 0x3a0946a1d1909d75ull},
        {{65536, 225}, 0xaf64a8485e2b5d9bull}, {{65536, 223}, 0x81cc3646eb8f8b4dull},
        {{65536, 220}, 0x5dd6de4fbf05b2fbull}, {{-1, 420}, 0x48b3164dc0699cc6ull},
        {{-1, 351}, 0xaf38bb2254144f05ull},    {{-1, 300}, 0xc7411ec0a9cc47f2ull},
        {{-1, 230}, 0x242e3e6421c5affdull},    {{-1, 225}, 0xb5d67de55703b1a1ull},
        {{-1, 223}, 0x1ccd2c9f3ca8d26full},    {{-1, 220}, 0x3025c92c4bbe4bbull},
    };
    p.payloads = {
        {0, 0x610b298d55b3e035ull},     {1, 0xcbd7fbc07a289637ull},
        {32767, 0x59b923af6e7b8926ull}, {32768, 0xcf3467b78846651full},
        {65536, 0x363fda34d11feb0ull},  {-1, 0x619e5eda3cd605e3ull},
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
