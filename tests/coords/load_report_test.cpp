// Files that used to lose data or garble it without a word: each case is read the way a
// user's file would be and checked for what is kept and what the user is told.

#include <gtest/gtest.h>

#include "common/error.h"
#include "common/sjis.h"
#include "coords/coordinate_file.h"

namespace kestrova {
namespace {

std::string Sjis(std::string_view utf8) {
  return Utf8ToCp932(utf8).text;
}

CoordinateData Load(std::string text, LoadReport* report = nullptr, bool append = false,
                    CoordinateData data = {}) {
  EXPECT_TRUE(LoadCoordinateText(std::move(text), "f.txt", data, append, report));
  return data;
}

TEST(LoadText, Utf8ThatIsAlsoValidCodePage932IsUtf8) {
  const std::string utf8 =
      "1,測点,1,2,3,,,\r\n2,基準点,4,5,6,,,\r\n3,杭,0,0,0,,,\r\n"
      "4,多角点,0,0,0,,,\r\n5,水準点,0,0,0,,,\r\n";
  ASSERT_TRUE(IsValidCp932(utf8));  // the bytes read as code page 932 too, as mojibake
  LoadReport report;
  const CoordinateData d = Load(utf8, &report);
  ASSERT_EQ(d.Table.PointCount, 5);
  EXPECT_TRUE(report.convertedFromUtf8);
  EXPECT_EQ(d.Table.Points[1].Name, Sjis("測点"));
  EXPECT_EQ(d.Table.Points[2].Name, Sjis("基準点"));
  EXPECT_EQ(d.Table.Points[3].Name, Sjis("杭"));
  EXPECT_EQ(d.Table.Points[5].Name, Sjis("水準点"));
  // Real code page 932 text stays as it is; plain ASCII is the same either way.
  LoadReport sjis;
  EXPECT_EQ(Load(Sjis(utf8), &sjis).Table.Points[2].Name, Sjis("基準点"));
  EXPECT_FALSE(sjis.convertedFromUtf8);
}

TEST(LoadText, NotTextIsRefusedAndNothingChanges) {
  CoordinateData d = Load("1,a,1,2,3\r\n2,b,4,5,6\r\n");
  const std::string drawing("JwwData.\xA4\x01\x00\x00\r\n1,x,1,1,1\r\n", 25);
  for (bool append : {false, true}) {
    try {
      LoadCoordinateText(drawing, "plan.jww", d, append);
      FAIL() << "binary bytes were loaded as points";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "plan.jww: this is not a text file (it holds NUL bytes); nothing was loaded");
    }
    EXPECT_EQ(d.Table.PointCount, 2);
  }
}

TEST(LoadText, FieldsThatAreNotNumbersAreCounted) {
  LoadReport report;
  const CoordinateData d = Load(
      "1,a,1,2,3,,\r\n"               // empty mark and remarks: normal
      "2,b,nan,inf,1e999,,\r\n"       // three
      "4294967296,c,0x10,1.5,,,\r\n"  // the number beyond 32 bits and 0x10; empty Z
      "5,d, 7 ,-8.25e1,+0.5,,\r\n",   // blanks around numbers are fine
      &report);
  ASSERT_EQ(d.Table.PointCount, 4);
  EXPECT_EQ(d.Table.Points[2].X, 0.0);
  EXPECT_EQ(d.Table.Points[3].Number, 0);
  EXPECT_EQ(d.Table.Points[4].Y, -82.5);
  EXPECT_EQ(report.notANumberFields, 5u);
  EXPECT_EQ(report.firstNotANumberLine, 2u);
  EXPECT_EQ(LoadWarnings(report, "f.zhy"),
            std::vector<std::string>{"f.zhy:2: 5 fields are not a number and read as 0 (a point "
                                     "number as its row's); the first is on this line"});
  // A comma decimal in a tab list, and SIMA point and parcel numbers.
  LoadReport tab;
  Load("1\ta\t1,5\t2\t3\r\n2\tb\t1\t2\t3\r\n", &tab);
  EXPECT_EQ(tab.notANumberFields, 1u);
  LoadReport sima;
  const CoordinateData s =
      Load("A00,\r\nA01,,a,1,2,3,\r\nA01,x7,b,1,2,3,\r\nD00,1,P,0,\r\nB01,one,\r\nD99,\r\n", &sima);
  EXPECT_EQ(s.Table.Points[2].Number, 2);
  EXPECT_EQ(sima.notANumberFields, 2u);
  EXPECT_EQ(sima.firstNotANumberLine, 3u);
  LoadReport clean;
  Load("1,a,1,2,3\r\n2,b,4,5,6\r\n", &clean);
  EXPECT_TRUE(LoadWarnings(clean, "f").empty());
}

TEST(LoadSima, UnclosedBlocksEndAtTheNextAndTheirPointsAreRead) {
  LoadReport report;
  const CoordinateData d = Load(
      "A00,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\n"
      "F00,1,road,\r\nB01,1,\r\nB01,2,\r\n"  // line 4: no F99
      "A01,3,c,10,10,0,\r\n"
      "D00,1,P,1,\r\nB01,1,\r\nB01,2,\r\nB01,3,\r\n"  // line 8: no D99
      "A01,4,d,0,10,0,\r\nA99,\r\n",
      &report);
  ASSERT_EQ(d.Table.PointCount, 4);
  EXPECT_EQ(d.Table.Points[3].Name, "c");
  EXPECT_EQ(d.Table.Points[4].Name, "d");
  ASSERT_EQ(report.unclosedBlocks.size(), 2u);
  EXPECT_EQ(report.unclosedBlocks[0].Line, 4u);
  EXPECT_TRUE(report.unclosedBlocks[0].Polyline);
  EXPECT_EQ(report.unclosedBlocks[1].Line, 8u);
  EXPECT_FALSE(report.unclosedBlocks[1].Polyline);
  // The polyline's one segment, then the parcel's two and its closing one.
  ASSERT_EQ(d.Sima.SimaLines.size(), 4u);
  EXPECT_EQ(d.Sima.SimaLines[0].PenColor, 3);
  EXPECT_EQ(d.Sima.SimaLines[1].PenColor, 2);
  ASSERT_EQ(d.Sima.SimaTexts.size(), 1u);
  EXPECT_DOUBLE_EQ(d.Sima.SimaTexts[0].X, 20.0 / 3);
  EXPECT_EQ(LoadWarnings(report, "s.sim")[1],
            "s.sim:8: the parcel opened here has no closing \"D99\" record; it was ended where "
            "the next block or the file ends");
}

TEST(SaveSima, ParcelsTrianglesAndPolylinesGoRoundTrip) {
  const std::string file = Sjis(
      "G00,01,現場,\r\nA00,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\nA01,3,c,10,10,0,\r\nA99,\r\n"
      "D00,1,区画1,1,\r\nB01,1,a,\r\nB01,2,b,\r\nE01,1,a,2,b,3,c,\r\nB01,3,c,\r\nD99,\r\n"
      "D00,2,,0,\r\nB01,1,a,\r\nB01,9,missing,\r\nB01,2,b,\r\nD99,\r\n"
      "F00,1,道路,\r\nB01,3,c,\r\nB01,1,a,\r\nF99,\r\n");
  CoordinateData d = Load(file);
  const std::string saved = FormatCoordinateFile(d, CoordinateFormat::kSima);
  EXPECT_EQ(saved, Sjis("G00,01,現場,\r\nA00,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\n"
                        "A01,3,c,10,10,0,\r\nA99,\r\n") +
                       file.substr(file.find("D00")));
  // A coordinate corrected after the load moves the parcel after a save and a load.
  d.Table.Points[3].X = 20;
  CoordinateData back = Load(FormatCoordinateFile(d, CoordinateFormat::kSima));
  ASSERT_EQ(back.Sima.SimaBlocks.size(), 3u);
  EXPECT_EQ(back.Sima.SimaBlocks[1].Records[1].Point.Name, "missing");
  EXPECT_EQ(back.Sima.SimaLines.size(), d.Sima.SimaLines.size());
  EXPECT_EQ(back.Sima.SimaLines[4].StartX, 20.0);  // 3 to 2 of the closed parcel
  EXPECT_EQ(FormatCoordinateFile(back, CoordinateFormat::kSima),
            FormatCoordinateFile(d, CoordinateFormat::kSima));

  for (CoordinateFormat f :
       {CoordinateFormat::kZhy, CoordinateFormat::kCsv, CoordinateFormat::kApa}) {
    EXPECT_EQ(CoordinateSaveReport(d, f).blocksNotSaved, 3u);
  }
  EXPECT_EQ(CoordinateSaveReport(d, CoordinateFormat::kSima).blocksNotSaved, 0u);
  EXPECT_EQ(SaveWarnings(CoordinateSaveReport(d, CoordinateFormat::kZhy), "out.zhy"),
            std::vector<std::string>{
                "out.zhy: 3 parcels and polylines were not saved: only a SIMA file holds them"});
  EXPECT_TRUE(SaveWarnings(SaveReport{}, "out.zhy").empty());
}

TEST(LoadSima, AppendedFilesUseTheEarlierPointOfARepeatedNumber) {
  CoordinateData d = Load("G00,01,First,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\n");
  LoadReport report;
  d = Load("1,x,5,5,5\r\n2,y,6,6,6\r\n3,z,7,7,7\r\n3,w,8,8,8\r\n", &report, true, std::move(d));
  EXPECT_EQ(report.repeatedNumbers, 2u);  // 1 and 2; the second 3 repeats this file only
  EXPECT_EQ(LoadWarnings(report, "b.zhy"),
            std::vector<std::string>{"b.zhy: 2 points repeat point numbers of the files loaded "
                                     "before; parcels that name such a number use the earlier "
                                     "point"});
  // A parcel names 1, which its own file repeats too: still row 1 of the first file.
  LoadReport again;
  d = Load(
      "A00,\r\nA01,1,dup,50,50,0,\r\nA01,4,v,10,10,0,\r\nD00,1,P,0,\r\nB01,1,\r\nB01,4,\r\n"
      "D99,\r\n",
      &again, true, std::move(d));
  EXPECT_EQ(again.repeatedNumbers, 1u);
  ASSERT_EQ(d.Table.PointCount, 8);
  EXPECT_EQ(d.Sima.SiteName, "First");  // not cleared by files without one
  ASSERT_EQ(d.Sima.SimaLines.size(), 1u);
  EXPECT_EQ(d.Sima.SimaLines[0].StartX, 10.0);
  EXPECT_EQ(d.Sima.SimaLines[0].EndX, 0.0);
  EXPECT_EQ(FindPointIndex(d.Table, 3), 5);
  EXPECT_EQ(FindPointIndex(d.Table, 42), std::nullopt);
}

}  // namespace
}  // namespace kestrova
