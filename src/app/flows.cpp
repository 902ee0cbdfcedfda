#include "app/flows.h"

#include <algorithm>

#include "app/messages.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "common/utf8_path.h"
#include "coords/convert.h"
#include "coords/streamed_drawing.h"
#include "jww/header.h"
#include "jww/jww_file.h"

namespace kestrova {

const char kNoDataMessage[] = "データが、ありません。";
const char kNoMarkedPointsMessage[] =
    "印の付いた点がないため、図面に書き出すものがありません。\r\n"
    "図面には、No. の列に「*」の付いた点だけを書き出します。";

std::string CutNameQuestion(const std::string& typed, const std::string& written) {
  return "「" + typed + "」は最初の「.」より前を名前として、「" + written +
         "」に保存します。\r\nよろしいですか？";
}

std::string UnreadGridRowText(int32_t row) {
  const std::string r = std::to_string(row);
  return r + " 行目の Ｘ 座標が空欄のため、表はその前の行までを読み取りました。" + r +
         " 行目から後の入力や変更は使われず、それらの行にあった点は以前の値のまま残ります。"
         "\r\n点を書き出すには Ｘ 座標を入力してください。";
}

std::string UnreadGridRowBeforeAppendText(int32_t row) {
  const std::string r = std::to_string(row);
  return r + " 行目の Ｘ 座標が空欄のため、" + r +
         " 行目から後の入力や変更は、追加の読み込みで表示から消えます。\r\n"
         "このまま読み込みますか？ Ｘ 座標を入力するときは「キャンセル」を押してください。";
}

std::string CellsNotNumbersText(const CellsNotNumbers& cells, const std::string& text,
                                bool appending) {
  const char* column = cells.column == 1   ? "点番号"
                       : cells.column == 3 ? "Ｘ 座標"
                       : cells.column == 4 ? "Ｙ 座標"
                                           : "Ｚ 座標";
  std::string said = std::to_string(cells.row) + " 行目の" + column + "「" +
                     Cp932ToUtf8(std::string(CutToBytes(text, 40))) +
                     (appending ? "」は数値として読めないため、0 として表に入れてから読み込みます。"
                                : "」は数値として読めないため、0 として書き出します。");
  if (cells.count > 1) {
    said +=
        "\r\nほかに " + std::to_string(cells.count - 1) + " 個の数値でないセルも 0 になります。";
  }
  return said + (appending ? "\r\nこのまま読み込みますか？" : "\r\nこのまま書き出しますか？") +
         " 赤い文字のセルを直すときは「キャンセル」を押してください。";
}

bool DrawsSomething(const CoordinateData& data) {
  const PointTable& t = data.Table;
  for (int32_t r = 1; r <= t.PointCount; ++r) {
    if (t.Points[r].Marked == 1) return true;
  }
  return !data.Sima.SimaLines.empty() || !data.Sima.SimaTexts.empty();
}

std::string PointCodesNotSaved(const std::string& name, int32_t coded, uint32_t jwwVersion,
                               const OutputSettings& settings, Language language) {
  if (jwwVersion >= 300 || !settings.Point.OutFlg || coded <= 0) return {};
  // In Japanese the version as the options dialog lists it ("V2.30-2.51").
  std::string version = std::to_string(jwwVersion);
  const auto listed = std::find(kVersionValues.begin(), kVersionValues.end(), jwwVersion);
  if (language == Language::kJapanese && listed != kVersionValues.end()) {
    version = kVersionNames[static_cast<size_t>(listed - kVersionValues.begin())];
  }
  return MessageText(coded == 1 ? MessageId::kPointCodeNotSaved : MessageId::kPointCodesNotSaved,
                     {name, std::to_string(coded), version}, language);
}

int32_t CodedPoints(const CoordinateData& data, const OutputSettings& settings) {
  int32_t coded = 0;
  const PointTable& t = data.Table;
  for (int32_t r = 1; r <= t.PointCount; ++r) {
    const SurveyPoint& p = t.Points[r];
    coded += p.Marked == 1 && TakesPointCode(ParseInt(p.Mark).value_or(0), settings) ? 1 : 0;
  }
  return coded;
}

namespace {

// The drawing is written straight from the table; the document keeps the header and the
// entity count, as a converted and written document would.
void CountPlannedEntities(Workspace& ws, uint32_t count) {
  Clear(ws.Drawing);
  Init(ws.Drawing);
  ws.Drawing.EntityListCount = count;
  // As the entity writer has always left it: a drawing without a version is a 420 one.
  if (ws.Drawing.Header.Version == 0) ws.Drawing.Header.Version = 420;
}

DrawingPlan PlanFor(Workspace& ws, const std::array<JwwTextKind, 10>& textKinds, int baseRow) {
  DrawingPlan plan = PlanDrawing(ws.Coords, ws.Bounds, ws.Settings, textKinds, baseRow);
  CountPlannedEntities(ws, plan.EntityCount());
  return plan;
}

void PrepareJwwHeader(Workspace& ws, JwCadSettingsSource* source) {
  JwwHeader& h = ws.Drawing.Header;
  h.Version = ws.JwwVersion;
  InitHeaderDefaults(h, source, ws.JwCad);
  h.PaperSize = static_cast<uint32_t>(ws.Settings.WrtBAse.Size);
  h.WriteLayerGroup = ws.Settings.WrtBAse.Group;
  h.LayerGroups[ws.Settings.WrtBAse.Group & 15].GroupScale = ws.Settings.WrtBAse.Scale;
  ws.Drawing.InBlockDefinition = false;
}

DrawingPlan PlanJwwDrawing(Workspace& ws, int baseRow, JwCadSettingsSource* source) {
  if (ws.Coords.Table.PointCount == 0) throw Error(kNoDataMessage);
  PrepareJwwHeader(ws, source);
  return PlanFor(ws, ws.Drawing.Header.TextKinds, baseRow);
}

template <class Plan, class WriteEntities>
void WriteJwwDrawingTo(Workspace& ws, const Plan& plan, FileOutStream& out, const std::string& name,
                       ProgressMonitor* progress, const WriteEntities& writeEntities) {
  JwwDocument& doc = ws.Drawing;
  const uint32_t version = doc.Header.Version;
  if (!WriteJwwHeader(out, doc.Header, version, doc.EntityListCount, doc.EntityStreamPos) ||
      !writeEntities(plan, out, version, progress)) {
    throw Error(MessageId::kCannotWriteDrawing, {name, out.LastError()}, out.LastFailure());
  }
  out.Commit();
}

}  // namespace

void SaveJwwFile(Workspace& ws, const std::filesystem::path& path, int baseRow,
                 JwCadSettingsSource* source, ProgressMonitor* progress) {
  const DrawingPlan plan = PlanJwwDrawing(ws, baseRow, source);
  FileOutStream out(path);
  WriteJwwDrawingTo(ws, plan, out, path.string(), progress, WritePlannedEntities);
  ws.Settings.Folder.name = AbsolutePath(path).parent_path().string();
}

void SaveJwwFile(Workspace& ws, std::unique_ptr<AtomicFileWriter> file, int baseRow,
                 JwCadSettingsSource* source, ProgressMonitor* progress) {
  const DrawingPlan plan = PlanJwwDrawing(ws, baseRow, source);
  const std::string name = file->Target().string();
  FileOutStream out(std::move(file));
  WriteJwwDrawingTo(ws, plan, out, name, progress, WritePlannedEntities);
}

void SaveStreamedJwwFile(Workspace& ws, const StreamedDrawingData& data, bool simaLoaded,
                         std::unique_ptr<AtomicFileWriter> file, JwCadSettingsSource* source,
                         ProgressMonitor* progress) {
  if (data.PointCount() == 0) throw Error(kNoDataMessage);
  PrepareJwwHeader(ws, source);
  const StreamedDrawingPlan plan =
      PlanStreamedDrawing(data, simaLoaded, ws.Settings, ws.Drawing.Header.TextKinds);
  CountPlannedEntities(ws, plan.EntityCount());
  const std::string name = file->Target().string();
  FileOutStream out(std::move(file));
  WriteJwwDrawingTo(ws, plan, out, name, progress, WriteStreamedEntities);
}

namespace {

// The text sizes of a transfer: the header's, where Jw_cad's text settings or a saved
// drawing gave them. Kinds still without a size take a drawing file's defaults, or their
// texts would be invisible in Jw_cad.
std::array<JwwTextKind, 10> TransferTextKinds(const JwwHeader& header) {
  JwwHeader defaults;
  SetFixedHeaderValues(defaults);
  std::array<JwwTextKind, 10> kinds = header.TextKinds;
  for (size_t k = 0; k < kinds.size(); ++k) {
    if (kinds[k].Width == 0.0 && kinds[k].Height == 0.0 && kinds[k].Spacing == 0.0) {
      kinds[k] = defaults.TextKinds[k];
    }
  }
  return kinds;
}

}  // namespace

void TransferToJwCad(Workspace& ws, int baseRow, ClipboardSink& sink, ProgressMonitor* progress) {
  if (ws.Coords.Table.PointCount == 0) throw Error(kNoDataMessage);
  ws.Drawing.Header.Version = ws.JwwVersion;
  const DrawingPlan plan = PlanFor(ws, TransferTextKinds(ws.Drawing.Header), baseRow);
  TransferDrawing(ws.Drawing, ws.Settings.WrtBAse.Scale, sink, [&](OutStream& stream) {
    return WritePlannedEntities(plan, stream, kClipboardVersion, progress);
  });
}

void TransferStreamedToJwCad(Workspace& ws, const StreamedDrawingData& data, bool simaLoaded,
                             ClipboardSink& sink, ProgressMonitor* progress) {
  if (data.PointCount() == 0) throw Error(kNoDataMessage);
  ws.Drawing.Header.Version = ws.JwwVersion;
  const StreamedDrawingPlan plan =
      PlanStreamedDrawing(data, simaLoaded, ws.Settings, TransferTextKinds(ws.Drawing.Header));
  CountPlannedEntities(ws, plan.EntityCount());
  TransferDrawing(ws.Drawing, ws.Settings.WrtBAse.Scale, sink, [&](OutStream& stream) {
    return WriteStreamedEntities(plan, stream, kClipboardVersion, progress);
  });
}

}  // namespace kestrova
