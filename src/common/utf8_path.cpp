#include "common/utf8_path.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#endif

namespace kestrova {

std::filesystem::path AbsolutePath(const std::filesystem::path& path) {
#ifdef _WIN32
  // The C++ library's own takes a network name (\\server\share\site.sim) for one on the
  // current drive (C:\server\share\site.sim); the system's says where a name is.
  const std::wstring& name = path.native();
  if (!name.empty()) {
    std::wstring full(MAX_PATH, L'\0');
    for (int tries = 0; tries < 2; ++tries) {
      const DWORD size =
          GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
      if (size == 0) break;
      if (size < full.size()) {
        full.resize(size);
        return full;
      }
      full.resize(size);  // the room it asks for, terminator included
    }
  }
#endif
  return std::filesystem::absolute(path);
}

}  // namespace kestrova
