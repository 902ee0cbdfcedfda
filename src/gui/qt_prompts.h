#pragma once

#include <QPrinter>
#include <QStringList>

#include "app/prompts.h"

class QWidget;

namespace kestrova {

class OptionsDialog;
class VersionBox;

// The commands' dialogs as Qt shows them. Texts arrive as UTF-8 and are shown as they
// are; titles and button captions are those of a Japanese desktop.
class QtPrompts : public Prompts {
 public:
  QtPrompts(QWidget* parent, OptionsDialog& options, VersionBox& version);

  Answer Message(Kind kind, Buttons buttons, const std::string& text) override;
  std::optional<FileChoice> OpenFile(const std::string& filter,
                                     const std::filesystem::path& startFolder) override;
  std::optional<FileChoice> SaveFile(const std::string& filter,
                                     const std::filesystem::path& startFolder) override;
  std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                       const std::string& text) override;
  std::unique_ptr<BusyGuard> Busy() override;
  std::unique_ptr<WorkGuard> LongWork(const std::string& text) override;
  bool EditOptions(OptionsForm& form) override;
  void ShowVersion() override;
  void PrinterSetup() override;
#ifdef KESTROVA_HAVE_GDAL
  std::optional<GisChoice> ChooseGisExport(const std::vector<SurveySystem>& systems,
                                           const GisChoice& current) override;
#endif

  // The printer chosen in the set-up dialog, kept for the whole run (see FollowPrinters).
  QPrinter& Printer();

 private:
  std::optional<FileChoice> ChooseFile(bool save, const std::string& filter,
                                       const std::filesystem::path& startFolder);

  QWidget* parent_;
  OptionsDialog& options_;
  VersionBox& version_;
  QPrinter printer_{QPrinter::HighResolution};
};

// "description|patterns|description|patterns" as the commands give it, to Qt's name
// filters "description (patterns)". Patterns match without regard to case, as the
// file names of Windows users do.
QStringList QtNameFilters(const std::string& filter);
// The 1-based entry of a name filter among filters; 1 when it is not there.
int FilterIndex(const QStringList& filters, const QString& selected);

// The title a message box of this kind carries.
QString MessageTitle(Prompts::Kind kind);

}  // namespace kestrova
