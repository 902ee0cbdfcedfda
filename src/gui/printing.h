#pragma once

#include <QPageLayout>
#include <QPainter>
#include <QRawFont>
#include <QStringList>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "app/print_command.h"
#include "view/pdf_document.h"
#include "view/print_layout.h"

class QPagedPaintDevice;
class QPrinter;
class QTableView;
class QWidget;

namespace kestrova {

// Prints on any paged paint device: pages in the device's pixels, the page canvas a
// painter that every way out of the job releases.
class PagedDeviceTarget : public PrintTarget {
 public:
  PagedDeviceTarget(QPagedPaintDevice& device, QString name);
  ~PagedDeviceTarget() override;
  PagedDeviceTarget(const PagedDeviceTarget&) = delete;
  PagedDeviceTarget& operator=(const PagedDeviceTarget&) = delete;

  bool ChoosePrinter() override { return true; }
  PageGeometry Page() override;
  TextMetrics& Metrics() override { return *metrics_; }
  void BeginDocument() override;
  Canvas& PageCanvas() override;
  void NewPage() override;
  void EndDocument() override;
  void AbortDocument() noexcept override;

 protected:
  // What messages call the device: the printer's name or the file written.
  virtual QString DeviceName() const { return name_; }
  // Tells the device to throw the job away; the painter is ended afterwards.
  virtual void DiscardJob() noexcept {}
  // Whether the device reported a failure that ending the painter did not show.
  virtual bool DeviceFailed() const { return false; }

 private:
  QPagedPaintDevice& device_;
  QString name_;
  std::unique_ptr<TextMetrics> metrics_;
  QPainter painter_;
  std::unique_ptr<Canvas> canvas_;
};

// Throws kNoPrinter where the system's print dialog cannot be shown for want of a
// printer (Windows).
void RequireAPrinter();

// A printer kept for the whole run that names no printer the system has (made before the
// first printer was added, or its printer since removed) takes the system's default, or
// the first there is: its print dialog would otherwise not open, and printing do nothing.
void FollowPrinters(QPrinter& printer);

// The printer set-up: the printer to print on (and its paper), nothing of pages or
// copies. On Windows it is the system's own set-up dialog; Qt's print dialog, shown there
// instead, offered page ranges and a "印刷" button that printed nothing. Returns whether
// the user chose.
bool ShowPrinterSetup(QPrinter& printer, QWidget* parent);

// Prints through a QPrinter in portrait. With a dialog parent the user picks the
// printer (or a PDF file) in the print dialog; without one the printer is used as set.
class PrinterTarget : public PagedDeviceTarget {
 public:
  PrinterTarget(QPrinter& printer, QWidget* dialogParent);
  ~PrinterTarget() override;

  bool ChoosePrinter() override;
  PageGeometry Page() override;

 protected:
  QString DeviceName() const override;
  void DiscardJob() noexcept override;
  bool DeviceFailed() const override;

 private:
  QPrinter& printer_;
  QWidget* dialogParent_;
};

// The on-screen grid's geometry from the table view that shows it: the horizontal
// header is grid row 0 and the vertical header grid column 0.
GridGeometry GridGeometryOf(const QTableView& view);

// The main window's "印刷(&P)": the print command on the run's one printer (the one the
// printer set-up configures), the print dialog owned by the window, the grid's geometry
// as it is on screen.
void PrintFromWindow(CommandContext& ctx, QPrinter& printer, QWidget* window,
                     const QTableView& grid);

class QtPdfFontFaces;

// The window's printer as PrinterTarget drives it, but for a PDF file chosen in the print
// dialog that this program can write itself (as --print-pdf writes one): then the file
// is written by this program, on the printer's page and margins, and Qt's engine, which
// takes some 4 ms a page, is not used. grid, table and siteName are what will be printed:
// the face must have a glyph for each of their characters. All must outlive the target.
class WindowPrintTarget : public PrintTarget {
 public:
  WindowPrintTarget(QPrinter& printer, QWidget* dialogParent, const CellGrid& grid,
                    const PointTable& table, std::string siteName);
  ~WindowPrintTarget() override;

  bool ChoosePrinter() override;
  PageGeometry Page() override;
  TextMetrics& Metrics() override;
  void BeginDocument() override;
  Canvas& PageCanvas() override;
  void NewPage() override;
  void EndDocument() override;
  void AbortDocument() noexcept override;

  // Whether the job chosen goes to a PDF file this program writes.
  bool WritesOwnPdf() const { return own_ != nullptr; }

 private:
  struct OwnPdf;
  PdfDocumentTarget& OwnJob();

  QPrinter& printer_;
  PrinterTarget qt_;
  const CellGrid& grid_;
  const PointTable& table_;
  std::string siteName_;
  std::unique_ptr<OwnPdf> own_;
};

// A face as Qt finds it for a canvas font (the IPA fonts for the Windows faces), its
// tables read from the font Qt draws with, its heights those Qt gives the page canvas.
class QtPdfFontFace : public PdfFontFace {
 public:
  explicit QtPdfFontFace(const CanvasFont& font);
  const TrueTypeFont& Font() const override { return tables_; }
  std::string PostScriptName() const override;
  uint16_t Glyph(char32_t c) override;
  double Ascent(int pixelSize) override { return Vertical(pixelSize).first; }
  double Height(int pixelSize) override { return Vertical(pixelSize).second; }
  const QRawFont& Raw() const { return raw_; }

 private:
  const std::pair<double, double>& Vertical(int pixelSize);

  CanvasFont font_;
  QRawFont raw_;
  TrueTypeFont tables_;
  std::map<int, std::pair<double, double>> vertical_;
};

class QtPdfFontFaces : public PdfFontFaces {
 public:
  PdfFontFace& FaceOf(std::string_view cp932Face) override;

 private:
  std::map<std::string, std::unique_ptr<QtPdfFontFace>> faces_;
};

// A sheet's page as Qt's PDF writer gives it to a painter at dpi.
PageGeometry PdfPage(const QPageLayout& sheet, int dpi);

// kestrova --print-pdf OUT.pdf [--paper A4|A3] FILE...: loads the files (the first
// replaces, the rest append), prints the grid as the program would show it to a PDF in
// portrait at 600 dpi and writes it atomically ("-": to standard output). args are the
// program's arguments without the program name, "--print-pdf" first. Messages go to
// standard error. Returns 0 on success, 1 on a reported error, 2 on a usage error.
int RunPrintPdf(const QStringList& args);

}  // namespace kestrova
