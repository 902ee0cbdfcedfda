// A file read in pieces and parsed in ranges at once must give exactly what one pass
// over the whole text gives: the same rows, parcels, segments, labels, reports and
// errors, whatever the piece size and wherever a line end falls.

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/run_program.h"
#endif

#include "common/error.h"
#include "coords/coordinate_file.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

constexpr LoadTuning kSerial{SIZE_MAX / 2, SIZE_MAX};

// Everything a load leaves behind, as text, so a difference shows where it is.
std::string Describe(const CoordinateData& d, const LoadReport& r, const std::string& name) {
  std::string out = "points " + std::to_string(d.Table.PointCount) + "\n";
  for (int32_t i = 1; i <= d.Table.PointCount; ++i) {
    const SurveyPoint& p = d.Table.Points[i];
    char xyz[96];
    std::snprintf(xyz, sizeof xyz, "%a %a %a", p.X, p.Y, p.Z);
    out += std::to_string(p.Number) + "|" + p.Name + "|" + xyz + "|" + p.Mark + "|" + p.Remarks +
           "|" + std::to_string(p.Marked) + "\n";
  }
  for (const SimaLine& l : d.Sima.SimaLines) {
    char line[160];
    std::snprintf(line, sizeof line, "line %a %a %a %a %d %d\n", l.StartX, l.StartY, l.EndX, l.EndY,
                  l.PenStyle, l.PenColor);
    out += line;
  }
  for (const SimaText& t : d.Sima.SimaTexts) {
    char at[96];
    std::snprintf(at, sizeof at, "%a %a", t.X, t.Y);
    out += "label " + t.Text + " " + at + "\n";
  }
  for (const SimaBlock& b : d.Sima.SimaBlocks) {
    out += "block " + std::string(b.Polyline ? "F " : "D ") + b.Number + "|" + b.Name + "|" +
           std::to_string(b.Closing) + ":";
    for (const SimaBlockRecord& rec : b.Records)
      out += " " + std::to_string(rec.RecordKind) + "/" + std::to_string(rec.Point.Number) + "/" +
             rec.Point.Name;
    out += "\n";
  }
  out += "site " + d.Sima.SiteName + " titles " + d.Sima.SimaTitles[0] + "|" +
         d.Sima.SimaTitles[1] + " sima " + std::to_string(d.Sima.SimaLoaded) + "\n";
  for (const std::string& w : LoadWarnings(r, name))
    out += w + "\n";
  return out;
}

struct Outcome {
  std::string description;  // or the error
};

// Loads text (after base, when given, is loaded first and the text appended) through the
// given path: in memory or from a file, with the given tuning.
Outcome LoadThrough(const std::string& text, const std::string& base, bool viaFile,
                    const LoadTuning& tuning) {
  CoordinateData d;
  if (!base.empty()) {
    EXPECT_TRUE(LoadCoordinateText(base, "f.sim", d, false));
  }
  LoadReport report;
  // One file per test and process: tests, and two builds' tests, run side by side.
  static const std::string process = std::to_string(std::random_device{}());
  const fs::path path =
      fs::path(::testing::TempDir()) /
      (std::string("kestrova-piecewise-") +
       ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + process + ".sim");
  try {
    bool loaded = false;
    if (viaFile) {
      std::ofstream(path, std::ios::binary) << text;
      loaded = LoadCoordinateFile(path, d, !base.empty(), &report, nullptr, tuning);
      fs::remove(path);
    } else {
      loaded = LoadCoordinateText(text, path.string(), d, !base.empty(), &report, nullptr, tuning);
    }
    return {std::string(loaded ? "loaded\n" : "not loaded\n") + Describe(d, report, path.string())};
  } catch (const Error& e) {
    fs::remove(path);
    // The table must be as it was: the base file's alone.
    CoordinateData before;
    if (!base.empty()) LoadCoordinateText(base, "f.sim", before, false);
    LoadReport none;
    EXPECT_EQ(Describe(d, none, ""), Describe(before, none, "")) << e.what();
    return {std::string("error ") + e.what()};
  }
}

// Every way through must agree with the serial reading of the whole text.
void ExpectSameEverywhere(const std::string& text, const std::string& base = {}) {
  const Outcome serial = LoadThrough(text, base, false, kSerial);
  for (size_t block : {size_t{7}, size_t{64}, size_t{1000}, size_t{4} << 20}) {
    for (size_t perRange : {size_t{1}, size_t{3}, size_t{16'384}}) {
      const LoadTuning tuning{block, perRange};
      for (bool viaFile : {false, true}) {
        const Outcome o = LoadThrough(text, base, viaFile, tuning);
        ASSERT_EQ(o.description, serial.description)
            << "pieces of " << block << " bytes, ranges of " << perRange << " lines, "
            << (viaFile ? "from a file" : "in memory");
      }
    }
  }
}

// A site with everything a parallel reader could get wrong: parcels that name points
// of earlier pieces and of later lines (not yet read: abandoned), unknown and bad
// numbers, triangles, blocks without their closing record (ended by the next block and
// by the end of the file), points and headers inside blocks, repeated numbers, and
// every kind of line end, CR LF pairs landing on every piece boundary.
std::string Site(int points) {
  const char* ends[] = {"\r\n", "\n", "\r"};
  std::string s = "G00,01,site,\r\nZ00,first,\r\nA00,\r\n";
  int e = 0;
  const auto end = [&] { return std::string(ends[(e++ / 5) % 3]); };
  for (int i = 1; i <= points; ++i) {
    s += "A01," + (i % 97 == 0 ? std::string("x") + std::to_string(i) : std::to_string(i)) + ", P" +
         std::to_string(i) + " ," + std::to_string(i * 1.5) + "," + std::to_string(-i * 0.25) +
         "," + (i % 53 == 0 ? "1e999" : "0.5") + (i % 31 == 0 ? ",KBM ,note" : "") + "," + end();
    if (i % 10 == 0) {
      const int a = i - 9;
      s += "D00," + std::to_string(i / 10) + ",lot" + std::to_string(i) + "," +
           (i % 30 == 0 ? "0" : "1") + "," + end();
      for (int c : {a, a + 3, a + 6, i % 70 == 0 ? i + 5 : a + 8})  // i + 5: not read yet
        s += "B01," + std::to_string(c) + ",P" + std::to_string(c) + "," + end();
      if (i % 20 == 0)
        s += "E01," + std::to_string(a) + ",," + std::to_string(a + 1) + ",,9999999,," + end();
      if (i % 40 == 0) s += "E01," + std::to_string(a) + ",,q,,3," + end();
      if (i % 50 == 0)
        s += "A01,7,again,1,1,1," + end() + "G00,01,inner," + end() + "Z00,second," + end();
      if (i % 90 != 0) s += "D99," + end();  // else ended by the next block
    }
    if (i % 25 == 0) {
      s += "F00,1,road," + end() + "B01," + std::to_string(i - 20) + "," + end() + "E01,1,,2,,3," +
           end() + "D99," + end() + "B01," + std::to_string(i - 3) + "," + end() + "F99," + end();
    }
    if (i % 120 == 0) s += "\r\n\r\n";
  }
  s += "Z00,third,\r\nD00,999,last,1,\r\nB01,1,\r\nB01,2,";  // open at the end, no final line end
  return s;
}

TEST(PiecewiseLoad, SimaSitesMatchTheSerialReading) {
  ExpectSameEverywhere(Site(400));
  // Appended to a file whose points the parcels may name, some numbers repeated.
  ExpectSameEverywhere(Site(150), "G00,01,base,\r\nA01,5,b5,9,9,9,\r\nA01,9999999,far,1,2,3,\r\n");
  // One CR LF cut at every place a piece can end: a file of CR LF lines around one CR.
  ExpectSameEverywhere("A00,\r\nA01,1,a,1,1,1,\r\rA01,2,b,2,2,2,\r\n\r\nA01,3,c,3,3,3,\r\n");
}

TEST(PiecewiseLoad, LinesEndAtCrLfLoneCrAndLoneLf) {
  // Lines "1,2", "", "3,4", "5,6", "", "7,8", "", "9,10": five points, X 1 3 5 7 9.
  const std::string text = "1,2\r\r3,4\r5,6\n\n7,8\r\n\r\n9,10\r";
  for (const LoadTuning& tuning : {kSerial, LoadTuning{5, 1}}) {
    CoordinateData d;
    ASSERT_TRUE(LoadCoordinateText(text, "e.txt", d, false, nullptr, nullptr, tuning));
    ASSERT_EQ(d.Table.PointCount, 5);
    for (int32_t r = 1; r <= 5; ++r) {
      EXPECT_EQ(d.Table.Points[r].X, 2 * r - 1);
      EXPECT_EQ(d.Table.Points[r].Name, std::to_string(r));
    }
    // One line with its end is one line; a CR and an LF the other way round are two.
    EXPECT_FALSE(LoadCoordinateText("1,2\r\n", "e.txt", d, false, nullptr, nullptr, tuning));
    EXPECT_TRUE(LoadCoordinateText("1,2\n\r", "e.txt", d, false, nullptr, nullptr, tuning));
    EXPECT_EQ(d.Table.PointCount, 1);
  }
}

TEST(PiecewiseLoad, ListsAndApaMatchTheSerialReading) {
  std::string zhy;
  for (int i = 0; i < 300; ++i) {
    switch (i % 6) {
      case 0:
        zhy += std::to_string(i) + ",N" + std::to_string(i) + ",1.5,2.5,3,M1,rem,extra,\r\n";
        break;
      case 1:
        zhy += "9.5,8.5\r\n";  // two fields: numbered and named by its row
        break;
      case 2:
        zhy += "name,1,2\n";  // three fields: numbered by its row
        break;
      case 3:
        zhy += "\r\n";  // no point
        break;
      case 4:
        zhy += "bad,N,nan,0x10,1,\r\n";  // not numbers
        break;
      default:
        zhy += "7,dup,1,2,3,4\r";
    }
  }
  ExpectSameEverywhere(zhy);
  ExpectSameEverywhere("a b c\nx 1 2 3\n1  2 3 4 5\n");             // space list
  ExpectSameEverywhere("1\tn,1\t2\t3\t\r\n2\ta,b\t4\t5\t6\t\r\n");  // tab list
  std::string apa = "A,01,X,V2.00,Q,\r\nB,site one,\r\n";
  for (int i = 0; i < 100; ++i)
    apa += "G,p" + std::to_string(i) + "," + std::to_string(i) + ",2,3,c,\r\n";
  apa += "Z,&,\r\nG,after,1,1,1,\r\nB,not read,\r\n";
  ExpectSameEverywhere(apa);
}

TEST(PiecewiseLoad, ErrorsNameTheSameLineAndChangeNothing) {
  std::string bad = Site(200);
  bad.insert(bad.find("D00,12,"), "D00,77,broken, one ,\r\n");
  ExpectSameEverywhere(bad);
  const Outcome o = LoadThrough(bad, "", true, LoadTuning{64, 1});
  EXPECT_NE(o.description.find("the closing flag \" one \" of parcel \"broken\""),
            std::string::npos)
      << o.description;
  ExpectSameEverywhere(bad, "A00,\r\nA01,1,a,0,0,0,\r\n");  // appended: rolled back
  // A single line, with or without its end, is no file to load.
  ExpectSameEverywhere("1,P,1,2,3\r\n");
  ExpectSameEverywhere("1,P,1,2,3");
  ExpectSameEverywhere("");
}

TEST(PiecewiseLoad, TheEncodingIsDecidedByTheWholeFile) {
  // Valid UTF-8 everywhere but a code page 932 character past the first pieces: code
  // page 932, byte for byte. And a UTF-8 character cut between two pieces stays UTF-8.
  std::string mixed = "1,\xE6\xB8\xAC,1,2,3,\r\n";  // 測 in UTF-8
  for (int i = 0; i < 50; ++i)
    mixed += std::to_string(i) + ",p,1,2,3,\r\n";
  ExpectSameEverywhere(mixed + "9,\x91\xAA,1,2,3,\r\n");  // 測 in code page 932
  ExpectSameEverywhere(mixed);
  std::string nul = mixed;
  nul[nul.size() - 3] = '\0';
  ExpectSameEverywhere(nul);
  ExpectSameEverywhere("\xEF\xBB\xBF" + mixed);
  // UTF-8 is converted piece by piece: characters without a code page 932 form are
  // counted over all pieces, and a marked file is converted even where it is malformed.
  const std::string noCp932 = "5,\xF0\x9F\x98\x80,1,2,3,\r\n";  // an emoji
  ExpectSameEverywhere(mixed + noCp932 + mixed + noCp932);
  ExpectSameEverywhere("\xEF\xBB\xBF" + mixed + "6,\xFF,1,2,3,\r\n" + noCp932);
  // Mostly UTF-8 with a code page 932 line, and code page 932 that is valid UTF-8 too:
  // each line is read the same way, and named at the same line, whatever the pieces.
  ExpectSameEverywhere(mixed + mixed + "9,\xC5\xB6\x31,1,2,3,\r\n" + "8,\x91\xAA,1,2,3,\r\n");
  ExpectSameEverywhere("1,\xC5\xB6\x31,1,2,3\r\n2,\xD0\xBD\x33,1,2,3\r\n\r3,p,1,2,3\r\n");
  // Lines longer than a piece: their vote is taken in a pass of its own, the same.
  std::string longUtf8 = "3,";
  for (int i = 0; i < 40; ++i)
    longUtf8 += "\xE6\xB8\xAC";  // 測 in UTF-8
  longUtf8 += ",1,2,3,\r\n";
  ExpectSameEverywhere("1,p,1,2,3,\r\n" + longUtf8 + longUtf8 + "9,\x91\xAA,1,2,3,\r\n" + longUtf8);
  // Pieces large enough to have their lines looked at on another core, while this one
  // counts them: the same reading, and the same line named, as in memory.
  // Plain ASCII pieces between them are only counted, and must be counted right.
  std::string large;
  for (int i = 0; i < 120; ++i)
    large += mixed;
  for (int i = 0; i < 20000; ++i)
    large += std::to_string(i) + ",q,4,5,6,\r\n";
  large += "8,\x91\xAA,1,2,3,\r\n" + mixed;
  ASSERT_GT(large.size(), size_t{5} << 16);
  for (const std::string& text : {large, large + noCp932 + "7,p,1,2,3,\r\n"}) {
    const std::string serial = LoadThrough(text, "", false, kSerial).description;
    const std::string piecewise =
        LoadThrough(text, "", true, LoadTuning{size_t{1} << 17, 4096}).description;
    // Too long for a readable difference: the warnings, which name the lines, are shown.
    EXPECT_TRUE(piecewise == serial)
        << piecewise.substr(piecewise.rfind("site ")) << "\ninstead of\n"
        << serial.substr(serial.rfind("site "));
  }
  // A single line is not loaded, but its lost characters are still told.
  ExpectSameEverywhere(noCp932);
  ExpectSameEverywhere("\xEF\xBB\xBF" + noCp932.substr(0, noCp932.size() - 2));
}

#ifndef _WIN32
// A named pipe (as a shell's <(...) gives) can be read only once; it loads as its text
// does, the text kept aside in memory or, when large, in a temporary file (in memory when
// there can be none). Bytes that are no text are refused as they come; UTF-16's zero
// bytes are no NUL.
TEST(PiecewiseLoad, APipeLoadsAsItsTextDoes) {
  const fs::path fifo =
      fs::path(::testing::TempDir()) / ("kestrova-fifo-" + std::to_string(std::random_device{}()));
  const std::string small = Site(400), large = Site(90'000);
  ASSERT_GT(large.size(), size_t{5} << 20);
  std::string wide = "\xFF\xFE";
  for (const char c : large)
    wide += {c, '\0'};
  const char* const tmpdir = std::getenv("TMPDIR");
  const std::string savedTmpdir = tmpdir ? tmpdir : "";
  for (const auto& [text, noTemporaryFolder] :
       {std::pair{&small, false}, {&large, false}, {&wide, false}, {&large, true}}) {
    CoordinateData whole;
    LoadReport wholeReport;
    ASSERT_TRUE(LoadCoordinateText(*text, "p", whole, false, &wholeReport, nullptr, kSerial));
    if (noTemporaryFolder) ::setenv("TMPDIR", "/nonexistent/kestrova", 1);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer =
        test::WriteFifo(fifo.string(), [text = text](std::ostream& out) { out << *text; });
    CoordinateData piped;
    LoadReport pipedReport;
    bool loaded = false;
    try {
      loaded = LoadCoordinateFile(fifo, piped, false, &pipedReport, nullptr, {4096, 64});
    } catch (const Error& e) {
      ADD_FAILURE() << e.what();
      // A writer still waiting for its reader is let go, to fail.
      const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
    writer.join();
    fs::remove(fifo);
    if (savedTmpdir.empty()) {
      ::unsetenv("TMPDIR");
    } else {
      ::setenv("TMPDIR", savedTmpdir.c_str(), 1);
    }
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(Describe(piped, pipedReport, "p") == Describe(whole, wholeReport, "p"));
  }
  // A device that never ends is no text from its first bytes, and is not kept.
  CoordinateData none;
  EXPECT_THROW(LoadCoordinateFile("/dev/zero", none, false), Error);
}
#endif

// UTF-16 text (as Windows programs save "Unicode") is converted as it is read: the same
// points, names, counts of lost characters and refusals as the whole file converted at
// once, wherever a piece cuts a unit or a pair of units.
TEST(PiecewiseLoad, Utf16IsConvertedAsItIsRead) {
  const auto utf16 = [](std::u16string_view text, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : text) {
      const char lo = static_cast<char>(u & 0xFF);
      const char hi = static_cast<char>(u >> 8);
      out += little ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
  };
  std::u16string site = u"G00,01,現場,\r\nA00,\r\n";
  for (int i = 1; i <= 40; ++i) {
    // Pairs (an emoji, no code page 932 form) at every offset from a piece's start.
    std::u16string number;
    for (char c : std::to_string(i))
      number += static_cast<char16_t>(c);
    site += u"A01," + number + u"," + std::u16string(static_cast<size_t>(i % 5), u'x') +
            (i % 3 == 0 ? u"\U0001F600" : u"境界①～") + u",1.5,2.25,3,\r\n";
  }
  site += u"D00,1,地,1,\r\nB01,1,\r\nB01,2,\r\nB01,3,\r\nD99,\r\n";
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "little-endian" : "big-endian");
    ExpectSameEverywhere(utf16(site, little));
    // Broken pairs become U+FFFD and are counted: a first unit before a plain one, a lone
    // second unit, a first unit at the very end, and an odd byte left over.
    const std::u16string lone =
        u"A01,99,a\xD83D"
        u"b\xDE00"
        u"c,1,2,3,\r\n";
    ExpectSameEverywhere(utf16(site + lone, little));
    ExpectSameEverywhere(utf16(site + lone + u"A01,98,z\xD83D", little));
    ExpectSameEverywhere(utf16(site + lone, little) + "A");
    ExpectSameEverywhere(utf16(site + u"A01,97,\xD83D", little) + "A");
    // A NUL character: not text, wherever it lies.
    ExpectSameEverywhere(utf16(site + std::u16string(u"A01,96,a\0b,1,2,3,\r\n", 19), little));
  }
}

}  // namespace
}  // namespace kestrova
