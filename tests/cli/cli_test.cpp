// Runs kestrova-cli as a user would and checks what it prints and writes.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/atomic_file.h"
#include "jww/jww_file.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;

const std::string kCli = KESTROVA_CLI;
const std::string kExamples = KESTROVA_SOURCE_DIR "/examples/";

using Result = kestrova::test::ShellResult;

Result RunCli(const std::string& args) {
  return kestrova::test::RunShell(kCli + " " + args);
}

class Cli : public kestrova::test::FolderTest {
 protected:
  Cli() : FolderTest("kestrova-cli-") {}
};

TEST_F(Cli, InfoDescribesTheExampleSite) {
  const Result r = RunCli("info " + kExamples + "site.sim");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(
      r.out,
      "points: 11\nX: -12095 .. -12010.552\nY: -30545 .. -30490\ncentre: -12052.776, -30517.5\n"
      "site: 桜台二丁目地区\ntitle 1: 座標リスト\ntitle 2: 世界測地系 第IX系\n"
      "sima lines: 13\nsima labels: 2\n");
  const Result both = RunCli("info " + kExamples + "site.zhy " + kExamples + "site.sim");
  EXPECT_NE(both.out.find("points: 22\n"), std::string::npos) << both.out;
}

TEST_F(Cli, ExportWritesEveryFormat) {
  for (const char* ext : {"zhy", "csv", "sim", "apa"}) {
    const std::string out = Path(std::string("site.") + ext);
    ASSERT_EQ(RunCli("export " + kExamples + "site.sim -o " + out).status, 0);
    const Result back = RunCli("info " + out);
    EXPECT_NE(back.out.find("points: 11\n"), std::string::npos) << ext << back.out;
  }
  EXPECT_EQ(kestrova::ReadFileBytes(Path("site.zhy")),
            kestrova::ReadFileBytes(kExamples + "site.zhy"));
  // The option wins over the extension.
  ASSERT_EQ(
      RunCli("export " + kExamples + "site.zhy -o " + Path("x.txt") + " --format sima").status, 0);
  EXPECT_EQ(kestrova::ReadFileBytes(Path("x.txt")).substr(0, 7), "G00,01,");
}

TEST_F(Cli, ErrorsAndUsage) {
  EXPECT_EQ(RunCli("").status, 2);
  EXPECT_EQ(RunCli("info").status, 2);
  EXPECT_EQ(RunCli("export " + kExamples + "site.sim -o " + Path("out.txt")).status, 2);
  EXPECT_EQ(RunCli("convert " + kExamples + "site.sim -o x.jww --jww-version 400").status, 2);
  {
    std::ofstream bad(Path("bad.sim"), std::ios::binary);
    bad << "G00,01,x,\r\nA01,1,a,0,0,0,\r\nD00,1,p,yes,\r\n";
  }
  const Result load = RunCli("info " + Path("bad.sim"));
  EXPECT_EQ(load.status, 1);
  EXPECT_EQ(load.out.rfind("kestrova-cli: error: " + Path("bad.sim") + ":3: ", 0), 0u) << load.out;
  EXPECT_EQ(RunCli("info " + Path("missing.sim")).status, 1);
  {
    std::ofstream one(Path("one.zhy"), std::ios::binary);
    one << "1,a,1,2,3\r\n";
  }
  EXPECT_EQ(RunCli("info " + Path("one.zhy")).status, 1);
  EXPECT_NE(RunCli("--version").out.find("kestrova-cli "), std::string::npos);
}

TEST_F(Cli, ConvertEveryVersionAndDumpIt) {
  for (const char* version : {"420", "351", "300", "230", "225", "223", "220"}) {
    const std::string out = Path(std::string("site") + version + ".jww");
    const Result r =
        RunCli("convert " + kExamples + "site.sim -o " + out + " --jww-version " + version +
               " --jwcad-settings " KESTROVA_SOURCE_DIR "/tests/data/jwcad-settings/user.reg");
    ASSERT_EQ(r.status, 0) << r.out;
    const Result d = RunCli("dump " + out);
    ASSERT_EQ(d.status, 0) << d.out;
    EXPECT_EQ(d.out.rfind(std::string("version: ") + version + "\n", 0), 0u);
    EXPECT_NE(d.out.find("grid: minimum 15, interval 5 x 5\n"), std::string::npos);
    EXPECT_NE(d.out.find("entities: 59\n"),
              std::string::npos);  // 11 points, 33 labels, 13 lines, 2 parcels
    // Point 3 (boundary mark 12) lies at X -12020.1, Y -30520 against the centre
    // (-12052.776, -30517.5): u = -2.5 m, v = 32.676 m at 1:500.
    const std::string coded = std::atoi(version) >= 300 ? "style=100" : "style=1";
    EXPECT_NE(d.out.find("CDataTen group=0 " + coded + " colour=2"), std::string::npos) << version;
    EXPECT_NE(d.out.find("x=-5 y=65.35"), std::string::npos);
    EXPECT_NE(d.out.find("text=\"境界1\""), std::string::npos);
    EXPECT_NE(d.out.find("text=\"1番3\""), std::string::npos);
    const Result json = RunCli("dump --json " + out);
    EXPECT_EQ(json.out.rfind(std::string("{\"version\":") + version + ",", 0), 0u);
  }
}

TEST_F(Cli, ClipWritesThePayload) {
  const std::string out = Path("site.clip");
  ASSERT_EQ(RunCli("clip " + kExamples + "site.sim -o " + out).status, 0);
  const std::string payload = kestrova::ReadFileBytes(out);
  ASSERT_GT(payload.size(), 150u);
  EXPECT_EQ(payload.substr(0, 16), std::string(16, '\0'));
  EXPECT_EQ(payload.substr(144, 2), std::string("\x3B\x00", 2));  // 59 entities
  EXPECT_EQ(payload.substr(payload.size() - 2), std::string(2, '\0'));
  // The settings file decides the scale written for every layer group.
  {
    std::ofstream ini(Path("k.INI"), std::ios::binary);
    ini << "[WrtBAse]\r\nScale=250\r\n";
  }
  ASSERT_EQ(
      RunCli("clip " + kExamples + "site.sim -o " + out + " --settings " + Path("k.INI")).status,
      0);
  const std::string scaled = kestrova::ReadFileBytes(out);
  double scale;
  std::memcpy(&scale, scaled.data() + 16 + 8 * 15, 8);
  EXPECT_EQ(scale, 250.0);
  EXPECT_EQ(
      RunCli("clip " + kExamples + "site.sim --settings " + Path("none.INI") + " -o " + out).status,
      1);
}

void WriteText(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(Cli, OutputIsNeverAnInputAndNeverEmpty) {
  const std::string input = Path("a.zhy");
  WriteText(input, "1,a,1,2,3\r\n2,b,4,5,6\r\n");
  fs::create_symlink("a.zhy", Path("alias.zhy"));
  for (const std::string& same : {input, Path("./a.zhy"), Path("alias.zhy")}) {
    const Result r = RunCli("export " + input + " -o " + same);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("is the input"), std::string::npos) << r.out;
  }
  EXPECT_EQ(RunCli("convert " + input + " -o " + input).status, 2);
  WriteText(Path("k.INI"), "[WrtBAse]\r\nScale=250\r\n");
  EXPECT_EQ(
      RunCli("convert " + input + " --settings " + Path("k.INI") + " -o " + Path("k.INI")).status,
      2);
  EXPECT_EQ(kestrova::ReadFileBytes(input), "1,a,1,2,3\r\n2,b,4,5,6\r\n");
  for (const std::string cmd : {"export", "convert", "clip"}) {
    const Result r = RunCli(cmd + " " + input + " -o ''");
    EXPECT_EQ(r.status, 2) << cmd << r.out;
    EXPECT_NE(r.out.find("the output name is empty"), std::string::npos) << r.out;
  }
}

TEST_F(Cli, StandardStreamsAndPipes) {
  // "-" reads standard input and writes standard output, for every command.
  const Result zhy = RunCli("export - -o - --format zhy < " + kExamples + "site.zhy");
  EXPECT_EQ(zhy.status, 0);
  EXPECT_EQ(zhy.out.substr(0, zhy.out.find("kestrova-cli: wrote")),
            kestrova::ReadFileBytes(kExamples + "site.zhy"));
  const Result info = RunCli("info /dev/stdin < " + kExamples + "site.sim");
  EXPECT_NE(info.out.find("points: 11\n"), std::string::npos) << info.out;
  const Result piped =
      RunCli("convert " + kExamples + "site.sim -o - 2>/dev/null | " + kCli + " dump -");
  EXPECT_EQ(piped.status, 0) << piped.out;
  EXPECT_NE(piped.out.find("entities: 59\n"), std::string::npos) << piped.out;
  ASSERT_EQ(RunCli("clip " + kExamples + "site.sim -o " + Path("c.clip")).status, 0);
  const Result clip = RunCli("clip " + kExamples + "site.sim -o - | cmp - " + Path("c.clip"));
  EXPECT_EQ(clip.status, 0) << clip.out;
}

TEST_F(Cli, WarningsAndNoData) {
  WriteText(Path("nan.zhy"), "1,a,1,2,3\r\n2,b,nan,1e999,6\r\n3,c,0x10,5,6\r\n");
  const Result warned = RunCli("info " + Path("nan.zhy"));
  EXPECT_EQ(warned.status, 0);
  EXPECT_NE(warned.out.find("kestrova-cli: warning: " + Path("nan.zhy") +
                            ":2: 3 fields are not a number"),
            std::string::npos)
      << warned.out;
  // A SIMA file's parcels cannot go into a ZHY file: said, not silently dropped.
  const Result dropped = RunCli("export " + kExamples + "site.sim -o " + Path("x.zhy"));
  EXPECT_EQ(dropped.status, 0);
  EXPECT_NE(dropped.out.find("kestrova-cli: warning: " + Path("x.zhy") +
                             ": 3 parcels and "
                             "polylines were not saved: only a SIMA file holds them"),
            std::string::npos)
      << dropped.out;
  // Two lines, no point: the desktop program's message, with the files named.
  WriteText(Path("empty.sim"), "G00,01,x,\r\nA00,\r\nA99,\r\n");
  const Result none =
      RunCli("convert " + Path("empty.sim") + " " + Path("empty.sim") + " -o " + Path("x.jww"));
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "kestrova-cli: error: " + Path("empty.sim") + ", " + Path("empty.sim") +
                          ": データが、ありません。\n");
  EXPECT_FALSE(fs::exists(Path("x.jww")));
  // Not a text file.
  const Result binary = RunCli("info " + kCli);
  EXPECT_EQ(binary.status, 1);
}

TEST_F(Cli, DumpJsonHasNoNonNumbers) {
  kestrova::JwwDocument doc;
  kestrova::Init(doc);
  doc.Header.Version = 420;
  doc.Header.LayerGroups[3].GroupScale = std::nan("");
  kestrova::TDataSen line;
  line.EndX = HUGE_VAL;
  line.EndY = std::nan("");
  kestrova::Add(doc, line);
  doc.EntityListCount = 1;
  {
    kestrova::FileOutStream out(Path("odd.jww"));
    ASSERT_TRUE(kestrova::WriteJwwDrawing(doc, out, 420));
    out.Commit();
  }
  const Result json = RunCli("dump --json " + Path("odd.jww"));
  ASSERT_EQ(json.status, 0) << json.out;
  EXPECT_EQ(json.out.find("NAN"), std::string::npos) << json.out;
  EXPECT_EQ(json.out.find("INF"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"x2\":null,\"y2\":null"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find(",null,"), std::string::npos);  // the fourth group's scale
}

}  // namespace
