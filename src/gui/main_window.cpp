#include "gui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <cstdint>

#include "app/messages.h"
#include "app/settings_file.h"
#include "common/error.h"
#include "common/utf8_path.h"
#include "gui/fonts.h"
#include "gui/options_dialog.h"
#include "gui/plot_widget.h"
#include "gui/point_grid.h"
#include "gui/printing.h"
#include "gui/qt_clipboard.h"
#include "gui/qt_prompts.h"
#include "gui/qt_text.h"
#include "gui/toolbar_icons.h"
#include "gui/version_box.h"
#ifdef KESTROVA_HAVE_GDAL
#include "app/gis_command.h"
#include "gis/gis_import.h"
#endif

namespace kestrova {

// --- QtMainView ------------------------------------------------------------------------

void QtMainView::SetStatusText(int panel, const std::string& text) {
  if (panel >= 0 && panel < 3) window_.StatusPanel(panel).setText(Utf8ToQt(text));
}

void QtMainView::SetTitle(const std::string& text) {
  window_.setWindowTitle(Utf8ToQt(text));
}

void QtMainView::CommitGridEdit() {
  window_.grid_->CommitEdit();
}

void QtMainView::GridChanged() {
  window_.grid_->GridChanged();
}

void QtMainView::FitPlot() {
  window_.FitPlot();
}

void QtMainView::HomePlot() {
  window_.plot_->FitToData(RefitKind::kHomeKey);
}

void QtMainView::RepaintPlot() {
  window_.RedrawPlot();
}

bool QtMainView::OpenManual(const std::filesystem::path& file) {
  std::error_code error;
  if (file.empty() || !std::filesystem::is_regular_file(file, error)) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(PathToQt(AbsolutePath(file))));
}

void QtMainView::Close() {
  window_.close();
}

// --- MainWindow ------------------------------------------------------------------------

MainWindow::MainWindow(Workspace& ws, MainWindowSetup setup, QWidget* parent)
    : QMainWindow(parent), ws_(ws), setup_(std::move(setup)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral(" Kestrova"));
  setWindowIcon(ProgramIcon());
  setFont(GothicFont(12));
  resize(765, 572);
  move(226, 179);
  setAcceptDrops(true);

  BuildClientArea();
  BuildStatusBar();
  options_ = new OptionsDialog(ws_.Settings, this);
  version_ = new VersionBox(this);
  prompts_ = std::make_unique<QtPrompts>(this, *options_, *version_);
  view_ = std::make_unique<QtMainView>(*this);
  // Windows hands Jw_cad the drawing's memory handle beside it, which only the system's
  // own clipboard calls can give; elsewhere the desktop clipboard through Qt.
  clipboard_ = SystemClipboardSink();
  if (!clipboard_) clipboard_ = std::make_unique<QtClipboardSink>();
  ctx_ = std::make_unique<CommandContext>(
      CommandContext{ws_, *prompts_, *view_, *clipboard_, setup_.jwcadSource.get(),
                     setup_.settingsFile, setup_.programFolder, setup_.manualFile});
#ifdef KESTROVA_HAVE_GDAL
  // GIS point layers in longitude and latitude are placed in the remembered survey system.
  ctx_->loadFile = [this](const std::filesystem::path& file, CoordinateData& coords, bool append,
                          std::vector<std::string>& notices, ProgressMonitor* progress) {
    if (!IsGisFile(file)) {
      return LoadCoordinateFileWithNotices(file, coords, append, notices, progress);
    }
    const int32_t epsg = ParseEpsgName(ws_.Settings.Gis.Crs).value_or(0);
    return LoadGisFileWithNotices(file, epsg, coords, append, notices, progress);
  };
  ctx_->moreLoadFilters = "GISﾃﾞｰﾀ(*.gpkg,*.geojson,*.shp)|*.gpkg;*.geojson;*.json;*.shp";
#endif
  grid_->Model()->SetEditHandler([this](int row, int column, const std::string& utf8) {
    Run([&] { GridCellEdited(*ctx_, row, column, utf8); });
  });
  BuildMenusAndToolbar();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildClientArea() {
  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAutoFillBackground(true);
  QPalette white = panel->palette();
  white.setColor(QPalette::Window, Qt::white);
  panel->setPalette(white);

  grid_ = new PointGrid(ws_.Grid, ws_.Coords.Table, panel);
  plot_ = new PlotWidget(ws_, panel);
  plot_->setMinimumWidth(40);

  splitter_ = new QSplitter(Qt::Horizontal, panel);
  splitter_->setObjectName(QStringLiteral("Splitter1"));
  splitter_->setHandleWidth(9);
  splitter_->setChildrenCollapsible(false);
  splitter_->setStyleSheet(QStringLiteral(
      "QSplitter#Splitter1::handle { background: palette(button);"
      " border-left: 1px solid palette(light); border-right: 1px solid palette(mid); }"));
  splitter_->addWidget(grid_);
  splitter_->addWidget(plot_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({360, 400});

  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->addWidget(splitter_);
  setCentralWidget(panel);

  connect(grid_, &PointGrid::MarkingPressed, this, [this] { Run([this] { RedrawPlot(); }); });
  connect(grid_, &PointGrid::MarkingDone, this, [this] { Run([this] { RedrawPlot(); }); });
  connect(plot_, &PlotWidget::PickChanged, this, [this](int /*pickedRow*/, int newTopRow) {
    Run([this, newTopRow] { grid_->ShowPick(newTopRow); });
  });
  connect(plot_, &PlotWidget::GridEnabledChanged, this, [this](bool enabled) {
    grid_->setEnabled(enabled);
    if (enabled) grid_->setFocus();
  });
}

void MainWindow::BuildStatusBar() {
  auto* bar = new QStatusBar(this);
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setFixedHeight(19);
  const int widths[] = {75, 50, 50};
  for (size_t i = 0; i < status_.size(); ++i) {
    auto* label = new QLabel(bar);
    label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    label->installEventFilter(this);
    // The last panel reaches the right edge, so a long site name stays readable.
    if (i + 1 < status_.size()) {
      label->setFixedWidth(widths[i]);
      bar->addWidget(label);
    } else {
      label->setMinimumWidth(widths[i]);
      bar->addWidget(label, 1);
    }
    status_[i] = label;
  }
  bar->installEventFilter(this);
  setStatusBar(bar);
}

QAction* MainWindow::AddCommand(QMenu* menu, const char* name, const QString& caption,
                                const QString& hint, int image, void (*command)(CommandContext&)) {
  auto* action = menu->addAction(caption);
  action->setObjectName(QLatin1String(name));
  action->setToolTip(hint.isEmpty() ? QString(caption).remove(QLatin1Char('&')) : hint);
  if (image >= 0) action->setIcon(ToolbarIcon(image));
  if (command != nullptr) {
    connect(action, &QAction::triggered, this,
            [this, command] { Run([this, command] { command(*ctx_); }); });
  }
  return action;
}

void MainWindow::BuildMenusAndToolbar() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* file = bar->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
  file->setObjectName(QStringLiteral("MenuFile"));
  QAction* newTable = AddCommand(file, "mnNewZhyFile", QStringLiteral("新規座標(&N)"),
                                 QStringLiteral("新規座標"), 0, &NewTableCommand);
  QAction* load = AddCommand(file, "mnZhyLoadFile", QStringLiteral("座標ﾃﾞｰﾀを開く(&O)"),
                             QStringLiteral("座標ﾃﾞｰﾀを開く"), 1, &LoadCommand);
  QAction* save = AddCommand(file, "mnZhyFileSave", QStringLiteral("座標ﾃﾞｰﾀを保存(&S)"),
                             QStringLiteral("座標ﾃﾞｰﾀを保存"), 2, &SaveCommand);
  file->addSeparator();
  QAction* cadSave = AddCommand(file, "mnCadSaveFile", QStringLiteral("CADﾃﾞｰﾀで保存(&A)"),
                                QStringLiteral("CADﾃﾞｰﾀで保存"), 3, &JwwSaveCommand);
#ifdef KESTROVA_HAVE_GDAL
  AddCommand(file, "mnGisSaveFile", QStringLiteral("GISﾃﾞｰﾀで保存(&G)"), QString(), -1,
             &GisExportCommand);
#endif
  file->addSeparator();
  QAction* print =
      AddCommand(file, "mnPrtOut", QStringLiteral("印刷(&P)"), QStringLiteral("印刷"), 5, nullptr);
  connect(print, &QAction::triggered, this, [this] { Run([this] { PrintList(); }); });
  AddCommand(file, "mnPrtOpt", QStringLiteral("プリンタ設定(&E)"), QString(), -1,
             &PrinterSetupCommand);
  file->addSeparator();
  QAction* quit = AddCommand(file, "mnQuit", QStringLiteral("終了(&Q)"), QStringLiteral("終了"), 8,
                             &QuitCommand);

  QMenu* tools = bar->addMenu(QStringLiteral("ツール(&T)"));
  tools->setObjectName(QStringLiteral("T1"));
  QAction* transfer = AddCommand(tools, "mnJwCopy", QStringLiteral("Jw_winに転送(&V)"),
                                 QStringLiteral("Jw_winに転送"), 4, &TransferCommand);

  QMenu* options = bar->addMenu(QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"));
  options->setObjectName(QStringLiteral("O1"));
  QAction* settings = AddCommand(options, "OptEdit", QStringLiteral("環境設定(&E)"),
                                 QStringLiteral("環境設定"), 6, &OptionsCommand);

  QMenu* help = bar->addMenu(QStringLiteral("ヘルプ"));
  help->setObjectName(QStringLiteral("N4"));
  QAction* manual = AddCommand(help, "mnHelp", QStringLiteral("ヘルプ(&H)"),
                               QStringLiteral("ヘルプ"), 7, &HelpCommand);
  AddCommand(help, "mnuHelpVer", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&V)"), QString(), -1, &VersionCommand);

  auto* toolbar = new QToolBar(this);
  toolbar->setObjectName(QStringLiteral("ToolBar1"));
  toolbar->setMovable(false);
  toolbar->setFloatable(false);
  toolbar->setIconSize(QSize(16, 16));
  toolbar->setFixedHeight(26);
  toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
  toolbar->setStyleSheet(QStringLiteral("QToolBar#ToolBar1 { border: none; spacing: 0px; }"));
  addToolBar(Qt::TopToolBarArea, toolbar);
  const std::vector<QAction*> order = {nullptr,  newTable, load,    save,  nullptr,
                                       cadSave,  transfer, nullptr, print, nullptr,
                                       settings, nullptr,  manual,  quit,  nullptr};
  for (QAction* action : order) {
    if (action == nullptr) {
      toolbar->addSeparator();
      continue;
    }
    toolbar->addAction(action);
    if (auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(action))) {
      button->setObjectName(QStringLiteral("ToolButton_") + action->objectName());
      button->setFixedSize(25, 24);
    }
  }
}

StartUpProblems MainWindow::Start() {
  StartUpProblems problems;
  try {
    problems = StartUp(*ctx_);
  } catch (const std::exception& e) {
    problems.errors.push_back(WindowText(e));
  }
  RestorePlace();
  return problems;
}

namespace {

// The frame the system draws around the window is not known before it is shown.
constexpr int kFrameSide = 8;
constexpr int kFrameTop = 31;

}  // namespace

bool TitleBarInRoom(const QRect& window, const QRect& room) {
  // window is the client area a remembered place gives: the title bar is the frame's
  // band above it.
  constexpr int kGrip = 100;  // of the title bar's width, enough to take it by
  const int left = std::max(window.x() - kFrameSide, room.x());
  const int right = std::min(window.x() + window.width() + kFrameSide, room.x() + room.width());
  return right - left >= std::min(kGrip, window.width()) && window.y() - kFrameTop >= room.y() &&
         window.y() <= room.y() + room.height();
}

QPoint PlaceOnScreen(const QRect& window, const QRect& room) {
  const int right = room.x() + room.width() - window.width() - 2 * kFrameSide;
  const int bottom = room.y() + room.height() - window.height() - kFrameTop - kFrameSide;
  return {std::max(room.x(), std::min(window.x(), right)),
          std::max(room.y(), std::min(window.y(), bottom))};
}

QRect FitInRoom(const QRect& window, const QRect& room) {
  QRect fitted(
      window.topLeft(),
      QSize(std::max(std::min(window.width(), room.width() - 2 * kFrameSide), 1),
            std::max(std::min(window.height(), room.height() - kFrameTop - kFrameSide), 1)));
  fitted.moveTopLeft(PlaceOnScreen(fitted, room));
  return fitted;
}

void MainWindow::KeepFirstPlaceOnScreen() {
  // The first place, with its frame, reaches 790 pixels down. On a screen less tall (1366 x
  // 768 above its taskbar, or 1920 x 1080 scaled to 150 % as 1280 x 720) the status bar
  // would open below its edge: the window moves up and left as far as it must, keeping
  // its size.
  if (const QScreen* shown = screen()) move(PlaceOnScreen(geometry(), shown->availableGeometry()));
}

void MainWindow::RestorePlace() {
  const auto place = UsableWindowPlace(ws_.Settings.Window);
  if (!place) {
    KeepFirstPlaceOnScreen();
    return;
  }
  const QRect rect(place->Left, place->Top, place->Width, place->Height);
  // A window recorded on a screen that is gone opens at its first place; one whose title
  // bar has gone off the screen (the settings of a copy carried from a larger screen) is
  // moved onto the screen it is on, keeping its size.
  const QScreen* on = nullptr;
  int64_t most = 0;  // of the window's area on one screen
  bool reachable = false;
  for (const QScreen* screen : QGuiApplication::screens()) {
    reachable = reachable || TitleBarInRoom(rect, screen->availableGeometry());
    const QRect shared = screen->availableGeometry().intersected(rect);
    const int64_t area = shared.isEmpty() ? 0 : int64_t{shared.width()} * shared.height();
    if (area > most) {
      most = area;
      on = screen;
    }
  }
  if (!on) {
    KeepFirstPlaceOnScreen();
    return;
  }
  // One larger than its screen's room now (the screen scaled up since, or the settings
  // carried from a larger one) is made as large as the room and moved into it: the
  // status bar and the plot's right edge would be out of reach.
  const QRect room = on->availableGeometry();
  const QRect fitted = FitInRoom(rect, room);
  setGeometry(QRect(rect.topLeft(), fitted.size()));
  if (fitted.size() != rect.size() || !reachable) move(fitted.topLeft());
  if (place->GridWidth > 0) {
    // The grid keeps its share of a window made narrower.
    const int grid =
        static_cast<int>(int64_t{place->GridWidth} * fitted.width() / std::max(rect.width(), 1));
    splitter_->setSizes({grid, std::max(fitted.width() - grid, 1)});
  }
  if (place->Maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::RecordPlace() {
  const bool maximized = isMaximized();
  const QRect rect = maximized ? normalGeometry() : geometry();
  OutputSettings::WindowSection& w = ws_.Settings.Window;
  w.Left = rect.x();
  w.Top = rect.y();
  w.Width = rect.width();
  w.Height = rect.height();
  w.GridWidth = splitter_->sizes().value(0, 0);
  w.Maximized = maximized;
}

void MainWindow::ShowProblems(const StartUpProblems& problems) {
  // Failures first; then what was read as its default or nearest value, where the program
  // goes on as before.
  for (const auto& [kind, texts] : {std::pair{Prompts::Kind::kError, &problems.errors},
                                    std::pair{Prompts::Kind::kWarning, &problems.warnings}}) {
    for (const std::string& problem : *texts) {
      Run([this, kind, &problem] { prompts_->Message(kind, Prompts::Buttons::kOk, problem); });
    }
  }
}

void MainWindow::LoadFiles(const std::vector<std::filesystem::path>& files) {
  if (files.empty()) return;
  Run([this, &files] { LoadFilesCommand(*ctx_, files); });
}

void MainWindow::Run(const std::function<void()>& command) {
  std::string message;
  try {
    command();
    return;
  } catch (const Error& e) {
    message = WindowText(e);
  } catch (const std::bad_alloc&) {
    message = "メモリが不足しているため、処理を続けられませんでした。";
  } catch (const std::exception& e) {
    message = std::string("処理中にエラーが発生しました。\n") + e.what();
  } catch (...) {
    message = "処理中に不明なエラーが発生しました。";
  }
  try {
    prompts_->Message(Prompts::Kind::kError, Prompts::Buttons::kOk, message);
  } catch (...) {
    // Nothing is left to tell the user with; the program goes on.
  }
}

void MainWindow::FitPlot() {
  plot_->FitToData();
}

void MainWindow::RedrawPlot() {
  plot_->Redraw();
}

QString MainWindow::PrintJobName() const {
  return windowTitle().trimmed();
}

void MainWindow::PrintList() {
  QPrinter& printer = prompts_->Printer();
  printer.setDocName(PrintJobName());
  PrintFromWindow(*ctx_, printer, this, *grid_);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  grid_->CommitEdit();
  bool close = true;
  Run([&] { close = MayClose(*ctx_); });
  if (!close) {
    event->ignore();
    return;
  }
  RecordPlace();
  Run([this] { ShutDown(*ctx_); });
  event->accept();
}

// Keys the focused widget left alone (the grid keeps its own while it is enabled), and
// wheel turns nothing else took, belong to the plot.
void MainWindow::keyPressEvent(QKeyEvent* event) {
  bool consumed = false;
  if (event->key() == Qt::Key_Home) {
    // Home shows every point, those typed since the last read-back too.
    Run([&] { consumed = HomeKeyCommand(*ctx_); });
  } else {
    Run([&] { consumed = plot_->HandleKey(event); });
  }
  if (consumed) {
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void MainWindow::wheelEvent(QWheelEvent* event) {
  bool consumed = false;
  Run([&] { consumed = plot_->HandleWheel(event); });
  if (consumed) {
    event->accept();
    return;
  }
  QMainWindow::wheelEvent(event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) {
    for (const QUrl& url : event->mimeData()->urls()) {
      if (url.isLocalFile()) {
        event->acceptProposedAction();
        return;
      }
    }
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  std::vector<std::filesystem::path> files;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) files.push_back(QtToPath(url.toLocalFile()));
  }
  event->acceptProposedAction();
  // The load may ask questions; the drag has to be over before a dialog opens.
  QTimer::singleShot(0, this, [this, files] { LoadFiles(files); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick &&
      (watched == statusBar() ||
       std::find(status_.begin(), status_.end(), watched) != status_.end())) {
    Run([this] { SiteNameCommand(*ctx_); });
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace kestrova
