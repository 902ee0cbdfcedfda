#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/flows.h"
#include "app/options_form.h"
#include "app/prompts.h"
#include "coords/coordinate_file.h"

namespace kestrova {

// Reads one file into data (appending or replacing), all or nothing; false for a file of
// fewer than two lines. notices collects what the user should hear afterwards (UTF-8).
// progress (may be null) may stop the load: Cancelled, with nothing changed.
using CoordinateLoader =
    std::function<bool(const std::filesystem::path& file, CoordinateData& data, bool append,
                       std::vector<std::string>& notices, ProgressMonitor* progress)>;

// The coordinate readers (ZHY, lists, APA, SIMA), telling about converted text.
bool LoadCoordinateFileWithNotices(const std::filesystem::path& file, CoordinateData& data,
                                   bool append, std::vector<std::string>& notices,
                                   ProgressMonitor* progress = nullptr);

// What the window says about a file that loaded with guesses or conversions; empty when
// there is nothing to say.
std::string LoadNoticeText(const std::filesystem::path& file, const LoadReport& report);

// What a command works on and talks through. The desktop program builds one at start-up;
// tests build theirs with scripted fakes.
struct CommandContext {
  Workspace& ws;
  Prompts& prompts;
  MainView& view;
  ClipboardSink& clipboard;
  JwCadSettingsSource* jwcadSource = nullptr;  // none: Jw_cad's settings are not available
  std::filesystem::path settingsFile;          // where the settings are read and written
  std::filesystem::path programFolder;         // default of Folder.name
  std::filesystem::path manualFile;            // the help manual; empty when not found
  // How the load reads a file; empty: LoadCoordinateFileWithNotices. A front end that
  // reads more kinds of file supplies its own, and their entries for the open dialog
  // ("description|patterns", following the coordinate files' entries).
  CoordinateLoader loadFile = {};
  std::string moreLoadFilters = {};
};

// What start-up has to tell (UTF-8): failures (the settings file unread, the program on
// its defaults) and warnings (values read as their defaults or nearest, Jw_cad's settings
// unread).
struct StartUpProblems {
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  bool empty() const { return errors.empty() && warnings.empty(); }
};

// Start-up after the window exists: Jw_cad's settings, the settings file, the empty
// table. Problems are returned to be shown once the window is visible; start-up always
// completes.
StartUpProblems StartUp(CommandContext& ctx);
// Whether the window may close: true unless points typed or changed since the last load
// or save would be lost and the user, asked, keeps the window.
bool MayClose(CommandContext& ctx);
// Shut-down: writes the settings file; a failure is shown.
void ShutDown(CommandContext& ctx);

void NewTableCommand(CommandContext& ctx);
void LoadCommand(CommandContext& ctx);
// Files dropped on the window or named on the command line: the load flow without the
// file dialog (the append question still comes first when points are loaded).
void LoadFilesCommand(CommandContext& ctx, const std::vector<std::filesystem::path>& files);
void SaveCommand(CommandContext& ctx);
void JwwSaveCommand(CommandContext& ctx);
void TransferCommand(CommandContext& ctx);
void OptionsCommand(CommandContext& ctx);
void PrinterSetupCommand(CommandContext& ctx);
void HelpCommand(CommandContext& ctx);
void VersionCommand(CommandContext& ctx);
void QuitCommand(CommandContext& ctx);
void SiteNameCommand(CommandContext& ctx);
// The Home key on the plot: the grid is read back and the plot fitted to all the points,
// typed ones included. False when there is no point: the key is not the plot's then.
bool HomeKeyCommand(CommandContext& ctx);

// The window's title: " Kestrova", followed by the name of the file the table was last
// loaded from or saved to (none: the title alone).
std::string WindowTitle(const std::filesystem::path& file);

// The grid's edits become the points, which are counted, bounded and plotted: before
// anything is written from them.
void BringPointsUpToDate(CommandContext& ctx);
// For the commands that write from the table. Rows the grid's read-back left alone are
// told of before anything is written from the points; cells that hold no number, to be
// written as 0, are asked about. False when the user would rather mend them first.
bool ConfirmUnreadRows(CommandContext& ctx);
// The file a save writes: the stem of the chosen name with extension, in the chosen
// folder, by its absolute path. nullopt when the user was told the name leaves no stem,
// or declined a stem that cuts more than the extension.
std::optional<std::filesystem::path> SaveTarget(CommandContext& ctx,
                                                const std::filesystem::path& chosen,
                                                const char* extension);

// Text typed into a grid cell (UTF-8) becomes the cell's code page 932 text. Characters
// that code page 932 cannot hold are stored as "?", so the cell shows what will be saved;
// the first time in a run this happens the user is told.
void GridCellEdited(CommandContext& ctx, int row, int column, const std::string& utf8);

}  // namespace kestrova
