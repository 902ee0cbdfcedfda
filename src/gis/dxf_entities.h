#pragma once

// The entities of a DXF export as the Jw_cad drawing has them. GDAL's DXF writer makes
// the file around them (header, layer, line type and text style tables), but it has no
// circle, knows colours only as the nearest of AutoCAD's palette and escapes texts in
// ways some readers do not take back; the entity section is therefore written here.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::dxf {

struct Entity {
  enum class Kind { kPoint, kCircle, kText, kLine };
  Kind kind = Kind::kPoint;
  std::string layer;
  uint16_t pen = 0;           // Jw_cad pen colour: 1..9, SXF colours 100..356
  uint16_t lineType = 1;      // Jw_cad line type: 1 solid, 2..9 the drawing's patterns
  double x = 0.0, y = 0.0;    // point, centre, text base point, line start, on the drawing's axes
  double x2 = 0.0, y2 = 0.0;  // line end
  double radius = 0.0;
  double height = 0.0;       // text height in ground units
  int32_t basePosition = 1;  // 1..9: left, centre, right of the bottom, middle, top line
  std::string text;          // UTF-8
};

// The colour a pen has in the drawing (0xRRGGBB), none for a pen the drawing has no
// colour for.
std::optional<uint32_t> PenRgb(uint16_t pen);
// The nearest of AutoCAD's colours 1..9 (7 is black or white, by the background).
int NearestAci(uint32_t rgb);

// The DXF name of a Jw_cad line type ("JW_LINETYPE_5"), empty for a solid line.
std::string LineTypeName(uint16_t lineType);
// Its dashes and gaps (gaps negative) in ground units, a pattern bit being half a paper
// millimetre: groundPerPaperMm = scale / k.
std::vector<double> LineTypeDashes(uint16_t lineType, double groundPerPaperMm);

// A text as MTEXT holds it: every character beyond ASCII as \U+XXXX (upper-case hex),
// and backslash, braces, caret ("^ "), "%%" ("%{}%") and the blanks at either end
// escaped so that a reader takes back exactly the text given.
std::string EscapeText(std::string_view utf8);

// What the file around the entities needs to know of them before they are written:
// how many there are and where they lie.
struct EntitySummary {
  size_t count = 0;
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  void Add(const Entity& e);
};

// Bytes made a piece at a time at the end of memory grown as needed, not cleared first.
class TextBuffer {
 public:
  // Where at least n more bytes can be written; Took then says where they end.
  char* Room(size_t n);
  void Took(const char* end);
  std::string_view View() const { return {bytes_.get(), size_}; }
  void Clear() { size_ = 0; }

 private:
  std::unique_ptr<char[]> bytes_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// GDAL's DXF with its entity section made ours: Head() is the file up to the first
// entity, Append() writes an entity, Tail() the rest of the file. The header gets the
// extents of the entities (a text's base point standing for the text), the drawing
// unit (metres, or millimetres when millimetres is true) and metric measurement; its
// handle seed is moved on past the entities' handles, which start at FirstHandle().
// textStyle names the text style of the texts. Throws kestrova::Error when the DXF has
// no header, entity section or handle seed.
class EntitySection {
 public:
  EntitySection(std::string_view gdalDxf, const EntitySummary& entities, std::string textStyle,
                bool millimetres);
  const std::string& Head() const { return head_; }
  uint32_t FirstHandle() const { return firstHandle_; }
  // Appends e to out with the handle given, and moves the handle on.
  void Append(TextBuffer& out, const Entity& e, uint32_t& handle) const;
  const std::string& Tail() const { return tail_; }
  size_t Count() const { return count_; }

 private:
  std::string head_, tail_, textStyle_;
  uint32_t firstHandle_ = 0;
  size_t count_ = 0;
};

// The text style the first text of GDAL's entity section uses, empty when there is none.
std::string FirstTextStyle(std::string_view dxf);

}  // namespace kestrova::dxf
