// The printer side of printing on a PDF printer: page geometry, Japanese text extents,
// and a job that cannot start.

#include <QPrinter>
#include <QTemporaryDir>
#include <QtTest>

#include "common/error.h"
#include "gui/printing.h"

using namespace kestrova;

class PrintingTest : public QObject {
  Q_OBJECT

 private slots:
  void PdfPrinterPageAndJapaneseMetrics() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(600);
    printer.setFullPage(true);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                      QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    PrinterTarget target(printer, nullptr);
    QVERIFY(target.ChoosePrinter());
    // Turned back upright, 595 x 842 points at 600 dpi.
    const PageGeometry page = target.Page();
    QCOMPARE(page.Width, 4958);  // Qt keeps A4 in whole points: 595 x 842
    QCOMPARE(page.Height, 7017);
    QCOMPARE(page.DpiX, 600.0);
    QCOMPARE(page.DpiY, 600.0);

    // The Gothic face resolves to a Japanese fixed-pitch font: a full-width letter is
    // as wide as two half-width ones, and the text is as high as asked.
    CanvasFont font;
    font.face = kPrintFontFace;
    font.height = 75;
    TextMetrics& metrics = target.Metrics();
    metrics.SetFont(font);
    const int half = metrics.TextWidth("A");
    QVERIFY(half > 20);
    QCOMPARE(metrics.TextWidth("\x82\x60\x82\x60"), metrics.TextWidth("AAAA"));  // ＡＡ
    QCOMPARE(metrics.TextWidth("\x8D\xC0\x95\x57"), metrics.TextWidth("ABCD"));  // 座標
    QCOMPARE(metrics.TextWidth("-12045.318 "), metrics.TextWidth("AAAAAAAAAAA"));
    QVERIFY(metrics.TextHeight("W") >= 70 && metrics.TextHeight("W") <= 90);
  }

  void AJobThatCannotStartIsAnError() {
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("no/such/folder/out.pdf"));
    PrinterTarget target(printer, nullptr);
    bool thrown = false;
    try {
      target.BeginDocument();
    } catch (const Error& e) {
      thrown = true;
      QVERIFY(QString::fromUtf8(e.what()).contains("no/such/folder/out.pdf"));
    }
    QVERIFY(thrown);
    target.AbortDocument();  // safe after a failed start, and again
    target.AbortDocument();
    QVERIFY_THROWS_EXCEPTION(Error, target.PageCanvas());

    // A job that did start and is aborted leaves no painter behind: the next one runs.
    printer.setOutputFileName(dir.filePath("out.pdf"));
    target.BeginDocument();
    target.PageCanvas();
    target.AbortDocument();
    target.BeginDocument();
    target.EndDocument();
    QVERIFY(QFileInfo(dir.filePath("out.pdf")).size() > 0);
  }
};

QTEST_MAIN(PrintingTest)
#include "printing_test.moc"
