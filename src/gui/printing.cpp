#include "gui/printing.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QImage>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRawFont>
#include <QTableView>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/messages.h"
#include "common/atomic_file.h"
#include "common/error.h"
#include "common/sjis.h"
#include "common/spill_file.h"
#include "coords/cell_grid.h"
#include "coords/coordinate_file.h"
#include "coords/point_table.h"
#include "coords/streamed_drawing.h"
#include "gui/painter_canvas.h"
#include "gui/qt_text.h"
#include "view/pdf_document.h"

#ifdef Q_OS_WIN
#include <windows.h>

#include <cderr.h>
#include <commdlg.h>
#include <winspool.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef KESTROVA_HAVE_GDAL
#include "gis/gis_import.h"
#include "gis/survey_systems.h"
#endif

namespace kestrova {

namespace {

QString Utf8ToQString(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Text extents exactly as the page canvas will measure them, known before the job
// starts: the same canvas over a scrap image. Its fonts are sized in pixels, so the
// extents do not depend on the device the page is drawn on.
class PageTextMetrics : public TextMetrics {
 public:
  PageTextMetrics() { canvas_.UseDesignMetrics(); }
  void SetFont(const CanvasFont& font) override { canvas_.SetFont(font); }
  int TextWidth(std::string_view cp932) override { return canvas_.TextWidth(cp932); }
  int TextHeight(std::string_view cp932) override { return canvas_.TextHeight(cp932); }

 private:
  QImage scrap_{1, 1, QImage::Format_ARGB32_Premultiplied};
  QPainter painter_{&scrap_};
  PainterCanvas canvas_{painter_};
};

}  // namespace

// --- Paged devices and printers as print targets -----------------------------------

PagedDeviceTarget::PagedDeviceTarget(QPagedPaintDevice& device, QString name)
    : device_(device), name_(std::move(name)), metrics_(std::make_unique<PageTextMetrics>()) {}

// A target that goes away in the middle of a job (an exception on its way out) still
// gives the device back.
PagedDeviceTarget::~PagedDeviceTarget() {
  canvas_.reset();
  if (painter_.isActive()) painter_.end();
}

PageGeometry PagedDeviceTarget::Page() {
  return {device_.width(), device_.height(), static_cast<double>(device_.logicalDpiX()),
          static_cast<double>(device_.logicalDpiY())};
}

void PagedDeviceTarget::BeginDocument() {
  if (!painter_.begin(&device_)) {
    throw Error(MessageId::kPrintCannotStart, {DeviceName().toStdString()});
  }
  auto canvas = std::make_unique<PainterCanvas>(painter_);
  canvas->UseDesignMetrics();
  canvas_ = std::move(canvas);
}

Canvas& PagedDeviceTarget::PageCanvas() {
  if (!canvas_) throw Error(MessageId::kPrintNotStarted, {});
  return *canvas_;
}

void PagedDeviceTarget::NewPage() {
  if (!device_.newPage()) {
    throw Error(MessageId::kPrinterRefusedPage, {DeviceName().toStdString()});
  }
}

void PagedDeviceTarget::EndDocument() {
  canvas_.reset();
  const bool ended = painter_.end();
  if (!ended || DeviceFailed()) {
    throw Error(MessageId::kPrintFailed, {DeviceName().toStdString()});
  }
}

void PagedDeviceTarget::AbortDocument() noexcept {
  canvas_.reset();
  if (painter_.isActive()) {
    DiscardJob();
    painter_.end();
  }
}

PrinterTarget::PrinterTarget(QPrinter& printer, QWidget* dialogParent)
    : PagedDeviceTarget(printer, QString()), printer_(printer), dialogParent_(dialogParent) {}

PrinterTarget::~PrinterTarget() {
  AbortDocument();  // while the printer part still exists to discard the job
}

bool PrinterTarget::ChoosePrinter() {
  printer_.setPageOrientation(QPageLayout::Portrait);
  if (!dialogParent_) return true;
  RequireAPrinter();
  QPrintDialog dialog(&printer_, dialogParent_);
  // Every page is printed; ranges and selections would be ignored, so they are not offered.
  dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
  dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
  return dialog.exec() == QDialog::Accepted;
}

PageGeometry PrinterTarget::Page() {
  // The dialog's properties may have turned the page; the list is laid out upright.
  printer_.setPageOrientation(QPageLayout::Portrait);
  return PagedDeviceTarget::Page();
}

QString PrinterTarget::DeviceName() const {
  if (printer_.outputFormat() == QPrinter::PdfFormat) return printer_.outputFileName();
  return printer_.printerName();
}

void PrinterTarget::DiscardJob() noexcept {
  printer_.abort();
}

bool PrinterTarget::DeviceFailed() const {
  return printer_.printerState() == QPrinter::Error;
}

void RequireAPrinter() {
#if defined(Q_OS_WIN)
  // Windows's print dialog does not open without a printer (under Wine nothing at all
  // showed); Qt's own dialog elsewhere also writes PDF files.
  if (QPrinterInfo::availablePrinterNames().isEmpty()) throw Error(MessageId::kNoPrinter, {});
#endif
}

void FollowPrinters(QPrinter& printer) {
  // Made without a printer, Qt's printer writes a PDF file it has no name for; one the
  // user chose to print into stays.
  if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) return;
  const QStringList names = QPrinterInfo::availablePrinterNames();
  if (names.isEmpty() || names.contains(printer.printerName())) return;
  const QString standard = QPrinterInfo::defaultPrinterName();
  printer.setPrinterName(names.contains(standard) ? standard : names.front());
}

#ifdef Q_OS_WIN
namespace {

// Global memory a common dialog takes and gives back, freed at the end of the scope.
struct GlobalBlock {
  HGLOBAL handle = nullptr;
  explicit GlobalBlock(HGLOBAL h) : handle(h) {}
  ~GlobalBlock() {
    if (handle) GlobalFree(handle);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
};

// The printer to preselect, as the dialog takes it: a DEVNAMES naming its device alone.
HGLOBAL DeviceNames(const QString& printer) {
  const std::wstring device = printer.toStdWString();
  const size_t head = sizeof(DEVNAMES) / sizeof(wchar_t);
  // The driver's and the port's names are empty: the dialog finds them by the device.
  const size_t chars = head + 1 + device.size() + 1 + 1;
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, chars * sizeof(wchar_t));
  if (!handle) return nullptr;
  auto* names = static_cast<DEVNAMES*>(GlobalLock(handle));
  if (!names) {
    GlobalFree(handle);
    return nullptr;
  }
  names->wDriverOffset = static_cast<WORD>(head);
  names->wDeviceOffset = static_cast<WORD>(head + 1);
  names->wOutputOffset = static_cast<WORD>(head + 1 + device.size() + 1);
  std::copy(device.begin(), device.end(), reinterpret_cast<wchar_t*>(names) + head + 1);
  GlobalUnlock(handle);
  return handle;
}

// The printer's own settings with the paper the run prints on, so that the dialog opens
// on the paper chosen last time and OK does not put the printer's default back.
HGLOBAL DeviceMode(const QString& printer, const QPageSize& paper) {
  std::wstring device = printer.toStdWString();
  HANDLE opened = nullptr;
  if (!OpenPrinterW(device.data(), &opened, nullptr)) return nullptr;
  HGLOBAL handle = nullptr;
  const LONG size = DocumentPropertiesW(nullptr, opened, device.data(), nullptr, nullptr, 0);
  if (size > 0) handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
  if (handle) {
    auto* mode = static_cast<DEVMODEW*>(GlobalLock(handle));
    const bool read = mode && DocumentPropertiesW(nullptr, opened, device.data(), mode, nullptr,
                                                  DM_OUT_BUFFER) == IDOK;
    if (read && paper.isValid() && paper.windowsId() > 0 && paper.windowsId() < DMPAPER_USER) {
      mode->dmPaperSize = static_cast<short>(paper.windowsId());
      mode->dmFields |= DM_PAPERSIZE;
    }
    if (mode) GlobalUnlock(handle);
    if (!read) {
      GlobalFree(handle);
      handle = nullptr;
    }
  }
  ClosePrinter(opened);
  return handle;
}

// The paper a DEVMODE names; an invalid size when it names none.
QPageSize PaperOf(const DEVMODEW& mode) {
  if (!(mode.dmFields & DM_PAPERSIZE)) return QPageSize();
  // A driver's own paper (above DMPAPER_USER) is taken by its size, as a user's is.
  if (mode.dmPaperSize < DMPAPER_USER) return QPageSize(QPageSize::id(mode.dmPaperSize));
  if (!(mode.dmFields & DM_PAPERWIDTH) || !(mode.dmFields & DM_PAPERLENGTH)) return QPageSize();
  // In tenths of a millimetre.
  return QPageSize(QSizeF(mode.dmPaperWidth / 10.0, mode.dmPaperLength / 10.0),
                   QPageSize::Millimeter);
}

}  // namespace

bool ShowPrinterSetup(QPrinter& printer, QWidget* parent) {
  RequireAPrinter();
  FollowPrinters(printer);
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = parent ? reinterpret_cast<HWND>(parent->window()->winId()) : nullptr;
  dialog.Flags = PD_PRINTSETUP;
  GlobalBlock names{DeviceNames(printer.printerName())};
  GlobalBlock mode{DeviceMode(printer.printerName(), printer.pageLayout().pageSize())};
  dialog.hDevNames = names.handle;
  dialog.hDevMode = mode.handle;
  const bool chosen = PrintDlgW(&dialog);
  // The dialog may have replaced the blocks it was given.
  names.handle = dialog.hDevNames;
  mode.handle = dialog.hDevMode;
  if (!chosen) {
    if (CommDlgExtendedError() == PDERR_NODEFAULTPRN) throw Error(MessageId::kNoPrinter, {});
    return false;
  }
  const QPageSize before = printer.pageLayout().pageSize();
  if (const auto* chosenNames =
          names.handle ? static_cast<const DEVNAMES*>(GlobalLock(names.handle)) : nullptr) {
    printer.setPrinterName(QString::fromWCharArray(reinterpret_cast<const wchar_t*>(chosenNames) +
                                                   chosenNames->wDeviceOffset));
    GlobalUnlock(names.handle);
  }
  // Another printer starts on its own default paper; the dialog's choice, or else the
  // paper printed on so far, is the one to keep.
  QPageSize paper;
  if (const auto* chosenMode =
          mode.handle ? static_cast<const DEVMODEW*>(GlobalLock(mode.handle)) : nullptr) {
    paper = PaperOf(*chosenMode);
    GlobalUnlock(mode.handle);
  }
  printer.setPageSize(paper.isValid() ? paper : before);
  return true;
}
#else
bool ShowPrinterSetup(QPrinter& printer, QWidget* parent) {
  RequireAPrinter();
  FollowPrinters(printer);
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral("プリンタ設定"));
  // Qt's own dialog says "Print", but this only chooses the printer.
  for (auto* box : dialog.findChildren<QDialogButtonBox*>()) {
    if (QPushButton* ok = box->button(QDialogButtonBox::Ok)) ok->setText(QStringLiteral("OK"));
    if (QPushButton* cancel = box->button(QDialogButtonBox::Cancel)) {
      cancel->setText(QStringLiteral("キャンセル"));
    }
  }
  return dialog.exec() == QDialog::Accepted;
}
#endif

// --- The main window's print command ----------------------------------------------

GridGeometry GridGeometryOf(const QTableView& view) {
  GridGeometry g;
  const QHeaderView* rows = view.verticalHeader();
  const QHeaderView* columns = view.horizontalHeader();
  g.ColumnWidths[0] = rows->isVisible() ? rows->width() : 0;
  for (int c = 1; c < CellGrid::kColumns; ++c) {
    g.ColumnWidths[c] = c - 1 < columns->count() ? columns->sectionSize(c - 1) : 0;
  }
  if (columns->isVisible() && columns->height() > 0) g.HeaderHeight = columns->height();
  if (rows->defaultSectionSize() > 0) g.RowHeight = rows->defaultSectionSize();
  const QFontInfo font(view.font());
  if (font.pixelSize() > 0) g.FontHeight = font.pixelSize();
  g.DpiX = view.logicalDpiX();
  g.DpiY = view.logicalDpiY();
  return g;
}

void PrintFromWindow(CommandContext& ctx, QPrinter& printer, QWidget* window,
                     const QTableView& grid) {
  WindowPrintTarget target(printer, window, ctx.ws.Grid, ctx.ws.Coords.Table,
                           ctx.ws.Coords.Sima.SiteName);
  PrintCoordinateListCommand(ctx, target, GridGeometryOf(grid));
}

// --- PDFs this program writes itself ------------------------------------------------

QtPdfFontFace::QtPdfFontFace(const CanvasFont& font)
    : font_(font),
      raw_(QRawFont::fromFont(CanvasQFont(font, true))),
      tables_([this](std::string_view tag) {
        const QByteArray table = raw_.fontTable(std::string(tag).c_str());
        return std::string(table.constData(), static_cast<size_t>(table.size()));
      }) {}

std::string QtPdfFontFace::PostScriptName() const {
  if (!tables_.PostScriptName().empty()) return tables_.PostScriptName();
  return (raw_.familyName() + raw_.styleName()).toStdString();
}

uint16_t QtPdfFontFace::Glyph(char32_t c) {
  const QList<quint32> glyphs = raw_.glyphIndexesForString(QString::fromUcs4(&c, 1));
  return glyphs.size() == 1 && glyphs[0] <= 0xFFFF ? static_cast<uint16_t>(glyphs[0]) : 0;
}

// Asked for every text drawn, so kept per size.
const std::pair<double, double>& QtPdfFontFace::Vertical(int pixelSize) {
  auto [it, added] = vertical_.try_emplace(pixelSize);
  if (added) {
    CanvasFont font = font_;
    font.height = pixelSize;
    font.width = 0;
    const QFontMetricsF metrics(CanvasQFont(font, true));
    it->second = {metrics.ascent(), metrics.height()};
  }
  return it->second;
}

PageGeometry PdfPage(const QPageLayout& sheet, int dpi) {
  const QRect pixels = sheet.paintRectPixels(dpi);
  return {pixels.width(), pixels.height(), static_cast<double>(dpi), static_cast<double>(dpi)};
}

PdfFontFace& QtPdfFontFaces::FaceOf(std::string_view cp932Face) {
  auto& face = faces_[std::string(cp932Face)];
  if (!face) {
    CanvasFont font;
    font.face = cp932Face;
    face = std::make_unique<QtPdfFontFace>(font);
  }
  return *face;
}

// --- Printing to a PDF without a window --------------------------------------------

namespace {

constexpr int kPdfResolution = 600;  // a common office laser printer
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
const QString kStandardStream = QStringLiteral("-");

const char kPrintPdfUsage[] =
    "usage: kestrova --print-pdf OUT.pdf [--paper A4|A3] [--crs EPSG:N] FILE...\n"
    "Prints the coordinate list of the files (the first replaces, the rest append) to a PDF.\n"
    "A FILE of - reads standard input, an OUT.pdf of - writes standard output.\n"
    "GIS point layers (.gpkg, .geojson, .json, .shp) are brought into the survey system\n"
    "--crs names (JGD2011 zones I-XIX: EPSG:6669-6687); one in longitude/latitude needs it.\n";

struct PrintPdfArguments {
  QString output;
  QPageSize::PageSizeId paper = QPageSize::A4;
  QString crs;  // as given; empty keeps a GIS layer's own plane system
  QStringList files;
};

// Returns an empty string when the arguments are fine, else what is wrong. --print-pdf
// may stand anywhere before "--"; its value is the PDF, or, when an option follows it,
// the first name after the options.
QString ParsePrintPdf(const QStringList& args, PrintPdfArguments& out) {
  bool options = true;
  bool printPdf = false;
  bool outputLater = false;  // --print-pdf was followed by another option
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const auto isOption = [&options](const QString& arg) {
      return options && arg.startsWith("-") && arg.size() > 1;
    };
    if (options && a == QStringLiteral("--")) {
      options = false;
    } else if (options && (a == QStringLiteral("--print-pdf") || a.startsWith("--print-pdf="))) {
      if (printPdf) return "--print-pdf is given twice";
      printPdf = true;
      if (a.startsWith("--print-pdf=")) {
        out.output = a.mid(12);
      } else if (i + 1 < args.size() && !isOption(args[i + 1])) {
        out.output = args[++i];
      } else if (i + 1 < args.size()) {
        outputLater = true;
        continue;
      } else {
        return "--print-pdf needs the name of the PDF to write";
      }
      if (out.output.isEmpty()) return "--print-pdf: the name of the PDF to write is empty";
    } else if (options && (a == QStringLiteral("--paper") || a.startsWith("--paper="))) {
      QString value;
      if (a.startsWith("--paper=")) {
        value = a.mid(8);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return "--paper needs A4 or A3";
      }
      if (value.compare("A4", Qt::CaseInsensitive) == 0) {
        out.paper = QPageSize::A4;
      } else if (value.compare("A3", Qt::CaseInsensitive) == 0) {
        out.paper = QPageSize::A3;
      } else {
        return "unknown paper " + value + "; use A4 or A3";
      }
    } else if (options && (a == QStringLiteral("--crs") || a.startsWith("--crs="))) {
      if (a.startsWith("--crs=")) {
        out.crs = a.mid(6);
      } else if (i + 1 < args.size()) {
        out.crs = args[++i];
      } else {
        return "--crs needs EPSG:N";
      }
#ifdef KESTROVA_HAVE_GDAL
      if (!ParseEpsgName(out.crs.toStdString())) {
        return "--crs " + out.crs + ": " + QString::fromUtf8(kSurveySystemHint);
      }
#endif
    } else if (isOption(a)) {
      return "unknown option " + a;
    } else if (outputLater) {
      if (a.isEmpty()) return "--print-pdf: the name of the PDF to write is empty";
      out.output = a;
      outputLater = false;
    } else {
      out.files << a;
    }
  }
  if (!printPdf) return "--print-pdf is missing";
  if (out.output.isEmpty()) return "--print-pdf needs the name of the PDF to write";
  if (out.files.isEmpty()) return "no coordinate file given";
  return {};
}

// A PDF written over one of the coordinate files would destroy what is being printed
// (an output name forgotten on the command line makes the first file the output).
QString OutputIsAnInput(const PrintPdfArguments& a) {
#ifndef Q_OS_WIN
  // Standard error or standard input that a shell sent to or took from the output's file
  // ("--print-pdf - a.sim > p.pdf 2>&1"): the messages would land among the PDF's bytes,
  // or the PDF on the file being read.
  const auto regular = [](const struct stat& st) {
    return S_ISREG(st.st_mode) ? std::optional(std::pair(st.st_dev, st.st_ino)) : std::nullopt;
  };
  const auto of = [&regular](int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? regular(st) : std::nullopt;
  };
  struct stat named;
  const auto written =
      a.output == kStandardStream
          ? of(STDOUT_FILENO)
          : (::stat(QtToPath(a.output).c_str(), &named) == 0 ? regular(named) : std::nullopt);
  const QString name = a.output == kStandardStream ? QStringLiteral("standard output") : a.output;
  if (written && written == of(STDERR_FILENO)) {
    return "standard error goes to the output " + name +
           " as well; send standard error elsewhere (2>FILE)";
  }
  if (written && a.files.contains(kStandardStream) && written == of(STDIN_FILENO)) {
    return "the output " + name +
           " is the input standard input; writing it would replace the file being read";
  }
#endif
  if (a.output == QStringLiteral("-")) return {};
  std::error_code ec;
  const std::filesystem::path out = QtToPath(a.output);
  if (!std::filesystem::is_regular_file(out, ec)) return {};
  for (const QString& file : a.files) {
    if (file != kStandardStream && std::filesystem::equivalent(out, QtToPath(file), ec)) {
      return "the output " + a.output + " is the input " + file +
             "; writing it would replace the file being read";
    }
  }
  return {};
}

// Hands the PDF's bytes to the output as the pages are made. A failed write is kept
// and thrown once the PDF writer is done, with the output's own message.
class OutputDevice : public QIODevice {
 public:
  explicit OutputDevice(AtomicFileWriter& out) : out_(out) { open(QIODevice::WriteOnly); }
  bool isSequential() const override { return true; }
  void ThrowIfFailed() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    if (failure_) return -1;
    try {
      out_.Write(data, static_cast<size_t>(size));
    } catch (...) {
      failure_ = std::current_exception();
      return -1;
    }
    return size;
  }

 private:
  AtomicFileWriter& out_;
  std::exception_ptr failure_;
};

// Whether this program can write the PDF itself: the list's face is a TrueType font
// whose licence lets a subset of it be embedded, with a glyph for every character the
// list shows. Otherwise Qt's PDF engine prints it and draws what the face lacks from
// another font. pointsCovered tells whether the face has every character of the points'
// texts.
bool CanWritePdf(PdfFontFaces& faces, const std::string& siteName,
                 const std::function<bool(PdfCoverage&)>& pointsCovered) {
  std::optional<PdfCoverage> coverage;
  try {
    PdfFontFace& face = faces.FaceOf(kPrintFontFace);
    if (!face.Font().Embeddable()) return false;
    coverage.emplace(face);
    // Numbers, coordinates, page numbers and the date are ASCII.
    for (char c = ' '; c < 0x7F; ++c) {
      if (!coverage->Covers(std::string_view(&c, 1))) return false;
    }
    for (const char* header : kGridHeaders) {
      if (!coverage->Covers(header)) return false;
    }
    if (!coverage->Covers(siteName)) return false;
  } catch (const Error&) {
    return false;  // the face cannot be read
  }
  // Reading the points may fail (their temporary files): that is no reason for Qt's engine.
  return pointsCovered(*coverage);
}

// The texts a point shows besides its number and coordinates, which are ASCII.
bool PointCovered(PdfCoverage& coverage, const SurveyPoint& p) {
  return coverage.Covers(p.Name.view()) && coverage.Covers(p.Mark.view()) &&
         coverage.Covers(p.Remarks.view());
}

bool TableCovered(PdfCoverage& coverage, const PointTable& table) {
  for (int32_t r = 1; r <= table.PointCount; ++r) {
    if (!PointCovered(coverage, table.Points[static_cast<size_t>(r)])) return false;
  }
  return true;
}

bool GatheredCovered(PdfCoverage& coverage, const StreamedDrawingData& data) {
  StreamedDrawingData::Names names(data);
  for (std::string_view name; names.Next(name);) {
    if (!coverage.Covers(name)) return false;
  }
  StreamedDrawingData::Texts texts(data);
  std::string_view mark;
  std::string_view remarks;
  while (texts.Next(mark, remarks)) {
    if (!coverage.Covers(mark) || !coverage.Covers(remarks)) return false;
  }
  return true;
}

// The grid as shown: rows that show their point as the table holds it, through the
// table's texts; rows typed in or changed, every cell.
bool GridCovered(PdfCoverage& coverage, const CellGrid& grid, const PointTable& table) {
  for (size_t r = 0; r < grid.Rows.size(); ++r) {
    if (grid.Rows.Linked(r) && r < table.Points.size()) {
      if (!PointCovered(coverage, table.Points[r])) return false;
      continue;
    }
    const CellGrid::Row& row = std::as_const(grid.Rows)[r];
    for (const std::string& cell : row) {
      if (!coverage.Covers(cell)) return false;
    }
  }
  return true;
}

bool IsGisInput(const QString& file) {
  const QString ext = QFileInfo(file).suffix().toLower();
  return ext == QStringLiteral("gpkg") || ext == QStringLiteral("geojson") ||
         ext == QStringLiteral("json") || ext == QStringLiteral("shp");
}

#ifdef KESTROVA_HAVE_GDAL
int32_t Epsg(const QString& crs) {
  return crs.isEmpty() ? 0 : ParseEpsgName(crs.toStdString()).value_or(0);
}
#else
[[noreturn]] void NoGdal(const std::string& name) {
  throw Error(name + ": reading points from GIS files needs a kestrova built with GDAL");
}
#endif

// Returns the load's warnings (UTF-8); throws what stops it.
std::vector<std::string> LoadGisInput(const QString& file, [[maybe_unused]] const QString& crs,
                                      [[maybe_unused]] CoordinateData& data,
                                      [[maybe_unused]] bool append) {
  const std::string name = file.toStdString();
#ifdef KESTROVA_HAVE_GDAL
  std::vector<std::string> warnings;
  LoadAnyCoordinateFile(QtToPath(file), name, Epsg(crs), data, append, warnings);
  return warnings;
#else
  NoGdal(name);
#endif
}

// Whether every file can be gathered as it is read: coordinate files, and GIS layers
// that need no table (which stay open for the reading).
bool GatherableFiles(const PrintPdfArguments& parsed) {
  const QStringList& files = parsed.files;
  if (std::none_of(files.begin(), files.end(), IsGisInput)) return true;
  // A GIS layer may turn out to need a table only as it is read; the files are then read
  // again, which pipes cannot be.
  if (!std::all_of(files.begin(), files.end(),
                   [](const QString& file) { return QFileInfo(file).isFile(); })) {
    return false;
  }
  return std::all_of(files.begin(), files.end(), [&](const QString& file) {
    if (!IsGisInput(file)) return true;
#ifdef KESTROVA_HAVE_GDAL
    try {
      return GisPointsStream(QtToPath(file), file.toStdString(), Epsg(parsed.crs));
    } catch (const Error&) {
      return false;  // told by the table's load in its turn
    }
#else
    NoGdal(file.toStdString());
#endif
  });
}

// A GIS layer turned out to need a table after all; nothing was said yet.
struct TableNeeded {};

// Now, or the time SOURCE_DATE_EPOCH gives (seconds since 1970, as reproducible builds
// set it): the same list then makes the same PDF, byte for byte.
QDateTime CreationTime() {
  bool given = false;
  const qint64 epoch = qEnvironmentVariable("SOURCE_DATE_EPOCH").toLongLong(&given);
  if (given && epoch >= 0) return QDateTime::fromSecsSinceEpoch(epoch, Qt::UTC);
  return QDateTime::currentDateTimeUtc();
}

// What the PDF says of itself: its title, this program, and when it was made.
QString Creator() {
  return QStringLiteral("Kestrova ") + QStringLiteral(KESTROVA_VERSION);
}
PdfDocument::Info PdfInfo(const QString& title) {
  return {title.toStdString(), Creator().toStdString(),
          CreationTime().toString(QStringLiteral("'D:'yyyyMMddHHmmss'Z'")).toStdString()};
}

// A warning on standard error, as every one of --print-pdf's is given.
void Warn(QTextStream& err, const std::string& utf8) {
  err << "kestrova: warning: " << Utf8ToQString(utf8) << "\n";
}

// Prints the points (or the empty grid) on the target: those gathered when there are,
// else the table's. Returns the number of pages.
int PrintList(const CoordinateData& data, const StreamedDrawingData* gathered, const CellGrid& grid,
              PrintTarget& target) {
  const PrintFooter footer{data.Sima.SiteName, TodayText()};
  const int32_t points = gathered ? gathered->PointCount() : data.Table.PointCount;
  // The empty grid is printed ruled, as the window shows it.
  if (points == 0) return PrintCoordinateList(grid, GridGeometry{}, target, footer);
  const PrintLayout layout =
      gathered
          ? PlanCoordinateList(*gathered, GridGeometry{}, target.Page(), target.Metrics(), footer)
          : PlanCoordinateList(data.Table, GridGeometry{}, target.Page(), target.Metrics(), footer);
  std::optional<GatheredPrintRows> fromFiles;
  std::optional<TablePrintRows> fromTable;
  PrintRows& rows = gathered
                        ? static_cast<PrintRows&>(fromFiles.emplace(*gathered, layout.RowsPerPage))
                        : fromTable.emplace(data.Table, layout.RowsPerPage);
  PagePrinter printer(layout, target);
  for (int b = 0; b < layout.BandCount; ++b)
    printer.PrintBand(rows);
  return printer.Finish();
}

// A file's name in messages.
std::string InputName(const QString& file) {
  return file == kStandardStream ? "standard input" : file.toStdString();
}

// Standard input, named - among the files: copied into a temporary file at the start,
// since it can be read only once and a list is read twice. Null when no file is -.
std::unique_ptr<SpillFile> SpoolStandardInput(const PrintPdfArguments& parsed) {
  if (!parsed.files.contains(kStandardStream)) return nullptr;
  const std::string name = InputName(kStandardStream);
  return SpoolText(
      name, [&name](const PieceTaker& take) { ReadDescriptorPieces(kStandardInput, name, take); });
}

// Loads the files into the table as the window's open command does (the first
// replaces, the rest append; GIS point layers as the window loads them).
void LoadIntoTable(const PrintPdfArguments& parsed, SpillFile* standardInput, CoordinateData& data,
                   QTextStream& err) {
  bool append = false;
  for (const QString& file : parsed.files) {
    if (IsGisInput(file)) {
      for (const std::string& warning : LoadGisInput(file, parsed.crs, data, append))
        Warn(err, warning);
      append = true;
      continue;
    }
    LoadReport report;
    const LoadTuning tuning{.drawBlocks = false};
    const bool loaded =
        file == kStandardStream
            ? LoadCoordinateSpool(*standardInput, InputName(file), data, append, &report, nullptr,
                                  tuning)
            : LoadCoordinateFile(QtToPath(file), data, append, &report, nullptr, tuning);
    if (!loaded) throw Error(InputName(file) + ": fewer than two lines; nothing was loaded");
    for (const std::string& warning : LoadWarnings(report, InputName(file)))
      Warn(err, warning);
    append = true;
  }
  // Only the site name is printed besides the points.
  std::vector<SimaLine>().swap(data.Sima.SimaLines);
  std::vector<SimaText>().swap(data.Sima.SimaTexts);
  std::vector<SimaBlock>().swap(data.Sima.SimaBlocks);
}

// Reads the files as LoadIntoTable does, with the same warnings, but gathers their
// points in temporary files: a list of any length is printed in bounded memory. sima
// takes the site name.
void GatherPoints(const PrintPdfArguments& parsed, SpillFile* standardInput,
                  StreamedDrawingData& gathered, SimaData& sima, QTextStream& err) {
  CoordinateData counts;  // counts the rows; the points are in the files
  std::vector<LoadReport> reports;
  std::vector<std::vector<std::string>> layerWarnings;  // a GIS layer's own
  // The repeated numbers are known once the files are read, and are counted for the
  // files before one that fails as well: their warnings are given before its error.
  std::vector<std::string> names;
  for (const QString& file : parsed.files)
    names.push_back(InputName(file));
  const auto warn = [&] {
    const std::vector<RepeatedNumbers> repeated = gathered.Finish();
    for (const std::string& warning :
         FileWarnings(reports.size(), reports, names, layerWarnings, repeated))
      Warn(err, warning);
  };
  const auto warnBeforeError = [&] {
    reports.pop_back();
    layerWarnings.pop_back();
    try {
      warn();
    } catch (const std::exception&) {
      // The error that stopped the reading is the one to tell.
    }
  };
  for (const QString& file : parsed.files) {
    gathered.StartFile();
    LoadReport& report = reports.emplace_back();
    [[maybe_unused]] std::vector<std::string>& more = layerWarnings.emplace_back();
    bool loaded = false;
    try {
      if (IsGisInput(file)) {
#ifdef KESTROVA_HAVE_GDAL
        if (!StreamGisPoints(QtToPath(file), file.toStdString(), Epsg(parsed.crs), gathered, counts,
                             report, more)) {
          throw TableNeeded();
        }
        loaded = true;
#else
        NoGdal(file.toStdString());
#endif
      } else if (file == kStandardStream) {
        loaded = StreamCoordinateSpool(*standardInput, InputName(file), gathered, counts, &report);
      } else {
        loaded = StreamCoordinateFile(QtToPath(file), gathered, counts, &report);
      }
    } catch (const TableNeeded&) {
      throw;
    } catch (...) {
      warnBeforeError();
      throw;
    }
    if (!loaded) {
      warnBeforeError();
      throw Error(InputName(file) + ": fewer than two lines; nothing was loaded");
    }
  }
  warn();
  sima = std::move(counts.Sima);
}

}  // namespace

// --- A PDF file chosen in the print dialog ------------------------------------------

// The PDF's bytes wait here until the job begins, then go to the file as they come.
struct WindowPrintTarget::OwnPdf {
  QString name;
  QtPdfFontFaces faces;
  std::string pending;
  std::unique_ptr<AtomicFileWriter> out;
  std::unique_ptr<PdfDocument> document;
  std::unique_ptr<PdfDocumentTarget> target;
  bool ended = false;

  void Write(std::string_view bytes) {
    if (out) {
      out->Write(bytes.data(), bytes.size());
    } else {
      pending.append(bytes);
    }
  }
};

WindowPrintTarget::WindowPrintTarget(QPrinter& printer, QWidget* dialogParent, const CellGrid& grid,
                                     const PointTable& table, std::string siteName)
    : printer_(printer),
      qt_(printer, dialogParent),
      grid_(grid),
      table_(table),
      siteName_(std::move(siteName)) {}

WindowPrintTarget::~WindowPrintTarget() = default;

bool WindowPrintTarget::ChoosePrinter() {
  own_.reset();
  if (!qt_.ChoosePrinter()) return false;
  if (printer_.outputFormat() != QPrinter::PdfFormat || printer_.outputFileName().isEmpty())
    return true;
  auto own = std::make_unique<OwnPdf>();
  const bool covered = CanWritePdf(own->faces, siteName_, [this](PdfCoverage& coverage) {
    return GridCovered(coverage, grid_, table_);
  });
  if (!covered) return true;
  // The list is laid out upright, as on a printer; the margins are the printer's.
  printer_.setPageOrientation(QPageLayout::Portrait);
  const QPageLayout sheet = printer_.pageLayout();
  const int dpi = printer_.resolution();
  const QSizeF size = sheet.fullRectPoints().size();
  const QRect paint = sheet.paintRectPixels(dpi);
  own->name = printer_.outputFileName();
  own->document = std::make_unique<PdfDocument>(
      [to = own.get()](std::string_view bytes) { to->Write(bytes); }, own->faces, size.width(),
      size.height(), dpi, PdfInfo(printer_.docName()), PixelPoint{paint.x(), paint.y()});
  own->target = std::make_unique<PdfDocumentTarget>(*own->document, PdfPage(sheet, dpi));
  own_ = std::move(own);
  return true;
}

PageGeometry WindowPrintTarget::Page() {
  return own_ ? own_->target->Page() : qt_.Page();
}

TextMetrics& WindowPrintTarget::Metrics() {
  return own_ ? own_->target->Metrics() : qt_.Metrics();
}

void WindowPrintTarget::BeginDocument() {
  if (!own_) return qt_.BeginDocument();
  try {
    own_->out = std::make_unique<AtomicFileWriter>(QtToPath(own_->name));
  } catch (const Error&) {
    throw Error(MessageId::kPrintCannotStart, {own_->name.toStdString()});
  }
  own_->out->Write(own_->pending.data(), own_->pending.size());
  std::string().swap(own_->pending);
}

// The PDF's job, begun and not yet ended or aborted.
PdfDocumentTarget& WindowPrintTarget::OwnJob() {
  if (!own_->out || own_->ended) throw Error(MessageId::kPrintNotStarted, {});
  return *own_->target;
}

Canvas& WindowPrintTarget::PageCanvas() {
  if (!own_) return qt_.PageCanvas();
  return OwnJob().PageCanvas();
}

void WindowPrintTarget::NewPage() {
  if (!own_) return qt_.NewPage();
  OwnJob().NewPage();
}

void WindowPrintTarget::EndDocument() {
  if (!own_) return qt_.EndDocument();
  PdfDocumentTarget& job = OwnJob();
  own_->ended = true;
  try {
    job.EndDocument();
  } catch (const Error& e) {
    // A file that cannot be written says why; a font that cannot be embedded has no
    // words for the window.
    if (e.HasId()) throw;
    throw Error(MessageId::kPrintFailed, {own_->name.toStdString()});
  }
  own_->out->Commit();
}

void WindowPrintTarget::AbortDocument() noexcept {
  if (!own_) return qt_.AbortDocument();
  own_->ended = true;
  own_->out.reset();  // the file stays as it was
}

int RunPrintPdf(const QStringList& args) {
  QTextStream err(stderr);
  PrintPdfArguments parsed;
  QString problem = ParsePrintPdf(args, parsed);
  if (problem.isEmpty()) problem = OutputIsAnInput(parsed);
  if (!problem.isEmpty()) {
    err << "kestrova: " << problem << "\n" << kPrintPdfUsage;
    return 2;
  }
  try {
    const std::unique_ptr<SpillFile> standardInput = SpoolStandardInput(parsed);
    CoordinateData data;
    CellGrid grid;
    ClearPointTable(data.Table, data.Sima, grid);
    // Files that need no table (coordinate files, most GIS layers) are printed
    // from temporary files. The files keep nothing in memory: read once from the start,
    // the system's file cache serves them as well.
    std::unique_ptr<StreamedDrawingData> gathered;
    if (GatherableFiles(parsed)) {
      try {
        gathered = std::make_unique<StreamedDrawingData>(0, StreamTuning{.mostInMemory = 0},
                                                         StreamedUse::kList);
      } catch (const Error& e) {
        Warn(err, std::string(e.what()) + "; the points are held in memory");
      }
    }
    if (gathered) {
      try {
        GatherPoints(parsed, standardInput.get(), *gathered, data.Sima, err);
      } catch (const TableNeeded&) {
        gathered.reset();
      }
    }
    if (!gathered) LoadIntoTable(parsed, standardInput.get(), data, err);
    const int32_t points = gathered ? gathered->PointCount() : data.Table.PointCount;
    if (points == 0) Warn(err, "the files hold no point");

    // The PDF goes to the output as its pages are made; the output takes the target's
    // place only once it is complete.
    const std::unique_ptr<AtomicFileWriter> out =
        parsed.output == QStringLiteral("-")
            ? AtomicFileWriter::ForDescriptor(kStandardOutput, "standard output")
            : std::make_unique<AtomicFileWriter>(QtToPath(parsed.output));
    const QString& first = parsed.files.front();
    const QString title = first == kStandardStream ? QString::fromStdString(InputName(first))
                                                   : QFileInfo(first).fileName();
    // The margins of the list are measured from the edge of the sheet.
    const QPageLayout sheet(QPageSize(parsed.paper), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                            QPageLayout::Millimeter);
    int pages = 0;
    QtPdfFontFaces faces;
    const bool ownPdf = CanWritePdf(faces, data.Sima.SiteName, [&](PdfCoverage& coverage) {
      return gathered ? GatheredCovered(coverage, *gathered) : TableCovered(coverage, data.Table);
    });
    if (ownPdf) {
      const QSizeF size = sheet.fullRectPoints().size();
      PdfDocument document(
          [&out](std::string_view bytes) { out->Write(bytes.data(), bytes.size()); }, faces,
          size.width(), size.height(), kPdfResolution, PdfInfo(title));
      PdfDocumentTarget target(document, PdfPage(sheet, kPdfResolution));
      pages = PrintList(data, gathered.get(), grid, target);
    } else {
      OutputDevice device(*out);
      {
        QPdfWriter pdf(&device);
        pdf.setResolution(kPdfResolution);
        pdf.setPageLayout(sheet);
        pdf.setTitle(title);
        pdf.setCreator(Creator());
        PagedDeviceTarget target(pdf, parsed.output);
        pages = PrintList(data, gathered.get(), grid, target);
      }
      device.ThrowIfFailed();
    }
    out->Commit();
    err << "kestrova: wrote " << pages << (pages == 1 ? " page" : " pages") << " of " << points
        << " points to "
        << (parsed.output == QStringLiteral("-") ? QStringLiteral("standard output")
                                                 : parsed.output)
        << "\n";
    return 0;
  } catch (const std::exception& e) {
    err << "kestrova: error: " << Utf8ToQString(e.what()) << "\n";
    return 1;
  }
}

}  // namespace kestrova
