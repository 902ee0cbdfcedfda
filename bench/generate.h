#pragma once

#include <filesystem>

namespace kestrova::bench {

// A SIMA site of n points on a grid with n / 10 parcels (four corners each, closed,
// named) and n / 100 polylines, written once to the temporary folder.
std::filesystem::path GeneratedSima(int points);

// The same points as a ZHY file.
std::filesystem::path GeneratedZhy(int points);

}  // namespace kestrova::bench
