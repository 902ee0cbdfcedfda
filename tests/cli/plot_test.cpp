// kestrova-cli plot, run as a user would.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/atomic_file.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;

const std::string kCli = KESTROVA_CLI;
const std::string kExamples = KESTROVA_SOURCE_DIR "/examples/";

using Result = kestrova::test::ShellResult;

Result RunPlotCli(const std::string& args, bool withErrors = true) {
  return kestrova::test::RunShell(kCli + " " + args + (withErrors ? "" : " 2>/dev/null"),
                                  withErrors);
}

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
    ++n;
  return n;
}

class PlotCli : public kestrova::test::FolderTest {
 protected:
  PlotCli() : FolderTest("kestrova-plot-cli-") {}
};

TEST_F(PlotCli, DrawsTheExampleSiteFittedIntoTheBox) {
  const std::string out = Path("site.svg");
  const Result r =
      RunPlotCli("plot " + kExamples + "site.sim -o " + out + " --jwcad-settings /dev/null");
  ASSERT_EQ(r.status, 1) << r.out;  // not a registry export: named in the error
  EXPECT_NE(r.out.find("/dev/null"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(out));

  ASSERT_EQ(RunPlotCli("plot " + kExamples + "site.sim -o " + out).status, 0);
  const std::string svg = kestrova::ReadFileBytes(out);
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
  EXPECT_NE(svg.find("width=\"800\" height=\"600\""), std::string::npos);
  // Survey axes (a SIMA file): the extent (55, 84.448) with the 5-unit margin gives the
  // scale 600 / 89.448; KBM-1 lands on (434.17, 249.97).
  EXPECT_NE(svg.find("<ellipse cx=\"434\" cy=\"250\" rx=\"3\" ry=\"3\" stroke=\"#2222ee\""),
            std::string::npos);
  EXPECT_EQ(Count(svg, "<ellipse"), 22u);   // a dot and a circle for each of 11 points
  EXPECT_EQ(Count(svg, "<polyline"), 13u);  // every SIMA segment
  EXPECT_EQ(Count(svg, ">境</text>"), 6u);  // 境界1 .. 境界6, character by character
  EXPECT_EQ(Count(svg, "fill=\"#22cc22\">番</text>"), 2u);  // the parcel labels, green
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");

  // Standard output, another size.
  const Result piped = RunPlotCli("plot " + kExamples + "site.sim -o - --size 400x300", false);
  ASSERT_EQ(piped.status, 0);
  EXPECT_NE(piped.out.find("width=\"400\" height=\"300\""), std::string::npos);
  EXPECT_EQ(Count(piped.out, "<ellipse"), 22u);
}

TEST_F(PlotCli, TheSettingsChooseTheAxes) {
  std::ofstream(Path("math.INI")) << "[Coordinate]\r\nFlg=0\r\n";
  const std::string out = Path("math.svg");
  ASSERT_EQ(
      RunPlotCli("plot " + kExamples + "site.zhy -o " + out + " --settings " + Path("math.INI"))
          .status,
      0);
  // X across: scale 800 / 89.448, KBM-1 at (466.70, 254.44).
  EXPECT_NE(kestrova::ReadFileBytes(out).find("<ellipse cx=\"467\" cy=\"254\" rx=\"3\""),
            std::string::npos);
}

TEST_F(PlotCli, RefusesWhatItCannotDo) {
  for (const char* size : {"0x10", "10", "10x", "x10", "abc", "-5x5", "100001x10"}) {
    const Result r =
        RunPlotCli("plot " + kExamples + "site.sim -o " + Path("a.svg") + " --size " + size);
    EXPECT_EQ(r.status, 2) << size;
    EXPECT_NE(r.out.find("--size"), std::string::npos) << r.out;
  }
  EXPECT_EQ(RunPlotCli("plot " + kExamples + "missing.sim -o " + Path("a.svg")).status, 1);
  const Result r = RunPlotCli("plot " + kExamples + "site.sim -o " + Path("no/such/folder/a.svg"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("no/such/folder"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(Path("a.svg")));
}

}  // namespace
