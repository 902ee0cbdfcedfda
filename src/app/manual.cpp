#include "app/manual.h"

namespace kestrova {

std::vector<std::filesystem::path> ManualCandidates(const std::filesystem::path& programFolder) {
  namespace fs = std::filesystem;
  std::vector<fs::path> candidates = {
      programFolder / "docs" / "manual" / "index.html",
      programFolder / "manual" / "index.html",  // the unzipped Windows folder
      (programFolder / ".." / "share" / "kestrova" / "manual" / "index.html").lexically_normal(),
  };
#ifdef KESTROVA_SOURCE_MANUAL_DIR
  candidates.push_back(fs::path(KESTROVA_SOURCE_MANUAL_DIR) / "index.html");
#endif
  return candidates;
}

std::filesystem::path FindManual(const std::filesystem::path& programFolder) {
  for (const std::filesystem::path& candidate : ManualCandidates(programFolder)) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

}  // namespace kestrova
