#include "app/flows.h"

#include "common/error.h"
#include "coords/convert.h"
#include "jww/jww_file.h"

namespace kestrova {

const char kNoDataMessage[] = "データが、ありません。";

namespace {

void BuildJwwDrawing(Workspace& ws, int baseRow, JwCadSettingsSource* source) {
  if (ws.Coords.Table.PointCount == 0) throw Error(kNoDataMessage);
  JwwHeader& h = ws.Drawing.Header;
  h.Version = ws.JwwVersion;
  InitHeaderDefaults(h, source, ws.JwCad);
  h.PaperSize = static_cast<uint32_t>(ws.Settings.WrtBAse.Size);
  h.WriteLayerGroup = ws.Settings.WrtBAse.Group;
  h.LayerGroups[ws.Settings.WrtBAse.Group & 15].GroupScale = ws.Settings.WrtBAse.Scale;
  ws.Drawing.InBlockDefinition = false;
  ConvertPointsToDrawing(ws.Coords, ws.Bounds, ws.Settings, h.TextKinds, baseRow, ws.Drawing);
}

void WriteJwwDrawingTo(Workspace& ws, FileOutStream& out, const std::string& name) {
  if (!WriteJwwDrawing(ws.Drawing, out, ws.Drawing.Header.Version)) {
    throw Error(name + ": cannot write the drawing: " + out.LastError());
  }
  out.Commit();
}

}  // namespace

void SaveJwwFile(Workspace& ws, const std::filesystem::path& path, int baseRow,
                 JwCadSettingsSource* source) {
  BuildJwwDrawing(ws, baseRow, source);
  FileOutStream out(path);
  WriteJwwDrawingTo(ws, out, path.string());
  ws.Settings.Folder.name = std::filesystem::absolute(path).parent_path().string();
}

void SaveJwwFile(Workspace& ws, std::unique_ptr<AtomicFileWriter> file, int baseRow,
                 JwCadSettingsSource* source) {
  BuildJwwDrawing(ws, baseRow, source);
  const std::string name = file->Target().string();
  FileOutStream out(std::move(file));
  WriteJwwDrawingTo(ws, out, name);
}

void TransferToJwCad(Workspace& ws, int baseRow, ClipboardSink& sink) {
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
  ConvertPointsToDrawing(ws.Coords, ws.Bounds, ws.Settings, kinds, baseRow, ws.Drawing);
  TransferDrawing(ws.Drawing, ws.Settings.WrtBAse.Scale, sink);
}

}  // namespace kestrova
