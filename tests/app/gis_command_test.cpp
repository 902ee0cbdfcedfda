// The GIS export command driven through scripted dialogs.

#include "app/gis_command.h"

#include <gtest/gtest.h>

#include "app/scripted_prompts.h"
#include "app/settings_file.h"
#include "common/atomic_file.h"
#include "common/sjis.h"
#include "gis/gis_export.h"
#include "gis/gis_import.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Kind = Prompts::Kind;
using Buttons = Prompts::Buttons;
using Answer = Prompts::Answer;

using test::kExamples;

class GisCommand : public test::CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    EXPECT_TRUE(StartUp(ctx_).empty());
  }
};

TEST_F(GisCommand, CancelPathsAndRefusalsChangeNothing) {
  // An empty table: the information box, and no dialog at all.
  view_.calls.clear();
  GisExportCommand(ctx_);
  prompts_.ExpectShown(0, Kind::kInformation, Buttons::kOk, "データが、ありません。");
  EXPECT_EQ(prompts_.shown.size(), 1u);
  EXPECT_TRUE(prompts_.asked.empty());
  EXPECT_EQ(view_.calls, "commit ");

  LoadSite();
  prompts_.dialogs.clear();
  const OutputSettings before = ws_.Settings;
  prompts_.shown.clear();
  // Cancel in the system dialog, then in the save dialog. The file's title names zone IX:
  // it is offered first; a zone IX chosen before in the other datum stays.
  GisExportCommand(ctx_);
  EXPECT_EQ(prompts_.offered, 57u);
  EXPECT_EQ(prompts_.asked.back(), "EPSG:6677|");
  ws_.Settings.Gis.Crs = "EPSG:2451";
  GisExportCommand(ctx_);
  EXPECT_EQ(prompts_.asked.back(), "EPSG:2451|");
  ws_.Settings.Gis.Crs = "EPSG:6670";
  GisExportCommand(ctx_);
  EXPECT_EQ(prompts_.asked.back(), "EPSG:6677|");
  ws_.Settings.Gis.Crs = before.Gis.Crs;
  EXPECT_TRUE(prompts_.dialogs.empty());
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:6677", "gpkg"});
  GisExportCommand(ctx_);
  ASSERT_EQ(prompts_.dialogs.size(), 1u);
  EXPECT_EQ(prompts_.dialogs[0], "GeoPackage(*.gpkg)|*.gpkg|すべてのﾌｧｲﾙ(*.*)|*.*|" + kExamples);
  // Declining to replace a file keeps it.
  WriteFileAtomic(dir_ / "site.gpkg", "keep");
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:6677", "gpkg"});
  Choose(dir_ / "site.txt");
  prompts_.answers.push_back(Answer::kCancel);
  GisExportCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  prompts_.ExpectShown(
      0, Kind::kWarning, Buttons::kOkCancel,
      (dir_ / "site.gpkg").string() + "\r\nファイルは既に存在します。上書きしますか？　");
  EXPECT_EQ(ReadFileBytes(dir_ / "site.gpkg"), "keep");
  // GeoJSON needs a system: refused before any file dialog.
  prompts_.shown.clear();
  prompts_.dialogs.clear();
  prompts_.choices.push_back(Prompts::GisChoice{"", "geojson"});
  GisExportCommand(ctx_);
  EXPECT_TRUE(prompts_.dialogs.empty());
  prompts_.ExpectShown(0, Kind::kError, Buttons::kOk,
                       "GeoJSON には座標系が必要です。座標系を選んでください。");
  EXPECT_EQ(prompts_.busyCount, 1);  // the load's only
  EXPECT_EQ(ws_.Settings.Gis.Crs, before.Gis.Crs);
  EXPECT_EQ(ws_.Settings.Gis.Format, before.Gis.Format);
  EXPECT_EQ(ws_.Settings.Folder.name, before.Folder.name);
  EXPECT_EQ(prompts_.asked.back(), "EPSG:6677|");  // the zone the file names, still
  // Another zone than the title names is asked about; cancelled, nothing is written.
  prompts_.shown.clear();
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:6678", "gpkg"});
  prompts_.answers.push_back(Answer::kCancel);
  GisExportCommand(ctx_);
  EXPECT_TRUE(prompts_.dialogs.empty());
  ASSERT_EQ(prompts_.shown.size(), 1u);
  prompts_.ExpectShown(0, Kind::kWarning, Buttons::kOkCancel,
                       "現場のタイトル「世界測地系 第IX系」は第IX系ですが、第X系が選ばれて"
                       "います。第X系の座標として保存しますか？");
  // The same zone on another datum than the title names: the title's datum is offered,
  // and the other asked about.
  ws_.Settings.Gis.Crs = "EPSG:30169";
  prompts_.shown.clear();
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:30169", "gpkg"});
  prompts_.answers.push_back(Answer::kCancel);
  GisExportCommand(ctx_);
  EXPECT_EQ(prompts_.asked.back(), "EPSG:6677|");
  EXPECT_TRUE(prompts_.dialogs.empty());
  ASSERT_EQ(prompts_.shown.size(), 1u);
  prompts_.ExpectShown(0, Kind::kWarning, Buttons::kOkCancel,
                       "現場のタイトル「世界測地系 第IX系」は世界測地系ですが、日本測地系の座標系"
                       "が選ばれています。日本測地系の座標として保存しますか？");
  ws_.Coords.Sima.SimaTitles[1] = Utf8ToCp932("旧日本測地系 第IX系").text;
  ws_.Settings.Gis.Crs = "EPSG:6677";
  GisExportCommand(ctx_);
  EXPECT_EQ(prompts_.asked.back(), "EPSG:30169|");
}

TEST_F(GisCommand, WritesTheFileRemembersTheChoiceAndReadsBack) {
  LoadSite();
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:6677", "geojson"});
  Choose(dir_ / "out" / "plan.b");
  fs::create_directories(dir_ / "out");
  GisExportCommand(ctx_);
  EXPECT_TRUE(prompts_.shown.empty()) << prompts_.shown.front().text;
  EXPECT_EQ(prompts_.busyCount, 2);
  const fs::path written = dir_ / "out" / "plan.geojson";
  ASSERT_TRUE(fs::exists(written));
  EXPECT_EQ(ws_.Settings.Gis.Crs, "EPSG:6677");
  EXPECT_EQ(ws_.Settings.Gis.Format, "geojson");
  EXPECT_EQ(ws_.Settings.Folder.name, (dir_ / "out" / "").string());

  // The next export starts from the remembered choice, also after a restart.
  ShutDown(ctx_);
  const OutputSettings reread = ReadSettingsFile(ctx_.settingsFile, "");
  EXPECT_EQ(reread.Gis.Crs, "EPSG:6677");
  EXPECT_EQ(reread.Gis.Format, "geojson");
  GisExportCommand(ctx_);
  EXPECT_EQ(prompts_.asked.back(), "EPSG:6677|geojson");

  // A DXF without a system keeps the remembered system.
  prompts_.choices.push_back(Prompts::GisChoice{"", "dxf"});
  Choose(dir_ / "out" / "plan");
  GisExportCommand(ctx_);
  EXPECT_TRUE(fs::exists(dir_ / "out" / "plan.dxf"));
  EXPECT_EQ(ws_.Settings.Gis.Crs, "EPSG:6677");
  EXPECT_EQ(ws_.Settings.Gis.Format, "dxf");

  // The load reads the GeoJSON back through the loader the front end supplies, and
  // offers its entry after the coordinate files'.
  const CoordinateData before = ws_.Coords;
  ctx_.moreLoadFilters = "GIS|*.geojson";
  ctx_.loadFile = [](const fs::path& file, CoordinateData& data, bool append,
                     std::vector<std::string>& notices, ProgressMonitor*) {
    return LoadGisFileWithNotices(file, 6677, data, append, notices);
  };
  prompts_.answers.push_back(Answer::kNo);  // replace the table
  Choose(written, 2);
  prompts_.shown.clear();
  LoadCommand(ctx_);
  EXPECT_EQ(prompts_.dialogs.back(),
            "座標ﾃﾞｰﾀ(*.Zhy,*.sim)|*.Zhy;*.Sim|APA形式ﾃﾞｰﾀ(*.APA)|*.apa|csvﾃﾞｰﾀ(*.CSV)|*.csv|"
            "すべてのﾌｧｲﾙ(*.*)|*.*|GIS|*.geojson|" +
                (dir_ / "out" / "").string());
  // The load question; the longitude and latitude placed in the remembered system; what
  // the file did not give back: its parcels and lines.
  ASSERT_EQ(prompts_.shown.size(), 3u);
  EXPECT_EQ(prompts_.shown[1].text,
            "ファイル「" + written.string() +
                "」の点は経緯度または平面直角座標系以外の座標のため、前回「GISﾃﾞｰﾀで保存」で"
                "選んだ EPSG:6677 の座標に換算して読み込みました。");
  EXPECT_NE(prompts_.shown[2].text.find("は点ではないため、読み込みませんでした。"),
            std::string::npos)
      << prompts_.shown[2].text;
  const CoordinateData& back = ws_.Coords;
  EXPECT_FALSE(back.Sima.SimaLoaded);
  ASSERT_EQ(back.Table.PointCount, before.Table.PointCount);
  for (int32_t i = 1; i <= back.Table.PointCount; ++i) {
    const auto& a = before.Table.Points[static_cast<size_t>(i)];
    const auto& b = back.Table.Points[static_cast<size_t>(i)];
    EXPECT_EQ(a.Number, b.Number);
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_NEAR(a.X, b.X, 1e-3);
    EXPECT_NEAR(a.Y, b.Y, 1e-3);
  }
  // A GeoPackage brings its parcels back, but they are not drawn: the user hears so.
  CoordinateData site;
  ASSERT_TRUE(LoadCoordinateFile(kExamples + "site.sim", site, false));
  GisExportOptions options;
  options.Epsg = 6677;
  WriteGisExport(BuildGisExport(site, options, "site.gpkg"), dir_ / "site.gpkg");
  // A layer in a plane system stays in it, whatever system was chosen before.
  std::vector<std::string> notices;
  CoordinateData parcels;
  ASSERT_TRUE(LoadGisFileWithNotices(dir_ / "site.gpkg", 6678, parcels, false, notices));
  EXPECT_EQ(parcels.Table.GisSystem, 6677);
  EXPECT_NEAR(parcels.Table.Points[1].X, site.Table.Points[1].X, 1e-9);
  // One in another projection (UTM), which the export cannot offer, is placed in the
  // remembered system, and so is one appended to points of other files: the user hears.
  GisExportOptions utm;
  utm.Epsg = 32654;
  WriteGisExport(BuildGisExport(site, utm, "utm.gpkg"), dir_ / "utm.gpkg");
  std::vector<std::string> said;
  CoordinateData placed;
  ASSERT_TRUE(LoadGisFileWithNotices(dir_ / "utm.gpkg", 6678, placed, false, said));
  EXPECT_EQ(placed.Table.GisSystem, 6678);
  ASSERT_FALSE(said.empty());
  EXPECT_NE(said[0].find("EPSG:6678 の座標に換算"), std::string::npos) << said[0];
  CoordinateData beside = site;
  ASSERT_TRUE(LoadGisFileWithNotices(dir_ / "site.gpkg", 6678, beside, true, said));
  EXPECT_EQ(beside.Table.GisSystem, 6678);
  EXPECT_GT(std::abs(beside.Table.Points[12].X - site.Table.Points[1].X), 1000.0);
  EXPECT_EQ(parcels.Sima.SimaBlocks.size(), 3u);
  // Each corner is the point it stood on, also appended after other points, and stays
  // that point when renumbered: a SIMA save names it by its new number.
  ASSERT_EQ(beside.Sima.SimaBlocks.size(), 6u);
  for (size_t b = 3; b < 6; ++b) {
    for (const SimaBlockRecord& r : beside.Sima.SimaBlocks[b].Records) {
      ASSERT_GT(r.Row, 11);
      EXPECT_EQ(beside.Table.Points[r.Row].Number, r.Point.Number);
    }
  }
  const int32_t corner = parcels.Sima.SimaBlocks[0].Records[0].Row;
  ASSERT_GT(corner, 0);
  parcels.Table.Points[corner].Number = 901;
  SaveCoordinateFile(dir_ / "renumbered.sim", parcels, CoordinateFormat::kSima);
  EXPECT_NE(ReadFileBytes(dir_ / "renumbered.sim").find("\r\nB01,901,"), std::string::npos);
  const std::vector<std::string> told{
      (dir_ / "site.gpkg").string() +
          ": レイヤ triangles の三角形 1 個は読み込みません。区画の三角形は SIMA "
          "ファイルからのみ読み込めます。",
      (dir_ / "site.gpkg").string() +
          ": 区画・折れ線 3 個は、プロットと図面には描きません（描くのは SIMA ファイル"
          "のものだけです）。SIMA 形式での保存と、GeoPackage・GeoJSON・KML・Shapefile への"
          "書き出しには残ります。"};
  EXPECT_EQ(notices, told);
  // The reading of many points shows how far it is, and a stop leaves the table as it was.
  {
    CoordinateData many;
    for (int i = 1; i <= 20000; ++i) {
      SurveyPoint& p = AppendPoint(many.Table);
      p.Number = i;
      p.X = -12000.0 - i;
      p.Y = -30000.0 + i;
      p.Marked = 1;
    }
    WriteGisExport(BuildGisExport(many, options, "many.gpkg"), dir_ / "many.gpkg");
    struct Stop : ProgressMonitor {
      double seen = 0;
      bool Continue(double fraction) override {
        seen = fraction;
        return false;
      }
    } stop;
    CoordinateData kept = parcels;
    EXPECT_THROW(LoadGisFileWithNotices(dir_ / "many.gpkg", 0, kept, false, notices, &stop),
                 Cancelled);
    EXPECT_GT(stop.seen, 0.0);
    EXPECT_LT(stop.seen, 1.0);
    EXPECT_EQ(kept.Table.PointCount, parcels.Table.PointCount);
  }
  // Its points are exported in their system, which is offered; tagged with another they
  // would stand far from their place, and are refused.
  ws_.Coords = parcels;
  ws_.Settings.Gis.Crs = "EPSG:6678";
  prompts_.shown.clear();
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:6678", "gpkg"});
  GisExportCommand(ctx_);
  EXPECT_EQ(prompts_.asked.back(), "EPSG:6677|dxf");
  ASSERT_EQ(prompts_.shown.size(), 1u);
  prompts_.ExpectShown(0, Kind::kError, Buttons::kOk,
                       "GIS データから読み込んだ点は EPSG:6677 の座標です。EPSG:6678 として保存"
                       "すると、離れた所に置かれます。座標系には EPSG:6677 を選んでください。");
  // A file GDAL cannot read is said in the window's words, and the table stays.
  WriteFileAtomic(dir_ / "bad.geojson", "not a GeoJSON file");
  prompts_.answers.push_back(Answer::kNo);
  Choose(dir_ / "bad.geojson", 2);
  prompts_.shown.clear();
  LoadCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 2u);
  prompts_.ExpectShown(1, Kind::kError, Buttons::kOk,
                       "ファイル「" + (dir_ / "bad.geojson").string() +
                           "」を GeoPackage、GeoJSON、Shapefile のどれとしても読み込めません。");
  EXPECT_EQ(ws_.Coords.Table.PointCount, parcels.Table.PointCount);
}

}  // namespace
}  // namespace kestrova
