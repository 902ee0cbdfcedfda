// A TrueType face made of arbitrary outlines and header fields, subset and embedded in a
// PDF whose texts are arbitrary code page 932 bytes in fonts of arbitrary sizes and
// turns. The face is refused with kestrova::Error or used; the subset's table directory
// lies inside the file; the PDF always ends with its trailer.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/error.h"
#include "fuzz_support.h"
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

class Face : public PdfFontFace {
 public:
  Face(const TrueTypeFont& font, int glyphs) : font_(font), glyphs_(glyphs) {}
  const TrueTypeFont& Font() const override { return font_; }
  std::string PostScriptName() const override { return "Fuzz (Face)/<>"; }
  // Some characters have no glyph, some a number past the face's last.
  uint16_t Glyph(char32_t c) override { return static_cast<uint16_t>(c % (glyphs_ + 2)); }
  double Ascent(int pixelSize) override { return pixelSize * 0.8; }
  double Height(int pixelSize) override { return pixelSize * 1.1; }

 private:
  const TrueTypeFont& font_;
  int glyphs_;
};

class Faces : public PdfFontFaces {
 public:
  explicit Faces(Face& face) : face_(face) {}
  PdfFontFace& FaceOf(std::string_view) override { return face_; }

 private:
  Face& face_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz::Require;
  fuzz::Bytes in(data, size);

  // The outlines: each glyph's bytes as the input gives them, offsets long or short.
  const int count = 1 + in.Byte() % 48;
  const bool longOffsets = in.Byte() % 2;
  std::string glyf, loca, hmtx;
  for (int g = 0; g < count; ++g) {
    loca += longOffsets ? Be32(static_cast<uint32_t>(glyf.size()))
                        : Be16(static_cast<uint32_t>(glyf.size() / 2));
    const uint8_t length = in.Byte() % 64;
    for (uint8_t i = 0; i < length; ++i)
      glyf += static_cast<char>(in.Byte());
    if (glyf.size() % 2) glyf += '\0';
    hmtx += Be16(in.Byte() * 8u) + Be16(in.Byte());
  }
  loca += longOffsets ? Be32(static_cast<uint32_t>(glyf.size()))
                      : Be16(static_cast<uint32_t>(glyf.size() / 2));
  std::map<std::string, std::string> tables = {
      {"head", Be32(0x00010000) + std::string(14, '\0') + Be16(1 + in.Byte() * 16u) +
                   std::string(16, '\0') + Be16(in.Byte()) + Be16(in.Byte()) + Be16(1000) +
                   Be16(900) + std::string(6, '\0') + Be16(longOffsets) + Be16(0)},
      {"hhea", Be32(0x00010000) + Be16(880) + Be16(0xFF88) + std::string(26, '\0') +
                   Be16(static_cast<uint32_t>(count))},
      {"maxp", Be32(0x00010000) + Be16(static_cast<uint32_t>(count)) + std::string(26, '\x7F')},
      {"hmtx", hmtx},
      {"loca", loca},
      {"glyf", glyf},
      {"OS/2", Be16(0) + std::string(6, '\0') + Be16(in.Byte() % 2 ? 0 : 0x0100)}};
  // Header fields the face disagrees with itself on, and tables cut short.
  for (uint8_t damage = in.Byte() % 4; damage > 0; --damage) {
    const char* tags[] = {"head", "hhea", "maxp", "hmtx", "loca", "glyf", "OS/2"};
    std::string& table = tables[tags[in.Byte() % 7]];
    const uint8_t at = in.Byte();
    if (in.Byte() % 2) {
      table.resize(std::min<size_t>(table.size(), at));
    } else if (at < table.size()) {
      table[at] = static_cast<char>(in.Byte());
    }
  }

  try {
    const TrueTypeFont font([&tables](std::string_view tag) {
      const auto it = tables.find(std::string(tag));
      return it == tables.end() ? std::string() : it->second;
    });
    std::vector<uint16_t> glyphs{0};
    for (uint8_t n = in.Byte() % 8; n > 0; --n)
      glyphs.push_back(in.Byte());
    const std::string subset = font.Subset(glyphs);
    Require(subset.size() >= 12);
    const size_t directory = 12 + 16 * ((static_cast<unsigned char>(subset[4]) << 8) |
                                        static_cast<unsigned char>(subset[5]));
    Require(directory <= subset.size());

    Face face(font, count);
    Faces faces(face);
    std::string pdf;
    PdfDocument document([&pdf](std::string_view bytes) { pdf += bytes; }, faces, 595, 842, 600,
                         {"fuzz", "fuzz", "D:20261208000000Z"});
    for (int page = 0; page < 3; ++page) {
      if (page > 0) document.NewPage();
      Canvas& canvas = document.PageCanvas();
      for (uint8_t texts = in.Byte() % 6; texts > 0; --texts) {
        CanvasFont f;
        f.face = "face";
        f.height = in.Byte();
        f.width = in.Byte() % 3 ? 0 : in.Byte();
        f.escapement = static_cast<int16_t>(in.Raw<uint16_t>());
        canvas.SetFont(f);
        canvas.SetTextBackground(in.Byte() % 2, Rgb(255, 255, 255));
        const PixelPoint p{static_cast<int16_t>(in.Raw<uint16_t>()),
                           static_cast<int16_t>(in.Raw<uint16_t>())};
        const std::string_view text = in.Text();
        document.Metrics().TextWidth(text);
        if (in.Byte() % 4 == 0) {
          canvas.TextHalo(p, text, Rgb(255, 255, 255), in.Byte() % 4, 0);
        } else {
          canvas.Text(p, text);
        }
      }
      const PixelPoint line[] = {{0, 0}, {in.Int() % 100000, in.Int() % 100000}};
      canvas.Polyline(line);
    }
    document.Finish();
    Require(pdf.size() > 7 && pdf.compare(pdf.size() - 6, 6, "%%EOF\n") == 0);
  } catch (const Error&) {
  }
  return 0;
}
