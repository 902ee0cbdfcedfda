#include "app/print_command.h"

#include <ctime>
#include <exception>
#include <string>

#include "app/messages.h"
#include "common/error.h"

namespace kestrova {

const char kNoPointsToPrintMessage[] = "座標データがありません。";
const char kPrintQuestion[] = "座標データを印刷しますか？　";

PagePrinter::PagePrinter(const PrintLayout& layout, PrintTarget& target)
    : layout_(layout), target_(target) {
  try {
    target_.BeginDocument();
  } catch (...) {
    target_.AbortDocument();  // a job that half started must not stay open
    throw;
  }
}

// Ends the job on the normal path and aborts it on every other, so a failing page never
// leaves a half-open job or a painter holding the printer.
PagePrinter::~PagePrinter() {
  if (!ended_) target_.AbortDocument();
}

void PagePrinter::PrintBand(PrintRows& rows) {
  if (band_ >= layout_.BandCount) throw Error("the coordinate list has no further band to print");
  for (int g = 0; g < static_cast<int>(layout_.Groups.size()); ++g) {
    if (band_ > 0 || g > 0) target_.NewPage();
    DrawPrintPage(LayoutPrintPage(layout_, band_, g, rows, target_.Metrics()),
                  target_.PageCanvas());
  }
  ++band_;
}

int PagePrinter::Finish() {
  if (band_ != layout_.BandCount) throw Error("the coordinate list was not printed to its end");
  target_.EndDocument();
  ended_ = true;
  return layout_.PageCount();
}

std::string TodayText() {
  // Printing runs on the window's thread alone: the shared buffer of localtime is safe.
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  char text[32] = "";
  if (local == nullptr || std::strftime(text, sizeof text, "%Y/%m/%d", local) == 0) return "";
  return text;
}

int PrintCoordinateList(const CellGrid& grid, const GridGeometry& screen, PrintTarget& target,
                        PrintFooter footer) {
  if (footer.Date.empty()) footer.Date = TodayText();
  const PrintLayout layout =
      PlanCoordinateList(grid, screen, target.Page(), target.Metrics(), footer);
  GridPrintRows rows(grid);
  PagePrinter printer(layout, target);
  for (int b = 0; b < layout.BandCount; ++b)
    printer.PrintBand(rows);
  return printer.Finish();
}

void PrintCoordinateListCommand(CommandContext& ctx, PrintTarget& target,
                                const GridGeometry& screen) {
  Prompts& prompts = ctx.prompts;
  const auto showError = [&prompts](const std::string& text) {
    try {
      prompts.Message(Prompts::Kind::kError, Prompts::Buttons::kOk, text);
    } catch (...) {
    }
  };
  try {
    // The cell being edited is printed as typed, not as it was before.
    ctx.view.CommitGridEdit();
    // An empty table may still be printed as the empty ruled grid.
    if (ctx.ws.Coords.Table.PointCount < 1 &&
        prompts.Message(Prompts::Kind::kConfirmation, Prompts::Buttons::kOkCancel,
                        kNoPointsToPrintMessage) == Prompts::Answer::kCancel) {
      return;
    }
    if (prompts.Message(Prompts::Kind::kConfirmation, Prompts::Buttons::kOkCancel,
                        kPrintQuestion) == Prompts::Answer::kCancel) {
      return;
    }
    if (!target.ChoosePrinter()) return;
    const auto busy = prompts.Busy();
    PrintCoordinateList(ctx.ws.Grid, screen, target, {ctx.ws.Coords.Sima.SiteName, TodayText()});
  } catch (const std::exception& e) {
    showError(WindowText(e));
  } catch (...) {
    showError("予期しないエラーで処理を中止しました。");
  }
}

}  // namespace kestrova
