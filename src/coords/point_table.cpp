#include "coords/point_table.h"

#include <algorithm>
#include <cmath>

namespace kestrova {

SurveyPoint& AppendPoint(PointTable& table) {
  table.Points.emplace_back();
  ++table.PointCount;
  return table.Points.back();
}

void ClearPoints(PointTable& table) {
  table.Points.clear();
  table.Points.resize(1);
  table.PointCount = 0;
  table.GisSystem = 0;
  InvalidatePointIndex(table);
}

// Below this share of slots in use, linear probing stays a probe or two on average.
constexpr size_t kMaxLoadPercent = 80;

size_t PointNumberIndex::Home(int32_t number) const {
  // Fibonacci hashing: neighbouring numbers (the usual case) land far apart, and the
  // high bits of the product scale to the slot count without a power of two.
  const uint64_t mixed = static_cast<uint64_t>(static_cast<uint32_t>(number)) * 0x9E3779B97F4A7C15u;
  return static_cast<size_t>(((mixed >> 32) * slots_.size()) >> 32);
}

void PointNumberIndex::Rehash(size_t slots) {
  std::vector<Slot> old(slots, Slot{});
  old.swap(slots_);
  count_ = 0;
  for (const Slot& s : old) {
    if (s.row != 0) Insert(s.number, s.row);
  }
}

void PointNumberIndex::Reserve(size_t count) {
  if (count * 100 <= slots_.size() * kMaxLoadPercent) return;
  Rehash(std::max({count * 100 / kMaxLoadPercent + 1, slots_.size() * 2, size_t{16}}));
}

int32_t PointNumberIndex::Insert(int32_t number, int32_t row) {
  Reserve(count_ + 1);
  size_t i = Home(number);
  for (;;) {
    Slot& s = slots_[i];
    if (s.row == 0) {
      s = Slot{number, row};
      ++count_;
      return 0;
    }
    if (s.number == number) return s.row;
    if (++i == slots_.size()) i = 0;
  }
}

int32_t PointNumberIndex::Find(int32_t number) const {
  if (slots_.empty()) return 0;
  size_t i = Home(number);
  for (;;) {
    const Slot& s = slots_[i];
    if (s.row == 0) return 0;
    if (s.number == number) return s.row;
    if (++i == slots_.size()) i = 0;
  }
}

void PointNumberIndex::Release() {
  std::vector<Slot>().swap(slots_);
  count_ = 0;
}

void InvalidatePointIndex(PointTable& table) {
  table.numberIndex.Release();
  table.indexedRows = 0;
}

std::optional<int32_t> FindPointIndex(const PointTable& table, int32_t number) {
  if (table.indexedRows > table.PointCount) {
    // The table shrank (a rolled-back load): start over.
    table.numberIndex.Release();
    table.indexedRows = 0;
  }
  if (table.indexedRows < table.PointCount) {
    table.numberIndex.Reserve(static_cast<size_t>(table.PointCount));
    for (int32_t r = table.indexedRows + 1; r <= table.PointCount; ++r)
      table.numberIndex.Insert(table.Points[r].Number, r);
    table.indexedRows = table.PointCount;
  }
  const int32_t row = table.numberIndex.Find(number);
  if (row == 0) return std::nullopt;
  return row;
}

// The bounds start beyond every coordinate: a start at ±9999999999 would keep that
// value as the minimum of points all beyond it, and centre plot and drawing off them.
void StartDataBounds(DataBounds& b) {
  b.MaxX = -HUGE_VAL;
  b.MaxY = -HUGE_VAL;
  b.MinX = HUGE_VAL;
  b.MinY = HUGE_VAL;
}

void FinishDataBounds(DataBounds& b) {
  b.ExtentX = std::fabs(b.MaxX - b.MinX);
  b.ExtentY = std::fabs(b.MaxY - b.MinY);
  b.AspectRatio = b.ExtentX != 0.0 ? b.ExtentY / b.ExtentX : 0.0;
  b.CentreX = (b.MinX + b.MaxX) / 2;
  b.CentreY = (b.MinY + b.MaxY) / 2;
}

void ComputeDataBounds(const PointTable& table, DataBounds& b) {
  StartDataBounds(b);
  if (table.PointCount < 1) {  // no point: the customary empty bounds
    b.MaxX = b.MaxY = -9999999999.0;
    b.MinX = b.MinY = 9999999999.0;
    return;
  }
  for (int32_t r = 1; r <= table.PointCount; ++r)
    AddToDataBounds(b, table.Points[r].X, table.Points[r].Y);
  FinishDataBounds(b);
}

}  // namespace kestrova
