#include <QApplication>
#include <QMetaMethod>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "gui/fonts.h"

QObject* NewWindowTest();
QObject* NewGridTest();
QObject* NewDialogsTest();

namespace {

// Whether the test class has every test function named on the command line.
bool HasFunctions(const QObject& test, const QStringList& names) {
  for (const QString& name : names) {
    if (test.metaObject()->indexOfMethod(
            QMetaObject::normalizedSignature(qPrintable(name + "()"))) < 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

// All widget tests in one program. Test function names on the command line run those
// functions in the class that has them.
int main(int argc, char* argv[]) {
  // Qt keeps file-dialog state in the user's configuration folder; two runs side by side
  // (ctest -j) must not share it, nor leave anything in the real one.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrova"));
  kestrova::InstallFontSubstitutes();
  QApplication::setFont(kestrova::GothicFont(12));
  QStringList functions;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("-o")) {
      ++i;  // the log file, not a test function
    } else if (!arguments[i].startsWith(QLatin1Char('-'))) {
      functions << arguments[i];
    }
  }
  int failures = 0;
  for (auto make : {NewWindowTest, NewGridTest, NewDialogsTest}) {
    std::unique_ptr<QObject> test(make());
    if (!HasFunctions(*test, functions)) continue;
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
