#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "view/canvas.h"
#include "view/print_layout.h"
#include "view/truetype_font.h"

namespace kestrova {

// A TrueType face as a PDF draws with it: the font it embeds, the glyph of a character
// and the vertical metrics the page canvas of a window system gives the face, so that
// texts stand where they stand on paper.
class PdfFontFace {
 public:
  virtual ~PdfFontFace() = default;
  virtual const TrueTypeFont& Font() const = 0;
  virtual std::string PostScriptName() const = 0;
  // 0 (the missing-glyph box) when the face has no glyph for c.
  virtual uint16_t Glyph(char32_t c) = 0;
  // From a text cell's top to the baseline, and the cell's height, in pixels, for a
  // font of pixelSize pixels.
  virtual double Ascent(int pixelSize) = 0;
  virtual double Height(int pixelSize) = 0;
};

// Finds the face a canvas font names (code page 932, e.g. "ＭＳ ゴシック"). Throws
// kestrova::Error when none can be embedded.
class PdfFontFaces {
 public:
  virtual ~PdfFontFaces() = default;
  virtual PdfFontFace& FaceOf(std::string_view cp932Face) = 0;
};

// Whether a face has a glyph for every character of the texts given, found once for
// each character: a text the face cannot draw needs a window system's font fallback.
class PdfCoverage {
 public:
  explicit PdfCoverage(PdfFontFace& face) : face_(face), known_(65536, 0) {}
  bool Covers(std::string_view cp932);

 private:
  PdfFontFace& face_;
  std::vector<uint8_t> known_;  // by character code: 0 not yet asked, 1 drawn, 2 missing
};

// Writes a PDF page by page while it is drawn: each page's content is handed to the
// output once the next page begins, and the document keeps nothing of it but where it
// went. Pages are drawn in the device's pixels (y downwards) at the given resolution;
// texts are the faces' glyphs, embedded as subsets once the last page is done. Texts
// are set in the face's own advances, as a window system's design metrics set them, and
// Metrics() measures them the same way. Graphics that follow a page's last text as they
// followed one of the last few pages' (a list's rules) are written once, as a form each
// page paints.
class PdfDocument {
 public:
  struct Info {
    std::string Title;         // UTF-8
    std::string Creator;       // UTF-8
    std::string CreationDate;  // "D:20261208054700Z"
  };
  using Output = std::function<void(std::string_view)>;

  // A page of widthPoints × heightPoints (1/72 inch) drawn at dpi device pixels an inch;
  // the device's pixel (0, 0) lies origin pixels right of and below the sheet's top-left
  // corner (a printer's margins).
  PdfDocument(Output output, PdfFontFaces& faces, double widthPoints, double heightPoints,
              double dpi, Info info, PixelPoint origin = {});
  ~PdfDocument();
  PdfDocument(const PdfDocument&) = delete;
  PdfDocument& operator=(const PdfDocument&) = delete;

  // The first page's canvas before the first NewPage.
  Canvas& PageCanvas();
  TextMetrics& Metrics();
  void NewPage();
  // Writes the last page, the fonts and the document's end. Returns the page count.
  int Finish();

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrova
