// The printer side of printing on a PDF printer: page geometry, Japanese text extents,
// and a job that cannot start; the PDFs this program writes itself against Qt's.

#include <QPainterPath>
#include <QPdfWriter>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "app/print_command.h"
#include "common/error.h"
#include "coords/cell_grid.h"
#include "gui/printing.h"

using namespace kestrova;

namespace {

// Points whose names hold 157 different characters (kanji, half-width kana, the
// parentheses and backslash a PDF string escapes), and plain ones onto a second page.
CellGrid ManyCharacterGrid() {
  std::vector<std::string> characters;
  for (int trail = 0x9F; trail <= 0xFC; ++trail)
    characters.push_back({'\x88', static_cast<char>(trail)});
  for (int trail = 0x40; trail <= 0x7E; ++trail)
    characters.push_back({'\x89', static_cast<char>(trail)});
  PointTable table;
  SimaData sima;
  CellGrid grid;
  ClearPointTable(table, sima, grid);
  for (size_t i = 0; i < characters.size(); i += 6) {
    SurveyPoint& p = AppendPoint(table);
    p.Number = static_cast<int>(i) + 1;
    std::string name;
    for (size_t k = i; k < std::min(characters.size(), i + 6); ++k)
      name += characters[k];
    p.Name = name;
    p.X = -12045.318 - static_cast<double>(i);
    p.Y = 30512.406 + static_cast<double>(i) / 7;
    p.Remarks = i / 6 % 2 ? "(\\)\xB1\xB2" : "KBM-" + std::to_string(i);
  }
  for (int i = 0; i < 40; ++i)  // onto a second page
    AppendPoint(table).Number = 1000 + i;
  FillGridFromPoints(table, grid);
  return grid;
}

QByteArray Run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(60'000);
  return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray("failed");
}

}  // namespace

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

  // Qt's engine and this program's writer draw the same list alike: the same pages, the
  // same text read back, the same pixels but for the edges of glyphs.
  void OwnPdfDrawsTheSamePagesAsQtsEngine() {
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty() ||
        QStandardPaths::findExecutable("pdftotext").isEmpty()) {
      QSKIP("needs poppler's pdftoppm and pdftotext");
    }
    QTemporaryDir dir;
    const CellGrid grid = ManyCharacterGrid();
    const PrintFooter footer{"\x8D\xF7\x91\xE4 (site)", "2026/12/08"};  // 桜台
    const QPageLayout sheet(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                            QPageLayout::Millimeter);
    {
      QPdfWriter pdf(dir.filePath("qt.pdf"));
      pdf.setResolution(600);
      pdf.setPageLayout(sheet);
      PagedDeviceTarget target(pdf, "qt.pdf");
      const PageGeometry page = PdfPage(sheet, 600);
      QCOMPARE(page.Width, target.Page().Width);
      QCOMPARE(page.Height, target.Page().Height);
      QCOMPARE(PrintCoordinateList(grid, GridGeometry{}, target, footer), 2);
    }
    QtPdfFontFaces faces;
    std::string bytes;
    PdfDocument document([&bytes](std::string_view b) { bytes += b; }, faces, 595, 842, 600,
                         {"many", "test", "D:20261208000000Z"});
    PdfDocumentTarget target(document, PdfPage(sheet, 600));
    QCOMPARE(PrintCoordinateList(grid, GridGeometry{}, target, footer), 2);
    QFile own(dir.filePath("own.pdf"));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write(bytes.data(), static_cast<qint64>(bytes.size()));
    own.close();

    const QByteArray text = Run("pdftotext", {"-layout", dir.filePath("own.pdf"), "-"});
    QVERIFY(text.contains("KBM-12"));
    QVERIFY(text.contains("(\\)\xEF\xBD\xB1\xEF\xBD\xB2"));  // (\)ｱｲ
    QCOMPARE(text, Run("pdftotext", {"-layout", dir.filePath("qt.pdf"), "-"}));
    for (const char* name : {"qt", "own"}) {
      QCOMPARE(Run("pdftoppm", {"-r", "100", "-gray", dir.filePath(QString(name) + ".pdf"),
                                dir.filePath(name)}),
               QByteArray());
    }
    for (const char* page : {"-1.pgm", "-2.pgm"}) {
      const QImage qt(dir.filePath(QString("qt") + page));
      const QImage mine(dir.filePath(QString("own") + page));
      QVERIFY(!qt.isNull());
      QCOMPARE(mine.size(), qt.size());
      int apart = 0, inked = 0;
      for (int y = 0; y < qt.height(); ++y) {
        for (int x = 0; x < qt.width(); ++x) {
          const int a = qGray(qt.pixel(x, y)), b = qGray(mine.pixel(x, y));
          inked += a < 128;
          apart += std::abs(a - b) > 64;
        }
      }
      QVERIFY2(inked > 10'000, page);
      QVERIFY2(apart == 0, qPrintable(QString("%1 pixels differ on %2").arg(apart).arg(page)));
    }
  }

  // The subset embedded draws every glyph as the face does, whatever its new number.
  void FontSubsetGlyphsDrawAsTheFaceDrawsThem() {
    QtPdfFontFaces faces;
    auto& face = static_cast<QtPdfFontFace&>(faces.FaceOf(kPrintFontFace));
    std::vector<uint16_t> glyphs{0};
    for (const char32_t c : U"標座0123456789.-Ａあｱ(\\)境界") {
      if (c != 0 && std::find(glyphs.begin(), glyphs.end(), face.Glyph(c)) == glyphs.end())
        glyphs.push_back(face.Glyph(c));
    }
    QCOMPARE(glyphs.size(), size_t{23});
    const std::string file = face.Font().Subset(glyphs);
    const QRawFont subset(QByteArray(file.data(), static_cast<qsizetype>(file.size())), 75,
                          QFont::PreferNoHinting);
    QVERIFY(subset.isValid());
    QRawFont original = face.Raw();
    original.setPixelSize(75);
    for (size_t i = 0; i < glyphs.size(); ++i) {
      const auto n = static_cast<quint32>(i);
      QCOMPARE(subset.pathForGlyph(n), original.pathForGlyph(glyphs[i]));
      QCOMPARE(
          subset.advancesForGlyphIndexes(QList<quint32>{n}, QRawFont::UseDesignMetrics),
          original.advancesForGlyphIndexes(QList<quint32>{glyphs[i]}, QRawFont::UseDesignMetrics));
    }
  }
};

QTEST_MAIN(PrintingTest)
#include "printing_test.moc"
