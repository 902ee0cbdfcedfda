#include "gui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kestrova {

bool InstallQtTranslations() {
  // A Windows .exe has no Qt translations folder beside it: the catalogue is built in.
  static QTranslator texts;
  if (!texts.load(QStringLiteral(":/kestrova/translations/qtbase_ja.qm")) &&
      !texts.load(QStringLiteral("qtbase_ja"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  return QCoreApplication::installTranslator(&texts);
}

}  // namespace kestrova
