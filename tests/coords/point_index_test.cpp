#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

#include "coords/point_table.h"

namespace kestrova {
namespace {

// The first row 1..PointCount holding number, the plain way.
std::optional<int32_t> Scan(const PointTable& t, int32_t number) {
  for (int32_t r = 1; r <= t.PointCount; ++r) {
    if (t.Points[r].Number == number) return r;
  }
  return std::nullopt;
}

void Append(PointTable& t, int32_t number) {
  AppendPoint(t).Number = number;
}

TEST(PointNumberIndex, AgreesWithAScanWhileRowsAreAppendedAndRemoved) {
  PointTable t;
  EXPECT_EQ(FindPointIndex(t, 0), std::nullopt);  // empty table
  // Numbers that collide in a naive hash (multiples of large powers of two), the
  // extremes, 0 (empty in many tables), negatives and repeats.
  const std::vector<int32_t> odd = {0, INT_MIN, INT_MAX, -1, 1 << 20, 2 << 20, 3 << 20, -(1 << 30)};
  for (int32_t n : odd)
    Append(t, n);
  for (int32_t i = 0; i < 5000; ++i)
    Append(t, (i * 7919) % 3000 - 1000);  // every number in [-1000, 2000) about 1.7 times
  Append(t, INT_MIN);                     // a repeat of a number the index already has
  const auto checkAll = [&t] {
    for (int32_t n : {0, INT_MIN, INT_MAX, -1, 1 << 20, 3 << 20, -(1 << 30), 5 << 20, 2001})
      ASSERT_EQ(FindPointIndex(t, n), Scan(t, n)) << n;
    for (int32_t n = -1100; n < 2100; ++n)
      ASSERT_EQ(FindPointIndex(t, n), Scan(t, n)) << n;
  };
  checkAll();
  EXPECT_EQ(FindPointIndex(t, INT_MIN), 2);

  // Rows appended after the index was built are found on the next look-up, and a
  // number they repeat still names the earlier row.
  for (int32_t i = 0; i < 300; ++i)
    Append(t, 5000 + i % 100);
  Append(t, 7);
  EXPECT_EQ(FindPointIndex(t, 5099), 8 + 5000 + 1 + 100);
  checkAll();

  // A rolled-back load shrinks the table; numbers only the lost rows held are gone, and
  // rows appended in their place are found.
  t.Points.resize(9);
  t.PointCount = 8;
  EXPECT_EQ(FindPointIndex(t, 5000), std::nullopt);
  EXPECT_EQ(FindPointIndex(t, 2 << 20), 6);
  Append(t, 5000);
  EXPECT_EQ(FindPointIndex(t, 5000), 9);
  checkAll();

  InvalidatePointIndex(t);
  t.Points[1].Number = 42;  // changed numbers are seen after an invalidation
  EXPECT_EQ(FindPointIndex(t, 42), 1);
  EXPECT_EQ(FindPointIndex(t, 0), std::nullopt);
}

}  // namespace
}  // namespace kestrova
