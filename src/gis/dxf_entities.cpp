#include "gis/dxf_entities.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/error.h"
#include "common/number_text.h"
#include "common/utf8.h"
#include "jww/header.h"

namespace kestrova::dxf {

namespace {

// The pens and line types every drawing save writes into the Jww header.
const JwwHeader& DrawingHeader() {
  static const JwwHeader header = [] {
    JwwHeader h;
    SetFixedHeaderValues(h);
    return h;
  }();
  return header;
}

uint32_t BgrToRgb(uint32_t bgr) {
  return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}

void Hex(std::string& out, uint32_t value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i)
    out += kHex[(value >> (4 * i)) & 15];
}

// Writes groups at a cursor into memory the caller has made room for: the code
// right-aligned in three places (wider when it needs more), then the value, each on its
// own line. Every entity repeats the same few codes, whose lines are made once.
class GroupWriter {
 public:
  explicit GroupWriter(char* at) : at_(at) {}
  char* At() const { return at_; }

  // The most a group with a value of n bytes takes; a number's value takes at most 24.
  static constexpr size_t Room(size_t n) { return 6 + n; }
  static constexpr size_t kNumberRoom = 6 + 24;

  void Put(int code, std::string_view value) {
    PutCode(code);
    PutBytes(value);
    *at_++ = '\n';
  }
  void Put(int code, double v) {
    PutCode(code);
    if (v == 0.0) {
      *at_++ = '0';
    } else {
      at_ = PutShortest(at_, v);  // the shortest text that reads back the same
    }
    *at_++ = '\n';
  }
  void PutInt(int code, long v) {
    PutCode(code);
    at_ = std::to_chars(at_, at_ + 24, v).ptr;
    *at_++ = '\n';
  }
  // Groups made by another writer.
  void Raw(std::string_view groups) { PutBytes(groups); }

 private:
  void PutBytes(std::string_view bytes) {
    std::memcpy(at_, bytes.data(), bytes.size());
    at_ += bytes.size();
  }
  void PutCode(int code) {
    struct Codes {
      std::array<std::array<char, 4>, 1000> lines;  // "  5\n" .. "999\n"
      Codes() {
        for (int c = 0; c < 1000; ++c) {
          lines[c] = {' ', ' ', ' ', '\n'};
          for (int i = 2, v = c; i >= 0 && (v > 0 || i == 2); --i, v /= 10)
            lines[c][i] = static_cast<char>('0' + v % 10);
        }
      }
    };
    static const Codes kCodes;
    if (code >= 0 && code < 1000) {
      std::memcpy(at_, kCodes.lines[code].data(), 4);
      at_ += 4;
    } else {
      at_ = std::to_chars(at_, at_ + 11, code).ptr;
      *at_++ = '\n';
    }
  }

  char* at_;
};

// The same appending to a string, for the few groups made outside the entities.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  void Put(int code, std::string_view value) {
    Make(GroupWriter::Room(value.size()), [&](GroupWriter& w) { w.Put(code, value); });
  }
  void Put(int code, double v) {
    Make(GroupWriter::kNumberRoom, [&](GroupWriter& w) { w.Put(code, v); });
  }
  void PutInt(int code, long v) {
    Make(GroupWriter::kNumberRoom, [&](GroupWriter& w) { w.PutInt(code, v); });
  }

 private:
  template <class F>
  void Make(size_t room, const F& f) {
    const size_t used = out_.size();
    out_.resize(used + room + 8);
    GroupWriter w(out_.data() + used);
    f(w);
    out_.resize(static_cast<size_t>(w.At() - out_.data()));
  }

  std::string& out_;
};

// MTEXT keeps 250 characters a group: the text goes in groups 3 and the last piece in
// group 1, never cut inside one of EscapeText's units ("\\U+XXXX", a backslash and the
// character it escapes, the caret's "^ ", the empty group "{}"): some readers take
// each group by itself.
void PutText(GroupWriter& w, std::string_view escaped) {
  constexpr size_t kChunk = 250;
  size_t start = 0;
  size_t at = 0;
  while (at < escaped.size()) {
    size_t token = 1;
    if (escaped[at] == '\\') {
      token = escaped.compare(at, 3, "\\U+") == 0 ? 7 : 2;
    } else if (escaped[at] == '^' || escaped[at] == '{') {
      token = 2;
    }
    if (at + token - start > kChunk) {
      w.Put(3, escaped.substr(start, at - start));
      start = at;
    }
    at += token;
  }
  w.Put(1, escaped.substr(start));
}

void PutCommon(GroupWriter& w, const char* type, uint32_t handle, const Entity& e) {
  w.Put(0, type);
  // The handle in hexadecimal without leading zeros.
  std::array<char, 8> h{};
  const auto r = std::to_chars(h.data(), h.data() + h.size(), handle, 16);
  for (char* c = h.data(); c != r.ptr; ++c) {
    if (*c >= 'a') *c = static_cast<char>(*c - 'a' + 'A');
  }
  w.Put(5, std::string_view(h.data(), static_cast<size_t>(r.ptr - h.data())));
  w.Put(100, "AcDbEntity");
  w.Put(8, e.layer);
  // The groups of a pen (none for a pen without a colour) and the name of a line type,
  // worked out once for each. Pens past the SXF colours have none.
  static const std::vector<std::string> kPens = [] {
    std::vector<std::string> pens(100 + DrawingHeader().SxfPens.size());
    for (size_t pen = 0; pen < pens.size(); ++pen) {
      if (const std::optional<uint32_t> rgb = PenRgb(static_cast<uint16_t>(pen))) {
        Writer penWriter(pens[pen]);
        penWriter.PutInt(62, NearestAci(*rgb));
        penWriter.PutInt(420, static_cast<long>(*rgb));
      }
    }
    return pens;
  }();
  static const std::array<std::string, 10> kLineTypes = [] {
    std::array<std::string, 10> names;
    for (uint16_t kind = 0; kind < names.size(); ++kind)
      names[kind] = LineTypeName(kind);
    return names;
  }();
  if (e.pen < kPens.size()) w.Raw(kPens[e.pen]);
  const std::string_view lineType =
      e.lineType < kLineTypes.size() ? std::string_view(kLineTypes[e.lineType]) : "";
  if (!lineType.empty()) w.Put(6, lineType);
}

// Where a group (code, value) starts at or after from, as the file has it: the code
// right-aligned in three places or left as it is, each on its own line.
size_t FindPair(std::string_view dxf, std::string_view code, std::string_view value, size_t from) {
  const std::string needle = std::string(code) + "\n" + std::string(value) + "\n";
  for (size_t at = dxf.find(needle, from); at != std::string_view::npos;
       at = dxf.find(needle, at + 1)) {
    size_t lineStart = at;
    while (lineStart > 0 && dxf[lineStart - 1] == ' ')
      --lineStart;
    if (lineStart == 0 || dxf[lineStart - 1] == '\n') return lineStart;
  }
  return std::string_view::npos;
}

// The offset of the line after the one at.
size_t NextLine(std::string_view dxf, size_t at) {
  const size_t end = dxf.find('\n', at);
  return end == std::string_view::npos ? dxf.size() : end + 1;
}

// Sets a header variable to the groups given (written by a Writer): its groups up to
// the next variable or the end of the header are replaced, and a variable the header
// lacks is added at its end.
void SetHeaderVariable(std::string& dxf, const std::string& name, const std::string& groups) {
  const size_t header = FindPair(dxf, "  2", "HEADER", 0);
  const size_t end =
      header == std::string::npos ? std::string::npos : FindPair(dxf, "  0", "ENDSEC", header);
  if (end == std::string::npos) throw Error("GDAL wrote a DXF without a header");
  const size_t at = FindPair(dxf, "  9", name, header);
  if (at == std::string::npos || at > end) {
    std::string variable;
    Writer(variable).Put(9, name);
    dxf.insert(end, variable + groups);
    return;
  }
  const size_t values = NextLine(dxf, NextLine(dxf, at));
  size_t stop = values;
  while (stop < end) {
    const size_t codeEnd = NextLine(dxf, stop);
    const int code = std::atoi(dxf.substr(stop, codeEnd - stop).c_str());
    if (code == 0 || code == 9) break;
    stop = NextLine(dxf, codeEnd);
  }
  dxf.replace(values, stop - values, groups);
}

// The header's extents of the entities, its drawing units and metric measurement.
void SetHeader(std::string& dxf, const EntitySummary& entities, bool millimetres) {
  if (entities.count > 0) {
    const auto point = [](double x, double y) {
      std::string groups;
      Writer w(groups);
      w.Put(10, x);
      w.Put(20, y);
      w.Put(30, 0.0);
      return groups;
    };
    SetHeaderVariable(dxf, "$EXTMIN", point(entities.minX, entities.minY));
    SetHeaderVariable(dxf, "$EXTMAX", point(entities.maxX, entities.maxY));
  }
  const auto flag = [](long value) {
    std::string groups;
    Writer(groups).PutInt(70, value);
    return groups;
  };
  SetHeaderVariable(dxf, "$INSUNITS", flag(millimetres ? 4 : 6));
  SetHeaderVariable(dxf, "$MEASUREMENT", flag(1));
}

}  // namespace

std::optional<uint32_t> PenRgb(uint16_t pen) {
  const JwwHeader& h = DrawingHeader();
  if (pen >= 1 && pen <= 9) return BgrToRgb(h.Pens[pen].Color);
  if (pen >= 100 && pen - 100 < static_cast<int>(h.SxfPens.size()))
    return BgrToRgb(h.SxfPens[pen - 100].Color);
  return std::nullopt;
}

int NearestAci(uint32_t rgb) {
  // AutoCAD's colours 1..9; 7 draws black on a light and white on a dark background.
  static constexpr uint32_t kAci[10] = {0,        0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF,
                                        0x0000FF, 0xFF00FF, 0x000000, 0x808080, 0xC0C0C0};
  const auto distance = [](uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift = 0; shift <= 16; shift += 8)
      d += std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    return d;
  };
  int best = 7;
  int bestDistance = std::min(distance(rgb, 0x000000), distance(rgb, 0xFFFFFF));
  for (int aci = 1; aci <= 9; ++aci) {
    if (aci == 7) continue;
    const int d = distance(rgb, kAci[aci]);
    if (d < bestDistance) {
      best = aci;
      bestDistance = d;
    }
  }
  return best;
}

std::string LineTypeName(uint16_t lineType) {
  if (LineTypeDashes(lineType, 1.0).empty()) return {};  // solid, or no pattern to draw
  return "JW_LINETYPE_" + std::to_string(lineType);
}

std::vector<double> LineTypeDashes(uint16_t lineType, double groundPerPaperMm) {
  if (lineType < 2 || lineType > 9) return {};
  const uint32_t pattern = DrawingHeader().LineTypes[lineType - 2].Pattern;
  if (pattern == 0 || pattern == 0xFFFFFFFF) return {};
  const auto bit = [pattern](int i) { return (pattern >> (31 - (i & 31))) & 1; };
  // Start at the beginning of a dash: a set bit after a clear one.
  int start = 0;
  while (!(bit(start) == 1 && bit(start - 1 + 32) == 0))
    ++start;
  std::vector<double> dashes;
  const double unit = 0.5 * groundPerPaperMm;
  for (int i = 0; i < 32;) {
    const uint32_t on = bit(start + i);
    int run = 0;
    while (i < 32 && bit(start + i) == on) {
      ++run;
      ++i;
    }
    dashes.push_back((on ? 1 : -1) * run * unit);
  }
  return dashes;
}

namespace {

// Text that MTEXT takes as it is.
bool IsPlainText(std::string_view utf8) {
  const auto plain = [](char c) {
    return c >= 0x20 && c < 0x7F && c != '\\' && c != '{' && c != '}' && c != '%' && c != '^';
  };
  return !utf8.empty() && utf8.front() != ' ' && utf8.back() != ' ' &&
         std::all_of(utf8.begin(), utf8.end(), plain);
}

}  // namespace

std::string EscapeText(std::string_view utf8) {
  // Most labels are plain numbers and letters, which stand as they are.
  if (IsPlainText(utf8)) return std::string(utf8);
  std::string out;
  std::vector<uint32_t> cps;
  for (size_t i = 0; i < utf8.size();)
    cps.push_back(NextCodePoint(utf8, i));
  size_t first = 0;
  while (first < cps.size() && cps[first] == ' ')
    ++first;
  size_t last = cps.size();
  while (last > first && cps[last - 1] == ' ')
    --last;
  const auto unicode = [&out](uint32_t cp) {
    out += "\\U+";
    Hex(out, cp, 4);
  };
  for (size_t k = 0; k < cps.size(); ++k) {
    const uint32_t cp = cps[k];
    if (cp == ' ' && (k < first || k >= last)) {
      unicode(cp);  // blanks at the ends are dropped by some readers
    } else if (cp == '\\' || cp == '{' || cp == '}') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == '%' && k > 0 && cps[k - 1] == '%') {
      // "%%c", "%%d", "%%p" would be symbols: an empty group keeps the two apart for
      // readers that decode \U+XXXX before they look for symbols.
      out += "{}%";
    } else if (cp == '^') {
      out += "^ ";  // a caret with a character after it stands for a control character
    } else if (cp < 0x20 || cp == 0x7F) {
      unicode(cp);
    } else if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp <= 0xFFFF) {
      unicode(cp);
    } else {
      const uint32_t v = cp - 0x10000;
      unicode(0xD800 + (v >> 10));
      unicode(0xDC00 + (v & 0x3FF));
    }
  }
  return out;
}

std::string FirstTextStyle(std::string_view dxf) {
  const size_t section = FindPair(dxf, "  2", "ENTITIES", 0);
  if (section == std::string_view::npos) return {};
  const size_t text = FindPair(dxf, "  0", "MTEXT", section);
  if (text == std::string_view::npos) return {};
  const size_t end = FindPair(dxf, "  0", "ENDSEC", section);
  size_t at = text;
  while (at < end) {
    const size_t codeEnd = dxf.find('\n', at);
    const size_t valueEnd = dxf.find('\n', codeEnd + 1);
    if (codeEnd == std::string_view::npos || valueEnd == std::string_view::npos) break;
    const int code = std::atoi(std::string(dxf.substr(at, codeEnd - at)).c_str());
    const std::string_view value = dxf.substr(codeEnd + 1, valueEnd - codeEnd - 1);
    if (code == 0 && at != text) break;
    if (code == 7) return std::string(value);
    at = valueEnd + 1;
  }
  return {};
}

void EntitySummary::Add(const Entity& e) {
  ++count;
  const auto add = [&](double x, double y, double r) {
    minX = std::min(minX, x - r);
    minY = std::min(minY, y - r);
    maxX = std::max(maxX, x + r);
    maxY = std::max(maxY, y + r);
  };
  // A text's extent depends on the reader's font: its base point stands for it.
  add(e.x, e.y, e.kind == Entity::Kind::kCircle ? e.radius : 0.0);
  if (e.kind == Entity::Kind::kLine) add(e.x2, e.y2, 0.0);
}

EntitySection::EntitySection(std::string_view gdalDxf, const EntitySummary& entities,
                             std::string textStyle, bool millimetres)
    : textStyle_(std::move(textStyle)), count_(entities.count) {
  std::string headed(gdalDxf);
  SetHeader(headed, entities, millimetres);
  const std::string_view dxf = headed;
  const size_t section = FindPair(dxf, "  2", "ENTITIES", 0);
  if (section == std::string_view::npos) throw Error("GDAL wrote a DXF without entities");
  const size_t body = dxf.find('\n', dxf.find('\n', section) + 1) + 1;
  const size_t end = FindPair(dxf, "  0", "ENDSEC", body);
  const size_t seedName = FindPair(dxf, "  9", "$HANDSEED", 0);
  if (end == std::string_view::npos || seedName == std::string_view::npos || seedName > section)
    throw Error("GDAL wrote a DXF without its handle seed");
  const size_t seedCode = dxf.find('\n', dxf.find('\n', seedName) + 1) + 1;
  const size_t seedValue = dxf.find('\n', seedCode) + 1;
  const size_t seedEnd = dxf.find('\n', seedValue);
  const std::string seedText(dxf.substr(seedValue, seedEnd - seedValue));
  firstHandle_ = static_cast<uint32_t>(std::strtoul(seedText.c_str(), nullptr, 16));
  // The seed moves on past the handles the entities take.
  head_.append(dxf.substr(0, seedValue));
  Hex(head_, firstHandle_ + static_cast<uint32_t>(count_),
      static_cast<int>(std::max<size_t>(seedText.size(), 1)));
  head_.append(dxf.substr(seedEnd, body - seedEnd));
  tail_ = dxf.substr(end);
}

void EntitySection::Append(TextBuffer& out, const Entity& e, uint32_t& handle) const {
  static constexpr int kAttachment[10] = {7, 7, 8, 9, 4, 5, 6, 1, 2, 3};
  // Most labels are plain numbers and letters, which stand as they are.
  std::string escapedText;
  std::string_view text = e.text;
  if (e.kind == Entity::Kind::kText && !IsPlainText(text)) text = escapedText = EscapeText(text);
  // Room for the common groups (the handle, the pen's two, the line type's name), the
  // entity's own (at most five numbers and two flags) and the text with a group code for
  // each piece of 250 bytes.
  const size_t room = 256 + 16 * GroupWriter::kNumberRoom + e.layer.size() + textStyle_.size() +
                      text.size() + GroupWriter::Room(0) * (text.size() / 200 + 1);
  GroupWriter w(out.Room(room));
  // Every entity starts alike: its common groups, its own class and its first point.
  const auto start = [&](const char* type, const char* subclass) {
    PutCommon(w, type, handle++, e);
    w.Put(100, subclass);
    w.Put(10, e.x);
    w.Put(20, e.y);
  };
  switch (e.kind) {
    case Entity::Kind::kPoint:
      start("POINT", "AcDbPoint");
      break;
    case Entity::Kind::kCircle:
      start("CIRCLE", "AcDbCircle");
      w.Put(40, e.radius);
      break;
    case Entity::Kind::kLine:
      start("LINE", "AcDbLine");
      w.Put(11, e.x2);
      w.Put(21, e.y2);
      break;
    case Entity::Kind::kText:
      start("MTEXT", "AcDbMText");
      w.Put(40, e.height);
      w.PutInt(71, kAttachment[e.basePosition >= 1 && e.basePosition <= 9 ? e.basePosition : 1]);
      w.PutInt(72, 1);  // left to right
      PutText(w, text);
      if (!textStyle_.empty()) w.Put(7, textStyle_);
      break;
  }
  out.Took(w.At());
}

char* TextBuffer::Room(size_t n) {
  if (capacity_ - size_ < n) {
    const size_t capacity = std::max(2 * capacity_, size_ + n);
    std::unique_ptr<char[]> grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
    bytes_ = std::move(grown);
    capacity_ = capacity;
  }
  return bytes_.get() + size_;
}

void TextBuffer::Took(const char* end) {
  size_ = static_cast<size_t>(end - bytes_.get());
}

}  // namespace kestrova::dxf
