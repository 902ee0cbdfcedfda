// kestrova-cli: the core's commands for batch work and scripts. Every command reads and
// writes the same files as the desktop program. Texts are printed in UTF-8.

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/files.h"
#include "common/error.h"
#include "common/version.h"
#ifdef _WIN32
#include "cli/windows_console.h"
#endif

namespace {

// What a command printed reached standard output: a full disk or a failing device is
// an error as for any file that cannot be written.
int CheckedOutput(int status) {
  errno = 0;
  std::cout.flush();
  if (std::fflush(stdout) != 0) std::cout.setstate(std::ios::badbit);
  kestrova::cli::CheckWritten(std::cout, "standard output");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrova::cli;
  kestrova::PrepareFileWriting();
#ifdef _WIN32
  WindowsConsole console(argc, argv);
  argc = console.Argc();
  argv = console.Argv();
#endif
  CLI::App app{"Kestrova: survey coordinate files and Jw_cad drawings", "kestrova-cli"};
  app.set_version_flag("--version", std::string("kestrova-cli ") + kestrova::VersionText());
  app.require_subcommand(1);
#ifdef _WIN32
  // "/tmp/site.sim" (Wine, MSYS) is a file, not a Windows-style option.
  app.allow_windows_style_options(false);
#endif

  std::vector<std::string> files;
  std::string crs;
  const char* const crsHelp =
      "survey coordinate system of GIS files, EPSG:N (JGD2011 zones I-XIX: EPSG:6669-6687)";

  CLI::App* info = app.add_subcommand("info", "Load coordinate files and describe what they hold");
  info->add_option("FILE", files, "coordinate files; the first replaces, the rest append")
      ->required();
  info->add_option("--crs", crs, crsHelp);

  CLI::App* exportCmd =
      app.add_subcommand("export", "Load coordinate files and write the points in one format");
  ExportOptions exportOptions;
  exportCmd
      ->add_option("FILE", exportOptions.files,
                   "coordinate files; the first replaces, the rest append")
      ->required();
  exportCmd->add_option("-o,--output", exportOptions.output, "file to write")->required();
  exportCmd
      ->add_option("--format", exportOptions.format,
                   "zhy, csv, sima, apa, gpkg, geojson, dxf, kml or shp (default: from the "
                   "extension)")
      ->check(CLI::IsMember({"zhy", "csv", "sima", "apa", "gpkg", "geojson", "dxf", "kml", "shp"}));
  exportCmd->add_option("--crs", exportOptions.crs, crsHelp);
  exportCmd->add_option("--settings", exportOptions.settingsFile,
                        "DXF: the settings file (Kestrova.INI) for layers and labels");
  exportCmd->add_option("--jwcad-settings", exportOptions.jwcadSettings,
                        "DXF: Jw_cad's settings for the text sizes");

  DrawingOptions drawingOptions;
  const auto addDrawingOptions = [&drawingOptions, crsHelp](CLI::App* cmd) {
    cmd->add_option("FILE", drawingOptions.files,
                    "coordinate files; the first replaces, the rest append")
        ->required();
    cmd->add_option("--crs", drawingOptions.crs, crsHelp);
    cmd->add_option("--settings", drawingOptions.settingsFile, "the settings file (Kestrova.INI)");
    cmd->add_option("--jwcad-settings", drawingOptions.jwcadSettings,
                    "Jw_cad's settings: a registry export or a Wine user.reg");
    cmd->add_option("--base-row", drawingOptions.baseRow,
                    "row of the base point when WrtBAse.OutBaseFlg is set (default 1)")
        ->check(CLI::Range(1, std::numeric_limits<int32_t>::max()));
  };
  CLI::App* convert = app.add_subcommand("convert", "Write the points as a Jw_cad drawing (.jww)");
  addDrawingOptions(convert);
  convert->add_option("-o,--output", drawingOptions.output, "the drawing to write")->required();
  convert
      ->add_option("--jww-version", drawingOptions.jwwVersion,
                   "420, 351, 300, 230, 225, 223 or 220")
      ->check(CLI::IsMember({420, 351, 300, 230, 225, 223, 220}));
  CLI::App* clip =
      app.add_subcommand("clip", "Build the drawing for pasting into Jw_cad (\"Jw_win\" data)");
  addDrawingOptions(clip);
  CLI::Option* clipOutput = clip->add_option("-o,--output", drawingOptions.output,
                                             "file for the payload (default: standard output)");

  PlotOptions plotOptions;
  std::string plotSize;
  CLI::App* plot =
      app.add_subcommand("plot", "Draw the plot of the loaded points as an SVG picture");
  plot->add_option("FILE", plotOptions.files,
                   "coordinate files; the first replaces, the rest append")
      ->required();
  plot->add_option("-o,--output", plotOptions.output,
                   "the SVG file to write, - for standard output")
      ->required();
  plot->add_option("--crs", plotOptions.crs, crsHelp);
  plot->add_option("--size", plotSize, "the plot box in pixels, WxH (default 800x600)");
  plot->add_option("--settings", plotOptions.settingsFile, "the settings file (Kestrova.INI)");
  plot->add_option("--jwcad-settings", plotOptions.jwcadSettings,
                   "Jw_cad's settings: a registry export or a Wine user.reg");

  std::string drawing;
  bool json = false;
  CLI::App* dump =
      app.add_subcommand("dump", "Read a Jw_cad drawing and print its header and entities");
  dump->add_option("FILE", drawing, "the .jww file")->required();
  dump->add_flag("--json", json, "print JSON instead of text");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  try {
    if (clip->parsed() && clipOutput->count() > 0 && drawingOptions.output.empty()) {
      throw UsageError("the output name is empty; give a file name, or - for standard output");
    }
    if (info->parsed()) {
      CheckOutput(std::string(kStandardStream), files, true);  // "info a.sim >> a.sim"
      return CheckedOutput(RunInfo(files, std::cout, crs));
    }
    drawingOptions.baseRowGiven = convert->count("--base-row") + clip->count("--base-row") > 0;
    if (convert->parsed()) return RunConvert(drawingOptions, std::cerr);
    if (clip->parsed()) return CheckedOutput(RunClip(drawingOptions, std::cout, std::cerr));
    if (dump->parsed()) {
      // "dump d.jww >> d.jww" would add the text to the drawing being read.
      CheckOutput(std::string(kStandardStream), {drawing}, true);
#ifdef _WIN32
      return CheckedOutput(RunDump(drawing, json, std::cout));  // the console's line ends
#else
      // A dump runs to gigabytes: into a file it goes past the system's cache.
      const auto writer = OpenOutput(std::string(kStandardStream));
      WriterStream out(*writer);
      const int status = RunDump(drawing, json, out);
      out.Finish();
      writer->Commit();
      return status;
#endif
    }
    if (plot->parsed()) {
      if (!plotSize.empty()) plotOptions.size = ParsePlotSize(plotSize);
      return RunPlot(plotOptions, std::cerr);
    }
    if (exportCmd->parsed()) return RunExport(exportOptions, std::cerr);
  } catch (const UsageError& e) {
    std::cerr << "kestrova-cli: " << e.what() << '\n';
    return 2;
  } catch (const kestrova::Error& e) {
    std::cerr << "kestrova-cli: error: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "kestrova-cli: error: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
