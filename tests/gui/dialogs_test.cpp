#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTranslator>
#include <memory>

#include "app/ini_file.h"
#include "common/atomic_file.h"
#include "gui/options_dialog.h"
#include "gui/qt_clipboard.h"
#include "gui/qt_prompts.h"
#include "gui/qt_translations.h"
#include "gui/version_box.h"
#ifdef KESTROVA_HAVE_GDAL
#include "gui/gis_dialog.h"
#endif
#include "gui_test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrova::test {

namespace {

template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(QLatin1String(name));
  if (child == nullptr) qWarning("no child %s", name);
  return child;
}

std::string IniValue(const std::filesystem::path& file, const char* section, const char* key) {
  QFile in(PathToQt(file));
  if (!in.open(QIODevice::ReadOnly)) return "<no file>";
  const QByteArray text = in.readAll();
  return IniFile::Parse(std::string_view(text.constData(), static_cast<size_t>(text.size())))
      .Get(section, key)
      .value_or("<missing>");
}

void TriggerAction(MainWindow& window, const char* name) {
  auto* action = window.findChild<QAction*>(QLatin1String(name));
  QVERIFY(action != nullptr);
  QVERIFY(action->isEnabled());
  action->trigger();
}

// A clipboard format as another program reads it: on Windows through the Windows
// clipboard, which the window fills itself; elsewhere through the desktop's.
QByteArray SystemClipboardData(const wchar_t* format) {
#ifdef _WIN32
  QByteArray bytes;
  if (!OpenClipboard(nullptr)) return bytes;
  if (const HANDLE data = GetClipboardData(RegisterClipboardFormatW(format))) {
    if (const void* locked = GlobalLock(data)) {
      bytes =
          QByteArray(static_cast<const char*>(locked), static_cast<qsizetype>(GlobalSize(data)));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return bytes;
#else
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data ? data->data(QString::fromWCharArray(format)) : QByteArray();
#endif
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void OptionsDialogLayout();
  void OptionsRoundTripThroughTheSettingsFile();
  void PointOutputClickDisablesTheCode();
  void VersionBoxClosesOnAClick();
  void MessageBoxesByKind();
  void StartUpProblemsAreWarnings();
  void QtsOwnMenusAreJapanese();
  void FileDialogFiltersAndIndex();
  void LongWorkShowsProgressAndStops();
  void ClipboardHoldsBothFormats();
  void ClipboardTargetsOnX11();
  void GisExportItemAndDialog();
};

void DialogsTest::GisExportItemAndDialog() {
#ifndef KESTROVA_HAVE_GDAL
  QSKIP("built without GDAL");
#else
  WindowFixture f;
  // Its place in the file menu is checked with the other menus.
  auto* item = f.window->findChild<QAction*>(QStringLiteral("mnGisSaveFile"));
  QVERIFY(item != nullptr);
  QCOMPARE(item->text(), QStringLiteral("GISﾃﾞｰﾀで保存(&G)"));

  // The dialog starts from the remembered choice and returns what was picked.
  const std::vector<SurveySystem>& systems = OfferedSurveySystems();
  OnNextModal([](QWidget* modal) {
    auto* crs = Child<QComboBox>(modal, "cbGisCrs");
    auto* format = Child<QComboBox>(modal, "cbGisFormat");
    QCOMPARE(crs->count(), 58);
    QCOMPARE(crs->currentData().toString(), QStringLiteral("EPSG:6677"));
    QCOMPARE(format->currentData().toString(), QStringLiteral("geojson"));
    auto* ok = modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    // Only a DXF may go without a system.
    crs->setCurrentIndex(0);
    QVERIFY(!ok->isEnabled());
    format->setCurrentIndex(format->findData(QStringLiteral("dxf")));
    QVERIFY(ok->isEnabled());
    crs->setCurrentIndex(crs->findData(QStringLiteral("EPSG:2451")));
    format->setCurrentIndex(format->findData(QStringLiteral("shp")));
    ok->click();
  });
  const auto chosen = AskGisExport(f.window.get(), systems, {"EPSG:6677", "geojson"});
  QVERIFY(chosen.has_value());
  QCOMPARE(chosen->Crs, std::string("EPSG:2451"));
  QCOMPARE(chosen->Format, std::string("shp"));
  // Nothing remembered yet: no system, GeoPackage; Cancel returns nothing.
  OnNextModal([](QWidget* modal) {
    QCOMPARE(Child<QComboBox>(modal, "cbGisCrs")->currentIndex(), 0);
    QCOMPARE(Child<QComboBox>(modal, "cbGisFormat")->currentData().toString(),
             QStringLiteral("gpkg"));
    qobject_cast<QDialog*>(modal)->reject();
  });
  QVERIFY(!AskGisExport(f.window.get(), systems, {}).has_value());
#endif
}

void DialogsTest::OptionsDialogLayout() {
  WindowFixture f;
  OptionsDialog& d = f.window->Options();
  QCOMPARE(d.objectName(), QStringLiteral("OptFrm"));
  QCOMPARE(d.windowTitle(), QStringLiteral("　ｵﾌﾟｼｮﾝ設定"));
  QCOMPARE(d.size(), QSize(482, 410));
  QCOMPARE(d.font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
  auto* tabs = Child<QTabWidget>(&d, "PageControl1");
  QCOMPARE(tabs->tabText(0), QStringLiteral(" 出力設定 "));
  QCOMPARE(tabs->tabText(1), QStringLiteral(" 詳細設定 "));
  QCOMPARE(Child<QPushButton>(&d, "Button1")->text(), QStringLiteral("ＯＫ"));
  QCOMPARE(Child<QPushButton>(&d, "Button2")->text(), QStringLiteral("キャンセル"));
  const QList<QRadioButton*> versions =
      Child<QGroupBox>(&d, "RadioGroup2")->findChildren<QRadioButton*>();
  QCOMPARE(versions.size(), 7);
  QCOMPARE(versions.front()->text(), QStringLiteral("V4.20（最新）"));
}

void DialogsTest::OptionsRoundTripThroughTheSettingsFile() {
  WindowFixture f;
  // Change a control of every kind, then OK.
  OnNextModal([](QWidget* d) {
    Child<QComboBox>(d, "ComboBox1")->setCurrentIndex(4);
    Child<QLineEdit>(d, "Edit1")->setText(QStringLiteral("250"));
    Child<QSpinBox>(d, "Edit2")->setValue(3);
    Child<QGroupBox>(d, "RadioGroup1")->findChildren<QRadioButton*>().front()->click();
    Child<QCheckBox>(d, "CheckBox8")->click();
    Child<QGroupBox>(d, "RadioGroup2")->findChildren<QRadioButton*>().at(3)->click();
    Child<QCheckBox>(d, "PointStrOutFlg")->click();
    Child<QComboBox>(d, "ZcoordMojiBs")->setCurrentIndex(8);
    Child<QSpinBox>(d, "XYcoordLay")->setValue(12);
    Child<QLineEdit>(d, "PointEnkoR")->setText(QStringLiteral("2.5"));
    Child<QPushButton>(d, "Button1")->click();
  });
  TriggerAction(*f.window, "OptEdit");
  QCOMPARE(f.ws->JwwVersion, 230u);
  f.window->close();

  const std::filesystem::path ini = f.SettingsFile();
  QCOMPARE(IniValue(ini, "WrtBAse", "Size"), std::string("4"));
  QCOMPARE(IniValue(ini, "WrtBAse", "Scale"), std::string("250"));
  QCOMPARE(IniValue(ini, "WrtBAse", "Group"), std::string("3"));
  QCOMPARE(IniValue(ini, "WrtBAse", "mmFlg"), std::string("1"));
  QCOMPARE(IniValue(ini, "Coordinate", "Flg"), std::string("0"));
  QCOMPARE(IniValue(ini, "PointStr", "OutFlg"), std::string("0"));
  QCOMPARE(IniValue(ini, "Zcoord", "MojiBs"), std::string("9"));
  QCOMPARE(IniValue(ini, "XYcoord", "Lay"), std::string("12"));
  QCOMPARE(IniValue(ini, "Point", "EnkoR"), std::string("2.5"));

  // The next run shows what was stored; the drawing version starts at 4.20 again.
  f.Open();
  QCOMPARE(f.ws->JwwVersion, 420u);
  OnNextModal([](QWidget* d) {
    QCOMPARE(Child<QComboBox>(d, "ComboBox1")->currentIndex(), 4);
    QCOMPARE(Child<QLineEdit>(d, "Edit1")->text(), QStringLiteral("250"));
    QCOMPARE(Child<QSpinBox>(d, "Edit2")->value(), 3);
    QVERIFY(Child<QGroupBox>(d, "RadioGroup1")->findChildren<QRadioButton*>().front()->isChecked());
    QVERIFY(Child<QCheckBox>(d, "CheckBox8")->isChecked());
    QVERIFY(Child<QGroupBox>(d, "RadioGroup2")->findChildren<QRadioButton*>().front()->isChecked());
    QVERIFY(!Child<QCheckBox>(d, "PointStrOutFlg")->isChecked());
    QCOMPARE(Child<QComboBox>(d, "ZcoordMojiBs")->currentText(), QStringLiteral("右上"));
    QCOMPARE(Child<QSpinBox>(d, "XYcoordLay")->value(), 12);
    Child<QPushButton>(d, "Button1")->click();
  });
  TriggerAction(*f.window, "OptEdit");

  // "キャンセル", Escape and the close box leave everything as it was, the reaction of
  // "点出力 " on the code flag included; the next opening shows the settings in force.
  const auto leave = [](QWidget* d, int how) {
    Child<QSpinBox>(d, "PointLay")->setValue(7);
    Child<QLineEdit>(d, "Edit1")->setText(QStringLiteral("100"));
    Child<QCheckBox>(d, "PointOutFlg")->click();
    if (how == 0) Child<QPushButton>(d, "Button2")->click();
    if (how == 1) QTest::keyClick(d, Qt::Key_Escape);
    if (how == 2) d->close();
  };
  for (int how = 0; how < 3; ++how) {
    OnNextModal([&leave, how](QWidget* d) {
      QCOMPARE(Child<QSpinBox>(d, "PointLay")->value(), 1);
      QVERIFY(Child<QCheckBox>(d, "PointOutFlg")->isChecked());
      leave(d, how);
    });
    TriggerAction(*f.window, "OptEdit");
    QCOMPARE(f.ws->Settings.Point.Lay, 1);
    QCOMPARE(f.ws->Settings.WrtBAse.Scale, 250.0);
    QVERIFY(f.ws->Settings.Point.OutFlg);
    QVERIFY(f.ws->Settings.Point.CodeFlg);
  }
  f.window->close();
  QCOMPARE(IniValue(ini, "Point", "Lay"), std::string("1"));
  QCOMPARE(IniValue(ini, "Point", "CodeFlg"), std::string("1"));
  QCOMPARE(IniValue(ini, "WrtBAse", "Scale"), std::string("250"));

  // A hand-edited colour outside the boxes' range is shown and kept through OK, until the
  // user changes it.
  IniFile edited = IniFile::Parse(ReadFileBytes(ini));
  edited.Set("Point", "LColor", "20");
  edited.Set("XYcoord", "MojiCl", "40");
  WriteFileAtomic(ini, edited.Text());
  f.Open();
  OnNextModal([](QWidget* d) {
    QCOMPARE(Child<QSpinBox>(d, "PointLColor")->value(), 20);
    Child<QSpinBox>(d, "XYcoordMojiCl")->stepDown();
    QCOMPARE(Child<QSpinBox>(d, "XYcoordMojiCl")->value(), 8);
    Child<QPushButton>(d, "Button1")->click();
  });
  TriggerAction(*f.window, "OptEdit");
  QCOMPARE(f.ws->Settings.Point.LColor, 20);
  QCOMPARE(f.ws->Settings.XYcoord.MojiCl, 8u);
}

void DialogsTest::PointOutputClickDisablesTheCode() {
  WindowFixture f;
  OptionsDialog& d = f.window->Options();
  d.LoadForm(f.ws->Options);
  auto* pointOut = Child<QCheckBox>(&d, "PointOutFlg");
  auto* code = Child<QCheckBox>(&d, "PointCodeFlg");
  auto* marks = Child<QComboBox>(&d, "PointCode");
  QVERIFY(pointOut->isChecked() && code->isChecked() && code->isEnabled() && marks->isEnabled());
  pointOut->click();
  QVERIFY(!code->isEnabled());
  QVERIFY(code->isChecked());  // the tick stays
  QVERIFY(!marks->isEnabled());
  pointOut->click();
  QVERIFY(code->isEnabled() && marks->isEnabled());
  code->click();
  QVERIFY(!marks->isEnabled());
  OptionsForm form;
  d.StoreForm(form);
  QVERIFY(!form.Point.CodeFlg);
  QVERIFY(form.Point.OutFlg);
}

void DialogsTest::VersionBoxClosesOnAClick() {
  WindowFixture f;
  VersionBox& box = f.window->Version();
  QStringList texts;
  for (QLabel* label : box.findChildren<QLabel*>())
    texts << label->text();
  QVERIFY(texts.contains(QStringLiteral("Kestrova")));
  QVERIFY(texts.contains(QStringLiteral("－ Kestrova File converter －")));
  QVERIFY(texts.contains(QStringLiteral("ﾊﾞｰｼﾞｮﾝ ") + QLatin1String(KESTROVA_VERSION)));

  for (const char* target : {"Label1", "Label2", "Label3", "Panel1"}) {
    bool clicked = false;
    OnNextModal([&clicked, target](QWidget* modal) {
      QVERIFY(modal->objectName() == QStringLiteral("VerFrm"));
      auto* widget = Child<QWidget>(modal, target);
      // Where a user would click: the window system finds the label under the pointer.
      const QPoint at = widget->mapTo(modal, widget->rect().center());
      QWidget* hit = modal->childAt(at);
      QTest::mouseClick(hit != nullptr ? hit : modal, Qt::LeftButton, {},
                        hit != nullptr ? hit->mapFrom(modal, at) : at);
      clicked = true;
    });
    TriggerAction(*f.window, "mnuHelpVer");
    QVERIFY2(clicked, target);
    QVERIFY(!box.isVisible());
  }
}

void DialogsTest::MessageBoxesByKind() {
  WindowFixture f;
  QtPrompts& prompts = f.window->Prompts();
  struct Case {
    Prompts::Kind kind;
    Prompts::Buttons buttons;
    QMessageBox::StandardButton press;  // NoButton: Escape
    Prompts::Answer answer;
    QString title;
    QMessageBox::Icon icon;
  };
  const Case cases[] = {
      {Prompts::Kind::kPlain, Prompts::Buttons::kYesNo, QMessageBox::Yes, Prompts::Answer::kYes,
       QStringLiteral("Kestrova"), QMessageBox::NoIcon},
      {Prompts::Kind::kPlain, Prompts::Buttons::kYesNo, QMessageBox::NoButton, Prompts::Answer::kNo,
       QStringLiteral("Kestrova"), QMessageBox::NoIcon},
      {Prompts::Kind::kConfirmation, Prompts::Buttons::kOkCancel, QMessageBox::NoButton,
       Prompts::Answer::kCancel, QStringLiteral("確認"), QMessageBox::Question},
      {Prompts::Kind::kInformation, Prompts::Buttons::kYesNoCancel, QMessageBox::No,
       Prompts::Answer::kNo, QStringLiteral("情報"), QMessageBox::Information},
      {Prompts::Kind::kWarning, Prompts::Buttons::kOkCancel, QMessageBox::Ok, Prompts::Answer::kOk,
       QStringLiteral("警告"), QMessageBox::Warning},
  };
  for (const Case& c : cases) {
    QString text;
    QString title;
    QStringList captions;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    OnNextModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      QVERIFY(box != nullptr);
      text = box->text();
      title = box->windowTitle();
      icon = box->icon();
      for (QAbstractButton* b : box->buttons())
        captions << b->text();
      if (c.press == QMessageBox::NoButton) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->button(c.press)->click();
      }
    });
    QCOMPARE(prompts.Message(c.kind, c.buttons, "　終了しますか？　　\r\n"), c.answer);
    QCOMPARE(text, QStringLiteral("　終了しますか？　　\n"));
    QCOMPARE(title, c.title);
    QCOMPARE(icon, c.icon);
    if (c.buttons == Prompts::Buttons::kYesNoCancel) {
      QVERIFY(captions.contains(QStringLiteral("はい(&Y)")));
      QVERIFY(captions.contains(QStringLiteral("いいえ(&N)")));
      QVERIFY(captions.contains(QStringLiteral("キャンセル")));
    }
  }

  {
    auto busy = prompts.Busy();
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  }
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void DialogsTest::StartUpProblemsAreWarnings() {
  // The boxes start-up shows: their titles, icons and texts, in turn.
  struct Shown {
    QString title;
    QMessageBox::Icon icon;
    QString text;
  };
  const auto start = [](const std::filesystem::path& settings, const QTemporaryDir& dir) {
    MainWindowSetup setup;
    setup.settingsFile = settings;
    setup.programFolder = QtToPath(dir.path());
    Workspace ws;
    MainWindow window(ws, std::move(setup));
    const StartUpProblems problems = window.Start();
    std::vector<Shown> shown;
    for (size_t i = 0; i < problems.errors.size() + problems.warnings.size(); ++i) {
      OnNextModal([&shown](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        shown.push_back({box->windowTitle(), box->icon(), box->text()});
        box->button(QMessageBox::Ok)->click();
      });
    }
    window.ShowProblems(problems);
    return shown;
  };
  // Hand-broken settings: read as their nearest values, and said in one box, a warning
  // (the program goes on as before), not an error.
  WindowFixture f;
  WriteFileAtomic(f.SettingsFile(), "[WrtBAse]\r\nSize=99\r\n[Point]\r\nLay=20\r\n");
  std::vector<Shown> shown = start(f.SettingsFile(), f.dir);
  QCOMPARE(shown.size(), size_t{1});
  QCOMPARE(shown[0].title, QStringLiteral("警告"));
  QCOMPARE(shown[0].icon, QMessageBox::Warning);
  QVERIFY2(shown[0].text.contains(QStringLiteral("[WrtBAse] Size=99 → 14")),
           qPrintable(shown[0].text));
  QVERIFY2(shown[0].text.contains(QStringLiteral("[Point] Lay=20 → 15")),
           qPrintable(shown[0].text));
  // A settings file that cannot be read at all: the program starts on its defaults, and
  // closing would write them over the file. That is an error.
  const std::filesystem::path folder = QtToPath(f.dir.filePath(QStringLiteral("folder.INI")));
  std::filesystem::create_directory(folder);
  shown = start(folder, f.dir);
  QCOMPARE(shown.size(), size_t{1});
  QCOMPARE(shown[0].title, QStringLiteral("エラー"));
  QCOMPARE(shown[0].icon, QMessageBox::Critical);
  QVERIFY2(shown[0].text.startsWith(QStringLiteral("設定ファイルを読み込めませんでした。")),
           qPrintable(shown[0].text));
}

void DialogsTest::QtsOwnMenusAreJapanese() {
  // The catalogue is built into the program (a Windows .exe has no Qt folder beside it),
  // and installed as the program installs it; removed after, for the tests that follow.
  QVERIFY(QFile::exists(QStringLiteral(":/kestrova/translations/qtbase_ja.qm")));
  QTranslator* installed = kestrova::InstallQtTranslations();
  QVERIFY(installed != nullptr);
  const auto remove = qScopeGuard([installed] { QCoreApplication::removeTranslator(installed); });
  QLineEdit edit;
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList texts;
  for (const QAction* action : menu->actions())
    texts << action->text().section(u'\t', 0, 0);  // without the shortcut
  QVERIFY2(texts.contains(QStringLiteral("元に戻す(&U)")), qPrintable(texts.join(u'|')));
  QVERIFY2(texts.contains(QStringLiteral("すべてを選択")), qPrintable(texts.join(u'|')));
}

void DialogsTest::FileDialogFiltersAndIndex() {
  const std::string filter = "座標ﾃﾞｰﾀ(*.Zhy,*.sim)|*.Zhy;*.Sim|すべてのﾌｧｲﾙ(*.*)|*.*";
  const QStringList filters = QtNameFilters(filter);
#ifdef _WIN32
  // The native dialog takes the patterns as given; Qt's own, standing in, the others.
  QCOMPARE(filters, QStringList({QStringLiteral("座標ﾃﾞｰﾀ(*.Zhy,*.sim) (*.Zhy *.[zZ][hH][yY] "
                                                "*.Sim *.[sS][iI][mM])"),
                                 QStringLiteral("すべてのﾌｧｲﾙ(*.*) (*.*)")}));
#else
  QCOMPARE(filters,
           QStringList({QStringLiteral("座標ﾃﾞｰﾀ(*.Zhy,*.sim) (*.[zZ][hH][yY] *.[sS][iI][mM])"),
                        QStringLiteral("すべてのﾌｧｲﾙ(*.*) (*.*)")}));
#endif
  QCOMPARE(FilterIndex(filters, filters[1]), 2);
  QCOMPARE(FilterIndex(filters, QStringLiteral("すべてのﾌｧｲﾙ(*.*)")), 2);
  QCOMPARE(FilterIndex(filters, QStringLiteral("other")), 1);

  // Through Qt's own dialog: the chosen entry comes back 1-based, the file absolute.
  WindowFixture f;
  const QString target = f.dir.filePath(QStringLiteral("site.SIM"));
  QVERIFY(QFile::copy(PathToQt(ExampleFile("site.sim")), target));
  // The dialog is closed before anything is checked: a failed check inside it would
  // leave it open and hang the test.
  QStringList shownFilters;
  QString shownFolder;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) {
      qobject_cast<QDialog*>(modal)->reject();
      return;
    }
    shownFilters = dialog->nameFilters();
    shownFolder = QDir(dialog->directory()).canonicalPath();
    dialog->selectNameFilter(filters[1]);
    // The name is typed, as a user would: selectFile() leaves the name box alone while it
    // has the focus, and whether it has depends on the window manager.
    auto* nameBox = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (nameBox == nullptr) return;
    nameBox->setText(QFileInfo(target).fileName());
    // Closed as its open button closes it once its folder listing (a thread of its own)
    // has caught up; accept() itself would race that listing.
    static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
  });
  const auto choice = f.window->Prompts().OpenFile(filter, QtToPath(f.dir.path()));
  QCOMPARE(shownFilters, filters);
  QCOMPARE(shownFolder, QDir(f.dir.path()).canonicalPath());
  QVERIFY(choice.has_value());
  QCOMPARE(choice->filterIndex, 2);
  QCOMPARE(QDir::fromNativeSeparators(PathToQt(choice->path)), target);

  OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  QVERIFY(!f.window->Prompts().SaveFile(filter, QtToPath(f.dir.path())).has_value());
}

// Work that goes on past the show delay gets a window with its text and a stop button;
// work that ends quickly never shows one.
void DialogsTest::LongWorkShowsProgressAndStops() {
  WindowFixture f;
  const auto progressWindow = [&] {
    return f.window->findChild<QProgressDialog*>(QStringLiteral("ProgressFrm"));
  };
  {
    auto quick = f.window->Prompts().LongWork("Jw_win に転送しています...");
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QVERIFY(quick->Continue(0.0));
    QVERIFY(quick->Continue(1.0));
    QVERIFY(progressWindow() == nullptr || !progressWindow()->isVisible());
  }
  QVERIFY(QApplication::overrideCursor() == nullptr);

  auto work = f.window->Prompts().LongWork("Jww形式ﾃﾞｰﾀを保存しています...");
  QVERIFY(work->Continue(0.0));
  QThread::msleep(800);  // the work itself: no events are handled meanwhile
  QVERIFY(work->Continue(0.25));
  QProgressDialog* shown = progressWindow();
  QVERIFY(shown != nullptr && shown->isVisible());
  QCOMPARE(shown->labelText(), QStringLiteral("Jww形式ﾃﾞｰﾀを保存しています..."));
  QCOMPARE(shown->value(), 250);
  QVERIFY(work->Continue(0.5));
  auto* stop = shown->findChild<QPushButton*>();
  QVERIFY(stop != nullptr);
  QCOMPARE(stop->text(), QStringLiteral("キャンセル"));
  stop->click();
  QVERIFY(!work->Continue(0.75));
  work.reset();
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void DialogsTest::ClipboardHoldsBothFormats() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const std::string payload("\x00\x00\x00\x00\x00\x00\x69\xC0\x01\xFF", 10);
  QtClipboardSink sink(clipboard);
  sink.SetJwWinData(payload);
  const QMimeData* data = clipboard->mimeData();
  QVERIFY(data != nullptr);
  QVERIFY(data->formats().contains(QStringLiteral("Jw_win")));
  QVERIFY(data->formats().contains(QStringLiteral("DataObject")));
  QCOMPARE(data->data(QStringLiteral("Jw_win")), QByteArray(payload.data(), 10));
  QCOMPARE(data->data(QStringLiteral("DataObject")).size(), 4);

  // The transfer command through the window puts the loaded site's drawing on the
  // system's clipboard (its bytes are checked against the command-line tool's elsewhere).
  WindowFixture f;
  f.window->LoadFiles({ExampleFile("site.sim")});
  TriggerAction(*f.window, "mnJwCopy");
  const QByteArray drawing = SystemClipboardData(L"Jw_win");
  QVERIFY(drawing.size() > 8 + 8 + 128 + 2);
  QCOMPARE(drawing.left(16), QByteArray(16, '\0'));
  QCOMPARE(SystemClipboardData(L"DataObject").size(), 4);
}

void DialogsTest::ClipboardTargetsOnX11() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    QSKIP("needs an X server (the test runs again under Xvfb)");
  }
  QtClipboardSink sink;
  sink.SetJwWinData(std::string("JWPAYLOAD", 9));
  // Another program asks the X server for the clipboard's targets and the payload;
  // this process answers while the event loop runs.
  auto read = [](const QStringList& arguments) -> QByteArray {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), arguments);
    if (!xclip.waitForStarted(5000)) return "<xclip missing>";
    const QDeadlineTimer deadline(5000);
    while (xclip.state() != QProcess::NotRunning && !deadline.hasExpired())
      QTest::qWait(10);
    return xclip.readAllStandardOutput();
  };
  const QByteArray targets =
      read({QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
            QStringLiteral("TARGETS"), QStringLiteral("-o")});
  const QList<QByteArray> lines = targets.split('\n');
  QVERIFY2(lines.contains("Jw_win"), targets.constData());
  QVERIFY2(lines.contains("DataObject"), targets.constData());
  QCOMPARE(read({QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                 QStringLiteral("Jw_win"), QStringLiteral("-o")}),
           QByteArray("JWPAYLOAD"));
}

}  // namespace kestrova::test

QObject* NewDialogsTest() {
  return new kestrova::test::DialogsTest;
}

#include "dialogs_test.moc"
