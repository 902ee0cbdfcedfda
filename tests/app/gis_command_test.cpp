// The GIS export command driven through scripted dialogs.

#include "app/gis_command.h"

#include <gtest/gtest.h>

#include <deque>

#include "app/settings_file.h"
#include "common/atomic_file.h"
#include "gis/gis_import.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Kind = Prompts::Kind;
using Buttons = Prompts::Buttons;
using Answer = Prompts::Answer;

const std::string kExamples =
    (fs::absolute(KESTROVA_SOURCE_DIR "/examples") / "").make_preferred().string();

class ScriptedPrompts : public Prompts {
 public:
  struct Guard : BusyGuard {
    explicit Guard(int& d) : depth(d) { ++depth; }
    ~Guard() override { --depth; }
    int& depth;
  };
  Answer Message(Kind kind, Buttons buttons, const std::string& text) override {
    shown.push_back(std::to_string(static_cast<int>(kind)) +
                    std::to_string(static_cast<int>(buttons)) + "|" + text);
    EXPECT_EQ(busyDepth, 0) << text;
    return Next(answers, Answer::kOk);
  }
  std::optional<FileChoice> OpenFile(const std::string& filter, const fs::path&) override {
    openFilters.push_back(filter);
    return Next(files, std::optional<FileChoice>());
  }
  std::optional<FileChoice> SaveFile(const std::string& filter, const fs::path& start) override {
    dialogs.push_back(filter + "|" + start.string());
    return Next(files, std::optional<FileChoice>());
  }
  std::optional<std::string> InputText(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::unique_ptr<BusyGuard> Busy() override {
    ++busyCount;
    return std::make_unique<Guard>(busyDepth);
  }
  void EditOptions(OptionsForm&) override {}
  void ShowVersion() override {}
  void PrinterSetup() override {}
  std::optional<GisChoice> ChooseGisExport(const std::vector<SurveySystem>& systems,
                                           const GisChoice& current) override {
    offered = systems.size();
    asked.push_back(current.Crs + "|" + current.Format);
    return Next(choices, std::optional<GisChoice>());
  }

  template <class T>
  static T Next(std::deque<T>& script, T otherwise) {
    if (script.empty()) return otherwise;
    T next = script.front();
    script.pop_front();
    return next;
  }

  std::deque<Answer> answers;
  std::deque<std::optional<FileChoice>> files;
  std::deque<std::optional<GisChoice>> choices;
  std::vector<std::string> shown;    // kind buttons|text
  std::vector<std::string> dialogs;  // filter|start folder
  std::vector<std::string> asked;    // crs|format offered as the current choice
  std::vector<std::string> openFilters;
  size_t offered = 0;
  int busyDepth = 0;
  int busyCount = 0;
};

class NullView : public MainView {
 public:
  void SetStatusText(int, const std::string&) override {}
  void CommitGridEdit() override { ++commits; }
  void GridChanged() override {}
  void FitPlot() override {}
  void RepaintPlot() override {}
  bool OpenManual(const fs::path&) override { return false; }
  void Close() override {}
  int commits = 0;
};

class NullSink : public ClipboardSink {
 public:
  void SetJwWinData(std::string_view) override {}
};

class GisCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kestrova-gis-command-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "program");
    ctx_.settingsFile = dir_ / "program" / "Kestrova.INI";
    ctx_.programFolder = dir_ / "program";
    EXPECT_TRUE(StartUp(ctx_).empty());
  }
  void TearDown() override { fs::remove_all(dir_); }
  void LoadSite() {
    prompts_.files.push_back(Prompts::FileChoice{kExamples + "site.sim", 1});
    LoadCommand(ctx_);
    ASSERT_EQ(ws_.Coords.Table.PointCount, 11);
    prompts_.dialogs.clear();
  }

  fs::path dir_;
  Workspace ws_;
  ScriptedPrompts prompts_;
  NullView view_;
  NullSink sink_;
  CommandContext ctx_{ws_, prompts_, view_, sink_, nullptr, {}, {}, {}};
};

TEST_F(GisCommand, CancelPathsAndRefusalsChangeNothing) {
  // An empty table: the information box, and no dialog at all.
  GisExportCommand(ctx_);
  ASSERT_EQ(prompts_.shown, std::vector<std::string>{"10|データが、ありません。"});
  EXPECT_TRUE(prompts_.asked.empty());
  EXPECT_EQ(view_.commits, 1);

  LoadSite();
  const OutputSettings before = ws_.Settings;
  prompts_.shown.clear();
  // Cancel in the system dialog, then in the save dialog.
  GisExportCommand(ctx_);
  EXPECT_EQ(prompts_.offered, 38u);
  EXPECT_TRUE(prompts_.dialogs.empty());
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:6677", "gpkg"});
  GisExportCommand(ctx_);
  ASSERT_EQ(prompts_.dialogs.size(), 1u);
  EXPECT_EQ(prompts_.dialogs[0], "GeoPackage(*.gpkg)|*.gpkg|すべてのﾌｧｲﾙ(*.*)|*.*|" + kExamples);
  // Declining to replace a file keeps it.
  WriteFileAtomic(dir_ / "site.gpkg", "keep");
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:6677", "gpkg"});
  prompts_.files.push_back(Prompts::FileChoice{dir_ / "site.txt", 1});
  prompts_.answers.push_back(Answer::kCancel);
  GisExportCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_EQ(prompts_.shown[0], "21|" + (dir_ / "site.gpkg").string() +
                                   "\r\nファイルは既に存在します。上書きしますか？　");
  EXPECT_EQ(ReadFileBytes(dir_ / "site.gpkg"), "keep");
  // GeoJSON needs a system: refused before any file dialog.
  prompts_.shown.clear();
  prompts_.dialogs.clear();
  prompts_.choices.push_back(Prompts::GisChoice{"", "geojson"});
  GisExportCommand(ctx_);
  EXPECT_TRUE(prompts_.dialogs.empty());
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_EQ(prompts_.shown[0].substr(0, 3), "30|");
  EXPECT_EQ(prompts_.busyCount, 1);  // the load's only
  EXPECT_EQ(ws_.Settings.Gis.Crs, before.Gis.Crs);
  EXPECT_EQ(ws_.Settings.Gis.Format, before.Gis.Format);
  EXPECT_EQ(ws_.Settings.Folder.name, before.Folder.name);
  EXPECT_EQ(prompts_.asked.back(), "|");
}

TEST_F(GisCommand, WritesTheFileRemembersTheChoiceAndReadsBack) {
  LoadSite();
  prompts_.choices.push_back(Prompts::GisChoice{"EPSG:6677", "geojson"});
  prompts_.files.push_back(Prompts::FileChoice{dir_ / "out" / "plan.b", 1});
  fs::create_directories(dir_ / "out");
  GisExportCommand(ctx_);
  EXPECT_TRUE(prompts_.shown.empty()) << prompts_.shown.front();
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
  prompts_.files.push_back(Prompts::FileChoice{dir_ / "out" / "plan", 1});
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
    return LoadAnyCoordinateFile(file, file.string(), 6677, data, append, notices);
  };
  prompts_.answers.push_back(Answer::kNo);  // replace the table
  prompts_.files.push_back(Prompts::FileChoice{written, 2});
  prompts_.shown.clear();
  LoadCommand(ctx_);
  EXPECT_EQ(prompts_.openFilters.back(),
            "座標ﾃﾞｰﾀ(*.Zhy,*.sim)|*.Zhy;*.Sim|すべてのﾌｧｲﾙ(*.*)|*.*|GIS|*.geojson");
  ASSERT_EQ(prompts_.shown.size(), 1u);  // the load question only
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
}

}  // namespace
}  // namespace kestrova
