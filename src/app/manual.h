#pragma once

#include <filesystem>
#include <vector>

namespace kestrova {

// The places where the help manual (index.html of docs/manual) is looked for, in order:
// - "docs/manual" beside the program: a folder unpacked or copied as a whole;
// - "../share/kestrova/manual" from the program's folder: an installed program
//   (bin/kestrova and share/kestrova/manual under the same prefix);
// - the source tree's "docs/manual": a program run from its build tree.
std::vector<std::filesystem::path> ManualCandidates(const std::filesystem::path& programFolder);

// The first candidate that exists, or an empty path when none does.
std::filesystem::path FindManual(const std::filesystem::path& programFolder);

}  // namespace kestrova
