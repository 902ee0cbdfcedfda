#include "coords/cell_grid.h"

#include <gtest/gtest.h>

#include "common/sjis.h"

namespace kestrova {
namespace {

struct GridFixture : ::testing::Test {
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
    FillGridFromPoints(table, grid);
  }
  PointTable table;
  SimaData sima;
  CellGrid grid;
};

TEST_F(GridFixture, FillWritesTheColumns) {
  EXPECT_EQ(grid.RowCount(), 12);
  EXPECT_EQ(grid.Rows[1][0], "*1 ");
  EXPECT_EQ(grid.Rows[1][1], "101  ");
  EXPECT_EQ(grid.Rows[1][3], "  1.500 ");
  EXPECT_EQ(grid.Rows[1][4], "1234.568 ");
  EXPECT_EQ(grid.Rows[1][5], " -0.001 ");
  EXPECT_EQ(grid.Rows[11][0], "");  // the empty row for typing
}

TEST_F(GridFixture, ReadBackRules) {
  // What the user did not touch comes back as the point had it, not as the grid shows it.
  table.Points[3].Name = "  P3";
  table.Points[3].Z = 9.9995;
  FillGridFromPoints(table, grid);
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
  // Rows from the empty X cell on keep their values, stay counted and are not re-marked.
  EXPECT_EQ(table.PointCount, 10);
  EXPECT_EQ(table.Points[7].X, 7.5);
  EXPECT_EQ(table.Points[8].Marked, 0);
  EXPECT_EQ(FindPointIndex(table, 0), 2);
}

TEST_F(GridFixture, TypedRowBecomesAPoint) {
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

TEST_F(GridFixture, MarkingDragTogglesEachCellOnce) {
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

TEST_F(GridFixture, EnterAddsARowOnlyOnTheLastRow) {
  grid.CurrentRow = 5;
  EXPECT_FALSE(GridEnterKey(grid));
  grid.CurrentRow = 11;
  EXPECT_TRUE(GridEnterKey(grid));
  EXPECT_EQ(grid.RowCount(), 13);
  EXPECT_EQ(grid.Rows[12][0], "12");
}

TEST_F(GridFixture, ClearResetsTableGridAndParcels) {
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

}  // namespace
}  // namespace kestrova
