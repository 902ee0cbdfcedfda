#pragma once

#include <QMainWindow>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/commands.h"

class QAction;
class QLabel;
class QSplitter;

namespace kestrova {

class MainWindow;
class OptionsDialog;
class PlotWidget;
class PointGrid;
class QtPrompts;
class VersionBox;

// Where a window not yet shown opens on a screen's free room: window is its frame's top left
// and its client size (the frame the system adds is not known yet). At its own place where
// that fits, else moved up and left as far as it must; the result is for move().
QPoint PlaceOnScreen(const QRect& window, const QRect& room);
// The same window made no larger than room holds with its frame, with the place for
// move() that PlaceOnScreen gives it.
QRect FitInRoom(const QRect& window, const QRect& room);
// Whether a window of this client area has enough of its title bar (the frame's band
// above it) in room to be taken and moved by it.
bool TitleBarInRoom(const QRect& window, const QRect& room);

// What the commands ask of the window, forwarded to it.
class QtMainView : public MainView {
 public:
  explicit QtMainView(MainWindow& window) : window_(window) {}
  void SetStatusText(int panel, const std::string& text) override;
  void SetTitle(const std::string& text) override;
  void CommitGridEdit() override;
  void GridChanged() override;
  void FitPlot() override;
  void HomePlot() override;
  void RepaintPlot() override;
  bool OpenManual(const std::filesystem::path& file) override;
  void Close() override;

 private:
  MainWindow& window_;
};

// Where the window finds what lies outside the workspace.
struct MainWindowSetup {
  std::filesystem::path settingsFile;
  std::filesystem::path programFolder;
  std::filesystem::path manualFile;
  std::unique_ptr<JwCadSettingsSource> jwcadSource;
};

// TForm1: menus and toolbar run the command functions; the grid, the plot box and the
// status bar show the workspace. Nothing a command throws leaves a slot.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(Workspace& ws, MainWindowSetup setup, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Start-up once the window exists; returns what went wrong, to be shown once the
  // window is visible.
  StartUpProblems Start();
  // Shows start-up problems, one message each.
  void ShowProblems(const StartUpProblems& problems);
  // Coordinate files named on the command line or dropped on the window.
  void LoadFiles(const std::vector<std::filesystem::path>& files);

  // Runs a command; an error it throws is shown, never passed on.
  void Run(const std::function<void()>& command);

  CommandContext& Context() { return *ctx_; }
  QtPrompts& Prompts() { return *prompts_; }
  PointGrid& Grid() { return *grid_; }
  PlotWidget& Plot() { return *plot_; }
  OptionsDialog& Options() { return *options_; }
  VersionBox& Version() { return *version_; }
  QLabel& StatusPanel(int panel) { return *status_[static_cast<size_t>(panel)]; }

  void FitPlot();
  void RedrawPlot();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class QtMainView;

  void BuildMenusAndToolbar();
  void BuildClientArea();
  void BuildStatusBar();
  QAction* AddCommand(QMenu* menu, const char* name, const QString& caption, const QString& hint,
                      int image, void (*command)(CommandContext&));
  void PrintList();
  // The name the print job goes by in the printer's queue: the window's title, which names
  // the file the points came from.
  QString PrintJobName() const;
  // The place the window had when it last closed, as far as it is still on a screen; and
  // the place to remember at this close.
  void RestorePlace();
  void KeepFirstPlaceOnScreen();
  void RecordPlace();

  Workspace& ws_;
  MainWindowSetup setup_;
  PointGrid* grid_ = nullptr;
  PlotWidget* plot_ = nullptr;
  QSplitter* splitter_ = nullptr;
  std::array<QLabel*, 3> status_{};
  OptionsDialog* options_ = nullptr;
  VersionBox* version_ = nullptr;
  std::unique_ptr<QtPrompts> prompts_;
  std::unique_ptr<QtMainView> view_;
  std::unique_ptr<ClipboardSink> clipboard_;
  std::unique_ptr<CommandContext> ctx_;
};

}  // namespace kestrova
