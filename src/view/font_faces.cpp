#include "view/font_faces.h"

#include <array>
#include <utility>

namespace kestrova {

std::string_view InstalledFaceFor(std::string_view face) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kFaces = {{
      {"\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e", "IPAGothic"},  // ＭＳ ゴシック
      {"\x82\x6c\x82\x72\x83\x53\x83\x56\x83\x62\x83\x4e", "IPAGothic"},      // ＭＳゴシック
      {"\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e",
       "IPAPGothic"},  // ＭＳ Ｐゴシック
      {"\x82\x6c\x82\x72\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e", "IPAPGothic"},  // ＭＳＰゴシック
      {"\x82\x6c\x82\x72\x20\x96\xbe\x92\xa9", "IPAMincho"},                       // ＭＳ 明朝
      {"\x82\x6c\x82\x72\x96\xbe\x92\xa9", "IPAMincho"},                           // ＭＳ明朝
      {"\x82\x6c\x82\x72\x20\x82\x6f\x96\xbe\x92\xa9", "IPAPMincho"},  // ＭＳ Ｐ明朝
  }};
  for (const auto& [windowsFace, installed] : kFaces)
    if (windowsFace == face) return installed;
  return {};
}

}  // namespace kestrova
