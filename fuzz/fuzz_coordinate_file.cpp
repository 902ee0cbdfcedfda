// Feeds arbitrary bytes to the coordinate file readers, replacing and appending, and
// writes what was read in every format.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/error.h"
#include "coords/coordinate_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  kestrova::CoordinateData d;
  try {
    kestrova::LoadCoordinateText(text, "fuzz", d, false);
    kestrova::LoadCoordinateText(text, "fuzz", d, true);
  } catch (const kestrova::Error&) {
  }
  for (auto f : {kestrova::CoordinateFormat::kZhy, kestrova::CoordinateFormat::kSima,
                 kestrova::CoordinateFormat::kApa, kestrova::CoordinateFormat::kCsv}) {
    kestrova::FormatCoordinateFile(d, f);
  }
  return 0;
}
