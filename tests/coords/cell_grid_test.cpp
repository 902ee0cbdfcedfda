#include "coords/cell_grid.h"

#include <gtest/gtest.h>

#include "common/sjis.h"

namespace kestrova {
namespace {

// Every case runs on a grid filled with the points' texts and on one linked to the table.
struct GridFixture : ::testing::TestWithParam<bool> {
  void Fill() {
    if (GetParam()) {
      LinkGridToPoints(table, grid);
    } else {
      FillGridFromPoints(table, grid);
    }
  }

  void SetUp() override {
    ClearPointTable(table, sima, grid);
    for (int i = 1; i <= 10; ++i) {
      SurveyPoint& p = AppendPoint(table);
      p.Number = 100 + i;
      p.Name = "P" + std::to_string(i);
      p.X = i + 0.5;
      p.Y = 1234.5678;
      p.Z = -0.0005;
      p.Marked = 1;
    }
    Fill();
  }
  PointTable table;
  SimaData sima;
  CellGrid grid;
};

TEST_P(GridFixture, FillWritesTheColumns) {
  EXPECT_EQ(grid.RowCount(), 12);
  EXPECT_EQ(grid.Rows[1][0], "*1 ");
  EXPECT_EQ(grid.Rows[1][1], "101  ");
  EXPECT_EQ(grid.Rows[1][3], "  1.500 ");
  EXPECT_EQ(grid.Rows[1][4], "1234.568 ");
  EXPECT_EQ(grid.Rows[1][5], " -0.001 ");
  EXPECT_EQ(grid.Rows[11][0], "");  // the empty row for typing
}

TEST_P(GridFixture, ReadBackRules) {
  // What the user did not touch comes back as the point had it, not as the grid shows it.
  table.Points[3].Name = "  P3";
  table.Points[3].Z = 9.9995;
  Fill();
  GridMousePress(grid, table, 0, 3);  // unmarked in the number column
  GridMouseRelease(grid, table);
  grid.Rows[3][4] = "7.25";               // typed over: parsed
  grid.Rows[2][1] = "abc";                // letters: number 0
  grid.Rows[4][1] = "";                   // empty number: the row index
  grid.Rows[4][2] = "";                   // empty name: the row index
  grid.Rows[5][2] = "  spaced \x81\x40";  // blanks trimmed, ideographic space kept
  grid.Rows[5][6] = "  12345678901234567890";
  grid.Rows[6][3] = "   ";  // only spaces: not empty, X = 0
  grid.Rows[7][3] = "";     // ends the read-back
  table.Points[8].Marked = 0;
  // The grid shows which typed cells will be saved as 0.
  EXPECT_FALSE(CellReadsBack(grid, 2, 1));
  EXPECT_FALSE(CellReadsBack(grid, 6, 3));
  EXPECT_TRUE(CellReadsBack(grid, 3, 4));
  EXPECT_TRUE(CellReadsBack(grid, 4, 1));  // empty: the row index
  EXPECT_TRUE(CellReadsBack(grid, 5, 6));  // a mark is text
  EXPECT_TRUE(CellReadsBack(grid, 7, 3));
  SyncGridToPoints(grid, table);
  EXPECT_EQ(table.Points[1].Number, 101);
  EXPECT_EQ(table.Points[1].X, 1.5);
  EXPECT_EQ(table.Points[1].Y, 1234.5678);  // shown as 1234.568
  EXPECT_EQ(table.Points[1].Z, -0.0005);
  EXPECT_EQ(table.Points[3].Name, "  P3");
  EXPECT_EQ(table.Points[3].Z, 9.9995);
  EXPECT_EQ(table.Points[3].Y, 7.25);
  EXPECT_EQ(table.Points[3].Marked, 0);
  EXPECT_EQ(grid.Rows[3][0], "3 ");
  EXPECT_EQ(table.Points[2].Number, 0);
  EXPECT_EQ(table.Points[4].Number, 4);
  EXPECT_EQ(table.Points[4].Name, "4");
  EXPECT_EQ(table.Points[5].Name, "spaced \x81\x40");
  EXPECT_EQ(table.Points[5].Mark, "123456789012345");
  EXPECT_EQ(table.Points[6].X, 0.0);
  // Rows from the empty X cell on keep their values, stay counted and are not re-marked;
  // the row is named for the user.
  EXPECT_EQ(table.PointCount, 10);
  EXPECT_EQ(table.Points[7].X, 7.5);
  EXPECT_EQ(table.Points[8].Marked, 0);
  EXPECT_EQ(FindPointIndex(table, 0), 2);
  EXPECT_EQ(UnreadGridRow(grid, table), 7);
}

TEST_P(GridFixture, RowsTheReadBackLeavesAreNamed) {
  EXPECT_EQ(UnreadGridRow(grid, table), 0);  // the empty row for typing is no loss
  grid.Rows[11][2] = "named";                // a name without X is not read
  EXPECT_EQ(UnreadGridRow(grid, table), 11);
  grid.Rows[11][2] = "";
  grid.Rows.resize(13);
  grid.Rows[12][3] = "5";  // a point typed below the empty row
  EXPECT_EQ(UnreadGridRow(grid, table), 11);
  grid.Rows[11][3] = "4";
  EXPECT_EQ(SyncGridToPoints(grid, table), 2);
  EXPECT_EQ(UnreadGridRow(grid, table), 0);
}

TEST_P(GridFixture, TypedRowBecomesAPoint) {
  CellGrid cleared;
  PointTable none;
  SimaData noParcels;
  ClearPointTable(none, noParcels, cleared);
  EXPECT_FALSE(GridHoldsText(cleared));
  grid.Rows[11][3] = "5";
  EXPECT_TRUE(GridHoldsText(grid));
  EXPECT_EQ(SyncGridToPoints(grid, table), 1);
  ASSERT_EQ(table.PointCount, 11);
  EXPECT_EQ(table.Points[11].Number, 11);
  EXPECT_EQ(table.Points[11].Name, "11");
  EXPECT_EQ(table.Points[11].Y, 0.0);
  EXPECT_EQ(table.Points[11].Marked, 1);
  EXPECT_EQ(grid.Rows[11][0], "*11 ");
}

TEST_P(GridFixture, MarkingDragTogglesEachCellOnce) {
  GridMousePress(grid, table, 0, 3);
  GridMouseMove(grid, table, 0, 3);  // same cell: nothing
  GridMouseMove(grid, table, 0, 4);
  GridMouseMove(grid, table, 0, 5);
  GridMouseMove(grid, table, 0, 6);
  GridMouseMove(grid, table, 0, 5);  // back over 5: toggled again
  GridMouseRelease(grid, table);
  GridMouseMove(grid, table, 0, 7);  // after release: nothing
  const int expected[] = {1, 1, 0, 0, 1, 0, 1, 1, 1, 1};
  for (int r = 1; r <= 10; ++r)
    EXPECT_EQ(table.Points[r].Marked, expected[r - 1]) << r;
  EXPECT_EQ(grid.Rows[3][0], "3 ");
  EXPECT_EQ(grid.Rows[5][0], "*5 ");
  // The header cell, a data column and the empty row change nothing.
  GridMousePress(grid, table, 0, 0);
  GridMousePress(grid, table, 2, 1);
  GridMousePress(grid, table, 0, 11);
  EXPECT_EQ(grid.Rows[0][0], "  No. ");
  EXPECT_EQ(table.Points[1].Marked, 1);
}

TEST_P(GridFixture, EnterAddsARowOnlyOnTheLastRow) {
  grid.CurrentRow = 5;
  EXPECT_FALSE(GridEnterKey(grid));
  grid.CurrentRow = 11;
  EXPECT_TRUE(GridEnterKey(grid));
  EXPECT_EQ(grid.RowCount(), 13);
  EXPECT_EQ(grid.Rows[12][0], "12");
}

TEST_P(GridFixture, ClearResetsTableGridAndParcels) {
  sima.SimaLines.push_back({});
  ClearPointTable(table, sima, grid);
  EXPECT_EQ(table.PointCount, 0);
  EXPECT_EQ(table.Points.size(), 1u);
  EXPECT_TRUE(sima.SimaLines.empty());
  EXPECT_EQ(grid.RowCount(), 11);
  EXPECT_EQ(grid.Rows[10][0], "10");
  EXPECT_EQ(grid.PickedRow, -1);
  FillGridFromPoints(table, grid);  // nothing to fill: unchanged
  EXPECT_EQ(grid.RowCount(), 11);
}

INSTANTIATE_TEST_SUITE_P(FilledAndLinked, GridFixture, ::testing::Bool());

TEST(LinkedGrid, ShowsTheTableWithoutHoldingItsRows) {
  PointTable table;
  SimaData sima;
  CellGrid filled;
  ClearPointTable(table, sima, filled);
  for (int i = 1; i <= 300; ++i) {
    SurveyPoint& p = AppendPoint(table);
    p.Number = i * 3;
    p.Name = "N" + std::to_string(i);
    p.X = -i * 1.25;
    p.Marked = i % 2 == 0 ? 0 : 1;
  }
  FillGridFromPoints(table, filled);
  CellGrid linked;
  PointTable none;
  SimaData noParcels;
  ClearPointTable(none, noParcels, linked);
  LinkGridToPoints(table, linked);
  const CellGrid& shown = linked;
  ASSERT_EQ(shown.RowCount(), 302);
  // Read far more rows than the grid keeps made at once, forwards and backwards.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < shown.RowCount(); ++k) {
      const int r = pass == 0 ? k : shown.RowCount() - 1 - k;
      for (int c = 0; c < CellGrid::kColumns; ++c)
        EXPECT_EQ(shown.Rows[r][c], filled.Rows[r][c]) << r << "," << c;
    }
  }
  for (int r = 1; r <= 300; ++r)
    EXPECT_TRUE(shown.Rows.Linked(r)) << r;
  EXPECT_TRUE(linked.Rows == static_cast<std::vector<CellGrid::Row>>(filled.Rows));

  // Writing a cell holds that row only; the others still follow the table.
  linked.Rows[7][2] = "typed";
  EXPECT_FALSE(shown.Rows.Linked(7));
  EXPECT_TRUE(shown.Rows.Linked(8));
  EXPECT_EQ(shown.Rows[7][2], "typed");
  EXPECT_EQ(shown.Rows[7][3], filled.Rows[7][3]);
  // A copy shows the same; a table cut short behind the grid's back shows empty rows.
  const CellGrid copy = linked;
  EXPECT_EQ(copy.Rows[7][2], "typed");
  EXPECT_EQ(copy.Rows[200][2], "N200");
  table.Points.resize(101);
  table.PointCount = 100;
  EXPECT_EQ(shown.Rows[200][2], "");
  EXPECT_EQ(shown.Rows[100][2], "N100");
  EXPECT_EQ(SyncGridToPoints(linked, table), 0);
}

}  // namespace
}  // namespace kestrova
