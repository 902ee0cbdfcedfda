#include "gis/survey_systems.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "common/number_text.h"
#include "common/sjis.h"

namespace kestrova {

const char kSurveySystemHint[] =
    "give --crs EPSG:N for the survey coordinate system (JGD2011 zones I to XIX are "
    "EPSG:6669 to 6687, JGD2000 zones EPSG:2443 to 2461, Tokyo datum zones EPSG:30161 to "
    "30179)";

namespace {

constexpr std::array<std::string_view, 19> kRoman = {
    "I",  "II",  "III",  "IV",  "V",  "VI",  "VII",  "VIII",  "IX", "X",
    "XI", "XII", "XIII", "XIV", "XV", "XVI", "XVII", "XVIII", "XIX"};

}  // namespace

const std::vector<SurveySystem>& OfferedSurveySystems() {
  static const std::vector<SurveySystem> systems = [] {
    std::vector<SurveySystem> list;
    for (const auto& [datum, first] :
         {std::pair{"JGD2011", 6669}, std::pair{"JGD2000", 2443}, std::pair{"日本測地系", 30161}}) {
      for (int32_t z = 0; z < 19; ++z) {
        list.push_back({first + z, std::string(datum) + " 平面直角座標系 第" +
                                       std::string(kRoman[static_cast<size_t>(z)]) + "系"});
      }
    }
    return list;
  }();
  return systems;
}

std::string ZoneNumeral(int zone) {
  return zone >= 1 && zone <= 19 ? std::string(kRoman[static_cast<size_t>(zone - 1)])
                                 : std::to_string(zone);
}

std::optional<int> ZoneNamedIn(std::string_view title) {
  // Full-width letters and digits and the Roman numeral characters Ⅰ..Ⅻ, as a Japanese
  // keyboard may have typed them.
  static const std::array<std::pair<std::string_view, std::string_view>, 15> kWide = {
      {{"Ｉ", "I"},
       {"Ｖ", "V"},
       {"Ｘ", "X"},
       {"０", "0"},
       {"１", "1"},
       {"２", "2"},
       {"３", "3"},
       {"４", "4"},
       {"５", "5"},
       {"６", "6"},
       {"７", "7"},
       {"８", "8"},
       {"９", "9"},
       {"ｉ", "I"},
       {"ｘ", "X"}}};
  static const std::array<std::string_view, 12> kNumerals = {"Ⅰ", "Ⅱ", "Ⅲ", "Ⅳ", "Ⅴ", "Ⅵ",
                                                             "Ⅶ", "Ⅷ", "Ⅸ", "Ⅹ", "Ⅺ", "Ⅻ"};
  constexpr std::string_view kDai = "第";
  constexpr std::string_view kKei = "系";
  for (size_t at = title.find(kDai); at != std::string_view::npos;
       at = title.find(kDai, at + kDai.size())) {
    const size_t begin = at + kDai.size();
    const size_t end = title.find(kKei, begin);
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view inner = title.substr(begin, end - begin);
    for (size_t n = 0; n < kNumerals.size(); ++n) {
      if (inner == kNumerals[n]) return static_cast<int>(n + 1);
    }
    std::string plain;
    while (!inner.empty()) {
      bool wide = false;
      for (const auto& [from, to] : kWide) {
        if (inner.substr(0, from.size()) == from) {
          plain += to;
          inner.remove_prefix(from.size());
          wide = true;
          break;
        }
      }
      if (wide) continue;
      plain += static_cast<char>(std::toupper(static_cast<unsigned char>(inner.front())));
      inner.remove_prefix(1);
    }
    for (size_t n = 0; n < kRoman.size(); ++n) {
      if (plain == kRoman[n]) return static_cast<int>(n + 1);
    }
    if (!plain.empty() && plain.size() <= 2 &&
        std::all_of(plain.begin(), plain.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      const int zone = std::stoi(plain);
      if (zone >= 1 && zone <= 19) return zone;
    }
  }
  return std::nullopt;
}

std::optional<int> ZoneOfSystem(int32_t epsg) {
  if (epsg >= 6669 && epsg <= 6687) return epsg - 6668;
  if (epsg >= 2443 && epsg <= 2461) return epsg - 2442;
  if (epsg >= 30161 && epsg <= 30179) return epsg - 30160;
  return std::nullopt;
}

std::optional<Datum> DatumOfSystem(int32_t epsg) {
  if (epsg >= 6669 && epsg <= 6687) return Datum::kJgd2011;
  if (epsg >= 2443 && epsg <= 2461) return Datum::kJgd2000;
  if (epsg >= 30161 && epsg <= 30179) return Datum::kTokyo;
  return std::nullopt;
}

int32_t SystemOfZone(int zone, Datum d) {
  switch (d) {
    case Datum::kTokyo:
      return 30160 + zone;
    case Datum::kJgd2000:
      return 2442 + zone;
    case Datum::kJgd2011:
      break;
  }
  return 6668 + zone;
}

std::optional<TitleDatum> DatumNamedIn(std::string_view title) {
  // Full-width ASCII (U+FF01..U+FF5E) to ASCII, letters to capitals, blanks and brackets
  // dropped.
  const auto upper = [](unsigned v) {
    return static_cast<char>(v >= 'a' && v <= 'z' ? v - 'a' + 'A' : v);
  };
  std::string plain;
  for (size_t i = 0; i < title.size();) {
    const auto c = static_cast<unsigned char>(title[i]);
    if (c == 0xEF && i + 2 < title.size()) {
      const unsigned code = (static_cast<unsigned char>(title[i + 1]) & 0x3Fu) << 6 |
                            (static_cast<unsigned char>(title[i + 2]) & 0x3Fu);
      const unsigned wide = 0xF000u | code;
      if (wide >= 0xFF01 && wide <= 0xFF5E) {
        const char ascii = upper(wide - 0xFF01 + 0x21);
        if (ascii != '(' && ascii != ')') plain += ascii;
        i += 3;
        continue;
      }
    }
    const std::string_view three = title.substr(i, 3);
    if (three == "　" || three == "【" || three == "】" || three == "〔" || three == "〕") {
      i += 3;
      continue;
    }
    if (c != ' ' && c != '\t' && c != '(' && c != ')') plain += upper(c);
    ++i;
  }
  const auto has = [&plain](std::string_view word) {
    return plain.find(word) != std::string::npos;
  };
  // "日本測地系2011" is the official name of JGD2011 (and so with 2000); "日本測地系"
  // alone, or "旧日本測地系", is the Tokyo datum.
  constexpr std::string_view kJapan = "日本測地系";
  TitleDatum d;
  d.tokyo = has("旧測地系");
  bool named2011 = false, named2000 = false;
  for (size_t at = plain.find(kJapan); at != std::string::npos;
       at = plain.find(kJapan, at + kJapan.size())) {
    // A year of the survey ("日本測地系 2000年度") is no realisation.
    const std::string_view after = std::string_view(plain).substr(at + kJapan.size(), 7);
    const bool year =
        after.size() > 4 && (after.substr(4) == "年" || (after[4] >= '0' && after[4] <= '9'));
    if ((after.substr(0, 4) != "2011" && after.substr(0, 4) != "2000") || year) {
      d.tokyo = true;
    } else {
      (after.substr(0, 4) == "2011" ? named2011 : named2000) = true;
    }
  }
  const bool y2011 = has("JGD2011") || has("測地成果2011") || named2011;
  const bool y2000 = has("JGD2000") || has("測地成果2000") || named2000;
  const bool jgd = has("世界測地系") || has("JGD") || y2011 || y2000;
  if (d.tokyo == jgd) return std::nullopt;  // neither, or both
  if (y2011 != y2000) d.realisation = y2011 ? Datum::kJgd2011 : Datum::kJgd2000;
  return d;
}

std::string DatumName(Datum d, bool japanese) {
  switch (d) {
    case Datum::kTokyo:
      return japanese ? "日本測地系" : "the Tokyo datum";
    case Datum::kJgd2000:
      return japanese ? "世界測地系（JGD2000）" : "JGD2000";
    case Datum::kJgd2011:
      break;
  }
  return japanese ? "世界測地系（JGD2011）" : "JGD2011";
}

std::string DatumName(const TitleDatum& d, bool japanese) {
  if (d.tokyo) return DatumName(Datum::kTokyo, japanese);
  if (d.realisation) return DatumName(*d.realisation, japanese);
  return japanese ? "世界測地系" : "JGD";
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
