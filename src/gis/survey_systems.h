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

// The systems to offer: the nineteen zones of the plane rectangular coordinate systems in
// JGD2011 (EPSG:6669..6687), then in JGD2000 (EPSG:2443..2461), then on the Tokyo datum
// of older surveys (EPSG:30161..30179).
const std::vector<SurveySystem>& OfferedSurveySystems();

// The zone of the plane rectangular systems a title names, as SIMA files write it:
// "第IX系", "第９系", "第Ⅸ系" (UTF-8) give 9; nullopt when it names none of 1..19.
std::optional<int> ZoneNamedIn(std::string_view utf8Title);
// "IX" for zone 9.
std::string ZoneNumeral(int zone);
// The zone of an offered system; nullopt for others.
std::optional<int> ZoneOfSystem(int32_t epsg);

// The geodetic datum of an offered system. The same plane coordinates lie some 400 m
// apart on the Tokyo datum and on JGD, and up to a few metres apart on JGD2000 and
// JGD2011 where the 2011 earthquake moved the ground.
enum class Datum { kTokyo, kJgd2000, kJgd2011 };
std::optional<Datum> DatumOfSystem(int32_t epsg);
// The system of a zone 1..19 on a datum.
int32_t SystemOfZone(int zone, Datum d);

// What a SIMA title says of the datum: "日本測地系" or "旧測地系" the Tokyo datum,
// "世界測地系" JGD, "測地成果2011", "日本測地系2011" or "JGD2011" (and the same with
// 2000) one of its realisations. Full-width letters and digits count as their ASCII,
// blanks and brackets not at all.
struct TitleDatum {
  bool tokyo = false;                // the Tokyo datum
  std::optional<Datum> realisation;  // JGD2000 or JGD2011 when the title says which
  bool Fits(Datum d) const {
    return tokyo ? d == Datum::kTokyo : d != Datum::kTokyo && (!realisation || d == *realisation);
  }
};
// nullopt when the title names no datum, or names both.
std::optional<TitleDatum> DatumNamedIn(std::string_view utf8Title);
// "the Tokyo datum", "JGD2000", "JGD2011"; in Japanese "日本測地系", "世界測地系（JGD2000）",
// "世界測地系（JGD2011）".
std::string DatumName(Datum d, bool japanese);
// The same for what a title names: JGD without a realisation is "JGD", "世界測地系".
std::string DatumName(const TitleDatum& d, bool japanese);

// "EPSG:6677" (any case, blanks around it allowed) to 6677; nullopt for anything else.
std::optional<int32_t> ParseEpsgName(std::string_view text);

// 6677 to "EPSG:6677".
std::string EpsgName(int32_t epsg);

// How to name a system, for messages that ask for one.
extern const char kSurveySystemHint[];

}  // namespace kestrova
