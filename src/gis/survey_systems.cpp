#include "gis/survey_systems.h"

#include "common/number_text.h"
#include "common/sjis.h"

namespace kestrova {

const char kSurveySystemHint[] =
    "give --crs EPSG:N for the survey coordinate system (JGD2011 zones I to XIX are "
    "EPSG:6669 to 6687, JGD2000 zones EPSG:2443 to 2461)";

const std::vector<SurveySystem>& OfferedSurveySystems() {
  static const std::vector<SurveySystem> systems = [] {
    static const char* const kZones[] = {"I",    "II",  "III",  "IV",    "V",   "VI",   "VII",
                                         "VIII", "IX",  "X",    "XI",    "XII", "XIII", "XIV",
                                         "XV",   "XVI", "XVII", "XVIII", "XIX"};
    std::vector<SurveySystem> list;
    for (const auto& [datum, first] : {std::pair{"JGD2011", 6669}, std::pair{"JGD2000", 2443}}) {
      for (int32_t z = 0; z < 19; ++z) {
        list.push_back({first + z, std::string(datum) + " 平面直角座標系 第" + kZones[z] + "系"});
      }
    }
    return list;
  }();
  return systems;
}

std::optional<int32_t> ParseEpsgName(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() < 6) return std::nullopt;
  for (size_t i = 0; i < 5; ++i) {
    const char c = text[i];
    const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper != "EPSG:"[i]) return std::nullopt;
  }
  const std::string_view digits = text.substr(5);
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const std::optional<int32_t> code = ParseInt(digits);
  if (!code || *code <= 0) return std::nullopt;
  return code;
}

std::string EpsgName(int32_t epsg) {
  return "EPSG:" + std::to_string(epsg);
}

}  // namespace kestrova
