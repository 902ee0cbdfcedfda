#include "view/print_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/sjis.h"
#include "coords/coordinate_file.h"
#include "view/print_test_support.h"

namespace kestrova {
namespace {

// 254 dpi is 10 printer pixels per millimetre and twice a 127 dpi screen, so every
// value below is worked out by hand: margins 250 (top), 200 (bottom, left, right),
// padding 10, column widths 80 | 120 160 160 160 160 80 160, rows 36 high, text 20
// high and 10 pixels per byte wide, text 8 below a row's top.
struct HandWorkedLayout : ::testing::Test {
  void SetUp() override {
    grid = SevenPointGrid();
    screen.DpiX = 127;
    screen.DpiY = 127;
    // Usable 600 x 150: the columns split into 1-3, 4-6 and 7; three rows below the
    // header on each sheet.
    page = {1000, 600, 254, 254};
  }

  const PrintCell& CellAt(const PrintPage& p, int row, int column) {
    for (const PrintCell& c : p.Cells) {
      if (c.Row == row && c.Column == column) return c;
    }
    ADD_FAILURE() << "no cell " << row << "," << column;
    return p.Cells.front();
  }

  CellGrid grid;
  GridGeometry screen;
  PageGeometry page;
  FixedMetrics metrics;
};

TEST_F(HandWorkedLayout, SharedValuesAndTheDerivedFont) {
  const PrintLayout layout = LayoutCoordinateList(grid, screen, page, metrics);
  EXPECT_EQ(layout.MarginTop, 250);
  EXPECT_EQ(layout.MarginBottom, 200);
  EXPECT_EQ(layout.MarginLeft, 200);
  EXPECT_EQ(layout.MarginRight, 200);
  EXPECT_EQ(layout.Padding, 10);
  EXPECT_EQ(layout.UsableWidth, 600);
  EXPECT_EQ(layout.UsableHeight, 150);
  EXPECT_EQ(layout.RowsPerPage, 3);
  EXPECT_EQ(layout.TextHeight, 20);
  EXPECT_EQ(layout.ColumnWidths, (std::array<int, 8>{80, 120, 160, 160, 160, 160, 80, 160}));
  ASSERT_FALSE(metrics.fonts.empty());
  EXPECT_EQ(Cp932ToUtf8(metrics.fonts.back().face), "ＭＳ ゴシック");
  EXPECT_EQ(metrics.fonts.back().height, 24.0);  // the grid's 12-pixel font at twice the size
  EXPECT_EQ(layout.Pages.front().Font, metrics.fonts.back());
}

TEST_F(HandWorkedLayout, BandsAndColumnGroupsLandOnTheirSheets) {
  const PrintLayout layout = LayoutCoordinateList(grid, screen, page, metrics);
  // Nine rows (header, seven points, the empty typing row): bands 0|1-3, 0|4-6, 0|7-8,
  // each printed as three column groups, band by band.
  ASSERT_EQ(layout.Pages.size(), 9u);
  const std::vector<std::vector<int>> bands = {{0, 1, 2, 3}, {0, 4, 5, 6}, {0, 7, 8}};
  const std::vector<std::vector<int>> groups = {{0, 1, 2, 3}, {0, 4, 5, 6}, {0, 7}};
  for (size_t i = 0; i < layout.Pages.size(); ++i) {
    EXPECT_EQ(layout.Pages[i].Rows, bands[i / 3]) << "sheet " << i;
    EXPECT_EQ(layout.Pages[i].Columns, groups[i % 3]) << "sheet " << i;
  }
  // Every grid cell is printed exactly once, apart from the repeated header row and
  // number column.
  std::vector<int> seen(9 * 8, 0);
  for (const PrintPage& p : layout.Pages) {
    for (const PrintCell& c : p.Cells)
      ++seen[c.Row * 8 + c.Column];
  }
  for (int r = 1; r < 9; ++r) {
    EXPECT_EQ(seen[r * 8], 3) << "number of row " << r;
    for (int c = 1; c < 8; ++c)
      EXPECT_EQ(seen[r * 8 + c], 1) << r << "," << c;
  }
  EXPECT_EQ(seen[0], 9);  // the header of the number column on every sheet
}

TEST_F(HandWorkedLayout, CellRectanglesAndTextPositionsOfTheFirstSheet) {
  const PrintLayout layout = LayoutCoordinateList(grid, screen, page, metrics);
  const PrintPage& p = layout.Pages[0];
  // Number column at the left margin, texts centred: "  No. " is 60 wide, "*1 " 30.
  EXPECT_EQ(CellAt(p, 0, 0).TopLeft, (PixelPoint{200, 250}));
  EXPECT_EQ(CellAt(p, 0, 0).BottomRight, (PixelPoint{280, 286}));
  EXPECT_EQ(CellAt(p, 0, 0).TextAt, (PixelPoint{210, 258}));
  EXPECT_EQ(CellAt(p, 1, 0).TextAt, (PixelPoint{225, 294}));
  EXPECT_EQ(CellAt(p, 3, 0).TopLeft, (PixelPoint{200, 358}));
  EXPECT_EQ(CellAt(p, 3, 0).BottomRight, (PixelPoint{280, 394}));
  EXPECT_EQ(CellAt(p, 3, 0).TextAt, (PixelPoint{225, 366}));
  // Point number: header centred (60 of 120), number right-aligned less the padding.
  EXPECT_EQ(CellAt(p, 0, 1).TextAt, (PixelPoint{310, 258}));
  EXPECT_EQ(CellAt(p, 1, 1).Text, "101  ");
  EXPECT_EQ(CellAt(p, 1, 1).TextAt, (PixelPoint{280 + 120 - 50 - 10, 294}));
  EXPECT_EQ(CellAt(p, 3, 1).TextAt, (PixelPoint{280 + 120 - 50 - 10, 366}));
  // Point name: left-aligned a quarter of its header's width (60 / 4) into the cell.
  EXPECT_EQ(CellAt(p, 1, 2).TopLeft, (PixelPoint{400, 286}));
  EXPECT_EQ(CellAt(p, 1, 2).TextAt, (PixelPoint{415, 294}));
  EXPECT_EQ(CellAt(p, 3, 2).TextAt, (PixelPoint{415, 366}));
  // X: the header " Ｘ 座標" is 8 bytes (80) in a 160 cell; "1234.568 " 90 wide.
  EXPECT_EQ(CellAt(p, 0, 3).TextAt, (PixelPoint{600, 258}));
  EXPECT_EQ(CellAt(p, 1, 3).Text, "1234.568 ");
  EXPECT_EQ(CellAt(p, 1, 3).TextAt, (PixelPoint{560 + 160 - 90 - 10, 294}));
  EXPECT_EQ(CellAt(p, 3, 3).BottomRight, (PixelPoint{720, 394}));

  // Frame: thick outer and header rules, thick right border where the group ends,
  // thin separators and slot rules inside.
  const auto has = [&p](PrintRule r) {
    for (const PrintRule& q : p.Rules) {
      if (q == r) return true;
    }
    return false;
  };
  EXPECT_TRUE(has({{200, 250}, {200, 394}, 5}));  // left border
  EXPECT_TRUE(has({{280, 250}, {280, 394}, 5}));  // right of the number column
  EXPECT_TRUE(has({{280, 250}, {400, 250}, 5}));  // top of column 1
  EXPECT_TRUE(has({{280, 286}, {400, 286}, 5}));  // under the header
  EXPECT_TRUE(has({{560, 394}, {720, 394}, 5}));  // bottom of column 3
  EXPECT_TRUE(has({{400, 250}, {400, 394}, 1}));  // between columns 1 and 2
  EXPECT_TRUE(has({{720, 250}, {720, 394}, 5}));  // right border of the sheet
  EXPECT_TRUE(has({{400, 358}, {560, 358}, 1}));  // top of row 3 in column 2
  EXPECT_FALSE(has({{720, 250}, {720, 394}, 1}));
  // Number column 4 slot rules + 5 borders; each data column 4 + 3 + 1.
  EXPECT_EQ(p.Rules.size(), 9u + 3 * 8u);
}

TEST_F(HandWorkedLayout, LaterGroupsStartWithTheNumberColumnAndTheLastBandIsShorter) {
  const PrintLayout layout = LayoutCoordinateList(grid, screen, page, metrics);
  // Second group of the first band: column 4 follows the number column again.
  const PrintPage& second = layout.Pages[1];
  EXPECT_EQ(CellAt(second, 0, 0).TopLeft, (PixelPoint{200, 250}));
  EXPECT_EQ(CellAt(second, 1, 4).TopLeft, (PixelPoint{280, 286}));
  EXPECT_EQ(CellAt(second, 1, 6).TopLeft, (PixelPoint{600, 286}));
  EXPECT_EQ(CellAt(second, 1, 6).TextAt, (PixelPoint{615, 294}));  // マーク: 60 / 4
  EXPECT_EQ(CellAt(second, 3, 5).BottomRight, (PixelPoint{600, 394}));

  // Last sheet: header, row 7 and the empty typing row; the table is 108 high.
  const PrintPage& last = layout.Pages.back();
  EXPECT_EQ(last.Rows, (std::vector<int>{0, 7, 8}));
  EXPECT_EQ(CellAt(last, 7, 0).Text, "*7 ");
  EXPECT_EQ(CellAt(last, 7, 0).TextAt, (PixelPoint{225, 294}));
  EXPECT_EQ(CellAt(last, 8, 0).Text, "");
  EXPECT_EQ(CellAt(last, 8, 7).TopLeft, (PixelPoint{280, 322}));
  EXPECT_EQ(CellAt(last, 8, 7).BottomRight, (PixelPoint{440, 358}));
  EXPECT_EQ(CellAt(last, 7, 7).TextAt, (PixelPoint{295, 294}));
  const PrintRule bottom{{280, 358}, {440, 358}, 5};
  const PrintRule border{{440, 250}, {440, 358}, 5};
  EXPECT_NE(std::find(last.Rules.begin(), last.Rules.end(), bottom), last.Rules.end());
  EXPECT_NE(std::find(last.Rules.begin(), last.Rules.end(), border), last.Rules.end());
}

TEST_F(HandWorkedLayout, WidePagesHoldEverythingAndTheHeaderAloneStillPrints) {
  page = {1480, 1000, 254, 254};  // usable 1080: exactly the table's width
  PrintLayout layout = LayoutCoordinateList(grid, screen, page, metrics);
  ASSERT_EQ(layout.Pages.size(), 1u);
  EXPECT_EQ(layout.Pages[0].Rows.size(), 9u);
  EXPECT_EQ(layout.Pages[0].Columns, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));

  page.Width = 1479;  // one pixel short: the remarks go to a sheet of their own
  layout = LayoutCoordinateList(grid, screen, page, metrics);
  ASSERT_EQ(layout.Pages.size(), 2u);
  EXPECT_EQ(layout.Pages[1].Columns, (std::vector<int>{0, 7}));

  // A page narrower than the number column and one column still advances column by
  // column instead of looping.
  page.Width = 401;
  layout = LayoutCoordinateList(grid, screen, page, metrics);
  EXPECT_EQ(layout.Pages.size(), 7u);

  grid.Rows.resize(1);
  page = {1480, 1000, 254, 254};
  layout = LayoutCoordinateList(grid, screen, page, metrics);
  ASSERT_EQ(layout.Pages.size(), 1u);
  EXPECT_EQ(layout.Pages[0].Rows, std::vector<int>{0});
}

TEST_F(HandWorkedLayout, PagesWithoutRoomForOneRowPrintNothing) {
  // 450 of margins; the header and one row need 72 more.
  page = {1480, 450 + 72, 254, 254};
  const PrintLayout oneRow = LayoutCoordinateList(grid, screen, page, metrics);
  EXPECT_EQ(oneRow.RowsPerPage, 1);
  EXPECT_EQ(oneRow.Pages.size(), 8u);
  EXPECT_EQ(oneRow.Pages[7].Rows, (std::vector<int>{0, 8}));

  page.Height = 450 + 71;
  try {
    LayoutCoordinateList(grid, screen, page, metrics);
    FAIL() << "a page without room for one row was laid out";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "the page is too small for the coordinate list: the header and one row need 7.2 mm "
              "of height, the page leaves 7.1 mm between its margins; nothing was printed. "
              "Choose a larger paper or lower rows in the grid");
  }

  page = {2100, 2970, 254, 254};
  screen.HeaderHeight = 1250;  // 2500 of the 2520 between the margins: no room for a row
  EXPECT_THROW(LayoutCoordinateList(grid, screen, page, metrics), Error);
  screen.HeaderHeight = 18;
  screen.RowHeight = 0;
  EXPECT_THROW(LayoutCoordinateList(grid, screen, page, metrics), Error);
  screen.RowHeight = 18;

  // Pages and resolutions a broken driver could report.
  const std::vector<PageGeometry> broken = {
      {0, 2970, 254, 254},   {2100, -1, 254, 254},     {2100, 2970, 0, 254},
      {2100, 2970, 254, -3}, {2100, 2970, 1e300, 254}, {2100, 2970, std::nan(""), 254}};
  for (const PageGeometry& b : broken) {
    EXPECT_THROW(LayoutCoordinateList(grid, screen, b, metrics), Error)
        << b.Width << " x " << b.Height << " at " << b.DpiX << " x " << b.DpiY;
  }
  screen.DpiX = 0;
  EXPECT_THROW(LayoutCoordinateList(grid, screen, page, metrics), Error);
}

// Every sheet of the plan, laid out from rows, must be the sheet the grid prints.
void ExpectTheGridsPages(const PrintLayout& plan, PrintRows& rows, const PrintLayout& expected,
                         TextMetrics& metrics) {
  EXPECT_EQ(plan.ColumnWidths, expected.ColumnWidths);
  ASSERT_EQ(plan.PageCount(), static_cast<int>(expected.Pages.size()));
  const int groups = static_cast<int>(plan.Groups.size());
  for (int b = 0; b < plan.BandCount; ++b) {
    for (int g = 0; g < groups; ++g) {
      const PrintPage sheet = LayoutPrintPage(plan, b, g, rows, metrics);
      const PrintPage& want = expected.Pages[static_cast<size_t>(b * groups + g)];
      SCOPED_TRACE("band " + std::to_string(b) + " sheet " + std::to_string(g));
      EXPECT_EQ(sheet.Rows, want.Rows);
      EXPECT_EQ(sheet.Columns, want.Columns);
      EXPECT_EQ(sheet.Rules, want.Rules);
      EXPECT_EQ(sheet.Font, want.Font);
      ASSERT_EQ(sheet.Cells.size(), want.Cells.size());
      for (size_t i = 0; i < sheet.Cells.size(); ++i) {
        EXPECT_EQ(sheet.Cells[i].Text, want.Cells[i].Text) << i;
        EXPECT_EQ(sheet.Cells[i].TextAt, want.Cells[i].TextAt) << i;
        EXPECT_EQ(sheet.Cells[i].BottomRight, want.Cells[i].BottomRight) << i;
      }
      ASSERT_EQ(sheet.Footer.size(), 3u);
      for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sheet.Footer[i].Text, want.Footer[i].Text);
        EXPECT_EQ(sheet.Footer[i].TextAt, want.Footer[i].TextAt);
      }
    }
  }
}

const GridGeometry kNarrowScreen{{20, 60, 80, 80, 80, 80, 40, 80}, 18, 18, 12, 127, 127};
const PageGeometry kSmallPage{1000, 600, 254, 254};  // three rows a band, three sheets a band

// A long list is printed from the point table a band at a time, without the grid: every
// page must be the one the grid would print.
TEST(PrintLayout, PagesFromTheTableAreThoseOfTheGrid) {
  PointTable table;
  SimaData sima;
  CellGrid grid;
  ClearPointTable(table, sima, grid);
  for (int i = 1; i <= 125; ++i) {
    SurveyPoint& p = AppendPoint(table);
    p.Number = i * 7;
    p.Name = std::string(static_cast<size_t>(i % 23), 'N') + std::to_string(i);
    p.X = -1000.0 - i * 1.0625;
    p.Y = i * 0.3;
    p.Z = i % 3;
    p.Mark = i % 5 == 0 ? "\x88\xF8" : "";  // 引
    p.Remarks = i % 2 ? "remark" : "";
    p.Marked = i % 4 == 0 ? 0 : 1;  // the widest number is a marked one: "*123 "
  }
  FillGridFromPoints(table, grid);
  FixedMetrics metrics;
  const PrintFooter footer{"site", "2026/12/07"};
  const PrintLayout expected =
      LayoutCoordinateList(grid, kNarrowScreen, kSmallPage, metrics, footer);
  const PrintLayout plan = PlanCoordinateList(table, kNarrowScreen, kSmallPage, metrics, footer);
  EXPECT_EQ(plan.ColumnWidths[0], 70);  // "*123 " and the padding
  ASSERT_EQ(plan.BandCount, 42);        // 126 rows below the header, the last one empty
  TablePrintRows rows(table, plan.RowsPerPage);
  ExpectTheGridsPages(plan, rows, expected, metrics);
  EXPECT_EQ(expected.Pages.back().Footer[1].Text, "126 / 126");
}

// Points gathered in temporary files from several files print the pages the same files
// loaded into a table do, read back through the files band after band.
TEST(PrintLayout, PagesFromGatheredPointsAreThoseOfTheLoadedTable) {
  std::vector<std::string> files(2);
  for (int i = 1; i <= 1001; ++i) {
    files[i <= 700 ? 0 : 1] +=
        std::to_string(i % 650 + 1) + "," + std::string(static_cast<size_t>(i % 19), 'N') +
        std::to_string(i) + "," + std::to_string(-1000.0 - i * 1.0625) + "," +
        std::to_string(i * 0.3) + "," + std::to_string(i % 3) + "," +
        (i % 5 == 0 ? "\x88\xF8" : "") + "," + (i % 2 ? "remark" : "") + "\r\n";
  }
  CoordinateData table;
  CellGrid grid;
  ClearPointTable(table.Table, table.Sima, grid);
  StreamedDrawingData gathered(0, StreamTuning{.mostInMemory = 0}, StreamedUse::kList);
  CoordinateData counts;
  for (size_t f = 0; f < files.size(); ++f) {
    ASSERT_TRUE(LoadCoordinateText(files[f], "p.zhy", table, f > 0));
    gathered.StartFile();
    ASSERT_TRUE(StreamCoordinateText(files[f], "p.zhy", gathered, counts));
  }
  const std::vector<RepeatedNumbers> repeated = gathered.Finish();
  ASSERT_EQ(repeated.size(), 2u);
  EXPECT_EQ(repeated[0].earlier + repeated[0].within + repeated[1].within, 0u);
  EXPECT_EQ(repeated[1].earlier, 301u);
  ASSERT_EQ(gathered.PointCount(), 1001);
  FillGridFromPoints(table.Table, grid);
  EXPECT_EQ(grid.Rows[5][7], "remark");
  EXPECT_EQ(grid.Rows[5][6], "\x88\xF8");

  FixedMetrics metrics;
  const PrintFooter footer{"site", "2026/12/07"};
  const PrintLayout expected =
      LayoutCoordinateList(grid, kNarrowScreen, kSmallPage, metrics, footer);
  const PrintLayout plan = PlanCoordinateList(gathered, kNarrowScreen, kSmallPage, metrics, footer);
  EXPECT_EQ(plan.ColumnWidths[0], 80);  // "*1001 " and the padding
  ASSERT_EQ(plan.BandCount, 334);       // 1002 rows below the header, the last one empty
  // Read whole, and read a few bands at a time, each made while the ones before print.
  for (const int rowsAtOnce : {4096, 10}) {
    GatheredPrintRows rows(gathered, plan.RowsPerPage, rowsAtOnce);
    ExpectTheGridsPages(plan, rows, expected, metrics);
    if (rowsAtOnce == 10) {
      // The files are read once: a band gone by is not read again.
      EXPECT_THROW(rows.Row(1), std::logic_error);
    }
  }
  // Points gathered for a drawing alone have no marks or remarks to show.
  StreamedDrawingData drawing;
  EXPECT_THROW(GatheredPrintRows(drawing, 3), std::logic_error);
}

TEST(PrintLayout, RoundingOfWidthsHeightsAndMargins) {
  CellGrid grid = SevenPointGrid();
  FixedMetrics metrics;
  GridGeometry screen;  // 96 dpi
  screen.ColumnWidths = {47, 44, 36, 45, 80, 80, 40, 80};
  screen.HeaderHeight = 18;
  screen.RowHeight = 17;
  // 300 x 600 dpi: sx 3.125, sy 6.25; 11.81 and 23.62 pixels per millimetre.
  const PrintLayout layout = LayoutCoordinateList(grid, screen, {2480, 7016, 300, 600}, metrics);
  EXPECT_EQ(layout.MarginTop, 591);     // 590.55
  EXPECT_EQ(layout.MarginBottom, 472);  // 472.44
  EXPECT_EQ(layout.MarginLeft, 236);    // 236.22
  EXPECT_EQ(layout.MarginRight, 236);
  EXPECT_EQ(layout.Padding, 11);           // 11.81 cut
  EXPECT_EQ(layout.ColumnWidths[0], 146);  // 146.875 cut, not rounded
  EXPECT_EQ(layout.ColumnWidths[1], 138);  // 137.5 to the even 138
  EXPECT_EQ(layout.ColumnWidths[2], 112);  // 112.5 to the even 112
  EXPECT_EQ(layout.ColumnWidths[3], 141);  // 140.625
  EXPECT_EQ(layout.HeaderHeight, 112);     // 112.5 to the even 112
  EXPECT_EQ(layout.RowHeight, 106);        // 106.25
  EXPECT_EQ(metrics.fonts.back().height, 75.0);
  // (7016 - 591 - 472 - 112) / 106 = 55.1
  EXPECT_EQ(layout.RowsPerPage, 55);
}

TEST(PrintLayout, DrawingAPageOnTheCanvasWithItsFooter) {
  CellGrid grid = SevenPointGrid();
  FixedMetrics metrics;
  GridGeometry screen;
  screen.DpiX = screen.DpiY = 127;
  const PrintFooter footer{"\x8d\xf7\x91\xe4", "2026/12/07"};  // 桜台
  const PrintLayout layout =
      LayoutCoordinateList(grid, screen, {1000, 600, 254, 254}, metrics, footer);
  const PrintPage& p = layout.Pages.back();  // header, row 7, empty row; columns 0 and 7
  RecordingCanvas canvas;
  DrawPrintPage(p, canvas);
  // Texts in black on no background: the two headers, "*7 " and the remarks of row 7;
  // the empty row draws none. Then 5 mm under the table's room (150 pixels from the
  // top margin) the site, the page of nine and the date, across the usable width.
  const std::vector<CanvasCall> texts = canvas.Drawings(CanvasCall::Kind::kText);
  const std::vector<std::pair<PixelPoint, std::string>> expected = {
      {{210, 258}, "  No. "},    {{225, 294}, "*7 "},  {{330, 258}, "備　考"},
      {{295, 294}, "remark 7"},  {{200, 450}, "桜台"}, {{475, 450}, "9 / 9"},
      {{700, 450}, "2026/12/07"}};
  ASSERT_EQ(texts.size(), expected.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(texts[i].points, std::vector<PixelPoint>{expected[i].first}) << i;
    EXPECT_EQ(Cp932ToUtf8(texts[i].text), expected[i].second) << i;
    EXPECT_EQ(texts[i].state.font.face, kPrintFontFace);
    EXPECT_EQ(texts[i].state.font.height, 24.0);
    EXPECT_EQ(texts[i].state.textColour, 0u);
    EXPECT_FALSE(texts[i].state.opaqueText);
  }
  // Every rule once, in order, in black with its own pen width; the pen changes only
  // when the width does: thin slots, thick number column borders, thin slots of column
  // 7, its thick frame and right border.
  const std::vector<CanvasCall> lines = canvas.Drawings(CanvasCall::Kind::kPolyline);
  ASSERT_EQ(lines.size(), p.Rules.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].points, (std::vector<PixelPoint>{p.Rules[i].From, p.Rules[i].To})) << i;
    EXPECT_EQ(lines[i].state.pen.width, p.Rules[i].PenWidth) << i;
    EXPECT_EQ(lines[i].state.pen.colour, 0u);
  }
  EXPECT_EQ(lines.front().points, (std::vector<PixelPoint>{{200, 250}, {280, 250}}));
  size_t pens = 0;
  for (const CanvasCall& c : canvas.calls)
    pens += c.kind == CanvasCall::Kind::kSetPen;
  EXPECT_EQ(pens, 4u);
  EXPECT_EQ(Cp932ToUtf8(layout.Pages.front().Footer.at(1).Text), "1 / 9");

  // A six-digit row number widens the number column on paper to hold it with its padding.
  grid.Rows[7][0] = "*123456 ";
  const PrintLayout wide = LayoutCoordinateList(grid, screen, {1000, 600, 254, 254}, metrics);
  EXPECT_EQ(wide.ColumnWidths[0], 80 + 2 * wide.Padding);
  EXPECT_EQ(wide.Pages.back().Cells.at(1).TextAt.x, 200 + wide.Padding);
}

}  // namespace
}  // namespace kestrova
