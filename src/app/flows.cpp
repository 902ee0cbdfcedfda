#include "app/flows.h"

#include "common/error.h"
#include "coords/convert.h"
#include "jww/header.h"
#include "jww/jww_file.h"

namespace kestrova {

const char kNoDataMessage[] = "データが、ありません。";

namespace {

// The drawing is written straight from the table; the document keeps the header and the
// entity count, as a converted and written document would.
DrawingPlan PlanFor(Workspace& ws, const std::array<JwwTextKind, 10>& textKinds, int baseRow) {
  DrawingPlan plan = PlanDrawing(ws.Coords, ws.Bounds, ws.Settings, textKinds, baseRow);
  Clear(ws.Drawing);
  Init(ws.Drawing);
  ws.Drawing.EntityListCount = plan.EntityCount();
  // As the entity writer has always left it: a drawing without a version is a 420 one.
  if (ws.Drawing.Header.Version == 0) ws.Drawing.Header.Version = 420;
  return plan;
}

DrawingPlan PlanJwwDrawing(Workspace& ws, int baseRow, JwCadSettingsSource* source) {
  if (ws.Coords.Table.PointCount == 0) throw Error(kNoDataMessage);
  JwwHeader& h = ws.Drawing.Header;
  h.Version = ws.JwwVersion;
  InitHeaderDefaults(h, source, ws.JwCad);
  h.PaperSize = static_cast<uint32_t>(ws.Settings.WrtBAse.Size);
  h.WriteLayerGroup = ws.Settings.WrtBAse.Group;
  h.LayerGroups[ws.Settings.WrtBAse.Group & 15].GroupScale = ws.Settings.WrtBAse.Scale;
  ws.Drawing.InBlockDefinition = false;
  return PlanFor(ws, h.TextKinds, baseRow);
}

void WriteJwwDrawingTo(Workspace& ws, const DrawingPlan& plan, FileOutStream& out,
                       const std::string& name, ProgressMonitor* progress) {
  JwwDocument& doc = ws.Drawing;
  const uint32_t version = doc.Header.Version;
  if (!WriteJwwHeader(out, doc.Header, version, doc.EntityListCount, doc.EntityStreamPos) ||
      !WritePlannedEntities(plan, out, version, progress)) {
    throw Error(name + ": cannot write the drawing: " + out.LastError());
  }
  out.Commit();
}

}  // namespace

void SaveJwwFile(Workspace& ws, const std::filesystem::path& path, int baseRow,
                 JwCadSettingsSource* source, ProgressMonitor* progress) {
  const DrawingPlan plan = PlanJwwDrawing(ws, baseRow, source);
  FileOutStream out(path);
  WriteJwwDrawingTo(ws, plan, out, path.string(), progress);
  ws.Settings.Folder.name = std::filesystem::absolute(path).parent_path().string();
}

void SaveJwwFile(Workspace& ws, std::unique_ptr<AtomicFileWriter> file, int baseRow,
                 JwCadSettingsSource* source, ProgressMonitor* progress) {
  const DrawingPlan plan = PlanJwwDrawing(ws, baseRow, source);
  const std::string name = file->Target().string();
  FileOutStream out(std::move(file));
  WriteJwwDrawingTo(ws, plan, out, name, progress);
}

void TransferToJwCad(Workspace& ws, int baseRow, ClipboardSink& sink, ProgressMonitor* progress) {
  if (ws.Coords.Table.PointCount == 0) throw Error(kNoDataMessage);
  ws.Drawing.Header.Version = ws.JwwVersion;
  // Without Jw_cad's text settings and before any drawing file was saved the sizes are
  // still 0: such texts would be invisible in Jw_cad.
  JwwHeader defaults;
  SetFixedHeaderValues(defaults);
  std::array<JwwTextKind, 10> kinds = ws.Drawing.Header.TextKinds;
  for (size_t k = 0; k < kinds.size(); ++k) {
    if (kinds[k].Width == 0.0 && kinds[k].Height == 0.0 && kinds[k].Spacing == 0.0) {
      kinds[k] = defaults.TextKinds[k];
    }
  }
  const DrawingPlan plan = PlanFor(ws, kinds, baseRow);
  TransferDrawing(ws.Drawing, ws.Settings.WrtBAse.Scale, sink, [&](OutStream& stream) {
    return WritePlannedEntities(plan, stream, kClipboardVersion, progress);
  });
}

}  // namespace kestrova
