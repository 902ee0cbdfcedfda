#include "coords/point_table.h"

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
  InvalidatePointIndex(table);
}

void InvalidatePointIndex(PointTable& table) {
  std::unordered_map<int32_t, int32_t>().swap(table.numberIndex);  // gives the memory back
  table.indexedRows = 0;
}

std::optional<int32_t> FindPointIndex(const PointTable& table, int32_t number) {
  if (table.indexedRows > table.PointCount) {
    // The table shrank (a rolled-back load): start over.
    table.numberIndex.clear();
    table.indexedRows = 0;
  }
  if (table.indexedRows < table.PointCount) {
    if (table.numberIndex.empty()) table.numberIndex.reserve(table.PointCount);
    for (int32_t r = table.indexedRows + 1; r <= table.PointCount; ++r) {
      table.numberIndex.try_emplace(table.Points[r].Number, r);  // keeps the first row
    }
    table.indexedRows = table.PointCount;
  }
  auto it = table.numberIndex.find(number);
  if (it == table.numberIndex.end()) return std::nullopt;
  return it->second;
}

void ComputeDataBounds(const PointTable& table, DataBounds& b) {
  b.MaxX = -9999999999.0;
  b.MaxY = -9999999999.0;
  b.MinX = 9999999999.0;
  b.MinY = 9999999999.0;
  if (table.PointCount < 1) return;
  for (int32_t r = 1; r <= table.PointCount; ++r) {
    const SurveyPoint& p = table.Points[r];
    if (p.X > b.MaxX) b.MaxX = p.X;
    if (p.Y > b.MaxY) b.MaxY = p.Y;
    if (p.X < b.MinX) b.MinX = p.X;
    if (p.Y < b.MinY) b.MinY = p.Y;
  }
  b.ExtentX = std::fabs(b.MaxX - b.MinX);
  b.ExtentY = std::fabs(b.MaxY - b.MinY);
  b.AspectRatio = b.ExtentX != 0.0 ? b.ExtentY / b.ExtentX : 0.0;
  b.CentreX = (b.MinX + b.MaxX) / 2;
  b.CentreY = (b.MinY + b.MaxY) / 2;
}

}  // namespace kestrova
