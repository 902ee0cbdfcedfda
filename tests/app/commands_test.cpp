// The desktop program's commands driven through scripted dialogs, as a user would.

#include "app/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string_view>

#include "app/manual.h"
#include "app/messages.h"
#include "app/scripted_prompts.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "common/sjis.h"
#include "common/utf8_path.h"
#include "coords/coordinate_file.h"
#include "jww/stream.h"
#include "view/plot_draw.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Kind = Prompts::Kind;
using Buttons = Prompts::Buttons;
using Answer = Prompts::Answer;

using test::kExamples;
const std::string kOverwrite = "ファイルは既に存在します。上書きしますか？　";

class Commands : public test::CommandTest {
 protected:
  void Start() { EXPECT_TRUE(StartUp(ctx_).empty()); }
  void Write(const std::string& name, const std::string& bytes) {
    WriteFileAtomic(dir_ / name, bytes);
  }
  void ExpectShown(size_t i, Kind kind, Buttons buttons, const std::string& text) {
    prompts_.ExpectShown(i, kind, buttons, text);
  }
};

TEST_F(Commands, LoadQuestionAppendReplaceAndCancelPaths) {
  Start();
  EXPECT_EQ(view_.status[0], " 0 ");
  // An empty table loads without a question.
  LoadSite();
  EXPECT_TRUE(prompts_.shown.empty());
  EXPECT_EQ(prompts_.dialogs.at(0),
            "座標ﾃﾞｰﾀ(*.Zhy,*.sim)|*.Zhy;*.Sim|APA形式ﾃﾞｰﾀ(*.APA)|*.apa|csvﾃﾞｰﾀ(*.CSV)|*.csv|"
            "すべてのﾌｧｲﾙ(*.*)|*.*|" +
                (dir_ / "program" / "").string());
  EXPECT_EQ(prompts_.busyCount, 1);
  EXPECT_EQ(view_.status[0], " 11 ");
  EXPECT_EQ(view_.status[2], " 桜台二丁目地区");
  EXPECT_EQ(view_.title, " Kestrova - site.sim");
  EXPECT_EQ(view_.calls, "grid fit commit fit grid ");
  EXPECT_FALSE(ws_.View.MathAxes);  // a SIMA file forces survey axes
  EXPECT_EQ(ws_.Settings.Folder.name, kExamples);
  EXPECT_EQ(ws_.Grid.RowCount(), 13);
  EXPECT_NE(ws_.Bounds.MaxX, 0.0);

  const std::string question =
      "　 ※ 現在読込済の座標データがあります。 ※　　　　　　\r\n"
      "――――――――――――――――――――――\r\n\r\n"
      "　　・ 追加して読み込む ＞ ［はい(Y)］\r\n\r\n"
      "　　・ 新規に読み込む　 ＞ ［いいえ(N)］\r\n\r\n"
      "　　・ 読込を中止する　 ＞ ［キャンセル］\r\n\r\n";
  // Cancel: no file dialog, nothing changes.
  prompts_.answers = {Answer::kCancel};
  LoadCommand(ctx_);
  ExpectShown(0, Kind::kInformation, Buttons::kYesNoCancel, question);
  EXPECT_EQ(prompts_.dialogs.size(), 1u);
  // No, then the file dialog cancelled: the table is still there.
  prompts_.answers = {Answer::kNo};
  LoadCommand(ctx_);
  EXPECT_EQ(ws_.Coords.Table.PointCount, 11);
  EXPECT_FALSE(ws_.AppendOnLoad);
  // Yes appends; a name typed in the grid, its editor still open, is kept.
  view_.onCommit = [this] { ws_.Grid.Rows[1][2] = "typed"; };
  prompts_.answers = {Answer::kYes};
  Choose(kExamples + "site.zhy");
  LoadCommand(ctx_);
  view_.onCommit = nullptr;
  EXPECT_TRUE(ws_.AppendOnLoad);
  EXPECT_EQ(ws_.Coords.Table.PointCount, 22);
  EXPECT_EQ(view_.status[0], " 22 ");
  EXPECT_EQ(ws_.Grid.Rows[1][2], "typed");
  EXPECT_EQ(ws_.Coords.Table.Points[1].Name, "typed");
  EXPECT_EQ(ws_.Grid.RowCount(), 24);
  ExpectShown(3, Kind::kInformation, Buttons::kOk,
              kExamples +
                  "site.zhy\r\n11 点の点番号が先に読み込んだ点と重なっています。"
                  "その番号を使う区画は先の点を使います。");
  // With an empty table the previous answer still decides: a file named on the command
  // line appends to nothing after New.
  prompts_.answers = {Answer::kOk};
  NewTableCommand(ctx_);
  ExpectShown(4, Kind::kConfirmation, Buttons::kOkCancel,
              "現在座標データがありますが、削除しますか？");
  EXPECT_EQ(ws_.Coords.Table.PointCount, 0);
  EXPECT_EQ(ws_.Grid.RowCount(), 11);
  EXPECT_EQ(view_.status[0], " 22 ");  // New leaves the status bar
  EXPECT_EQ(view_.title, " Kestrova");
  const size_t asked = prompts_.shown.size();
  NewTableCommand(ctx_);  // empty: no question
  LoadFilesCommand(ctx_, {kExamples + "site.sim", kExamples + "site.zhy"});
  EXPECT_EQ(prompts_.shown.size(), asked + 1);  // only the repeated numbers are told
  EXPECT_EQ(ws_.Coords.Table.PointCount, 22);
}

TEST_F(Commands, FailingLoadsChangeNothingAndSayWhy) {
  Start();
  LoadSite();
  const std::vector<CellGrid::Row> rows = ws_.Grid.Rows;
  const std::string calls = view_.calls;
  Write("bad.sim", "G00,01,x,\r\nA01,1,P1,1,2,3,\r\nD00,1,lot,abc,\r\nD99,\r\n");
  Write("one.zhy", "1,A,1,2,3\r\n");
  Write("plan.jww", std::string("JwwData.\0\0", 10));
  Write("site.kml", "<?xml version=\"1.0\"?>\n<kml>\n</kml>\n");
  // The window says it in Japanese, naming the file and the line; the command-line tool
  // keeps its English for the same files.
  const auto pathOf = [this](const char* name) { return (dir_ / name).string(); };
  const std::vector<std::pair<const char*, std::string>> said = {
      {"bad.sim", "ファイル「" + pathOf("bad.sim") +
                      "」の 3 行目を読み込めません。何も読み込みませんでした。\r\n"
                      "区画「lot」の閉合フラグ「abc」が整数ではありません。"},
      {"one.zhy", pathOf("one.zhy") + ": 2 行に満たないファイルのため、読み込みませんでした。"},
#ifndef _WIN32  // there the reason is the system's own, in the user's language
      {"missing.zhy", "ファイル「" + pathOf("missing.zhy") +
                          "」を開けません。\r\nファイルまたはフォルダが見つかりません。"},
#endif
      {"plan.jww", "ファイル「" + pathOf("plan.jww") +
                       "」はテキストファイルではありません（NUL バイトを含んでいます）。"
                       "何も読み込みませんでした。"},
      {"site.kml", "ファイル「" + pathOf("site.kml") +
                       "」は KML ファイルで、書き出すだけで座標データとしては読み込めません。"
                       "何も読み込みませんでした。現場の座標ファイルか、GeoPackage・GeoJSON・"
                       "Shapefile に書き出したファイルを開いてください。"},
  };
  for (bool append : {false, true}) {
    for (const auto& [name, text] : said) {
      prompts_.shown.clear();
      prompts_.answers = {append ? Answer::kYes : Answer::kNo};
      Choose(dir_ / name);
      LoadCommand(ctx_);
      ASSERT_EQ(prompts_.shown.size(), 2u) << name;
      ExpectShown(1, Kind::kError, Buttons::kOk, text);
      EXPECT_EQ(ws_.Coords.Table.PointCount, 11);
      EXPECT_EQ(ws_.Coords.Sima.SiteName, Utf8ToCp932("桜台二丁目地区").text);
      EXPECT_EQ(ws_.Grid.Rows, rows);
      EXPECT_EQ(view_.calls.find("grid", calls.size()), std::string::npos) << view_.calls;
      EXPECT_EQ(view_.status[0], " 11 ");
      EXPECT_EQ(ws_.Settings.Folder.name, kExamples);
    }
  }
  // Files given together stop at the first that fails: its error names the ones after it,
  // which were not loaded either.
  prompts_.shown.clear();
  prompts_.answers = {Answer::kYes};
  LoadFilesCommand(ctx_, {dir_ / "one.zhy", kExamples + "site.zhy", kExamples + "site.sim"});
  ASSERT_EQ(prompts_.shown.size(), 2u);
  ExpectShown(1, Kind::kError, Buttons::kOk,
              pathOf("one.zhy") +
                  ": 2 行に満たないファイルのため、読み込みませんでした。\r\n"
                  "その後のファイルも読み込んでいません：site.zhy、site.sim");
  EXPECT_EQ(ws_.Coords.Table.PointCount, 11);
  // A Unicode file loads and the user hears what was converted.
  prompts_.shown.clear();
  Write("utf8.zhy", "1,山😀,1,2,3\r\n2,川,4,5,6\r\n");
  prompts_.answers = {Answer::kNo};
  Choose(dir_ / "utf8.zhy");
  LoadCommand(ctx_);
  EXPECT_EQ(ws_.Coords.Table.PointCount, 2);
  // The new file has no site name, and the previous site's is not taken over.
  EXPECT_EQ(view_.status[2], " no Field Name ");
  EXPECT_TRUE(ws_.Coords.Sima.SiteName.empty());
  EXPECT_EQ(ws_.Coords.Sima.SimaTitles, (std::array<std::string, 2>{}));
  EXPECT_TRUE(ws_.View.MathAxes == !ws_.Settings.Coordinate.Flg);
  ASSERT_EQ(prompts_.shown.size(), 2u);
  ExpectShown(
      1, Kind::kInformation, Buttons::kOk,
      (dir_ / "utf8.zhy").string() +
          "\r\nUnicode（UTF-8 または UTF-16）のファイルを Shift_JIS "
          "に変換して読み込みました。\r\nShift_JIS で表せない 1 文字を「?」に置き換えました。");

  // A file read with guesses says where: the first field that was no number, each block
  // left open, numbers an earlier file already had.
  Write("guessed.sim",
        "G00,01,x,\r\nA01,1,P1,abc,2,3,\r\nD00,1,lot,\r\nB01,1,P1,\r\n"
        "F00,1,road,\r\nB01,1,P1,\r\n");
  prompts_.shown.clear();
  prompts_.answers = {Answer::kYes};
  Choose(dir_ / "guessed.sim");
  LoadCommand(ctx_);
  EXPECT_EQ(ws_.Coords.Table.PointCount, 3);
  const std::string path = (dir_ / "guessed.sim").string();
  ASSERT_EQ(prompts_.shown.size(), 2u);
  ExpectShown(1, Kind::kInformation, Buttons::kOk,
              path + "\r\n" + path +
                  ":2: 数値として読めない値 1 個を 0（SIMA の点番号は行番号）として読み込み"
                  "ました。"
                  "最初の値はこの行にあります。\r\n" +
                  path +
                  ":3: この行の D00 に終わりの D99 がないため、次のブロックかファイルの終わり"
                  "までとしました。\r\n" +
                  path +
                  ":5: この行の F00 に終わりの F99 がないため、次のブロックかファイルの終わり"
                  "までとしました。\r\n1 点の点番号が先に読み込んだ点と重なっています。"
                  "その番号を使う区画は先の点を使います。");
}

TEST_F(Commands, SaveAsksAboutTheFileItWritesAndNeverMovesTheCurrentFolder) {
  Start();
  const fs::path cwd = fs::current_path();
  // No points: the question, Cancel ends before the dialog.
  prompts_.answers = {Answer::kCancel};
  SaveCommand(ctx_);
  ExpectShown(0, Kind::kConfirmation, Buttons::kOkCancel, "座標データがありません。");
  EXPECT_TRUE(prompts_.dialogs.empty());
  LoadSite();
  const std::string folder = ws_.Settings.Folder.name;
  // "plan.b" with the SIMA filter writes plan.sim; an existing plan.sim is asked about.
  Write("plan.sim", "old");
  prompts_.shown.clear();
  prompts_.answers = {Answer::kCancel};
  Choose(dir_ / "plan.b", 2);
  SaveCommand(ctx_);
  EXPECT_EQ(prompts_.dialogs.back(),
            "座標ﾃﾞｰﾀ(*.Zhy)|*.Zhy|SIMA形式ﾃﾞｰﾀ(*.SIM)|*.sim|APA形式ﾃﾞｰﾀ(*.APA)|*.apa|"
            "csvﾃﾞｰﾀ(*.CVS)|*.csv|すべてのﾌｧｲﾙ(*.*)|*.*|" +
                folder);
  ExpectShown(0, Kind::kWarning, Buttons::kOkCancel,
              (dir_ / "plan.sim").string() + "\r\n" + kOverwrite);
  EXPECT_EQ(ReadFileBytes(dir_ / "plan.sim"), "old");
  EXPECT_EQ(ws_.Settings.Folder.name, folder);
  EXPECT_EQ(view_.title, " Kestrova - site.sim");
  // OK replaces it with the table's SIMA form.
  prompts_.answers = {Answer::kOk};
  Choose(dir_ / "plan.b", 2);
  SaveCommand(ctx_);
  EXPECT_EQ(ReadFileBytes(dir_ / "plan.sim"),
            FormatCoordinateFile(ws_.Coords, CoordinateFormat::kSima));
  EXPECT_EQ(ws_.Settings.Folder.name, (dir_ / "").string());
  EXPECT_EQ(view_.title, " Kestrova - plan.sim");
  // SIMA has no place for marks and remarks: said, as the parcels a ZHY file lacks are.
  ASSERT_EQ(prompts_.shown.size(), 3u);
  ExpectShown(2, Kind::kInformation, Buttons::kOk,
              (dir_ / "plan.sim").string() +
                  "\r\n点 6 個のマークと備考は保存されませんでした。ZHY 形式と CSV 形式の"
                  "ファイルだけが保存できます。");
  // "All files" writes ZHY; no question when the target is new even though the typed
  // name exists. The site's parcels, which ZHY cannot hold, are said to be left out.
  prompts_.shown.clear();
  Choose(dir_ / "plan.sim", 5);
  SaveCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  ExpectShown(0, Kind::kInformation, Buttons::kOk,
              (dir_ / "plan.zhy").string() +
                  "\r\n区画と折れ線 3 個は保存されませんでした。SIMA 形式のファイルだけが"
                  "保存できます。");
  EXPECT_TRUE(fs::exists(dir_ / "plan.zhy"));
  // A name without a stem is refused.
  prompts_.shown.clear();
  Choose(dir_ / ".zhy");
  SaveCommand(ctx_);
  ExpectShown(0, Kind::kWarning, Buttons::kOk,
              "「.zhy」からは保存するファイルの名前が作れません。ファイル名を入力してください。");
  // A folder of the target's name: said at once, no overwrite question.
  fs::create_directory(dir_ / "lot.jww");
  prompts_.shown.clear();
  Choose(dir_ / "lot");
  JwwSaveCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  ExpectShown(0, Kind::kError, Buttons::kOk,
              (dir_ / "lot.jww").string() + "\r\nフォルダと同じ名前のファイルは保存できません。");
  EXPECT_TRUE(fs::is_directory(dir_ / "lot.jww"));
  // A dated name loses more than its extension to the stem: the user is asked first, and
  // Cancel writes nothing.
  prompts_.shown.clear();
  prompts_.answers = {Answer::kCancel};
  Choose(dir_ / "R6.12.10 lot.jww");
  JwwSaveCommand(ctx_);
  ExpectShown(0, Kind::kConfirmation, Buttons::kOkCancel,
              CutNameQuestion("R6.12.10 lot.jww", "R6.jww"));
  EXPECT_FALSE(fs::exists(dir_ / "R6.jww"));
  prompts_.answers = {Answer::kOk};
  Choose(dir_ / "R6.12.10 lot.jww");
  JwwSaveCommand(ctx_);
  EXPECT_TRUE(fs::exists(dir_ / "R6.jww"));
  // The filter's extension a dialog put after the same one typed in other letters is not
  // a second dot to ask about.
  prompts_.shown.clear();
  Choose(dir_ / "t7.jww.Jww");
  JwwSaveCommand(ctx_);
  EXPECT_TRUE(prompts_.shown.empty()) << prompts_.shown.front().text;
  EXPECT_TRUE(fs::exists(dir_ / "t7.jww"));
  // A repeat that is no extension is a name to ask about.
  prompts_.answers = {Answer::kCancel};
  Choose(dir_ / "R6.12.12");
  JwwSaveCommand(ctx_);
  ExpectShown(0, Kind::kConfirmation, Buttons::kOkCancel, CutNameQuestion("R6.12.12", "R6.jww"));
  // Names only Unicode holds are written as typed (on Windows a narrow string on the way
  // turned them into other characters), and the next dialog starts in their folder.
  const fs::path unicode = dir_ / Utf8Path("測量 𠮷é");
  fs::create_directory(unicode);
  Choose(unicode / Utf8Path("保存.b"));
  SaveCommand(ctx_);
  EXPECT_TRUE(fs::exists(unicode / Utf8Path("保存.zhy")));
  Choose(unicode / Utf8Path("図面"));
  JwwSaveCommand(ctx_);
  EXPECT_TRUE(fs::exists(unicode / Utf8Path("図面.jww")));
  EXPECT_TRUE(prompts_.dialogs.back().ends_with("|" + (unicode / "").string()));
  EXPECT_EQ(fs::current_path(), cwd);
  EXPECT_EQ(prompts_.busyDepth, 0);
}

TEST_F(Commands, JwwSaveWritesADrawingWhateverTheFilterAndKeepsFilesOnFailure) {
  Start();  // no Jw_cad settings on this machine
  // The plot draws in the pens and text kinds a drawing save installs, from the start.
  const PlotStyle plotted = DrawingPlotStyle(ws_.JwCad, ws_.Settings);
  EXPECT_EQ(ScreenColour(plotted, 3), 0x00C000u);
  EXPECT_EQ(plotted.TextKindHeights[2], 3.0);
  JwwSaveCommand(ctx_);
  ExpectShown(0, Kind::kInformation, Buttons::kOk, "データが、ありません。");
  LoadSite();
  view_.calls.clear();
  JwwSaveCommand(ctx_);  // dialog cancelled
  EXPECT_EQ(prompts_.dialogs.back(), "Jww形式ﾃﾞｰﾀ(*.jww)|*.jww|すべてのﾌｧｲﾙ(*.*)|*.*|" + kExamples);
  EXPECT_EQ(view_.calls, "commit repaint repaint ");
  Choose(dir_ / "plan.b", 2);
  JwwSaveCommand(ctx_);
  const std::string drawing = ReadFileBytes(dir_ / "plan.jww");
  EXPECT_EQ(drawing.substr(0, 12), std::string("JwwData.\xA4\x01\0\0", 12));
  EXPECT_EQ(ws_.Settings.Folder.name, (dir_ / "").string());
  EXPECT_TRUE(PlotStyleFrom(ws_.Drawing.Header, ws_.JwCad, ws_.Settings) == plotted);
  ASSERT_EQ(prompts_.shown.size(), 1u);  // the empty table's, nothing after the save
  prompts_.shown.clear();
  // A drawing of a version before 300 holds no point codes: the boundary points' six are
  // said to be left out, as a coordinate save says what its format cannot hold.
  ws_.JwwVersion = 230;
  Choose(dir_ / "old.jww");
  JwwSaveCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  ExpectShown(0, Kind::kInformation, Buttons::kOk,
              (dir_ / "old.jww").string() +
                  "\r\n点 6 個のコード番号（マーク、またはオプションの「コード番号」）は保存"
                  "されませんでした。V2.30-2.51 の図面にはコード番号を保存できないため、普通の点"
                  "として書き出しました。");
  prompts_.shown.clear();
  ws_.JwwVersion = 420;
  // A drawing the settings or the points refuse is said in Japanese, and the existing
  // file stays.
  const auto refused = [&](const std::string& text) {
    prompts_.shown.clear();
    prompts_.answers = {Answer::kOk};
    Choose(dir_ / "plan.jww");
    JwwSaveCommand(ctx_);
    ExpectShown(0, Kind::kWarning, Buttons::kOkCancel,
                (dir_ / "plan.jww").string() + "\r\n" + kOverwrite);
    ASSERT_EQ(prompts_.shown.size(), 2u);
    ExpectShown(1, Kind::kError, Buttons::kOk, text);
    EXPECT_EQ(ReadFileBytes(dir_ / "plan.jww"), drawing);
  };
  ws_.Settings.WrtBAse.Scale = 0;
  refused(
      "縮尺（WrtBAse.Scale）が 0 のため、図面を作れません。"
      "環境設定で縮尺の分母（例：500）を設定してください。");
  ws_.Settings.WrtBAse.Scale = 500;
  // Points at both ends of the number range: the base point between them is far from both.
  GridCellEdited(ctx_, 3, 3, "1.7E308");
  GridCellEdited(ctx_, 4, 3, "-1.7E308");
  refused(
      "点番号 3「境界1」（3 行目、X 1.7E308、Y -30520）は基準点から遠すぎるため、"
      "縮尺 1/500 の図面に描けません。");
}

// Loads, drawing saves and transfers tell how far they came; stopped, they leave the
// table, the file and the clipboard as they were and say nothing.
TEST_F(Commands, LongWorkReportsProgressAndStopsWithoutATrace) {
  Start();
  LoadSite();
  EXPECT_EQ(prompts_.works.back(), "座標データを読み込んでいます...");
  EXPECT_EQ(prompts_.fractions.back(), 1.0);
  Choose(dir_ / "plan.jww");
  JwwSaveCommand(ctx_);
  EXPECT_EQ(prompts_.works.back(), "Jww形式ﾃﾞｰﾀを保存しています...");
  ASSERT_GE(prompts_.fractions.size(), 2u);
  EXPECT_EQ(prompts_.fractions.front(), 0.0);
  EXPECT_EQ(prompts_.fractions.back(), 1.0);
  const std::string drawing = ReadFileBytes(dir_ / "plan.jww");
  TransferCommand(ctx_);
  EXPECT_EQ(prompts_.works.back(), "Jw_win に転送しています...");
  const std::string payload = sink_.bytes;
  ASSERT_FALSE(payload.empty());

  prompts_.stopWork = true;
  prompts_.shown.clear();
  const fs::path folder = ws_.Settings.Folder.name;
  ws_.Settings.WrtBAse.Scale = 250;  // a different drawing, were it written
  prompts_.answers = {Answer::kOk};  // overwrite
  Choose(dir_ / "plan.jww");
  JwwSaveCommand(ctx_);
  EXPECT_EQ(ReadFileBytes(dir_ / "plan.jww"), drawing);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2)
      << "a temporary file was left beside the drawing";
  TransferCommand(ctx_);
  EXPECT_EQ(sink_.bytes, payload);
  const CoordinateData before = ws_.Coords;
  prompts_.answers = {Answer::kYes};  // append
  Choose(kExamples + "site.sim");
  LoadCommand(ctx_);
  EXPECT_EQ(ws_.Coords.Table.PointCount, before.Table.PointCount);
  EXPECT_EQ(ws_.Coords.Sima.SimaBlocks.size(), before.Sima.SimaBlocks.size());
  ASSERT_EQ(prompts_.shown.size(), 2u);  // the overwrite and append questions only
  EXPECT_NE(prompts_.shown[1].text.find("現在読込済"), std::string::npos);
  EXPECT_EQ(ws_.Settings.Folder.name, folder);
  EXPECT_EQ(prompts_.busyDepth, 0);
}

// Points unmarked in the number column stay out of a drawing; with none marked, a save
// or transfer would hand on an empty drawing: it is refused before anything is touched.
TEST_F(Commands, ADrawingOfNoMarkedPointIsRefused) {
  Start();
  Choose(kExamples + "site.zhy");
  LoadCommand(ctx_);
  const int32_t n = ws_.Coords.Table.PointCount;
  ASSERT_GT(n, 1);
  GridMousePress(ws_.Grid, ws_.Coords.Table, 0, 1);
  for (int r = 2; r <= n; ++r)
    GridMouseMove(ws_.Grid, ws_.Coords.Table, 0, r);
  GridMouseRelease(ws_.Grid, ws_.Coords.Table);
  Write("old.jww", "kept");
  prompts_.shown.clear();
  Choose(dir_ / "old.jww");
  JwwSaveCommand(ctx_);
  TransferCommand(ctx_);
  const std::string refused =
      "印の付いた点がないため、図面に書き出すものがありません。\r\n"
      "図面には、No. の列に「*」の付いた点だけを書き出します。";
  ExpectShown(0, Kind::kInformation, Buttons::kOk, refused);
  ExpectShown(1, Kind::kInformation, Buttons::kOk, refused);
  EXPECT_EQ(prompts_.files.size(), 1u);  // no save dialog was opened
  EXPECT_EQ(ReadFileBytes(dir_ / "old.jww"), "kept");
  EXPECT_TRUE(sink_.bytes.empty());
  // One point marked again is a drawing.
  GridMousePress(ws_.Grid, ws_.Coords.Table, 0, 2);
  GridMouseRelease(ws_.Grid, ws_.Coords.Table);
  TransferCommand(ctx_);
  EXPECT_FALSE(sink_.bytes.empty());
}

// What the desktop program puts on the clipboard is what kestrova-cli clip writes.
TEST_F(Commands, TransferPayloadMatchesTheCommandLineTool) {
  const fs::path reg = KESTROVA_SHARED_TESTDATA "/jwcad-settings/user.reg";
  Write("program/Kestrova.INI", "[WrtBAse]\r\nScale=250\r\n[Point]\r\nEnkoFlg=1\r\n");
  JwCadSettingsMap source = JwCadSettingsMap::FromRegFile(reg);
  ctx_.jwcadSource = &source;
  Start();
  TransferCommand(ctx_);
  ExpectShown(0, Kind::kInformation, Buttons::kOk, "データが、ありません。");
  EXPECT_TRUE(sink_.bytes.empty());
  LoadSite();
  TransferCommand(ctx_);
  const fs::path clip = dir_ / "site.clip";
  const std::string command = std::string(KESTROVA_CLI) + " clip " + kExamples + "site.sim" +
                              " --settings " + ctx_.settingsFile.string() + " --jwcad-settings " +
                              reg.string() + " -o " + clip.string() + " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(sink_.bytes, ReadFileBytes(clip));
  EXPECT_GT(sink_.bytes.size(), 200u);
  // A busy clipboard: said so, the previous payload stays.
  const std::string before = sink_.bytes;
  sink_.busy = true;
  prompts_.shown.clear();
  TransferCommand(ctx_);
  ExpectShown(0, Kind::kError, Buttons::kOk,
              "Jw_win に転送できませんでした。クリップボードは元のままです。\r\n"
              "クリップボードはほかのプログラムが使用中です。");
  EXPECT_EQ(sink_.bytes, before);
}

// Points typed into a fresh table are points: counted, plotted and fitted once read back,
// worth a question before New or a load throws them away, and never lost by a load.
TEST_F(Commands, TypedPointsCountBeforeAnyLoad) {
  Start();
  const auto type = [this](int row, const char* x, const char* y) {
    GridCellEdited(ctx_, row, 3, x);
    GridCellEdited(ctx_, row, 4, y);
  };
  type(1, "10", "20");
  EXPECT_TRUE(HomeKeyCommand(ctx_));  // one point, never fitted: fitted now
  EXPECT_TRUE(ViewUsable(ws_.View));
  type(2, "30", "5");
  Choose(dir_ / "typed.zhy");
  SaveCommand(ctx_);
  EXPECT_EQ(ws_.Coords.Table.PointCount, 2);
  EXPECT_EQ(view_.status[0], " 2 ");
  EXPECT_EQ(ws_.Grid.Rows[2][0], "*2 ");  // marked, and the grid says so
  EXPECT_EQ(ws_.Bounds.MaxX, 30.0);
  EXPECT_EQ(ws_.View.ViewMax.h, 20.0);  // survey axes: Y across
  // A cleared X cell ends the read-back: the point there stays as it was, which the
  // user hears before the save goes on.
  GridCellEdited(ctx_, 2, 3, "");
  prompts_.shown.clear();
  Choose(dir_ / "cleared.zhy");
  SaveCommand(ctx_);
  ExpectShown(0, Kind::kWarning, Buttons::kOk, UnreadGridRowText(2));
  EXPECT_NE(ReadFileBytes(dir_ / "cleared.zhy").find("\n2,2,30,5,"), std::string::npos)
      << ReadFileBytes(dir_ / "cleared.zhy");
  GridCellEdited(ctx_, 2, 3, "30");
  prompts_.shown.clear();
  // Home reads the grid back too and frames the new point with the finer step.
  type(3, "-40", "60");
  view_.calls.clear();
  EXPECT_TRUE(HomeKeyCommand(ctx_));
  EXPECT_EQ(view_.calls.substr(view_.calls.size() - 5), "home ");
  EXPECT_EQ(ws_.Coords.Table.PointCount, 3);
  EXPECT_EQ(ws_.View.ViewMin.v, -40.0);
  EXPECT_DOUBLE_EQ(ws_.View.PanStep, ws_.View.ViewExtent.h / 10 / ws_.View.ViewScale);

  // New asks about typed rows even before they were read back; Cancel keeps them.
  prompts_.answers = {Answer::kOk};
  NewTableCommand(ctx_);
  ASSERT_EQ(ws_.Coords.Table.PointCount, 0);
  type(1, "1", "2");
  prompts_.answers = {Answer::kCancel};
  NewTableCommand(ctx_);
  ExpectShown(1, Kind::kConfirmation, Buttons::kOkCancel,
              "現在座標データがありますが、削除しますか？");
  EXPECT_EQ(ws_.Grid.Rows[1][3], "1");
  // A load asks whether to append to them; appended, they stay the first points.
  prompts_.answers = {Answer::kYes};
  LoadFilesCommand(ctx_, {kExamples + "site.sim"});
  ASSERT_GE(prompts_.shown.size(), 3u);
  EXPECT_NE(prompts_.shown[2].text.find("現在読込済"), std::string::npos);
  ASSERT_EQ(ws_.Coords.Table.PointCount, 12);
  EXPECT_EQ(ws_.Coords.Table.Points[1].X, 1.0);
  EXPECT_EQ(ws_.Grid.Rows[1][3], "  1.000 ");
  // Home without any point is not the plot's key.
  prompts_.answers = {Answer::kOk};
  NewTableCommand(ctx_);
  EXPECT_FALSE(HomeKeyCommand(ctx_));
  // The cleared site's parcels, whose rows are gone, stay out of a SIMA save of the
  // points typed next.
  type(1, "5", "6");
  Choose(dir_ / "typed.sim", 2);
  SaveCommand(ctx_);
  const std::string saved = ReadFileBytes(dir_ / "typed.sim");
  EXPECT_NE(saved.find("A01"), std::string::npos);
  EXPECT_EQ(saved.find("D00"), std::string::npos);
  EXPECT_EQ(saved.find("F00"), std::string::npos);
}

// Closing asks only when typed points or a changed site name would be lost: never for a
// table as it was loaded or saved, nor for a cell opened and left as it was.
TEST_F(Commands, ClosingAsksOnlyWhenTypedPointsWouldBeLost) {
  const std::string unsaved =
      "入力・変更した座標データが保存されていません。\r\n保存せずに終了しますか？";
  Start();
  EXPECT_TRUE(MayClose(ctx_));
  LoadFilesCommand(ctx_, {kExamples + "site.sim"});
  GridCellEdited(ctx_, 2, 3, ws_.Grid.Rows[2][3]);
  EXPECT_TRUE(MayClose(ctx_));
  EXPECT_TRUE(prompts_.shown.empty());
  GridCellEdited(ctx_, 2, 3, "12.5");
  prompts_.answers = {Answer::kCancel, Answer::kOk};
  EXPECT_FALSE(MayClose(ctx_));
  EXPECT_TRUE(MayClose(ctx_));
  ExpectShown(0, Kind::kWarning, Buttons::kOkCancel, unsaved);
  Choose(dir_ / "kept.sim", 2);
  SaveCommand(ctx_);
  prompts_.shown.clear();
  EXPECT_TRUE(MayClose(ctx_));
  // Only a SIMA file keeps a site name.
  prompts_.typed = "新町";
  SiteNameCommand(ctx_);
  Choose(dir_ / "kept.zhy", 1);
  SaveCommand(ctx_);
  prompts_.answers = {Answer::kCancel};
  EXPECT_FALSE(MayClose(ctx_));
  Choose(dir_ / "kept.sim", 2);
  prompts_.answers = {Answer::kOk};  // replace kept.sim
  SaveCommand(ctx_);
  prompts_.shown.clear();
  EXPECT_TRUE(MayClose(ctx_));
  EXPECT_TRUE(prompts_.shown.empty());
  // A full-width mark left as it was keeps its bytes and asks nothing.
  Write("wide.zhy", "1,a,1,2,3,\x82\x50,,\r\n2,b,4,5,6,,,\r\n");
  prompts_.answers = {Answer::kNo};
  LoadFilesCommand(ctx_, {dir_ / "wide.zhy"});
  GridCellEdited(ctx_, 1, 6, "１");
  EXPECT_EQ(ws_.Coords.Table.Points[1].Mark, "\x82\x50");
  EXPECT_TRUE(ws_.Grid.Rows.Linked(1));
  EXPECT_TRUE(MayClose(ctx_));
  SiteNameCommand(ctx_);
  prompts_.answers = {Answer::kCancel};
  EXPECT_FALSE(MayClose(ctx_));
  // A replacing load and New leave nothing typed behind.
  prompts_.answers = {Answer::kNo};  // replace, not append
  LoadFilesCommand(ctx_, {dir_ / "kept.sim"});
  prompts_.shown.clear();
  EXPECT_TRUE(MayClose(ctx_));
  EXPECT_TRUE(prompts_.shown.empty());
  GridCellEdited(ctx_, 1, 2, "x");
  prompts_.answers = {Answer::kOk};
  NewTableCommand(ctx_);
  EXPECT_TRUE(MayClose(ctx_));
  EXPECT_EQ(prompts_.shown.size(), 1u);  // New's own question
}

// Text typed into a number cell is written as 0; the user hears which cell before the
// file is chosen, and of how many more, also of numbers no point number can hold.
TEST_F(Commands, NumberCellsThatHoldNoNumberAreToldOfBeforeAWrite) {
  Start();
  GridCellEdited(ctx_, 1, 3, "10");
  GridCellEdited(ctx_, 1, 4, "-12,045.318");
  GridCellEdited(ctx_, 2, 1, "2147483648");
  GridCellEdited(ctx_, 2, 3, "20");
  GridCellEdited(ctx_, 2, 5, "12abc");
  GridCellEdited(ctx_, 3, 5, "7x");  // after the empty X of row 3: not read at all
  // Asked; cancelled, nothing is chosen or written.
  const std::string asked =
      "1 行目のＹ 座標「-12,045.318」は数値として読めないため、0 として書き出します。"
      "\r\nほかに 2 個の数値でないセルも 0 になります。\r\nこのまま書き出しますか？ "
      "赤い文字のセルを直すときは「キャンセル」を押してください。";
  for (auto* command : {&SaveCommand, &JwwSaveCommand, &TransferCommand}) {
    prompts_.shown.clear();
    prompts_.dialogs.clear();
    prompts_.answers = {Answer::kOk, Answer::kCancel};  // the unread row's notice, the question
    command(ctx_);
    ASSERT_EQ(prompts_.shown.size(), 2u);
    ExpectShown(1, Kind::kWarning, Buttons::kOkCancel, asked);
    EXPECT_TRUE(prompts_.dialogs.empty());
  }
  EXPECT_FALSE(fs::exists(dir_ / "typed.zhy"));
  // Written as 0 when the user goes on; still unsaved, as the cell is still to mend.
  prompts_.shown.clear();
  Choose(dir_ / "typed.zhy");
  SaveCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 2u);
  ExpectShown(1, Kind::kWarning, Buttons::kOkCancel, asked);
  EXPECT_EQ(ReadFileBytes(dir_ / "typed.zhy"), "1,1,10,0,0,,,\r\n0,2,20,0,0,,,\r\n");
  EXPECT_TRUE(ws_.Unsaved);
  // An appending load fills the grid again from the points, where row 3 and after would
  // go and the cell would show 0: both asked, and cancelled, nothing is read.
  prompts_.shown.clear();
  prompts_.dialogs.clear();
  prompts_.answers = {Answer::kYes, Answer::kOk, Answer::kCancel};
  LoadCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 3u);
  ExpectShown(1, Kind::kWarning, Buttons::kOkCancel, UnreadGridRowBeforeAppendText(3));
  EXPECT_TRUE(prompts_.shown[2].text.starts_with(
      "1 行目のＹ 座標「-12,045.318」は数値として読めないため、0 "
      "として表に入れてから読み込みます。"))
      << prompts_.shown[2].text;
  EXPECT_TRUE(prompts_.dialogs.empty());
  EXPECT_EQ(ws_.Grid.Rows[1][4], "-12,045.318");
  // Corrected, nothing more is said.
  GridCellEdited(ctx_, 1, 4, "-12045.318");
  GridCellEdited(ctx_, 2, 1, "2");
  GridCellEdited(ctx_, 2, 5, "12");
  prompts_.shown.clear();
  TransferCommand(ctx_);
  EXPECT_EQ(prompts_.shown.size(), 1u);  // the unread row 3 alone
}

// What a desktop save writes is what kestrova-cli writes of the same file, to the last
// digit, whatever the grid shows. Points unmarked in the number column stay out of the
// drawing and the clipboard, which are then those of the marked points alone.
TEST_F(Commands, SavesKeepEveryDigitAndDrawingsOnlyTheMarkedPoints) {
  const fs::path reg = KESTROVA_SHARED_TESTDATA "/jwcad-settings/user.reg";
  JwCadSettingsMap source = JwCadSettingsMap::FromRegFile(reg);
  ctx_.jwcadSource = &source;
  Write("program/Kestrova.INI", "[WrtBAse]\r\nScale=250\r\n");
  const std::string rows[] = {"1,A,100.12345,200.54321,9.9995,12,edge,\r\n",
                              "2,B,-110.5,210.25,1,,,\r\n", "3,C,105.00001,205.99999,2,,,\r\n",
                              "4,D,120.00049,190.00051,-0.0005,,,\r\n", "5,  E,101,202,3,,,\r\n"};
  Write("fine.zhy", rows[0] + rows[1] + rows[2] + rows[3] + rows[4]);
  Start();
  Choose(dir_ / "fine.zhy");
  LoadCommand(ctx_);
  ASSERT_EQ(ws_.Coords.Table.PointCount, 5);
  const auto cli = [this](const std::string& args, const std::string& out) {
    const std::string command = std::string(KESTROVA_CLI) + " " + args + " --settings " +
                                ctx_.settingsFile.string() + " -o " + (dir_ / out).string() +
                                " 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadFileBytes(dir_ / out);
  };
  const struct {
    int filter;
    const char* extension;
    const char* format;
  } formats[] = {{1, ".zhy", "zhy"}, {2, ".sim", "sima"}, {3, ".apa", "apa"}, {4, ".csv", "csv"}};
  for (const auto& f : formats) {
    Choose(dir_ / "saved", f.filter);
    SaveCommand(ctx_);
    EXPECT_EQ(ReadFileBytes(dir_ / (std::string("saved") + f.extension)),
              cli("export " + (dir_ / "fine.zhy").string() + " --format " + f.format,
                  std::string("cli") + f.extension))
        << f.format;
  }

  // Rows 2 and 4 unmarked by a drag in the number column, across row 3 and back.
  GridMousePress(ws_.Grid, ws_.Coords.Table, 0, 2);
  GridMouseMove(ws_.Grid, ws_.Coords.Table, 0, 3);
  GridMouseMove(ws_.Grid, ws_.Coords.Table, 0, 4);
  GridMouseMove(ws_.Grid, ws_.Coords.Table, 0, 3);
  GridMouseRelease(ws_.Grid, ws_.Coords.Table);
  // The transfer first: after a drawing save it takes the text sizes the save set.
  TransferCommand(ctx_);
  Choose(dir_ / "marked.jww");
  JwwSaveCommand(ctx_);
  EXPECT_EQ(ws_.Coords.Table.Points[2].Marked, 0);
  EXPECT_EQ(ws_.Grid.Rows[4][0], "4 ");
  Write("marked.zhy", rows[0] + rows[2] + rows[4]);
  const std::string marked = (dir_ / "marked.zhy").string();
  EXPECT_EQ(ReadFileBytes(dir_ / "marked.jww"),
            cli("convert " + marked + " --jwcad-settings " + reg.string(), "cli.jww"));
  EXPECT_EQ(sink_.bytes, cli("clip " + marked + " --jwcad-settings " + reg.string(), "cli.clip"));
}

// A corner moved or renumbered in the grid carries its parcel's lines, label and
// triangles with it: the plot, the drawing and a SIMA save agree with each other and with
// a file that held the edited points from the start.
TEST_F(Commands, EditedCornersCarryTheirParcels) {
  const auto site = [](const char* third, const char* second) {
    return std::string("G00,01,site,\r\nA00,\r\nA01,1,a,0,0,0,\r\nA01,") + second +
           ",b,10,0,0,\r\nA01,3,c," + third + ",10,0,\r\nA01,4,d,0,10,0,\r\n" +
           "A01,5,e,50,50,0,\r\nA99,\r\nD00,1,lot,1,\r\nB01,1,a,\r\nB01," + second +
           ",b,\r\nB01,3,c,\r\nB01,4,d,\r\nE01,1,a," + second + ",b,3,c,\r\nD99,\r\n" +
           "F00,1,,\r\nB01,3,c,\r\nB01,5,e,\r\nF99,\r\n";
  };
  // Jw_cad's settings named for both: under Windows the tool would read the registry's.
  const fs::path reg = KESTROVA_SHARED_TESTDATA "/jwcad-settings/user.reg";
  JwCadSettingsMap source = JwCadSettingsMap::FromRegFile(reg);
  ctx_.jwcadSource = &source;
  Write("program/Kestrova.INI", "[WrtBAse]\r\nScale=250\r\n");
  Write("site.sim", site("10", "2"));
  Write("edited.sim", site("25.5", "102"));
  Start();
  Choose(dir_ / "site.sim");
  LoadCommand(ctx_);
  ASSERT_EQ(ws_.Coords.Sima.SimaLines.size(), 8u);
  GridCellEdited(ctx_, 3, 3, "25.5");  // corner 3 moved
  GridCellEdited(ctx_, 2, 1, "102");   // corner 2 renumbered
  EXPECT_TRUE(HomeKeyCommand(ctx_));
  // Every line end stands on a point of the table; the label moved with the parcel.
  for (const SimaLine& l : ws_.Coords.Sima.SimaLines) {
    for (const auto& [x, y] : {std::pair{l.StartX, l.StartY}, std::pair{l.EndX, l.EndY}}) {
      const auto& points = ws_.Coords.Table.Points;
      EXPECT_TRUE(std::any_of(points.begin() + 1, points.end(),
                              [&](const SurveyPoint& p) { return p.X == x && p.Y == y; }))
          << x << "," << y;
    }
  }
  CoordinateData expected;
  ASSERT_TRUE(LoadCoordinateFile(dir_ / "edited.sim", expected, false));
  ASSERT_EQ(ws_.Coords.Sima.SimaTexts.size(), 1u);
  EXPECT_EQ(ws_.Coords.Sima.SimaTexts[0].X, expected.Sima.SimaTexts[0].X);
  EXPECT_EQ(ws_.Coords.Sima.SimaTexts[0].Y, expected.Sima.SimaTexts[0].Y);

  Choose(dir_ / "saved.sim", 2);
  SaveCommand(ctx_);
  EXPECT_EQ(ReadFileBytes(dir_ / "saved.sim"), site("25.5", "102"));
  // A corner given the number of an earlier point would read back as that point.
  GridCellEdited(ctx_, 3, 1, "1");
  prompts_.shown.clear();
  Choose(dir_ / "twice.sim", 2);
  SaveCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_NE(prompts_.shown[0].text.find("区画・折れ線の点 3 個は、それより前の行の点と同じ"),
            std::string::npos)
      << prompts_.shown[0].text;
  GridCellEdited(ctx_, 3, 1, "3");
  const std::string command = std::string(KESTROVA_CLI) + " convert " +
                              (dir_ / "edited.sim").string() + " --settings " +
                              ctx_.settingsFile.string() + " --jwcad-settings " + reg.string() +
                              " -o " + (dir_ / "cli.jww").string() + " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  Choose(dir_ / "saved.jww");
  JwwSaveCommand(ctx_);
  EXPECT_EQ(ReadFileBytes(dir_ / "saved.jww"), ReadFileBytes(dir_ / "cli.jww"));
}

TEST_F(Commands, StartUpProblemsAreReturnedAndSettingsStillRead) {
  // Hand edits out of the dialog's reach are read as the nearest valid value, and said.
  Write("program/Kestrova.INI",
        "[WrtBase]\r\nScale=250\r\nGroup=42\r\nSize=-1\r\n"
        "[Point]\r\nOutFlg=0\r\nCodeFlg=1\r\nLay=20\r\nEnkoR=x\r\nCode=y\r\n"
        "[XYcoord]\r\nMojiNo=0\r\nMojiBs=9\r\n");
  JwCadSettingsMap source =
      JwCadSettingsMap::FromRegFile(KESTROVA_SHARED_TESTDATA "/jwcad-settings/user.reg");
  source.SetString("Pen", "Width03", "wide");
  ctx_.jwcadSource = &source;
  const StartUpProblems said = StartUp(ctx_);
  // All are warnings: the program goes on with the defaults or nearest values.
  EXPECT_TRUE(said.errors.empty());
  const std::vector<std::string>& problems = said.warnings;
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0], "Jw_cad の設定を読み込めませんでした。\r\n" + source.Describe() +
                             ": Jw_cad の設定 Pen\\Width03 の値「wide」は整数ではありません。");
  // Every value that is no number in one message.
  const std::string file = ctx_.settingsFile.string();
  EXPECT_EQ(problems[1], file + ": [Point] Code=y は数値ではないため、0 を使います。\r\n" + file +
                             ": [Point] EnkoR=x は数値ではないため、1 を使います。");
  EXPECT_EQ(problems[2],
            "設定ファイル「" + ctx_.settingsFile.string() +
                "」の次の値は設定できる範囲の外にあるため、最も近い値で読み込みました。"
                "\r\n[WrtBAse] Size=-1 → 0\r\n[WrtBase] Group=42 → 15\r\n[Point] Lay=20 → 15"
                "\r\n[XYcoord] MojiNo=0 → 1");
  EXPECT_EQ(ws_.Settings.WrtBAse.Group, 15u);
  EXPECT_EQ(ws_.Settings.WrtBAse.Scale, 250.0);
  EXPECT_FALSE(ws_.Settings.Point.CodeFlg);
  EXPECT_FALSE(ws_.Options.Point.CodeFlg);
  EXPECT_FALSE(ws_.Options.CodeCheckEnabled);
  EXPECT_FALSE(ws_.Options.CodeListEnabled);
  EXPECT_EQ(ws_.Options.ScaleText, "250");
  EXPECT_EQ(ws_.Grid.RowCount(), 11);
  EXPECT_EQ(ws_.View.YSign, -1.0);
  ShutDown(ctx_);
  const std::string written = ReadFileBytes(ctx_.settingsFile);
  EXPECT_NE(written.find("[WrtBAse]\r\nScale=250\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("CodeFlg=0"), std::string::npos);
  // A settings file that cannot be written is reported at close.
  fs::remove(ctx_.settingsFile);
  fs::create_directories(ctx_.settingsFile / "x");
  ShutDown(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_EQ(prompts_.shown[0].kind, Kind::kError);
  EXPECT_EQ(prompts_.shown[0].text.find("設定を保存できませんでした。\r\n"), 0u);
}

TEST_F(Commands, OptionsStoreOnOkButNeverAnUnusableValue) {
  Start();
  // Cancel (Escape, the close box): nothing changed in the dialog stays, not even what
  // the check boxes' reactions did while it was open.
  ShutDown(ctx_);
  const std::string stored = ReadFileBytes(ctx_.settingsFile);
  const OptionsForm shown = ws_.Options;
  prompts_.optionsOk = false;
  prompts_.onOptions = [&](OptionsForm& f) {
    f.ScaleText = "250";
    f.Group = 3;
    f.SurveyAxes = false;
    f.Point.OutFlg = false;
    PointOutChanged(f, ws_.Settings);
  };
  OptionsCommand(ctx_);
  prompts_.optionsOk = true;
  ShutDown(ctx_);
  EXPECT_EQ(ReadFileBytes(ctx_.settingsFile), stored);
  EXPECT_TRUE(ws_.Settings.Point.CodeFlg);
  EXPECT_EQ(ws_.Options.ScaleText, shown.ScaleText);
  EXPECT_TRUE(ws_.Options.Point.OutFlg);
  EXPECT_TRUE(ws_.Options.CodeCheckEnabled);

  // Clearing "点出力 " disables "コード番号：" but leaves it ticked, and it counts.
  OptionsForm form = ws_.Options;
  form.Point.OutFlg = false;
  PointOutChanged(form, ws_.Settings);
  EXPECT_FALSE(form.CodeCheckEnabled);
  EXPECT_FALSE(form.CodeListEnabled);
  EXPECT_TRUE(form.Point.CodeFlg);
  EXPECT_FALSE(ws_.Settings.Point.CodeFlg);
  form.Point.OutFlg = true;
  PointOutChanged(form, ws_.Settings);
  form.Point.CodeFlg = false;
  CodeFlagChanged(form, ws_.Settings);
  EXPECT_TRUE(form.CodeCheckEnabled);
  EXPECT_FALSE(form.CodeListEnabled);
  EXPECT_FALSE(ws_.Settings.Point.CodeFlg);
  form.Point.CodeFlg = true;
  CodeFlagChanged(form, ws_.Settings);
  EXPECT_TRUE(form.CodeListEnabled);
  form.Point.OutFlg = false;
  PointOutChanged(form, ws_.Settings);

  prompts_.onOptions = [&](OptionsForm& f) {
    f = form;
    f.ScaleText = "abc";
    f.Point.EnkoRText = "-2";
    f.PaperIndex = -1;
    f.Group = 16;
    f.Point.CodeIndex = 10;
    f.PointStr.BaseIndex = 8;
    f.PointStr.OutFlg = false;
    f.XYcoord.MojiNo = 11;
    f.Zcoord.MojiCl = 8;
    f.VersionIndex = 3;
    f.SurveyAxes = false;
  };
  OptionsCommand(ctx_);
  const OutputSettings& s = ws_.Settings;
  EXPECT_EQ(s.WrtBAse.Scale, 500.0);
  EXPECT_EQ(s.Point.EnkoR, 1.0);
  EXPECT_EQ(s.WrtBAse.Size, 2);
  EXPECT_EQ(s.WrtBAse.Group, 8u);
  EXPECT_TRUE(s.Point.CodeFlg);
  EXPECT_FALSE(s.Point.OutFlg);
  EXPECT_EQ(s.Point.Code, 10);
  EXPECT_EQ(s.PointStr.MojiBs, 9);
  EXPECT_FALSE(s.PointStr.OutFlg);
  EXPECT_EQ(s.XYcoord.MojiNo, 3u);
  EXPECT_EQ(s.Zcoord.MojiCl, 8u);
  EXPECT_EQ(ws_.JwwVersion, 230u);
  EXPECT_FALSE(s.Coordinate.Flg);
  EXPECT_TRUE(ws_.View.MathAxes);
  ExpectShown(0, Kind::kWarning, Buttons::kOk,
              "縮尺「abc」は 0 より大きい数値ではないため、縮尺は 500 のままです。\r\n"
              "円直径「-2」は 0 より大きい数値ではないため、円直径は 1 mm のままです。");
  // The controls show what is in force; the disabled code box keeps its state.
  EXPECT_EQ(ws_.Options.ScaleText, "500");
  EXPECT_EQ(ws_.Options.PaperIndex, 2);
  EXPECT_EQ(ws_.Options.Group, 8);
  EXPECT_FALSE(ws_.Options.CodeCheckEnabled);
  EXPECT_TRUE(ws_.Options.Point.CodeFlg);
  EXPECT_EQ(view_.calls.find("repaint"), std::string::npos);  // no points: no repaint

  // Full-width digits typed with the input method count; with points the plot repaints.
  LoadSite();
  prompts_.onOptions = [](OptionsForm& f) {
    f.ScaleText = "２５０．５";
    f.Point.EnkoRText = " 3 ";
  };
  OptionsCommand(ctx_);
  EXPECT_EQ(s.WrtBAse.Scale, 250.5);
  EXPECT_EQ(s.Point.EnkoR, 3.0);
  EXPECT_FALSE(ws_.View.MathAxes);  // SIMA forces survey axes
  EXPECT_EQ(view_.calls.substr(view_.calls.size() - 8), "repaint ");
  // Points of a list switched to survey axes: the view is fitted again in them, or it
  // would frame where the data are not.
  prompts_.answers = {Answer::kNo};
  Choose(kExamples + "site.zhy");
  LoadCommand(ctx_);
  ASSERT_TRUE(ws_.View.MathAxes);
  prompts_.onOptions = [](OptionsForm& f) { f.SurveyAxes = true; };
  OptionsCommand(ctx_);
  EXPECT_FALSE(ws_.View.MathAxes);
  EXPECT_EQ(view_.calls.substr(view_.calls.size() - 4), "fit ");
  EXPECT_EQ(ws_.View.ViewMin.h, ws_.Bounds.MinY);
  EXPECT_EQ(ws_.View.ViewMax.v, ws_.Bounds.MaxX);
  ShutDown(ctx_);
  const std::string written = ReadFileBytes(ctx_.settingsFile);
  for (const char* line : {"Scale=250.5\r\n", "EnkoR=3\r\n",
                           "[PointStr]\r\nLay=2\r\nMojiNo=3\r\n"
                           "MojiCl=2\r\nMojiBs=9\r\nOutFlg=0\r\n"})
    EXPECT_NE(written.find(line), std::string::npos) << line << written;
  // The version is chosen per run.
  Workspace next;
  CommandContext again{next, prompts_, view_, sink_, nullptr, {}, {}, {}};
  again.settingsFile = ctx_.settingsFile;
  StartUp(again);
  EXPECT_EQ(next.JwwVersion, 420u);
  EXPECT_EQ(next.Options.VersionIndex, 0);
  EXPECT_EQ(next.Options.PointStr.BaseIndex, 8);
}

TEST_F(Commands, SmallCommandsAndNothingEscapes) {
  Start();
  // Quit asks in a plain box; only Yes closes.
  prompts_.answers = {Answer::kNo, Answer::kYes};
  QuitCommand(ctx_);
  EXPECT_EQ(view_.calls.find("close"), std::string::npos);
  QuitCommand(ctx_);
  ExpectShown(0, Kind::kPlain, Buttons::kYesNo, "　終了しますか？　　\r\n");
  EXPECT_NE(view_.calls.find("close"), std::string::npos);
  // Site name: an empty name shows a single blank; Cancel changes nothing.
  prompts_.typed = "";
  SiteNameCommand(ctx_);
  EXPECT_EQ(prompts_.inputs.at(0), " 現場名入力|現場名？|");
  EXPECT_EQ(view_.status[2], " ");
  prompts_.typed = std::nullopt;
  view_.status[2] = "kept";
  SiteNameCommand(ctx_);
  EXPECT_EQ(view_.status[2], "kept");
  prompts_.typed = "川𠮷町";  // 𠮷 has no code page 932 form
  SiteNameCommand(ctx_);
  EXPECT_EQ(view_.status[2], " 川?町");
  ExpectShown(2, Kind::kInformation, Buttons::kOk,
              "現場名の 1 文字は Shift_JIS で表せないため「?」に置き換えました。");
  prompts_.typed = std::nullopt;
  SiteNameCommand(ctx_);  // the box opens with the name in force
  EXPECT_EQ(prompts_.inputs.at(3), " 現場名入力|現場名？|川?町");
  // Typed text is kept as it will be saved; the user hears about replacements once.
  prompts_.shown.clear();
  GridCellEdited(ctx_, 1, 2, "川𠮷町");
  GridCellEdited(ctx_, 2, 2, "①𠮷");
  GridCellEdited(ctx_, 0, 2, "header");  // header and number cells are not edited
  GridCellEdited(ctx_, 3, 0, "9");
  EXPECT_EQ(ws_.Grid.Rows[1][2], Utf8ToCp932("川?町").text);
  EXPECT_EQ(ws_.Grid.Rows[2][2], "\x87\x40?");
  EXPECT_EQ(ws_.Grid.Rows[0][2], kGridHeaders[2]);
  EXPECT_EQ(ws_.Grid.Rows[3][0], "3");
  // A number typed with the input method on counts as the number it spells, and the cell
  // shows it so; text that is no number even so, and other columns, stay as typed.
  GridCellEdited(ctx_, 4, 1, "１２");
  GridCellEdited(ctx_, 4, 3, "－１２０４５．５");
  GridCellEdited(ctx_, 4, 4, " −３０５１２.２５ ");
  GridCellEdited(ctx_, 4, 5, "１．２Ｅ１");
  GridCellEdited(ctx_, 5, 3, "１２Ａ");
  GridCellEdited(ctx_, 5, 2, "１２");
  GridCellEdited(ctx_, 6, 3, "ー１２。５　");  // hiragana mode, an ideographic space after
  GridCellEdited(ctx_, 4, 6, "１０５");        // a mark that is a code
  GridCellEdited(ctx_, 5, 6, "杭１");
  EXPECT_EQ(ws_.Grid.Rows[4][1], "12");
  EXPECT_EQ(ws_.Grid.Rows[4][3], "-12045.5");
  EXPECT_EQ(ws_.Grid.Rows[4][4], " -30512.25 ");
  EXPECT_EQ(ws_.Grid.Rows[4][5], "1.2E1");
  EXPECT_EQ(ws_.Grid.Rows[5][3], Utf8ToCp932("１２Ａ").text);
  EXPECT_EQ(ws_.Grid.Rows[5][2], Utf8ToCp932("１２").text);
  EXPECT_EQ(ws_.Grid.Rows[6][3], "-12.5 ");
  EXPECT_EQ(ws_.Grid.Rows[4][6], "105");
  EXPECT_EQ(ws_.Grid.Rows[5][6], Utf8ToCp932("杭１").text);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  ExpectShown(0, Kind::kInformation, Buttons::kOk,
              "Shift_JIS で表せない文字は「?」として保存されます。セルには保存される内容を表示"
              "しています。");
  // Help: where the manual was looked for, or the browser's failure.
  prompts_.shown.clear();
  HelpCommand(ctx_);
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_NE(
      prompts_.shown[0].text.find((dir_ / "program" / "docs" / "manual" / "index.html").string()),
      std::string::npos)
      << prompts_.shown[0].text;
  fs::create_directories(dir_ / "share/kestrova/manual");
  Write("share/kestrova/manual/index.html", "<html></html>");
  fs::create_directories(dir_ / "bin");
  EXPECT_EQ(FindManual(dir_ / "bin"), dir_ / "share/kestrova/manual/index.html");
  ctx_.manualFile = FindManual(dir_ / "bin");
  view_.browserWorks = false;
  HelpCommand(ctx_);
  EXPECT_EQ(view_.opened, ctx_.manualFile);
  ExpectShown(1, Kind::kWarning, Buttons::kOk,
              "操作説明書をブラウザで開けませんでした。次のファイルを直接開いてください：\r\n" +
                  ctx_.manualFile.string());
  // A failure inside a command is shown, never thrown.
  VersionCommand(ctx_);
  EXPECT_EQ(prompts_.versionBoxes, 1);
  EXPECT_NO_THROW(PrinterSetupCommand(ctx_));
  ExpectShown(2, Kind::kError, Buttons::kOk, "no printer");
}

// Every message has both texts with the same arguments: the window names the file, line
// and value the tool names. A few leave out what the box around them already says.
TEST(MessageCatalogue, EveryIdHasItsEnglishAndJapaneseText) {
  const auto placeholders = [](std::string_view text) {
    std::set<std::string> found;
    for (size_t i = text.find('{'); i != std::string_view::npos; i = text.find('{', i + 1))
      found.insert(std::string(text.substr(i, text.find('}', i) - i + 1)));
    return found;
  };
  // Load notices follow a line naming the file; the layout's value names and GDAL's own
  // messages are English; the tool's hint is about its options.
  const std::map<MessageId, std::set<std::string>> leftOut = {
      {MessageId::kConvertedFromUnicode, {"{1}"}},
      {MessageId::kReplacedCharacters, {"{1}"}},
      {MessageId::kMoreUnclosedBlocks, {"{1}"}},
      {MessageId::kRepeatedNumber, {"{1}"}},
      {MessageId::kRepeatedNumbers, {"{1}"}},
      {MessageId::kRepeatedWithin, {"{1}"}},
      {MessageId::kRepeatedWithinMany, {"{1}"}},
      {MessageId::kBlockCutShort, {"{1}"}},
      {MessageId::kBlocksCutShort, {"{1}"}},
      {MessageId::kTriangleLeftOut, {"{1}"}},
      {MessageId::kTrianglesLeftOut, {"{1}"}},
      {MessageId::kPrintLayoutOutOfRange, {"{1}"}},
      {MessageId::kGisFormatNeedsSystem, {"{2}"}},
      {MessageId::kGisSystemUnknown, {"{2}"}},
      {MessageId::kGisSystemNotPlane, {"{3}"}},
      {MessageId::kGisCannotRead, {"{2}"}},
      {MessageId::kGisReadStopped, {"{4}"}},
      {MessageId::kGisSystemCannotConvert, {"{4}"}},
      {MessageId::kGisLongitudeLatitude, {"{3}"}},
      {MessageId::kGisFeatureCannotConvert, {"{5}"}},
      {MessageId::kGisSurveySystemCannotConvert, {"{2}"}},
      {MessageId::kGisPointCannotPlace, {"{5}"}},
      {MessageId::kGisFeatureNotWritten, {"{2}"}},
      {MessageId::kGisLayerNotMade, {"{2}"}},
      {MessageId::kGisFieldNotMade, {"{2}"}},
      {MessageId::kGisDxfEntitiesNotMade, {"{1}"}},
      {MessageId::kGisDxfEntityNotWritten, {"{1}"}},
      {MessageId::kGisFormatPlacesBySystem, {"{2}"}},
      {MessageId::kGisCannotMake, {"{2}"}},
      {MessageId::kGisCannotFinish, {"{2}"}},
      {MessageId::kGisMadeInMemory, {"{2}"}},
      {MessageId::kGisSystemsDiffer, {"{4}"}},
  };
  for (int i = 0; i < kMessageIdCount; ++i) {
    const auto id = static_cast<MessageId>(i);
    const std::string english = MessageTemplate(id, Language::kEnglish);
    const std::string japanese = MessageTemplate(id, Language::kJapanese);
    EXPECT_FALSE(english.empty()) << i;
    EXPECT_TRUE(std::any_of(japanese.begin(), japanese.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        << i << ": " << japanese;
    std::set<std::string> expected = placeholders(english);
    if (const auto it = leftOut.find(id); it != leftOut.end()) {
      for (const std::string& p : it->second)
        EXPECT_EQ(expected.erase(p), 1u) << i << ": " << p << " is not in " << english;
    }
    EXPECT_EQ(placeholders(japanese), expected) << i << ": " << english << " / " << japanese;
  }
  // An error raised by id keeps the tool's English text, which the window does not show.
  const Error e(MessageId::kClosingFlagNotInteger, {"a.sim", "3", "x", "lot"});
  EXPECT_STREQ(e.what(), "a.sim:3: the closing flag \"x\" of parcel \"lot\" is not an integer");
  EXPECT_EQ(WindowText(e),
            "ファイル「a.sim」の 3 行目を読み込めません。何も読み込みませんでした。\r\n"
            "区画「lot」の閉合フラグ「x」が整数ではありません。");
  EXPECT_EQ(WindowText(std::runtime_error("as it is")), "as it is");
  // Jw_cad's settings in the Windows registry are named in the window's language.
  const Error registry(MessageId::kJwCadSettingMissing, {kRegistrySource, "Mesh", "IntrvlX"});
  EXPECT_STREQ(registry.what(), "the registry: Jw_cad setting Mesh\\IntrvlX: the value is missing");
  EXPECT_EQ(WindowText(registry), "レジストリ: Jw_cad の設定 Mesh\\IntrvlX の値がありません。");
  EXPECT_EQ(WindowText(std::bad_alloc()), "メモリが不足しています。");
  // The system's reason is never its English words: a looping link is said in Japanese,
  // and a reason without a Japanese text by its number.
  for (const int code : {ELOOP, ENXIO, EXDEV, 9999}) {
    const std::string text =
        WindowText(Error(MessageId::kFileCannotOpen, {"a.sim", std::strerror(code)}, code));
    EXPECT_EQ(text.find(std::strerror(code)), std::string::npos) << text;
  }
  // A failure met while a drawing is written reaches the window in Japanese through the
  // stream that caught it, and the tool's text is the one it always was.
  MemoryOutStream stream;
  stream.SetLastError(Error(MessageId::kCannotWrite, {"a.jww", "No space left on device"}, ENOSPC));
  const Error drawing(MessageId::kCannotWriteDrawing, {"a.jww", stream.LastError()},
                      stream.LastFailure());
  EXPECT_STREQ(drawing.what(),
               "a.jww: cannot write the drawing: a.jww: cannot write: No space left on device");
  EXPECT_EQ(WindowText(drawing),
            "図面ファイル「a.jww」を保存できません。\r\n"
            "ファイル「a.jww」に書き込めません。\r\nディスクの空き領域が不足しています。");
  stream.SetLastError(std::runtime_error("the stream is full"));
  EXPECT_EQ(stream.LastFailure(), nullptr);
  EXPECT_EQ(WindowText(Error(MessageId::kCannotBuildClipboardDrawing, {stream.LastError()},
                             stream.LastFailure())),
            "クリップボードに渡す図面を作れません。\r\nthe stream is full");
  // A Japanese text without a place for the reason still says the system's.
  EXPECT_EQ(WindowText(Error(MessageId::kGisCannotFinish,
                             {"GeoPackage", ": disk I/O error: File too large"}, EFBIG)),
            "GDAL で GeoPackage を書き終えられませんでした。\r\nファイルが大きすぎます。");
}

}  // namespace
}  // namespace kestrova
