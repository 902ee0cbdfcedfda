#include <QApplication>
#include <QProxyStyle>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string_view>

#include "app/manual.h"
#include "app/messages.h"
#include "app/settings_file.h"
#include "common/atomic_file.h"
#include "common/version.h"
#include "gui/fonts.h"
#include "gui/main_window.h"
#include "gui/printing.h"
#include "gui/qt_text.h"
#include "gui/qt_translations.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Dialog buttons carry only their captions, as on the desktop surveyors know.
class DesktopStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_DialogButtonBox_ButtonsHaveIcons) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

#ifdef _WIN32
// The program is a window program, so Windows gives it no console: what --print-pdf
// and --version say goes to the command prompt it was started from, unless it is
// redirected already.
void UseStartingConsole(DWORD which, FILE* stream) {
  const HANDLE handle = GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
      GetFileType(handle) != FILE_TYPE_UNKNOWN) {
    return;
  }
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    FILE* reopened = nullptr;
    freopen_s(&reopened, "CONOUT$", "w", stream);
  }
}
#endif

// --print-pdf anywhere before "--" prints instead of opening the window.
bool AsksForPdf(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--") return false;
    if (a == "--print-pdf" || a.starts_with("--print-pdf=")) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  kestrova::PrepareFileWriting();
  // Answered before Qt starts, so it needs no display.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
#ifdef _WIN32
    UseStartingConsole(STD_OUTPUT_HANDLE, stdout);
#endif
    std::printf("kestrova %s\n", kestrova::VersionText());
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  const bool printPdf = AsksForPdf(argc, argv);
#ifdef _WIN32
  // Windows draws and measures text with its own fonts without showing a window.
  if (printPdf) UseStartingConsole(STD_ERROR_HANDLE, stderr);
  // Small unsmoothed text drawn by Windows' own rasteriser loses its thin strokes: with
  // the IPA fonts a "1" lost its flag and read as "I" in the plot's point names, and an
  // underscore vanished. Qt's FreeType engine keeps them, as the Linux program draws
  // them. A platform named by the user is left as it is.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
  }
#else
  // Printing to a PDF needs no window: it also runs where there is no display.
  if (printPdf && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
#endif
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrova"));
  QApplication::setStyle(new DesktopStyle);
  QApplication::setApplicationVersion(QStringLiteral(KESTROVA_VERSION));
  kestrova::InstallFontSubstitutes();
  QApplication::setFont(kestrova::GothicFont(12));
  // Qt's own dialogs and menus speak the program's language.
  kestrova::InstallQtTranslations();

  if (printPdf) return kestrova::RunPrintPdf(QApplication::arguments().mid(1));

  const std::filesystem::path programFile = kestrova::QtToPath(QApplication::applicationFilePath());
  kestrova::MainWindowSetup setup;
  setup.programFolder = programFile.parent_path();
  setup.settingsFile = kestrova::SettingsFilePath(programFile);
  setup.manualFile = kestrova::FindManual(setup.programFolder);
  std::vector<std::string> unreadJwCad;
  try {
    setup.jwcadSource = kestrova::DefaultJwCadSettingsSource();
  } catch (const std::exception& e) {
    unreadJwCad.push_back(kestrova::WindowText(e));  // the program works on without them
  }

  auto ws = std::make_unique<kestrova::Workspace>();
  kestrova::MainWindow window(*ws, std::move(setup));
  kestrova::StartUpProblems problems = window.Start();
  problems.warnings.insert(problems.warnings.begin(), unreadJwCad.begin(), unreadJwCad.end());
  window.show();

  std::vector<std::filesystem::path> files;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i)
    files.push_back(kestrova::QtToPath(arguments[i]));
  QTimer::singleShot(0, &window, [&window, problems, files] {
    window.ShowProblems(problems);
    window.LoadFiles(files);
  });
  return QApplication::exec();
}
