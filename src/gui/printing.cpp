#include "gui/printing.h"

#include <unistd.h>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTableView>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/sjis.h"
#include "coords/cell_grid.h"
#include "coords/coordinate_file.h"
#include "coords/point_table.h"

namespace kestrova {

namespace {

QString Cp932ToQString(std::string_view cp932) {
  const std::string utf8 = Cp932ToUtf8(cp932);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString Utf8ToQString(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QColor ToQColor(Colour c) {
  return QColor(static_cast<int>(RedOf(c)), static_cast<int>(GreenOf(c)),
                static_cast<int>(BlueOf(c)));
}

// The page canvas: draws the layout's rules and texts with a QPainter on the printer.
class PagePainterCanvas : public Canvas {
 public:
  explicit PagePainterCanvas(QPainter& painter) : painter_(painter) {}

  void SetPen(const CanvasPen& pen) override {
    QPen p(ToQColor(pen.colour));
    p.setWidth(pen.width);
    p.setStyle(pen.style == PenStyle::kDot ? Qt::DotLine : Qt::SolidLine);
    p.setCapStyle(Qt::SquareCap);
    painter_.setPen(p);
    painter_.setCompositionMode(pen.mode == PenMode::kXor ? QPainter::RasterOp_SourceXorDestination
                                                          : QPainter::CompositionMode_SourceOver);
  }
  void SetBrush(const CanvasBrush& brush) override {
    painter_.setBrush(brush.hollow ? QBrush(Qt::NoBrush) : QBrush(ToQColor(brush.colour)));
  }
  void SetFont(const CanvasFont& font) override {
    font_ = PrintFontToQt(font);
    escapement_ = font.escapement;
    painter_.setFont(font_);
  }
  void SetTextColour(Colour colour) override { textColour_ = ToQColor(colour); }
  void SetTextBackground(bool opaque, Colour colour) override {
    opaque_ = opaque;
    background_ = ToQColor(colour);
  }
  void Ellipse(PixelPoint a, PixelPoint b) override { painter_.drawEllipse(Rect(a, b)); }
  void Rectangle(PixelPoint a, PixelPoint b) override { painter_.drawRect(Rect(a, b)); }
  void Polygon(std::span<const PixelPoint> points) override {
    painter_.drawPolygon(ToPolygon(points));
  }
  void Polyline(std::span<const PixelPoint> points) override {
    painter_.drawPolyline(ToPolygon(points));
  }
  void Text(PixelPoint p, std::string_view cp932) override {
    const QString text = Cp932ToQString(cp932);
    const QFontMetrics fm(font_, painter_.device());
    painter_.save();
    Turn(p);
    if (opaque_)
      painter_.fillRect(QRect(0, 0, fm.horizontalAdvance(text), fm.height()), background_);
    painter_.setPen(textColour_);
    painter_.drawText(0, fm.ascent(), text);
    painter_.restore();
  }
  void TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                Colour fillColour) override {
    const QFontMetrics fm(font_, painter_.device());
    QPainterPath path;
    path.addText(0, fm.ascent(), font_, Cp932ToQString(cp932));
    painter_.save();
    Turn(p);
    painter_.strokePath(path, QPen(ToQColor(haloColour), haloWidth));
    painter_.fillPath(path, ToQColor(fillColour));
    painter_.restore();
  }
  int TextWidth(std::string_view cp932) override {
    return qRound(QFontMetricsF(font_, painter_.device()).horizontalAdvance(Cp932ToQString(cp932)));
  }
  int TextHeight(std::string_view) override {
    return QFontMetrics(font_, painter_.device()).height();
  }

 private:
  static QRect Rect(PixelPoint a, PixelPoint b) {
    return QRect(QPoint(a.x, a.y), QPoint(b.x, b.y));
  }
  static QPolygon ToPolygon(std::span<const PixelPoint> points) {
    QPolygon polygon;
    polygon.reserve(static_cast<qsizetype>(points.size()));
    for (const PixelPoint& p : points)
      polygon << QPoint(p.x, p.y);
    return polygon;
  }
  void Turn(PixelPoint p) {
    painter_.translate(p.x, p.y);
    if (escapement_ != 0) painter_.rotate(-escapement_ / 10.0);
  }

  QPainter& painter_;
  QFont font_;
  int escapement_ = 0;
  QColor textColour_{Qt::black};
  QColor background_{Qt::white};
  bool opaque_ = false;
};

}  // namespace

// --- Fonts and metrics -------------------------------------------------------------

QFont PrintFontToQt(const CanvasFont& font) {
  QFont f;
  f.setFamilies({Cp932ToQString(font.face), QStringLiteral("IPAGothic"),
                 QStringLiteral("TakaoGothic"), QStringLiteral("VL Gothic"),
                 QStringLiteral("Noto Sans Mono CJK JP")});
  f.setPixelSize(std::max(1, static_cast<int>(font.height)));
  f.setBold(font.bold);
  f.setItalic(font.italic);
  f.setUnderline(font.underline);
  f.setStrikeOut(font.strikeOut);
  return f;
}

void DeviceTextMetrics::SetFont(const CanvasFont& font) {
  font_ = PrintFontToQt(font);
}

// The whole text's advance rounded once, so long texts do not gather a rounding error
// per character.
int DeviceTextMetrics::TextWidth(std::string_view cp932) {
  return qRound(QFontMetricsF(font_, &device_).horizontalAdvance(Cp932ToQString(cp932)));
}

int DeviceTextMetrics::TextHeight(std::string_view) {
  return QFontMetrics(font_, &device_).height();
}

// --- Paged devices and printers as print targets -----------------------------------

PagedDeviceTarget::PagedDeviceTarget(QPagedPaintDevice& device, QString name)
    : device_(device), name_(std::move(name)), metrics_(device) {}

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
    throw Error("cannot start printing on " + DeviceName().toStdString() +
                "; check that the printer is ready or the file can be written");
  }
  painter_.setRenderHint(QPainter::Antialiasing, false);
  canvas_ = std::make_unique<PagePainterCanvas>(painter_);
}

Canvas& PagedDeviceTarget::PageCanvas() {
  if (!canvas_) throw Error("printing has not started");
  return *canvas_;
}

void PagedDeviceTarget::NewPage() {
  if (!device_.newPage()) {
    throw Error("the printer " + DeviceName().toStdString() + " did not accept a further page");
  }
}

void PagedDeviceTarget::EndDocument() {
  canvas_.reset();
  const bool ended = painter_.end();
  if (!ended || DeviceFailed()) {
    throw Error("printing on " + DeviceName().toStdString() + " failed; the job was not completed");
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
  PrinterTarget target(printer, window);
  PrintCoordinateListCommand(ctx, target, GridGeometryOf(grid));
}

// --- Printing to a PDF without a window --------------------------------------------

namespace {

constexpr int kPdfResolution = 600;  // a common office laser printer

const char kPrintPdfUsage[] =
    "usage: kestrova --print-pdf OUT.pdf [--paper A4|A3] FILE...\n"
    "Prints the coordinate list of the files (the first replaces, the rest append) to a PDF.\n";

struct PrintPdfArguments {
  QString output;
  QPageSize::PageSizeId paper = QPageSize::A4;
  QStringList files;
};

// Returns an empty string when the arguments are fine, else what is wrong.
QString ParsePrintPdf(const QStringList& args, PrintPdfArguments& out) {
  if (args.isEmpty() || args[0] != QStringLiteral("--print-pdf"))
    return "--print-pdf must come first";
  bool options = true;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (options && a == QStringLiteral("--")) {
      options = false;
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
    } else if (options && a.startsWith("-") && a.size() > 1) {
      return "unknown option " + a;
    } else if (out.output.isEmpty()) {
      out.output = a;
    } else {
      out.files << a;
    }
  }
  if (out.output.isEmpty()) return "the PDF to write is missing";
  if (out.files.isEmpty()) return "no coordinate file given";
  return {};
}

std::filesystem::path ToPath(const QString& s) {
  return std::filesystem::path(QFile::encodeName(s).toStdString());
}

// A PDF written over one of the coordinate files would destroy what is being printed
// (an output name forgotten on the command line makes the first file the output).
QString OutputIsAnInput(const PrintPdfArguments& a) {
  if (a.output == QStringLiteral("-")) return {};
  std::error_code ec;
  const std::filesystem::path out = ToPath(a.output);
  if (!std::filesystem::is_regular_file(out, ec)) return {};
  for (const QString& file : a.files) {
    if (std::filesystem::equivalent(out, ToPath(file), ec)) {
      return "the output " + a.output + " is the input " + file +
             "; writing it would replace the file being read";
    }
  }
  return {};
}

}  // namespace

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
    CoordinateData data;
    CellGrid grid;
    ClearPointTable(data.Table, data.Sima, grid);
    bool append = false;
    for (const QString& file : parsed.files) {
      LoadReport report;
      if (!LoadCoordinateFile(ToPath(file), data, append, &report)) {
        throw Error(file.toStdString() + ": fewer than two lines; nothing was loaded");
      }
      for (const std::string& warning : LoadWarnings(report, file.toStdString()))
        err << "kestrova: warning: " << Utf8ToQString(warning) << "\n";
      append = true;
    }
    FillGridFromPoints(data.Table, grid);
    if (data.Table.PointCount == 0) err << "kestrova: warning: the files hold no point\n";

    // The whole PDF is made in memory first, so the file only ever appears complete.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    int pages = 0;
    {
      QPdfWriter pdf(&buffer);
      pdf.setResolution(kPdfResolution);
      // The margins of the list are measured from the edge of the sheet.
      pdf.setPageLayout(QPageLayout(QPageSize(parsed.paper), QPageLayout::Portrait,
                                    QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
      pdf.setTitle(QFileInfo(parsed.files.front()).fileName());
      pdf.setCreator(QStringLiteral("Kestrova ") + QStringLiteral(KESTROVA_VERSION));
      PagedDeviceTarget target(pdf, parsed.output);
      pages = PrintCoordinateList(grid, GridGeometry{}, target);
    }
    const std::unique_ptr<AtomicFileWriter> out =
        parsed.output == QStringLiteral("-")
            ? AtomicFileWriter::ForDescriptor(STDOUT_FILENO, "standard output")
            : std::make_unique<AtomicFileWriter>(ToPath(parsed.output));
    out->Write(buffer.data().constData(), static_cast<size_t>(buffer.data().size()));
    out->Commit();
    err << "kestrova: wrote " << pages << (pages == 1 ? " page" : " pages") << " of "
        << data.Table.PointCount << " points to "
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
