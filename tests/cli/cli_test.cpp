// Runs kestrova-cli as a user would and checks what it prints, writes and plots.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

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

void WriteText(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
    ++n;
  return n;
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
  WriteText(Path("bad.sim"), "G00,01,x,\r\nA01,1,a,0,0,0,\r\nD00,1,p,yes,\r\n");
  const Result load = RunCli("info " + Path("bad.sim"));
  EXPECT_EQ(load.status, 1);
  EXPECT_EQ(load.out, "kestrova-cli: error: " + Path("bad.sim") +
                          ":3: the closing flag \"yes\" of parcel \"p\" is not an integer\n");
  const Result missing = RunCli("info " + Path("missing.sim"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out.rfind("kestrova-cli: error: " + Path("missing.sim") + ": cannot open: ", 0),
            0u)
      << missing.out;
  WriteText(Path("one.zhy"), "1,a,1,2,3\r\n");
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
    // The six boundary points' codes, left out, are said to be.
    EXPECT_EQ(r.out.find(out +
                         ": the point codes of 6 points (from their marks or Point.Code) were "
                         "written as plain points: a version " +
                         version + " drawing holds no point codes\n") != std::string::npos,
              coded == "style=1")
        << r.out;
    EXPECT_NE(d.out.find("x=-5 y=65.35"), std::string::npos);
    EXPECT_NE(d.out.find("text=\"境界1\""), std::string::npos);
    EXPECT_NE(d.out.find("text=\"1番3\""), std::string::npos);
    const Result json = RunCli("dump --json " + out);
    EXPECT_EQ(json.out.rfind(std::string("{\"version\":") + version + ",", 0), 0u);
  }
  // One point of a mark, in the singular.
  WriteText(Path("one.zhy"), "1,a,1,2,3,12,\r\n2,b,2,3,4,,\r\n");
  EXPECT_NE(RunCli("convert " + Path("one.zhy") + " -o " + Path("one.jww") + " --jww-version 225")
                .out.find(": the point code of 1 point (from its mark or Point.Code) was written "
                          "as a plain point: a version 225 drawing holds no point codes\n"),
            std::string::npos);
  // A code for every point, from the table as from temporary files.
  WriteText(Path("code.INI"), "[Point]\r\nCodeFlg=1\r\nCode=5\r\n");
  for (const std::string& tmp : {std::string(), "TMPDIR=" + Path("missing") + " "}) {
    const Result r = kestrova::test::RunShell(tmp + kCli + " convert " + kExamples +
                                              "site.sim -o " + Path("c.jww") +
                                              " --jww-version 220 --settings " + Path("code.INI"));
    EXPECT_NE(r.out.find("kestrova-cli: warning: " + Path("c.jww") +
                         ": the point codes of 11 points (from their marks or Point.Code) were "
                         "written as plain points: a version 220 drawing holds no point codes\n"),
              std::string::npos)
        << r.out;
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
  WriteText(Path("k.INI"), "[WrtBAse]\r\nScale=250\r\n");
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

TEST_F(Cli, ABaseRowTheDrawingCannotTakeIsSaid) {
  WriteText(Path("base.INI"), "[WrtBAse]\r\nOutBaseFlg=1\r\n");
  const std::string site = kExamples + "site.sim -o " + Path("x.jww");
  const std::string past =
      "kestrova-cli: warning: --base-row 12 is past the last point (row 11); "
      "the drawing is centred on its points\n";
  // From temporary files, from the table, and for the clipboard.
  const Result streamed =
      RunCli("convert " + site + " --settings " + Path("base.INI") + " --base-row 12");
  const Result held =
      kestrova::test::RunShell("TMPDIR=" + Path("missing") + " " + kCli + " convert " + site +
                               " --settings " + Path("base.INI") + " --base-row 12");
  const Result clip = RunCli("clip " + kExamples + "site.sim -o " + Path("x.clip") +
                             " --settings " + Path("base.INI") + " --base-row 12");
  for (const Result& r : {streamed, held, clip}) {
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(past), std::string::npos) << r.out;
  }
  const Result last =
      RunCli("convert " + site + " --settings " + Path("base.INI") + " --base-row 11");
  EXPECT_EQ(last.out.find("warning"), std::string::npos) << last.out;
  // Without the setting the row is not used at all.
  const Result unused = RunCli("convert " + site + " --base-row 2");
  EXPECT_NE(unused.out.find("kestrova-cli: warning: --base-row is used only when the settings set "
                            "WrtBAse.OutBaseFlg; the drawing is centred on its points\n"),
            std::string::npos)
      << unused.out;
  EXPECT_EQ(RunCli("convert " + site).out.find("warning"), std::string::npos);
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
  // What a command prints, appended to the file it reads.
  ASSERT_EQ(RunCli("convert " + input + " -o " + Path("a.jww")).status, 0);
  for (const auto& [command, file] :
       {std::pair<std::string, std::string>{"dump", Path("a.jww")}, {"info", input}}) {
    const std::string before = kestrova::ReadFileBytes(file);
    const Result appended =
        kestrova::test::RunShell("{ " + kCli + " " + command + " " + file + " >> " + file + "; }");
    EXPECT_NE(appended.out.find("is the input"), std::string::npos) << appended.out;
    EXPECT_TRUE(kestrova::ReadFileBytes(file) == before) << command;
  }
  // Standard error into the output's file would put the messages among its bytes; into
  // the text info prints, it may go.
  for (const std::string& out :
       {" -o - > " + Path("m.jww") + " 2>&1", " -o " + Path("m.jww") + " 2>" + Path("m.jww")}) {
    const Result merged =
        kestrova::test::RunShell(kCli + " convert " + input + out + "; echo status=$?");
    EXPECT_NE(merged.out.find("status=2"), std::string::npos) << merged.out;
    EXPECT_TRUE(kestrova::ReadFileBytes(Path("m.jww"))
                    .starts_with("kestrova-cli: standard error goes to the output "))
        << kestrova::ReadFileBytes(Path("m.jww"));
  }
  EXPECT_EQ(
      kestrova::test::RunShell(kCli + " info " + input + " > " + Path("i.txt") + " 2>&1").status,
      0);
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

// A name for the program's own standard output is the stream the shell set up: a file
// it appends to keeps what it held, one it writes to gets the bytes where it stands, a
// pipe gets them; nothing is renamed over the shell's file.
TEST_F(Cli, NamesOfStandardOutputWriteWhereTheShellPointsIt) {
  const std::string zhy = kestrova::ReadFileBytes(kExamples + "site.zhy");
  const std::string log = Path("log");
  for (const std::string name : {"/dev/stdout", "/proc/self/fd/1", "/dev/fd/1"}) {
    WriteText(log, "earlier\n");
    const Result r = kestrova::test::RunShell(
        kCli + " export " + kExamples + "site.zhy --format zhy -o " + name + " >> " + log, false);
    EXPECT_EQ(r.status, 0) << name << r.out;
    EXPECT_EQ(kestrova::ReadFileBytes(log), "earlier\n" + zhy) << name;
  }
  // In the middle of a shell's output to one file.
  const Result r = kestrova::test::RunShell("{ printf 'head\\n'; " + kCli + " export " + kExamples +
                                            "site.zhy --format zhy -o /dev/stdout 2>/dev/null; "
                                            "printf 'tail\\n'; } > " +
                                            log);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(kestrova::ReadFileBytes(log), "head\n" + zhy + "tail\n");
  // A drawing appended through another descriptor reads back as the drawing itself.
  ASSERT_EQ(RunCli("convert " + kExamples + "site.sim -o " + Path("a.jww")).status, 0);
  WriteText(log, "earlier\n");
  const Result jww =
      RunCli("convert " + kExamples + "site.sim -o /dev/fd/3 3>> " + log + " 2>/dev/null");
  EXPECT_EQ(jww.status, 0) << jww.out;
  EXPECT_EQ(kestrova::ReadFileBytes(log), "earlier\n" + kestrova::ReadFileBytes(Path("a.jww")));
  // Into a pipe.
  const Result piped =
      RunCli("convert " + kExamples + "site.sim -o /dev/stdout 2>/dev/null | " + kCli + " dump -");
  EXPECT_EQ(piped.status, 0) << piped.out;
  EXPECT_NE(piped.out.find("entities: 59\n"), std::string::npos) << piped.out;
}

// Standard input redirected from a file is that file: the output may not replace it.
TEST_F(Cli, StandardInputIsAnInputToo) {
  const std::string input = Path("a.zhy");
  WriteText(input, "1,a,1,2,3\r\n2,b,4,5,6\r\n");
  const Result r = RunCli("export - --format zhy -o " + input + " < " + input);
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("the output " + input + " is the input standard input"), std::string::npos)
      << r.out;
  EXPECT_EQ(RunCli("convert - -o " + input + " < " + input).status, 2);
  EXPECT_EQ(kestrova::ReadFileBytes(input), "1,a,1,2,3\r\n2,b,4,5,6\r\n");
  // Another file on standard input is fine.
  EXPECT_EQ(RunCli("export - --format zhy -o " + Path("b.zhy") + " < " + input).status, 0);
}

// Printing commands fail like file writers when standard output cannot take their text.
TEST_F(Cli, AFullStandardOutputIsAnError) {
  const std::string jww = Path("site.jww");
  ASSERT_EQ(RunCli("convert " + kExamples + "site.sim -o " + jww).status, 0);
  for (const std::string& command : {"info " + kExamples + "site.sim", "dump " + jww,
                                     "dump --json " + jww, "clip " + kExamples + "site.sim -o -"}) {
    // Standard error to the pipe, standard output to the full device.
    const Result r = kestrova::test::RunShell(kCli + " " + command + " 2>&1 >/dev/full", false);
    EXPECT_EQ(r.status, 1) << command << r.out;
    EXPECT_NE(r.out.find("kestrova-cli: error: standard output: cannot write: No space left"),
              std::string::npos)
        << command << r.out;
  }
  // Started without standard output, or input: no file the program opens for its work
  // takes the number and the output with it.
  for (const std::string command :
       {"export - -o - --format csv", "convert - -o -", "info -", "clip - -o -"}) {
    const Result r = kestrova::test::RunShell(
        kCli + " " + command + " < " + kExamples + "site.sim 2>&1 >&-", false);
    EXPECT_EQ(r.status, 1) << command << r.out;
    EXPECT_NE(r.out.find("standard output: cannot write: Bad file descriptor"), std::string::npos)
        << command << r.out;
  }
  const Result closedInput = kestrova::test::RunShell(kCli + " info - 2>&1 <&-", false);
  EXPECT_EQ(closedInput.out,
            "kestrova-cli: error: standard input: cannot read: Bad file descriptor\n");
}

// Input that is read once into a temporary file and never ends (a device of zeros) is
// refused at its first bytes, not kept until the disk is full (here, until 64 MB).
TEST_F(Cli, InputThatNeverEndsIsRefusedAtItsStart) {
  const std::string notText = "this is not a text file (it holds NUL bytes); nothing was loaded\n";
  const std::string notDrawing =
      "byte offset 0: not a Jw_cad drawing: the file does not begin with \"JwwData.\"\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"info - < /dev/zero", "standard input: " + notText},
      {"convert /dev/zero -o " + Path("z.jww"), "/dev/zero: " + notText},
      {"dump - < /dev/zero", "standard input: " + notDrawing},
      {"dump /dev/zero", "/dev/zero: " + notDrawing},
  };
  for (const auto& [command, message] : cases) {
    const Result r =
        kestrova::test::RunShell("(ulimit -f 131072; " + kCli + " " + command + ") 2>&1", false);
    EXPECT_EQ(r.out, "kestrova-cli: error: " + message) << command;
  }
}

// A dump into a file goes past the system's cache a few megabytes at a time where the
// shell's descriptor stands at a block's start: the file holds what a pipe gets, between
// what the shell wrote before and after it, and a file that may not grow is an error.
TEST_F(Cli, DumpIntoAFileIsWhatAPipeGets) {
  const std::string site = Path("large.sim"), jww = Path("large.jww"), out = Path("out");
  kestrova::test::WriteLargeSite(site, 30'000);
  ASSERT_EQ(RunCli("convert " + site + " -o " + jww).status, 0);
  for (const std::string json : {"", "--json "}) {
    const std::string dump = kCli + " dump " + json + jww;
    const Result piped = kestrova::test::RunShell(dump, false);
    ASSERT_EQ(piped.status, 0);
    ASSERT_GT(piped.out.size(), size_t{20} << 20);  // several of its buffers
    ASSERT_EQ(kestrova::test::RunShell(dump + " > " + out).status, 0);
    EXPECT_TRUE(kestrova::ReadFileBytes(out) == piped.out) << json;
    // At a block's start, and in the middle of one, where the writing goes through the cache.
    for (const std::string& head : {std::string(4096, 'h'), std::string("head\n")}) {
      WriteText(Path("head"), head);
      ASSERT_EQ(kestrova::test::RunShell("{ cat " + Path("head") + "; " + dump +
                                         "; printf 'tail\\n'; } > " + out)
                    .status,
                0);
      EXPECT_TRUE(kestrova::ReadFileBytes(out) == head + piped.out + "tail\n") << json;
    }
  }
  // 8 MB in dash's blocks of 512 bytes, 16 MB in bash's of 1024: the program is not
  // killed but says so, and the shell's next output follows the bytes written.
  const Result r = kestrova::test::RunShell("{ { (ulimit -f 16384; " + kCli + " dump " + jww +
                                            "; echo $? >&2); printf 'tail\\n'; } > " + out + "; }");
  EXPECT_EQ(r.out, "kestrova-cli: error: standard output: cannot write: File too large\n1\n");
  const std::string cut = kestrova::ReadFileBytes(out);
  ASSERT_GE(cut.size(), size_t{8} << 20);
  EXPECT_EQ(cut.substr(cut.size() - 5), "tail\n");
  const std::string text = kestrova::test::RunShell(kCli + " dump " + jww, false).out;
  EXPECT_TRUE(text.starts_with(cut.substr(0, cut.size() - 5)));
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
  EXPECT_EQ(dropped.out.find("marks and remarks"), std::string::npos) << dropped.out;
  const Result noMarks = RunCli("export " + kExamples + "site.sim -o " + Path("x.sim"));
  EXPECT_EQ(noMarks.out, "kestrova-cli: warning: " + Path("x.sim") +
                             ": the marks and remarks of 6 points were not saved: only a ZHY or "
                             "CSV file holds them\nkestrova-cli: wrote 11 points to " +
                             Path("x.sim") + "\n");
  // An APA file numbers its points by their rows: numbers that differ are lost, from
  // temporary files as from the table.
  WriteText(Path("n.sim"), "G00,01,x,\r\nA01,101,a,10,20,1,\r\nA01,2,b,11,21,1,\r\nA99,\r\n");
  for (const std::string& tmp : {std::string(), "TMPDIR=" + Path("missing") + " "}) {
    const Result apa =
        kestrova::test::RunShell(tmp + kCli + " export " + Path("n.sim") + " -o " + Path("n.apa"));
    EXPECT_NE(apa.out.find("kestrova-cli: warning: " + Path("n.apa") +
                           ": the point number of 1 point was not saved: an APA file numbers its "
                           "points by their rows\n"),
              std::string::npos)
        << apa.out;
  }
  // One point gathered as it is read, saved as a list of one line that will not load.
  WriteText(Path("one.sim"), "G00,01,s,\r\nA01,1,P1,1.5,2.5,0,\r\n");
  const Result one = RunCli("export " + Path("one.sim") + " -o " + Path("one.csv"));
  EXPECT_EQ(one.status, 0) << one.out;
  EXPECT_NE(one.out.find("one.csv: a ZHY or CSV file of one point is a single line"),
            std::string::npos)
      << one.out;
  // Two lines, no point: nothing is written, and a file already there is kept, whether the
  // points are gathered or held in a table.
  WriteText(Path("empty.sim"), "G00,01,x,\r\nA00,\r\nA99,\r\n");
  const Result none =
      RunCli("convert " + Path("empty.sim") + " " + Path("empty.sim") + " -o " + Path("x.jww"));
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "kestrova-cli: error: " + Path("empty.sim") + ", " + Path("empty.sim") +
                          ": no point was read; nothing was written\n");
  EXPECT_FALSE(fs::exists(Path("x.jww")));
  WriteText(Path("kept.zhy"), "1,P1,1.000,2.000,0.000\r\n2,P2,3.000,4.000,0.000\r\n");
  for (const std::string& files :
       {Path("empty.sim"), Path("empty.sim") + " " + Path("empty.sim"),
        Path("empty.sim") + " --format sima", Path("empty.sim") + " --format kml --crs EPSG:6677",
        Path("empty.sim") + " --format gpkg --crs EPSG:6677"}) {
    const Result exported = RunCli("export " + files + " -o " + Path("kept.zhy"));
    EXPECT_EQ(exported.status, 1) << files;
    EXPECT_NE(exported.out.find(": no point was read; nothing was written\n"), std::string::npos)
        << exported.out;
    EXPECT_EQ(kestrova::ReadFileBytes(Path("kept.zhy")),
              "1,P1,1.000,2.000,0.000\r\n2,P2,3.000,4.000,0.000\r\n");
  }
  // Not a text file.
  const Result binary = RunCli("info " + kCli);
  EXPECT_EQ(binary.status, 1);
}

TEST_F(Cli, ConvertWorksInTemporaryFilesThatLeaveNothingBehind) {
  fs::create_directory(Path("tmp"));
  // A file with warnings of its own, read twice: each file's are said in their turn.
  WriteText(Path("odd.sim"), "G00,01,x,\r\nA01,1,a,0,0,0,\r\nA01,2,b,1,x,0,\r\n");
  const std::string files = kExamples + "site.sim " + Path("odd.sim") + " " + kExamples +
                            "site.zhy " + kExamples + "site.sim " + Path("odd.sim");
  const Result streamed = RunCli("convert " + files + " -o " + Path("a.jww") + " --base-row 4");
  // Without a temporary folder the points are held in memory: the same drawing.
  const Result held =
      kestrova::test::RunShell("TMPDIR=" + Path("missing") + " " + kCli + " convert " + files +
                               " -o " + Path("b.jww") + " --base-row 4");
  ASSERT_EQ(streamed.status, 0) << streamed.out;
  ASSERT_EQ(held.status, 0) << held.out;
  EXPECT_NE(held.out.find("kestrova-cli: warning: cannot create a temporary file in " +
                          Path("missing") + " (TMPDIR): "),
            std::string::npos)
      << held.out;
  EXPECT_EQ(kestrova::ReadFileBytes(Path("a.jww")), kestrova::ReadFileBytes(Path("b.jww")));
  // The clipboard drawing too.
  ASSERT_EQ(RunCli("clip " + files + " -o " + Path("a.clip") + " --base-row 4").status, 0);
  ASSERT_EQ(kestrova::test::RunShell("TMPDIR=" + Path("missing") + " " + kCli + " clip " + files +
                                     " -o " + Path("b.clip") + " --base-row 4")
                .status,
            0);
  EXPECT_EQ(kestrova::ReadFileBytes(Path("a.clip")), kestrova::ReadFileBytes(Path("b.clip")));
  // An empty TMPDIR is no folder: the system's own is used.
  const Result empty = kestrova::test::RunShell("TMPDIR= " + kCli + " convert " + files + " -o " +
                                                Path("e.jww") + " --base-row 4");
  EXPECT_EQ(empty.status, 0) << empty.out;
  EXPECT_EQ(empty.out.find("warning: cannot create a temporary file"), std::string::npos)
      << empty.out;
  // The second copy of the site repeats every number of the first. The warnings are the
  // table's, in its order.
  EXPECT_NE(streamed.out.find(kExamples + "site.sim: 11 points repeat point numbers"),
            std::string::npos)
      << streamed.out;
  const auto warnings = [](std::string out) {
    out.erase(out.find("kestrova-cli: wrote"));
    const size_t notice = out.find("cannot create a temporary file");
    return notice == std::string::npos ? out : out.substr(out.find('\n', notice) + 1);
  };
  EXPECT_EQ(warnings(streamed.out), warnings(held.out));
  // Whether the drawing is written or a file is refused, the temporary folder stays empty.
  WriteText(Path("bad.sim"), "G00,01,x,\r\nA01,1,a,0,0,0,\r\nD00,1,p,yes,\r\n");
  const std::string env = "TMPDIR=" + Path("tmp") + " " + kCli + " convert ";
  EXPECT_EQ(kestrova::test::RunShell(env + files + " -o " + Path("c.jww")).status, 0);
  const Result refused =
      kestrova::test::RunShell(env + files + " " + Path("bad.sim") + " -o " + Path("d.jww"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_FALSE(fs::exists(Path("d.jww")));
  // The files before the one refused are told of as the table's load tells them.
  const Result refusedHeld =
      kestrova::test::RunShell("TMPDIR=" + Path("missing") + " " + kCli + " convert " + files +
                               " " + Path("bad.sim") + " -o " + Path("d.jww"));
  EXPECT_EQ(refused.out, refusedHeld.out.substr(refusedHeld.out.find('\n') + 1));
  EXPECT_TRUE(fs::is_empty(Path("tmp")));
}

TEST_F(Cli, DumpJsonEscapesTextsAndHasNoNonNumbers) {
  kestrova::JwwDocument doc;
  kestrova::Init(doc);
  doc.Header.Version = 420;
  doc.Header.LayerGroups[3].GroupScale = std::nan("");
  kestrova::TDataSen line;
  line.EndX = HUGE_VAL;
  line.EndY = std::nan("");
  kestrova::Add(doc, line);
  kestrova::TDataMoji text;
  text.FontName = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e";  // ＭＳ ゴシック
  text.Text = "a\"b\\c\td\x8b\xab\x8a\x45";                             // then 境界
  kestrova::Add(doc, text);
  doc.EntityListCount = 2;
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
  EXPECT_NE(json.out.find(R"("font":"ＭＳ ゴシック","text":"a\"b\\c\u0009d境界"})"),
            std::string::npos)
      << json.out;
  const Result plain = RunCli("dump " + Path("odd.jww"));
  EXPECT_NE(plain.out.find("font=\"ＭＳ ゴシック\" text=\"a\\\"b\\\\c\\u0009d境界\"\n"),
            std::string::npos)
      << plain.out;
}

TEST_F(Cli, PlotDrawsTheExampleSiteFittedIntoTheBox) {
  const std::string out = Path("site.svg");
  const Result r =
      RunCli("plot " + kExamples + "site.sim -o " + out + " --jwcad-settings /dev/null");
  ASSERT_EQ(r.status, 1) << r.out;  // not a registry export: named in the error
  EXPECT_NE(r.out.find("/dev/null"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(out));

  ASSERT_EQ(RunCli("plot " + kExamples + "site.sim -o " + out).status, 0);
  const std::string svg = kestrova::ReadFileBytes(out);
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
  EXPECT_NE(svg.find("width=\"800\" height=\"600\""), std::string::npos);
  // Survey axes (a SIMA file): the extent (55, 84.448) with the 5-unit margin gives the
  // scale 600 / 89.448; KBM-1 lands on (434.17, 249.97).
  EXPECT_NE(svg.find("<ellipse cx=\"434\" cy=\"250\" rx=\"3\" ry=\"3\" stroke=\"#2222ee\""),
            std::string::npos);
  EXPECT_EQ(Count(svg, "<ellipse"), 22u);   // a dot and a circle for each of 11 points
  EXPECT_EQ(Count(svg, "<polyline"), 13u);  // every SIMA segment
  // One element per label, a position per character: 11 names and 2 parcel labels.
  EXPECT_EQ(Count(svg, "<text "), 13u);
  EXPECT_EQ(Count(svg, "\">境界"), 6u);
  EXPECT_NE(svg.find("x=\"0 5 10\" y=\"8.8 8.8 8.8\""), std::string::npos);  // T-1
  EXPECT_EQ(Count(svg, "fill=\"#22cc22\">1番"), 2u);  // the parcel labels, green
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");

  // Standard output, another size.
  const Result piped = kestrova::test::RunShell(
      kCli + " plot " + kExamples + "site.sim -o - --size 400x300 2>/dev/null", false);
  ASSERT_EQ(piped.status, 0);
  EXPECT_NE(piped.out.find("width=\"400\" height=\"300\""), std::string::npos);
  EXPECT_EQ(Count(piped.out, "<ellipse"), 22u);
}

TEST_F(Cli, PlotTheSettingsChooseTheAxes) {
  WriteText(Path("math.INI"), "[Coordinate]\r\nFlg=0\r\n");
  const std::string out = Path("math.svg");
  ASSERT_EQ(
      RunCli("plot " + kExamples + "site.zhy -o " + out + " --settings " + Path("math.INI")).status,
      0);
  // X across: scale 800 / 89.448, KBM-1 at (466.70, 254.44).
  EXPECT_NE(kestrova::ReadFileBytes(out).find("<ellipse cx=\"467\" cy=\"254\" rx=\"3\""),
            std::string::npos);
}

// Coordinates far beyond any survey: points beyond ±1e10 are fitted like any others
// (their labels on the canvas, the drawing centred on them); where even the fit cannot
// place them, the plot says so.
TEST_F(Cli, PlotAndBoundsOfHugeCoordinates) {
  WriteText(Path("far.zhy"), "1,A,1e15,2e15,0\r\n2,B,1e15,2e15,0\r\n");
  const Result info = RunCli("info " + Path("far.zhy"));
  EXPECT_NE(info.out.find("X: 1E15 .. 1E15\nY: 2E15 .. 2E15\n"), std::string::npos) << info.out;
  const Result plot = RunCli("plot " + Path("far.zhy") + " -o - --size 800x600");
  ASSERT_EQ(plot.status, 0) << plot.out;
  EXPECT_EQ(plot.out.find("warning"), std::string::npos) << plot.out;
  size_t labels = 0;
  for (size_t at = plot.out.find("translate("); at != std::string::npos;
       at = plot.out.find("translate(", at + 1)) {
    double x = -1;
    double y = -1;
    ASSERT_EQ(std::sscanf(plot.out.c_str() + at, "translate(%lf %lf)", &x, &y), 2);
    EXPECT_TRUE(x >= 0 && x <= 800 && y >= 0 && y <= 600) << plot.out.substr(at, 40);
    ++labels;
  }
  EXPECT_GE(labels, 1u) << plot.out;

  WriteText(Path("huge.zhy"), "1,A,1e300,1e300,0\r\n2,B,-1e300,-1e300,0\r\n");
  const Result blank = RunCli("plot " + Path("huge.zhy") + " -o " + Path("huge.svg"));
  EXPECT_EQ(blank.status, 0) << blank.out;
  EXPECT_NE(blank.out.find("kestrova-cli: warning: the plot shows none of the 2 points: "
                           "coordinates this large (X -1E300 .. 1E300, Y -1E300 .. 1E300)"),
            std::string::npos)
      << blank.out;
}

TEST_F(Cli, PlotRefusesWhatItCannotDo) {
  for (const char* size : {"0x10", "10", "10x", "x10", "abc", "-5x5", "100001x10"}) {
    const Result r =
        RunCli("plot " + kExamples + "site.sim -o " + Path("a.svg") + " --size " + size);
    EXPECT_EQ(r.status, 2) << size;
    EXPECT_NE(r.out.find("--size"), std::string::npos) << r.out;
  }
  EXPECT_EQ(RunCli("plot " + kExamples + "missing.sim -o " + Path("a.svg")).status, 1);
  const Result r = RunCli("plot " + kExamples + "site.sim -o " + Path("no/such/folder/a.svg"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("no/such/folder"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(Path("a.svg")));
}

// Loading a table is the fallback where no temporary file can be made: the commands that
// stream give what it gives, byte for byte, over several files with parcels, polylines,
// an unclosed parcel and numbers repeated across files.
TEST_F(Cli, StreamedCommandsEqualTheTable) {
  WriteText(Path("extra.sim"),
            "G00,01,Other,\r\nZ00,one title,\r\nA00,\r\nA01,1,a,-12050,-30500,1,\r\n"
            "A01,900,,-12060,-30510,2,\r\nA01,901,nm,-12070,-30520,3,5,rem\r\nA99,\r\n"
            "D00,1,lot,1,\r\nB01,1,a,\r\nB01,900,,\r\nB01,901,,\r\nD99,\r\n"
            "D00,2,open,1,\r\nB01,1,\r\nF00,1,road,\r\nB01,901,\r\nB01,1,\r\nF99,\r\n");
  const std::string files = kExamples + "site.sim " + kExamples + "site.zhy " + Path("extra.sim") +
                            " " + kExamples + "site.sim";
  const std::string held = "TMPDIR=" + Path("missing") + " " + kCli;
  const std::vector<std::pair<std::string, std::string>> commands = {
      {"info " + files, ""},
      {"plot " + files + " -o ", "svg"},
      {"plot " + files + " --size 3000x900 -o ", "svg"},
      {"export " + files + " -o ", "zhy"},
      {"export " + files + " -o ", "csv"},
      {"export " + files + " -o ", "apa"},
      {"export " + files + " -o ", "sim"},
  };
  for (const auto& [command, ext] : commands) {
    const std::string a = ext.empty() ? "" : Path("a." + ext);
    const std::string b = ext.empty() ? "" : Path("b." + ext);
    const Result streamed = kestrova::test::RunShell(kCli + " " + command + a, false);
    const Result table = kestrova::test::RunShell(held + " " + command + b, false);
    ASSERT_EQ(streamed.status, 0) << command;
    ASSERT_EQ(table.status, 0) << command;
    EXPECT_EQ(streamed.out, table.out) << command;
    if (!ext.empty()) {
      EXPECT_EQ(kestrova::ReadFileBytes(a), kestrova::ReadFileBytes(b)) << command;
    }
  }
}

// Notes between the sections and a parcel read before its points stay where they stood,
// from a file, from standard input and from a named pipe (read once, though the export
// reads the site again), and the load's warnings are said once.
TEST_F(Cli, SimaExportKeepsNotesAndEarlyParcelsInPlace) {
  const std::string site =
      "G00,01,site,\r\nZ00,one,\r\nZ00,two,\r\nZ00,three,\r\nD00,1,P,1,\r\nB01,1,a,\r\n"
      "B01,2,b,\r\nB01,3,c,\r\nD99,\r\nA00,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\n"
      "A01,3,c,10,10,0,\r\nA99,\r\nZ00,parcels,\r\nD00,2,Q,1,\r\nB01,1,a,\r\nB01,2,b,\r\n"
      "B01,3,c,\r\nD99,\r\nZ00,end,\r\n";
  WriteText(Path("site.sim"), site);
  const Result fromFile = RunCli("export " + Path("site.sim") + " -o " + Path("a.sim"));
  ASSERT_EQ(fromFile.status, 0) << fromFile.out;
  EXPECT_EQ(kestrova::ReadFileBytes(Path("a.sim")), site);
  const Result fromStdin = RunCli("export - -o " + Path("b.sim") + " < " + Path("site.sim"));
  ASSERT_EQ(fromStdin.status, 0) << fromStdin.out;
  EXPECT_EQ(kestrova::ReadFileBytes(Path("b.sim")), site);
  const std::string fifo = Path("site.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const Result fromPipe =
      kestrova::test::RunShell("cat " + Path("site.sim") + " > " + fifo + " & timeout 20 " + kCli +
                               " export " + fifo + " -o " + Path("p.sim") + " 2>&1");
  ASSERT_EQ(fromPipe.status, 0) << fromPipe.out;
  EXPECT_EQ(kestrova::ReadFileBytes(Path("p.sim")), site);
  // A field that is no number is warned about once though the file is read twice.
  std::string bad = site;
  bad.replace(bad.find("10,10,0"), 7, "10,x,0");
  WriteText(Path("bad.sim"), bad);
  const Result warned = RunCli("export " + Path("bad.sim") + " -o " + Path("c.sim"));
  ASSERT_EQ(warned.status, 0) << warned.out;
  EXPECT_EQ(Count(warned.out, "warning"), 1u) << warned.out;
}

// A command that holds the table of a site of 200,000 points with long remarks (some
// 80 MB), the whole picture or the whole drawing goes far past the bound, one that
// streams stays near 35 MB. The clipboard drawing is gathered as the drawing file is,
// and its payload written as it is made.
TEST_F(Cli, LargeSitesStreamInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own memory hides the program's";
#else
  const std::string site = Path("large.sim");
  kestrova::test::WriteLargeSite(site, 200'000);
  const std::string drawing = Path("large.jww");
  ASSERT_EQ(RunCli("convert " + site + " -o " + drawing).status, 0);
  constexpr double kBoundMb = 56.0;
  std::vector<std::pair<std::vector<std::string>, double>> commands = {
      {{"info", site}, kBoundMb},
      {{"plot", site, "-o", Path("large.svg")}, kBoundMb},
      {{"export", site, "-o", Path("large.zhy")}, kBoundMb},
      {{"export", site, "-o", Path("copy.sim")}, kBoundMb},
      {{"export", site, "-o", Path("large.apa")}, kBoundMb},
      {{"dump", drawing}, kBoundMb},
      {{"dump", drawing, "--json"}, kBoundMb},
      {{"clip", site, "-o", Path("large.clip")}, kBoundMb},
  };
  // A text of 12 MB is printed in about the room it takes.
  const std::string longText = Path("long.jww");
  {
    kestrova::JwwDocument doc;
    kestrova::Init(doc);
    doc.Header.Version = 420;
    kestrova::TDataMoji text;
    text.Text = std::string(12 << 20, 'a');
    kestrova::Add(doc, text);
    doc.EntityListCount = 1;
    kestrova::FileOutStream out(longText);
    ASSERT_TRUE(kestrova::WriteJwwDrawing(doc, out, 420));
    out.Commit();
  }
  commands.push_back({{"dump", longText, "--json"}, 90.0});
  // A site saved as UTF-16 (48 MB) is converted as it is read, not whole.
  const std::string narrow = Path("narrow.sim");
  const std::string wide = Path("wide.sim");
  kestrova::test::WriteLargeSite(narrow, 60'000);
  {
    std::ifstream in(narrow, std::ios::binary);
    std::ofstream out(wide, std::ios::binary);
    out << "\xFF\xFE";
    for (char c; in.get(c);)
      out << c << '\0';
  }
  commands.push_back({{"info", wide}, kBoundMb});
  for (const auto& [command, bound] : commands) {
    std::vector<std::string> args = {kCli};
    args.insert(args.end(), command.begin(), command.end());
    const double peak = kestrova::test::PeakMegabytes(args);
    EXPECT_GT(peak, 0.0) << command[0] << " " << command.back();
    EXPECT_LT(peak, bound) << command[0] << " " << command.back();
  }
  // A file cut short by a crash may end in zeros without a line end: no text, refused at
  // its first block rather than gathered as one long line (the zeros take no disk).
  const std::string zeros = Path("zeros.sim");
  WriteText(zeros, "A01,1,a,1,2,3,\r\n");
  std::filesystem::resize_file(zeros, std::uintmax_t{512} << 20);
  const double refused = kestrova::test::PeakMegabytes({kCli, "info", zeros}, {}, 1);
  EXPECT_GT(refused, 0.0);
  EXPECT_LT(refused, kBoundMb);
  // Standard input, which can be read only once, is not held either: a site, which a
  // SIMA export may have to read twice, nor a drawing (some 85 MB), which is read twice.
  const std::vector<std::pair<std::vector<std::string>, std::string>> piped = {
      {{"convert", "-", "-o", Path("piped.jww")}, site},
      {{"export", "-", "-o", Path("piped.sim")}, site},
      {{"dump", "-"}, drawing},
  };
  for (const auto& [command, input] : piped) {
    std::vector<std::string> args = {kCli};
    args.insert(args.end(), command.begin(), command.end());
    const double peak = kestrova::test::PeakMegabytes(args, input);
    EXPECT_GT(peak, 0.0) << command[0];
    EXPECT_LT(peak, kBoundMb) << command[0];
  }
  EXPECT_EQ(kestrova::ReadFileBytes(Path("piped.jww")), kestrova::ReadFileBytes(drawing));
  EXPECT_EQ(kestrova::ReadFileBytes(Path("piped.sim")), kestrova::ReadFileBytes(Path("copy.sim")));
  // Nor is a named pipe, as a shell's <(...) gives, named as the input.
  const std::string fifo = Path("site.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer = kestrova::test::WriteFifo(
      fifo, [&site](std::ostream& out) { out << std::ifstream(site, std::ios::binary).rdbuf(); });
  const double fromPipe =
      kestrova::test::PeakMegabytes({kCli, "convert", "/dev/stdin", "-o", Path("fifo.jww")}, fifo);
  writer.join();
  EXPECT_GT(fromPipe, 0.0);
  EXPECT_LT(fromPipe, kBoundMb);
  EXPECT_EQ(kestrova::ReadFileBytes(Path("fifo.jww")), kestrova::ReadFileBytes(drawing));
#endif
}

}  // namespace
