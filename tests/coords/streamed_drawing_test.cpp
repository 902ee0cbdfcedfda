// A drawing made from points gathered in temporary files must be byte for byte the one
// the same files loaded into a table give, with the same warnings and errors: checked
// over generated sites that meet every parcel rule, several files, settings and the
// smallest parts and buckets the gathering can use.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/flows.h"
#include "common/error.h"
#include "common/progress.h"
#include "common/spill_file.h"
#include "coords/coordinate_file.h"
#include "coords/streamed_drawing.h"
#include "coords/streamed_export.h"
#include "support/random_sima.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Outcome {
  std::string bytes;  // the drawing, or "error: ..." when there was none
  std::vector<std::string> warnings;
  uint32_t entities = 0;
  bool loadFailed = false;  // a file could not be read
};

bool operator==(const Outcome& a, const Outcome& b) {
  return a.bytes == b.bytes && a.warnings == b.warnings && a.entities == b.entities;
}

class StreamedDrawing : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("kestrova-streamed-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<fs::path> Files(const std::vector<std::string>& contents) {
    std::vector<fs::path> paths;
    for (const std::string& text : contents) {
      paths.push_back(dir_ / ("in" + std::to_string(paths.size()) + ".txt"));
      std::ofstream(paths.back(), std::ios::binary) << text;
    }
    return paths;
  }

  Outcome InTable(const std::vector<fs::path>& files, const OutputSettings& settings, int baseRow,
                  uint32_t version, const LoadTuning& load) {
    Outcome o;
    try {
      Workspace ws;
      ws.Settings = settings;
      ws.JwwVersion = version;
      bool append = false;
      for (const fs::path& file : files) {
        LoadReport report;
        o.loadFailed = true;
        if (!LoadCoordinateFile(file, ws.Coords, append, &report, nullptr, load)) {
          throw Error("too short");
        }
        o.loadFailed = false;
        for (const std::string& w : LoadWarnings(report, file.filename().string()))
          o.warnings.push_back(w);
        append = true;
      }
      ComputeDataBounds(ws.Coords.Table, ws.Bounds);
      SaveJwwFile(ws, dir_ / "table.jww", baseRow, nullptr);
      o.entities = ws.Drawing.EntityListCount;
      o.bytes = ReadBytes(dir_ / "table.jww");
    } catch (const Error& e) {
      o.bytes = std::string("error: ") + e.what();
    }
    return o;
  }

  // Warnings of blocks drawn short and of repeated numbers come last here, once every
  // file is read; the table's loads give them with their file, as the last of its warnings.
  Outcome Streamed(const std::vector<fs::path>& files, const OutputSettings& settings, int baseRow,
                   uint32_t version, const StreamTuning& tuning, const LoadTuning& load) {
    Outcome o;
    std::vector<std::vector<std::string>> warnings;
    std::vector<bool> sima;
    try {
      Workspace ws;
      ws.Settings = settings;
      ws.JwwVersion = version;
      StreamedDrawingData data(baseRow, tuning);
      CoordinateData counts;
      for (const fs::path& file : files) {
        data.StartFile();
        LoadReport report;
        if (!StreamCoordinateFile(file, data, counts, &report, nullptr, load)) {
          throw Error("too short");
        }
        warnings.push_back(LoadWarnings(report, file.filename().string()));
        sima.push_back(report.sima);
      }
      const std::vector<RepeatedNumbers> repeated = data.Finish();
      for (size_t f = 0; f < files.size(); ++f) {
        LoadReport report;
        report.sima = sima[f];
        TakeRepeats(report, repeated.at(f));
        if (f < data.Gaps().size()) TakeGaps(report, data.Gaps()[f]);
        for (const std::string& w : LoadWarnings(report, files[f].filename().string()))
          warnings[f].push_back(w);
        o.warnings.insert(o.warnings.end(), warnings[f].begin(), warnings[f].end());
      }
      SaveStreamedJwwFile(ws, data, counts.Sima.SimaLoaded,
                          std::make_unique<AtomicFileWriter>(dir_ / "streamed.jww"), nullptr);
      o.entities = ws.Drawing.EntityListCount;
      o.bytes = ReadBytes(dir_ / "streamed.jww");
    } catch (const Error& e) {
      o.bytes = std::string("error: ") + e.what();
      if (o.warnings.empty()) {  // the files read before the one that failed
        for (const std::vector<std::string>& w : warnings)
          o.warnings.insert(o.warnings.end(), w.begin(), w.end());
      }
    }
    return o;
  }

  void ExpectSame(const std::vector<std::string>& contents, const OutputSettings& settings,
                  int baseRow = 0, uint32_t version = 420, const LoadTuning& load = {}) {
    const std::vector<fs::path> files = Files(contents);
    Outcome table = InTable(files, settings, baseRow, version, load);
    if (table.loadFailed) {
      // The run ends at the file that fails: repeated numbers, blocks drawn short and
      // triangles left out, counted once every file is read, are not heard of.
      std::erase_if(table.warnings, [](const std::string& w) {
        return w.find("of the files loaded before") != std::string::npos ||
               w.find("before them in the file") != std::string::npos ||
               w.find("before it in the file") != std::string::npos ||
               w.find("drawn only up to there") != std::string::npos ||
               w.find("left out of the drawing") != std::string::npos;
      });
    }
    // The default sizes; tiny parts and buckets, everything moving to files after a few
    // records; the smallest parts and buckets, every file on disk from the start.
    for (const StreamTuning tuning :
         {StreamTuning{}, StreamTuning{3, 2, 400}, StreamTuning{1, 1, 0}}) {
      const Outcome streamed = Streamed(files, settings, baseRow, version, tuning, load);
      ASSERT_EQ(streamed.bytes.size(), table.bytes.size())
          << "parts of " << tuning.pointsPerPartition << ", buckets of " << tuning.refsPerBucket
          << (table.bytes.rfind("error", 0) == 0 ? table.bytes : "")
          << (streamed.bytes.rfind("error", 0) == 0 ? streamed.bytes : "");
      ASSERT_TRUE(streamed == table)
          << "parts of " << tuning.pointsPerPartition << ", buckets of " << tuning.refsPerBucket;
    }
  }

  fs::path dir_;
};

OutputSettings EveryLabel() {
  OutputSettings s;
  s.Point.EnkoFlg = true;
  s.Point.CodeFlg = true;
  s.Point.Code = 3;
  return s;
}

TEST_F(StreamedDrawing, GeneratedSitesGiveTheTablesDrawing) {
  std::mt19937 rng(20261206);
  for (int site = 0; site < 12; ++site) {
    SCOPED_TRACE("site " + std::to_string(site));
    ExpectSame({test::RandomSima(rng, 5 + site * 40)}, EveryLabel(), site % 4,
               site % 2 ? 420 : 300);
  }
}

TEST_F(StreamedDrawing, ASiteBeyondTheArchivesReferenceLimitsGivesTheTablesDrawing) {
  // Over 65,536 entities: object and class references change their form on the way.
  std::mt19937 rng(3);
  const std::string sima = test::RandomSima(rng, 14000);
  ExpectSame({sima}, EveryLabel(), 0, 420);
  ExpectSame({sima}, EveryLabel(), 0, 230);
}

class StopHalfway : public ProgressMonitor {
 public:
  bool Continue(double fraction) override { return fraction < 0.5; }
};

TEST_F(StreamedDrawing, ACancelledSaveLeavesThePreviousFileAndNothingElse) {
  std::mt19937 rng(5);
  const std::vector<fs::path> files = Files({test::RandomSima(rng, 30000)});
  StreamedDrawingData data;
  CoordinateData counts;
  data.StartFile();
  ASSERT_TRUE(StreamCoordinateFile(files[0], data, counts));
  data.Finish();
  Workspace ws;
  ws.Settings = EveryLabel();
  const fs::path target = dir_ / "site.jww";
  std::ofstream(target, std::ios::binary) << "previous";
  StopHalfway halfway;
  EXPECT_THROW(SaveStreamedJwwFile(ws, data, true, std::make_unique<AtomicFileWriter>(target),
                                   nullptr, &halfway),
               Cancelled);
  EXPECT_EQ(ReadBytes(target), "previous");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  // The same data still makes the whole drawing (well over one write buffer).
  SaveStreamedJwwFile(ws, data, true, std::make_unique<AtomicFileWriter>(target), nullptr);
  EXPECT_GT(fs::file_size(target), size_t{8} << 20);
}

TEST_F(StreamedDrawing, SeveralFilesShareRowsNumbersAndTheLastFilesAxes) {
  std::mt19937 rng(7);
  const std::string list =
      "1,2\r\n3,4\r\n"  // numbered and named by row
      "A,10,20\r\nB,11,21,5\r\n"
      "7,Q,12.5,22.25,3,105,remark\r\n8,R,-1e3,2e3,0,x\r\n";
  const std::string apa = "A,0\r\nB,site\r\nG,N1,1,2,3\r\nG,N2,4,5,6\r\nZ\r\nG,after,9,9,9\r\n";
  const std::string sima = test::RandomSima(rng, 60);
  OutputSettings mathematical = EveryLabel();
  mathematical.Coordinate.Flg = false;
  ExpectSame({list, sima}, mathematical, 2);
  ExpectSame({sima, list}, mathematical);
  ExpectSame({sima, test::RandomSima(rng, 40), sima}, EveryLabel(), 70);
  ExpectSame({apa, list, apa}, mathematical, 1, 200);
}

TEST_F(StreamedDrawing, SettingsAndBasePointsTakeEffectAsForATable) {
  std::mt19937 rng(11);
  const std::string sima = test::RandomSima(rng, 80);
  OutputSettings s = EveryLabel();
  s.WrtBAse.OutBaseFlg = true;
  for (int baseRow : {-1, 0, 1, 37, 10000})
    ExpectSame({sima}, s, baseRow);
  s.WrtBAse.mmFlg = true;
  s.Point.OutFlg = false;
  s.PointStr.OutFlg = false;
  s.Zcoord.MojiBs = 9;
  ExpectSame({sima}, s, 5, 230);
}

TEST_F(StreamedDrawing, RefusesWhatTheTableRefusesWithTheSameMessage) {
  // A scale of 0, a point too far for the scale, and files without a point.
  OutputSettings zero = EveryLabel();
  zero.WrtBAse.Scale = 0.0;
  ExpectSame({"1,P,1,2,0\r\n2,Q,3,4,0\r\n"}, zero);
  OutputSettings tiny = EveryLabel();
  tiny.WrtBAse.Scale = 1e-300;
  ExpectSame({"1,P,1,2,0\r\n2,Q,3,4,0\r\n3,\x8A\xEE,1e300,-1e300,0\r\n"}, tiny);
  ExpectSame({"G00,01,site,\r\nZ00,title,\r\n"}, EveryLabel());
  ExpectSame({"A00,\r\nD00,1,x,1,\r\n"}, EveryLabel());
}

std::string WithoutByte(std::string text, char byte) {
  std::erase(text, byte);
  return text;
}

// Files the reader takes apart in pieces of a few lines and ranges of one to three: every
// block and every record's "read before it" crosses a boundary somewhere.
TEST_F(StreamedDrawing, EdgeInputsInTinyPiecesGiveTheTablesDrawing) {
  const OutputSettings s = EveryLabel();
  const LoadTuning tiny{64, 3};
  // Numbers at the ends of their range, 0 and -1 twice, blocks without records, a
  // triangle with a corner no point has.
  const std::string extremes =
      "G00,01,x,\r\nA01,2147483647,a,1,1,0,\r\nA01,-2147483648,b,2,5,0,\r\nA01,0,c,7,3,0,\r\n"
      "A01,-1,d,4,4,0,\r\nA01,0,e,9,9,0,\r\n"
      "D00,1,p,1,\r\nB01,2147483647,\r\nB01,-2147483648,\r\nB01,0,\r\nB01,-1,\r\nD99,\r\n"
      "D00,2,,1,\r\nD99,\r\nD00,3,z,0,\r\nD99,\r\nF00,4,\r\nF99,\r\n"
      "D00,5,q,1,\r\nE01,0,,-1,,2147483647,\r\nE01,0,,99,,-1,\r\nB01,x,\r\nB01,0,\r\n"
      "D99,\r\n";
  ExpectSame({extremes}, s);
  ExpectSame({extremes, extremes}, s, 3, 300, tiny);
  ExpectSame({WithoutByte(extremes, '\n'), WithoutByte(extremes, '\r')}, s, 0, 420, tiny);
  // Parcels in a file of their own, before and after the points they name.
  const std::string parcels = "A00,\r\nD00,1,p,1,\r\nB01,1,\r\nB01,2,\r\nB01,3,\r\nD99,\r\n";
  const std::string list = "1,P,0,0,0\r\n2,Q,10,0,0\r\n3,R,10,10,0\r\n";
  ExpectSame({parcels, list}, s);
  ExpectSame({list, parcels, list, parcels}, s, 0, 420, tiny);
  // A block left open at the end of its file, and files without a point between others.
  ExpectSame({"A00,\r\nA01,1,a,1,1,0,\r\nD00,1,p,1,\r\nB01,1,\r\n",
              "A00,\r\nA01,2,a,2,3,0,\r\nB01,2,\r\nD99,\r\n"},
             s, 0, 420, tiny);
  ExpectSame({list, "G00,01,x,\r\nZ00,t,\r\n", "A00,\r\nA99,\r\n", extremes, list}, s, 0, 420,
             tiny);
  // UTF-8 with and without its mark, with characters Shift_JIS lacks, cut mid-character.
  const std::string utf8 =
      "G00,01,\xE7\x8F\xBE\xE5\xA0\xB4,\r\nA01,1,\xE6\x9D\xAD,1,2,3,\r\nA01,2,\xF0\x9F\x98\x80,3,"
      "4,5,\r\nA01,3,\xC3\xA9,9,1,0,\r\nD00,1,\xE7\x95\x91,1,\r\nB01,1,\r\nB01,2,\r\nB01,3,\r\n"
      "D99,\r\n";
  ExpectSame({"\xEF\xBB\xBF" + utf8, utf8}, s, 0, 420, tiny);
  ExpectSame({"\xEF\xBB\xBF" + utf8}, s, 0, 420, LoadTuning{3, 1});
  // APA stops at "Z", whatever piece it lies in.
  const std::string apa =
      "A,0\r\nB,site\r\nG,N1,1,2,3\r\nG,N2,4,5,6\r\nG,N3,7,8,9\r\nZ\r\nG,after,9,9,9\r\n";
  ExpectSame({apa, apa}, s, 0, 420, tiny);
  // One polyline and one parcel of 3,000 records each, over many pieces and buckets.
  std::string big = "G00,01,x,\r\n";
  for (int i = 1; i <= 3000; ++i) {
    big += "A01," + std::to_string(i) + ",n," + std::to_string(i % 97) + "," +
           std::to_string(i % 89) + ",0,\r\n";
  }
  big += "F00,1,\r\n";
  for (int i = 1; i <= 3000; ++i)
    big += "B01," + std::to_string(i) + ",\r\n";
  big += "F99,\r\nD00,1,big,1,\r\n";
  for (int i = 3000; i >= 1; --i)
    big += "B01," + std::to_string(i) + ",\r\n";
  big += "D99,\r\n";
  ExpectSame({big}, s, 0, 420, LoadTuning{100, 7});
  // A parcel too large to draw is refused with the same message.
  ExpectSame({list,
              "A00,\r\nA01,1,P,1,2,0\r\nA01,2,Q,1e308,-1e308,0\r\nD00,1,p,1,\r\nB01,1,\r\nB01,2,"
              "\r\nD99,\r\n"},
             s, 1);
}

// Random mixes of SIMA, lists and APA files, in every line end, with numbers at the ends
// of their range, read in pieces of every size, with any settings and version.
TEST_F(StreamedDrawing, RandomMixesOfFilesGiveTheTablesDrawing) {
  std::mt19937 rng(20261207);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int run = 0; run < 40; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    std::vector<std::string> files;
    for (int f = 1 + pick(4); f > 0; --f) {
      std::string text;
      switch (pick(4)) {
        case 0:
        case 1:
          text = test::RandomSima(rng, 1 + pick(60));
          break;
        case 2:  // a list; one of a single line is refused
          for (int i = pick(20); i >= 0; --i) {
            text += std::to_string(pick(3) ? pick(50) : -pick(3)) + ",N" + std::to_string(i) + "," +
                    std::to_string(pick(1000)) + "," + std::to_string(pick(1000)) + ",0\r\n";
          }
          break;
        default:
          text = "A,0\r\nB,s\r\n";
          for (int i = pick(10); i >= 0; --i) {
            text += "G,g" + std::to_string(i) + "," + std::to_string(pick(100)) + "," +
                    std::to_string(pick(100)) + ",1\r\n";
          }
          if (pick(2)) text += "Z\r\nG,x,1,1,1\r\n";
      }
      if (pick(3) == 0) {  // some point numbers at the ends of their range
        for (size_t at = text.find("A01,"); at != std::string::npos;
             at = text.find("A01,", at + 1)) {
          const size_t from = at + 4;
          if (pick(4) == 0) {
            text.replace(from, text.find(',', from) - from, pick(2) ? "2147483647" : "-2147483648");
          }
        }
      }
      switch (pick(4)) {
        case 0:
          text = WithoutByte(text, '\n');
          break;
        case 1:
          text = WithoutByte(text, '\r');
          break;
        case 2:
          text = "\xEF\xBB\xBF" + text;
          break;
      }
      files.push_back(text);
    }
    OutputSettings s = EveryLabel();
    s.Coordinate.Flg = pick(2) != 0;
    s.WrtBAse.OutBaseFlg = pick(2) != 0;
    const LoadTuning load{static_cast<size_t>(1 + pick(300)), static_cast<size_t>(1 + pick(5))};
    ExpectSame(files, s, pick(80), 200 + 10 * static_cast<uint32_t>(pick(23)), load);
    if (HasFatalFailure()) return;
  }
}

// A coordinate file written as its points are read is the one a save of the loaded table
// writes, in every format, whether its lines stay in memory or go to temporary files.
TEST_F(StreamedDrawing, CoordinateFilesWrittenAsReadEqualTheTablesSave) {
  std::mt19937 rng(7);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int run = 0; run < 12; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    std::vector<std::string> contents;
    for (int f = 1 + pick(3); f > 0; --f) {
      switch (pick(3)) {
        case 0:
          contents.push_back(test::RandomSima(rng, 1 + pick(80)));
          break;
        case 1:
          contents.push_back("7,a,1,2,3,m,r\r\n8,b,4,5,6,,\r\nc,7,8\r\n9,10\r\n");
          break;
        default:
          contents.push_back("A,01,X,V2.00,!,\r\nB,apa site,\r\nG,g,-1,-2,3,x,\r\nZ,&,\r\n");
      }
    }
    const std::vector<fs::path> files = Files(contents);
    const LoadTuning load{static_cast<size_t>(1 + pick(300)), static_cast<size_t>(1 + pick(5))};
    CoordinateData table;
    for (size_t f = 0; f < files.size(); ++f)
      ASSERT_TRUE(LoadCoordinateFile(files[f], table, f > 0, nullptr, nullptr, load));
    for (const CoordinateFormat format : {CoordinateFormat::kZhy, CoordinateFormat::kCsv,
                                          CoordinateFormat::kApa, CoordinateFormat::kSima}) {
      for (const size_t inMemory : {size_t{0}, size_t{100}, size_t{24} << 20}) {
        StreamedCoordinateWriter writer(format, inMemory);
        CoordinateData counts;
        for (const fs::path& file : files)
          ASSERT_TRUE(StreamCoordinateFile(file, writer, counts, nullptr, nullptr, load));
        std::string bytes;
        writer.Write(counts.Sima, [&](std::string_view piece) { bytes += piece; });
        // A SIMA file with notes or with blocks among its points is saved from the table,
        // which keeps them where they stood.
        const bool fromTable =
            format == CoordinateFormat::kSima &&
            (!counts.Sima.SimaNotes.empty() || writer.BlocksAmongPoints(table.Table.PointCount));
        if (!fromTable) {
          EXPECT_EQ(bytes, FormatCoordinateFile(table, format))
              << CoordinateFormatExtension(format) << " " << inMemory;
        }
        const SaveReport streamed = writer.Report(), ofTable = CoordinateSaveReport(table, format);
        EXPECT_EQ(streamed.blocksNotSaved, ofTable.blocksNotSaved);
        EXPECT_EQ(streamed.marksNotSaved, ofTable.marksNotSaved);
        EXPECT_EQ(streamed.textsSplit, ofTable.textsSplit);
        EXPECT_EQ(streamed.headSplit, ofTable.headSplit);
      }
    }
  }
}

#ifdef __linux__
TEST_F(StreamedDrawing, NoDescriptorOutlivesADrawingOrARefusal) {
  const auto open = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  };
  std::mt19937 rng(9);
  const std::string sima = test::RandomSima(rng, 300);
  const auto before = open();
  OutputSettings tiny = EveryLabel();
  tiny.WrtBAse.Scale = 1e-300;
  ExpectSame({sima, sima}, EveryLabel());
  ExpectSame({sima, "1,P,1,2,0\r\n2,Q,3,4,0\r\n3,R,1e300,-1e300,0\r\n"}, tiny);
  ExpectSame({sima, "G00,01,x,\r\nA01,1,a,0,0,0,\r\nD00,1,p,yes,\r\n"}, EveryLabel());
  ExpectSame({sima, "x"}, EveryLabel());
  EXPECT_EQ(open(), before);
}
#endif

TEST(SpillFile, GivesBackEveryByteAcrossItsBufferAsOftenAsRead) {
  // On disk from the start, moving there after three blocks of 64 bytes, and all in memory.
  for (const size_t keep : {size_t{0}, size_t{256}, SIZE_MAX}) {
    SCOPED_TRACE("keeping " + std::to_string(keep) + " bytes in memory");
    SpillFile file(64, keep);
    std::string written;
    for (int i = 0; i < 1000; ++i) {
      const std::string piece(static_cast<size_t>(i % 97), static_cast<char>('a' + i % 26));
      file.Put(static_cast<uint16_t>(piece.size()));
      file.Write(piece.data(), piece.size());
      written += piece;
    }
    EXPECT_EQ(file.Size(), written.size() + 2000);
    for (int pass = 0; pass < 2; ++pass) {
      file.Rewind();
      std::string read;
      uint16_t size = 0;
      while (file.Read(&size, sizeof size)) {
        std::string piece(size, '\0');
        ASSERT_TRUE(file.Read(piece.data(), size));
        read += piece;
      }
      EXPECT_EQ(read, written);
      EXPECT_EQ(file.Size(), written.size() + 2000);
    }
    // A record cut by the end of the file is an error, not a short read; a range may be.
    file.Rewind();
    std::string all(written.size() + 2005, '\0');
    ASSERT_EQ(file.ReadSome(all.data(), all.size()), written.size() + 2000);
    file.Rewind();
    std::string more(written.size() + 2001, '\0');
    EXPECT_THROW(file.Read(more.data(), more.size()), Error);
  }
}

}  // namespace
}  // namespace kestrova
