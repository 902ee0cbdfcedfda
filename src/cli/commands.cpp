#include "cli/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "app/flows.h"
#include "app/messages.h"
#include "app/settings_file.h"
#include "cli/files.h"
#include "cli/progress.h"
#include "common/error.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "common/utf8_path.h"
#include "coords/convert.h"
#include "coords/coordinate_file.h"
#include "coords/streamed_drawing.h"
#include "coords/streamed_export.h"
#include "gis/gis_export.h"  // the Shapefile set's names, checked on every system
#include "jww/clipboard.h"
#include "jww/jwcad_settings.h"
#ifdef KESTROVA_HAVE_GDAL
#include "cli/gis_loader.h"
#include "cli/gis_source.h"
#include "gis/survey_systems.h"
#endif

namespace kestrova::cli {

namespace {

const char* const kGisNames[] = {"gpkg", "geojson", "dxf", "kml", "shp"};

// The GIS format an export or load means, known even without GDAL so that the user
// hears why it cannot be done.
std::optional<std::string> GisFormatName(const std::string& format, const std::string& path) {
  std::string name = format;
  if (name.empty()) {
    const std::string ext = AsciiLower(Utf8Path(path).extension().string());
    name = ext == ".json" ? "geojson" : ext.empty() ? "" : ext.substr(1);
  }
  for (const char* n : kGisNames) {
    if (name == n) return name;
  }
  return std::nullopt;
}

// GeoPackage, GeoJSON and Shapefile hold points to read; DXF and KML are written only.
bool IsGisInput(const std::string& file) {
  const std::optional<std::string> name = GisFormatName("", file);
  return file != kStandardStream && name && *name != "dxf" && *name != "kml";
}

#ifndef KESTROVA_HAVE_GDAL
[[noreturn]] void NoGdal(const std::string& what) {
  throw Error(what + " needs a kestrova-cli built with GDAL (Debian: libgdal-dev)");
}
#else
int32_t CrsCode(const std::string& crs) {
  if (crs.empty()) return 0;
  const std::optional<int32_t> code = ParseEpsgName(crs);
  if (!code) throw UsageError("--crs " + crs + ": " + kSurveySystemHint);
  return *code;
}
#endif

}  // namespace

bool AnyGisInput(const std::vector<std::string>& files) {
  return std::any_of(files.begin(), files.end(), IsGisInput);
}

void WarnOfBlocksNotDrawn(const std::vector<std::string>& files, const std::vector<size_t>& counts,
                          std::ostream& err) {
  for (size_t i = 0; i < counts.size() && i < files.size(); ++i) {
    if (counts[i] == 0) continue;
    err << "kestrova-cli: warning: "
        << MessageText(
               counts[i] == 1 ? MessageId::kGisBlockNotDrawn : MessageId::kGisBlocksNotDrawn,
               {InputName(files[i]), std::to_string(counts[i])}, Language::kEnglish)
        << '\n';
  }
}

OutputSettings ReadSettingsOptionFile(const std::string& settingsFile) {
  std::error_code ec;
  if (!std::filesystem::exists(Utf8Path(settingsFile), ec)) {
    throw Error(settingsFile + ": no such settings file");
  }
  std::vector<std::string> adjusted;
  std::vector<UnreadSetting> unread;
  OutputSettings settings = ReadSettingsFile(
      Utf8Path(settingsFile), std::filesystem::current_path().string(), &adjusted, &unread);
  for (const std::string& warning : UnreadSettingWarnings(unread, settingsFile, Language::kEnglish))
    std::cerr << "kestrova-cli: warning: " << warning << '\n';
  // Values beyond what Jw_cad takes are read as the nearest it does.
  for (const std::string& change : adjusted) {
    std::cerr << "kestrova-cli: warning: " << settingsFile
              << ": a value beyond what Jw_cad takes was read as the nearest valid one: " << change
              << '\n';
  }
  return settings;
}

CoordinateData LoadFiles(const std::vector<std::string>& files,
                         [[maybe_unused]] const std::string& crs, bool warn, bool drawn,
                         [[maybe_unused]] std::vector<size_t>* gisBlocks) {
  CoordinateData data;
  if (gisBlocks) gisBlocks->assign(files.size(), 0);
  bool append = false;
  for (const std::string& file : files) {
    LoadReport report;
    const std::string name = InputName(file);
    if (IsGisInput(file)) {
#ifdef KESTROVA_HAVE_GDAL
      const GisModule& gis = Gis(name + ": reading points from GIS files");
      std::vector<std::string> warnings;
      const size_t blocks = data.Sima.SimaBlocks.size();
      gis.LoadAnyCoordinateFile(Utf8Path(file), name, CrsCode(crs), data, append, warnings);
      if (gisBlocks)
        (*gisBlocks)[static_cast<size_t>(&file - files.data())] =
            data.Sima.SimaBlocks.size() - blocks;
      for (const std::string& warning : warnings)
        if (warn) std::cerr << "kestrova-cli: warning: " << warning << '\n';
      append = true;
      continue;
#else
      NoGdal(name + ": reading points from GIS files");
#endif
    }
    {
      TerminalProgress progress(std::cerr, StandardErrorIsTerminal(), "loading " + name);
      if (!LoadInput(file, data, append, &report, &progress, LoadTuning{.drawBlocks = drawn})) {
        throw Error(name + ": fewer than two lines; nothing was loaded");
      }
    }
    for (const std::string& warning : LoadWarnings(report, name))
      if (warn) std::cerr << "kestrova-cli: warning: " << warning << '\n';
    append = true;
  }
  return data;
}

bool StreamableFiles(const std::vector<std::string>& files,
                     [[maybe_unused]] const std::string& crs) {
  if (!AnyGisInput(files)) return true;
  // A GIS layer may turn out to need a table only as it is read; the files are then read
  // again, which standard input and pipes cannot be.
  for (const std::string& file : files) {
    std::error_code ec;
    if (file == kStandardStream || !std::filesystem::is_regular_file(Utf8Path(file), ec))
      return false;
  }
  for (const std::string& file : files) {
    if (!IsGisInput(file)) continue;
#ifdef KESTROVA_HAVE_GDAL
    const std::string name = InputName(file);
    const GisModule& gis = Gis(name + ": reading points from GIS files");
    try {
      if (!gis.GisPointsStream(Utf8Path(file), name, CrsCode(crs))) return false;
    } catch (const Error&) {
      // Told by the table's load in its turn, after what the files before it say.
      return false;
    }
#else
    NoGdal(InputName(file) + ": reading points from GIS files");
#endif
  }
  return true;
}

int32_t StreamFiles(const std::vector<std::string>& files, StreamedDrawingData* data,
                    LoadSink* also, SimaData& sima, std::ostream& err,
                    [[maybe_unused]] const std::string& crs) {
  std::optional<TeeSink> tee;
  LoadSink& sink = data && also ? tee.emplace(*data, *also) : data ? *data : *also;
  CoordinateData counts;
  // Each file's warnings are said as a table's load says them, in the files' order: what
  // its reading found, the points whose numbers an earlier file's points have (known
  // only once every file is read), then a GIS layer's own. Nothing is said before the
  // reading is over, so a layer that turns out to need a table is not told of twice.
  std::vector<std::string> names;
  std::vector<LoadReport> reports;
  std::vector<std::vector<std::string>> layerWarnings;
  // A drawing stops a parcel at a point it cannot find; an export writes the records.
  const auto say = [&](size_t count, const std::vector<RepeatedNumbers>& repeated) {
    const std::vector<DrawingGaps> none;
    const std::vector<DrawingGaps>& drawn = data && !also ? data->Gaps() : none;
    for (const std::string& warning :
         FileWarnings(count, reports, names, layerWarnings, repeated, drawn))
      err << "kestrova-cli: warning: " << warning << '\n';
  };
  try {
    for (const std::string& file : files) {
      const std::string& name = names.emplace_back(InputName(file));
      LoadReport& report = reports.emplace_back();
      [[maybe_unused]] std::vector<std::string>& warnings = layerWarnings.emplace_back();
      if (data) data->StartFile();
      if (IsGisInput(file)) {
#ifdef KESTROVA_HAVE_GDAL
        if (!Gis(name + ": reading points from GIS files")
                 .StreamGisPoints(Utf8Path(file), name, CrsCode(crs), sink, counts, report,
                                  warnings)) {
          throw TableNeeded();
        }
        continue;
#else
        NoGdal(name + ": reading points from GIS files");
#endif
      }
      TerminalProgress progress(err, StandardErrorIsTerminal(), "loading " + name);
      if (!StreamInput(file, sink, counts, &report, &progress)) {
        throw Error(name + ": fewer than two lines; nothing was loaded");
      }
    }
  } catch (const TableNeeded&) {
    throw;
  } catch (...) {
    // The files read before the one that failed are told of before its error, with
    // their repeated numbers as far as they are known.
    std::vector<RepeatedNumbers> repeated;
    if (data) {
      try {
        repeated = data->Finish();
      } catch (const std::exception&) {
        // The error that stopped the reading is the one to tell.
      }
    }
    say(names.size() - 1, repeated);
    throw;
  }
  std::vector<RepeatedNumbers> repeated;
  if (data) {
    TerminalProgress progress(err, StandardErrorIsTerminal(), "drawing the parcels");
    repeated = data->Finish(&progress);
  }
  say(names.size(), repeated);
  sima = std::move(counts.Sima);
  return counts.Table.PointCount;
}

std::unique_ptr<StreamedDrawingData> StreamedData(int32_t baseRow, std::ostream& err,
                                                  bool forExport) {
  try {
    return std::make_unique<StreamedDrawingData>(
        baseRow, StreamTuning{}, forExport ? StreamedUse::kExport : StreamedUse::kDrawing);
  } catch (const Error& e) {
    err << "kestrova-cli: warning: " << e.what() << "; the points are held in memory\n";
  }
  return nullptr;
}

std::unique_ptr<StreamedDrawingData> GatherFiles(const std::vector<std::string>& files,
                                                 const std::string& crs, SimaData& sima,
                                                 std::ostream& err, bool forExport) {
  if (!StreamableFiles(files, crs)) return nullptr;
  auto data = StreamedData(0, err, forExport);
  if (!data) return nullptr;
  try {
    StreamFiles(files, *data, sima, err, crs);
  } catch (const TableNeeded&) {
    return nullptr;  // nothing was said yet
  }
  return data;
}

namespace {

std::string Number(double v) {
  return FormatGeneral(RoundOff(64, v));
}

// Files that gave no point make no output: an existing one is left as it was.
void RequirePoints(int32_t pointCount, const std::vector<std::string>& files) {
  if (pointCount > 0) return;
  std::string names;
  for (const std::string& file : files)
    names += (names.empty() ? "" : ", ") + InputName(file);
  throw Error(names + ": no point was read; nothing was written");
}

// Only marked points are drawn: points that all came unmarked (a GIS layer's "marked"
// field) would make a drawing of nothing.
void RequireMarkedPoints(const CoordinateData& data, const std::vector<std::string>& files) {
  if (DrawsSomething(data)) return;
  const PointTable& t = data.Table;
  std::string names;
  for (const std::string& file : files)
    names += (names.empty() ? "" : ", ") + InputName(file);
  throw Error(names + ": every one of the " + std::to_string(t.PointCount) +
              (t.PointCount == 1 ? " point" : " points") +
              " is unmarked (the \"marked\" field is not 1), and only marked points are drawn; "
              "nothing was written");
}

// Points a GIS file leaves unmarked are not drawn: how many, said once the points are
// loaded. Returns the number drawn.
int32_t DrawnPoints(const CoordinateData& data, std::ostream& err) {
  const PointTable& t = data.Table;
  int32_t marked = 0;
  for (int32_t r = 1; r <= t.PointCount; ++r)
    marked += t.Points[r].Marked == 1 ? 1 : 0;
  if (marked < t.PointCount) {
    const int32_t unmarked = t.PointCount - marked;
    err << "kestrova-cli: warning: " << unmarked << " of the " << t.PointCount
        << (unmarked == 1 ? " points is" : " points are")
        << " unmarked (the \"marked\" field is not 1) and not drawn\n";
  }
  return marked;
}

}  // namespace

namespace {

void PrintInfo(std::ostream& out, int32_t pointCount, const DataBounds& b, const SimaData& sima,
               size_t lines, size_t labels) {
  out << "points: " << pointCount << '\n';
  if (pointCount > 0) {
    out << "X: " << Number(b.MinX) << " .. " << Number(b.MaxX) << '\n';
    out << "Y: " << Number(b.MinY) << " .. " << Number(b.MaxY) << '\n';
    out << "centre: " << Number(b.CentreX) << ", " << Number(b.CentreY) << '\n';
  } else {
    out << "X: none\nY: none\ncentre: none\n";
  }
  out << "site: " << Cp932ToUtf8(sima.SiteName) << '\n';
  out << "title 1: " << Cp932ToUtf8(sima.SimaTitles[0]) << '\n';
  out << "title 2: " << Cp932ToUtf8(sima.SimaTitles[1]) << '\n';
  out << "sima lines: " << lines << '\n';
  out << "sima labels: " << labels << '\n';
}

}  // namespace

// Files that need no GIS reader are counted as they stream by: their points are kept only
// in temporary files, for the parcels to find theirs.
int RunInfo(const std::vector<std::string>& files, std::ostream& out, const std::string& crs) {
  SimaData sima;
  if (const auto data = GatherFiles(files, crs, sima, std::cerr)) {
    PrintInfo(out, data->PointCount(), data->Bounds(), sima, data->LineCount(), data->LabelCount());
    return 0;
  }
  const CoordinateData data = LoadFiles(files, crs);
  DataBounds b;
  ComputeDataBounds(data.Table, b);
  PrintInfo(out, data.Table.PointCount, b, data.Sima, data.Sima.SimaLines.size(),
            data.Sima.SimaTexts.size());
  return 0;
}

namespace {

#ifdef KESTROVA_HAVE_GDAL
// Text sizes for a DXF: Jw_cad's defaults, then what its settings say.
std::array<JwwTextKind, 10> TextKinds(const std::string& jwcadSettings) {
  JwwHeader header;
  SetFixedHeaderValues(header);
  JwCadExtras extras;
  std::unique_ptr<JwCadSettingsSource> source =
      jwcadSettings.empty() ? DefaultJwCadSettingsSource()
                            : std::make_unique<JwCadSettingsMap>(
                                  JwCadSettingsMap::FromRegFile(Utf8Path(jwcadSettings)));
  if (source) ReadJwCadSettings(*source, header, extras);
  return header.TextKinds;
}

OutputSettings ReadSettingsOption(const std::string& settingsFile) {
  if (settingsFile.empty()) return {};
  return ReadSettingsOptionFile(settingsFile);
}

#endif

#ifdef KESTROVA_HAVE_GDAL
// A site of files that hold up to this many bytes and lines (about a million points and
// their parcels) is exported from a table, the faster way, in at most some 240 MB; a larger
// one, or one read from a pipe, from temporary files, in memory that stays the same at any
// size. Both limits are needed: a list of short lines puts two and a half million points in
// 64 MB, and their table would take a GeoPackage's export past 256 MB.
constexpr std::uintmax_t kTableExportBytes = std::uintmax_t{64} << 20;
constexpr std::uintmax_t kTableExportLines = 1'750'000;

// The lines of the file at path, or more than most when there are more: as many as its
// line feeds or its carriage returns, whichever it has more of (a lone carriage return
// ends a line too). A file that cannot be read has too many.
std::uintmax_t CountLines(const std::filesystem::path& path, std::uintmax_t most) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(size_t{1} << 20);
  const auto count = [](const char* at, const char* end, char c) {
    std::uintmax_t n = 0;
    for (; (at = static_cast<const char*>(std::memchr(at, c, static_cast<size_t>(end - at)))); ++at)
      ++n;
    return n;
  };
  std::uintmax_t feeds = 0, returns = 0;
  while (in && std::max(feeds, returns) <= most) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const char* const end = block.data() + in.gcount();
    feeds += count(block.data(), end, '\n');
    returns += count(block.data(), end, '\r');
  }
  const std::uintmax_t lines = std::max(feeds, returns);
  return in.eof() || lines > most ? lines : most + 1;
}

bool ExportFromTable(const std::vector<std::string>& files) {
  std::uintmax_t total = 0;
  std::vector<std::filesystem::path> paths;
  for (const std::string& file : files) {
    std::error_code ec;
    const std::filesystem::path& path = paths.emplace_back(Utf8Path(file));
    if (file == kStandardStream || !std::filesystem::is_regular_file(path, ec)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return false;
    total += size;
  }
  if (total > kTableExportBytes) return false;
  std::uintmax_t lines = 0;
  for (const std::filesystem::path& path : paths) {
    lines += CountLines(path, kTableExportLines - lines);
    if (lines > kTableExportLines) return false;
  }
  return true;
}
#endif

#ifdef KESTROVA_HAVE_GDAL
// A SIMA title names the zone the site was surveyed in ("世界測地系 第IX系"); a system
// given for another zone places every point there, a hundred kilometres and more off. A
// system on another datum than the title names places them some 400 m off (the Tokyo
// datum and JGD), or up to metres (JGD2000 and JGD2011).
void WarnOfTitleSystem(const SimaData& sima, int32_t epsg, std::ostream& err) {
  const std::optional<int> givenZone = ZoneOfSystem(epsg);
  const std::optional<Datum> givenDatum = DatumOfSystem(epsg);
  bool zoneSaid = false, datumSaid = false;
  for (const std::string& title : sima.SimaTitles) {
    const std::string utf8 = Cp932ToUtf8(title);
    const std::optional<int> zone = ZoneNamedIn(utf8);
    if (givenZone && zone && *zone != *givenZone && !zoneSaid) {
      err << "kestrova-cli: warning: the site's title \"" << utf8 << "\" names zone "
          << ZoneNumeral(*zone) << ", but " << EpsgName(epsg) << " (--crs) is zone "
          << ZoneNumeral(*givenZone) << "; the points were placed in zone "
          << ZoneNumeral(*givenZone) << '\n';
      zoneSaid = true;
    }
    const std::optional<TitleDatum> datum = DatumNamedIn(utf8);
    if (givenDatum && datum && !datum->Fits(*givenDatum) && !datumSaid) {
      err << "kestrova-cli: warning: the site's title \"" << utf8 << "\" names "
          << DatumName(*datum, false) << ", but " << EpsgName(epsg) << " (--crs) is on "
          << DatumName(*givenDatum, false) << "; the points were placed on "
          << DatumName(*givenDatum, false) << '\n';
      datumSaid = true;
    }
  }
}
#endif

int RunGisExport(const ExportOptions& o, const std::string& formatName, std::ostream& err) {
#ifdef KESTROVA_HAVE_GDAL
  const GisModule& module = Gis("the " + formatName + " format");
  GisExportOptions options;
  options.Format = *module.GisFormatFromName(formatName);
  options.Epsg = CrsCode(o.crs);
  if (options.Epsg == 0 && module.GisFormatNeedsSystem(options.Format)) {
    // GIS files all in one projected system are written in it, as they are read.
    int32_t common = 0;
    for (const std::string& file : o.files) {
      const int32_t epsg =
          IsGisInput(file) ? module.GisFileSystem(Utf8Path(file), InputName(file)) : 0;
      common = epsg == 0 || (common != 0 && epsg != common) ? -1 : epsg;
      if (common < 0) break;
    }
    options.Epsg = std::max(common, 0);
  }
  if (options.Epsg == 0 && module.GisFormatNeedsSystem(options.Format)) {
    throw UsageError(std::string(module.GisFormatTitle(options.Format)) +
                     " places the site by its coordinate system: " + kSurveySystemHint);
  }
  if ((o.output == kStandardStream || NamesOwnDescriptor(Utf8Path(o.output))) &&
      options.Format == GisFormat::kShp) {
    throw UsageError("a Shapefile is several files and cannot go to standard output");
  }
  if (options.Format == GisFormat::kDxf) {
    options.Settings = ReadSettingsOption(o.settingsFile);
    options.TextKinds = TextKinds(o.jwcadSettings);
  }
  const std::string name = OutputName(o.output);
  const std::string fileName =
      o.output == kStandardStream ? "standard-output." + formatName : o.output;
  // Large sites of files that need no GIS reader are exported from temporary files, as
  // they are drawn.
  SimaData sima;
  std::unique_ptr<StreamedDrawingData> streamed;
  if (!ExportFromTable(o.files))
    streamed = GatherFiles(o.files, o.crs, sima, err, options.Format != GisFormat::kDxf);
  CoordinateData data;
  std::vector<size_t> gisBlocks;
  std::optional<StreamedGisSource> source;
  int32_t points = 0;
  if (streamed) {
    points = streamed->PointCount();
    source.emplace(*streamed, sima.SimaLoaded);
  } else {
    data = LoadFiles(o.files, o.crs, true, options.Format == GisFormat::kDxf, &gisBlocks);
    points = data.Table.PointCount;
  }
  RequirePoints(points, o.files);
  if (options.Format == GisFormat::kDxf) {
    // The DXF is the drawing: refused as the conversion is (a load marks every point).
    if (!source) {
      RequireMarkedPoints(data, o.files);
      DrawnPoints(data, err);
      WarnOfBlocksNotDrawn(o.files, gisBlocks, err);
    } else {
      WarnOfBlocksNotDrawn(o.files, streamed->BlocksNotDrawn(), err);
    }
  }
  if (module.GisFormatNeedsSystem(options.Format))
    WarnOfTitleSystem(source ? sima : data.Sima, options.Epsg, err);
  const GisExport gis = source ? module.BuildGisExportFrom(*source, options, fileName)
                               : module.BuildGisExport(data, options, fileName);
  if (o.output == kStandardStream) {
    const auto writer = OpenOutput(o.output);
    WriteGisFile(gis.Files.front(), *writer);
    writer->Commit();
  } else {
    module.WriteGisExport(gis, Utf8Path(o.output));
  }
  for (const std::string& warning : module.GisExportWarnings(gis, name))
    err << "kestrova-cli: warning: " << warning << '\n';
  err << "kestrova-cli: wrote " << points << " points to " << name << " (";
  for (size_t i = 0; i < gis.Layers.size(); ++i)
    err << (i ? ", " : "") << gis.Layers[i].Layer << " " << gis.Layers[i].Features;
  err << ")\n";
  return 0;
#else
  (void)o;
  (void)err;
  NoGdal("the " + formatName + " format");
#endif
}

// A Shapefile is a set of files, written beside the file a link names: none of them
// may be an input, nor read with one (CheckOutput), in any letter case.
void CheckShapefileSet(const std::string& output, const std::vector<std::string>& inputs) {
  namespace fs = std::filesystem;
  fs::path real = Utf8Path(output);
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(real, ec)) break;
    const fs::path next = fs::read_symlink(real, ec);
    if (ec) break;
    real = next.is_absolute() ? next : real.parent_path() / next;
  }
  std::vector<std::string> parts;
  for (const std::string& name : ShapefileSetNames(real.stem().string())) {
    for (const fs::path& variant : {fs::path(name), UpperExtension(name)}) {
      const fs::path part = real.parent_path() / variant;
      if (part != Utf8Path(output)) parts.push_back(part.string());
    }
  }
  if (real != Utf8Path(output)) parts.push_back(real.string());
  CheckOutputs(parts, inputs);
}

}  // namespace

int RunExport(const ExportOptions& o, std::ostream& err) {
  const std::string& output = o.output;
  const std::string& format = o.format;
  std::vector<std::string> inputs = o.files;
  inputs.push_back(o.settingsFile);
  inputs.push_back(o.jwcadSettings);
  CheckOutput(output, inputs);
  const std::optional<std::string> gis = GisFormatName(format, output);
  if (gis == "shp") CheckShapefileSet(output, inputs);
  if (gis) {
    return RunGisExport(o, *gis, err);
  }
  std::optional<CoordinateFormat> f = format.empty() ? CoordinateFormatFromPath(Utf8Path(output))
                                                     : CoordinateFormatFromName(format);
  if (!f) {
    throw UsageError("cannot tell the format from the name " + output +
                     "; give --format zhy, csv, sima, apa, gpkg, geojson, dxf, kml or shp");
  }
  // A SIMA file keeps its notes and parcels where they stood among the points, which
  // only the table knows: found among them, the files are read again into one.
  const bool sima = *f == CoordinateFormat::kSima;
  bool warned = false;
  if (StreamableFiles(o.files, o.crs)) {
    std::unique_ptr<StreamedCoordinateWriter> writer;
    try {
      writer = std::make_unique<StreamedCoordinateWriter>(*f);
    } catch (const Error& e) {
      err << "kestrova-cli: warning: " << e.what() << "; the points are held in memory\n";
    }
    // Only the points of several files can repeat numbers; they are found among the
    // points gathered as for a drawing.
    std::unique_ptr<StreamedDrawingData> numbers;
    if (writer && o.files.size() > 1) numbers = StreamedData(0, err);
    if (writer && (o.files.size() < 2 || numbers)) {
      SimaData site;
      int32_t points = 0;
      try {
        points = StreamFiles(o.files, numbers.get(), writer.get(), site, err, o.crs);
        warned = true;
      } catch (const TableNeeded&) {
      }
      if (warned && !(sima && (!site.SimaNotes.empty() || writer->BlocksAmongPoints(points)))) {
        RequirePoints(points, o.files);
        const auto out = OpenOutput(output);
        writer->Write(site,
                      [&out](std::string_view bytes) { out->Write(bytes.data(), bytes.size()); });
        out->Commit();
        const std::string name = OutputName(output);
        for (const std::string& warning : SaveWarnings(writer->Report(), name))
          err << "kestrova-cli: warning: " << warning << '\n';
        err << "kestrova-cli: wrote " << points << " points to " << name << '\n';
        return 0;
      }
    }
  }
  // When the streamed reading found the table needed, the files are read again without
  // repeating what the first reading said.
  const CoordinateData data = LoadFiles(o.files, o.crs, !warned, false);
  RequirePoints(data.Table.PointCount, o.files);
  {
    const auto out = OpenOutput(output);
    WriteCoordinateFile(data, *f,
                        [&out](std::string_view bytes) { out->Write(bytes.data(), bytes.size()); });
    out->Commit();
  }
  const std::string name = OutputName(output);
  for (const std::string& warning : SaveWarnings(CoordinateSaveReport(data, *f), name))
    err << "kestrova-cli: warning: " << warning << '\n';
  err << "kestrova-cli: wrote " << data.Table.PointCount << " points to " << name << '\n';
  return 0;
}

namespace {

void ReadSettings(const DrawingOptions& o, Workspace& ws) {
  if (!o.settingsFile.empty()) ws.Settings = ReadSettingsOptionFile(o.settingsFile);
  ws.JwwVersion = o.jwwVersion;
}

// Loads the files into the table of a workspace whose settings are read.
void LoadWorkspace(const DrawingOptions& o, Workspace& ws, std::ostream& err) {
  std::vector<size_t> gisBlocks;
  ws.Coords = LoadFiles(o.files, o.crs, true, true, &gisBlocks);
  WarnOfBlocksNotDrawn(o.files, gisBlocks, err);
  RequirePoints(ws.Coords.Table.PointCount, o.files);
  RequireMarkedPoints(ws.Coords, o.files);
  ComputeDataBounds(ws.Coords.Table, ws.Bounds);
}

std::unique_ptr<JwCadSettingsSource> JwCadSource(const DrawingOptions& o) {
  if (!o.jwcadSettings.empty()) {
    return std::make_unique<JwCadSettingsMap>(
        JwCadSettingsMap::FromRegFile(Utf8Path(o.jwcadSettings)));
  }
  return DefaultJwCadSettingsSource();
}

// A base row the drawing cannot take is said: the drawing is then centred on its points,
// not on the point the surveyor meant.
void WarnOfBaseRow(const DrawingOptions& o, const OutputSettings& s, int32_t pointCount,
                   std::ostream& err) {
  if (!s.WrtBAse.OutBaseFlg) {
    if (o.baseRowGiven) {
      err << "kestrova-cli: warning: --base-row is used only when the settings set "
             "WrtBAse.OutBaseFlg; the drawing is centred on its points\n";
    }
  } else if (o.baseRow > pointCount) {
    err << "kestrova-cli: warning: --base-row " << o.baseRow << " is past the last point (row "
        << pointCount << "); the drawing is centred on its points\n";
  }
}

// Drawings before version 300 hold no point codes: the points that carry one are written
// plain, which the surveyor must know.
void WarnOfPlainPoints(const DrawingOptions& o, const OutputSettings& s, int32_t coded,
                       std::ostream& err) {
  const std::string lost =
      PointCodesNotSaved(OutputName(o.output), coded, o.jwwVersion, s, Language::kEnglish);
  if (!lost.empty()) err << "kestrova-cli: warning: " << lost << '\n';
}

// Every file a drawing command reads, which its output must not replace.
std::vector<std::string> Inputs(const DrawingOptions& o) {
  std::vector<std::string> inputs = o.files;
  inputs.push_back(o.settingsFile);
  inputs.push_back(o.jwcadSettings);
  return inputs;
}

}  // namespace

namespace {

// A drawing of files that need no table never holds their points: they wait in
// temporary files and the entities are made from there a range at a time.
// Reads the files into data; returns whether the last file read was SIMA.
bool GatherDrawing(const DrawingOptions& o, StreamedDrawingData& data, std::ostream& err) {
  SimaData sima;
  StreamFiles(o.files, data, sima, err, o.crs);
  RequirePoints(data.PointCount(), o.files);
  WarnOfBlocksNotDrawn(o.files, data.BlocksNotDrawn(), err);
  return sima.SimaLoaded;
}

int RunStreamedConvert(const DrawingOptions& o, Workspace& ws, StreamedDrawingData& data,
                       std::ostream& err) {
  const bool simaLoaded = GatherDrawing(o, data, err);
  WarnOfBaseRow(o, ws.Settings, data.PointCount(), err);
  const auto source = JwCadSource(o);
  {
    TerminalProgress progress(err, StandardErrorIsTerminal(), "writing " + OutputName(o.output));
    SaveStreamedJwwFile(ws, data, simaLoaded, OpenOutput(o.output), source.get(), &progress);
  }
  WarnOfPlainPoints(o, ws.Settings,
                    TakesPointCode(0, ws.Settings) ? data.PointCount() : data.MarkValueCount(),
                    err);
  err << "kestrova-cli: wrote " << ws.Drawing.EntityListCount << " entities of "
      << data.PointCount() << " points to " << OutputName(o.output) << " (version " << o.jwwVersion
      << ")\n";
  return 0;
}

}  // namespace

int RunConvert(const DrawingOptions& o, std::ostream& err) {
  CheckOutput(o.output, Inputs(o));
  Workspace ws;
  ReadSettings(o, ws);
  if (StreamableFiles(o.files, o.crs)) {
    // Without temporary files a site that fits in memory can still be drawn.
    if (const auto data = StreamedData(o.baseRow, err)) {
      try {
        return RunStreamedConvert(o, ws, *data, err);
      } catch (const TableNeeded&) {
      }
    }
  }
  LoadWorkspace(o, ws, err);
  WarnOfBaseRow(o, ws.Settings, ws.Coords.Table.PointCount, err);
  const int32_t drawn = DrawnPoints(ws.Coords, err);
  const auto source = JwCadSource(o);
  {
    TerminalProgress progress(err, StandardErrorIsTerminal(), "writing " + OutputName(o.output));
    SaveJwwFile(ws, OpenOutput(o.output), o.baseRow, source.get(), &progress);
  }
  WarnOfPlainPoints(o, ws.Settings, CodedPoints(ws.Coords, ws.Settings), err);
  err << "kestrova-cli: wrote " << ws.Drawing.EntityListCount << " entities of " << drawn
      << " points to " << OutputName(o.output) << " (version " << o.jwwVersion << ")\n";
  return 0;
}

int RunClip(const DrawingOptions& o, std::ostream& out, std::ostream& err) {
  const auto clipboard = o.output.empty() ? SystemClipboardSink() : nullptr;
  if (o.output.empty() && !clipboard && ::isatty(STDOUT_FILENO)) {
    throw UsageError("the clipboard drawing is binary; give -o PAYLOAD or redirect the output");
  }
  // Without a clipboard the drawing goes to standard output, which may be an input too.
  if (!o.output.empty() || !clipboard) {
    CheckOutput(o.output.empty() ? std::string(kStandardStream) : o.output, Inputs(o));
  }
  // As the drawing file: files that need no GIS reader are drawn from temporary files,
  // never held as a table.
  Workspace ws;
  ReadSettings(o, ws);
  std::unique_ptr<StreamedDrawingData> streamed;
  bool simaLoaded = false;
  if (StreamableFiles(o.files, o.crs)) streamed = StreamedData(o.baseRow, err);
  if (streamed) {
    try {
      simaLoaded = GatherDrawing(o, *streamed, err);
    } catch (const TableNeeded&) {
      streamed.reset();
    }
  }
  if (!streamed) {
    LoadWorkspace(o, ws, err);
    DrawnPoints(ws.Coords, err);
  }
  WarnOfBaseRow(o, ws.Settings, streamed ? streamed->PointCount() : ws.Coords.Table.PointCount,
                err);
  // As at the desktop program's start: Jw_cad's settings give the text sizes.
  if (const auto source = JwCadSource(o)) ReadJwCadSettings(*source, ws.Drawing.Header, ws.JwCad);
  const auto transfer = [&](ClipboardSink& sink, ProgressMonitor& progress) {
    if (streamed) {
      TransferStreamedToJwCad(ws, *streamed, simaLoaded, sink, &progress);
    } else {
      TransferToJwCad(ws, o.baseRow, sink, &progress);
    }
  };
  if (clipboard) {
    {
      TerminalProgress progress(err, StandardErrorIsTerminal(), "building the clipboard drawing");
      transfer(*clipboard, progress);
    }
    err << "kestrova-cli: put the drawing of " << ws.Drawing.EntityListCount
        << " entities on the clipboard\n";
    return 0;
  }
  if (o.output.empty() || o.output == kStandardStream) {
    out.flush();
    FileClipboardSink sink(OpenOutput(std::string(kStandardStream)));
    TerminalProgress progress(err, StandardErrorIsTerminal(), "building the clipboard drawing");
    transfer(sink, progress);
    return 0;
  }
  FileClipboardSink sink(OpenOutput(o.output));
  {
    TerminalProgress progress(err, StandardErrorIsTerminal(), "writing " + o.output);
    transfer(sink, progress);
  }
  err << "kestrova-cli: wrote the clipboard drawing of " << ws.Drawing.EntityListCount
      << " entities to " << o.output << "\n";
  return 0;
}

}  // namespace kestrova::cli
