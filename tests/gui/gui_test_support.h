#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/flows.h"
#include "gui/main_window.h"
#include "gui/qt_text.h"

namespace kestrova::test {

// Runs action on the next modal dialog once it is on screen. Polls instead of racing
// exec(); gives up after a few seconds, so a dialog that never opens fails the test
// rather than hanging it.
inline void OnNextModal(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  const QDeadlineTimer deadline(5000);
  QObject::connect(timer, &QTimer::timeout, [timer, deadline, action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr && !deadline.hasExpired()) return;
    timer->stop();
    timer->deleteLater();
    if (modal != nullptr) action(modal);
  });
  timer->start();
}

// A main window over its own workspace, with the settings file in a fresh folder.
struct WindowFixture {
  QTemporaryDir dir;
  std::unique_ptr<Workspace> ws = std::make_unique<Workspace>();
  std::unique_ptr<MainWindow> window;

  WindowFixture() { Open(); }

  std::filesystem::path SettingsFile() const {
    return QtToPath(dir.filePath(QStringLiteral("Kestrova.INI")));
  }

  // A new run of the program on the same settings file.
  void Open() {
    MainWindowSetup setup;
    setup.settingsFile = SettingsFile();
    setup.programFolder = QtToPath(dir.path());
    window.reset();
    ws = std::make_unique<Workspace>();
    window = std::make_unique<MainWindow>(*ws, std::move(setup));
    window->Start();
    window->show();
  }
};

inline std::filesystem::path ExampleFile(const char* name) {
  return std::filesystem::path(KESTROVA_SOURCE_DIR) / "examples" / name;
}

}  // namespace kestrova::test
