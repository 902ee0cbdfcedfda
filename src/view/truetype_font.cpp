#include "view/truetype_font.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>

#include "common/error.h"

namespace kestrova {

namespace {

uint16_t U16(std::string_view s, size_t at) {
  if (at + 2 > s.size()) throw Error("the font's tables are cut short");
  return static_cast<uint16_t>((static_cast<unsigned char>(s[at]) << 8) |
                               static_cast<unsigned char>(s[at + 1]));
}

int16_t I16(std::string_view s, size_t at) {
  return static_cast<int16_t>(U16(s, at));
}

uint32_t U32(std::string_view s, size_t at) {
  return (static_cast<uint32_t>(U16(s, at)) << 16) | U16(s, at + 2);
}

void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v >> 8);
  s += static_cast<char>(v & 0xFF);
}

void Put32(std::string& s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v >> 16));
  Put16(s, static_cast<uint16_t>(v & 0xFFFF));
}

void Set32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

uint32_t CheckSum(std::string_view table) {
  uint32_t sum = 0;
  for (size_t i = 0; i < table.size(); i += 4) {
    uint32_t word = 0;
    for (size_t b = 0; b < 4; ++b) {
      word <<= 8;
      if (i + b < table.size()) word |= static_cast<unsigned char>(table[i + b]);
    }
    sum += word;
  }
  return sum;
}

// A glyph's outline without its hinting instructions, a composite glyph's parts
// renumbered by number(part). The PDF is drawn at any size and the hinting programs stay
// behind, as they do in Qt's own PDFs, so the glyphs look the same in either.
template <typename Number>
std::string WithoutInstructions(std::string_view glyph, const Number& number) {
  if (glyph.empty()) return {};
  std::string out(glyph);
  const int contours = I16(glyph, 0);
  if (contours >= 0) {
    const size_t lengthAt = 10 + 2 * static_cast<size_t>(contours);
    const size_t length = U16(glyph, lengthAt);
    if (lengthAt + 2 + length > glyph.size()) throw Error("the font's glyphs are malformed");
    out.erase(lengthAt, 2 + length);
    out.insert(lengthAt, 2, '\0');
    return out;
  }
  constexpr uint16_t kWords = 0x0001, kScale = 0x0008, kMore = 0x0020, kXYScale = 0x0040,
                     kTwoByTwo = 0x0080, kInstructions = 0x0100;
  size_t at = 10;
  uint16_t flags = 0;
  do {
    flags = U16(out, at);
    const uint16_t part = number(U16(out, at + 2));
    const auto kept = static_cast<uint16_t>(flags & ~kInstructions);
    out[at] = static_cast<char>(kept >> 8);
    out[at + 1] = static_cast<char>(kept & 0xFF);
    out[at + 2] = static_cast<char>(part >> 8);
    out[at + 3] = static_cast<char>(part & 0xFF);
    at += 4 + ((flags & kWords) ? 4 : 2);
    if (flags & kScale) at += 2;
    if (flags & kXYScale) at += 4;
    if (flags & kTwoByTwo) at += 8;
    if (at > out.size()) throw Error("the font's composite glyphs are malformed");
  } while (flags & kMore);
  out.resize(at);
  return out;
}

}  // namespace

TrueTypeFont::TrueTypeFont(const TableSource& tables) {
  head_ = tables("head");
  hhea_ = tables("hhea");
  maxp_ = tables("maxp");
  hmtx_ = tables("hmtx");
  loca_ = tables("loca");
  glyf_ = tables("glyf");
  if (head_.size() < 54 || hhea_.size() < 36 || maxp_.size() < 6 || hmtx_.empty() ||
      loca_.empty() || glyf_.empty()) {
    throw Error("the font has no TrueType outlines to embed");
  }
  unitsPerEm_ = U16(head_, 18);
  for (size_t i = 0; i < 4; ++i)
    box_[i] = I16(head_, 36 + 2 * i);
  longOffsets_ = I16(head_, 50) != 0;
  ascender_ = I16(hhea_, 4);
  descender_ = I16(hhea_, 6);
  metricCount_ = U16(hhea_, 34);
  glyphCount_ = U16(maxp_, 4);
  const size_t locaEntries = loca_.size() / (longOffsets_ ? 4 : 2);
  if (unitsPerEm_ == 0 || metricCount_ == 0 || glyphCount_ == 0 ||
      hmtx_.size() < static_cast<size_t>(metricCount_) * 4 ||
      locaEntries < static_cast<size_t>(glyphCount_) + 1) {
    throw Error("the font's metrics tables are malformed");
  }
  capHeight_ = ascender_;
  const std::string os2 = tables("OS/2");
  if (os2.size() >= 10) {
    const uint16_t fsType = U16(os2, 8);
    // Restricted licence embedding (2) forbids it, as does a licence without subsetting
    // (0x100); a bitmap-only face has nothing to draw.
    embeddable_ = (fsType & 0x000F) != 0x0002 && (fsType & 0x0300) == 0;
  }
  if (os2.size() >= 90 && U16(os2, 0) >= 2) capHeight_ = I16(os2, 88);
  // The PostScript name (name 6), from the Windows or the Macintosh record.
  const std::string names = tables("name");
  if (names.size() >= 6) {
    const size_t count = U16(names, 2), strings = U16(names, 4);
    for (size_t i = 0; i < count && 6 + 12 * (i + 1) <= names.size(); ++i) {
      const size_t record = 6 + 12 * i;
      const uint16_t platform = U16(names, record);
      if (U16(names, record + 6) != 6 || (platform != 1 && platform != 3)) continue;
      const size_t at = strings + U16(names, record + 10), length = U16(names, record + 8);
      if (at + length > names.size()) continue;
      std::string name;
      for (size_t k = platform == 3 ? 1 : 0; k < length; k += platform == 3 ? 2 : 1)
        name += names[at + k];
      postScriptName_ = name;
      if (platform == 3) break;
    }
  }
}

int TrueTypeFont::Advance(uint16_t glyph) const {
  if (glyph >= glyphCount_) return 0;
  const int entry = std::min<int>(glyph, metricCount_ - 1);
  return U16(hmtx_, static_cast<size_t>(entry) * 4);
}

std::string_view TrueTypeFont::GlyphData(uint16_t glyph) const {
  const size_t from = longOffsets_ ? U32(loca_, glyph * 4u) : U16(loca_, glyph * 2u) * 2u;
  const size_t to =
      longOffsets_ ? U32(loca_, (glyph + 1u) * 4u) : U16(loca_, (glyph + 1u) * 2u) * 2u;
  if (to < from || to > glyf_.size()) throw Error("the font's glyph offsets are malformed");
  return std::string_view(glyf_).substr(from, to - from);
}

int TrueTypeFont::LeftSideBearing(uint16_t glyph) const {
  if (glyph < metricCount_) return I16(hmtx_, glyph * 4u + 2);
  return I16(hmtx_, static_cast<size_t>(metricCount_) * 4 + (glyph - metricCount_) * 2u);
}

std::string TrueTypeFont::Subset(const std::vector<uint16_t>& glyphs) const {
  if (glyphs.empty() || glyphs[0] != 0) throw Error("a font subset starts with glyph 0");
  std::vector<uint16_t> order = glyphs;
  std::unordered_map<uint16_t, uint16_t> numberOf;
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i] >= glyphCount_) throw Error("the font has no glyph " + std::to_string(order[i]));
    numberOf.emplace(order[i], static_cast<uint16_t>(i));
  }

  // The subset's offsets are always long: short ones count in two-byte steps up to
  // 128 KB, which a subset of a large face may pass.
  std::string glyf, loca, hmtx;
  // The list grows while it is walked: a composite glyph's parts join it at its end.
  for (size_t i = 0; i < order.size(); ++i) {
    Put32(loca, static_cast<uint32_t>(glyf.size()));
    Put16(hmtx, static_cast<uint16_t>(Advance(order[i])));
    Put16(hmtx, static_cast<uint16_t>(LeftSideBearing(order[i])));
    glyf += WithoutInstructions(GlyphData(order[i]), [&](uint16_t part) {
      if (part >= glyphCount_) throw Error("the font's composite glyphs are malformed");
      auto [it, added] = numberOf.emplace(part, static_cast<uint16_t>(order.size()));
      if (added) order.push_back(part);
      if (order.size() > 0xFFFF) throw Error("the font subset has too many glyphs");
      return it->second;
    });
    while (glyf.size() % 4 != 0)
      glyf += '\0';
  }
  Put32(loca, static_cast<uint32_t>(glyf.size()));
  const auto count = static_cast<uint16_t>(order.size());

  std::string head = head_, hhea = hhea_, maxp = maxp_;
  Set32(head, 8, 0);  // checkSumAdjustment, set once the file is whole
  head[50] = 0;
  head[51] = 1;  // long offsets
  // No glyph keeps its instructions, so nothing the hinting programs define is needed.
  if (maxp.size() >= 32) std::fill(maxp.begin() + 16, maxp.begin() + 28, '\0');
  hhea[34] = static_cast<char>(count >> 8);
  hhea[35] = static_cast<char>(count & 0xFF);
  maxp[4] = static_cast<char>(count >> 8);
  maxp[5] = static_cast<char>(count & 0xFF);

  // Sorted by tag.
  const std::pair<const char*, const std::string*> tables[] = {{"glyf", &glyf}, {"head", &head},
                                                               {"hhea", &hhea}, {"hmtx", &hmtx},
                                                               {"loca", &loca}, {"maxp", &maxp}};
  const uint16_t tableCount = std::size(tables);
  uint16_t power = 1, log2 = 0;
  while (power * 2 <= tableCount) {
    power *= 2;
    ++log2;
  }
  std::string file;
  Put32(file, 0x00010000);
  Put16(file, tableCount);
  Put16(file, static_cast<uint16_t>(power * 16));
  Put16(file, log2);
  Put16(file, static_cast<uint16_t>(tableCount * 16 - power * 16));
  size_t offset = 12 + 16 * std::size(tables);
  size_t headAt = 0;
  for (const auto& [tag, table] : tables) {
    file += tag;
    Put32(file, CheckSum(*table));
    Put32(file, static_cast<uint32_t>(offset));
    Put32(file, static_cast<uint32_t>(table->size()));
    if (std::string_view(tag) == "head") headAt = offset;
    offset += (table->size() + 3) & ~size_t{3};
  }
  for (const auto& [tag, table] : tables) {
    file += *table;
    file.append(((table->size() + 3) & ~size_t{3}) - table->size(), '\0');
  }
  Set32(file, headAt + 8, 0xB1B0AFBAu - CheckSum(file));
  return file;
}

}  // namespace kestrova
