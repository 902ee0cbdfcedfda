#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "coords/point_text.h"

namespace kestrova {

// Field limits in bytes; longer text is cut at a character boundary.
inline constexpr size_t kNameLimit = 255;
inline constexpr size_t kMarkLimit = 15;
inline constexpr size_t kRemarksLimit = 255;

// 56 bytes: Marked sits in the gap before the coordinates.
struct SurveyPoint {
  int32_t Number = 0;
  PointText Name;       // code page 932
  uint16_t Marked = 0;  // 1 = marked; only marked points go into a drawing
  double X = 0.0;
  double Y = 0.0;
  double Z = 0.0;
  PointText Mark;
  PointText Remarks;
};
static_assert(sizeof(SurveyPoint) == 56);

// Point number -> first row holding it: open addressing with linear probing, two 32-bit
// values a slot and no node per point, so a million points index in 10 MB.
class PointNumberIndex {
 public:
  // Room for count numbers in all. Grows at least twofold, so indexing file after file
  // stays linear in the total.
  void Reserve(size_t count);
  // Adds number at row (>= 1) unless the number is there already: the first row wins.
  // Returns the row the number had before, or 0 when it is new.
  int32_t Insert(int32_t number, int32_t row);
  // The row, or 0 when no row holds number.
  int32_t Find(int32_t number) const;
  // Empties the index and gives its memory back.
  void Release();
  size_t size() const { return count_; }

 private:
  struct Slot {
    int32_t number = 0;
    int32_t row = 0;  // 0: empty
  };
  size_t Home(int32_t number) const;
  void Rehash(size_t slots);

  std::vector<Slot> slots_;
  size_t count_ = 0;
};

// The point array, indexed 1..PointCount; element 0 exists and never holds a point,
// so point r is element r and grid row r.
struct PointTable {
  std::vector<SurveyPoint> Points = std::vector<SurveyPoint>(1);
  int32_t PointCount = 0;
  // The projected system (EPSG code) the points read from GIS files stand in, so that a
  // layer in another system is not laid beside them; 0 when none was read, or its
  // system is not known.
  int32_t GisSystem = 0;

  // Point number -> first row holding it, for rows 1..indexedRows. Rows are only ever
  // appended while files load, so the index is extended lazily; anything that changes
  // the numbers of existing rows calls InvalidatePointIndex.
  mutable PointNumberIndex numberIndex;
  mutable int32_t indexedRows = 0;
};

// Appends a new empty row and returns it (its index is the new PointCount).
SurveyPoint& AppendPoint(PointTable& table);

// Empties the table back to element 0 only.
void ClearPoints(PointTable& table);

// The first row 1..PointCount whose Number equals number, or nullopt.
std::optional<int32_t> FindPointIndex(const PointTable& table, int32_t number);

// Drops the index (and its memory); the next FindPointIndex builds it again.
void InvalidatePointIndex(PointTable& table);

// One segment of a parcel boundary, triangle or polyline, in stored X/Y.
struct SimaLine {
  double StartX = 0.0;
  double StartY = 0.0;
  double EndX = 0.0;
  double EndY = 0.0;
  uint16_t PenStyle = 1;
  uint16_t PenColor = 2;
};

// A parcel-name label at the parcel's area centroid.
struct SimaText {
  double X = 0.0;
  double Y = 0.0;
  std::string Text;
  uint16_t TextKind = 3;
  double Angle = 0.0;
};

// A point as a parcel, triangle or polyline record names it.
struct SimaPointRef {
  int32_t Number = 0;
  PointText Name;
};

// The points a block's records name, in file order: a boundary or polyline point
// ("B01") is one entry, a triangle ("E01") three in a row, the first of kind kTriangle
// and the two after it kCorner. Nearly every record is a "B01"; one entry each, rather
// than room for three, keeps a site's parcels small.
struct SimaBlockRecord {
  enum Kind : uint8_t { kPoint, kTriangle, kCorner };
  Kind RecordKind = kPoint;
  SimaPointRef Point;
  // The row of the point it named when read (the first of its number among the rows
  // read before it), 0 when none: the record stays with that point when the point is
  // edited, renumbered included.
  int32_t Row = 0;
};

// A parcel ("D00" .. "D99") or polyline ("F00" .. "F99") as the file held it, kept so
// that a SIMA save writes back every record that was read.
struct SimaBlock {
  bool Polyline = false;
  PointText Number;     // field 2 of the opening record, as written
  std::string Name;     // field 3: the parcel name
  int32_t Closing = 0;  // parcels: 1 closes the boundary
  std::vector<SimaBlockRecord> Records;
  // Rows read before its opening record: its records name only those (and the rows
  // read inside it), so a save keeps the points after it after it.
  int32_t RowsBefore = 0;
  // Drawn into SimaLines and SimaTexts (read from a SIMA file); a GIS layer's parcels
  // are kept for saves and exports only.
  bool Drawn = false;
};

// A "Z00" record beyond the two titles, kept where it stood for a SIMA save.
struct SimaNote {
  std::string Text;         // field 2
  int32_t RowsBefore = 0;   // rows read before it
  size_t BlocksBefore = 0;  // parcels and polylines read before it (or in it)
  bool InBlock = false;     // read inside the last of them
};

// What SIMA and APA files bring besides the points.
struct SimaData {
  std::vector<SimaLine> SimaLines;
  std::vector<SimaText> SimaTexts;
  std::vector<SimaBlock> SimaBlocks;  // in file order, appended files after earlier ones
  std::string SiteName;
  std::array<std::string, 2> SimaTitles;
  std::vector<SimaNote> SimaNotes;  // in file order
  bool SimaLoaded = false;          // the last load was SIMA: survey axes are forced
};

struct DataBounds {
  double MaxX = 0.0;
  double MaxY = 0.0;
  double MinX = 0.0;
  double MinY = 0.0;
  double ExtentX = 0.0;
  double ExtentY = 0.0;
  double AspectRatio = 0.0;
  double CentreX = 0.0;
  double CentreY = 0.0;
};

// Recomputes the bounds over all rows, marked or not. With no point only the four
// extremes are reset. With all points on one X line AspectRatio is 0 rather than an
// infinity that would upset the plot.
void ComputeDataBounds(const PointTable& table, DataBounds& bounds);

// The same a point at a time: start, add every point, finish (when there was one).
void StartDataBounds(DataBounds& bounds);
inline void AddToDataBounds(DataBounds& b, double x, double y) {
  if (x > b.MaxX) b.MaxX = x;
  if (y > b.MaxY) b.MaxY = y;
  if (x < b.MinX) b.MinX = x;
  if (y < b.MinY) b.MinY = y;
}
void FinishDataBounds(DataBounds& bounds);

// Everything a coordinate load fills.
struct CoordinateData {
  PointTable Table;
  SimaData Sima;
};

}  // namespace kestrova
