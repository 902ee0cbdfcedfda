#pragma once

#include "app/commands.h"
#include "coords/cell_grid.h"
#include "view/canvas.h"
#include "view/pdf_document.h"
#include "view/print_layout.h"

namespace kestrova {

// The printer as the print command needs it: the desktop program drives a real printer
// or a PDF file, tests a recording fake. Failures throw kestrova::Error.
class PrintTarget {
 public:
  virtual ~PrintTarget() = default;

  // Lets the user pick the printer (or a PDF file) for this job; false: cancelled.
  virtual bool ChoosePrinter() = 0;
  // The page in portrait, in device pixels, with the device's resolution.
  virtual PageGeometry Page() = 0;
  // Text extents on this device, usable before the document begins.
  virtual TextMetrics& Metrics() = 0;

  virtual void BeginDocument() = 0;
  // Where the current page is drawn; valid between BeginDocument and the end.
  virtual Canvas& PageCanvas() = 0;
  virtual void NewPage() = 0;
  // Finishes the job and releases the page canvas.
  virtual void EndDocument() = 0;
  // Throws the job away and releases the page canvas; safe to call in any state.
  virtual void AbortDocument() noexcept = 0;
};

// The list printed into a PDF this program writes itself. The document must outlive
// the target; the job ends with the document finished.
class PdfDocumentTarget : public PrintTarget {
 public:
  PdfDocumentTarget(PdfDocument& document, PageGeometry page) : document_(document), page_(page) {}
  bool ChoosePrinter() override { return true; }
  PageGeometry Page() override { return page_; }
  TextMetrics& Metrics() override { return document_.Metrics(); }
  void BeginDocument() override {}
  Canvas& PageCanvas() override { return document_.PageCanvas(); }
  void NewPage() override { document_.NewPage(); }
  void EndDocument() override { document_.Finish(); }
  void AbortDocument() noexcept override {}

 private:
  PdfDocument& document_;
  PageGeometry page_;
};

// "座標データがありません。" and "座標データを印刷しますか？　" in UTF-8.
extern const char kNoPointsToPrintMessage[];
extern const char kPrintQuestion[];

// Sends a planned list to the target band by band, each page laid out only when it is
// drawn, so the pages of a long list are never held together. The job begins with the
// printer; unless Finish ends it, the printer's destruction aborts it.
class PagePrinter {
 public:
  PagePrinter(const PrintLayout& layout, PrintTarget& target);
  ~PagePrinter();
  PagePrinter(const PagePrinter&) = delete;
  PagePrinter& operator=(const PagePrinter&) = delete;

  // Prints the sheets of the next band; rows gives its rows and the header.
  void PrintBand(PrintRows& rows);
  // Ends the job; every band must have been printed. Returns the number of pages.
  int Finish();

 private:
  const PrintLayout& layout_;
  PrintTarget& target_;
  int band_ = 0;
  bool ended_ = false;
};

// Prints the grid as displayed: plans the list first, so a page that cannot hold the
// table prints nothing, then sends the pages. Whatever fails, the job is ended or
// aborted before the error leaves. Returns the number of pages printed.
// footer: what every page names under its table; without a date, today's is printed.
int PrintCoordinateList(const CellGrid& grid, const GridGeometry& screen, PrintTarget& target,
                        PrintFooter footer = {});

// Today's date as the footer prints it: "2026/12/07".
std::string TodayText();

// The print command: asks, lets the user choose the printer, prints under the busy
// cursor; errors are shown, never thrown.
void PrintCoordinateListCommand(CommandContext& ctx, PrintTarget& target,
                                const GridGeometry& screen = GridGeometry{});

}  // namespace kestrova
