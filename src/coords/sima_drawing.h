#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/sjis.h"
#include "coords/coordinate_file.h"
#include "coords/point_table.h"

namespace kestrova {

// The block's opening record as its file has it, in UTF-8, for a message to name it:
// "D00,2,LOT2" or "F00,3,fence".
inline std::string OpeningRecord(const SimaBlock& block) {
  return std::string(block.Polyline ? "F00," : "D00,") + Cp932ToUtf8(block.Number.view()) + "," +
         Cp932ToUtf8(block.Name);
}

// The segments and label of one parcel or polyline. pointOf(i) is record i's point (an
// object with X and Y), or null when no row read before the record has its number: that
// ends the drawing of the block, while its records are kept all the same; a triangle
// with an unknown corner is left out whole, and counted in trianglesLeftOut.
// addLine(from, to, style, color) and addLabel(SimaText) take what is drawn, in drawing
// order. Returns false when the block ended at an unknown point.
template <class PointOf, class AddLine, class AddLabel>
bool DrawSimaBlock(const SimaBlock& block, const PointOf& pointOf, const AddLine& addLine,
                   const AddLabel& addLabel, std::vector<std::pair<double, double>>& vertices,
                   size_t& trianglesLeftOut) {
  const bool polyline = block.Polyline;
  const uint16_t color = polyline ? 3 : 2;
  const bool labelled = !polyline && !block.Name.empty();
  int k = 0;
  decltype(pointOf(size_t{0})) first = nullptr;
  decltype(pointOf(size_t{0})) previous = nullptr;
  vertices.clear();
  const auto& records = block.Records;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].RecordKind == SimaBlockRecord::kTriangle) {
      const auto a = pointOf(i);
      const auto b = pointOf(i + 1);
      const auto c = pointOf(i + 2);
      if (a && b && c) {
        addLine(*a, *c, 5, 1);
        addLine(*b, *a, 5, 1);
        addLine(*c, *b, 5, 1);
      } else {
        ++trianglesLeftOut;
      }
      i += 2;
      continue;
    }
    const auto point = pointOf(i);
    if (!point) return false;
    if (k > 0) {
      addLine(*point, *previous, 1, color);
    } else {
      first = point;
    }
    if (labelled) vertices.emplace_back(point->X, point->Y);
    previous = point;
    ++k;
  }
  if (polyline) return true;
  if (block.Closing == 1 && k > 0) addLine(*first, *previous, 1, 2);
  if (labelled && !vertices.empty()) {
    const CentroidResult c = PolygonCentroid(vertices);
    SimaText label{c.X, c.Y, block.Name, 3, 0.0};
    if (c.Area == 0.0) {
      // A parcel of fewer than three distinct corners, or all on one line, has no area
      // centroid; its corners' mean keeps the label at the parcel.
      double sx = 0.0;
      double sy = 0.0;
      for (const auto& [x, y] : vertices) {
        sx += x;
        sy += y;
      }
      label.X = sx / static_cast<double>(vertices.size());
      label.Y = sy / static_cast<double>(vertices.size());
    }
    addLabel(std::move(label));
  }
  return true;
}

}  // namespace kestrova
