#include "cli/gis_loader.h"

#include "common/error.h"

#ifdef KESTROVA_GIS_MODULE_FILE
#include <dlfcn.h>
#endif

namespace kestrova::cli {

#ifdef KESTROVA_GIS_MODULE_FILE

namespace {

// A table from another build may lay out the C++ types it passes differently; calling
// into it could corrupt memory instead of failing.
std::string Mismatch(const GisModule* table) {
  if (!table) return "its table is missing";
  // Only the first two fields are where they are in every version of the table.
  if (table->Version != kGisModuleVersion || table->Size != sizeof(GisModule)) {
    return "it belongs to another build (table " + std::to_string(table->Version) + " of " +
           std::to_string(table->Size) + " bytes, not " + std::to_string(kGisModuleVersion) +
           " of " + std::to_string(sizeof(GisModule)) + ")";
  }
  const std::string version = table->ProgramVersion ? table->ProgramVersion : "?";
  if (table->Layout != kGisModuleLayout || version != KESTROVA_VERSION) {
    return "it belongs to another build (kestrova " + version + "), not to kestrova " +
           KESTROVA_VERSION;
  }
  return {};
}

std::string LastDlError() {
  const char* e = ::dlerror();
  return e ? e : "unknown failure";
}

}  // namespace

std::vector<std::filesystem::path> GisModuleCandidates(const std::filesystem::path& programFolder) {
  return {
      programFolder / KESTROVA_GIS_MODULE_FILE,
      (programFolder / KESTROVA_GIS_MODULE_FROM_BIN / KESTROVA_GIS_MODULE_FILE).lexically_normal()};
}

const GisModule& LoadGisModule(const std::vector<std::filesystem::path>& candidates,
                               const std::string& what) {
  std::string failures;
  for (const std::filesystem::path& candidate : candidates) {
    const std::string path = candidate.string();
    std::string why;
    if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      using Entry = const GisModule* (*)();
      const auto entry = reinterpret_cast<Entry>(::dlsym(handle, kGisModuleEntry));
      const GisModule* table = entry ? entry() : nullptr;
      why = entry ? Mismatch(table) : LastDlError();
      if (why.empty()) return *table;
      ::dlclose(handle);
    } else {
      why = LastDlError();
    }
    // dlerror names the file only when the file itself was not found.
    if (why.rfind(path, 0) != 0) why = path + ": " + why;
    failures += (failures.empty() ? "" : "; ") + why;
  }
  throw Error(what +
              " needs the GIS module " KESTROVA_GIS_MODULE_FILE ", which could not be loaded: " +
              (failures.empty() ? "no place to look for it" : failures));
}

const GisModule& Gis(const std::string& what) {
  static const GisModule* loaded = nullptr;
  if (loaded) return *loaded;
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    throw Error(what +
                " needs the GIS module " KESTROVA_GIS_MODULE_FILE
                ", and the program's folder is unknown: /proc/self/exe: " +
                ec.message());
  }
  loaded = &LoadGisModule(GisModuleCandidates(program.parent_path()), what);
  return *loaded;
}

#else  // the GIS functions are linked into the program

std::vector<std::filesystem::path> GisModuleCandidates(const std::filesystem::path&) {
  return {};
}

const GisModule& LoadGisModule(const std::vector<std::filesystem::path>&, const std::string&) {
  return *KestrovaGisModule();
}

const GisModule& Gis(const std::string&) {
  return *KestrovaGisModule();
}

#endif

}  // namespace kestrova::cli
