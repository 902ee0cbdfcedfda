#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/progress.h"
#include "gis/survey_systems.h"

namespace kestrova {

struct OptionsForm;

// How the program talks to the user. Every text is UTF-8 and exact; the desktop program
// shows it in Qt dialogs, tests script the answers and record every text.
class Prompts {
 public:
  enum class Kind { kConfirmation, kInformation, kWarning, kError, kPlain };
  enum class Buttons { kOk, kOkCancel, kYesNo, kYesNoCancel };
  enum class Answer { kOk, kCancel, kYes, kNo };

  // A file chosen in a dialog, and which filter entry (1-based) was selected.
  struct FileChoice {
    std::filesystem::path path;
    int filterIndex = 1;
  };

  // Restores the previous cursor when it goes out of scope.
  class BusyGuard {
   public:
    virtual ~BusyGuard() = default;
  };

  virtual ~Prompts() = default;

  // A message box; plain boxes carry no icon and the application title.
  virtual Answer Message(Kind kind, Buttons buttons, const std::string& text) = 0;

  // filter: "description|patterns|description|patterns..." as the commands give it.
  virtual std::optional<FileChoice> OpenFile(const std::string& filter,
                                             const std::filesystem::path& startFolder) = 0;
  virtual std::optional<FileChoice> SaveFile(const std::string& filter,
                                             const std::filesystem::path& startFolder) = 0;

  // An input box starting with text; nullopt on Cancel.
  virtual std::optional<std::string> InputText(const std::string& caption,
                                               const std::string& prompt,
                                               const std::string& text) = 0;

  // The hourglass until the guard is released.
  virtual std::unique_ptr<BusyGuard> Busy() = 0;

  // Work that can take long (a drawing of millions of entities): the hourglass and, once
  // the work has gone on for a moment, a window telling how far it has come with a button
  // to stop it. Handed to the work as its ProgressMonitor, it answers stop once that
  // button was pressed.
  class WorkGuard : public BusyGuard, public ProgressMonitor {};
  // text: what is being done, for that window. Front ends without such a window give the
  // hourglass and never stop the work.
  virtual std::unique_ptr<WorkGuard> LongWork(const std::string& text) {
    (void)text;
    class HourglassOnly : public WorkGuard {
     public:
      explicit HourglassOnly(std::unique_ptr<BusyGuard> busy) : busy_(std::move(busy)) {}
      bool Continue(double) override { return true; }

     private:
      std::unique_ptr<BusyGuard> busy_;
    };
    return std::make_unique<HourglassOnly>(Busy());
  }

  // The options dialog, modal; it edits the form. True when it was closed with OK (the
  // form then holds what its controls hold); Cancel, Escape and the close box give false.
  virtual bool EditOptions(OptionsForm& form) = 0;

  // The version box, modal.
  virtual void ShowVersion() = 0;

  // The platform's printer set-up dialog.
  virtual void PrinterSetup() = 0;

  // What a GIS export writes: the survey system ("EPSG:6677") and the format ("gpkg").
  struct GisChoice {
    std::string Crs;
    std::string Format;
  };
  // The coordinate system and format of a GIS export, starting from current; nullopt on
  // Cancel. Front ends without the export need not offer it.
  virtual std::optional<GisChoice> ChooseGisExport(const std::vector<SurveySystem>& systems,
                                                   const GisChoice& current) {
    (void)systems;
    (void)current;
    return std::nullopt;
  }
};

// What the commands ask of the main window.
class MainView {
 public:
  virtual ~MainView() = default;

  // Status bar panel 0..2.
  virtual void SetStatusText(int panel, const std::string& text) = 0;
  // The window's title.
  virtual void SetTitle(const std::string& text) = 0;
  // An in-place grid editor that is open hands its text to the cell grid now.
  virtual void CommitGridEdit() = 0;
  // The cell grid's rows or cells changed: show them again.
  virtual void GridChanged() = 0;
  // Fit the plot to the workspace's bounds (with its current size) and repaint it.
  virtual void FitPlot() = 0;
  // The same with the finer arrow-key step that the Home key gives.
  virtual void HomePlot() = 0;
  // Repaint the plot as it is.
  virtual void RepaintPlot() = 0;
  // Opens the manual in the desktop's browser; false when that failed.
  virtual bool OpenManual(const std::filesystem::path& file) = 0;
  // Closes the main window (shut-down follows).
  virtual void Close() = 0;
};

}  // namespace kestrova
