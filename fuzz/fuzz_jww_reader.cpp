// Feeds arbitrary bytes to the drawing reader: it must reject them with an error, never
// crash, hang or allocate without bound.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/error.h"
#include "jww/jww_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    kestrova::ReadJwwDrawing(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const kestrova::Error&) {
  }
  return 0;
}
