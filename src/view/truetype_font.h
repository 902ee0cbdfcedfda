#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The parts of a TrueType face that embedding it in a PDF needs: its metrics, the
// advance of each glyph and a subset holding only the glyphs drawn. The tables come from
// whatever found the face (a font file, the window system's font).
class TrueTypeFont {
 public:
  // Returns a table's bytes by its four-letter tag, empty when the face has none.
  using TableSource = std::function<std::string(std::string_view tag)>;
  // Throws kestrova::Error when a table needed is missing or malformed.
  explicit TrueTypeFont(const TableSource& tables);

  // Whether the face's licence lets a document carry a subset of it (OS/2 fsType): not
  // for faces marked restricted, not to be subset or bitmap only.
  bool Embeddable() const { return embeddable_; }

  // The face's PostScript name as the face gives it, empty when it has none.
  const std::string& PostScriptName() const { return postScriptName_; }
  int UnitsPerEm() const { return unitsPerEm_; }
  int GlyphCount() const { return glyphCount_; }
  int Ascender() const { return ascender_; }    // hhea, font units
  int Descender() const { return descender_; }  // hhea, font units, negative below
  int CapHeight() const { return capHeight_; }
  // xMin, yMin, xMax, yMax of every glyph, font units.
  const int16_t* BoundingBox() const { return box_; }
  // The advance width of a glyph in font units (0 past the last glyph).
  int Advance(uint16_t glyph) const;

  // A font file of the face holding only the glyphs given, glyphs[i] becoming glyph i
  // (glyphs[0] must be 0, the missing-glyph box), then the glyphs their composite glyphs
  // are made of, renumbered to follow them.
  std::string Subset(const std::vector<uint16_t>& glyphs) const;

 private:
  int LeftSideBearing(uint16_t glyph) const;
  std::string_view GlyphData(uint16_t glyph) const;

  std::string head_, hhea_, maxp_, hmtx_, loca_, glyf_;
  std::string postScriptName_;
  bool embeddable_ = true;
  bool longOffsets_ = false;
  int unitsPerEm_ = 0;
  int glyphCount_ = 0;
  int metricCount_ = 0;
  int ascender_ = 0;
  int descender_ = 0;
  int capHeight_ = 0;
  int16_t box_[4] = {};
};

}  // namespace kestrova
