#include "app/gis_command.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "app/messages.h"
#include "common/error.h"
#include "common/sjis.h"
#include "common/utf8_path.h"
#include "coords/coordinate_file.h"
#include "gis/gis_export.h"
#include "gis/gis_import.h"
#include "gis/survey_systems.h"
#include "jww/header.h"

namespace kestrova {

namespace {

namespace fs = std::filesystem;

using Kind = Prompts::Kind;
using Buttons = Prompts::Buttons;
using Answer = Prompts::Answer;

const char kOverwriteQuestion[] = "ファイルは既に存在します。上書きしますか？　";

void Tell(CommandContext& ctx, Kind kind, const std::string& text) {
  try {
    ctx.prompts.Message(kind, Buttons::kOk, text);
  } catch (...) {
  }
}

const char* Extension(GisFormat format) {
  switch (format) {
    case GisFormat::kGpkg:
      return ".gpkg";
    case GisFormat::kGeoJson:
      return ".geojson";
    case GisFormat::kDxf:
      return ".dxf";
    case GisFormat::kKml:
      return ".kml";
    case GisFormat::kShp:
      return ".shp";
  }
  return "";
}

// "GeoPackage(*.gpkg)|*.gpkg|すべてのﾌｧｲﾙ(*.*)|*.*"
std::string Filter(GisFormat format) {
  const std::string ext = Extension(format);
  return std::string(GisFormatTitle(format)) + "(*" + ext + ")|*" + ext + "|すべてのﾌｧｲﾙ(*.*)|*.*";
}

// Text sizes as the drawing has them; kinds never set (no Jw_cad settings, no drawing
// saved yet) take the drawing's defaults, or their texts would have no height.
std::array<JwwTextKind, 10> DrawingTextKinds(const JwwHeader& header) {
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

void Export(CommandContext& ctx) {
  Workspace& ws = ctx.ws;
  BringPointsUpToDate(ctx);
  if (!ConfirmUnreadRows(ctx)) return;
  if (ws.Coords.Table.PointCount == 0) {
    Tell(ctx, Kind::kInformation, kNoDataMessage);
    return;
  }
  // Points read from GIS files are in their system, which is offered. Else a SIMA file
  // names its zone, and perhaps its datum, in a title: that zone is offered first, in the
  // datum the title names, else in the one chosen before when that was the same zone,
  // else in JGD2011.
  std::string crs = ws.Settings.Gis.Crs;
  std::optional<int> titleZone;
  std::string zoneTitle;
  std::optional<TitleDatum> titleDatum;
  std::string datumTitle;
  for (const std::string& title : ws.Coords.Sima.SimaTitles) {
    const std::string utf8 = Cp932ToUtf8(title);
    if (!titleZone && (titleZone = ZoneNamedIn(utf8))) zoneTitle = utf8;
    if (!titleDatum && (titleDatum = DatumNamedIn(utf8))) datumTitle = utf8;
  }
  if (titleZone) {
    const std::optional<int32_t> remembered = ParseEpsgName(crs);
    const std::optional<Datum> rememberedDatum =
        remembered ? DatumOfSystem(*remembered) : std::nullopt;
    if (!remembered || ZoneOfSystem(*remembered) != titleZone ||
        (titleDatum && (!rememberedDatum || !titleDatum->Fits(*rememberedDatum)))) {
      const Datum datum = titleDatum && titleDatum->tokyo         ? Datum::kTokyo
                          : titleDatum && titleDatum->realisation ? *titleDatum->realisation
                                                                  : Datum::kJgd2011;
      crs = EpsgName(SystemOfZone(*titleZone, datum));
    }
  }
  const int32_t pointsSystem = ws.Coords.Table.GisSystem;
  if (pointsSystem != 0) crs = EpsgName(pointsSystem);
  const auto choice =
      ctx.prompts.ChooseGisExport(OfferedSurveySystems(), {crs, ws.Settings.Gis.Format});
  if (!choice) return;
  const std::optional<GisFormat> format = GisFormatFromName(choice->Format);
  if (!format) throw Error(MessageId::kGisFormatUnknown, {choice->Format});
  const std::optional<int32_t> epsg = ParseEpsgName(choice->Crs);
  if (!epsg && GisFormatNeedsSystem(*format)) {
    throw Error(MessageId::kGisFormatNeedsSystem, {GisFormatTitle(*format), kSurveySystemHint});
  }
  // The points are written as they stand: in another system they would be tagged with
  // it, some tens or hundreds of kilometres from their place.
  if (pointsSystem != 0 && epsg && *epsg != pointsSystem) {
    throw Error(MessageId::kGisExportNotInPointsSystem, {EpsgName(*epsg), EpsgName(pointsSystem)});
  }
  const std::optional<int> chosenZone = epsg ? ZoneOfSystem(*epsg) : std::nullopt;
  if (titleZone && chosenZone && *chosenZone != *titleZone &&
      ctx.prompts.Message(
          Kind::kWarning, Buttons::kOkCancel,
          MessageText(MessageId::kGisTitleZoneQuestion,
                      {zoneTitle, ZoneNumeral(*titleZone), ZoneNumeral(*chosenZone)},
                      Language::kJapanese)) != Answer::kOk) {
    return;
  }
  const std::optional<Datum> chosenDatum = epsg ? DatumOfSystem(*epsg) : std::nullopt;
  if (titleDatum && chosenDatum && !titleDatum->Fits(*chosenDatum) &&
      ctx.prompts.Message(
          Kind::kWarning, Buttons::kOkCancel,
          MessageText(MessageId::kGisTitleDatumQuestion,
                      {datumTitle, DatumName(*titleDatum, true), DatumName(*chosenDatum, true)},
                      Language::kJapanese)) != Answer::kOk) {
    return;
  }
  const auto chosen = ctx.prompts.SaveFile(Filter(*format), Utf8Path(ws.Settings.Folder.name));
  if (!chosen) return;
  const std::optional<fs::path> saved = SaveTarget(ctx, chosen->path, Extension(*format));
  if (!saved) return;
  const fs::path& target = *saved;
  std::error_code ec;
  if (fs::exists(target, ec) &&
      ctx.prompts.Message(Kind::kWarning, Buttons::kOkCancel,
                          target.string() + "\r\n" + kOverwriteQuestion) != Answer::kOk) {
    return;
  }
  GisExportOptions options;
  options.Format = *format;
  options.Epsg = epsg.value_or(0);
  options.Settings = ws.Settings;
  options.TextKinds = DrawingTextKinds(ws.Drawing.Header);
  GisExport written;
  {
    const std::unique_ptr<Prompts::BusyGuard> busy = ctx.prompts.Busy();
    written = ExportGisFile(ws.Coords, options, target);
  }
  // A drawing without a system keeps the system chosen before for the next export.
  if (epsg) ws.Settings.Gis.Crs = EpsgName(*epsg);
  ws.Settings.Gis.Format = choice->Format;
  ws.Settings.Folder.name = (target.parent_path() / "").string();
  for (const std::string& warning :
       GisExportWarnings(written, target.string(), Language::kJapanese))
    Tell(ctx, Kind::kWarning, warning);
}

}  // namespace

bool LoadGisFileWithNotices(const std::filesystem::path& file, int32_t epsg, CoordinateData& data,
                            bool append, std::vector<std::string>& notices,
                            ProgressMonitor* progress) {
  // A layer in one of the plane rectangular systems is read in it, as it stands in the
  // file. One appended to points is brought into the system of those read from GIS
  // files, or beside points of other files into the remembered one, as the window has no
  // other way to name one for both. A layer in longitude and latitude or in another
  // projection is placed in the remembered system, which the user hears.
  int32_t target = 0;
  bool placed = false;
  if (append && data.Table.GisSystem != 0) {
    target = data.Table.GisSystem;
  } else if (append && data.Table.PointCount > 0) {
    target = epsg;
  } else if (const int32_t own = GisFileSystem(file, file.string()); own != 0 && epsg != 0) {
    const std::vector<SurveySystem>& planes = OfferedSurveySystems();
    if (std::none_of(planes.begin(), planes.end(),
                     [own](const SurveySystem& s) { return s.Epsg == own; })) {
      target = epsg;
      placed = true;
    }
  }
  LoadReport report;
  const size_t blocksBefore = append ? data.Sima.SimaBlocks.size() : 0;
  std::vector<std::string> more;
  try {
    more = LoadGisPoints(file, file.string(), target, data, append, report, Language::kJapanese,
                         progress);
  } catch (const Error& e) {
    // The failed reading changed nothing.
    if (!e.HasId() || e.Id() != MessageId::kGisLongitudeLatitude || target != 0 || epsg == 0) {
      throw;
    }
    report = LoadReport();
    more = LoadGisPoints(file, file.string(), epsg, data, append, report, Language::kJapanese,
                         progress);
    placed = true;
  }
  if (placed) {
    notices.push_back(MessageText(MessageId::kGisPlacedInRemembered,
                                  {file.string(), EpsgName(epsg)}, Language::kJapanese));
  }
  std::string said = LoadNoticeText(file, report);
  if (!said.empty()) notices.push_back(std::move(said));
  for (std::string& notice : more)
    notices.push_back(std::move(notice));
  // A GIS file's parcels are kept for saves and exports, but the plot and the drawing
  // show a SIMA file's alone: without a word they would seem lost.
  if (const size_t blocks = data.Sima.SimaBlocks.size() - blocksBefore; blocks > 0) {
    notices.push_back(
        MessageText(blocks == 1 ? MessageId::kGisBlockNotDrawn : MessageId::kGisBlocksNotDrawn,
                    {file.string(), std::to_string(blocks)}, Language::kJapanese));
  }
  return true;
}

void GisExportCommand(CommandContext& ctx) {
  try {
    Export(ctx);
  } catch (const std::exception& e) {
    Tell(ctx, Kind::kError, WindowText(e));
  } catch (...) {
    Tell(ctx, Kind::kError, "予期しないエラーで処理を中止しました。");
  }
}

}  // namespace kestrova
