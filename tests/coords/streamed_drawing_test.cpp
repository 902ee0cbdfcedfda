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

namespace kestrova {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A SIMA site: points with numbers that repeat, go missing or are left out, long and
// double-byte names, every kind of mark; parcels, triangles and polylines naming known,
// unknown and later points, unclosed and mismatched blocks, parcels without a name or
// of no area, records outside any block.
std::string RandomSima(std::mt19937& rng, int points) {
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* marks[] = {"", "5", "105", "205", "-3", "x", "100", " 7 "};
  const char* names[] = {"P", "\x8A\xEE\x8F\x80\x93\x5F", "", "road-centre-line-12", "A"};
  std::string out = "G00,01,site,\r\nZ00,title,\r\nA00,\r\n";
  int written = 0;
  const auto ref = [&] {
    // Mostly known numbers; some unknown, some not yet read, some not numbers at all.
    switch (pick(12)) {
      case 0:
        return std::string("999999");
      case 1:
        return std::to_string(written + 1 + pick(5));
      case 2:
        return std::string("x");
      default:
        return std::to_string(1 + pick(std::max(written, 1)));
    }
  };
  while (written < points) {
    const int kind = pick(10);
    if (kind < 7) {
      ++written;
      out += "A01,";
      if (pick(15) != 0) out += std::to_string(pick(20) == 0 ? 1 + pick(written) : written);
      out += std::string(",") + names[pick(5)] + std::to_string(pick(3) ? written : 0) + ",";
      out += std::to_string(-12000.0 + pick(100000) * 0.001) + "," +
             std::to_string(-30000.0 + pick(100000) * 0.0007) + "," + std::to_string(pick(50));
      if (pick(2)) out += std::string(",") + marks[pick(8)];
      out += "\r\n";
      continue;
    }
    const bool polyline = kind == 9;
    out += polyline ? "F00,1," : "D00,1,";
    out += pick(4) == 0 ? std::string() : "\x92\x6E" + std::to_string(pick(100));
    if (!polyline) out += pick(3) ? ",1" : ",0";
    out += "\r\n";
    const int records = pick(7);
    for (int r = 0; r < records; ++r) {
      if (pick(6) == 0) {
        out += "E01," + ref() + ",," + ref() + ",," + ref() + ",\r\n";
      } else {
        out += "B01," + ref() + ",\r\n";
      }
    }
    if (pick(8) != 0) out += polyline == (pick(10) != 0) ? "F99,\r\n" : "D99,\r\n";
    if (pick(10) == 0) out += "B01,1,\r\n";  // outside any block
  }
  out += "A99,\r\n";
  return out;
}

struct Outcome {
  std::string bytes;  // the drawing, or "error: ..." when there was none
  std::vector<std::string> warnings;
  uint32_t entities = 0;
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
                  uint32_t version) {
    Outcome o;
    try {
      Workspace ws;
      ws.Settings = settings;
      ws.JwwVersion = version;
      bool append = false;
      for (const fs::path& file : files) {
        LoadReport report;
        if (!LoadCoordinateFile(file, ws.Coords, append, &report)) throw Error("too short");
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

  // Warnings of repeated numbers come last here, once every file is read; the table's
  // loads give them with their file, as the last of its warnings.
  Outcome Streamed(const std::vector<fs::path>& files, const OutputSettings& settings, int baseRow,
                   uint32_t version, const StreamTuning& tuning) {
    Outcome o;
    try {
      Workspace ws;
      ws.Settings = settings;
      ws.JwwVersion = version;
      StreamedDrawingData data(baseRow, tuning);
      CoordinateData counts;
      std::vector<std::vector<std::string>> warnings;
      for (const fs::path& file : files) {
        data.StartFile();
        LoadReport report;
        if (!StreamCoordinateFile(file, data, counts, &report)) throw Error("too short");
        warnings.push_back(LoadWarnings(report, file.filename().string()));
      }
      const std::vector<size_t> repeated = data.Finish();
      for (size_t f = 0; f < files.size(); ++f) {
        LoadReport report;
        report.repeatedNumbers = repeated.at(f);
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
    }
    return o;
  }

  void ExpectSame(const std::vector<std::string>& contents, const OutputSettings& settings,
                  int baseRow = 0, uint32_t version = 420) {
    const std::vector<fs::path> files = Files(contents);
    const Outcome table = InTable(files, settings, baseRow, version);
    for (const StreamTuning tuning : {StreamTuning{}, StreamTuning{3, 2}, StreamTuning{1, 1}}) {
      const Outcome streamed = Streamed(files, settings, baseRow, version, tuning);
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
    ExpectSame({RandomSima(rng, 5 + site * 40)}, EveryLabel(), site % 4, site % 2 ? 420 : 300);
  }
}

TEST_F(StreamedDrawing, ASiteBeyondTheArchivesReferenceLimitsGivesTheTablesDrawing) {
  // Over 65,536 entities: object and class references change their form on the way.
  std::mt19937 rng(3);
  const std::string sima = RandomSima(rng, 14000);
  ExpectSame({sima}, EveryLabel(), 0, 420);
  ExpectSame({sima}, EveryLabel(), 0, 230);
}

class StopHalfway : public ProgressMonitor {
 public:
  bool Continue(double fraction) override { return fraction < 0.5; }
};

TEST_F(StreamedDrawing, ACancelledSaveLeavesThePreviousFileAndNothingElse) {
  std::mt19937 rng(5);
  const std::vector<fs::path> files = Files({RandomSima(rng, 30000)});
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
  const std::string sima = RandomSima(rng, 60);
  OutputSettings mathematical = EveryLabel();
  mathematical.Coordinate.Flg = false;
  ExpectSame({list, sima}, mathematical, 2);
  ExpectSame({sima, list}, mathematical);
  ExpectSame({sima, RandomSima(rng, 40), sima}, EveryLabel(), 70);
  ExpectSame({apa, list, apa}, mathematical, 1, 200);
}

TEST_F(StreamedDrawing, SettingsAndBasePointsTakeEffectAsForATable) {
  std::mt19937 rng(11);
  const std::string sima = RandomSima(rng, 80);
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

TEST(SpillFile, GivesBackEveryByteAcrossItsBufferAsOftenAsRead) {
  SpillFile file(64);
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
  }
  // A record cut by the end of the file is an error, not a short read.
  file.Rewind();
  std::string all(written.size() + 2000, '\0');
  ASSERT_TRUE(file.Read(all.data(), all.size()));
  file.Rewind();
  std::string more(all.size() + 1, '\0');
  EXPECT_THROW(file.Read(more.data(), more.size()), Error);
}

}  // namespace
}  // namespace kestrova
