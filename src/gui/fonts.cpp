#include "gui/fonts.h"

#include <QString>
#include <QStringList>

namespace kestrova {

namespace {

const QString kGothic = QStringLiteral("ＭＳ ゴシック");
const QString kPGothic = QStringLiteral("ＭＳ Ｐゴシック");

}  // namespace

void InstallFontSubstitutes() {
  // Windows has these faces; elsewhere the IPA fonts stand in for them, and Takao and VL
  // fonts when those are missing too. A Windows without the Japanese supplemental fonts
  // still has its Japanese UI faces.
  QFont::insertSubstitutions(kGothic,
                             {QStringLiteral("IPAGothic"), QStringLiteral("TakaoGothic"),
                              QStringLiteral("VL Gothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                              QStringLiteral("Yu Gothic UI"), QStringLiteral("Meiryo UI")});
  QFont::insertSubstitutions(kPGothic,
                             {QStringLiteral("IPAPGothic"), QStringLiteral("TakaoPGothic"),
                              QStringLiteral("VL PGothic"), QStringLiteral("Noto Sans CJK JP"),
                              QStringLiteral("Yu Gothic UI"), QStringLiteral("Meiryo UI")});
  QFont::insertSubstitutions(QStringLiteral("MS Gothic"), QFont::substitutes(kGothic));
  QFont::insertSubstitutions(QStringLiteral("MS PGothic"), QFont::substitutes(kPGothic));
}

QFont GothicFont(int pixelSize) {
  QFont font(kGothic);
  font.setPixelSize(pixelSize);
  font.setStyleHint(QFont::TypeWriter);
  return font;
}

QFont PGothicFont(int pixelSize) {
  QFont font(kPGothic);
  font.setPixelSize(pixelSize);
  return font;
}

}  // namespace kestrova
