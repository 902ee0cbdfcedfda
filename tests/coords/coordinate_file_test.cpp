#include "coords/coordinate_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "common/spill_file.h"
#include "coords/split_fields.h"
#include "support/random_sima.h"

namespace kestrova {
namespace {

// Test texts are typed in UTF-8 and converted, as a file from a Japanese Windows holds them.
std::string Sjis(std::string_view utf8) {
  return Utf8ToCp932(utf8).text;
}

CoordinateData Load(std::string text, LoadReport* report = nullptr, bool append = false,
                    CoordinateData data = {}) {
  EXPECT_TRUE(LoadCoordinateText(std::move(text), "f.txt", data, append, report));
  return data;
}

// The site name and the names of the points text gives when it was read once into a
// temporary file, as a pipe's is.
std::vector<std::string> NamesThroughSpool(const std::string& text) {
  struct Names : LoadSink {
    std::vector<std::string> names;
    void TakePoints(std::vector<SurveyPoint>& rows, int32_t) override {
      for (const SurveyPoint& p : rows)
        names.emplace_back(p.Name);
    }
    void TakeBlock(SimaBlock&, const int32_t*, bool) override {}
  } sink;
  SpillFile spool(4096);
  spool.Write(text.data(), text.size());
  CoordinateData counts;
  EXPECT_TRUE(StreamCoordinateSpool(spool, "pipe", sink, counts));
  sink.names.insert(sink.names.begin(), counts.Sima.SiteName);
  return sink.names;
}

TEST(SplitFields, SeparatorRulesAndTheFieldLimit) {
  using V = std::vector<std::string_view>;
  const auto split = [](std::string_view line, char separator, size_t maxFields = SIZE_MAX) {
    V out;
    SplitFieldsInto(line, separator, out, maxFields);
    return out;
  };
  EXPECT_EQ(split("a,b,", ','), (V{"a", "b"}));  // one trailing separator is dropped
  EXPECT_EQ(split("a,,b", ','), (V{"a", "", "b"}));
  EXPECT_EQ(split("a,b,,", ','), (V{"a", "b", ""}));
  EXPECT_EQ(split(",", ','), (V{""}));
  EXPECT_EQ(split("", ','), V{});
  EXPECT_EQ(split(" a , b ", ','), (V{" a ", " b "}));
  EXPECT_EQ(split("1  2", ' '), (V{"1", "", "2"}));
  EXPECT_EQ(SplitFields("a,,b", ','), (std::vector<std::string>{"3", "a", "", "b"}));
  EXPECT_EQ(SplitFields("", ','), (std::vector<std::string>{""}));
  // Fields past the limit are not kept; those before it are the same.
  for (std::string_view line : {"a,b,c,d", "a,b,", "a,,b,,", ",", "a", "a,b,c,d,e,f,g,h,i,"}) {
    const V all = split(line, ',');
    for (size_t max = 1; max <= 9; ++max) {
      const V some = split(line, ',', max);
      ASSERT_EQ(some.size(), std::min(max, all.size())) << line << " " << max;
      EXPECT_TRUE(std::equal(some.begin(), some.end(), all.begin())) << line << " " << max;
    }
  }
  // A line of a million commas still reads its first fields.
  const CoordinateData d = Load("1,a,1,2,3,m,r" + std::string(1000000, ',') + "\r\n2,b,1,1,1\r\n");
  EXPECT_EQ(d.Table.Points[1].Remarks, "r");
}

TEST(LoadDelimited, FieldCountDecidesTheLayout) {
  CoordinateData d = Load(
      "100.5,200.25\r\n"                // 2 fields
      "P2,1,2\r\n"                      // 3 fields
      "1,P1,100.5,200.25,\r\n"          // 4 fields: the count, not the content, decides
      "10,P10,1.0,2.0,3.0\r\n"          // 5 fields
      "7,A,1,2,3, 12 ,note\r\n"         // 7 fields: mark trimmed, remarks not
      "x,N, 5 ,6,7,m,r,extra,more\r\n"  // number does not convert; fields 8+ ignored
      "\r\n"                            // no point in an empty line
      "justone\r\n");                   // nor in one without the separator
  const PointTable& t = d.Table;
  ASSERT_EQ(t.PointCount, 6);
  EXPECT_EQ(t.Points[1].Number, 1);
  EXPECT_EQ(t.Points[1].Name, "1");
  EXPECT_EQ(t.Points[1].X, 100.5);
  EXPECT_EQ(t.Points[2].Name, "P2");
  EXPECT_EQ(t.Points[2].Z, 0.0);
  EXPECT_EQ(t.Points[3].Number, 3);
  EXPECT_EQ(t.Points[3].Name, "1");
  EXPECT_EQ(t.Points[3].X, 0.0);
  EXPECT_EQ(t.Points[3].Y, 100.5);
  EXPECT_EQ(t.Points[3].Z, 200.25);
  EXPECT_EQ(t.Points[4].Number, 10);
  EXPECT_EQ(t.Points[4].Z, 3.0);
  EXPECT_EQ(t.Points[4].Mark, "");
  EXPECT_EQ(t.Points[5].Mark, "12");
  EXPECT_EQ(t.Points[5].Remarks, "note");
  EXPECT_EQ(t.Points[6].Number, 0);
  EXPECT_EQ(t.Points[6].X, 5.0);
  EXPECT_EQ(t.Points[6].Remarks, "r");
  for (int r = 1; r <= 6; ++r)
    EXPECT_EQ(t.Points[r].Marked, 1);
  EXPECT_FALSE(d.Sima.SimaLoaded);
}

TEST(LoadDelimited, SeparatorComesFromTheFirstLine) {
  // A tab in the first line: a tab list, commas in names and remarks and all.
  CoordinateData tabComma =
      Load(Sjis("1\t境界,北\t1.5\t2.5\t3\tm\t備考, 注\r\n2\tB\t4\t5\t6\t\t\r\n"));
  ASSERT_EQ(tabComma.Table.PointCount, 2);
  EXPECT_EQ(tabComma.Table.Points[1].Name, Sjis("境界,北"));
  EXPECT_EQ(tabComma.Table.Points[1].X, 1.5);
  EXPECT_EQ(tabComma.Table.Points[1].Remarks, Sjis("備考, 注"));
  EXPECT_EQ(tabComma.Table.Points[2].Z, 6.0);
  // No comma in the first line: tab, and the comma lines below are single fields.
  CoordinateData tab = Load("1\tA\t1.5\t2.5\t3\r\n2,B,1,2,3\r\n3\tC\t4\t5\t6\r\n");
  ASSERT_EQ(tab.Table.PointCount, 2);
  EXPECT_EQ(tab.Table.Points[2].Name, "C");
  // Neither: space, where two blanks make an empty field and shift the rest.
  CoordinateData space = Load("A 1 2\nB  3 4\n");
  ASSERT_EQ(space.Table.PointCount, 2);
  EXPECT_EQ(space.Table.Points[2].Name, "B");
  EXPECT_EQ(space.Table.Points[2].X, 0.0);
  EXPECT_EQ(space.Table.Points[2].Y, 3.0);
  EXPECT_EQ(space.Table.Points[2].Z, 4.0);
}

TEST(LoadApa, RecordsAndFormatDecision) {
  // Codes are matched exactly and nothing after "Z" is read, but the points left out are
  // told of, with the lines to look at.
  const std::string text =
      "A,01,X,V1,\r\nB,Site,\r\nG,P1,1.5,2.5,3.5,K,\r\n G,P2,0,0,0\r\nG,P2,4,5,6\r\n"
      "g,P3,0,0,0\r\nC,other,\r\nZ,&,\r\nG,late,1,1,1\r\nG ,later,1,1,1\r\nB,x\r\n";
  LoadReport report;
  CoordinateData d = Load(text, &report);
  EXPECT_EQ(d.Sima.SiteName, "Site");
  ASSERT_EQ(d.Table.PointCount, 2);
  EXPECT_EQ(d.Table.Points[2].Number, 2);
  EXPECT_EQ(d.Table.Points[2].Name, "P2");
  EXPECT_EQ(d.Table.Points[1].Z, 3.5);
  EXPECT_EQ(LoadWarnings(report, "f.apa"),
            (std::vector<std::string>{
                "f.apa:4: APA records whose code is written with blanks or in lower case (\" G\" "
                "on this line, the first), which APA does not allow, were left out: 2",
                "f.apa:8: the file ends with the record \"Z\" on this line; point records "
                "(\"G\") after it were left out: 2"}));
  // "A" followed by a field not starting with "0" is an ordinary comma list.
  CoordinateData list = Load("A,11,1,2\r\nB,12,3,4\r\n");
  EXPECT_EQ(list.Table.PointCount, 2);
  EXPECT_EQ(list.Table.Points[1].Name, "A");
  // A list whose first point is "A" at X 0 reads as APA: it gives no point, which is said
  // rather than loading nothing. An APA file of its header and end alone loads empty.
  try {
    Load("A,0.000,0.000,12.5\r\nB,10.000,0.000,12.6\r\nC,10.000,10.000,12.7\r\n");
    ADD_FAILURE() << "a list read as APA loaded no point without a word";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("it was read as an APA file"), std::string::npos);
  }
  EXPECT_EQ(Load("A,01,KESTROVA,V2.00,7,\r\nZ,&,\r\n").Table.PointCount, 0);
  // SIMA without a header record is a comma list too.
  CoordinateData noHeader = Load("A01,1,P,1,2,3,\r\nA01,2,Q,4,5,6,\r\n");
  EXPECT_FALSE(noHeader.Sima.SimaLoaded);
  EXPECT_EQ(noHeader.Table.Points[1].Number, 0);
}

const char* kSimaParcels =
    "G00,01,Site,\r\n"
    "Z00,one,\r\nZ00,two,\r\nZ00,three,\r\n"
    "A00,\r\n"
    "A01,1,a,0,0,0,\r\n"
    "A01,2, b ,10,0,0, 7 , note \r\n"
    "A01,3,c,10,10,0,\r\n"
    "A01,,d,0,10,0,\r\n"  // empty number: the row index 4
    "A01,x,e,5,5,0,\r\n"  // not a number: the row index 5
    "A99,\r\n"
    "A01,6,after,1,1,1,\r\n"  // still read after A99
    "D00,1,P1,1,\r\nB01,1,\r\nB01,2,\r\nB01,3,\r\nB01,4,\r\nD99,\r\n"
    "D00,2,open,0,\r\nB01,1,\r\nB01,2,\r\nB01,3,\r\nD99,\r\n"
    "D00,3,thin,1,\r\nB01,1,\r\nB01,2,\r\nD99,\r\n"
    "D00,4,broken,1,\r\nB01,1,\r\nB01,2,\r\nB01,99,\r\nB01,3,\r\nD99,\r\n"
    "D00,5,,1,\r\nE01,1,a,2,b,3,c,\r\nE01,1,a,2,b,99,z,\r\nD99,\r\n"
    "F00,1,road,\r\nB01,1,\r\nB01,3,\r\nB01,2,\r\nF99,\r\n"
    "F00,2,stop,\r\nB01,1,\r\nB01,77,\r\nB01,2,\r\nF99,\r\n"
    "D00,6,empty,1,\r\nD99,\r\n";

TEST(LoadSima, PointsTitlesAndParcels) {
  CoordinateData d = Load(kSimaParcels);
  const PointTable& t = d.Table;
  EXPECT_TRUE(d.Sima.SimaLoaded);
  EXPECT_EQ(d.Sima.SiteName, "Site");
  EXPECT_EQ(d.Sima.SimaTitles[0], "one");
  EXPECT_EQ(d.Sima.SimaTitles[1], "two");
  ASSERT_EQ(t.PointCount, 6);
  EXPECT_EQ(t.Points[2].Name, "b");
  EXPECT_EQ(t.Points[2].Mark, "7");
  EXPECT_EQ(t.Points[2].Remarks, "note");
  EXPECT_EQ(t.Points[4].Number, 4);
  EXPECT_EQ(t.Points[5].Number, 5);

  struct Seg {
    double sx, sy, ex, ey;
    int style, color;
  };
  const Seg expected[] = {
      // P1, closed square: 2-1, 3-2, 4-3, then first to last 1-4.
      {10, 0, 0, 0, 1, 2},
      {10, 10, 10, 0, 1, 2},
      {0, 10, 10, 10, 1, 2},
      {0, 0, 0, 10, 1, 2},
      // open: two segments, no closing one.
      {10, 0, 0, 0, 1, 2},
      {10, 10, 10, 0, 1, 2},
      // thin: 2-1 and the closing 1-2.
      {10, 0, 0, 0, 1, 2},
      {0, 0, 10, 0, 1, 2},
      // broken: the segment before the unknown point 99 stays, nothing after it.
      {10, 0, 0, 0, 1, 2},
      // triangle 1,2,3: a-c, b-a, c-b; the one naming 99 is left out whole.
      {0, 0, 10, 10, 5, 1},
      {10, 0, 0, 0, 5, 1},
      {10, 10, 10, 0, 5, 1},
      // road: 3-1, 2-3 in colour 3; stop: ends at 77.
      {10, 10, 0, 0, 1, 3},
      {10, 0, 10, 10, 1, 3},
  };
  ASSERT_EQ(d.Sima.SimaLines.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const SimaLine& l = d.Sima.SimaLines[i];
    const Seg& e = expected[i];
    EXPECT_EQ(l.StartX, e.sx) << i;
    EXPECT_EQ(l.StartY, e.sy) << i;
    EXPECT_EQ(l.EndX, e.ex) << i;
    EXPECT_EQ(l.EndY, e.ey) << i;
    EXPECT_EQ(l.PenStyle, e.style) << i;
    EXPECT_EQ(l.PenColor, e.color) << i;
  }
  // Labels: the square's centroid, the open parcel's triangle centroid, the two-point
  // parcel without area at its corners' mean (not at the survey origin); the broken
  // parcel and the one without corners have none.
  ASSERT_EQ(d.Sima.SimaTexts.size(), 3u);
  EXPECT_EQ(d.Sima.SimaTexts[0].Text, "P1");
  EXPECT_DOUBLE_EQ(d.Sima.SimaTexts[0].X, 5.0);
  EXPECT_DOUBLE_EQ(d.Sima.SimaTexts[0].Y, 5.0);
  EXPECT_EQ(d.Sima.SimaTexts[0].TextKind, 3);
  EXPECT_DOUBLE_EQ(d.Sima.SimaTexts[1].X, 20.0 / 3);
  EXPECT_DOUBLE_EQ(d.Sima.SimaTexts[1].Y, 10.0 / 3);
  EXPECT_EQ(d.Sima.SimaTexts[2].Text, "thin");
  EXPECT_EQ(d.Sima.SimaTexts[2].X, 5.0);
  EXPECT_EQ(d.Sima.SimaTexts[2].Y, 0.0);
}

TEST(LoadSima, FileOrderDecidesWhichPointsAParcelSees) {
  LoadReport report;
  CoordinateData d = Load(
      "A00,\r\n"
      "A01,1,a,0,0,0,\r\n"
      "D00,1,early,1,\r\nB01,1,\r\nB01,2,\r\nD99,\r\n"  // point 2 comes later: abandoned
      "A01,2,b,10,0,0,\r\n"
      "D00,2,inner,0,\r\nB01,1,\r\nA01,7,inside,5,5,5,\r\nB01,2,\r\nD99,\r\n"
      "A01,,c,20,0,0,\r\n"  // row 4: a point inside a parcel is a point all the same
      "D00,3,gone,0,\r\nB01,1,\r\nB01,99,\r\nA01,8,read,6,6,6,\r\nD99,\r\n",
      &report);
  const PointTable& t = d.Table;
  ASSERT_EQ(t.PointCount, 5);
  EXPECT_EQ(t.Points[3].Name, "inside");
  EXPECT_EQ(t.Points[4].Name, "c");
  EXPECT_EQ(t.Points[4].Number, 4);
  EXPECT_EQ(t.Points[5].Name, "read");  // after an abandoned parcel reading goes on
  EXPECT_EQ(FindPointIndex(t, 7), 3);
  ASSERT_EQ(d.Sima.SimaLines.size(), 1u);  // only "inner": 2 to 1
  EXPECT_EQ(d.Sima.SimaLines[0].StartX, 10.0);
  EXPECT_EQ(d.Sima.SimaTexts.size(), 1u);
  EXPECT_EQ(d.Sima.SimaTexts[0].Text, "inner");
  // The user hears of the two parcels drawn short, and which record to look for. One
  // whose triangle alone names an unknown corner is drawn whole without that triangle,
  // and the triangle is told of.
  EXPECT_EQ(report.blocksCutShort, 2u);
  EXPECT_EQ(LoadWarnings(report, "f.sim").back(),
            "f.sim: 2 parcels or polylines name a point that is not among the points before "
            "them, and are drawn only up to there (D00,1,early is the first)");
  LoadReport triangle;
  const CoordinateData whole = Load(
      "A00,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\nA01,3,c,10,10,0,\r\n"
      "D00,1,tri,1,\r\nB01,1,\r\nB01,2,\r\nB01,3,\r\nE01,1,,2,,99,\r\nD99,\r\n",
      &triangle);
  EXPECT_EQ(whole.Sima.SimaLines.size(), 3u);
  EXPECT_EQ(triangle.blocksCutShort, 0u);
  EXPECT_EQ(LoadWarnings(triangle, "t.sim"),
            std::vector<std::string>{"t.sim: 1 triangle names a point that is not among the "
                                     "points before it, and is left out of the drawing"});
}

TEST(LoadSima, CentroidDoesNotDependOnDirection) {
  const std::vector<std::pair<double, double>> ccw = {{0, 0}, {4, 0}, {4, 2}, {0, 2}};
  const std::vector<std::pair<double, double>> cw(ccw.rbegin(), ccw.rend());
  for (const auto& poly : {ccw, cw}) {
    const CentroidResult c = PolygonCentroid(poly);
    EXPECT_DOUBLE_EQ(c.X, 2.0);
    EXPECT_DOUBLE_EQ(c.Y, 1.0);
    EXPECT_DOUBLE_EQ(c.Area, 8.0);
  }
}

TEST(LoadSima, RecordsWithMissingFields) {
  CoordinateData d =
      Load("G00,01\r\nA01,1,a\r\nA01,2,b,1,2,\r\nD00,1,nf\r\nB01,1,\r\nB01,2,\r\nD99,\r\n");
  EXPECT_EQ(d.Sima.SiteName, "");
  ASSERT_EQ(d.Table.PointCount, 2);
  EXPECT_EQ(d.Table.Points[1].X, 0.0);
  EXPECT_EQ(d.Table.Points[2].Z, 0.0);
  EXPECT_EQ(d.Sima.SimaLines.size(), 1u);  // no closing flag: an open parcel
  // Codes are matched exactly; one written with blanks or in lower case is left out, and
  // the user hears of it (an indented file would otherwise load empty without a word).
  LoadReport report;
  const CoordinateData odd = Load(
      "G00,01,S,\r\nA01 ,1,P1,1,2,3,\r\n a01,2,P2,1,2,3,\r\nA01,3,P3,1,2,3\r\nX01,4\r\n", &report);
  EXPECT_EQ(odd.Table.PointCount, 1);
  EXPECT_EQ(LoadWarnings(report, "m.sim"),
            std::vector<std::string>{"m.sim:2: SIMA records whose code is written with blanks "
                                     "or in lower case (\"A01 \" on this line, the first), which "
                                     "SIMA does not allow, were left out: 2"});
}

TEST(LoadCoordinateFile, AllOrNothing) {
  CoordinateData d = Load(
      "G00,01,Keep,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\nD00,1,P,1,\r\nB01,1,\r\nB01,2,\r\nD99,"
      "\r\n");
  const std::string bad = "G00,01,Other,\r\nA01,7,x,1,1,1,\r\nD00,1,Q, one ,\r\nB01,7,\r\nD99,\r\n";
  for (bool append : {false, true}) {
    try {
      LoadCoordinateText(bad, "bad.sim", d, append);
      FAIL() << "a closing flag that is not an integer was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("bad.sim:3: ", 0), 0u) << e.what();
    }
    EXPECT_EQ(d.Table.PointCount, 2);
    EXPECT_EQ(d.Table.Points.size(), 3u);
    EXPECT_EQ(d.Sima.SiteName, "Keep");
    EXPECT_EQ(d.Sima.SimaLines.size(), 2u);
    EXPECT_EQ(d.Sima.SimaTexts.size(), 1u);
    EXPECT_EQ(FindPointIndex(d.Table, 7), std::nullopt);
  }
  // A one-line file loads nothing, not even its point.
  EXPECT_FALSE(LoadCoordinateText("1,P,1,2,3\r\n", "one.zhy", d, false));
  EXPECT_EQ(d.Table.PointCount, 2);
  // A replacing load takes the old parcels and the old site's name away with the old
  // points.
  d = Load("1,P,1,2,3\r\n2,Q,4,5,6\r\n", nullptr, false, std::move(d));
  EXPECT_TRUE(d.Sima.SimaLines.empty());
  EXPECT_TRUE(d.Sima.SimaTexts.empty());
  EXPECT_EQ(d.Sima.SiteName, "");
  EXPECT_THROW(LoadCoordinateFile("/nonexistent/site.sim", d, false), Error);
}

TEST(LoadCoordinateFile, UnicodeFilesAreConverted) {
  const std::string sjisName = Sjis("境界①～");
  for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
    CoordinateData d = Load(bom + "G00,01,現場,\r\nA01,1,境界①～,1,2,3,\r\n");
    EXPECT_TRUE(d.Sima.SimaLoaded);
    EXPECT_EQ(d.Sima.SiteName, Sjis("現場"));
    EXPECT_EQ(d.Table.Points[1].Name, sjisName);
    // From a pipe's temporary file the bytes are read twice all the same, the mark skipped.
    EXPECT_EQ(NamesThroughSpool(bom + "G00,01,現場,\r\nA01,1,境界①～,1,2,3,\r\n"),
              (std::vector<std::string>{Sjis("現場"), sjisName}));
  }
  LoadReport report;
  CoordinateData withEmoji;
  ASSERT_TRUE(LoadCoordinateText("1,\xF0\x9F\x98\x80x\xE3\x80\x9C,1,2,3\r\n2,b,1,1,1\r\n", "u.zhy",
                                 withEmoji, false, &report));
  EXPECT_TRUE(report.convertedFromUtf8);
  EXPECT_EQ(report.replacedCharacters, 1u);
  EXPECT_EQ(withEmoji.Table.Points[1].Name, "?x\x81\x60");  // U+301C: code page 932's wave dash
  // UTF-16 with a byte-order mark, as Windows programs save "Unicode" text.
  std::string utf16le = "\xFF\xFE";
  for (char c : std::string("G00,01,x,\r\nA01,1,"))
    utf16le += std::string{c, '\0'};
  utf16le += std::string("\x83\x58\x0A\x00", 4);  // 境, then a line end
  CoordinateData wide = Load(utf16le);
  EXPECT_TRUE(wide.Sima.SimaLoaded);
  EXPECT_EQ(wide.Table.Points[1].Name, Sjis("境"));
  EXPECT_EQ(NamesThroughSpool(utf16le), (std::vector<std::string>{"x", Sjis("境")}));
  // UTF-16 holds no NUL character in text either: such a file is refused, not read with
  // a NUL in a name.
  std::string nul = "\xFF\xFE";
  for (char c : std::string("1,A\0B,1,2,3\r\n", 13))
    nul += std::string{c, '\0'};
  CoordinateData refused;
  EXPECT_THROW(LoadCoordinateText(nul, "nul.zhy", refused, false), Error);
  // Bytes read once into a temporary file are looked at as they come, a byte at a time
  // from a slow pipe: NUL is refused, but for UTF-16 with its mark.
  const auto check = [](std::initializer_list<std::string_view> pieces) {
    TextBytesCheck bytes("pipe");
    for (std::string_view piece : pieces)
      bytes.Add(piece);
  };
  EXPECT_NO_THROW(check({"\xFF", "\xFE", std::string_view("A\0", 2)}));
  EXPECT_NO_THROW(check({"\xFE", std::string_view("\xFF\0", 2)}));
  EXPECT_THROW(check({"\xFF", "A", std::string_view("\0", 1)}), Error);
  EXPECT_THROW(check({"1,a", std::string_view(",\0", 2)}), Error);
  EXPECT_THROW(check({std::string_view("\0", 1)}), Error);
  // In UTF-16 a NUL is a whole unit of two zero bytes.
  EXPECT_NO_THROW(check({"\xFF\xFE", std::string_view("A\0", 2), std::string_view("\0B", 2)}));
  EXPECT_THROW(check({"\xFF\xFE", std::string_view("A\0\0", 3), std::string_view("\0", 1)}), Error);
}

TEST(LoadCoordinateFile, LongTextIsCutAtACharacterBoundary) {
  std::string longName;
  for (int i = 0; i < 200; ++i)
    longName += "\x93\x5F";  // 400 bytes of 点
  CoordinateData d = Load("1," + longName + ",1,2,3,12345678901234\x93\x5F,\r\n2,b,1,1,1,\r\n");
  EXPECT_EQ(d.Table.Points[1].Name.size(), 254u);
  EXPECT_EQ(d.Table.Points[1].Mark, "12345678901234");
}

TEST(SaveCoordinateFile, BytesOfEveryLayout) {
  CoordinateData d;
  d.Table.Points.reserve(3);
  SurveyPoint& p = AppendPoint(d.Table);
  p.Number = -3;
  p.Name = Sjis("測点,1");
  p.X = 12.5;
  p.Y = 100;
  p.Z = 0.0000004;
  p.Mark = "12";
  p.Remarks = "r";
  SurveyPoint& q = AppendPoint(d.Table);
  q.Number = 4;
  q.Name = "Q";
  q.Z = -0.0000005;
  d.Sima.SiteName = "S";
  d.Sima.SimaTitles = {"", "T2"};
  EXPECT_EQ(FormatCoordinateFile(d, CoordinateFormat::kZhy),
            "-3," + p.Name + ",12.5,100,0,12,r,\r\n4,Q,0,0,-1E-6,,,\r\n");
  EXPECT_EQ(FormatCoordinateFile(d, CoordinateFormat::kCsv),
            "-3\t" + p.Name + "\t12.5\t100\t0\t12\tr\t\r\n4\tQ\t0\t0\t-1E-6\t\t\t\r\n");
  EXPECT_EQ(FormatCoordinateFile(d, CoordinateFormat::kSima),
            "G00,01,S,\r\nZ00,T2,\r\nA00,\r\nA01,-3," + p.Name +
                ",12.5,100,0,\r\nA01,4,Q,0,0,-1E-6,\r\nA99,\r\n");
  const std::string g1 = "G," + p.Name + ",12.5,100,0,";
  const std::string g2 = "G,Q,0,0,-1E-6,";
  EXPECT_EQ(FormatCoordinateFile(d, CoordinateFormat::kApa), "A,01,KESTROVA,V2.00,7,\r\n" + g1 +
                                                                 CheckChar(g1) + ",\r\n" + g2 +
                                                                 CheckChar(g2) + ",\r\nZ,&,\r\n");
  EXPECT_EQ(CheckChar("abc"), 'F');
  EXPECT_EQ(CheckChar("L"), ',');  // a byte sum of 12 modulo 64 gives a comma

  CoordinateData empty;
  EXPECT_EQ(FormatCoordinateFile(empty, CoordinateFormat::kSima), "G00,01,,\r\nA00,\r\nA99,\r\n");
  EXPECT_EQ(FormatCoordinateFile(empty, CoordinateFormat::kApa),
            "A,01,KESTROVA,V2.00,7,\r\nZ,&,\r\n");
  EXPECT_EQ(FormatCoordinateFile(empty, CoordinateFormat::kZhy), "");
}

TEST(SaveCoordinateFile, EveryLayoutLoadsBackUnchanged) {
  CoordinateData d =
      Load(Sjis("G00,01,現場,\r\nZ00,題1,\r\nA00,\r\n"
                "A01,1,境界1,-12020.1234564,-30520.0000005,24.18,\r\n"
                "A01,2,点,0.00004,1e-7,-5,\r\nA99,\r\n"));
  auto& pts = d.Table.Points;
  for (CoordinateFormat f : {CoordinateFormat::kZhy, CoordinateFormat::kCsv,
                             CoordinateFormat::kSima, CoordinateFormat::kApa}) {
    CoordinateData back = Load(FormatCoordinateFile(d, f));
    ASSERT_EQ(back.Table.PointCount, 2) << static_cast<int>(f);
    for (int r = 1; r <= 2; ++r) {
      EXPECT_EQ(back.Table.Points[r].Name, pts[r].Name);
      EXPECT_EQ(back.Table.Points[r].Number, pts[r].Number);
      EXPECT_EQ(back.Table.Points[r].X, RoundOff(64, pts[r].X));
      EXPECT_EQ(back.Table.Points[r].Y, RoundOff(64, pts[r].Y));
      EXPECT_EQ(back.Table.Points[r].Z, RoundOff(64, pts[r].Z));
    }
    // Saving what was loaded gives the same bytes again.
    EXPECT_EQ(FormatCoordinateFile(back, f), FormatCoordinateFile(d, f));
  }
}

// A large table's file handed on a piece at a time is the file made whole, in every
// format, with parcels placed before points they name and after all of them.
TEST(SaveCoordinateFile, PiecesMakeTheWholeFile) {
  std::mt19937 rng(20261208);
  CoordinateData d;
  ASSERT_TRUE(LoadCoordinateText(test::RandomSima(rng, 60'000), "r.sim", d, false));
  ASSERT_GT(d.Sima.SimaBlocks.size(), 1'000u);
  for (CoordinateFormat f : {CoordinateFormat::kZhy, CoordinateFormat::kCsv,
                             CoordinateFormat::kSima, CoordinateFormat::kApa}) {
    std::string joined;
    size_t pieces = 0, largest = 0;
    WriteCoordinateFile(d, f, [&](std::string_view bytes) {
      joined += bytes;
      ++pieces;
      largest = std::max(largest, bytes.size());
    });
    EXPECT_EQ(joined, FormatCoordinateFile(d, f)) << static_cast<int>(f);
    EXPECT_GE(pieces, 2u) << static_cast<int>(f);
    EXPECT_LT(largest, (size_t{1} << 20) + 1024) << static_cast<int>(f);
  }
}

TEST(SaveCoordinateFile, NamesAndFormats) {
  EXPECT_EQ(FileStem("/data/site.old.zhy"), "site");
  EXPECT_EQ(FileStem("plan"), "plan");
  EXPECT_EQ(CoordinateFormatFromPath("A.SIM"), CoordinateFormat::kSima);
  EXPECT_EQ(CoordinateFormatFromPath("a.txt"), std::nullopt);
}

TEST(ComputeDataBounds, ExtentsAndCentre) {
  CoordinateData d = Load("1,a,5,1,0\r\n2,b,5,9,0\r\n");
  DataBounds b;
  ComputeDataBounds(d.Table, b);
  EXPECT_EQ(b.ExtentX, 0.0);
  EXPECT_EQ(b.ExtentY, 8.0);
  EXPECT_EQ(b.AspectRatio, 0.0);
  EXPECT_EQ(b.CentreX, 5.0);
  EXPECT_EQ(b.CentreY, 5.0);
}

// Files that used to lose data or garble it without a word: each case is read the way a
// user's file would be and checked for what is kept and what the user is told.

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
  EXPECT_EQ(d.Table.Points[5].Name, Sjis("水準点"));
  // Real code page 932 text stays as it is; plain ASCII is the same either way.
  LoadReport sjis;
  EXPECT_EQ(Load(Sjis(utf8), &sjis).Table.Points[2].Name, Sjis("基準点"));
  EXPECT_FALSE(sjis.convertedFromUtf8);
}

// Names of both kinds, as instruments and office programs write them. Code page 932
// bytes that are valid UTF-8 too must not become Latin-extended, Cyrillic or control
// characters; UTF-8 stays UTF-8. Every guess that could be wrong is told, naming the file.
TEST(LoadText, EncodingOfRealNames) {
  struct Row {
    const char* name;  // typed in UTF-8
    bool utf8;         // the file holds it in UTF-8, else in code page 932
    const char* read;  // the name as loaded, in UTF-8 ("?": no code page 932 form)
    bool warned;       // the other reading was possible: told
  };
  const Row rows[] = {
      {"ﾅｶ1", false, "ﾅｶ1", true},   // reads as UTF-8 "Ŷ1": Latin-extended
      {"ﾆｼ2", false, "ﾆｼ2", true},   // "Ƽ2"
      {"ﾐｽ3", false, "ﾐｽ3", true},   // "н3": Cyrillic beside a digit
      {"ﾃｽ1", false, "ﾃｽ1", true},   // "ý1": an accented letter outside a word
      {"ﾂｶ1", false, "ﾂｶ1", true},   // "¶1": a sign no survey text holds
      {"ﾂｰﾙ", false, "ﾂｰﾙ", false},  // not valid UTF-8: nothing to doubt
      {"新宿", false, "新宿", false},
      {"境界杭", false, "境界杭", false},
      {"大阪市北区", false, "大阪市北区", false},
      {"測点", true, "測点", true},  // the bytes read as code page 932 too
      {"東京都新宿区", true, "東京都新宿区", true},
      {"ﾅｶ1", true, "ﾅｶ1", true},        // half-width katakana in UTF-8
      {"Müller", true, "M?ller", true},  // an accented letter inside a word: UTF-8
      {"角90°", true, "角90°", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string name = row.utf8 ? std::string(row.name) : Sjis(row.name);
    const std::string file = "1," + name + ",1,2,3,,,\r\n2,P,4,5,6,,,\r\n";
    LoadReport report;
    const CoordinateData d = Load(file, &report);
    EXPECT_EQ(Cp932ToUtf8(d.Table.Points[1].Name), row.read);
    EXPECT_EQ(report.convertedFromUtf8, row.utf8);
    const std::vector<std::string> warnings = LoadWarnings(report, "f.zhy");
    EXPECT_EQ(!warnings.empty(), row.warned);
    if (!row.utf8 && row.warned) {
      ASSERT_TRUE(IsValidUtf8(name));  // the case is what it claims
      EXPECT_EQ(warnings, std::vector<std::string>{
                              "f.zhy:1: read as Shift_JIS, although lines are also valid UTF-8 "
                              "(1 in all): as UTF-8 they would hold characters no survey file "
                              "holds; the first is this line"});
    }
    if (row.utf8) {
      EXPECT_EQ(warnings[0],
                "f.zhy: the Unicode (UTF-8 or UTF-16) file was converted to Shift_JIS");
    }
  }
  // The line named is the line, whatever ends the lines before it.
  const char* ends[] = {"\r\n", "\r", "\n"};
  std::string mixedEnds;
  for (int i = 1; i <= 40; ++i)
    mixedEnds += std::to_string(i) + ",p,1,2" + ends[i % 3] + (i % 7 == 0 ? "\r\n" : "");
  mixedEnds += "41," + Sjis("ﾅｶ1") + ",1,2\r\n";  // after 40 lines and 5 blank ones
  LoadReport endsReport;
  Load(mixedEnds, &endsReport);
  EXPECT_EQ(endsReport.firstUtf8LineReadAsSjis, 46u);
  // A code page 932 site of half-width names among kanji is code page 932 all through.
  const std::string site = Sjis("1,新宿1,1,2,3\r\n2,ﾅｶ1,1,2,3\r\n3,ﾆｼ2,1,2,3\r\n4,ﾐｽ3,1,2,3\r\n");
  LoadReport siteReport;
  const CoordinateData s = Load(site, &siteReport);
  EXPECT_EQ(s.Table.Points[3].Name, Sjis("ﾆｼ2"));
  EXPECT_EQ(siteReport.utf8LinesReadAsSjis, 3u);
  EXPECT_EQ(siteReport.firstUtf8LineReadAsSjis, 2u);
}

TEST(LoadText, Utf8ThatBreaksLateStaysUtf8) {
  // 59,999 UTF-8 lines, then one code page 932 name: the UTF-8 lines are read as UTF-8,
  // the one line as code page 932, and that line is named.
  std::string file;
  for (int i = 1; i < 60000; ++i)
    file += std::to_string(i) + ",測点" + std::to_string(i) + ",1,2,3\r\n";
  file += "60000," + Sjis("ﾃｽﾄ測点") + ",1,2,3\r\n";
  LoadReport report;
  const CoordinateData d = Load(file, &report);
  ASSERT_EQ(d.Table.PointCount, 60000);
  EXPECT_EQ(d.Table.Points[59999].Name, Sjis("測点59999"));
  EXPECT_EQ(d.Table.Points[60000].Name, Sjis("ﾃｽﾄ測点"));
  EXPECT_EQ(LoadWarnings(report, "late.zhy"),
            (std::vector<std::string>{
                "late.zhy: the Unicode (UTF-8 or UTF-16) file was converted to Shift_JIS",
                "late.zhy:60000: lines of this UTF-8 file that are not UTF-8 were read as "
                "Shift_JIS (1 in all); the first is this line"}));
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
            std::vector<std::string>{"f.zhy:2: 5 fields are not a number and read as 0 (a SIMA "
                                     "point number as its row's); the first is on this line"});
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
  // An X or Y left out puts the point at 0, far from the site: counted, in every format,
  // where a Z left out is not. Rows of empty cells hold no point.
  for (const auto& [text, points, fields, line] :
       {std::tuple{"1,A,-12000.5,-30000.5,10\r\n2,B,,-30001.5,,\r\n,,,,\r\n , ,,\r\n", 2, 1u, 2u},
        std::tuple{"1\tA\t1\t2\t3\r\n\t\t\t\r\n2\tB\t3\t\t1\t\r\n", 2, 1u, 3u},
        std::tuple{"A,01,X,\r\nG,a,1,2,3,\r\nG,b,,,,\r\nZ,&,\r\n", 2, 2u, 3u},
        std::tuple{"A00,\r\nA01,1,a,1,2,\r\nA01,2\r\nA01,3,c,5.0\r\nA99,\r\n", 3, 3u, 3u}}) {
    SCOPED_TRACE(text);
    LoadReport left;
    EXPECT_EQ(Load(text, &left).Table.PointCount, points);
    EXPECT_EQ(left.notANumberFields, fields);
    EXPECT_EQ(left.firstNotANumberLine, line);
  }
}

TEST(LoadText, TextsLongerThanTheirFieldsAreCutAndCounted) {
  const std::string full(255, 'n');
  LoadReport zhy;
  const CoordinateData d =
      Load("1," + full + ",1,2,3,MARK-OF-15-BYTE," + full + "\r\n" +  // at the limits
               "2," + full + "x,1,2,3,MARK-OF-16-BYTES," + full + "xy\r\n",
           &zhy);
  ASSERT_EQ(d.Table.PointCount, 2);
  EXPECT_EQ(d.Table.Points[2].Name, full);
  EXPECT_EQ(d.Table.Points[2].Mark, "MARK-OF-16-BYTE");
  EXPECT_EQ(zhy.textsCut, 3u);
  EXPECT_EQ(zhy.firstTextCutLine, 2u);
  EXPECT_EQ(LoadWarnings(zhy, "f.zhy"),
            std::vector<std::string>{
                "f.zhy:2: 3 texts are longer than their fields (a name or remarks 255 bytes, a "
                "mark 15) and were cut; the first is on this line"});
  // A SIMA point's name and a parcel's, not again where a record names the point.
  LoadReport sima;
  Load("A00,\r\nA01,1," + full + "z,1,2,3,\r\nA01,2,b,1,2,3,\r\nD00,1," + full + "q,1,\r\nB01,1," +
           full + "z,\r\nB01,2,b,\r\nD99,\r\n",
       &sima);
  EXPECT_EQ(sima.textsCut, 2u);
  EXPECT_EQ(sima.firstTextCutLine, 2u);
  // Read in pieces and ranges of a few lines each, the count and first line are the same.
  const std::string lines = "1,a,1,2,3\r\n2,b,1,2,3\r\n3," + full + "x,1,2,3\r\n4,d,1,2,3\r\n" +
                            "5,e,1,2,3,MARK-OF-16-BYTES," + full + "x\r\n6,f,1,2,3\r\n";
  for (const size_t bytes : {size_t{64}, size_t{1} << 20}) {
    LoadTuning tuning;
    tuning.blockBytes = bytes;
    tuning.minimumLinesPerRange = 1;
    CoordinateData read;
    LoadReport pieces;
    ASSERT_TRUE(LoadCoordinateText(lines, "f", read, false, &pieces, nullptr, tuning));
    EXPECT_EQ(pieces.textsCut, 3u) << bytes;
    EXPECT_EQ(pieces.firstTextCutLine, 3u) << bytes;
  }
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

TEST(LoadSima, OnlyItsOwnClosingRecordEndsABlock) {
  // A "D99" inside a polyline and an "F99" inside a parcel are records of no meaning
  // there: the block goes on to its own end.
  LoadReport report;
  const CoordinateData d = Load(
      "A00,\r\nA01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\nA01,3,c,10,10,0,\r\nA99,\r\n"
      "F00,1,road,\r\nB01,1,\r\nD99,\r\nB01,2,\r\nB01,3,\r\nF99,\r\n"
      "D00,1,P,1,\r\nB01,1,\r\nF99,\r\nB01,2,\r\nB01,3,\r\nD99,\r\n",
      &report);
  EXPECT_TRUE(report.unclosedBlocks.empty());
  ASSERT_EQ(d.Sima.SimaBlocks.size(), 2u);
  EXPECT_EQ(d.Sima.SimaBlocks[0].Records.size(), 3u);
  EXPECT_EQ(d.Sima.SimaBlocks[1].Records.size(), 3u);
  // Two polyline segments, then the parcel's two and its closing one.
  ASSERT_EQ(d.Sima.SimaLines.size(), 5u);
  EXPECT_EQ(d.Sima.SimaLines[1].PenColor, 3);
  EXPECT_EQ(d.Sima.SimaLines[1].StartY, 10.0);  // 3 to 2
  EXPECT_EQ(d.Sima.SimaLines[4].PenColor, 2);
  EXPECT_EQ(d.Sima.SimaTexts.size(), 1u);
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
  // Marks and remarks: counted where the format has no place for them, blanks alone not.
  d.Table.Points[1].Remarks = " ";
  d.Table.Points[2].Mark = "12";
  d.Table.Points[3].Remarks = "杭";
  EXPECT_EQ(CoordinateSaveReport(d, CoordinateFormat::kSima).marksNotSaved, 2u);
  EXPECT_EQ(CoordinateSaveReport(d, CoordinateFormat::kApa).marksNotSaved, 2u);
  EXPECT_EQ(CoordinateSaveReport(d, CoordinateFormat::kZhy).marksNotSaved, 0u);
  // A list of one point is one line, which does not load: the save says so.
  CoordinateData one = Load("1,a,1,2,3\r\n2,b,4,5,6\r\n");
  EXPECT_FALSE(CoordinateSaveReport(one, CoordinateFormat::kZhy).oneLine);
  one.Table.PointCount = 1;
  for (CoordinateFormat f : {CoordinateFormat::kZhy, CoordinateFormat::kCsv}) {
    const std::string text = FormatCoordinateFile(one, f);
    CoordinateData reread;
    EXPECT_FALSE(LoadCoordinateText(text, "one", reread, false, nullptr));
    EXPECT_TRUE(CoordinateSaveReport(one, f).oneLine);
  }
  EXPECT_FALSE(CoordinateSaveReport(one, CoordinateFormat::kSima).oneLine);
  // An APA file numbers its points by their rows: any other number is lost.
  for (int32_t r = 1; r <= d.Table.PointCount; ++r)
    d.Table.Points[r].Number = r;
  EXPECT_EQ(CoordinateSaveReport(d, CoordinateFormat::kApa).numbersNotSaved, 0u);
  d.Table.Points[2].Number = 40;
  EXPECT_EQ(CoordinateSaveReport(d, CoordinateFormat::kApa).numbersNotSaved, 1u);
  EXPECT_EQ(CoordinateSaveReport(d, CoordinateFormat::kSima).numbersNotSaved, 0u);
  EXPECT_EQ(Load(FormatCoordinateFile(d, CoordinateFormat::kApa)).Table.Points[2].Number, 2);
  EXPECT_EQ(
      SaveWarnings(CoordinateSaveReport(d, CoordinateFormat::kApa), "o.apa", Language::kJapanese)
          .at(2),
      "o.apa\r\n点 1 個の点番号は保存されませんでした。APA 形式のファイルでは、"
      "点番号は行の順になります。");
  EXPECT_EQ(SaveWarnings(CoordinateSaveReport(d, CoordinateFormat::kZhy), "out.zhy"),
            std::vector<std::string>{
                "out.zhy: 3 parcels and polylines were not saved: only a SIMA file holds them"});
  EXPECT_TRUE(SaveWarnings(SaveReport{}, "out.zhy").empty());
  // No coordinate file holds that a point is unmarked: read back, it would be drawn.
  d.Table.Points[2].Marked = 0;
  d.Table.Points[3].Marked = 0;
  for (CoordinateFormat f : {CoordinateFormat::kZhy, CoordinateFormat::kCsv, CoordinateFormat::kApa,
                             CoordinateFormat::kSima})
    EXPECT_EQ(CoordinateSaveReport(d, f).unmarkedNotSaved, 2u);
  EXPECT_EQ(SaveWarnings(CoordinateSaveReport(d, CoordinateFormat::kZhy), "out.zhy").at(1),
            "out.zhy: 2 points are unmarked, which a coordinate file cannot hold: read back, they "
            "are marked and drawn");
  d.Table.Points[2].Marked = 1;
  d.Table.Points[3].Marked = 1;
  // Texts holding what ends a field or a line on reading: each point counted once, where
  // the format writes the text; a tab splits a tab list and, on its first line, a ZHY.
  d.Table.Points[1].Name = "T,9";
  d.Table.Points[2].Mark = "a\tb";
  d.Table.Points[3].Remarks = "line\r\nbreak";
  const auto split = [&](CoordinateFormat f) { return CoordinateSaveReport(d, f).textsSplit; };
  EXPECT_EQ(split(CoordinateFormat::kZhy), 2u);  // the tab of line 2 reads back as it was
  EXPECT_EQ(split(CoordinateFormat::kCsv), 2u);
  EXPECT_EQ(split(CoordinateFormat::kSima), 1u);
  EXPECT_EQ(split(CoordinateFormat::kApa), 1u);
  const CoordinateData splitBack = Load(FormatCoordinateFile(d, CoordinateFormat::kSima));
  EXPECT_NE(splitBack.Table.Points[1].Name, d.Table.Points[1].Name);  // why the user must hear
  EXPECT_EQ(Load(FormatCoordinateFile(d, CoordinateFormat::kZhy)).Table.Points[2].Mark, "a\tb");
  std::swap(d.Table.Points[1], d.Table.Points[2]);
  EXPECT_EQ(split(CoordinateFormat::kZhy), 3u);
  std::swap(d.Table.Points[1], d.Table.Points[2]);
  // The head's and the blocks' texts of a SIMA file: a parcel name with a comma would cut
  // its opening record and leave the file unreadable.
  EXPECT_FALSE(CoordinateSaveReport(d, CoordinateFormat::kSima).headSplit);
  d.Sima.SimaBlocks[0].Name = "north,lot";
  EXPECT_TRUE(CoordinateSaveReport(d, CoordinateFormat::kSima).headSplit);
  EXPECT_FALSE(CoordinateSaveReport(d, CoordinateFormat::kZhy).headSplit);
  d.Sima.SimaBlocks[0].Name = "north";
  d.Sima.SiteName = "新現場,テスト";
  EXPECT_EQ(Load(FormatCoordinateFile(d, CoordinateFormat::kSima)).Sima.SiteName, "新現場");
  EXPECT_EQ(SaveWarnings(CoordinateSaveReport(d, CoordinateFormat::kSima), "out.sim"),
            (std::vector<std::string>{
                "out.sim: the marks and remarks of 2 points were not saved: only a ZHY or CSV "
                "file holds them",
                "out.sim: the name, mark or remarks of 1 point hold \",\" or a line break, and "
                "will not read back as written: the text splits into more fields",
                "out.sim: the site name, a title, or a parcel's or polyline's name holds \",\" or "
                "a line break, and will not read back as written"}));
  EXPECT_EQ(
      SaveWarnings(CoordinateSaveReport(d, CoordinateFormat::kCsv), "out.csv", Language::kJapanese)
          .at(1),
      "out.csv\r\n点 2 個の点名・マーク・備考に区切りのタブか改行が含まれているため、"
      "このファイルを読み込むと別の欄に分かれます。");
}

TEST(LoadDelimited, NoLineIsLeftOutWithoutAWord) {
  // A blank first line or a comment does not decide the separator: the first data line
  // does. Blank and comment lines hold no point and are not counted.
  for (const std::string head : {"\r\n", "# exported 2024-05-01\r\n", "  \r\n#\r\n"}) {
    LoadReport report;
    const CoordinateData d = Load(head + "1\tA\t10\t20\t3\r\n2\tB\t11\t21\t4\r\n", &report);
    ASSERT_EQ(d.Table.PointCount, 2) << head;
    EXPECT_EQ(d.Table.Points[2].Name, "B");
    EXPECT_EQ(d.Table.Points[2].Y, 21.0);
    EXPECT_TRUE(LoadWarnings(report, "f").empty()) << head;
  }
  // A "#" line that splits as the rows do may be a point named "#1": left out, it is told.
  LoadReport hashed;
  EXPECT_EQ(Load("#1,100,200\r\n#2,101,201\r\nP3,102,202\r\n", &hashed).Table.PointCount, 1);
  EXPECT_EQ(LoadWarnings(hashed, "h.txt"),
            std::vector<std::string>{"h.txt:1: lines before the first point that begin with \"#\" "
                                     "were left out as comments, though they read as points do: 2, "
                                     "the first on this line"});
  // A comment in words, in a space list, is no row.
  LoadReport words;
  Load("# survey of lot 5, 2024\r\n1 a 1 2 3\r\n2 b 4 5 6\r\n", &words);
  EXPECT_TRUE(LoadWarnings(words, "w.txt").empty());
  // A line of blanks in a space or tab list is no point at (0, 0).
  EXPECT_EQ(Load("1 a 1 2 3\r\n   \r\n2 b 4 5 6\r\n\t\t\r\n").Table.PointCount, 2);
  // Lines the separator does not split are counted, the first one named.
  LoadReport report;
  const CoordinateData d =
      Load("1,a,1,2,3\r\n2\tb\t4\t5\t6\r\n\r\n3,c,7,8,9\r\n4 d 1 2 3\r\n# note\r\n", &report);
  EXPECT_EQ(d.Table.PointCount, 2);
  EXPECT_EQ(report.unsplitLines, 2u);
  EXPECT_EQ(report.firstUnsplitLine, 2u);
  EXPECT_EQ(LoadWarnings(report, "f.zhy"),
            std::vector<std::string>{"f.zhy:2: 2 lines do not split into fields at the separator "
                                     "\",\" that the file's first line uses and were left out; "
                                     "the first is this line"});
  LoadReport one;
  Load("a\t1\t2\r\n2,b,3,4\r\nc\t5\t6\r\n", &one);
  EXPECT_EQ(
      LoadWarnings(one, "t.csv"),
      std::vector<std::string>{"t.csv:2: 1 line does not split into fields at the separator TAB "
                               "that the file's first line uses and was left out; it is this "
                               "line"});
  // Not one point: an error, and the table keeps what it had.
  CoordinateData kept = Load("1,a,1,2,3\r\n2,b,4,5,6\r\n");
  for (const std::string text : {"\r\n\r\n", "# a\r\n# b\r\n", "x\r\ny\r\nz\r\n"}) {
    for (bool append : {false, true}) {
      try {
        LoadCoordinateText(text, "none.txt", kept, append);
        FAIL() << "a file without a point loaded: " << text << append;
      } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "no point could be read from none.txt");
      }
      EXPECT_EQ(kept.Table.PointCount, 2);
    }
  }
}

TEST(SaveSima, TitlesNotesAndBlocksStayWhereTheyDraw) {
  // A third title and titles between the sections are saved, in their places.
  const std::string file =
      "G00,01,site,\r\nZ00,one,\r\nZ00,two,\r\nZ00,three,\r\nA00,\r\nA01,1,a,0,0,0,\r\n"
      "A01,2,b,10,0,0,\r\nA01,3,c,10,10,0,\r\nA99,\r\nZ00,parcels,\r\nD00,1,P,1,\r\nB01,1,a,\r\n"
      "B01,2,b,\r\nB01,3,c,\r\nD99,\r\nZ00,end,\r\n";
  const CoordinateData d = Load(file);
  EXPECT_EQ(FormatCoordinateFile(d, CoordinateFormat::kSima), file);
  // Empty titles before a third one keep it a note, not a title, after a save.
  const std::string empties =
      "G00,01,site,\r\nZ00,,\r\nZ00,,\r\nZ00,three,\r\nA00,\r\n"
      "A01,1,a,0,0,0,\r\nA99,\r\n";
  EXPECT_EQ(FormatCoordinateFile(Load(empties), CoordinateFormat::kSima), empties);
  // One inside a block is no title there, and stays inside.
  const std::string inside =
      "G00,01,site,\r\nA00,\r\nA01,1,a,0,0,0,\r\nA99,\r\nF00,1,road,\r\n"
      "B01,1,a,\r\nZ00,note,\r\nF99,\r\nZ00,title,\r\n";
  const CoordinateData in = Load(inside);
  EXPECT_EQ(in.Sima.SimaTitles[0], "title");
  EXPECT_EQ(FormatCoordinateFile(in, CoordinateFormat::kSima),
            "G00,01,site,\r\nZ00,title,\r\nA00,\r\nA01,1,a,0,0,0,\r\nA99,\r\nF00,1,road,\r\n"
            "B01,1,a,\r\nZ00,note,\r\nF99,\r\n");
  // A parcel before the points names no point read yet: it draws nothing, and after a
  // save and a load it still draws nothing.
  const std::string early =
      "G00,01,site,\r\nD00,1,P,1,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,3,c,\r\nD99,\r\nA00,\r\n"
      "A01,1,a,0,0,0,\r\nA01,2,b,10,0,0,\r\nA01,3,c,10,10,0,\r\nA99,\r\n"
      "D00,2,Q,1,\r\nB01,1,a,\r\nB01,2,b,\r\nB01,3,c,\r\nD99,\r\n";
  const CoordinateData e = Load(early);
  ASSERT_EQ(e.Sima.SimaLines.size(), 3u);  // the second parcel only
  ASSERT_EQ(e.Sima.SimaTexts.size(), 1u);
  const std::string saved = FormatCoordinateFile(e, CoordinateFormat::kSima);
  EXPECT_EQ(saved, early);
  const CoordinateData back = Load(saved);
  EXPECT_EQ(back.Sima.SimaLines.size(), 3u);
  EXPECT_EQ(back.Sima.SimaTexts.size(), 1u);
  // A parcel whose points all came before stays where it was when one after it names a
  // point still to come: moved behind the points, that one would draw whole.
  const std::string between =
      "G00,01,S,\r\nA00,\r\nA01,1,P1,0,0,0,\r\nA01,2,P2,10,0,0,\r\nA01,3,P3,10,10,0,\r\n"
      "A99,\r\nD00,1,Lot1,1,\r\nB01,1,P1,\r\nB01,2,P2,\r\nB01,3,P3,\r\nD99,\r\n"
      "D00,2,Lot2,1,\r\nB01,3,P3,\r\nB01,4,P4,\r\nB01,5,P5,\r\nD99,\r\n"
      "A00,\r\nA01,4,P4,20,10,0,\r\nA01,5,P5,20,0,0,\r\nA99,\r\n";
  const CoordinateData cut = Load(between);
  ASSERT_EQ(cut.Sima.SimaLines.size(), 3u);  // Lot2 stops at point 4
  EXPECT_EQ(FormatCoordinateFile(cut, CoordinateFormat::kSima), between);
  // Points appended after a load, with numbers no parcel names, keep one point section.
  CoordinateData more = Load(file);
  SurveyPoint& p = AppendPoint(more.Table);
  p.Number = 4;
  p.Name = "d";
  const std::string withD = FormatCoordinateFile(more, CoordinateFormat::kSima);
  EXPECT_EQ(withD.find("A00,"), withD.rfind("A00,"));
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

TEST(LoadSima, RepeatsWithinAFileWithParcelsAreToldOf) {
  // The parcel names 5, which two points of the file have: the first is its corner.
  const std::string points =
      "A00,\r\nA01,5,a,0,0,0,\r\nA01,6,b,10,0,0,\r\nA01,5,c,20,0,0,\r\n"
      "A01,6,d,30,0,0,\r\nA01,5,e,40,0,0,\r\n";
  LoadReport report;
  const CoordinateData d = Load(points + "D00,1,P,0,\r\nB01,6,\r\nB01,5,\r\nD99,\r\n", &report);
  ASSERT_EQ(d.Sima.SimaLines.size(), 1u);
  EXPECT_EQ(d.Sima.SimaLines[0].StartX, 0.0);
  EXPECT_EQ(LoadWarnings(report, "a.sim"),
            std::vector<std::string>{"a.sim: 3 points repeat numbers of points before them in "
                                     "the file (number 5, the first); parcels that name such a "
                                     "number use the first point"});
  // Without parcels or polylines nothing names them: nothing to say.
  LoadReport none;
  Load(points, &none);
  EXPECT_TRUE(LoadWarnings(none, "a.sim").empty());
}

}  // namespace
}  // namespace kestrova
