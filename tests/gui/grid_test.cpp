#include <QAbstractButton>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTest>

#include "gui/painter_canvas.h"
#include "gui/plot_widget.h"
#include "gui/point_grid.h"
#include "gui_test_support.h"
#include "view/plot_draw.h"

namespace kestrova::test {

namespace {

// Sends one mouse event to a widget, with the buttons held as given.
void SendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButtons held,
               Qt::MouseButton button = Qt::LeftButton) {
  QMouseEvent event(type, QPointF(pos), QPointF(target->mapToGlobal(pos)),
                    type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

// The middle of a grid row's number cell, in the number column's own coordinates.
QPoint NumberCell(PointGrid& grid, int gridRow) {
  QHeaderView* numbers = grid.verticalHeader();
  return QPoint(numbers->width() / 2, numbers->sectionViewportPosition(gridRow - 1) +
                                          numbers->sectionSize(gridRow - 1) / 2);
}

QString Cell(PointGrid& grid, int gridRow, int gridColumn) {
  return grid.model()->index(gridRow - 1, gridColumn - 1).data().toString();
}

// The window's grid after the example site was loaded.
PointGrid& LoadSite(WindowFixture& f) {
  f.window->LoadFiles({ExampleFile("site.sim")});
  return f.window->Grid();
}

QString NumberText(PointGrid& grid, int gridRow) {
  return grid.model()->headerData(gridRow - 1, Qt::Vertical).toString();
}

// Whether the plot as painted now shows point r's dot in the colour.
bool PlotShows(WindowFixture& f, int r, Colour colour) {
  const QImage shot = f.window->Plot().grab().toImage();
  const SurveyPoint& p = f.ws->Coords.Table.Points[static_cast<size_t>(r)];
  const PixelPoint at = RoundPixels(ToScreen(f.ws->View, ToViewAxes(f.ws->View, p.X, p.Y)));
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      if (shot.pixelColor(at.x + dx, at.y + dy) == ToQColor(colour)) return true;
  return false;
}

}  // namespace

class GridTest : public QObject {
  Q_OBJECT

 private slots:
  void HeadersWidthsAndCellsAfterLoad();
  void MarkingByDragInTheNumberColumn();
  void EnterOnTheLastRowAddsARow();
  void TypingJapaneseTextStoresShiftJis();
  void NumbersTooWideForTheirCellKeepTheirSign();
  void TextThatIsNoNumberIsDrawnRed();
  void CursorFollowsTheView();
};

void GridTest::HeadersWidthsAndCellsAfterLoad() {
  WindowFixture f;
  PointGrid& grid = f.window->Grid();
  // An empty table: ten numbered rows under the headers.
  QCOMPARE(grid.model()->rowCount(), 10);
  QCOMPARE(NumberText(grid, 10), QStringLiteral("10"));

  f.window->LoadFiles({ExampleFile("site.sim")});
  QCOMPARE(grid.model()->rowCount(), 12);  // 11 points and one empty row for typing
  const QStringList headers = {QStringLiteral("点番号"),   QStringLiteral("測点名"),
                               QStringLiteral(" Ｘ 座標"), QStringLiteral(" Ｙ 座標"),
                               QStringLiteral(" Ｚ 座標"), QStringLiteral("マーク"),
                               QStringLiteral("備　考")};
  for (int c = 0; c < 7; ++c)
    QCOMPARE(grid.model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
  QCOMPARE(grid.font().family(), QStringLiteral("ＭＳ Ｐゴシック"));

  // Point 7 as the SIMA file gives it: fixed three decimals with ".", whatever the locale.
  QCOMPARE(NumberText(grid, 7), QStringLiteral("*7 "));
  QCOMPARE(Cell(grid, 7, 1), QStringLiteral("7  "));
  QCOMPARE(Cell(grid, 7, 2), QStringLiteral("境界5"));
  QCOMPARE(Cell(grid, 7, 3), QStringLiteral("-12080.100 "));
  QCOMPARE(Cell(grid, 7, 4), QStringLiteral("-30490.000 "));
  QCOMPARE(Cell(grid, 7, 5), QStringLiteral(" 23.980 "));
  QCOMPARE(Cell(grid, 7, 6), QStringLiteral("12"));
  QCOMPARE(Cell(grid, 7, 7), QStringLiteral("引照点あり"));
  QCOMPARE(NumberText(grid, 12), QString());  // the empty row has no number
  QCOMPARE(grid.model()->index(6, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
               Qt::AlignHorizontal_Mask,
           Qt::AlignLeft);
  QCOMPARE(grid.model()->index(6, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
               Qt::AlignHorizontal_Mask,
           Qt::AlignRight);
}

void GridTest::MarkingByDragInTheNumberColumn() {
  WindowFixture f;
  PointGrid& grid = LoadSite(f);
  const PointTable& table = f.ws->Coords.Table;
  QWidget* numbers = grid.verticalHeader()->viewport();

  // Rows 3 to 6 once each, then back over 5: 5 toggles twice. The plot shows the marks
  // at the press and again when the drag is over.
  QTRY_VERIFY(PlotShows(f, 4, kPlotBlue));
  SendMouse(numbers, QEvent::MouseButtonPress, NumberCell(grid, 3), Qt::LeftButton);
  QVERIFY(PlotShows(f, 3, kPlotGreen));
  for (int row : {4, 5, 6, 5}) {
    SendMouse(numbers, QEvent::MouseMove, NumberCell(grid, row), Qt::LeftButton);
    SendMouse(numbers, QEvent::MouseMove, NumberCell(grid, row) + QPoint(1, 2), Qt::LeftButton);
  }
  SendMouse(numbers, QEvent::MouseButtonRelease, NumberCell(grid, 5), Qt::NoButton);
  const int expected[] = {1, 1, 0, 0, 1, 0, 1};  // rows 1..7
  for (int r = 1; r <= 7; ++r)
    QCOMPARE(table.Points[r].Marked, expected[r - 1]);
  QCOMPARE(NumberText(grid, 3), QStringLiteral("3 "));
  QCOMPARE(NumberText(grid, 5), QStringLiteral("*5 "));
  QVERIFY(!f.ws->Grid.MarkDragActive);
  QVERIFY(PlotShows(f, 4, kPlotGreen));
  QVERIFY(PlotShows(f, 5, kPlotBlue));

  // Moving without a press marks nothing.
  SendMouse(numbers, QEvent::MouseMove, NumberCell(grid, 8), Qt::NoButton);
  QCOMPARE(table.Points[8].Marked, 1);

  // A drag that starts in the cells reaches the number column too.
  QWidget* cells = grid.viewport();
  const QPoint inCell(grid.columnViewportPosition(1) + 5, NumberCell(grid, 9).y());
  SendMouse(cells, QEvent::MouseButtonPress, inCell, Qt::LeftButton);
  QCOMPARE(table.Points[9].Marked, 1);
  SendMouse(cells, QEvent::MouseMove, QPoint(-grid.verticalHeader()->width() / 2, inCell.y()),
            Qt::LeftButton);
  SendMouse(cells, QEvent::MouseButtonRelease, inCell, Qt::NoButton);
  QCOMPARE(table.Points[9].Marked, 0);

  // The right button and the row without a point change nothing.
  SendMouse(numbers, QEvent::MouseButtonPress, NumberCell(grid, 1), Qt::RightButton,
            Qt::RightButton);
  SendMouse(numbers, QEvent::MouseButtonRelease, NumberCell(grid, 1), Qt::NoButton,
            Qt::RightButton);
  SendMouse(numbers, QEvent::MouseButtonPress, NumberCell(grid, 12), Qt::LeftButton);
  SendMouse(numbers, QEvent::MouseButtonRelease, NumberCell(grid, 12), Qt::NoButton);
  QCOMPARE(table.Points[1].Marked, 1);
  QCOMPARE(NumberText(grid, 12), QString());

  // A double click is two presses: the mark is as it was.
  SendMouse(numbers, QEvent::MouseButtonPress, NumberCell(grid, 10), Qt::LeftButton);
  SendMouse(numbers, QEvent::MouseButtonRelease, NumberCell(grid, 10), Qt::NoButton);
  SendMouse(numbers, QEvent::MouseButtonDblClick, NumberCell(grid, 10), Qt::LeftButton);
  SendMouse(numbers, QEvent::MouseButtonRelease, NumberCell(grid, 10), Qt::NoButton);
  QCOMPARE(table.Points[10].Marked, 1);
}

void GridTest::EnterOnTheLastRowAddsARow() {
  WindowFixture f;
  PointGrid& grid = LoadSite(f);
  grid.setFocus();
  grid.setCurrentIndex(grid.model()->index(4, 2));
  QTest::keyClick(&grid, Qt::Key_Return);
  QCOMPARE(grid.model()->rowCount(), 12);  // not the last row: nothing added

  grid.setCurrentIndex(grid.model()->index(11, 2));
  QCOMPARE(f.ws->Grid.CurrentRow, 12);
  QTest::keyClick(&grid, Qt::Key_Enter);
  QCOMPARE(grid.model()->rowCount(), 13);
  QCOMPARE(NumberText(grid, 13), QStringLiteral("13"));

  // Enter in an open editor commits the text and, on the last row, adds the next one.
  const QModelIndex last = grid.model()->index(12, 2);
  grid.setCurrentIndex(last);
  grid.edit(last);
  auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(last));
  QVERIFY(editor != nullptr);
  editor->setText(QStringLiteral("-12100.5"));
  QTest::keyClick(editor, Qt::Key_Return);
  QTRY_COMPARE(f.ws->Grid.Rows[13][3], std::string("-12100.5"));
  QTRY_COMPARE(grid.model()->rowCount(), 14);
  QCOMPARE(NumberText(grid, 14), QStringLiteral("14"));
}

void GridTest::TypingJapaneseTextStoresShiftJis() {
  WindowFixture f;
  PointGrid& grid = LoadSite(f);
  const QModelIndex name = grid.model()->index(1, 1);  // row 2, 測点名
  grid.setFocus();
  grid.setCurrentIndex(name);
  grid.edit(name);
  auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(name));
  QVERIFY(editor != nullptr);
  editor->selectAll();
  // Japanese arrives from the input method as committed text.
  QInputMethodEvent typed;
  typed.setCommitString(QStringLiteral("境界A"));
  QApplication::sendEvent(editor, &typed);
  QTest::keyClick(editor, Qt::Key_Tab);
  QTRY_COMPARE(f.ws->Grid.Rows[2][2], std::string("\x8b\xab\x8a\x45\x41"));
  QCOMPARE(Cell(grid, 2, 2), QStringLiteral("境界A"));

  // A character Shift_JIS has no code for: the cell shows the "?" that will be saved,
  // and the user hears about it once in a run.
  QStringList warnings;
  OnNextModal([&warnings](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    warnings << box->text();
    box->button(QMessageBox::Ok)->click();
  });
  const QModelIndex remarks = grid.model()->index(1, 6);
  grid.setCurrentIndex(remarks);
  grid.edit(remarks);
  editor = qobject_cast<QLineEdit*>(grid.indexWidget(remarks));
  QVERIFY(editor != nullptr);
  editor->setText(QStringLiteral("杭\U0001F600〜①"));
  QTest::keyClick(editor, Qt::Key_Tab);
  QTRY_COMPARE(warnings.size(), 1);
  QVERIFY(warnings[0].contains(QStringLiteral("「?」")));
  QCOMPARE(f.ws->Grid.Rows[2][7], std::string("\x8d\x59?\x81\x60\x87\x40"));
  QCOMPARE(Cell(grid, 2, 7), QStringLiteral("杭?～①"));

  const QModelIndex mark = grid.model()->index(2, 5);
  grid.setCurrentIndex(mark);
  grid.edit(mark);
  qobject_cast<QLineEdit*>(grid.indexWidget(mark))->setText(QStringLiteral("\U0001F600"));
  QTest::keyClick(grid.indexWidget(mark), Qt::Key_Tab);
  QTRY_COMPARE(f.ws->Grid.Rows[3][6], std::string("?"));
  QTest::qWait(100);
  QCOMPARE(warnings.size(), 1);
}

void GridTest::NumbersTooWideForTheirCellKeepTheirSign() {
  WindowFixture f;
  PointGrid& grid = LoadSite(f);
  const QFontMetrics metrics(grid.font());
  const int width = grid.columnWidth(2) - 4;  // an X cell within its margins
  // A coordinate far from its zone's origin as filled in, one typed to many decimals,
  // and one that cannot fit.
  for (const QString& text : {QStringLiteral("-123456.789 "), QStringLiteral("-12045.3184567"),
                              QStringLiteral("-987654321.123 ")}) {
    Qt::Alignment align = Qt::AlignRight;
    const QString shown = FitCellText(metrics, text, width, align);
    QVERIFY2(metrics.horizontalAdvance(shown) <= width, qPrintable(shown));
    QVERIFY2(shown.startsWith(text.left(4)), qPrintable(shown));  // sign and leading digits
    QVERIFY(shown == text.trimmed() || (shown.endsWith(QChar(0x2026)) && align == Qt::AlignLeft));
  }
  // What fits is drawn as the grid always drew it.
  Qt::Alignment align = Qt::AlignRight;
  QCOMPARE(FitCellText(metrics, Cell(grid, 7, 3), width, align), Cell(grid, 7, 3));
  QCOMPARE(align, Qt::AlignRight);
  align = Qt::AlignLeft;
  QCOMPARE(FitCellText(metrics, QString(40, QLatin1Char('x')), width, align),
           QString(40, QLatin1Char('x')));
}

// "12abc" typed as an X will be saved as 0: the cell says so before any save does.
void GridTest::TextThatIsNoNumberIsDrawnRed() {
  WindowFixture f;
  PointGrid& grid = LoadSite(f);
  const auto redIn = [&grid](int gridRow, int gridColumn) {
    const QRect cell = grid.visualRect(grid.model()->index(gridRow - 1, gridColumn - 1));
    const QImage shot = grid.viewport()->grab().toImage();
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x <= cell.right(); ++x)
        if (shot.pixelColor(x, y).red() > 150 && shot.pixelColor(x, y).green() < 80) return true;
    return false;
  };
  for (const QString& typed : {QStringLiteral("12abc"), QStringLiteral("-12045.5")}) {
    const QModelIndex x = grid.model()->index(1, 2);  // row 2, X
    grid.setFocus();
    grid.setCurrentIndex(x);
    grid.edit(x);
    auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(x));
    QVERIFY(editor != nullptr);
    editor->setText(typed);
    QTest::keyClick(editor, Qt::Key_Tab);
    QTRY_COMPARE(Cell(grid, 2, 3), typed);
    QCOMPARE(redIn(2, 3), typed == QStringLiteral("12abc"));
    QVERIFY(!redIn(2, 4));  // the row's other cells stay as they were
  }
}

void GridTest::CursorFollowsTheView() {
  WindowFixture f;
  PointGrid& grid = LoadSite(f);
  grid.setFocus();
  grid.setCurrentIndex(grid.model()->index(0, 0));
  QTest::keyClick(&grid, Qt::Key_Down);
  QTest::keyClick(&grid, Qt::Key_Down);
  QTest::keyClick(&grid, Qt::Key_Right);
  QCOMPARE(f.ws->Grid.CurrentRow, 3);
  QCOMPARE(f.ws->Grid.CurrentColumn, 2);

  // An open editor's text reaches the cell grid when a command asks for it.
  const QModelIndex cell = grid.model()->index(2, 5);
  grid.setCurrentIndex(cell);
  grid.edit(cell);
  qobject_cast<QLineEdit*>(grid.indexWidget(cell))->setText(QStringLiteral("99"));
  f.window->Context().view.CommitGridEdit();
  QCOMPARE(f.ws->Grid.Rows[3][6], std::string("99"));
  QVERIFY(grid.indexWidget(cell) == nullptr);
}

}  // namespace kestrova::test

QObject* NewGridTest() {
  return new kestrova::test::GridTest;
}

#include "grid_test.moc"
