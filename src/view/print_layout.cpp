#include "view/print_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/messages.h"
#include "common/error.h"
#include "common/number_text.h"

namespace kestrova {

const char kPrintFontFace[] = "\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E";  // ＭＳ ゴシック

namespace {

constexpr int kThinPen = 1;
constexpr int kThickPen = 5;
constexpr double kMmPerInch = 25.4;
// Far beyond any page a printer or a PDF can hold; values past it come from a broken
// driver or a corrupted window state and must not reach an integer conversion.
constexpr double kPixelLimit = 1.0e7;

int CheckedPixels(double v, const char* what) {
  if (!std::isfinite(v) || std::fabs(v) > kPixelLimit) {
    throw Error(MessageId::kPrintLayoutOutOfRange, {what});
  }
  return static_cast<int>(v);
}

// Nearest integer, halves to the even neighbour, whatever the floating-point rounding
// mode of the thread happens to be.
int RoundHalfEven(double v, const char* what) {
  CheckedPixels(v, what);
  const double lower = std::floor(v);
  const double fraction = v - lower;
  double r = lower;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(lower, 2.0) != 0.0)) r = lower + 1.0;
  return static_cast<int>(r);
}

int Truncate(double v, const char* what) {
  return CheckedPixels(std::trunc(v), what);
}

bool LeftAligned(int column) {
  return column == 2 || column == 6 || column == 7;
}

std::string Millimetres(int pixels, double pixelsPerMm) {
  return FormatFixed(pixels / pixelsPerMm, 1, 1);
}

// The rows of one band with the top of each slot relative to the table's top edge.
struct Band {
  std::vector<int> rows;
  std::vector<int> tops;
  std::vector<int> heights;
  int height = 0;
};

class PageWriter {
 public:
  PageWriter(PrintRows& rows, const PrintLayout& layout, TextMetrics& metrics)
      : rows_(rows), layout_(layout), metrics_(metrics) {}

  int Width(const std::string& text) { return text.empty() ? 0 : metrics_.TextWidth(text); }

  void Cell(PrintPage& page, const Band& band, size_t slot, int column, int left, int width,
            int textOffset, const std::string& text) {
    const int top = layout_.MarginTop + band.tops[slot];
    PrintCell cell;
    cell.Row = band.rows[slot];
    cell.Column = column;
    cell.TopLeft = {left, top};
    cell.BottomRight = {left + width, top + band.heights[slot]};
    cell.TextAt = {left + textOffset, top + (band.heights[slot] - layout_.TextHeight) / 2};
    cell.Text = text;
    page.Cells.push_back(std::move(cell));
  }

  // The thick top rule, the rule under the header and the bottom rule of one column.
  void Frame(PrintPage& page, const Band& band, int left, int right) {
    const int t = layout_.MarginTop;
    page.Rules.push_back({{left, t}, {right, t}, kThickPen});
    page.Rules.push_back({{left, t + band.heights[0]}, {right, t + band.heights[0]}, kThickPen});
    page.Rules.push_back({{left, t + band.height}, {right, t + band.height}, kThickPen});
  }

  void SlotRule(PrintPage& page, const Band& band, size_t slot, int left, int right) {
    const int y = layout_.MarginTop + band.tops[slot];
    page.Rules.push_back({{left, y}, {right, y}, kThinPen});
  }

  // The point-row numbers at the page's left margin; every page starts with them so a
  // sheet of a column group can still be matched to its rows.
  void PrintNumberColumn(PrintPage& page, const Band& band) {
    const int left = layout_.MarginLeft;
    const int w0 = layout_.ColumnWidths[0];
    for (size_t k = 0; k < band.rows.size(); ++k) {
      const std::string& text = rows_.Row(band.rows[k])[0];
      Cell(page, band, k, 0, left, w0, (w0 - Width(text)) / 2, text);
      SlotRule(page, band, k, left, left + w0);
    }
    const int t = layout_.MarginTop;
    page.Rules.push_back({{left, t}, {left, t + band.height}, kThickPen});
    page.Rules.push_back({{left + w0, t}, {left + w0, t + band.height}, kThickPen});
    Frame(page, band, left, left + w0);
    page.Columns.push_back(0);
  }

  void PrintColumn(PrintPage& page, const Band& band, int column, bool lastOnPage) {
    const int left = layout_.MarginLeft + layout_.ColumnX[column];
    const int w = layout_.ColumnWidths[column];
    for (size_t k = 0; k < band.rows.size(); ++k) {
      const std::string& text = rows_.Row(band.rows[k])[column];
      int offset = 0;
      if (k == 0) {
        offset = (w - Width(text)) / 2;
      } else if (LeftAligned(column)) {
        offset = layout_.HeaderWidths[column] / 4;
      } else {
        offset = w - Width(text) - layout_.Padding;
      }
      Cell(page, band, k, column, left, w, offset, text);
      SlotRule(page, band, k, left, left + w);
    }
    Frame(page, band, left, left + w);
    const int t = layout_.MarginTop;
    page.Rules.push_back(
        {{left + w, t}, {left + w, t + band.height}, lastOnPage ? kThickPen : kThinPen});
    page.Columns.push_back(column);
  }

 private:
  PrintRows& rows_;
  const PrintLayout& layout_;
  TextMetrics& metrics_;
};

void CheckGeometry(const GridGeometry& screen, const PageGeometry& page) {
  if (!(page.DpiX > 0.0 && page.DpiY > 0.0) || page.Width <= 0 || page.Height <= 0) {
    throw Error(MessageId::kPrinterNoUsablePage,
                {std::to_string(page.Width), std::to_string(page.Height), FormatGeneral(page.DpiX),
                 FormatGeneral(page.DpiY)});
  }
  if (!(screen.DpiX > 0.0 && screen.DpiY > 0.0)) {
    throw Error(MessageId::kScreenNoResolution, {});
  }
}

}  // namespace

CanvasFont PrintFont(const GridGeometry& screen, const PageGeometry& page) {
  CheckGeometry(screen, page);
  CanvasFont font;
  font.face = kPrintFontFace;
  font.height = RoundHalfEven(screen.FontHeight * (page.DpiY / screen.DpiY), "the font height");
  return font;
}

PrintLayout PlanCoordinateList(const CellGrid::Row& header, int rowCount, int widestNumber,
                               const GridGeometry& screen, const PageGeometry& page,
                               TextMetrics& metrics, const PrintFooter& footer) {
  CheckGeometry(screen, page);
  if (rowCount <= 0) throw Error(MessageId::kGridNoRowsToPrint, {});

  const double mx = page.DpiX / kMmPerInch;
  const double my = page.DpiY / kMmPerInch;
  const double sx = page.DpiX / screen.DpiX;
  const double sy = page.DpiY / screen.DpiY;

  PrintLayout layout;
  layout.MarginTop = RoundHalfEven(25 * my, "the top margin");
  layout.MarginBottom = RoundHalfEven(20 * my, "the bottom margin");
  layout.MarginLeft = RoundHalfEven(20 * mx, "the left margin");
  layout.MarginRight = RoundHalfEven(20 * mx, "the right margin");
  layout.Padding = Truncate(1 * mx, "the cell padding");
  // The number column is cut, the others rounded: the printed table keeps the widths
  // the surveyor knows from the screen.
  layout.ColumnWidths[0] = std::max(0, Truncate(screen.ColumnWidths[0] * sx, "a column width"));
  for (int c = 1; c < CellGrid::kColumns; ++c) {
    layout.ColumnWidths[c] =
        std::max(0, RoundHalfEven(screen.ColumnWidths[c] * sx, "a column width"));
  }
  layout.HeaderHeight = RoundHalfEven(screen.HeaderHeight * sy, "the header height");
  layout.RowHeight = RoundHalfEven(screen.RowHeight * sy, "the row height");
  layout.UsableHeight = page.Height - layout.MarginTop - layout.MarginBottom;
  layout.UsableWidth = page.Width - layout.MarginRight - layout.MarginLeft;

  // Without room for the header and one row below it no band could ever advance.
  if (layout.HeaderHeight <= 0 || layout.RowHeight <= 0 ||
      layout.UsableHeight - layout.HeaderHeight < layout.RowHeight) {
    throw Error(MessageId::kPageTooSmall,
                {Millimetres(std::max(0, layout.HeaderHeight) + std::max(0, layout.RowHeight), my),
                 Millimetres(std::max(0, layout.UsableHeight), my)});
  }
  layout.RowsPerPage = (layout.UsableHeight - layout.HeaderHeight) / layout.RowHeight;

  layout.Font = PrintFont(screen, page);
  metrics.SetFont(layout.Font);
  layout.TextHeight = metrics.TextHeight("W");
  // A long table's row numbers ("*123456") outgrow the column the screen gives them.
  layout.ColumnWidths[0] = std::max(layout.ColumnWidths[0], widestNumber + 2 * layout.Padding);

  // Column groups: a column that would end past the usable width starts a new sheet.
  // Every group holds at least one column, so the grouping always ends.
  layout.Groups.assign(1, {});
  int x = layout.ColumnWidths[0];
  for (int c = 1; c < CellGrid::kColumns; ++c) {
    layout.Groups.back().push_back(c);
    layout.ColumnX[c] = x;
    if (c == CellGrid::kColumns - 1) break;
    const int w = layout.ColumnWidths[c];
    if (layout.UsableWidth < x + w + layout.ColumnWidths[c + 1]) {
      layout.Groups.emplace_back();
      x = layout.ColumnWidths[0];
    } else {
      x += w;
    }
  }

  layout.Headers = header;
  for (int c = 1; c < CellGrid::kColumns; ++c) {
    layout.HeaderWidths[c] = header[c].empty() ? 0 : metrics.TextWidth(header[c]);
  }
  layout.RowCount = rowCount;
  // The first band starts after the header; a grid of the header alone still prints it.
  layout.BandCount = std::max(1, (rowCount - 1 + layout.RowsPerPage - 1) / layout.RowsPerPage);

  // The footer stands in the bottom margin, 5 mm under the space the table may fill.
  layout.FooterY = layout.MarginTop + layout.UsableHeight + RoundHalfEven(5 * my, "the footer");
  layout.Footer = footer;
  return layout;
}

PrintPage LayoutPrintPage(const PrintLayout& layout, int band, int group, PrintRows& rows,
                          TextMetrics& metrics) {
  Band b;
  b.rows.push_back(0);
  b.tops.push_back(0);
  b.heights.push_back(layout.HeaderHeight);
  b.height = layout.HeaderHeight;
  for (int r = layout.BandFirstRow(band); r < layout.BandEndRow(band); ++r) {
    b.rows.push_back(r);
    b.tops.push_back(b.height);
    b.heights.push_back(layout.RowHeight);
    b.height += layout.RowHeight;
  }
  PageWriter writer(rows, layout, metrics);
  PrintPage sheet;
  sheet.Font = layout.Font;
  sheet.Rows = b.rows;
  const std::vector<int>& columns = layout.Groups[static_cast<size_t>(group)];
  sheet.Cells.reserve(b.rows.size() * (columns.size() + 1));
  sheet.Rules.reserve((b.rows.size() + 5) * (columns.size() + 1));
  writer.PrintNumberColumn(sheet, b);
  for (size_t i = 0; i < columns.size(); ++i)
    writer.PrintColumn(sheet, b, columns[i], i + 1 == columns.size());

  const int left = layout.MarginLeft;
  const int right = layout.MarginLeft + layout.UsableWidth;
  const int index = band * static_cast<int>(layout.Groups.size()) + group;
  const std::string number = std::to_string(index + 1) + " / " + std::to_string(layout.PageCount());
  const auto at = [&](int textX, const std::string& text) {
    const int w = metrics.TextWidth(text);
    sheet.Footer.push_back({0,
                            0,
                            {textX, layout.FooterY},
                            {textX + w, layout.FooterY + layout.TextHeight},
                            {textX, layout.FooterY},
                            text});
  };
  if (!layout.Footer.SiteName.empty()) at(left, layout.Footer.SiteName);
  at(left + (right - left - metrics.TextWidth(number)) / 2, number);
  if (!layout.Footer.Date.empty())
    at(right - metrics.TextWidth(layout.Footer.Date), layout.Footer.Date);
  return sheet;
}

PrintLayout PlanCoordinateList(const CellGrid& grid, const GridGeometry& screen,
                               const PageGeometry& page, TextMetrics& metrics,
                               const PrintFooter& footer) {
  CheckGeometry(screen, page);
  if (grid.RowCount() == 0) throw Error(MessageId::kGridNoRowsToPrint, {});
  metrics.SetFont(PrintFont(screen, page));
  WidestNumber widest;
  for (int r = 1; r < grid.RowCount(); ++r)
    widest.Add(metrics, grid.Rows[r][0]);
  return PlanCoordinateList(grid.Rows[0], grid.RowCount(), widest.Width(), screen, page, metrics,
                            footer);
}

namespace {

CellGrid::Row HeaderRow() {
  CellGrid::Row header;
  for (int c = 0; c < CellGrid::kColumns; ++c)
    header[c] = kGridHeaders[c];
  return header;
}

// The plan of the grid a table of pointCount points (at least one) shows, marked(r)
// telling whether row r is marked.
template <class Marked>
PrintLayout PlanPointList(int32_t pointCount, Marked marked, const GridGeometry& screen,
                          const PageGeometry& page, TextMetrics& metrics,
                          const PrintFooter& footer) {
  metrics.SetFont(PrintFont(screen, page));
  WidestNumber widest;
  for (int32_t r = 1; r <= pointCount; ++r)
    widest.Add(metrics, GridNumberCell(r, marked(r)));
  widest.Add(metrics, "");  // the empty row after the last point
  return PlanCoordinateList(HeaderRow(), pointCount + 2, widest.Width(), screen, page, metrics,
                            footer);
}

}  // namespace

TablePrintRows::TablePrintRows(const PointTable& table, int rowsPerBand)
    : table_(table),
      header_(HeaderRow()),
      rows_(static_cast<size_t>(std::max(rowsPerBand, 0)) + 1),
      made_(rows_.size(), -1) {}

const CellGrid::Row& TablePrintRows::Row(int r) {
  if (r == 0) return header_;
  if (r > table_.PointCount) return empty_;  // the row left for typing a further point
  const size_t slot = static_cast<size_t>(r) % rows_.size();
  if (made_[slot] != r) {
    FormatGridRow(table_.Points[static_cast<size_t>(r)], r, rows_[slot]);
    made_[slot] = r;
  }
  return rows_[slot];
}

PrintLayout PlanCoordinateList(const PointTable& table, const GridGeometry& screen,
                               const PageGeometry& page, TextMetrics& metrics,
                               const PrintFooter& footer) {
  return PlanPointList(
      table.PointCount,
      [&table](int32_t r) { return table.Points[static_cast<size_t>(r)].Marked == 1; }, screen,
      page, metrics, footer);
}

namespace {

// The data, once it is known to hold the points' texts the rows show.
const StreamedDrawingData& WithTexts(const StreamedDrawingData& data) {
  if (!data.HasTexts()) throw std::logic_error("the points were gathered without their texts");
  return data;
}

// At least one band, and as many whole bands as fit in rows.
int32_t WholeBands(int rows, int band) {
  return band * std::max(1, rows / band);
}

}  // namespace

GatheredPrintRows::GatheredPrintRows(const StreamedDrawingData& data, int rowsPerBand,
                                     int rowsAtOnce)
    : points_(WithTexts(data)),
      names_(data),
      texts_(data),
      pointCount_(data.PointCount()),
      rowsAtOnce_(WholeBands(rowsAtOnce, std::max(rowsPerBand, 1))),
      header_(HeaderRow()) {}

GatheredPrintRows::Rows GatheredPrintRows::Make(int32_t first) {
  Rows made;
  made.first = first;
  made.rows.resize(static_cast<size_t>(std::min(rowsAtOnce_, pointCount_ - first + 1)));
  SurveyPoint p;
  StreamedPoint at;
  std::string_view name;
  std::string_view mark;
  std::string_view remarks;
  for (size_t i = 0; i < made.rows.size(); ++i) {
    const int32_t r = first + static_cast<int32_t>(i);
    if (points_.Read(&at, 1) != 1 || !names_.Next(name) || !texts_.Next(mark, remarks)) {
      throw Error("the gathered points end before row " + std::to_string(r));
    }
    p.Number = at.Number;
    p.X = at.X;
    p.Y = at.Y;
    p.Z = at.Z;
    p.Name = name;
    p.Mark = mark;
    p.Remarks = remarks;
    p.Marked = 1;  // a load marks every row it reads
    FormatGridRow(p, r, made.rows[i]);
  }
  return made;
}

const CellGrid::Row& GatheredPrintRows::Row(int r) {
  if (r == 0) return header_;
  if (r > pointCount_) return empty_;
  if (r < ready_.first) throw std::logic_error("a printed row was asked for after its band");
  while (r >= ready_.first + static_cast<int32_t>(ready_.rows.size())) {
    if (failed_) std::rethrow_exception(failed_);
    const int32_t first = ready_.first + static_cast<int32_t>(ready_.rows.size());
    try {
      ready_ = next_.valid() ? next_.get() : Make(first);
    } catch (...) {
      failed_ = std::current_exception();
      throw;
    }
    const int32_t after = first + static_cast<int32_t>(ready_.rows.size());
    if (after <= pointCount_ && after > first) {
      next_ = RunAside([this, after] { return Make(after); });
    }
  }
  return ready_.rows[static_cast<size_t>(r - ready_.first)];
}

PrintLayout PlanCoordinateList(const StreamedDrawingData& data, const GridGeometry& screen,
                               const PageGeometry& page, TextMetrics& metrics,
                               const PrintFooter& footer) {
  // A load marks every row it reads.
  return PlanPointList(
      data.PointCount(), [](int32_t) { return true; }, screen, page, metrics, footer);
}

PrintLayout LayoutCoordinateList(const CellGrid& grid, const GridGeometry& screen,
                                 const PageGeometry& page, TextMetrics& metrics,
                                 const PrintFooter& footer) {
  PrintLayout layout = PlanCoordinateList(grid, screen, page, metrics, footer);
  GridPrintRows rows(grid);
  for (int b = 0; b < layout.BandCount; ++b) {
    for (int g = 0; g < static_cast<int>(layout.Groups.size()); ++g)
      layout.Pages.push_back(LayoutPrintPage(layout, b, g, rows, metrics));
  }
  return layout;
}

void DrawPrintPage(const PrintPage& page, Canvas& canvas) {
  canvas.SetFont(page.Font);
  canvas.SetTextColour(Rgb(0, 0, 0));
  canvas.SetTextBackground(false, Rgb(255, 255, 255));
  for (const PrintCell& cell : page.Cells) {
    if (!cell.Text.empty()) canvas.Text(cell.TextAt, cell.Text);
  }
  for (const PrintCell& cell : page.Footer)
    canvas.Text(cell.TextAt, cell.Text);
  int penWidth = -1;
  for (const PrintRule& rule : page.Rules) {
    if (rule.PenWidth != penWidth) {
      penWidth = rule.PenWidth;
      canvas.SetPen(CanvasPen{Rgb(0, 0, 0), penWidth, PenStyle::kSolid, PenMode::kCopy});
    }
    const PixelPoint line[] = {rule.From, rule.To};
    canvas.Polyline(line);
  }
}

}  // namespace kestrova
