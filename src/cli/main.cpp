#include <CLI/CLI.hpp>

#include <iostream>

#include "common/error.h"

int main(int argc, char** argv) {
  CLI::App app{"Kestrova: survey coordinates to Jw_cad drawings", "kestrova-cli"};
  app.set_version_flag("--version", std::string("kestrova-cli ") + KESTROVA_VERSION);
  app.require_subcommand(0, 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  try {
    if (app.get_subcommands().empty()) {
      std::cout << app.help();
      return 0;
    }
  } catch (const kestrova::Error& e) {
    std::cerr << "kestrova-cli: error: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
