// The PDF the coordinate list is printed into and the font subsets it embeds, read back
// byte by byte: tables, cross-references, page contents, widths and the text map.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/sjis.h"
#include "view/pdf_document.h"
#include "view/truetype_font.h"

namespace {

using namespace kestrova;

std::string Be16(uint32_t v) {
  return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
std::string Be32(uint32_t v) {
  return Be16(v >> 16) + Be16(v & 0xFFFF);
}
uint32_t Read16(std::string_view s, size_t at) {
  return (static_cast<unsigned char>(s[at]) << 8) | static_cast<unsigned char>(s[at + 1]);
}
uint32_t Read32(std::string_view s, size_t at) {
  return (Read16(s, at) << 16) | Read16(s, at + 2);
}

using Tables = std::map<std::string, std::string>;

// Glyph g of the faces below: one contour, instructions of g % 3 bytes, then outline
// bytes of its own.
std::string SimpleGlyph(int g, bool instructions) {
  const int length = instructions ? g % 3 : 0;
  return Be16(1) + std::string(8, '\x11') + Be16(7) + Be16(static_cast<uint32_t>(length)) +
         std::string(static_cast<size_t>(length), 'I') +
         std::string(6 + g % 3 * 2, static_cast<char>('a' + g % 26));
}

// Glyph 5 of the faces below, made of its parts, with or without instructions.
std::string Composite5(uint32_t first, uint32_t second, bool instructions) {
  const uint32_t has = instructions ? 0x0100 : 0;
  return Be16(0xFFFF) + std::string(8, '\0') + Be16(0x0021 | has) + Be16(first) + Be16(7) +
         Be16(9) + Be16(0x0000) + Be16(second) + "\x01\x02" +
         (instructions ? Be16(2) + "II" : "");  // word offsets, then byte ones
}

// Glyph 6: three parts, scaled once, by x and y and by a 2 x 2 matrix.
std::string Composite6(uint32_t first, uint32_t second, uint32_t third, bool instructions) {
  const uint32_t has = instructions ? 0x0100 : 0;
  return Be16(0xFFFF) + std::string(8, '\0') + Be16(0x0028 | has) + Be16(first) + "\x01\x02" +
         Be16(0x4000) + Be16(0x0060) + Be16(second) + "\x03\x04" + Be16(0x4000) + Be16(0x2000) +
         Be16(0x0080) + Be16(third) + "\x05\x06" + std::string(8, '\x22') +
         (instructions ? Be16(3) + "III" : "");
}

// A face of count glyphs: glyph g a simple one (every fourth one empty), advance
// 500 + g up to the last two, which share the last advance; glyph 5 made of glyphs 3
// and 1, glyph 6 of glyphs 2, 4 and 7.
Tables FontTables(int count, bool longOffsets, uint16_t fsType = 0) {
  std::string glyf, loca, hmtx;
  const auto offset = [&] {
    loca += longOffsets ? Be32(static_cast<uint32_t>(glyf.size()))
                        : Be16(static_cast<uint32_t>(glyf.size() / 2));
  };
  for (int g = 0; g < count; ++g) {
    offset();
    if (g == 5) {
      glyf += Composite5(3, 1, true);
    } else if (g == 6) {
      glyf += Composite6(2, 4, 7, true);
    } else if (g % 4 != 3) {
      glyf += SimpleGlyph(g, true);
    }
    while (glyf.size() % 4 != 0)
      glyf += '\0';
  }
  offset();
  const int metrics = count - 2;
  for (int g = 0; g < count; ++g)
    hmtx += g < metrics ? Be16(500 + g) + Be16(g) : Be16(g);
  std::string head = Be32(0x00010000) + Be32(0) + Be32(0) + Be32(0x5F0F3CF5) + Be16(0) +
                     Be16(1000) + std::string(16, '\0') + Be16(0xFF9C) + Be16(0xFF38) + Be16(1000) +
                     Be16(900) + Be16(0) + Be16(8) + Be16(2) + Be16(longOffsets ? 1 : 0) + Be16(0);
  std::string hhea = Be32(0x00010000) + Be16(880) + Be16(0xFF88) + std::string(26, '\0') +
                     Be16(static_cast<uint32_t>(metrics));
  return {{"head", head},
          {"hhea", hhea},
          {"maxp", Be32(0x00005000) + Be16(static_cast<uint32_t>(count))},
          {"hmtx", hmtx},
          {"loca", loca},
          {"glyf", glyf},
          {"OS/2", Be16(0) + Be16(500) + Be16(400) + Be16(5) + Be16(fsType)}};
}

TrueTypeFont::TableSource From(const Tables& tables) {
  return [&tables](std::string_view tag) {
    const auto it = tables.find(std::string(tag));
    return it == tables.end() ? std::string() : it->second;
  };
}

// A font file's tables by tag; every table's checksum and the file's are checked.
Tables ReadFontFile(const std::string& file) {
  const auto sum = [](std::string_view s) {
    uint32_t total = 0;
    for (size_t i = 0; i < s.size(); i += 4) {
      std::string word(s.substr(i, 4));
      word.resize(4, '\0');
      total += Read32(word, 0);
    }
    return total;
  };
  EXPECT_EQ(sum(file), 0xB1B0AFBAu) << "the file's checksum";
  Tables tables;
  const uint32_t count = Read16(file, 4);
  std::string last;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = 12 + 16 * i;
    const std::string tag = file.substr(entry, 4);
    EXPECT_LT(last, tag) << "tables sorted by tag";
    last = tag;
    std::string table = file.substr(Read32(file, entry + 8), Read32(file, entry + 12));
    std::string checked = table;
    if (tag == "head") checked.replace(8, 4, std::string(4, '\0'));
    EXPECT_EQ(sum(checked), Read32(file, entry + 4)) << tag;
    tables[tag] = table;
  }
  return tables;
}

std::string GlyphOf(const Tables& t, uint32_t g, bool longOffsets) {
  const auto at = [&](uint32_t i) {
    return longOffsets ? Read32(t.at("loca"), i * 4) : Read16(t.at("loca"), i * 2) * 2;
  };
  return t.at("glyf").substr(at(g), at(g + 1) - at(g));
}

TEST(TrueTypeSubset, GlyphsKeepTheirOutlinesAndAdvancesInTheirNewOrder) {
  for (const bool longOffsets : {false, true}) {
    SCOPED_TRACE(longOffsets ? "long offsets" : "short offsets");
    const Tables face = FontTables(12, longOffsets);
    const TrueTypeFont font(From(face));
    EXPECT_TRUE(font.Embeddable());
    EXPECT_EQ(font.Advance(4), 504);
    EXPECT_EQ(font.Advance(11), 509);  // past the metrics: the last advance
    EXPECT_EQ(font.Advance(12), 0);

    // 5 and 6 bring their parts along, numbered after the glyphs asked for; the
    // outlines come without their hinting instructions.
    const std::vector<uint16_t> asked = {0, 5, 6, 11, 2};
    const Tables subset = ReadFontFile(font.Subset(asked));
    EXPECT_EQ(subset.size(), 6u);  // no hinting programs, no character map
    const std::vector<uint16_t> was = {0, 5, 6, 11, 2, 3, 1, 4, 7};
    EXPECT_EQ(Read16(subset.at("maxp"), 4), was.size());
    EXPECT_EQ(Read16(subset.at("hhea"), 34), was.size());
    for (uint32_t g = 0; g < was.size(); ++g) {
      SCOPED_TRACE(g);
      EXPECT_EQ(Read16(subset.at("hmtx"), g * 4), static_cast<uint32_t>(font.Advance(was[g])));
      EXPECT_EQ(Read16(subset.at("hmtx"), g * 4 + 2), was[g]);  // left side bearing
      const std::string drawn = was[g] == 5       ? Composite5(5, 6, false)
                                : was[g] == 6     ? Composite6(4, 7, 8, false)
                                : was[g] % 4 == 3 ? std::string()
                                                  : SimpleGlyph(was[g], false);
      std::string got = GlyphOf(subset, g, true);  // the subset's offsets are long
      EXPECT_EQ(got.substr(0, drawn.size()), drawn);
      EXPECT_EQ(got.find_first_not_of('\0', drawn.size()), std::string::npos);  // padding
    }
    EXPECT_EQ(Read16(subset.at("head"), 50), 1u);
    EXPECT_EQ(subset.at("head").substr(12, 38), face.at("head").substr(12, 38));
    EXPECT_THROW(font.Subset({1, 2}), Error);   // glyph 0 must come first
    EXPECT_THROW(font.Subset({0, 12}), Error);  // past the last glyph
  }
}

TEST(TrueTypeSubset, MalformedOrRestrictedFacesAreRefusedNotRead) {
  EXPECT_FALSE(TrueTypeFont(From(FontTables(12, true, 0x0002))).Embeddable());
  EXPECT_TRUE(TrueTypeFont(From(FontTables(12, true, 0x0008))).Embeddable());
  Tables noOutlines = FontTables(12, true);
  noOutlines.erase("glyf");
  EXPECT_THROW(TrueTypeFont{From(noOutlines)}, Error);

  // Every table cut short anywhere, or its offsets pointing past the outlines: an error
  // or a subset, never a read past the tables (the sanitizer build watches).
  const Tables whole = FontTables(12, false);
  int refused = 0, made = 0;
  for (const auto& [tag, table] : whole) {
    for (size_t cut = 0; cut < table.size(); cut += 3) {
      Tables t = whole;
      t[tag].resize(cut);
      try {
        const TrueTypeFont font(From(t));
        (void)font.Subset({0, 1, 5, 6, 11});
        ++made;
      } catch (const Error&) {
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 100);
  EXPECT_GT(made, 0);  // a cut past what is read (OS/2's end) changes nothing
  Tables wild = whole;
  wild["loca"].replace(10, 2, Be16(0xFFFF));
  EXPECT_THROW(TrueTypeFont(From(wild)).Subset({0, 5}), Error);
}

// A face whose glyph for a character is its place among the characters drawn below:
// ASCII '!'.. '~' glyphs 1-94, half-width katakana glyphs 96-158.
class FakeFace : public PdfFontFace {
 public:
  explicit FakeFace(uint16_t fsType)
      : tables_(FontTables(200, true, fsType)), font_(From(tables_)) {}
  const TrueTypeFont& Font() const override { return font_; }
  std::string PostScriptName() const override { return "Fake Sans(Regular)"; }
  uint16_t Glyph(char32_t c) override {
    if (c >= 0x21 && c <= 0x7E) return static_cast<uint16_t>(c - 0x20);
    if (c >= 0xFF61 && c <= 0xFF9F) return static_cast<uint16_t>(c - 0xFF61 + 96);
    return 0;
  }
  double Ascent(int pixelSize) override { return pixelSize * 0.75 + 0.5; }
  double Height(int pixelSize) override { return pixelSize + 1.0; }

 private:
  Tables tables_;
  TrueTypeFont font_;
};

class FakeFaces : public PdfFontFaces {
 public:
  explicit FakeFaces(uint16_t fsType = 0) : face_(fsType) {}
  PdfFontFace& FaceOf(std::string_view face) override {
    if (face != "Fake") throw Error("no face " + std::string(face));
    return face_;
  }

 private:
  FakeFace face_;
};

std::string Inflate(std::string_view data) {
  std::string out(1 << 20, '\0');
  auto size = static_cast<uLongf>(out.size());
  EXPECT_EQ(
      uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                 reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size())),
      Z_OK);
  out.resize(size);
  return out;
}

// The PDF's objects by number, each found through the cross-reference table.
struct ReadPdf {
  std::map<int, std::string> objects;  // the dictionary, or the stream's inflated data
  std::map<int, std::string> dictionaries;
  std::string trailer;

  explicit ReadPdf(const std::string& pdf) {
    EXPECT_EQ(pdf.rfind("%PDF-1.4\n", 0), 0u);
    const size_t startxref = pdf.rfind("startxref\n");
    EXPECT_NE(startxref, std::string::npos);
    size_t at = std::stoul(pdf.substr(startxref + 10));
    EXPECT_EQ(pdf.compare(at, 7, "xref\n0 "), 0);
    at += 7;
    const int size = std::stoi(pdf.substr(at));
    at = pdf.find('\n', at) + 1 + 20;  // past the free entry
    for (int n = 1; n < size; ++n, at += 20) {
      const size_t offset = std::stoul(pdf.substr(at, 10));
      const std::string head = std::to_string(n) + " 0 obj\n";
      EXPECT_EQ(pdf.compare(offset, head.size(), head), 0) << "object " << n;
      const size_t body = offset + head.size();
      const size_t end = pdf.find("\nendobj\n", body);
      std::string text = pdf.substr(body, end - body);
      const size_t stream = text.find(">>\nstream\n");
      if (stream != std::string::npos) {
        dictionaries[n] = text.substr(0, stream + 2);
        const size_t length = std::stoul(text.substr(text.find("/Length ") + 8));
        const std::string data = text.substr(stream + 10, length);
        EXPECT_EQ(text.substr(stream + 10 + length), "\nendstream");
        text = dictionaries[n].find("/FlateDecode") != std::string::npos ? Inflate(data) : data;
      }
      objects[n] = text;
    }
    trailer = pdf.substr(at);
    EXPECT_NE(trailer.find("/Size " + std::to_string(size) + " "), std::string::npos);
  }

  // The objects a /Kids array refers to.
  std::vector<int> Kids(int n) const {
    std::vector<int> kids;
    const std::string& o = objects.at(n);
    std::istringstream list(o.substr(o.find("/Kids [") + 7));
    for (int kid = 0, generation = 0; list >> kid >> generation;) {
      kids.push_back(kid);
      list.ignore(2);  // " R"
    }
    return kids;
  }

  // The pages in their order, each checked to name its node as its parent and each
  // node to count its pages.
  std::vector<int> Pages() const {
    std::vector<int> pages;
    const std::vector<int> nodes = Kids(2);
    for (const int node : nodes) {
      EXPECT_NE(objects.at(node).find("/Type /Pages /Parent 2 0 R"), std::string::npos);
      const std::vector<int> kids = Kids(node);
      EXPECT_EQ(Ref(node, "/Count"), static_cast<int>(kids.size()));
      EXPECT_LE(kids.size(), 256u) << "pages under one node";
      for (const int page : kids) {
        EXPECT_EQ(Ref(page, "/Parent"), node);
        pages.push_back(page);
      }
    }
    EXPECT_EQ(Ref(2, "/Count"), static_cast<int>(pages.size()));
    return pages;
  }

  // The number after key in object n's dictionary ("/Contents 7 0 R": 7).
  int Ref(int n, const std::string& key) const {
    const std::string& o = dictionaries.contains(n) ? dictionaries.at(n) : objects.at(n);
    return std::stoi(o.substr(o.find(key + " ") + key.size() + 1));
  }
};

// The glyph numbers of the literal strings shown in a content stream, string by string.
std::vector<std::vector<uint32_t>> ShownGlyphs(const std::string& content) {
  std::vector<std::vector<uint32_t>> shown;
  for (size_t at = content.find('('); at != std::string::npos; at = content.find('(', at)) {
    std::string bytes;
    for (++at; content[at] != ')'; ++at) {
      char c = content[at];
      if (c == '\\') {
        c = content[++at];
        c = c == 'r' ? '\r' : c == 'n' ? '\n' : c;
      }
      bytes += c;
    }
    shown.emplace_back();
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
      shown.back().push_back(Read16(bytes, i));
  }
  return shown;
}

TEST(PdfDocument, PagesGlyphsWidthsAndTheTextMapAreWhereTheFileSaysTheyAre) {
  FakeFaces faces;
  std::string pdf;
  PdfDocument document([&pdf](std::string_view bytes) { pdf += bytes; }, faces, 595, 842, 600,
                       {"座標.sim", "Kestrova test", "D:20261208000000Z"});
  CanvasFont font;
  font.face = "Fake";
  font.height = 75;
  std::string ascii, kana;
  for (int c = 0x21; c <= 0x7E; ++c)
    ascii += static_cast<char>(c);
  for (int c = 0xA1; c <= 0xDF; ++c)
    kana += static_cast<char>(c);
  document.Metrics().SetFont(font);
  const int asciiWidth = document.Metrics().TextWidth(ascii);

  Canvas& canvas = document.PageCanvas();
  canvas.SetFont(font);
  canvas.Text({100, 200}, ascii);
  canvas.Text({100, 312}, kana);
  canvas.Text({640, 200}, "!~");
  document.NewPage();
  canvas.SetPen({Rgb(0, 0, 0), 5, PenStyle::kSolid, PenMode::kCopy});
  const PixelPoint rule[] = {{472, 591}, {722, 591}};
  canvas.Polyline(rule);
  canvas.SetFont(font);
  canvas.Text({10, 20}, "\xB1");  // ｱ again: drawn with the number it has
  EXPECT_EQ(document.Finish(), 2);

  const ReadPdf read(pdf);
  EXPECT_NE(read.objects.at(1).find("/Type /Catalog /Pages 2 0 R"), std::string::npos);
  EXPECT_NE(read.objects.at(4).find("/Title <FEFF5EA76A19002E00730069006D>"), std::string::npos);
  std::vector<std::string> contents;
  for (const int page : read.Pages()) {
    EXPECT_NE(read.objects.at(page).find("/MediaBox [0 0 595 842] /Resources 3 0 R"),
              std::string::npos);
    contents.push_back(read.objects.at(read.Ref(page, "/Contents")));
  }
  ASSERT_EQ(contents.size(), 2u);

  // Device pixels at 600 dpi, y downwards; each text's baseline the ascent below its
  // top, the next upright text moved to from the last one.
  EXPECT_EQ(contents[0].rfind("0.12 0 0 -0.12 0 842 cm\n", 0), 0u) << contents[0];
  EXPECT_NE(contents[0].find("BT\n/F1 75 Tf\n1 0 0 -1 100 256.75 Tm\n("), std::string::npos);
  EXPECT_NE(contents[0].find(") Tj\n0 -112 Td\n("), std::string::npos);
  EXPECT_NE(contents[0].find(") Tj\n540 112 Td\n("), std::string::npos);
  EXPECT_NE(contents[1].find("5 w\n472 591 m\n722 591 l\nS\n"), std::string::npos) << contents[1];

  // Glyphs are numbered as first drawn: 1-94, 95-157, and the numbers that are a
  // string's parentheses, backslash or line ends come through their escapes.
  const auto shown = ShownGlyphs(contents[0]);
  ASSERT_EQ(shown.size(), 3u);
  for (uint32_t i = 0; i < 94; ++i)
    EXPECT_EQ(shown[0][i], i + 1);
  for (uint32_t i = 0; i < 63; ++i)
    EXPECT_EQ(shown[1][i], i + 95);
  EXPECT_EQ(shown[2], (std::vector<uint32_t>{1, 94}));
  EXPECT_EQ(ShownGlyphs(contents[1]), (std::vector<std::vector<uint32_t>>{{111}}));

  // The font: its widths per number, what each number stands for, its subset.
  const std::string& resources = read.objects.at(3);
  const int type0 = std::stoi(resources.substr(resources.find("/F1 ") + 4));
  EXPECT_NE(read.objects.at(type0).find("/BaseFont /"), std::string::npos);
  EXPECT_NE(read.objects.at(type0).find("+FakeSansRegular /Encoding /Identity-H"),
            std::string::npos);
  const int cidFont = std::stoi(
      read.objects.at(type0).substr(read.objects.at(type0).find("/DescendantFonts [") + 18));
  const std::string& cid = read.objects.at(cidFont);
  const size_t w = cid.find("/W [0 [") + 7;
  std::istringstream widthList(cid.substr(w, cid.find("]]", w) - w));
  std::vector<int> widths{std::istream_iterator<int>(widthList), std::istream_iterator<int>()};
  ASSERT_EQ(widths.size(), 158u);
  EXPECT_EQ(widths[0], 500);
  EXPECT_EQ(widths[1], 501);        // '!', the face's glyph 1
  EXPECT_EQ(widths[95], 500 + 96);  // '｡', its glyph 96
  int drawnWidth = 0;
  for (int n = 1; n <= 94; ++n)
    drawnWidth += widths[static_cast<size_t>(n)];
  EXPECT_NEAR(asciiWidth, drawnWidth * 75 / 1000.0, 1.0) << "measured as drawn";

  const std::string toUnicode = read.objects.at(read.Ref(type0, "/ToUnicode"));
  EXPECT_NE(toUnicode.find("100 beginbfchar\n<0001> <0021>\n"), std::string::npos);
  EXPECT_NE(toUnicode.find("<005E> <007E>\n<005F> <FF61>\n"), std::string::npos);
  EXPECT_NE(toUnicode.find("57 beginbfchar\n"), std::string::npos);

  const int descriptor = read.Ref(cidFont, "/FontDescriptor");
  EXPECT_NE(read.objects.at(descriptor)
                .find("/FontBBox [-100 -200 1000 900] /ItalicAngle 0 "
                      "/Ascent 880 /Descent -120"),
            std::string::npos);
  const int fontFile = read.Ref(descriptor, "/FontFile2");
  const Tables subset = ReadFontFile(read.objects.at(fontFile));
  EXPECT_EQ(Read16(subset.at("maxp"), 4), 158u);  // glyph 5's parts were drawn too
  EXPECT_NE(read.dictionaries.at(fontFile).find("/Length1 " +
                                                std::to_string(read.objects.at(fontFile).size())),
            std::string::npos);
}

TEST(PdfDocument, ALongDocumentHangsItsPagesFromNodesInTheirOrder) {
  FakeFaces faces;
  std::string pdf;
  PdfDocument document([&pdf](std::string_view bytes) { pdf += bytes; }, faces, 842, 1191, 300, {});
  CanvasFont font;
  font.face = "Fake";
  for (int page = 0; page < 600; ++page) {
    if (page > 0) document.NewPage();
    document.PageCanvas().SetFont(font);
    document.PageCanvas().Text({0, 0}, std::string(1, static_cast<char>('!' + page % 90)));
  }
  EXPECT_EQ(document.Finish(), 600);
  const ReadPdf read(pdf);
  const std::vector<int> pages = read.Pages();
  ASSERT_EQ(pages.size(), 600u);
  EXPECT_EQ(read.Kids(2).size(), 3u);
  for (size_t i = 0; i < pages.size(); i += 97) {
    const auto shown = ShownGlyphs(read.objects.at(read.Ref(pages[i], "/Contents")));
    EXPECT_EQ(shown, (std::vector<std::vector<uint32_t>>{{static_cast<uint32_t>(i % 90 + 1)}}));
  }
}

// A list's rules, the same on every page, are written once as a form, and so are those of
// column groups whose pages take turns; rules drawn with another pen, even in the same
// bytes, are not that form.
TEST(PdfDocument, RulesRepeatedOnPageAfterPageAreWrittenOnce) {
  FakeFaces faces;
  std::string pdf;
  PdfDocument document([&pdf](std::string_view bytes) { pdf += bytes; }, faces, 595, 842, 600, {},
                       {30, 40});
  CanvasFont font;
  font.face = "Fake";
  const auto page = [&](Colour before, Colour rules, int rows, int left = 472) {
    Canvas& canvas = document.PageCanvas();
    canvas.SetPen({before, 5, PenStyle::kSolid, PenMode::kCopy});
    const PixelPoint first[] = {{0, 0}, {10, 0}};
    canvas.Polyline(first);
    canvas.SetFont(font);
    canvas.Text({10, 20}, "A");
    canvas.SetPen({rules, 5, PenStyle::kSolid, PenMode::kCopy});
    for (int y = 0; y < rows; ++y) {
      const PixelPoint rule[] = {{left, 591 + y}, {856, 591 + y}};
      canvas.Polyline(rule);
    }
    document.NewPage();
  };
  const Colour black = Rgb(0, 0, 0), red = Rgb(255, 0, 0);
  page(black, black, 100);
  page(black, black, 100);
  page(black, black, 100);
  page(black, black, 99);  // the last page of a list: fewer rows
  page(red, red, 100);     // the same bytes after the text, but red
  page(red, red, 100);
  page(black, black, 100);
  for (int turn = 0; turn < 2; ++turn) {
    page(black, black, 100, 100);
    page(black, black, 100, 200);
  }
  EXPECT_EQ(document.Finish(), 12);

  const ReadPdf read(pdf);
  std::vector<std::string> contents;
  for (const int p : read.Pages())
    contents.push_back(read.objects.at(read.Ref(p, "/Contents")));
  const std::string rules = contents[0].substr(contents[0].find("ET\n") + 3);
  EXPECT_EQ(rules.rfind("472 591 m\n856 591 l\nS\n", 0), 0u) << rules;
  const std::string& resources = read.objects.at(3);
  ASSERT_NE(resources.find(" /XObject << /Fm1 "), std::string::npos) << resources;
  const int form = read.Ref(3, "/Fm1"), redForm = read.Ref(3, "/Fm2");
  EXPECT_EQ(read.objects.at(form), rules);
  EXPECT_EQ(read.objects.at(redForm), rules);
  EXPECT_NE(read.dictionaries.at(form).find(
                "/Type /XObject /Subtype /Form /BBox [-30 -40 4928.333333 6976.666667]"),
            std::string::npos)
      << read.dictionaries.at(form);
  const std::string head = contents[0].substr(0, contents[0].size() - rules.size());
  EXPECT_EQ(contents[1], head + "/Fm1 Do\n");
  EXPECT_EQ(contents[2], head + "/Fm1 Do\n");
  EXPECT_EQ(contents[6], head + "/Fm1 Do\n");
  EXPECT_NE(contents[3].find("472 689 m\n"), std::string::npos);
  EXPECT_EQ(contents[4].find("Do"), std::string::npos);
  EXPECT_NE(contents[4].find("1 0 0 RG\n"), std::string::npos);
  EXPECT_EQ(contents[5].substr(contents[5].find("ET\n") + 3), "/Fm2 Do\n");
  EXPECT_EQ(contents[7].find("Do"), std::string::npos);
  EXPECT_EQ(contents[8].find("Do"), std::string::npos);
  EXPECT_EQ(contents[9].substr(contents[9].find("ET\n") + 3), "/Fm3 Do\n");
  EXPECT_EQ(contents[10].substr(contents[10].find("ET\n") + 3), "/Fm4 Do\n");
  EXPECT_EQ(contents[11].find("Do"), std::string::npos);
}

TEST(PdfDocument, AFaceThatMayNotBeEmbeddedIsRefused) {
  FakeFaces faces(0x0002);
  std::string pdf;
  PdfDocument document([&pdf](std::string_view bytes) { pdf += bytes; }, faces, 595, 842, 600, {});
  CanvasFont font;
  font.face = "Fake";
  document.PageCanvas().SetFont(font);
  EXPECT_THROW(document.PageCanvas().Text({0, 0}, "A"), Error);
}

}  // namespace
