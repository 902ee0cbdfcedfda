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

// The zone of the plane rectangular systems a title names, as SIMA files write it:
// "第IX系", "第９系", "第Ⅸ系" (UTF-8) give 9; nullopt when it names none of 1..19.
std::optional<int> ZoneNamedIn(std::string_view utf8Title);
// "IX" for zone 9.
std::string ZoneNumeral(int zone);
// The zone of an offered system (EPSG:6669..6687 or 2443..2461); nullopt for others.
std::optional<int> ZoneOfSystem(int32_t epsg);
// The JGD2011 system of a zone 1..19.
inline int32_t Jgd2011Zone(int zone) {
  return 6668 + zone;
}

// "EPSG:6677" (any case, blanks around it allowed) to 6677; nullopt for anything else.
std::optional<int32_t> ParseEpsgName(std::string_view text);

// 6677 to "EPSG:6677".
std::string EpsgName(int32_t epsg);

// How to name a system, for messages that ask for one.
extern const char kSurveySystemHint[];

}  // namespace kestrova
