// Feeds arbitrary bytes to the registry text parser and reads Jw_cad's settings from
// whatever it accepted.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/error.h"
#include "jww/jwcad_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    auto map = kestrova::JwCadSettingsMap::FromRegText(
        std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.reg");
    kestrova::JwwHeader header;
    kestrova::JwCadExtras extras;
    kestrova::ReadJwCadSettings(map, header, extras);
  } catch (const kestrova::Error&) {
  }
  return 0;
}
