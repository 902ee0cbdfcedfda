// Feeds arbitrary bytes to the settings file reader, writes what it read back into the
// same text and reads that again: a second round trip must not change a byte.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  IniFile ini = IniFile::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  WriteSettings(ReadSettings(ini, "C:\\Kestrova"), ini);
  const std::string once = ini.Text();
  IniFile again = IniFile::Parse(once);
  WriteSettings(ReadSettings(again, "C:\\Kestrova"), again);
  if (again.Text() != once) std::abort();
  return 0;
}
