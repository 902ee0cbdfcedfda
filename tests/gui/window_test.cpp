#include <QAbstractButton>
#include <QAction>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include "common/atomic_file.h"
#include "common/error.h"
#include "gui/fonts.h"
#include "gui/point_grid.h"
#include "gui_test_support.h"

namespace kestrova::test {

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void LayoutNamesAndTexts();
  void MenusToolbarAndHints();
  void JapaneseTextsHaveGlyphs();
  void FilesFromCommandLineAndDrop();
  void ErrorsAreShownAndTheProgramGoesOn();
  void SiteNameByDoubleClickOnTheStatusBar();
  void PlaceAndSplitterAreRememberedBetweenRuns();
};

void WindowTest::LayoutNamesAndTexts() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QCOMPARE(w.windowTitle(), QStringLiteral(" Kestrova"));
  QCOMPARE(w.size(), QSize(765, 572));
  QCOMPARE(w.font().pixelSize(), 12);
  QCOMPARE(w.font().family(), QStringLiteral("ＭＳ ゴシック"));
  for (const char* name :
       {"ToolBar1", "Panel1", "StringGrid1", "Splitter1", "PaintBox1", "StatusBar1"}) {
    QVERIFY2(w.findChild<QWidget*>(QLatin1String(name)) != nullptr, name);
  }

  auto* splitter = w.findChild<QSplitter*>(QStringLiteral("Splitter1"));
  QCOMPARE(splitter->widget(0)->objectName(), QStringLiteral("StringGrid1"));
  QCOMPARE(splitter->widget(1)->objectName(), QStringLiteral("PaintBox1"));
  QCOMPARE(splitter->sizes().front(), 360);
  // The plot box keeps the grid's width when the window grows.
  w.resize(1000, 600);
  QTRY_COMPARE(splitter->sizes().front(), 360);
  QWidget* plot = w.findChild<QWidget*>(QStringLiteral("PaintBox1"));
  const QImage empty = plot->grab().toImage();
  QCOMPARE(empty.pixelColor(empty.width() / 2, empty.height() / 2), QColor(Qt::white));

  QCOMPARE(w.StatusPanel(0).text(), QStringLiteral(" 0 "));
  QCOMPARE(w.StatusPanel(1).text(), QString());
}

void WindowTest::MenusToolbarAndHints() {
  WindowFixture f;
  MainWindow& w = *f.window;
  struct Item {
    const char* menu;
    const char* name;
    QString caption;
    QString hint;  // empty: no toolbar button
  };
  const Item items[] = {
      {"MenuFile", "mnNewZhyFile", QStringLiteral("新規座標(&N)"), QStringLiteral("新規座標")},
      {"MenuFile", "mnZhyLoadFile", QStringLiteral("座標ﾃﾞｰﾀを開く(&O)"),
       QStringLiteral("座標ﾃﾞｰﾀを開く")},
      {"MenuFile", "mnZhyFileSave", QStringLiteral("座標ﾃﾞｰﾀを保存(&S)"),
       QStringLiteral("座標ﾃﾞｰﾀを保存")},
      {"MenuFile", "mnCadSaveFile", QStringLiteral("CADﾃﾞｰﾀで保存(&A)"),
       QStringLiteral("CADﾃﾞｰﾀで保存")},
      {"MenuFile", "mnPrtOut", QStringLiteral("印刷(&P)"), QStringLiteral("印刷")},
      {"MenuFile", "mnPrtOpt", QStringLiteral("プリンタ設定(&E)"), QString()},
      {"MenuFile", "mnQuit", QStringLiteral("終了(&Q)"), QStringLiteral("終了")},
      {"T1", "mnJwCopy", QStringLiteral("Jw_winに転送(&V)"), QStringLiteral("Jw_winに転送")},
      {"O1", "OptEdit", QStringLiteral("環境設定(&E)"), QStringLiteral("環境設定")},
      {"N4", "mnHelp", QStringLiteral("ヘルプ(&H)"), QStringLiteral("ヘルプ")},
      {"N4", "mnuHelpVer", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&V)"), QString()},
  };
  const QStringList menuTitles = {QStringLiteral("ﾌｧｲﾙ(&F)"), QStringLiteral("ツール(&T)"),
                                  QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"), QStringLiteral("ヘルプ")};
  const QStringList menuNames = {QStringLiteral("MenuFile"), QStringLiteral("T1"),
                                 QStringLiteral("O1"), QStringLiteral("N4")};
  const QList<QAction*> bar = w.menuBar()->actions();
  QCOMPARE(bar.size(), 4);
  for (int i = 0; i < 4; ++i) {
    QCOMPARE(bar[i]->text(), menuTitles[i]);
    QCOMPARE(bar[i]->menu()->objectName(), menuNames[i]);
  }
  for (const Item& item : items) {
    auto* menu = w.findChild<QMenu*>(QLatin1String(item.menu));
    auto* action = w.findChild<QAction*>(QLatin1String(item.name));
    QVERIFY2(action != nullptr, item.name);
    QVERIFY2(menu->actions().contains(action), item.name);
    QCOMPARE(action->text(), item.caption);
    if (!item.hint.isEmpty()) QCOMPARE(action->toolTip(), item.hint);
  }
  // The file menu's separators sit where they group the commands.
  QStringList fileMenu;
  for (QAction* a : w.findChild<QMenu*>(QStringLiteral("MenuFile"))->actions()) {
    fileMenu << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
  }
#ifdef KESTROVA_HAVE_GDAL
  // The GIS export joins the drawing save.
  QCOMPARE(
      fileMenu.join(QLatin1Char(' ')),
      QStringLiteral("mnNewZhyFile mnZhyLoadFile mnZhyFileSave | mnCadSaveFile mnGisSaveFile | "
                     "mnPrtOut mnPrtOpt | mnQuit"));
#else
  QCOMPARE(fileMenu.join(QLatin1Char(' ')),
           QStringLiteral("mnNewZhyFile mnZhyLoadFile mnZhyFileSave | mnCadSaveFile | mnPrtOut "
                          "mnPrtOpt | mnQuit"));
#endif

  QStringList toolbar;
  for (QAction* a : w.findChild<QToolBar*>(QStringLiteral("ToolBar1"))->actions()) {
    toolbar << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
    if (!a->isSeparator()) QVERIFY2(!a->icon().isNull(), qPrintable(a->objectName()));
  }
  QCOMPARE(toolbar.join(QLatin1Char(' ')),
           QStringLiteral("| mnNewZhyFile mnZhyLoadFile mnZhyFileSave | mnCadSaveFile mnJwCopy | "
                          "mnPrtOut | OptEdit | mnHelp mnQuit |"));
}

void WindowTest::JapaneseTextsHaveGlyphs() {
  // The Windows faces resolve to installed Japanese fonts that hold every character
  // the window shows: no empty boxes.
  for (const QFont& font : {GothicFont(12), PGothicFont(12)}) {
    const QFontMetrics metrics(font);
    const QString texts = QStringLiteral(
        "ﾌｧｲﾙ座標ﾃﾞｰﾀを開く保存ＣＡＤ印刷プリンタ設定終了ツールJw_"
        "winに転送ｵﾌﾟｼｮﾝ環境ヘルプﾊﾞｰｼﾞｮﾝ情報"
        "点番号測点名Ｘ座標マーク備　考－用紙サイズ縮尺＝１／書込グループ");
    for (QChar c : texts)
      QVERIFY2(metrics.inFont(c), qPrintable(QString(c)));
  }
  QVERIFY(QFontInfo(GothicFont(12)).family().contains(QStringLiteral("Gothic")));
  QVERIFY(QFontInfo(PGothicFont(12)).family().contains(QStringLiteral("PGothic")));
}

void WindowTest::FilesFromCommandLineAndDrop() {
  WindowFixture f;
  MainWindow& w = *f.window;
  w.LoadFiles({ExampleFile("site.sim")});
  QCOMPARE(f.ws->Coords.Table.PointCount, 11);
  QCOMPARE(w.StatusPanel(0).text(), QStringLiteral(" 11 "));
  QCOMPARE(w.StatusPanel(2).text(), QStringLiteral(" 桜台二丁目地区"));
  QCOMPARE(w.windowTitle(), QStringLiteral(" Kestrova - site.sim"));

  // A second file dropped on the window asks whether to append, as the load command does.
  // The same points again: afterwards the user hears that their numbers repeat.
  QString question;
  QString notice;
  OnNextModal([&question, &notice](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    question = box->text();
    OnNextModal([&notice](QWidget* next) {
      if (auto* told = qobject_cast<QMessageBox*>(next)) notice = told->text();
    });
    box->button(QMessageBox::Yes)->click();
  });
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(PathToQt(ExampleFile("site.zhy")))});
  QDragEnterEvent enter(QPoint(400, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&w, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(400, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&w, &drop);
  QTRY_VERIFY(f.ws->Coords.Table.PointCount > 11);
  QVERIFY(question.contains(QStringLiteral("追加して読み込む")));
  QTRY_VERIFY(notice.contains(QStringLiteral("11 点の点番号が先に読み込んだ点と重なっています。")));
  QCOMPARE(w.StatusPanel(0).text(), QStringLiteral(" %1 ").arg(f.ws->Coords.Table.PointCount));
}

void WindowTest::ErrorsAreShownAndTheProgramGoesOn() {
  WindowFixture f;
  MainWindow& w = *f.window;
  w.LoadFiles({ExampleFile("site.sim")});
  QStringList shown;
  auto answer = [&shown](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    shown << box->windowTitle() + QLatin1Char(':') + box->text();
    box->button(QMessageBox::Ok)->click();
  };
  OnNextModal(answer);
  w.Run([] { throw Error("site.sim:3: 読めません"); });
  OnNextModal(answer);
  w.Run([] { throw std::runtime_error("boom"); });
  QCOMPARE(shown.size(), 2);
  QCOMPARE(shown[0], QStringLiteral("エラー:site.sim:3: 読めません"));
  QVERIFY(shown[1].startsWith(QStringLiteral("エラー:")) &&
          shown[1].endsWith(QStringLiteral("boom")));

  // A file that cannot be read is reported and leaves the table as it was.
  OnNextModal([&shown](QWidget* modal) {
    shown << qobject_cast<QMessageBox*>(modal)->text();
    if (auto* box = qobject_cast<QMessageBox*>(modal); box->button(QMessageBox::No) != nullptr) {
      // the append question: replace, then the error follows
      box->button(QMessageBox::No)->click();
      OnNextModal([&shown](QWidget* next) {
        shown << qobject_cast<QMessageBox*>(next)->text();
        qobject_cast<QMessageBox*>(next)->button(QMessageBox::Ok)->click();
      });
    } else {
      box->button(QMessageBox::Ok)->click();
    }
  });
  w.LoadFiles({QtToPath(f.dir.filePath(QStringLiteral("missing.sim")))});
  QTRY_VERIFY(shown.last().contains(QStringLiteral("missing.sim")));
  QCOMPARE(f.ws->Coords.Table.PointCount, 11);
  QCOMPARE(w.StatusPanel(0).text(), QStringLiteral(" 11 "));
  QVERIFY(w.isVisible());
}

void WindowTest::SiteNameByDoubleClickOnTheStatusBar() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QString caption;
  QString prompt;
  OnNextModal([&](QWidget* modal) {
    caption = modal->windowTitle();
    auto* input = qobject_cast<QInputDialog*>(modal);
    QVERIFY(input != nullptr);
    prompt = input->labelText();
    input->setTextValue(QStringLiteral("新町"));
    input->accept();
  });
  QTest::mouseDClick(&w.StatusPanel(1), Qt::LeftButton);
  QCOMPARE(caption, QStringLiteral(" 現場名入力"));
  QCOMPARE(prompt, QStringLiteral("現場名？"));
  QCOMPARE(w.StatusPanel(2).text(), QStringLiteral(" 新町"));
  QCOMPARE(f.ws->Coords.Sima.SiteName, std::string("\x90V\x92\xac"));

  // The name is not saved anywhere yet: the close box asks, and Cancel keeps the window.
  for (const auto button : {QMessageBox::Cancel, QMessageBox::Ok}) {
    QString asked;
    OnNextModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      QVERIFY(box != nullptr);
      asked = box->text();
      box->button(button)->click();
    });
    w.close();
    QCOMPARE(asked, QStringLiteral("入力・変更した座標データが保存されていません。\n"
                                   "保存せずに終了しますか？"));
    QCOMPARE(w.isVisible(), button == QMessageBox::Cancel);
  }
}

void WindowTest::PlaceAndSplitterAreRememberedBetweenRuns() {
  WindowFixture f;
  f.window->setGeometry(QRect(60, 50, 700, 500));
  auto* splitter = f.window->findChild<QSplitter*>(QStringLiteral("Splitter1"));
  splitter->setSizes({420, 200});
  QTRY_COMPARE(f.window->geometry(), QRect(60, 50, 700, 500));
  const int grid = splitter->sizes().front();
  QVERIFY(grid != 360);
  f.window->close();
  f.Open();
  QCOMPARE(f.window->geometry(), QRect(60, 50, 700, 500));
  QTRY_COMPARE(f.window->findChild<QSplitter*>(QStringLiteral("Splitter1"))->sizes().front(), grid);
  QCOMPARE(f.window->windowTitle(), QStringLiteral(" Kestrova"));

  // A place on no screen: the window opens at its first place, moved onto the screen as
  // far as it must.
  f.window->close();
  std::string text = ReadFileBytes(f.SettingsFile());
  text.replace(text.find("Left=60"), 7, "Left=30000");
  WriteFileAtomic(f.SettingsFile(), text);
  f.Open();
  QCOMPARE(f.window->size(), QSize(765, 572));
  QCOMPARE(f.window->pos(),
           PlaceOnScreen(QRect(226, 179, 765, 572), f.window->screen()->availableGeometry()));
  // A place whose title bar is off the screen's corner is moved onto it, its size kept.
  const QRect room = f.window->screen()->availableGeometry();
  const QRect corner(room.right() - 30, room.bottom() - 40, 765, 572);
  QVERIFY(!TitleBarInRoom(corner, room));
  QVERIFY(TitleBarInRoom(QRect(room.x() + 10, room.y() + 40, 700, 500), room));
  QVERIFY(!TitleBarInRoom(QRect(room.x() + 10, room.y(), 700, 500), room));  // above it
  f.window->close();
  text = ReadFileBytes(f.SettingsFile());
  const size_t left = text.find("Left=");
  text.replace(left, text.find('\r', left) - left, "Left=" + std::to_string(corner.x()));
  const size_t top = text.find("Top=");
  text.replace(top, text.find('\r', top) - top, "Top=" + std::to_string(corner.y()));
  WriteFileAtomic(f.SettingsFile(), text);
  f.Open();
  QCOMPARE(f.window->pos(), FitInRoom(corner, room).topLeft());
  QCOMPARE(f.window->size(), FitInRoom(corner, room).size());
  // A place larger than its screen now (at 150 %, 1280 x 900 is 853 x 600): as large as
  // the room and inside it. One that fits stays as it was.
  QCOMPARE(FitInRoom(QRect(226, 202, 765, 572), QRect(0, 0, 853, 600)), QRect(72, 0, 765, 561));
  QCOMPARE(FitInRoom(QRect(60, 50, 700, 500), QRect(0, 0, 1280, 860)), QRect(60, 50, 700, 500));
  // That place on a screen without room for it (a 1366 x 768 laptop above its taskbar, a
  // full-HD one at 150 %): moved up and left as far as the window and its frame must,
  // and never above or left of the room.
  const QRect first(226, 179, 765, 572);
  QCOMPARE(PlaceOnScreen(first, QRect(0, 0, 1280, 860)), QPoint(226, 179));
  QCOMPARE(PlaceOnScreen(first, QRect(0, 0, 1366, 728)), QPoint(226, 117));
  QCOMPARE(PlaceOnScreen(first, QRect(0, 0, 1280, 680)), QPoint(226, 69));
  QCOMPARE(PlaceOnScreen(first, QRect(0, 40, 700, 500)), QPoint(0, 40));
  QCOMPARE(PlaceOnScreen(first, QRect(1920, 0, 900, 700)), QPoint(1920, 89));
}

}  // namespace kestrova::test

QObject* NewWindowTest() {
  return new kestrova::test::WindowTest;
}

#include "window_test.moc"
