// The SVG plot from arbitrary bytes: a settings file, a coordinate file (hostile names
// and coordinates) and the plot's size. The document is always well formed: UTF-8,
// escaped texts, numbers that are numbers, balanced elements.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings_file.h"
#include "cli/commands.h"
#include "common/error.h"
#include "coords/coordinate_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  fuzz::Bytes in(data, size);
  cli::PlotSize box;
  box.width = 1 + in.Raw<uint16_t>() % 3000;
  box.height = 1 + in.Raw<uint16_t>() % 3000;
  JwCadExtras extras;
  extras.DrawOutLine = in.Byte() % 4;
  extras.OutLineExpansion = in.Double();
  const OutputSettings settings = ReadSettings(IniFile::Parse(in.Text()), "");
  CoordinateData coords;
  try {
    if (!LoadCoordinateText(std::string(in.Rest()), "fuzz", coords, false)) return 0;
  } catch (const Error&) {
    return 0;
  }
  const std::string svg = cli::PlotSvg(coords, settings, extras, box);
  fuzz::Require(svg.starts_with("<?xml") || svg.starts_with("<svg"));
  fuzz::Require(fuzz::SaneSvg(svg));
  return 0;
}
