#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QPointer>
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
// exec(). A dialog that the action leaves open (a check inside it failed) is closed, so a
// failure fails the test instead of hanging it; a dialog that never opens gives up after
// a minute, long enough for a loaded machine or a sanitizer build.
inline void OnNextModal(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  const QDeadlineTimer deadline(60000);
  QObject::connect(timer, &QTimer::timeout, [timer, deadline, action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr && !deadline.hasExpired()) return;
    timer->stop();
    timer->deleteLater();
    if (modal == nullptr) return;
    QPointer<QWidget> guard(modal);
    action(modal);
    if (guard && guard->isVisible() && QApplication::activeModalWidget() == guard) {
      if (auto* dialog = qobject_cast<QDialog*>(guard.data())) {
        dialog->reject();
      } else {
        guard->close();
      }
    }
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
