// kestrova-cli: the core's commands for batch work and scripts. Every command reads and
// writes the same files as the desktop program. Texts are printed in UTF-8.

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/error.h"

int main(int argc, char** argv) {
  using namespace kestrova::cli;
  CLI::App app{"Kestrova: survey coordinate files and Jw_cad drawings", "kestrova-cli"};
  app.set_version_flag("--version", std::string("kestrova-cli ") + KESTROVA_VERSION);
  app.require_subcommand(1);

  std::vector<std::string> files;
  std::string output;
  std::string format;

  CLI::App* info = app.add_subcommand("info", "Load coordinate files and describe what they hold");
  info->add_option("FILE", files, "coordinate files; the first replaces, the rest append")
      ->required();

  CLI::App* exportCmd =
      app.add_subcommand("export", "Load coordinate files and write the points in one format");
  exportCmd->add_option("FILE", files, "coordinate files; the first replaces, the rest append")
      ->required();
  exportCmd->add_option("-o,--output", output, "file to write")->required();
  exportCmd->add_option("--format", format, "zhy, csv, sima or apa (default: from the extension)")
      ->check(CLI::IsMember({"zhy", "csv", "sima", "apa"}));

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
    if (info->parsed()) return RunInfo(files, std::cout);
    if (dump->parsed()) return RunDump(drawing, json, std::cout);
    if (exportCmd->parsed()) return RunExport(files, output, format, std::cerr);
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
