#include "gui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kestrova {

QTranslator* InstallQtTranslations() {
  // A Windows .exe has no Qt translations folder beside it: the catalogue is built in.
  static QTranslator texts;
  if (!texts.load(QStringLiteral(":/kestrova/translations/qtbase_ja.qm")) &&
      !texts.load(QStringLiteral("qtbase_ja"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return nullptr;
  }
  return QCoreApplication::installTranslator(&texts) ? &texts : nullptr;
}

}  // namespace kestrova
