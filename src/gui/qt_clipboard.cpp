#include "gui/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "app/messages.h"
#include "common/error.h"

namespace kestrova {

namespace {

const QString kJwWinFormat = QStringLiteral("Jw_win");
const QString kDataObjectFormat = QStringLiteral("DataObject");

// Platforms whose clipboard tells whether this program holds it.
bool OwnershipKnown() {
  const QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("xcb") || platform == QLatin1String("windows") ||
         platform.startsWith(QLatin1String("wayland"));
}

}  // namespace

QtClipboardSink::QtClipboardSink() : clipboard_(QGuiApplication::clipboard()) {}

void QtClipboardSink::SetJwWinData(std::string_view payload) {
  auto* mime = new QMimeData;
  mime->setData(kJwWinFormat, QByteArray(payload.data(), static_cast<qsizetype>(payload.size())));
  // Windows hands Jw_cad a global memory handle here; no other system has one, and the
  // payload itself is complete without it.
  mime->setData(kDataObjectFormat, QByteArray(4, '\0'));
  clipboard_->setMimeData(mime, QClipboard::Clipboard);  // takes ownership of mime

  const bool held = OwnershipKnown() ? clipboard_->ownsClipboard()
                                     : clipboard_->mimeData() != nullptr &&
                                           clipboard_->mimeData()->hasFormat(kJwWinFormat);
  if (!held) {
    // Another program kept the clipboard: what it holds stays there.
    throw Error(MessageId::kClipboardBusy, {});
  }
}

}  // namespace kestrova
