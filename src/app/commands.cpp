#include "app/commands.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <optional>
#include <string_view>

#include "app/manual.h"
#include "app/messages.h"
#include "app/settings_file.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "common/utf8_path.h"
#include "coords/cell_grid.h"
#include "coords/coordinate_file.h"

namespace kestrova {

namespace {

namespace fs = std::filesystem;

using Kind = Prompts::Kind;
using Buttons = Prompts::Buttons;
using Answer = Prompts::Answer;

const char kNewQuestion[] = "現在座標データがありますが、削除しますか？";
const char kLoadQuestion[] =
    "　 ※ 現在読込済の座標データがあります。 ※　　　　　　\r\n"
    "――――――――――――――――――――――\r\n"
    "\r\n"
    "　　・ 追加して読み込む ＞ ［はい(Y)］\r\n"
    "\r\n"
    "　　・ 新規に読み込む　 ＞ ［いいえ(N)］\r\n"
    "\r\n"
    "　　・ 読込を中止する　 ＞ ［キャンセル］\r\n"
    "\r\n";
const char kLoadFilter[] =
    "座標ﾃﾞｰﾀ(*.Zhy,*.sim)|*.Zhy;*.Sim|APA形式ﾃﾞｰﾀ(*.APA)|*.apa|csvﾃﾞｰﾀ(*.CSV)|*.csv|"
    "すべてのﾌｧｲﾙ(*.*)|*.*";
const char kNoPointsQuestion[] = "座標データがありません。";
const char kSaveFilter[] =
    "座標ﾃﾞｰﾀ(*.Zhy)|*.Zhy|SIMA形式ﾃﾞｰﾀ(*.SIM)|*.sim|APA形式ﾃﾞｰﾀ(*.APA)|*.apa|"
    "csvﾃﾞｰﾀ(*.CVS)|*.csv|すべてのﾌｧｲﾙ(*.*)|*.*";
const char kOverwriteQuestion[] = "ファイルは既に存在します。上書きしますか？　";
const char kJwwFilter[] = "Jww形式ﾃﾞｰﾀ(*.jww)|*.jww|すべてのﾌｧｲﾙ(*.*)|*.*";
const char kQuitQuestion[] = "　終了しますか？　　\r\n";
const char kUnsavedQuestion[] =
    "入力・変更した座標データが保存されていません。\r\n保存せずに終了しますか？";
const char kSiteNameCaption[] = " 現場名入力";
const char kSiteNamePrompt[] = "現場名？";
const char kNoFieldName[] = " no Field Name ";
// What the progress window says during long work.
const char kLoadingText[] = "座標データを読み込んでいます...";
const char kJwwSavingText[] = "Jww形式ﾃﾞｰﾀを保存しています...";
const char kTransferringText[] = "Jw_win に転送しています...";

// Message boxes must not let anything escape either: a command is often on its way out
// because something already went wrong.
void Tell(CommandContext& ctx, Kind kind, const std::string& text) {
  try {
    ctx.prompts.Message(kind, Buttons::kOk, text);
  } catch (...) {
  }
}

void ShowError(CommandContext& ctx, const std::string& text) {
  Tell(ctx, Kind::kError, text);
}

// Runs a command body; whatever it throws is shown and goes no further.
template <class Body>
void Guarded(CommandContext& ctx, Body&& body) {
  try {
    body();
  } catch (const Cancelled&) {
    // The user stopped it; nothing was changed and there is nothing to tell.
  } catch (const std::exception& e) {
    ShowError(ctx, WindowText(e));
  } catch (...) {
    ShowError(ctx, "予期しないエラーで処理を中止しました。");
  }
}

std::string PathText(const fs::path& path) {
  return path.string();
}

// The folder of a file, ending in the path delimiter: the start folder of the next
// file dialog.
std::string FolderOf(const fs::path& file) {
  return PathText(AbsolutePath(file).parent_path() / "");
}

}  // namespace

std::string WindowTitle(const fs::path& file) {
  const std::string title = " Kestrova";
  if (file.filename().empty()) return title;
  const std::u8string name = file.filename().u8string();
  return title + " - " + std::string(name.begin(), name.end());
}

// What the points read back from the grid lack: rows after an empty X cell, and text in
// number cells, which is taken for 0.
bool ConfirmUnreadRows(CommandContext& ctx) {
  const CellGrid& grid = ctx.ws.Grid;
  if (const int32_t row = UnreadGridRow(grid, ctx.ws.Coords.Table); row > 0)
    Tell(ctx, Kind::kWarning, UnreadGridRowText(row));
  // A point written at 0 lies kilometres from its place: the user may stop and mend it.
  if (const CellsNotNumbers cells = FindCellsNotNumbers(grid); cells.count > 0) {
    const std::string& text = grid.Rows[static_cast<size_t>(cells.row)][cells.column];
    return ctx.prompts.Message(Kind::kWarning, Buttons::kOkCancel,
                               CellsNotNumbersText(cells, text)) == Answer::kOk;
  }
  return true;
}

namespace {

// A file dialog (Wine's) adds the filter's extension to a name that ends in it in other
// letters: "t7.zhy" typed comes back as "t7.zhy.Zhy". The name typed is taken. Other
// repeats ("R6.12.12") are names, whose cut the user is asked about.
fs::path WithoutAddedExtension(const fs::path& chosen, std::string_view extension) {
  const std::string saved = AsciiLower(extension);
  if (AsciiLower(chosen.extension().string()) == saved &&
      AsciiLower(chosen.stem().extension().string()) == saved) {
    return chosen.parent_path() / chosen.stem();
  }
  return chosen;
}

}  // namespace

// By its absolute path: the program's current folder never moves.
std::optional<fs::path> SaveTarget(CommandContext& ctx, const fs::path& typed,
                                   const char* extension) {
  const fs::path chosen = WithoutAddedExtension(typed, extension);
  fs::path name = FileStem(chosen);
  if (name.empty()) {
    Tell(ctx, Kind::kWarning,
         "「" + PathText(chosen.filename()) +
             "」からは保存するファイルの名前が作れません。ファイル名を入力してください。");
    return std::nullopt;
  }
  name += extension;
  // Cut at the first ".", a dated name (R6.12.10 境界) would lose all but its start, and
  // could replace another site's file: the user says whether to.
  if (FileStem(chosen) != chosen.stem() &&
      ctx.prompts.Message(Kind::kConfirmation, Buttons::kOkCancel,
                          CutNameQuestion(PathText(chosen.filename()), PathText(name))) !=
          Answer::kOk) {
    return std::nullopt;
  }
  return AbsolutePath(chosen).parent_path() / name;
}

namespace {

// A number typed with the input method still on comes in full-width forms, which the
// read-back takes for no number, 0. In the number and coordinate cells they become the
// ASCII forms where the cell is a number with them, and so in the mark cell where it is a
// whole number: the drawing takes that for the point's code (１０５, code 5 turned). Other
// text is kept as typed.
std::string FoldWideNumber(const std::string& utf8, int column) {
  constexpr int kMarkColumn = 6;
  if (!IsNumberColumn(column) && column != kMarkColumn) return utf8;
  std::string folded = NarrowNumberForms(utf8);
  if (folded == utf8) return utf8;
  const bool number =
      column == kMarkColumn ? ParseInt(folded).has_value() : ReadsAsNumber(column, folded);
  return number ? folded : utf8;
}

std::string CountText(int32_t count) {
  return " " + std::to_string(count) + " ";
}

void UpdateMathAxes(Workspace& ws) {
  ws.View.MathAxes = !(ws.Coords.Sima.SimaLoaded || ws.Settings.Coordinate.Flg);
}

// True when target may be written: it does not exist, or the user agreed to replace it.
// The question names the file that will be written, which need not be the name typed.
bool MayWrite(CommandContext& ctx, const fs::path& target) {
  std::error_code ec;
  if (!fs::exists(target, ec)) return true;
  // Nothing can replace a folder: no point asking whether to.
  if (fs::is_directory(target, ec)) {
    throw Error(PathText(target) + "\r\nフォルダと同じ名前のファイルは保存できません。");
  }
  return ctx.prompts.Message(Kind::kWarning, Buttons::kOkCancel,
                             PathText(target) + "\r\n" + kOverwriteQuestion) == Answer::kOk;
}

// What the user should hear about a file that loaded: text converted from Unicode,
// fields that were not numbers, blocks without their closing record, point numbers an
// earlier file already had. Empty when there is nothing to say.
std::string ReportText(const fs::path& file, const LoadReport& report) {
  const std::string path = PathText(file);
  std::string text;
  const auto line = [&](MessageId id, std::vector<std::string> args) {
    args.insert(args.begin(), path);
    text += "\r\n" + MessageText(id, args, Language::kJapanese);
  };
  if (report.convertedFromUtf8 || report.replacedCharacters > 0) {
    line(MessageId::kConvertedFromUnicode, {});
  }
  if (report.linesNotUtf8 > 0) {
    line(MessageId::kLinesNotUtf8,
         {std::to_string(report.firstLineNotUtf8), std::to_string(report.linesNotUtf8)});
  }
  if (report.utf8LinesReadAsSjis > 0) {
    line(MessageId::kUtf8ReadAsSjis, {std::to_string(report.firstUtf8LineReadAsSjis),
                                      std::to_string(report.utf8LinesReadAsSjis)});
  }
  if (report.replacedCharacters > 0) {
    line(MessageId::kReplacedCharacters, {std::to_string(report.replacedCharacters)});
  }
  if (report.notANumberFields > 0) {
    line(MessageId::kNotANumberFields,
         {std::to_string(report.firstNotANumberLine), std::to_string(report.notANumberFields)});
  }
  if (report.misspeltRecords > 0) {
    line(report.misspeltApa ? MessageId::kMisspeltApaRecords : MessageId::kMisspeltRecords,
         {std::to_string(report.firstMisspeltRecord), std::to_string(report.misspeltRecords),
          Cp932ToUtf8(report.misspeltCode)});
  }
  if (report.apaPointsAfterEnd > 0) {
    line(MessageId::kApaPointsAfterEnd,
         {std::to_string(report.apaEndLine), std::to_string(report.apaPointsAfterEnd)});
  }
  if (report.commentsLikeRows > 0) {
    line(MessageId::kCommentsLikeRows,
         {std::to_string(report.firstCommentLikeRow), std::to_string(report.commentsLikeRows)});
  }
  if (report.unsplitLines > 0) {
    std::vector<std::string> args = UnsplitLinesArgs(report, path);
    args.erase(args.begin());
    line(UnsplitLinesId(report), std::move(args));
  }
  if (report.textsCut > 0) {
    line(MessageId::kTextsCut,
         {std::to_string(report.firstTextCutLine), std::to_string(report.textsCut)});
  }
  constexpr size_t kBlocksListed = 5;
  for (size_t i = 0; i < report.unclosedBlocks.size() && i < kBlocksListed; ++i) {
    const UnclosedBlock& b = report.unclosedBlocks[i];
    line(b.Polyline ? MessageId::kUnclosedPolyline : MessageId::kUnclosedParcel,
         {std::to_string(b.Line)});
  }
  if (report.unclosedBlocks.size() > kBlocksListed) {
    line(MessageId::kMoreUnclosedBlocks,
         {std::to_string(report.unclosedBlocks.size() - kBlocksListed)});
  }
  if (report.blocksCutShort > 0) {
    line(MessageId::kBlocksCutShort, {std::to_string(report.blocksCutShort), report.firstCutShort});
  }
  if (report.trianglesLeftOut > 0) {
    line(MessageId::kTrianglesLeftOut, {std::to_string(report.trianglesLeftOut)});
  }
  if (report.repeatedNumbers > 0) {
    line(MessageId::kRepeatedNumbers, {std::to_string(report.repeatedNumbers)});
  }
  if (report.repeatedWithin > 0) {
    line(MessageId::kRepeatedWithinMany,
         {std::to_string(report.repeatedWithin), std::to_string(report.firstRepeatedWithin)});
  }
  return text.empty() ? text : path + text;
}

// After points were loaded: grid, status bar, bounds, axes and plot show the table.
void ShowLoadedTable(CommandContext& ctx, bool replaced, const fs::path& lastFile) {
  Workspace& ws = ctx.ws;
  if (replaced) {
    // The rows, picks and view of the previous table mean nothing for the new one.
    CoordinateData none;
    ClearPointTable(none.Table, none.Sima, ws.Grid);
    ws.View = PlotViewState{};
    ws.Unsaved = ws.SiteNameUnsaved = false;
  }
  LinkGridToPoints(ws.Coords.Table, ws.Grid);
  ctx.view.SetStatusText(0, CountText(ws.Coords.Table.PointCount));
  ctx.view.SetStatusText(2, ws.Coords.Sima.SiteName.empty()
                                ? kNoFieldName
                                : " " + Cp932ToUtf8(ws.Coords.Sima.SiteName));
  ComputeDataBounds(ws.Coords.Table, ws.Bounds);
  UpdateMathAxes(ws);
  ctx.view.FitPlot();
  ctx.view.GridChanged();
  ctx.view.SetTitle(WindowTitle(lastFile));
  ws.Settings.Folder.name = FolderOf(lastFile);
}

// One of several equal parts of a piece of work: its own 0..1 becomes its share of the
// whole, so that the bar never runs back between files.
class PartOfWork : public ProgressMonitor {
 public:
  PartOfWork(ProgressMonitor& whole, size_t part, size_t parts)
      : whole_(whole), part_(static_cast<double>(part)), parts_(static_cast<double>(parts)) {}
  bool Continue(double fraction) override { return whole_.Continue((part_ + fraction) / parts_); }

 private:
  ProgressMonitor& whole_;
  double part_;
  double parts_;
};

// Loads the files one after the other, the first one replacing or appending as the
// load question decided, the others appending. Each file is all or nothing: a file
// that cannot be read changes nothing and stops the rest, which its error names; what
// earlier files brought stays and is shown.
void LoadPaths(CommandContext& ctx, const std::vector<fs::path>& files) {
  Workspace& ws = ctx.ws;
  std::vector<std::string> notices;
  std::optional<std::string> failure;
  bool replaced = false;
  std::optional<fs::path> lastLoaded;
  size_t i = 0;
  {
    const auto work = ctx.prompts.LongWork(kLoadingText);
    for (; i < files.size(); ++i) {
      const fs::path file = AbsolutePath(files[i]);
      const bool append = lastLoaded ? true : ws.AppendOnLoad;
      PartOfWork progress(*work, i, files.size());
      try {
        const bool loaded = ctx.loadFile ? ctx.loadFile(file, ws.Coords, append, notices, &progress)
                                         : LoadCoordinateFileWithNotices(file, ws.Coords, append,
                                                                         notices, &progress);
        if (!loaded) {
          failure =
              MessageText(MessageId::kFewerThanTwoLines, {PathText(file)}, Language::kJapanese);
          break;
        }
      } catch (const Cancelled&) {
        break;  // this file changed nothing; what earlier files brought stays
      } catch (const std::exception& e) {
        failure = WindowText(e);
        break;
      }
      if (!lastLoaded && !append) replaced = true;
      lastLoaded = file;
    }
    if (lastLoaded) ShowLoadedTable(ctx, replaced, *lastLoaded);
  }
  if (failure && i + 1 < files.size()) {
    std::string rest;
    for (size_t k = i + 1; k < files.size(); ++k)
      rest += (rest.empty() ? "" : "、") + PathText(files[k].filename());
    *failure += "\r\n" + MessageText(MessageId::kLaterFilesNotLoaded, {rest}, Language::kJapanese);
  }
  if (failure) ShowError(ctx, *failure);
  for (const std::string& notice : notices)
    Tell(ctx, Kind::kInformation, notice);
}

// The question before a load into a filled table. False: the user cancelled.
bool AskAppendOrReplace(CommandContext& ctx) {
  if (ctx.ws.Coords.Table.PointCount <= 0) return true;
  switch (ctx.prompts.Message(Kind::kInformation, Buttons::kYesNoCancel, kLoadQuestion)) {
    case Answer::kYes: {
      // Appended to, the grid is filled again from the points: rows after an empty X
      // cell would go, and a cell that holds no number would show the 0 it was read
      // as, which one it was lost.
      const CellGrid& grid = ctx.ws.Grid;
      if (const int32_t row = UnreadGridRow(grid, ctx.ws.Coords.Table);
          row > 0 && ctx.prompts.Message(Kind::kWarning, Buttons::kOkCancel,
                                         UnreadGridRowBeforeAppendText(row)) != Answer::kOk) {
        return false;
      }
      if (const CellsNotNumbers cells = FindCellsNotNumbers(grid); cells.count > 0) {
        const std::string& text = grid.Rows[static_cast<size_t>(cells.row)][cells.column];
        if (ctx.prompts.Message(Kind::kWarning, Buttons::kOkCancel,
                                CellsNotNumbersText(cells, text, true)) != Answer::kOk) {
          return false;
        }
      }
      ctx.ws.AppendOnLoad = true;
      return true;
    }
    case Answer::kNo:
      ctx.ws.AppendOnLoad = false;
      return true;
    default:
      return false;
  }
}

}  // namespace

// The grid's edits become the points before anything is written from them or a load
// decides between appending and replacing. Points typed into the grid are counted,
// bounded and plotted from then on; the view is fitted when it has never been or new
// points came, so that they are on screen.
void BringPointsUpToDate(CommandContext& ctx) {
  Workspace& ws = ctx.ws;
  ctx.view.CommitGridEdit();
  bool moved = false;
  const int32_t added = SyncGridToPoints(ws.Grid, ws.Coords.Table, &moved);
  if (added > 0) ctx.view.GridChanged();
  // Parcels and polylines follow their corners.
  if (moved) RedrawSimaBlocks(ws.Coords);
  ctx.view.SetStatusText(0, CountText(ws.Coords.Table.PointCount));
  ComputeDataBounds(ws.Coords.Table, ws.Bounds);
  if (ws.Coords.Table.PointCount < 1) return;
  if (added > 0 || !ViewUsable(ws.View)) {
    UpdateMathAxes(ws);
    ctx.view.FitPlot();
  } else {
    ctx.view.RepaintPlot();
  }
}

bool LoadCoordinateFileWithNotices(const std::filesystem::path& file, CoordinateData& data,
                                   bool append, std::vector<std::string>& notices,
                                   ProgressMonitor* progress) {
  LoadReport report;
  if (!LoadCoordinateFile(file, data, append, &report, progress)) return false;
  std::string said = ReportText(file, report);
  if (!said.empty()) notices.push_back(std::move(said));
  return true;
}

std::string LoadNoticeText(const std::filesystem::path& file, const LoadReport& report) {
  return ReportText(file, report);
}

StartUpProblems StartUp(CommandContext& ctx) {
  StartUpProblems problems;
  Workspace& ws = ctx.ws;
  try {
    ClearPointTable(ws.Coords.Table, ws.Coords.Sima, ws.Grid);
    ws.Drawing.EntityListCount = 0;
  } catch (const std::exception& e) {
    problems.errors.push_back(WindowText(e));
  }
  // Jw_cad's settings only refine the drawing; without them the program works on, and
  // the rest of the start-up must run so that closing writes real settings back.
  if (ctx.jwcadSource) {
    try {
      ReadJwCadSettings(*ctx.jwcadSource, ws.Drawing.Header, ws.JwCad);
    } catch (const std::exception& e) {
      problems.warnings.push_back(std::string("Jw_cad の設定を読み込めませんでした。\r\n") +
                                  WindowText(e));
    }
  }
  ws.AppendOnLoad = false;
  ws.Settings.WrtBAse.mmFlg = false;
  ws.JwwVersion = 420;
  const std::string programFolder = PathText(ctx.programFolder / "");
  try {
    std::vector<std::string> adjusted;
    std::vector<UnreadSetting> unread;
    ws.Settings = ReadSettingsFile(ctx.settingsFile, programFolder, &adjusted, &unread);
    // Values that are no number are told in one box, not a box each.
    std::string notNumbers;
    for (const std::string& warning :
         UnreadSettingWarnings(unread, PathText(ctx.settingsFile), Language::kJapanese))
      notNumbers += (notNumbers.empty() ? "" : "\r\n") + warning;
    if (!notNumbers.empty()) problems.warnings.push_back(std::move(notNumbers));
    if (!adjusted.empty()) {
      std::string text = "設定ファイル「" + PathText(ctx.settingsFile) +
                         "」の次の値は設定できる範囲の外にあるため、最も近い値で読み込みました。";
      for (const std::string& value : adjusted)
        text += "\r\n" + value;
      problems.warnings.push_back(std::move(text));
    }
  } catch (const std::exception& e) {
    ws.Settings = OutputSettings{};
    ws.Settings.Folder.name = programFolder;
    problems.errors.push_back(
        std::string("設定ファイルを読み込めませんでした。既定の設定で始めます。\r\n") +
        WindowText(e));
  }
  ws.View = PlotViewState{};
  ws.View.YSign = -1.0;
  ws.GridEditable = true;
  ws.Options = OptionsFormFromSettings(ws.Settings, ws.JwwVersion);
  try {
    ctx.view.SetStatusText(0, CountText(ws.Coords.Table.PointCount));
    ctx.view.GridChanged();
    ctx.view.FitPlot();
  } catch (const std::exception& e) {
    problems.errors.push_back(WindowText(e));
  }
  return problems;
}

bool MayClose(CommandContext& ctx) {
  bool close = true;
  Guarded(ctx, [&] {
    ctx.view.CommitGridEdit();
    close =
        !(ctx.ws.Unsaved || ctx.ws.SiteNameUnsaved) ||
        ctx.prompts.Message(Kind::kWarning, Buttons::kOkCancel, kUnsavedQuestion) == Answer::kOk;
  });
  return close;
}

void ShutDown(CommandContext& ctx) {
  try {
    WriteSettingsFile(ctx.ws.Settings, ctx.settingsFile);
  } catch (const std::exception& e) {
    ShowError(ctx, std::string("設定を保存できませんでした。\r\n") + WindowText(e));
  }
}

void NewTableCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    Workspace& ws = ctx.ws;
    ctx.view.CommitGridEdit();
    // Rows typed into an empty table are points not yet read back, and worth a question.
    if (ws.Coords.Table.PointCount == 0 && !GridHoldsText(ws.Grid)) return;
    if (ctx.prompts.Message(Kind::kConfirmation, Buttons::kOkCancel, kNewQuestion) != Answer::kOk) {
      return;
    }
    ClearPointTable(ws.Coords.Table, ws.Coords.Sima, ws.Grid);
    ws.View = PlotViewState{};
    ws.Unsaved = ws.SiteNameUnsaved = false;
    ctx.view.GridChanged();
    ctx.view.FitPlot();
    ctx.view.SetTitle(WindowTitle({}));
  });
}

void LoadCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    // An appending load refills the grid from the points, and typed points decide
    // whether there is anything to replace.
    BringPointsUpToDate(ctx);
    if (!AskAppendOrReplace(ctx)) return;
    std::string filter = kLoadFilter;
    if (!ctx.moreLoadFilters.empty()) filter += "|" + ctx.moreLoadFilters;
    const auto choice = ctx.prompts.OpenFile(filter, Utf8Path(ctx.ws.Settings.Folder.name));
    if (!choice) return;
    LoadPaths(ctx, {choice->path});
  });
}

void LoadFilesCommand(CommandContext& ctx, const std::vector<std::filesystem::path>& files) {
  Guarded(ctx, [&] {
    if (files.empty()) return;
    BringPointsUpToDate(ctx);
    if (!AskAppendOrReplace(ctx)) return;
    LoadPaths(ctx, files);
  });
}

void SaveCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    Workspace& ws = ctx.ws;
    BringPointsUpToDate(ctx);
    if (!ConfirmUnreadRows(ctx)) return;
    if (ws.Coords.Table.PointCount < 1 &&
        ctx.prompts.Message(Kind::kConfirmation, Buttons::kOkCancel, kNoPointsQuestion) !=
            Answer::kOk) {
      return;
    }
    const auto choice = ctx.prompts.SaveFile(kSaveFilter, Utf8Path(ws.Settings.Folder.name));
    if (!choice) return;
    const CoordinateFormat format = CoordinateFormatFromFilterIndex(choice->filterIndex);
    const auto target = SaveTarget(ctx, choice->path, CoordinateFormatExtension(format));
    if (!target || !MayWrite(ctx, *target)) return;
    SaveReport report;
    {
      const std::unique_ptr<Prompts::BusyGuard> busy = ctx.prompts.Busy();
      ws.Settings.Folder.name = FolderOf(*target);
      report = SaveCoordinateFile(*target, ws.Coords, format);
      ctx.view.SetTitle(WindowTitle(*target));
      // Rows after an empty X cell were not written, nor is the site name but in SIMA.
      // Nor is what a red cell holds: written as 0, it is still to be mended.
      ws.Unsaved =
          UnreadGridRow(ws.Grid, ws.Coords.Table) > 0 || FindCellsNotNumbers(ws.Grid).count > 0;
      if (format == CoordinateFormat::kSima) ws.SiteNameUnsaved = false;
    }
    // The parcels, marks and remarks stay in the table; the file just written lacks
    // them, which the user must know before taking it for the whole site.
    std::string notSaved;
    for (const std::string& line : SaveWarnings(report, PathText(*target), Language::kJapanese))
      notSaved += (notSaved.empty() ? "" : "\r\n") + line;
    if (!notSaved.empty()) Tell(ctx, Kind::kInformation, notSaved);
  });
}

void JwwSaveCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    Workspace& ws = ctx.ws;
    BringPointsUpToDate(ctx);
    if (!ConfirmUnreadRows(ctx)) return;
    if (ws.Coords.Table.PointCount == 0) {
      Tell(ctx, Kind::kInformation, kNoDataMessage);
      return;
    }
    // An empty drawing would replace a file the user may take for the site.
    if (!DrawsSomething(ws.Coords)) {
      Tell(ctx, Kind::kInformation, kNoMarkedPointsMessage);
      return;
    }
    const auto choice = ctx.prompts.SaveFile(kJwwFilter, Utf8Path(ws.Settings.Folder.name));
    if (!choice) {
      ctx.view.RepaintPlot();
      return;
    }
    // Whatever filter was chosen, a drawing save writes a drawing file.
    const auto target = SaveTarget(ctx, choice->path, ".jww");
    if (!target || !MayWrite(ctx, *target)) return;
    {
      const auto work = ctx.prompts.LongWork(kJwwSavingText);
      SaveJwwFile(ws, *target, ws.Grid.CurrentRow, ctx.jwcadSource, work.get());
    }
    ws.Settings.Folder.name = FolderOf(*target);
    ctx.view.RepaintPlot();
    // The drawing lacks what its version cannot hold, as a coordinate save says.
    const std::string lost =
        PointCodesNotSaved(PathText(*target), CodedPoints(ws.Coords, ws.Settings), ws.JwwVersion,
                           ws.Settings, Language::kJapanese);
    if (!lost.empty()) Tell(ctx, Kind::kInformation, lost);
  });
}

void TransferCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    Workspace& ws = ctx.ws;
    BringPointsUpToDate(ctx);
    if (!ConfirmUnreadRows(ctx)) return;
    if (ws.Coords.Table.PointCount == 0) {
      Tell(ctx, Kind::kInformation, kNoDataMessage);
      return;
    }
    if (!DrawsSomething(ws.Coords)) {
      Tell(ctx, Kind::kInformation, kNoMarkedPointsMessage);
      return;
    }
    std::optional<std::string> failure;
    {
      const auto work = ctx.prompts.LongWork(kTransferringText);
      try {
        TransferToJwCad(ws, ws.Grid.CurrentRow, ctx.clipboard, work.get());
      } catch (const Cancelled&) {
        return;  // stopped before the clipboard was touched
      } catch (const std::exception& e) {
        failure = WindowText(e);
      }
    }
    if (failure) {
      ShowError(ctx,
                "Jw_win に転送できませんでした。クリップボードは元のままです。\r\n" + *failure);
    }
  });
}

void OptionsCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    Workspace& ws = ctx.ws;
    const OutputSettings settingsBefore = ws.Settings;
    const OptionsForm formBefore = ws.Options;
    if (!ctx.prompts.EditOptions(ws.Options)) {
      // Not OK: what the check boxes' reactions changed while the dialog was open goes
      // back too, and the next opening shows the settings in force.
      ws.Settings = settingsBefore;
      ws.Options = formBefore;
      return;
    }
    const std::vector<std::string> refused =
        ApplyOptionsForm(ws.Options, ws.Settings, ws.JwwVersion);
    ShowStoredOptions(ws.Options, ws.Settings, ws.JwwVersion);
    const bool mathAxes = ws.View.MathAxes;
    UpdateMathAxes(ws);
    // The view's window and corners are in the old axes: only a new fit frames the data.
    if (ws.Coords.Table.PointCount > 0) {
      if (ws.View.MathAxes != mathAxes) {
        ctx.view.FitPlot();
      } else {
        ctx.view.RepaintPlot();
      }
    }
    if (!refused.empty()) {
      std::string text;
      for (const std::string& line : refused)
        text += (text.empty() ? "" : "\r\n") + line;
      Tell(ctx, Kind::kWarning, text);
    }
  });
}

void PrinterSetupCommand(CommandContext& ctx) {
  Guarded(ctx, [&] { ctx.prompts.PrinterSetup(); });
}

void HelpCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    std::error_code ec;
    if (ctx.manualFile.empty() || !fs::is_regular_file(ctx.manualFile, ec)) {
      const std::vector<fs::path> looked = ctx.manualFile.empty()
                                               ? ManualCandidates(ctx.programFolder)
                                               : std::vector<fs::path>{ctx.manualFile};
      std::string text = "操作説明書（ヘルプ）が見つかりません。次の場所を探しました：";
      for (const fs::path& place : looked)
        text += "\r\n" + PathText(place);
      Tell(ctx, Kind::kWarning, text);
      return;
    }
    if (!ctx.view.OpenManual(ctx.manualFile)) {
      Tell(ctx, Kind::kWarning,
           "操作説明書をブラウザで開けませんでした。次のファイルを直接開いてください：\r\n" +
               PathText(ctx.manualFile));
    }
  });
}

void VersionCommand(CommandContext& ctx) {
  Guarded(ctx, [&] { ctx.prompts.ShowVersion(); });
}

void QuitCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    // With unsaved points, closing asks its own question, which says more.
    ctx.view.CommitGridEdit();
    if (ctx.ws.Unsaved || ctx.ws.SiteNameUnsaved ||
        ctx.prompts.Message(Kind::kPlain, Buttons::kYesNo, kQuitQuestion) == Answer::kYes) {
      ctx.view.Close();
    }
  });
}

void SiteNameCommand(CommandContext& ctx) {
  Guarded(ctx, [&] {
    const auto typed = ctx.prompts.InputText(kSiteNameCaption, kSiteNamePrompt,
                                             Cp932ToUtf8(ctx.ws.Coords.Sima.SiteName));
    if (!typed) return;
    Cp932Text name = Utf8ToCp932(*typed);
    if (name.text != ctx.ws.Coords.Sima.SiteName) ctx.ws.SiteNameUnsaved = true;
    ctx.ws.Coords.Sima.SiteName = std::move(name.text);
    ctx.view.SetStatusText(2, " " + Cp932ToUtf8(ctx.ws.Coords.Sima.SiteName));
    if (name.replaced > 0) {
      Tell(ctx, Kind::kInformation,
           "現場名の " + std::to_string(name.replaced) +
               " 文字は Shift_JIS で表せないため「?」に置き換えました。");
    }
  });
}

bool HomeKeyCommand(CommandContext& ctx) {
  bool handled = false;
  Guarded(ctx, [&] {
    BringPointsUpToDate(ctx);
    if (ctx.ws.Coords.Table.PointCount < 1) return;
    ctx.view.HomePlot();
    handled = true;
  });
  return handled;
}

void GridCellEdited(CommandContext& ctx, int row, int column, const std::string& utf8) {
  Guarded(ctx, [&] {
    CellGrid& grid = ctx.ws.Grid;
    if (row < 1 || row >= grid.RowCount() || column < 1 || column >= CellGrid::kColumns) return;
    // An editor closed on the text it was opened with changes nothing: the cell keeps
    // its bytes (a full-width mark, one of code page 932's twin characters) and the row
    // stays linked to its point.
    const CellGrid& shown = grid;
    if (Cp932ToUtf8(shown.Rows[static_cast<size_t>(row)][static_cast<size_t>(column)]) == utf8) {
      return;
    }
    Cp932Text text = Utf8ToCp932(FoldWideNumber(utf8, column));
    std::string& cell = grid.Rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
    if (text.text != cell) ctx.ws.Unsaved = true;
    cell = std::move(text.text);
    if (text.replaced > 0 && !ctx.ws.ReplacedTextNoticeShown) {
      ctx.ws.ReplacedTextNoticeShown = true;
      Tell(ctx, Kind::kInformation,
           "Shift_JIS で表せない文字は「?」として保存されます。セルには保存される内容を表示して"
           "います。");
    }
  });
}

}  // namespace kestrova
