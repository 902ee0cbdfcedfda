#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "gis/gis_module.h"

namespace kestrova::cli {

// The places the GIS module is looked for, in order: beside the program (the build tree
// and a folder copied as a whole), then the library folder of the prefix the program is
// installed under.
std::vector<std::filesystem::path> GisModuleCandidates(const std::filesystem::path& programFolder);

// The module from the first candidate that loads and comes from this build. Otherwise
// throws kestrova::Error: "what needs the GIS module ..., which could not be loaded: "
// and, for each candidate, why not. The module stays loaded.
const GisModule& LoadGisModule(const std::vector<std::filesystem::path>& candidates,
                               const std::string& what);

// The GIS functions, loaded on first use from beside the running program or its install
// location; what names the work that needs them, for the error.
const GisModule& Gis(const std::string& what);

}  // namespace kestrova::cli
