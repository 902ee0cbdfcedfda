#include "gui/fonts.h"

#include <QString>
#include <QStringList>

namespace kestrova {

namespace {

const QString kGothic = QStringLiteral("ＭＳ ゴシック");
const QString kPGothic = QStringLiteral("ＭＳ Ｐゴシック");

}  // namespace

void InstallFontSubstitutes() {
  // Takao and VL fonts are the usual stand-ins when the IPA fonts are missing.
  QFont::insertSubstitutions(
      kGothic, {QStringLiteral("IPAGothic"), QStringLiteral("TakaoGothic"),
                QStringLiteral("VL Gothic"), QStringLiteral("Noto Sans Mono CJK JP")});
  QFont::insertSubstitutions(kPGothic,
                             {QStringLiteral("IPAPGothic"), QStringLiteral("TakaoPGothic"),
                              QStringLiteral("VL PGothic"), QStringLiteral("Noto Sans CJK JP")});
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
