#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// A coordinate system a site may be surveyed in, by its EPSG code.
struct SurveySystem {
  int32_t Epsg = 0;
  std::string Name;  // UTF-8, as a list shows it: "JGD2011 平面直角座標系 第IX系"
};

// The systems to offer first: the nineteen zones of the plane rectangular coordinate
// systems in JGD2011 (EPSG:6669..6687), then in JGD2000 (EPSG:2443..2461).
const std::vector<SurveySystem>& OfferedSurveySystems();

// "EPSG:6677" (any case, blanks around it allowed) to 6677; nullopt for anything else.
std::optional<int32_t> ParseEpsgName(std::string_view text);

// 6677 to "EPSG:6677".
std::string EpsgName(int32_t epsg);

// How to name a system, for messages that ask for one.
extern const char kSurveySystemHint[];

}  // namespace kestrova
