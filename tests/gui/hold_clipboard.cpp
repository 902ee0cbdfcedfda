// Holds a drawing on the desktop clipboard through the program's own clipboard sink, so
// another program (a Windows one under Wine) can read it. Prints "ready" once it owns the
// clipboard and keeps it until killed, or 60 seconds at the most.
// Usage: hold_clipboard PAYLOAD_FILE
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <exception>

#include "gui/qt_clipboard.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: hold_clipboard PAYLOAD_FILE\n");
    return 2;
  }
  QFile file(QString::fromLocal8Bit(argv[1]));
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const QByteArray payload = file.readAll();
  try {
    kestrova::QtClipboardSink sink;
    sink.SetJwWinData(std::string_view(payload.constData(), static_cast<size_t>(payload.size())));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  QTimer::singleShot(60000, &app, &QApplication::quit);
  return app.exec();
}
