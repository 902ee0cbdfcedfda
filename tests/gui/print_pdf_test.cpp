// Prints coordinate files to PDF as a script would and reads the PDF back with
// poppler's pdfinfo and pdftotext.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/atomic_file.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "coords/cell_grid.h"
#include "coords/coordinate_file.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

const std::string kExamples = KESTROVA_SOURCE_DIR "/examples/";

using Result = test::ShellResult;
using test::RunShell;

// environment: assignments put before the program, each followed by a blank.
Result PrintToPdf(const std::string& args, const std::string& environment = "") {
  return RunShell(environment + "QT_QPA_PLATFORM=offscreen " + KESTROVA_PRINT_PDF + " " + args);
}

int PageCount(const std::string& pdf) {
  const Result info = RunShell("pdfinfo " + pdf);
  const size_t at = info.out.find("Pages:");
  if (info.status != 0 || at == std::string::npos) return -1;
  return std::atoi(info.out.c_str() + at + 6);
}

std::string PageText(const std::string& pdf, int page) {
  const std::string p = std::to_string(page);
  return RunShell("pdftotext -layout -f " + p + " -l " + p + " " + pdf + " -").out;
}

// Whitespace of any width taken out, so header texts with their blanks compare whatever
// spacing the text extraction chose.
std::string Squeezed(const std::string& text) {
  std::string s;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "\xE3\x80\x80") == 0) {  // ideographic space
      i += 2;
    } else if (text[i] != ' ' && text[i] != '\n' && text[i] != '\f') {
      s += text[i];
    }
  }
  return s;
}

// The grid the program shows for the files: what the PDF has to contain.
CellGrid GridOf(const std::string& file) {
  CoordinateData data;
  CellGrid grid;
  ClearPointTable(data.Table, data.Sima, grid);
  LoadCoordinateFile(file, data, false);
  FillGridFromPoints(data.Table, grid);
  return grid;
}

std::string Trimmed(const std::string& cell) {
  return std::string(TrimBlanks(cell));
}

class PrintPdf : public test::FolderTest {
 protected:
  PrintPdf() : FolderTest("kestrova-print-") {}
};

TEST_F(PrintPdf, TheExampleSiteOnOneA4Page) {
  const std::string pdf = Path("site.pdf");
  const Result r = PrintToPdf("--print-pdf " + pdf + " " + kExamples + "site.sim");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("kestrova: wrote 1 page of 11 points to " + pdf + "\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(PageCount(pdf), 1);
  EXPECT_NE(RunShell("pdfinfo " + pdf).out.find("595 x 842 pts (A4)"), std::string::npos);

  const std::string text = PageText(pdf, 1);
  const std::string squeezed = Squeezed(text);
  for (const char* header : kGridHeaders) {
    const std::string h = Squeezed(Cp932ToUtf8(header));
    EXPECT_NE(squeezed.find(h), std::string::npos) << h << " missing from\n" << text;
  }
  const CellGrid grid = GridOf(kExamples + "site.sim");
  ASSERT_EQ(grid.RowCount(), 13);
  for (int row = 1; row <= 11; ++row) {
    for (int c : {2, 3, 4, 5}) {
      const std::string cell = Cp932ToUtf8(Trimmed(grid.Rows[row][c]));
      EXPECT_NE(text.find(cell), std::string::npos)
          << "row " << row << " column " << c << " " << cell << " missing from\n"
          << text;
    }
  }
  EXPECT_NE(text.find("引照点あり"), std::string::npos);

  // With SOURCE_DATE_EPOCH the same list is the same PDF, created then.
  const std::string again = Path("again.pdf");
  ASSERT_EQ(RunShell("SOURCE_DATE_EPOCH=1796688000 QT_QPA_PLATFORM=offscreen " +
                     std::string(KESTROVA_PRINT_PDF) + " --print-pdf " + again + " " + kExamples +
                     "site.sim 2>/dev/null && SOURCE_DATE_EPOCH=1796688000 " + KESTROVA_PRINT_PDF +
                     " --print-pdf " + pdf + " " + kExamples + "site.sim 2>/dev/null && cmp " +
                     again + " " + pdf)
                .status,
            0);
  EXPECT_NE(RunShell("TZ=UTC pdfinfo " + pdf).out.find("Dec  8 00:00:00 2026 UTC"),
            std::string::npos)
      << RunShell("pdfinfo " + pdf).out;
}

TEST_F(PrintPdf, CharactersTheFaceLacksAreStillPrinted) {
  // IPA Gothic has no "∑" (code page 932's 0x8794) nor the user-defined characters: the
  // names that hold them are printed all the same, from another font.
  WriteFileAtomic(Path("odd.zhy"),
                  "1,\x87\x94\x8B\xAB\x8A\x45"
                  "1,100.000,200.000,1.5,,,\r\n"
                  "2,A\xF0\x40"
                  "B,110.000,210.000,1.5,,,\r\n");
  const std::string pdf = Path("odd.pdf");
  const Result r = PrintToPdf("--print-pdf " + pdf + " " + Path("odd.zhy"));
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string text = PageText(pdf, 1);
  EXPECT_NE(text.find("\xE2\x88\x91\xE5\xA2\x83\xE7\x95\x8C"
                      "1"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("110.000"), std::string::npos) << text;
}

TEST_F(PrintPdf, LongListsRunOnAsBandsWithTheHeaderOnEveryPage) {
  // 120 points: the grid has 121 rows below its header. At 600 dpi an A4 sheet holds 52
  // rows below the header ((7017 - 591 - 472 - 112) / 112), an A3 sheet 78.
  std::string zhy;
  for (int i = 1; i <= 120; ++i) {
    zhy += std::to_string(i) + ",P" + std::to_string(i) + "," + FormatFixed(1000 + i * 1.25, 1, 3) +
           ",-200.5,10,,,\r\n";
  }
  WriteFileAtomic(Path("long.zhy"), zhy);
  const std::string a4 = Path("a4.pdf");
  ASSERT_EQ(PrintToPdf("--print-pdf " + a4 + " " + Path("long.zhy")).status, 0);
  EXPECT_EQ(PageCount(a4), 3);
  const std::string a3 = Path("a3.pdf");
  const Result r = PrintToPdf("--print-pdf " + a3 + " --paper A3 " + Path("long.zhy"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("wrote 2 pages of 120 points"), std::string::npos) << r.out;
  EXPECT_EQ(PageCount(a3), 2);
  EXPECT_NE(RunShell("pdfinfo " + a3).out.find("(A3)"), std::string::npos);

  // Rows 1-52, 53-104 and 105-121 on the A4 sheets, each under the header.
  const std::array<std::string, 3> pages = {PageText(a4, 1), PageText(a4, 2), PageText(a4, 3)};
  for (const std::string& page : pages) {
    EXPECT_NE(Squeezed(page).find("\xE7\x82\xB9\xE7\x95\xAA\xE5\x8F\xB7"), std::string::npos);
  }
  const auto x = [](int i) { return FormatFixed(1000 + i * 1.25, 1, 3); };
  EXPECT_NE(pages[0].find(x(52)), std::string::npos);
  EXPECT_EQ(pages[0].find(x(53)), std::string::npos);
  EXPECT_NE(pages[1].find(x(53)), std::string::npos);
  EXPECT_NE(pages[1].find(x(104)), std::string::npos);
  EXPECT_EQ(pages[1].find(x(105)), std::string::npos);
  EXPECT_NE(pages[2].find(x(105)), std::string::npos);
  EXPECT_NE(pages[2].find(x(120)), std::string::npos);
  EXPECT_NE(pages[2].find("*120"), std::string::npos);

  // Appending files: the site's points follow the long list's, and numbers the site
  // repeats are counted against it.
  const std::string files = " " + Path("long.zhy") + " " + kExamples + "site.sim";
  const std::string both = Path("both.pdf");
  const Result appended = PrintToPdf("--print-pdf " + both + files);
  ASSERT_EQ(appended.status, 0) << appended.out;
  EXPECT_NE(appended.out.find("of 131 points"), std::string::npos) << appended.out;
  EXPECT_NE(appended.out.find("site.sim: 11 points repeat point numbers of the files loaded "
                              "before"),
            std::string::npos)
      << appended.out;
  EXPECT_EQ(PageCount(both), 3);

  // The points are gathered in temporary files, not held in a table; without a temporary
  // folder the table holds them, and the PDF and the warnings are the same.
  const std::string fixed = "SOURCE_DATE_EPOCH=1700000000 ";
  const Result gathered = PrintToPdf("--print-pdf " + Path("gathered.pdf") + files, fixed);
  const Result held = PrintToPdf("--print-pdf " + Path("held.pdf") + files,
                                 fixed + "TMPDIR=" + Path("missing") + " ");
  ASSERT_EQ(gathered.status, 0) << gathered.out;
  ASSERT_EQ(held.status, 0) << held.out;
  // What the program says; Qt's own notes depend on the temporary folder.
  const auto said = [](const std::string& out, const std::string& pdf) {
    std::istringstream lines(out);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("kestrova: ") && !line.ends_with("; the points are held in memory"))
        kept += line.substr(0, line.find(pdf)) + "\n";
    }
    return kept;
  };
  EXPECT_NE(held.out.find("; the points are held in memory\n"), std::string::npos) << held.out;
  EXPECT_EQ(said(held.out, "held.pdf"), said(gathered.out, "gathered.pdf"));
  EXPECT_EQ(said(gathered.out, "gathered.pdf"), said(appended.out, "both.pdf"));
  EXPECT_EQ(ReadFileBytes(Path("gathered.pdf")), ReadFileBytes(Path("held.pdf")));

  // A later file that cannot be read: the warnings of the files before it, repeated
  // numbers included, come before its error, as when a table holds the points.
  WriteFileAtomic(Path("nul.zhy"), std::string("1,a,0,0,0\r\n2,b,\0,0,0\r\n", 22));
  const std::string failing = files + " " + Path("nul.zhy");
  const Result failed = PrintToPdf("--print-pdf " + Path("f.pdf") + failing, fixed);
  const Result failedHeld = PrintToPdf("--print-pdf " + Path("f.pdf") + failing,
                                       fixed + "TMPDIR=" + Path("missing") + " ");
  EXPECT_EQ(failed.status, 1) << failed.out;
  EXPECT_NE(failed.out.find("site.sim: 11 points repeat point numbers"), std::string::npos)
      << failed.out;
  EXPECT_NE(failed.out.find("kestrova: error: " + Path("nul.zhy")), std::string::npos)
      << failed.out;
  EXPECT_EQ(said(failed.out, "f.pdf"), said(failedHeld.out, "f.pdf"));
  EXPECT_FALSE(fs::exists(Path("f.pdf")));
}

TEST_F(PrintPdf, UsageAndFailuresLeaveExistingFilesAlone) {
  for (const std::string args :
       {"--print-pdf", "--print-pdf out.pdf", "--print-pdf out.pdf --paper B5 x.sim",
        "--print-pdf out.pdf --paper", "--print-pdf out.pdf --colour x.sim"}) {
    const Result r = PrintToPdf(args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
    EXPECT_NE(r.out.find("usage: kestrova --print-pdf OUT.pdf"), std::string::npos) << r.out;
  }
  // An empty name is no PDF; the option is named.
  for (const std::string args : {"--print-pdf '' x.sim", "x.sim --print-pdf ''", "--print-pdf="}) {
    const Result r = PrintToPdf(args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
    EXPECT_NE(r.out.find("kestrova: --print-pdf: the name of the PDF to write is empty\n"),
              std::string::npos)
        << args << "\n"
        << r.out;
  }

  // A forgotten output name would make the first coordinate file the PDF.
  const std::string site = ReadFileBytes(kExamples + "site.sim");
  WriteFileAtomic(Path("a.sim"), site);
  Result r = PrintToPdf("--print-pdf " + Path("a.sim") + " " + dir_.string() + "/./a.sim");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("writing it would replace the file being read"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(Path("a.sim")), site);
  // Standard error into the PDF's file, or standard input taken from it.
  r = PrintToPdf("--print-pdf - " + Path("a.sim") + " > " + Path("e.pdf") +
                 " 2>&1; echo status=$?");
  EXPECT_NE(r.out.find("status=2"), std::string::npos) << r.out;
  EXPECT_NE(ReadFileBytes(Path("e.pdf")).find("standard error goes to the output standard output"),
            std::string::npos);
  r = PrintToPdf("--print-pdf - - < " + Path("a.sim") + " >> " + Path("a.sim") + " 2>" +
                 Path("e.txt") + "; echo status=$?");
  EXPECT_NE(r.out.find("status=2"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFileBytes(Path("a.sim")), site);
  fs::remove(Path("e.pdf"));
  fs::remove(Path("e.txt"));

  const std::string pdf = Path("keep.pdf");
  WriteFileAtomic(pdf, "an earlier print");
  const std::string missing = Path("missing.sim");
  r = PrintToPdf("--print-pdf " + pdf + " " + missing);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("kestrova: error: " + missing), std::string::npos) << r.out;
  EXPECT_EQ(ReadFileBytes(pdf), "an earlier print");

  // A file that cannot be read as coordinates: the line is named, the PDF kept.
  WriteFileAtomic(Path("bad.sim"), "G00,01,x,\r\nA01,1,P1,1,2,3,\r\nD00,1,A,x,\r\nD99,\r\n");
  r = PrintToPdf("--print-pdf " + pdf + " " + kExamples + "site.sim " + Path("bad.sim"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("kestrova: error: " + Path("bad.sim") + ":3: "), std::string::npos) << r.out;
  EXPECT_EQ(ReadFileBytes(pdf), "an earlier print");
  // A drawing the export wrote is text, but no list of points.
  WriteFileAtomic(Path("bad.dxf"), "  0\nSECTION\n  2\nENTITIES\n  0\nENDSEC\n  0\nEOF\n");
  r = PrintToPdf("--print-pdf " + pdf + " " + Path("bad.dxf"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("kestrova: error: " + Path("bad.dxf") + ": a DXF file is written, not read"),
            std::string::npos)
      << r.out;
  fs::remove(Path("bad.dxf"));

  r = PrintToPdf("--print-pdf " + Path("no/such/folder/out.pdf") + " " + kExamples + "site.sim");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("kestrova: error: "), std::string::npos) << r.out;

  // Nothing half-written stays behind.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    ++files;
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "keep.pdf" || name == "bad.sim" || name == "a.sim") << name;
  }
  EXPECT_EQ(files, 3u);

  // The earlier file is replaced once a print succeeds.
  ASSERT_EQ(PrintToPdf("--print-pdf " + pdf + " " + kExamples + "site.zhy").status, 0);
  EXPECT_EQ(ReadFileBytes(pdf).substr(0, 5), "%PDF-");

  // "-" sends the PDF to standard output for a pipe.
  const Result piped = RunShell(std::string("QT_QPA_PLATFORM=offscreen ") + KESTROVA_PRINT_PDF +
                                " --print-pdf - " + kExamples + "site.sim 2>/dev/null | pdfinfo -");
  EXPECT_EQ(piped.status, 0) << piped.out;
  EXPECT_NE(piped.out.find("Pages:           1"), std::string::npos) << piped.out;
}

TEST_F(PrintPdf, TheOptionMayFollowTheFilesAndStandardOutputIsWrittenInPlace) {
  // After the file it still prints, without a window.
  const std::string pdf = Path("after.pdf");
  const Result r = PrintToPdf(kExamples + "site.sim --print-pdf " + pdf + " --paper A3");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(PageCount(pdf), 1);
  // The PDF goes after what the shell's file held, not over it.
  const std::string log = Path("log");
  WriteFileAtomic(log, "earlier\n");
  const Result appended =
      RunShell(std::string("QT_QPA_PLATFORM=offscreen ") + KESTROVA_PRINT_PDF +
                   " --print-pdf /dev/stdout " + kExamples + "site.sim >> " + log + " 2>/dev/null",
               false);
  ASSERT_EQ(appended.status, 0) << appended.out;
  const std::string bytes = ReadFileBytes(log);
  EXPECT_EQ(bytes.substr(0, 13), "earlier\n%PDF-");
  WriteFileAtomic(Path("only.pdf"), bytes.substr(8));
  EXPECT_EQ(PageCount(Path("only.pdf")), 1);
  const Result piped =
      RunShell(std::string("QT_QPA_PLATFORM=offscreen ") + KESTROVA_PRINT_PDF +
               " --print-pdf /dev/stdout " + kExamples + "site.sim 2>/dev/null | pdfinfo -");
  EXPECT_EQ(piped.status, 0) << piped.out;
}

// "-" among the files is standard input, read once for both passes over the list, whether
// the points are gathered in temporary files or (beside a GIS layer) held in a table.
TEST_F(PrintPdf, StandardInputPrintsAsItsFileDoes) {
  const std::string program = std::string("QT_QPA_PLATFORM=offscreen ") + KESTROVA_PRINT_PDF;
  const std::string site = kExamples + "site.sim";
  ASSERT_EQ(PrintToPdf("--print-pdf " + Path("file.pdf") + " " + site + " " + site).status, 0);
  const Result piped = RunShell("cat " + site + " | " + program + " --print-pdf " +
                                Path("piped.pdf") + " " + site + " -");
  ASSERT_EQ(piped.status, 0) << piped.out;
  EXPECT_NE(piped.out.find("warning: standard input: 11 points repeat"), std::string::npos)
      << piped.out;
  EXPECT_EQ(PageText(Path("piped.pdf"), 1), PageText(Path("file.pdf"), 1));
#ifdef KESTROVA_HAVE_GDAL
  WriteFileAtomic(Path("one.geojson"), R"({"type":"FeatureCollection",
"crs":{"type":"name","properties":{"name":"urn:ogc:def:crs:EPSG::6677"}},
"features":[{"type":"Feature","properties":{"number":40,"name":"K40"},
 "geometry":{"type":"Point","coordinates":[-2345.678,1234.567]}}]})");
  // Written over a file that happens to be named "-", which is no input here.
  WriteFileAtomic(Path("-"), "an earlier file\n");
  const Result table = RunShell("cd " + Path("") + " && " + program + " --print-pdf ./- - " +
                                Path("one.geojson") + " < " + site);
  ASSERT_EQ(table.status, 0) << table.out;
  const std::string text = PageText(Path("-"), 1);
  EXPECT_NE(text.find("K40"), std::string::npos) << text;
  EXPECT_NE(text.find("-30545.000"), std::string::npos) << text;
  EXPECT_NE(RunShell("pdfinfo " + Path("-")).out.find("standard input"), std::string::npos);
#endif
  const Result binary = RunShell("printf 'A01,1,P,1,2,\\0\\r\\n' | " + program + " --print-pdf " +
                                 Path("nul.pdf") + " -");
  EXPECT_EQ(binary.status, 1);
  EXPECT_NE(binary.out.find("error: standard input: this is not a text file"), std::string::npos)
      << binary.out;
  EXPECT_FALSE(fs::exists(Path("nul.pdf")));
}

#ifdef KESTROVA_HAVE_GDAL
TEST_F(PrintPdf, GisPointLayersPrintAsTheWindowOpensThem) {
  // In a plane system of its own: read as it is.
  WriteFileAtomic(Path("plane.geojson"),
                  R"({"type":"FeatureCollection",
"crs":{"type":"name","properties":{"name":"urn:ogc:def:crs:EPSG::6677"}},
"features":[
{"type":"Feature","properties":{"number":7,"name":"K7"},
 "geometry":{"type":"Point","coordinates":[-2345.678,1234.567]}},
{"type":"Feature","properties":{"number":8,"name":"K8"},
 "geometry":{"type":"Point","coordinates":[-2340.5,1230.25]}}]})");
  const std::string pdf = Path("plane.pdf");
  Result r = PrintToPdf("--print-pdf " + pdf + " " + Path("plane.geojson"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("wrote 1 page of 2 points"), std::string::npos) << r.out;
  const std::string text = PageText(pdf, 1);
  for (const char* cell : {"K7", "1234.567", "-2345.678", "K8", "1230.250", "-2340.500"})
    EXPECT_NE(text.find(cell), std::string::npos) << cell << " missing from\n" << text;

  // In longitude/latitude: --crs names the survey system, without it nothing is printed.
  WriteFileAtomic(Path("lonlat.geojson"),
                  R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"name":"G1"},
 "geometry":{"type":"Point","coordinates":[139.8333333333,36.0]}}]})");
  const std::string lonlat = Path("lonlat.pdf");
  r = PrintToPdf("--print-pdf " + lonlat + " " + Path("lonlat.geojson"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("longitude/latitude"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(lonlat));
  // The origin of zone IX (EPSG:6677) is 36°N 139°50'E; GIS files append after others.
  r = PrintToPdf("--print-pdf " + lonlat + " --crs EPSG:6677 " + kExamples + "site.sim " +
                 Path("lonlat.geojson"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("of 12 points"), std::string::npos) << r.out;
  const std::string page = PageText(lonlat, 1);
  const size_t g1 = page.find(" G1 ");
  ASSERT_NE(g1, std::string::npos) << page;
  std::istringstream row(page.substr(g1, page.find('\n', g1) - g1));
  std::string name, x, y, z;
  row >> name >> x >> y >> z;
  EXPECT_EQ(x + " " + y + " " + z, "0.000 0.000 0.000") << page;

  for (const std::string args : {"--crs", "--crs WGS84", "--crs="}) {
    r = PrintToPdf("--print-pdf " + lonlat + " " + Path("lonlat.geojson") + " " + args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
    EXPECT_NE(r.out.find("usage: kestrova --print-pdf OUT.pdf [--paper A4|A3] [--crs EPSG:N]"),
              std::string::npos)
        << r.out;
  }
}
#endif

#ifdef KESTROVA_HAVE_GDAL
// A layer of points alone is printed from the points gathered as it is read, one that
// needs a table (here a Shapefile without its .cpg, whose texts wait for all of them)
// from the table: the same pages and warnings either way, after a file whose numbers
// its points repeat.
TEST_F(PrintPdf, GisLayersPrintTheSameGatheredOrLoaded) {
  std::string said[2];
  for (const std::string folder : {"gathered", "table"}) {
    fs::create_directories(Path(folder));
    const std::string shp = Path(folder + "/site.shp");
    ASSERT_EQ(RunShell(std::string(KESTROVA_CLI) + " export " + kExamples + "site.sim -o " + shp +
                       " --crs EPSG:6677")
                  .status,
              0);
    // With parcels beside its points, read after a layer that needs a table or not.
    const std::string gpkg = Path(folder + "/site.gpkg");
    ASSERT_EQ(RunShell(std::string(KESTROVA_CLI) + " export " + kExamples + "site.sim -o " + gpkg +
                       " --crs EPSG:6677")
                  .status,
              0);
    if (folder == "table") fs::remove(Path("table/site.cpg"));
    const Result r = PrintToPdf(
        "--print-pdf " + Path(folder + ".pdf") + " " + kExamples + "site.sim " + shp + " " + gpkg,
        "SOURCE_DATE_EPOCH=1700000000 ");
    ASSERT_EQ(r.status, 0) << r.out;
    said[folder == "table"] = std::regex_replace(r.out, std::regex(folder), "F");
    // Only the layer that needs no table is gathered: without a folder for that, only it
    // says its points are held in memory.
    const Result held = PrintToPdf("--print-pdf " + Path("held.pdf") + " " + shp,
                                   "TMPDIR=" + Path("missing") + " ");
    ASSERT_EQ(held.status, 0) << held.out;
    EXPECT_EQ(held.out.find("held in memory") != std::string::npos, folder == "gathered")
        << held.out;
  }
  EXPECT_EQ(said[0], said[1]);
  EXPECT_NE(said[0].find("11 points repeat point numbers"), std::string::npos) << said[0];
  EXPECT_TRUE(ReadFileBytes(Path("gathered.pdf")) == ReadFileBytes(Path("table.pdf")));
}
#endif

// The peak resident memory in kilobytes of `kestrova --print-pdf pdf file`, or -1.
long PrintPeakKilobytes(const std::string& pdf, const std::string& file) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::FILE* quiet = std::freopen("/dev/null", "w", stderr);
    (void)quiet;
    ::execl(KESTROVA_PRINT_PDF, KESTROVA_PRINT_PDF, "--print-pdf", pdf.c_str(), file.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return usage.ru_maxrss;
}

TEST_F(PrintPdf, ALongListIsPrintedInMemoryThatDoesNotGrowWithIt) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own bookkeeping grows with every allocation";
#endif
  // The points wait in temporary files and each page is written as it is drawn: memory
  // does not grow with the points. A table would hold some 60 bytes a point, a grid of
  // their texts, laid-out pages or the PDF held whole over 2 kilobytes.
  const auto write = [this](const std::string& name, int points) {
    std::string zhy;
    for (int i = 1; i <= points; ++i) {
      zhy += std::to_string(i) + ",P" + std::to_string(i) + "," +
             FormatFixed(-12000 - i * 0.5, 1, 3) + "," + FormatFixed(i * 0.25, 1, 3) +
             ",12.5,,,\r\n";
    }
    WriteFileAtomic(Path(name), zhy);
  };
  // Both long enough to fill the buffers of rows and pages on their way: at 100,000
  // points they are not yet full, and the peak still moves by a few megabytes.
  write("short.zhy", 300'000);
  write("long.zhy", 900'000);
  const long shortPeak = PrintPeakKilobytes(Path("short.pdf"), Path("short.zhy"));
  const long longPeak = PrintPeakKilobytes(Path("long.pdf"), Path("long.zhy"));
  ASSERT_GT(shortPeak, 0);
  ASSERT_GT(longPeak, 0);
  EXPECT_EQ(PageCount(Path("long.pdf")), 17'308);
  EXPECT_LT((longPeak - shortPeak) * 1024 / 600'000, 16)
      << shortPeak << " KB for 300,000 points, " << longPeak << " KB for 900,000";
}

}  // namespace
