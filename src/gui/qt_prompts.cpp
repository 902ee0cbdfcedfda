#include "gui/qt_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <atomic>

#include "gui/options_dialog.h"
#include "gui/printing.h"
#include "gui/qt_text.h"
#ifdef KESTROVA_HAVE_GDAL
#include "gui/gis_dialog.h"
#endif
#include "gui/version_box.h"

namespace kestrova {

namespace {

// The hourglass while a command works.
class QtBusyGuard : public Prompts::BusyGuard {
 public:
  QtBusyGuard() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~QtBusyGuard() override { QApplication::restoreOverrideCursor(); }
  QtBusyGuard(const QtBusyGuard&) = delete;
  QtBusyGuard& operator=(const QtBusyGuard&) = delete;
};

// Long work runs on the window's own thread. Its progress window shows itself only once
// the work has gone on for a while, so quick saves never flash one; once shown it is
// modal, and moving its bar lets Qt handle events, of which only the window's own stop
// button can reach the program.
class QtWorkGuard : public Prompts::WorkGuard {
 public:
  QtWorkGuard(QWidget* parent, const QString& text)
      : dialog_(text, QStringLiteral("キャンセル"), 0, kSteps, parent) {
    dialog_.setObjectName(QStringLiteral("ProgressFrm"));
    dialog_.setWindowTitle(QStringLiteral("Kestrova"));
    dialog_.setWindowModality(Qt::WindowModal);
    dialog_.setMinimumDuration(kShowAfterMs);
    dialog_.setMinimumWidth(360);
    // Kept up at 100 % while the file is flushed and put in place.
    dialog_.setAutoReset(false);
    dialog_.setAutoClose(false);
    QObject::connect(&dialog_, &QProgressDialog::canceled, [this] { stopped_ = true; });
    dialog_.setValue(0);  // starts the clock
  }

  bool Continue(double fraction) override {
    // Widgets belong to the window's thread; a helper thread only hears the answer.
    if (QThread::currentThread() == dialog_.thread()) {
      const int value = std::clamp(static_cast<int>(fraction * kSteps), 0, kSteps);
      if (value > dialog_.value()) dialog_.setValue(value);
    }
    return !stopped_;
  }

 private:
  static constexpr int kSteps = 1000;
  static constexpr int kShowAfterMs = 700;
  QtBusyGuard busy_;
  QProgressDialog dialog_;
  std::atomic<bool> stopped_{false};
};

// A dialog shown in the middle of a busy command gets the ordinary pointer back.
class CursorPause {
 public:
  CursorPause() : paused_(QApplication::overrideCursor() != nullptr) {
    if (paused_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~CursorPause() {
    if (paused_) QApplication::restoreOverrideCursor();
  }
  CursorPause(const CursorPause&) = delete;
  CursorPause& operator=(const CursorPause&) = delete;

 private:
  bool paused_;
};

QString CaseFreePattern(const QString& pattern) {
  QString out;
  for (QChar c : pattern) {
    if (c.isLetter() && c.toLower() != c.toUpper()) {
      out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

QString MessageTitle(Prompts::Kind kind) {
  switch (kind) {
    case Prompts::Kind::kConfirmation:
      return QStringLiteral("確認");
    case Prompts::Kind::kInformation:
      return QStringLiteral("情報");
    case Prompts::Kind::kWarning:
      return QStringLiteral("警告");
    case Prompts::Kind::kError:
      return QStringLiteral("エラー");
    case Prompts::Kind::kPlain:
      break;
  }
  return QStringLiteral("Kestrova");
}

QStringList QtNameFilters(const std::string& filter) {
  const QStringList parts = Utf8ToQt(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString plain = pattern.trimmed();
      const QString caseFree = CaseFreePattern(plain);
#ifdef _WIN32
      // Windows's own dialog matches names whatever their case and knows no "[...]": a
      // pattern in that form alone would list no file at all.
      if (caseFree != plain) patterns << plain;
#endif
      patterns << caseFree;
    }
    filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

int FilterIndex(const QStringList& filters, const QString& selected) {
  // Dialogs that hide the patterns may report the description alone.
  for (qsizetype i = 0; i < filters.size(); ++i) {
    if (filters[i] == selected || filters[i].startsWith(selected + QStringLiteral(" ("))) {
      return static_cast<int>(i) + 1;
    }
  }
  return 1;
}

QtPrompts::QtPrompts(QWidget* parent, OptionsDialog& options, VersionBox& version)
    : parent_(parent), options_(options), version_(version) {}

Prompts::Answer QtPrompts::Message(Kind kind, Buttons buttons, const std::string& text) {
  CursorPause pause;
  QMessageBox box(parent_);
  box.setWindowTitle(MessageTitle(kind));
  box.setTextFormat(Qt::PlainText);
  box.setText(Utf8ToQt(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  switch (kind) {
    case Kind::kConfirmation:
      box.setIcon(QMessageBox::Question);
      break;
    case Kind::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case Kind::kWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case Kind::kError:
      box.setIcon(QMessageBox::Critical);
      break;
    case Kind::kPlain:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  QMessageBox::StandardButtons set;
  QMessageBox::StandardButton escape = QMessageBox::Cancel;
  switch (buttons) {
    case Buttons::kOk:
      set = QMessageBox::Ok;
      escape = QMessageBox::Ok;
      break;
    case Buttons::kOkCancel:
      set = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case Buttons::kYesNo:
      set = QMessageBox::Yes | QMessageBox::No;
      escape = QMessageBox::No;
      break;
    case Buttons::kYesNoCancel:
      set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
  }
  box.setStandardButtons(set);
  const std::pair<QMessageBox::StandardButton, QString> captions[] = {
      {QMessageBox::Ok, QStringLiteral("OK")},
      {QMessageBox::Cancel, QStringLiteral("キャンセル")},
      {QMessageBox::Yes, QStringLiteral("はい(&Y)")},
      {QMessageBox::No, QStringLiteral("いいえ(&N)")},
  };
  for (const auto& [button, caption] : captions) {
    if (QAbstractButton* b = box.button(button)) b->setText(caption);
  }
  box.setDefaultButton(set.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Yes);
  box.setEscapeButton(escape);
  box.exec();
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
      return Answer::kOk;
    case QMessageBox::Yes:
      return Answer::kYes;
    case QMessageBox::No:
      return Answer::kNo;
    case QMessageBox::Cancel:
      return Answer::kCancel;
    default:
      break;
  }
  // Closed some other way: what Escape would have answered.
  switch (escape) {
    case QMessageBox::Ok:
      return Answer::kOk;
    case QMessageBox::No:
      return Answer::kNo;
    default:
      return Answer::kCancel;
  }
}

#ifdef KESTROVA_HAVE_GDAL
std::optional<Prompts::GisChoice> QtPrompts::ChooseGisExport(
    const std::vector<SurveySystem>& systems, const GisChoice& current) {
  CursorPause pause;
  return AskGisExport(parent_, systems, current);
}
#endif

std::optional<Prompts::FileChoice> QtPrompts::OpenFile(const std::string& filter,
                                                       const std::filesystem::path& startFolder) {
  return ChooseFile(false, filter, startFolder);
}

std::optional<Prompts::FileChoice> QtPrompts::SaveFile(const std::string& filter,
                                                       const std::filesystem::path& startFolder) {
  return ChooseFile(true, filter, startFolder);
}

std::optional<Prompts::FileChoice> QtPrompts::ChooseFile(bool save, const std::string& filter,
                                                         const std::filesystem::path& startFolder) {
  CursorPause pause;
  const QStringList filters = QtNameFilters(filter);
  QFileDialog dialog(parent_);
  dialog.setWindowTitle(save ? QStringLiteral("名前を付けて保存")
                             : QStringLiteral("ファイルを開く"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // The save commands ask about the file they will really write, extension included.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setNameFilters(filters);
  if (!startFolder.empty()) dialog.setDirectory(PathToQt(startFolder));
  // Names only, as in the file dialogs surveyors know; the detail columns would not fit.
  dialog.setViewMode(QFileDialog::List);
  dialog.resize(640, 420);
  dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("ファイルの場所:"));
  dialog.setLabelText(QFileDialog::FileName, QStringLiteral("ファイル名(&N):"));
  dialog.setLabelText(QFileDialog::FileType, QStringLiteral("ファイルの種類:"));
  dialog.setLabelText(QFileDialog::Accept,
                      save ? QStringLiteral("保存(&S)") : QStringLiteral("開く(&O)"));
  dialog.setLabelText(QFileDialog::Reject, QStringLiteral("キャンセル"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return FileChoice{QtToPath(dialog.selectedFiles().front()),
                    FilterIndex(filters, dialog.selectedNameFilter())};
}

std::optional<std::string> QtPrompts::InputText(const std::string& caption,
                                                const std::string& prompt,
                                                const std::string& text) {
  CursorPause pause;
  QInputDialog dialog(parent_);
  dialog.setWindowTitle(Utf8ToQt(caption));
  dialog.setLabelText(Utf8ToQt(prompt));
  dialog.setTextValue(Utf8ToQt(text));
  dialog.setOkButtonText(QStringLiteral("OK"));
  dialog.setCancelButtonText(QStringLiteral("キャンセル"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return QtToUtf8(dialog.textValue());
}

std::unique_ptr<Prompts::BusyGuard> QtPrompts::Busy() {
  return std::make_unique<QtBusyGuard>();
}

std::unique_ptr<Prompts::WorkGuard> QtPrompts::LongWork(const std::string& text) {
  return std::make_unique<QtWorkGuard>(parent_, Utf8ToQt(text));
}

bool QtPrompts::EditOptions(OptionsForm& form) {
  CursorPause pause;
  return options_.Edit(form);
}

void QtPrompts::ShowVersion() {
  CursorPause pause;
  version_.exec();
}

QPrinter& QtPrompts::Printer() {
  FollowPrinters(printer_);
  return printer_;
}

void QtPrompts::PrinterSetup() {
  CursorPause pause;
  ShowPrinterSetup(Printer(), parent_);
}

}  // namespace kestrova
