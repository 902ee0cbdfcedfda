// Progress and cancellation of long saves, transfers and loads, and what a failed or
// cancelled save leaves on disk.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>
#include <vector>

#include "app/flows.h"
#include "app/scripted_prompts.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "common/progress.h"
#include "coords/coordinate_file.h"
#include "jww/jww_file.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// Records every fraction; asks to stop once stopAt is reached.
class Recorder : public ProgressMonitor {
 public:
  explicit Recorder(double stopAt = 2.0) : stopAt_(stopAt) {}
  bool Continue(double fraction) override {
    seen.push_back(fraction);
    return fraction < stopAt_;
  }
  std::vector<double> seen;

 private:
  double stopAt_;
};

using test::MemorySink;

// n points with all three labels: about 5 entities and 330 bytes a point.
Workspace Site(int n) {
  Workspace ws;
  for (int i = 0; i < n; ++i) {
    SurveyPoint& p = AppendPoint(ws.Coords.Table);
    p.Number = i + 1;
    p.Name = "P" + std::to_string(i);
    p.X = i * 0.25;
    p.Y = -i * 0.5;
    p.Marked = 1;
  }
  ws.Settings.Point.EnkoFlg = true;
  ComputeDataBounds(ws.Coords.Table, ws.Bounds);
  return ws;
}

std::vector<fs::path> Listing(const fs::path& dir) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename());
  return names;
}

struct LongWork : ::testing::Test {
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-long-work-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    file = dir / "site.jww";
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  fs::path file;
};

TEST_F(LongWork, SaveReportsProgressAndACancelLeavesThePreviousFile) {
  Workspace small = Site(3);
  SaveJwwFile(small, file, 1, nullptr);
  const std::string before = ReadFileBytes(file);

  Workspace big = Site(100'000);
  Recorder all;
  SaveJwwFile(big, dir / "whole.jww", 1, nullptr, &all);
  ASSERT_GE(all.seen.size(), 10u);  // 500,000 entities are told in ranges
  EXPECT_EQ(all.seen.front(), 0.0);
  EXPECT_EQ(all.seen.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(all.seen.begin(), all.seen.end()));
  fs::remove(dir / "whole.jww");

  Recorder halfway(0.5);
  EXPECT_THROW(SaveJwwFile(big, file, 1, nullptr, &halfway), Cancelled);
  EXPECT_LT(halfway.seen.back(), 0.6);
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_EQ(Listing(dir), std::vector<fs::path>{"site.jww"});  // no temporary file

  // Cancelled before a first file existed: nothing at all.
  Recorder atOnce(0.0);
  EXPECT_THROW(SaveJwwFile(big, dir / "new.jww", 1, nullptr, &atOnce), Cancelled);
  EXPECT_EQ(Listing(dir), std::vector<fs::path>{"site.jww"});
}

#ifndef _WIN32  // the file size limit is how the failure is made; Windows has none
TEST_F(LongWork, AWriteFailureHalfWayLeavesThePreviousFile) {
  Workspace small = Site(3);
  SaveJwwFile(small, file, 1, nullptr);
  const std::string before = ReadFileBytes(file);

  // The system refuses to let any file grow past 1 MB: the writer thread's write fails
  // in the middle of a 30 MB drawing.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 1 << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  Workspace big = Site(100'000);
  std::string message;
  try {
    SaveJwwFile(big, file, 1, nullptr);
  } catch (const Error& e) {
    message = e.what();
  }
  try {
    SaveJwwFile(big, dir / "new.jww", 1, nullptr);
  } catch (const Error&) {
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_NE(message.find(file.string()), std::string::npos) << message;
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_EQ(Listing(dir), std::vector<fs::path>{"site.jww"});
}
#endif

TEST_F(LongWork, ACancelledTransferHandsNothingOver) {
  Workspace big = Site(20'000);
  MemorySink sink;
  Recorder halfway(0.5);
  EXPECT_THROW(TransferToJwCad(big, 1, sink, &halfway), Cancelled);
  EXPECT_EQ(sink.calls, 0);
  Recorder all;
  TransferToJwCad(big, 1, sink, &all);
  EXPECT_EQ(sink.calls, 1);
  EXPECT_EQ(all.seen.back(), 1.0);
}

TEST_F(LongWork, ACancelledLoadChangesNothing) {
  CoordinateData data;
  ASSERT_TRUE(LoadCoordinateText("1,A,10,20\n2,B,30,40\n", "a.csv", data, false));
  const std::string secondName = data.Table.Points[2].Name.str();
  std::string many;
  for (int i = 0; i < 150'000; ++i)
    many += std::to_string(i) + ",N,1.5,2.5\n";
  for (bool append : {false, true}) {
    // At the first report, in the middle, and after the last line was read.
    for (double stopAt : {0.0, 0.3, 1.0}) {
      Recorder r(stopAt);
      EXPECT_THROW(LoadCoordinateText(many, "many.csv", data, append, nullptr, &r), Cancelled);
      EXPECT_EQ(data.Table.PointCount, 2);
      EXPECT_EQ(data.Table.Points.size(), 3u);
      EXPECT_EQ(data.Table.Points[2].Name, secondName);
      EXPECT_EQ(FindPointIndex(data.Table, 7), std::nullopt);
    }
  }
  Recorder all;
  ASSERT_TRUE(LoadCoordinateText(many, "many.csv", data, true, nullptr, &all));
  EXPECT_EQ(data.Table.PointCount, 150'002);
  EXPECT_EQ(all.seen.front(), 0.0);
  EXPECT_EQ(all.seen.back(), 1.0);
  EXPECT_EQ(all.seen.size(), 4u);  // lines 0, 65536 and 131072, then the end
}

}  // namespace
}  // namespace kestrova
