#pragma once

#include <string_view>

namespace kestrova {

// The installed face that stands in for a Windows face named in code page 932: the IPA
// fonts (fonts-ipafont) have the metrics of the MS faces Jw_cad and the settings name.
// "ＭＳ ゴシック" and "ＭＳゴシック" give "IPAGothic", "ＭＳ Ｐゴシック" "IPAPGothic", the
// Mincho faces "IPAMincho" and "IPAPMincho"; any other face gives an empty view.
std::string_view InstalledFaceFor(std::string_view cp932Face);

// The height above the baseline of a cell of the IPA faces, as a fraction of the cell
// (their ascent and descent fill the em exactly).
inline constexpr double kIpaAscent = 0.88;

}  // namespace kestrova
