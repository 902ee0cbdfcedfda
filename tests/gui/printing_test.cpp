// The printer side of printing on a PDF printer: page geometry, Japanese text extents,
// and a job that cannot start; the PDFs this program writes itself against Qt's.

#include <QPainterPath>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "app/messages.h"
#include "app/print_command.h"
#include "common/error.h"
#include "coords/cell_grid.h"
#include "gui/printing.h"

#ifdef _WIN32
#include <windows.h>

#include <dlgs.h>
#include <winspool.h>
#endif

using namespace kestrova;

namespace {

#ifdef _WIN32
// A printer of Wine's PostScript driver, writing to a file, for as long as it lives.
class TestPrinter {
 public:
  explicit TestPrinter(std::wstring name) : name_(std::move(name)) {
    wchar_t port[] = L"FILE:";
    wchar_t driver[] = L"Wine PostScript Driver";
    wchar_t processor[] = L"WinPrint";
    wchar_t raw[] = L"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = name_.data();
    info.pPortName = port;
    info.pDriverName = driver;
    info.pPrintProcessor = processor;
    info.pDatatype = raw;
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    // A prefix may not have the driver installed yet.
    wchar_t library[] = L"wineps.drv";
    DRIVER_INFO_3W files{};
    files.cVersion = 3;
    files.pName = driver;
    files.pDriverPath = library;
    files.pDataFile = library;
    files.pConfigFile = library;
    files.pDefaultDataType = raw;
    AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&files), APD_COPY_NEW_FILES);
    handle_ = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  }
  ~TestPrinter() {
    if (!handle_) return;
    DeletePrinter(handle_);
    ClosePrinter(handle_);
  }
  TestPrinter(const TestPrinter&) = delete;
  TestPrinter& operator=(const TestPrinter&) = delete;
  bool Added() const { return handle_ != nullptr; }

 private:
  std::wstring name_;
  HANDLE handle_ = nullptr;
};

// Plays the user in the next dialog the thread shows: reads the printer it offers, picks
// another (when one is named) and presses a button.
struct DialogScript {
  std::wstring printer;
  int button = IDOK;
  std::wstring shown;
};
DialogScript* script = nullptr;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t kind[16] = {};
  GetClassNameW(window, kind, 16);
  if (!IsWindowVisible(window) || std::wstring(kind) != L"#32770") return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

void CALLBACK PlayScript(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (!dialog) return;
  KillTimer(nullptr, timer);
  HWND printers = GetDlgItem(dialog, cmb1);
  wchar_t text[256] = {};
  GetWindowTextW(printers, text, 256);
  script->shown = text;
  if (!script->printer.empty()) {
    SendMessageW(printers, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(script->printer.c_str()));
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(printers));
  }
  PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(script->button), 0);
}

bool PrinterSetupAsScripted(QPrinter& printer, DialogScript& played) {
  script = &played;
  SetTimer(nullptr, 0, 100, PlayScript);
  return ShowPrinterSetup(printer, nullptr);
}
#endif

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
  for (int i = 0; i < 80; ++i)  // onto a third page: the second's rules are the first's
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

bool HavePoppler() {
  return !QStandardPaths::findExecutable("pdftoppm").isEmpty() &&
         !QStandardPaths::findExecutable("pdftotext").isEmpty();
}

// Two PDFs of the same pages: the same text read back, every word where the other has
// it and, at 100 dpi on pages 1 to pixelPages, the same pixels but for the edges of
// glyphs. Empty when they agree, else what differs.
QString PagesApart(const QString& qtPdf, const QString& ownPdf, int pixelPages) {
  // The text as laid out (where words share a line, poppler's order of them may follow
  // the order they were drawn in on other pages than these).
  const QByteArray text = Run("pdftotext", {"-layout", ownPdf, "-"});
  if (pixelPages > 0 && text != Run("pdftotext", {"-layout", qtPdf, "-"}))
    return "the texts differ:\n" + text;
  // To a hundredth of a point, in any order (the text's order may differ where words
  // stand on one line).
  const auto words = [](const QString& pdf) {
    QStringList kept;
    static const QRegularExpression number(QStringLiteral("\"([0-9.]+)\""));
    for (const QByteArray& line : Run("pdftotext", {"-bbox", pdf, "-"}).split('\n')) {
      if (!line.contains("<word")) continue;
      QString word = QString::fromUtf8(line.trimmed());
      for (auto it = number.globalMatch(word); it.hasNext();) {
        const QString value = it.next().captured(1);
        word.replace('"' + value + '"', '"' + QString::number(value.toDouble(), 'f', 2) + '"');
      }
      kept << word;
    }
    kept.sort();
    return kept;
  };
  const QStringList placed = words(ownPdf);
  if (placed.size() < 100 || placed != words(qtPdf)) return "the words are placed apart";
  for (const QString& pdf : {qtPdf, ownPdf}) {
    if (Run("pdftoppm", {"-r", "100", "-gray", pdf, pdf}) != QByteArray()) return "no " + pdf;
  }
  for (int page = 1; page <= pixelPages; ++page) {
    const QString suffix = QString("-%1.pgm").arg(page);
    const QImage qt(qtPdf + suffix);
    const QImage mine(ownPdf + suffix);
    if (qt.isNull() || mine.size() != qt.size()) return "page " + suffix + " missing or resized";
    int apart = 0, inked = 0;
    for (int y = 0; y < qt.height(); ++y) {
      for (int x = 0; x < qt.width(); ++x) {
        const int a = qGray(qt.pixel(x, y)), b = qGray(mine.pixel(x, y));
        inked += a < 128;
        apart += std::abs(a - b) > 64;
      }
    }
    if (inked < 10'000) return QString("page %1 is nearly blank").arg(page);
    if (apart != 0) return QString("%1 pixels differ on page %2").arg(apart).arg(page);
  }
  return {};
}

// How this program's PDFs name their producer: "Kestrova " in UTF-16.
const char kOwnProducer[] = "/Producer <FEFF004B0065007300740072006F007600610020";

// The paper, resolution and margins of a printer writing a PDF file.
struct PdfPrinterSetUp {
  QPageSize::PageSizeId paper = QPageSize::A4;
  int dpi = 600;
  QMarginsF margins;  // millimetres
  QPageLayout::Orientation orientation = QPageLayout::Portrait;
  bool fullPage = false;
};

void SetUpPdfPrinter(QPrinter& printer, const QString& file, const PdfPrinterSetUp& setUp) {
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(file);
  printer.setResolution(setUp.dpi);
  printer.setDocName("list");
  printer.setPageLayout(QPageLayout(QPageSize(setUp.paper), setUp.orientation, setUp.margins,
                                    QPageLayout::Millimeter));
  printer.setFullPage(setUp.fullPage);
}

// A4 at 600 dpi with uneven margins. The top and left ones are whole points, so that the
// pixels of either PDF at 100 dpi compare as those of a page without margins: glyph
// edges a fraction of a pixel further are shaded apart.
const PdfPrinterSetUp kUnevenA4{QPageSize::A4, 600, QMarginsF(12.7, 19.05, 9, 21)};

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

  void WindowsWithoutAPrinterSaysSoUntilOneIsAdded() {
#if !defined(Q_OS_WIN)
    QSKIP("Qt's own print dialog opens without a printer and writes PDF files");
#else
    if (!QPrinterInfo::availablePrinterNames().isEmpty()) QSKIP("this machine has a printer");
    // Windows's dialog would not open, and the command would end without a word.
    QWidget parent;
    QPrinter printer;
    PrinterTarget target(printer, &parent);
    try {
      target.ChoosePrinter();
      QFAIL("chose a printer where there is none");
    } catch (const Error& e) {
      QCOMPARE(QString::fromStdString(WindowText(e)),
               QStringLiteral("プリンタがありません。Windows の設定でプリンタを追加してから、"
                              "もう一度操作してください。"));
    }
    // A printer added while the program runs is the one printed to: the printer kept for
    // the run, made without one, follows the system's.
    QCOMPARE(printer.outputFormat(), QPrinter::PdfFormat);
    const TestPrinter added(L"Kestrova test printer");
    if (!added.Added()) QSKIP("this system takes no printer of Wine's PostScript driver");
    FollowPrinters(printer);
    QCOMPARE(printer.outputFormat(), QPrinter::NativeFormat);
    QCOMPARE(printer.printerName(), QStringLiteral("Kestrova test printer"));
#endif
  }

  // The printer set-up is the system's own dialog, not the print dialog: it opens on the
  // run's printer, the one chosen there is printed on, and cancelling changes nothing.
  void WindowsPrinterSetupIsTheSystemsDialog() {
#if !defined(Q_OS_WIN)
    QSKIP("Windows' own dialog");
#else
    if (!qEnvironmentVariableIsSet("DISPLAY")) QSKIP("the dialog needs a display");
    const TestPrinter first(L"Kestrova test printer A");
    const TestPrinter second(L"Kestrova test printer B");
    if (!first.Added() || !second.Added()) QSKIP("this system takes no test printer");
    QPrinter printer;
    printer.setPrinterName(QStringLiteral("Kestrova test printer B"));
    DialogScript pick{L"Kestrova test printer A", IDOK, {}};
    QVERIFY(PrinterSetupAsScripted(printer, pick));
    QCOMPARE(pick.shown, std::wstring(L"Kestrova test printer B"));
    QCOMPARE(printer.outputFormat(), QPrinter::NativeFormat);
    QCOMPARE(printer.printerName(), QStringLiteral("Kestrova test printer A"));
    DialogScript cancel{L"Kestrova test printer B", IDCANCEL, {}};
    QVERIFY(!PrinterSetupAsScripted(printer, cancel));
    QCOMPARE(cancel.shown, std::wstring(L"Kestrova test printer A"));
    QCOMPARE(printer.printerName(), QStringLiteral("Kestrova test printer A"));
#endif
  }

  // Qt's engine and this program's writer draw the same list alike: the same pages, the
  // same text read back, the same pixels but for the edges of glyphs.
  void OwnPdfDrawsTheSamePagesAsQtsEngine() {
    if (!HavePoppler()) QSKIP("needs poppler's pdftoppm and pdftotext");
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
      QCOMPARE(PrintCoordinateList(grid, GridGeometry{}, target, footer), 3);
    }
    QtPdfFontFaces faces;
    std::string bytes;
    PdfDocument document([&bytes](std::string_view b) { bytes += b; }, faces, 595, 842, 600,
                         {"many", "test", "D:20261208000000Z"});
    PdfDocumentTarget target(document, PdfPage(sheet, 600));
    QCOMPARE(PrintCoordinateList(grid, GridGeometry{}, target, footer), 3);
    QFile own(dir.filePath("own.pdf"));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write(bytes.data(), static_cast<qint64>(bytes.size()));
    own.close();

    const QByteArray text = Run("pdftotext", {"-layout", dir.filePath("own.pdf"), "-"});
    QVERIFY(text.contains("KBM-12"));
    QVERIFY(text.contains("(\\)\xEF\xBD\xB1\xEF\xBD\xB2"));  // (\)ｱｲ
    // The second page's rules are the first's, painted from the form they make.
    QVERIFY(bytes.find(" /XObject << /Fm1 ") != std::string::npos);
    const QString apart = PagesApart(dir.filePath("qt.pdf"), dir.filePath("own.pdf"), 2);
    QVERIFY2(apart.isEmpty(), qPrintable(apart));
  }

  // A PDF file chosen in the print dialog is written by this program, on the printer's
  // paper, resolution and margins, as Qt's engine writes it for the printer.
  void WindowPdfFilesAreWrittenByThisProgram() {
    if (!HavePoppler()) QSKIP("needs poppler's pdftoppm and pdftotext");
    const CellGrid grid = ManyCharacterGrid();
    const PointTable none;
    const PrintFooter footer{"\x8D\xF7\x91\xE4 (site)", "2026/12/08"};  // 桜台
    const PdfPrinterSetUp setUps[] = {
        kUnevenA4,
        {QPageSize::Letter, 300, QMarginsF(25.4, 25.4, 25.4, 25.4)},
        {QPageSize::A4, 600, QMarginsF(10, 13, 7, 21), QPageLayout::Landscape},  // turned upright
        {QPageSize::JisB5, 1200, QMarginsF(5, 5, 5, 5), QPageLayout::Portrait, true},
    };
    for (const PdfPrinterSetUp& setUp : setUps) {
      QTemporaryDir dir;
      QPrinter qtPrinter(QPrinter::HighResolution);
      SetUpPdfPrinter(qtPrinter, dir.filePath("qt.pdf"), setUp);
      PrinterTarget qt(qtPrinter, nullptr);
      QVERIFY(qt.ChoosePrinter());
      const int pages = PrintCoordinateList(grid, GridGeometry{}, qt, footer);

      QPrinter printer(QPrinter::HighResolution);
      SetUpPdfPrinter(printer, dir.filePath("own.pdf"), setUp);
      {
        WindowPrintTarget own(printer, nullptr, grid, none, footer.SiteName);
        QVERIFY(own.ChoosePrinter());
        QVERIFY(own.WritesOwnPdf());
        QCOMPARE(own.Page().Width, qt.Page().Width);
        QCOMPARE(own.Page().Height, qt.Page().Height);
        QCOMPARE(own.Page().DpiX, qt.Page().DpiX);
        QCOMPARE(PrintCoordinateList(grid, GridGeometry{}, own, footer), pages);
      }
      QFile file(dir.filePath("own.pdf"));
      QVERIFY(file.open(QIODevice::ReadOnly));
      QVERIFY(file.readAll().contains(kOwnProducer));
      const bool wholePoints = &setUp == &setUps[0];
      const QString apart =
          PagesApart(dir.filePath("qt.pdf"), dir.filePath("own.pdf"), wholePoints ? pages : 0);
      QVERIFY2(apart.isEmpty(), qPrintable(QString("%1 dpi: %2").arg(setUp.dpi).arg(apart)));
    }
  }

  // A list the face cannot show goes to Qt's engine, as does every printer; a file that
  // cannot be made is named, and a job that ends early leaves the earlier file.
  void WindowPdfFallsBackOrLeavesTheFileAsItWas() {
    QTemporaryDir dir;
    const CellGrid grid = ManyCharacterGrid();
    const PointTable none;
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdfPrinter(printer, dir.filePath("own.pdf"), kUnevenA4);

    // The window's grid shows the loaded points through the table.
    CoordinateData data;
    CellGrid linked;
    ClearPointTable(data.Table, data.Sima, linked);
    SurveyPoint& p = AppendPoint(data.Table);
    p.Number = 1;
    p.Name = "\x8B\xAB\x8A\x45";  // 境界
    LinkGridToPoints(data.Table, linked);
    QVERIFY(linked.Rows.Linked(1));
    const auto ownPdf = [&](const CellGrid& g, const PointTable& t, const std::string& site) {
      WindowPrintTarget target(printer, nullptr, g, t, site);
      return target.ChoosePrinter() && target.WritesOwnPdf();
    };
    QVERIFY(ownPdf(linked, data.Table, "site"));
    // IPA Gothic has no "∑" (0x8794): in any text of the table, typed into the grid or
    // in the site's name.
    for (PointText* text : {&p.Name, &p.Mark, &p.Remarks}) {
      const PointText was = *text;
      *text = "\x87\x94";
      QVERIFY(!ownPdf(linked, data.Table, "site"));
      *text = was;
    }
    QVERIFY(!ownPdf(linked, data.Table, "\x87\x94"));
    linked.Rows[1][5] = "\x87\x94";
    QVERIFY(!ownPdf(linked, data.Table, "site"));
    // A printer, not a file.
    QPrinter paper(QPrinter::HighResolution);
    WindowPrintTarget printed(paper, nullptr, grid, none, "");
    QVERIFY(printed.ChoosePrinter());
    QVERIFY(!printed.WritesOwnPdf());

    printer.setOutputFileName(dir.filePath("no/such/folder/out.pdf"));
    WindowPrintTarget missing(printer, nullptr, grid, none, "");
    QVERIFY(missing.ChoosePrinter());
    QVERIFY(missing.WritesOwnPdf());
    try {
      missing.BeginDocument();
      QFAIL("a PDF in a missing folder was begun");
    } catch (const Error& e) {
      QVERIFY(QString::fromUtf8(e.what()).contains("no/such/folder/out.pdf"));
    }
    missing.AbortDocument();

    QFile earlier(dir.filePath("own.pdf"));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("an earlier print");
    earlier.close();
    printer.setOutputFileName(dir.filePath("own.pdf"));
    WindowPrintTarget aborted(printer, nullptr, grid, none, "");
    QVERIFY(aborted.ChoosePrinter());
    // Nothing is printed before the job begins, nor after it ends.
    QVERIFY_THROWS_EXCEPTION(Error, aborted.NewPage());
    QVERIFY_THROWS_EXCEPTION(Error, aborted.EndDocument());
    aborted.BeginDocument();
    aborted.PageCanvas();
    aborted.NewPage();
    aborted.AbortDocument();
    QVERIFY_THROWS_EXCEPTION(Error, aborted.PageCanvas());
    QVERIFY_THROWS_EXCEPTION(Error, aborted.EndDocument());
    QFile kept(dir.filePath("own.pdf"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("an earlier print"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"own.pdf"});
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
