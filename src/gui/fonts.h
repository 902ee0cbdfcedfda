#pragma once

#include <QFont>

namespace kestrova {

// The program names the Windows faces "ＭＳ ゴシック" and "ＭＳ Ｐゴシック"; here they resolve
// to the IPA Gothic fonts, so Japanese text never shows as empty boxes.
void InstallFontSubstitutes();

// "ＭＳ ゴシック" (fixed pitch) and "ＭＳ Ｐゴシック" (proportional) at a pixel height.
QFont GothicFont(int pixelSize);
QFont PGothicFont(int pixelSize);

}  // namespace kestrova
