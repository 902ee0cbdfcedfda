#include "view/pdf_document.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <numbers>
#include <optional>
#include <span>

#include "common/error.h"
#include "common/parallel.h"
#include "common/sjis.h"
#include "common/utf8.h"

namespace kestrova {

namespace {

void PutNumber(std::string& out, int64_t v);

// Numbers as PDF writes them: no exponent, at most six decimals, no "-0". Nothing on a
// page is anywhere near the largest a reader takes.
void PutNumber(std::string& out, double v) {
  if (!std::isfinite(v) || std::abs(v) >= 1e9) {
    throw Error("a number too large for a PDF was to be written");
  }
  // Most of a page's numbers are whole pixels.
  if (const double whole = std::trunc(v); whole == v) {
    PutNumber(out, static_cast<int64_t>(whole));
    return;
  }
  const int64_t millionths = std::llround(v * 1e6);
  const int64_t whole = millionths / 1'000'000;
  int64_t fraction = std::abs(millionths % 1'000'000);
  if (millionths < 0 && whole == 0) out += '-';
  PutNumber(out, whole);
  if (fraction == 0) return;
  char digits[6];
  for (int i = 5; i >= 0; --i, fraction /= 10)
    digits[i] = static_cast<char>('0' + fraction % 10);
  size_t length = 6;
  while (digits[length - 1] == '0')
    --length;
  out += '.';
  out.append(digits, length);
}

void PutNumber(std::string& out, int64_t v) {
  char buffer[24];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  out.append(buffer, end);
}

void PutNumber(std::string& out, int v) {
  PutNumber(out, static_cast<int64_t>(v));
}

// "n1 n2 ... op\n"
template <typename... Numbers>
void Op(std::string& out, const char* op, Numbers... numbers) {
  ((PutNumber(out, numbers), out += ' '), ...);
  out += op;
  out += '\n';
}

int WholePixels(double v) {
  return static_cast<int>(std::clamp(std::ceil(v), 0.0, 1e9));
}

void PutColour(std::string& out, Colour c, const char* op) {
  Op(out, op, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
}

std::string Deflate(std::string_view data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                Z_BEST_SPEED) != Z_OK) {
    throw Error("the PDF's page could not be compressed");
  }
  out.resize(size);
  return out;
}

void PutHex16(std::string& out, uint32_t v) {
  static const char kHex[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4)
    out += kHex[(v >> shift) & 0xF];
}

// A character as UTF-16BE in hexadecimal: a surrogate pair past the first plane.
void PutUtf16Hex(std::string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    PutHex16(out, 0xD800 + (cp >> 10));
    cp = 0xDC00 + (cp & 0x3FF);
  }
  PutHex16(out, cp);
}

// A text string of the document information in UTF-16BE with its byte order mark.
std::string TextString(std::string_view utf8) {
  std::string out = "<FEFF";
  for (size_t i = 0; i < utf8.size();)
    PutUtf16Hex(out, NextCodePoint(utf8, i));
  return out + ">";
}

// The code point of one code page 932 character.
char32_t CodePointOf(std::string_view cp932Char) {
  const std::string utf8 = Cp932ToUtf8(cp932Char);
  size_t at = 0;
  return utf8.empty() ? 0 : NextCodePoint(utf8, at);
}

// A code page 932 character's code: its byte, or its two bytes.
unsigned Code(std::string_view ch) {
  return ch.size() == 1
             ? static_cast<unsigned char>(ch[0])
             : (static_cast<unsigned char>(ch[0]) << 8) | static_cast<unsigned char>(ch[1]);
}

// A glyph number in a literal string: two bytes, those that are the string's
// parentheses, backslash or line ends escaped. Its length first.
std::array<char, 8> ShownNumber(uint16_t number) {
  std::array<char, 8> shown{};
  char* out = &shown[1];
  for (const char byte : {static_cast<char>(number >> 8), static_cast<char>(number & 0xFF)}) {
    if (byte == '(' || byte == ')' || byte == '\\' || byte == '\r' || byte == '\n') {
      *out++ = '\\';
      *out++ = byte == '\r' ? 'r' : byte == '\n' ? 'n' : byte;
    } else {
      *out++ = byte;
    }
  }
  shown[0] = static_cast<char>(out - &shown[1]);
  return shown;
}

// A face in the document: its glyphs for the code page 932 characters met so far and
// the glyphs drawn, numbered in the order they were first drawn (number 0 is the
// missing-glyph box), the subset embedded keeping those numbers.
struct DocumentFont {
  PdfFontFace* face = nullptr;
  std::vector<int32_t> glyphOf = std::vector<int32_t>(65536, -1);  // the face's, by code
  std::vector<int32_t> numberOf;        // by the face's glyph, -1 until drawn
  std::vector<uint16_t> glyphs{0};      // the face's glyph of each number
  std::vector<char32_t> characters{0};  // what each number stands for
  int firstObject = 0;                  // Type0 font, CID font, descriptor, file, ToUnicode
  std::string resource;                 // "/F1"

  std::vector<int32_t> advanceOf = std::vector<int32_t>(65536, -1);  // 1/64 px, by code
  // A character's number as a string shows it, by code: its length (0 until drawn),
  // then its bytes.
  using Shown = std::array<char, 8>;
  std::vector<Shown> shown = std::vector<Shown>(65536, Shown{});
  int advanceSize = 0;  // the pixel size advanceOf holds

  // The face's glyph of one character.
  uint16_t Glyph(std::string_view ch) {
    int32_t& g = glyphOf[Code(ch)];
    if (g < 0) g = face->Glyph(CodePointOf(ch));
    return static_cast<uint16_t>(g);
  }

  // The number a character is drawn with.
  uint16_t Number(std::string_view ch) {
    uint16_t g = Glyph(ch);
    if (g >= numberOf.size()) g = 0;  // a face's character map past its glyphs
    int32_t& n = numberOf[g];
    if (n < 0) {
      if (glyphs.size() > 0xFFFF) throw Error("the PDF's font has too many glyphs");
      n = static_cast<int32_t>(glyphs.size());
      glyphs.push_back(g);
      characters.push_back(CodePointOf(ch));
    }
    return static_cast<uint16_t>(n);
  }
};

}  // namespace

class PdfDocument::Impl : public Canvas, public TextMetrics {
 public:
  Impl(Output output, PdfFontFaces& faces, double widthPoints, double heightPoints, double dpi,
       Info info, PixelPoint origin)
      : output_(std::move(output)),
        faces_(faces),
        widthPoints_(widthPoints),
        heightPoints_(heightPoints),
        scale_(72.0 / dpi),
        origin_(origin),
        info_(std::move(info)) {
    Write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    offsets_.assign(kFirstPageObject, 0);
    BeginPage();
  }

  void NewPage() {
    EndPage();
    BeginPage();
  }

  int Finish() {
    EndPage();
    WritePages(true);
    WriteFonts();
    WriteObject(kResources, [&](std::string& o) {
      const auto named = [&o](const std::string& name, int object) {
        o += ' ' + name + ' ';
        PutNumber(o, object);
        o += " 0 R";
      };
      o += "<< /Font <<";
      for (const DocumentFont& f : fonts_)
        named(f.resource, f.firstObject);
      o += " >>";
      if (!forms_.empty()) {
        o += " /XObject <<";
        for (const Form& f : forms_)
          named(f.name, f.object);
        o += " >>";
      }
      o += " >>";
    });
    // The pages hang from nodes of at most kPagesInNode each: readers limit an array's
    // length, and a long list has tens of thousands of pages.
    const auto writeNode = [&](int n, std::span<const int> kids, int count, bool root) {
      WriteObject(n, [&](std::string& o) {
        o += root ? "<< /Type /Pages /Count " : "<< /Type /Pages /Parent 2 0 R /Count ";
        PutNumber(o, count);
        o += "\n/Kids [";
        for (size_t i = 0; i < kids.size(); ++i) {
          o += i % 10 == 0 ? '\n' : ' ';
          PutNumber(o, kids[i]);
          o += " 0 R";
        }
        o += "\n] >>";
      });
    };
    for (size_t i = 0; i < nodes_.size(); ++i) {
      const std::span<const int> kids =
          std::span<const int>(pageObjects_)
              .subspan(i * kPagesInNode,
                       std::min(kPagesInNode, pageObjects_.size() - i * kPagesInNode));
      writeNode(nodes_[i], kids, static_cast<int>(kids.size()), false);
    }
    writeNode(kPages, nodes_, static_cast<int>(pageObjects_.size()), true);
    WriteObject(kCatalog, [](std::string& o) { o += "<< /Type /Catalog /Pages 2 0 R >>"; });
    WriteObject(kInfo, [&](std::string& o) {
      o += "<< /Title " + TextString(info_.Title) + "\n/Creator " + TextString(info_.Creator) +
           "\n/Producer " + TextString(info_.Creator) + "\n/CreationDate (" + info_.CreationDate +
           ") >>";
    });
    std::string xref = "xref\n0 ";
    PutNumber(xref, static_cast<int64_t>(offsets_.size()));
    xref += "\n0000000000 65535 f \n";
    for (size_t n = 1; n < offsets_.size(); ++n) {
      char entry[24];
      std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                    static_cast<unsigned long long>(offsets_[n]));
      xref += entry;
    }
    xref += "trailer\n<< /Size ";
    PutNumber(xref, static_cast<int64_t>(offsets_.size()));
    xref += " /Root 1 0 R /Info 4 0 R >>\nstartxref\n";
    PutNumber(xref, static_cast<int64_t>(written_));
    xref += "\n%%EOF\n";
    Write(xref);
    return static_cast<int>(pageObjects_.size());
  }

  // --- Canvas ---
  void SetPen(const CanvasPen& pen) override { pen_ = pen; }
  void SetBrush(const CanvasBrush& brush) override { brush_ = brush; }
  void SetFont(const CanvasFont& font) override {
    if (font == font_ && current_) return;
    font_ = font;
    current_ = nullptr;
  }
  void SetTextColour(Colour colour) override { textColour_ = colour; }
  void SetTextBackground(bool opaque, Colour colour) override {
    opaque_ = opaque;
    background_ = colour;
  }

  // The Windows canvas draws a shape's outline inside its corners, the right and bottom
  // edges excluded, as the page canvas on screen does.
  void Ellipse(PixelPoint a, PixelPoint b) override {
    const double left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const double w = std::max(std::abs(b.x - a.x) - 1, 0), h = std::max(std::abs(b.y - a.y) - 1, 0);
    const double rx = w / 2, ry = h / 2, cx = left + rx, cy = top + ry;
    const double k = 0.5522847498307936;
    BeginShape(true);
    Op(content_, "m", cx + rx, cy);
    Op(content_, "c", cx + rx, cy + k * ry, cx + k * rx, cy + ry, cx, cy + ry);
    Op(content_, "c", cx - k * rx, cy + ry, cx - rx, cy + k * ry, cx - rx, cy);
    Op(content_, "c", cx - rx, cy - k * ry, cx - k * rx, cy - ry, cx, cy - ry);
    Op(content_, "c", cx + k * rx, cy - ry, cx + rx, cy - k * ry, cx + rx, cy);
    Paint(true);
  }
  void Rectangle(PixelPoint a, PixelPoint b) override {
    const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    BeginShape(true);
    Op(content_, "re", left, top, std::max(std::abs(b.x - a.x) - 1, 0),
       std::max(std::abs(b.y - a.y) - 1, 0));
    Paint(true);
  }
  void Polygon(std::span<const PixelPoint> points) override {
    if (points.empty()) return;
    BeginShape(true);
    Path(points);
    content_ += "h\n";
    Paint(true);
  }
  void Polyline(std::span<const PixelPoint> points) override {
    if (points.size() < 2) return;
    BeginShape(false);
    Path(points);
    Paint(false);
  }

  void Text(PixelPoint p, std::string_view cp932) override { PutText(p, cp932, nullptr); }
  void TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                Colour fillColour) override {
    const Halo halo{haloColour, std::max(haloWidth, 1)};
    const Colour text = textColour_;
    textColour_ = fillColour;
    PutText(p, cp932, &halo);
    textColour_ = text;
  }

  // Extents in whole pixels, as far as a pixel count goes (a font of odd metrics may
  // claim more).
  int TextWidth(std::string_view cp932) override { return WholePixels(Advance(cp932)); }
  int TextHeight(std::string_view) override {
    Current();
    return WholePixels(height_);
  }

  // --- TextMetrics (before and during the document alike) ---
  // Canvas and TextMetrics share SetFont, TextWidth and TextHeight.

 private:
  static constexpr size_t kPagesInBatch = 64;
  static constexpr size_t kPagesInNode = 256;
  static constexpr size_t kPageBytes = 32 * 1024;  // a full page of the list takes about 20
  static constexpr size_t kFormBytes = 1024;       // graphics worth a form of their own
  static constexpr size_t kForms = 16;
  static constexpr size_t kRecentPages = 4;  // whose graphics may yet become a form
  static constexpr int kCatalog = 1, kPages = 2, kResources = 3, kInfo = 4, kFirstPageObject = 5;

  struct Halo {
    Colour colour;
    int width;
  };

  void Write(std::string_view bytes) {
    output_(bytes);
    written_ += bytes.size();
  }

  int NewObject() {
    offsets_.push_back(0);
    return static_cast<int>(offsets_.size() - 1);
  }

  template <typename Body>
  void WriteObject(int n, Body body) {
    offsets_[static_cast<size_t>(n)] = written_;
    std::string o;
    PutNumber(o, n);
    o += " 0 obj\n";
    body(o);
    o += "\nendobj\n";
    Write(o);
  }

  void WriteStream(int n, std::string_view dictionary, std::string_view data) {
    offsets_[static_cast<size_t>(n)] = written_;
    std::string o;
    PutNumber(o, n);
    o += " 0 obj\n<< /Length ";
    PutNumber(o, static_cast<int64_t>(data.size()));
    o += ' ';
    o += dictionary;
    o += " >>\nstream\n";
    Write(o);
    Write(data);
    Write("\nendstream\nendobj\n");
  }

  void BeginPage() {
    content_.clear();
    content_.reserve(kPageBytes);
    inText_ = false;
    textFont_ = nullptr;
    textSize_ = 0;
    textStretch_ = 100;
    fill_ = stroke_ = Rgb(0, 0, 0);
    lineWidth_ = -1;
    dotted_ = false;
    // Device pixels, y downwards, from the origin on the sheet.
    Op(content_, "cm", scale_, 0, 0, -scale_, origin_.x * scale_,
       heightPoints_ - origin_.y * scale_);
    content_ += "2 J 0 j 2 M\n";
    MarkGraphics();
  }

  // What the graphics after a page's last text are drawn with: the same bytes from the
  // same state draw the same thing.
  struct GraphicsState {
    Colour fill, stroke;
    int lineWidth;
    bool dotted;
    bool operator==(const GraphicsState&) const = default;
  };

  // Where the page's last run of graphics begins.
  void MarkGraphics() {
    graphicsFrom_ = content_.size();
    graphicsState_ = {fill_, stroke_, lineWidth_, dotted_};
  }

  // A list's rules are the same on page after page. Graphics after a page's last text
  // that are one of the last few pages' again (a list of several column groups repeats
  // each group's rules every few pages) become a form, written once and painted by name
  // wherever they come again: half a list page's content, and more than half its
  // compressed bytes.
  struct Form {
    std::string content;
    GraphicsState state;
    std::string name;  // "/Fm1"
    int object;
  };

  struct Graphics {
    std::string content;
    GraphicsState state;
  };

  void ShareRepeatedGraphics() {
    const std::string_view graphics = std::string_view(content_).substr(graphicsFrom_);
    if (graphics.size() < kFormBytes) return;
    const auto same = [&](const std::string& content, const GraphicsState& state) {
      return state == graphicsState_ && content == graphics;
    };
    auto form = std::find_if(forms_.begin(), forms_.end(),
                             [&](const Form& f) { return same(f.content, f.state); });
    if (form == forms_.end()) {
      const auto seen = std::find_if(recent_.begin(), recent_.end(),
                                     [&](const Graphics& g) { return same(g.content, g.state); });
      if (seen == recent_.end()) {
        recent_.push_back({std::string(graphics), graphicsState_});
        if (recent_.size() > kRecentPages) recent_.pop_front();
        return;
      }
      if (forms_.size() == kForms) return;
      form =
          forms_.insert(forms_.end(), Form{std::move(seen->content), graphicsState_,
                                           "/Fm" + std::to_string(forms_.size() + 1), NewObject()});
      recent_.erase(seen);
      WriteForm(*form);
    }
    content_.resize(graphicsFrom_);
    content_ += form->name;
    content_ += " Do\n";
  }

  // In the page's device pixels, as the page's content draws: the sheet is its box.
  void WriteForm(const Form& form) {
    std::string dictionary = "/Type /XObject /Subtype /Form /BBox [";
    PutNumber(dictionary, -origin_.x);
    dictionary += ' ';
    PutNumber(dictionary, -origin_.y);
    dictionary += ' ';
    PutNumber(dictionary, widthPoints_ / scale_ - origin_.x);
    dictionary += ' ';
    PutNumber(dictionary, heightPoints_ / scale_ - origin_.y);
    dictionary += "] /Resources << >> /Filter /FlateDecode";
    WriteStream(form.object, dictionary, Deflate(form.content));
  }

  // The page's content is compressed on another core, a batch of pages at a time, while
  // the next batch is drawn; the pages are written in their order.
  void EndPage() {
    GraphicsMode();
    ShareRepeatedGraphics();
    drawn_.push_back(std::move(content_));
    content_ = std::string();
    if (drawn_.size() == kPagesInBatch) WritePages(false);
  }

  // A batch of pages being compressed. Whoever is free takes the next page: the helper
  // beside the drawing, and the drawing itself once it has drawn the next batch, so
  // that neither core waits while a page is left.
  struct Batch {
    std::vector<std::string> pages;
    std::atomic<size_t> next{0};
    Aside<void> helper;  // last: waited for before the pages go

    void Compress() {
      for (size_t i; (i = next.fetch_add(1)) < pages.size();)
        pages[i] = Deflate(pages[i]);
    }
  };

  void WritePages(bool all) {
    if (compressing_) {
      compressing_->Compress();
      compressing_->helper.get();
      for (const std::string& page : compressing_->pages)
        WritePage(page);
      compressing_.reset();
    }
    auto batch = std::make_unique<Batch>();
    batch->pages = std::move(drawn_);
    drawn_.clear();
    if (all) {
      batch->Compress();
      for (const std::string& page : batch->pages)
        WritePage(page);
      return;
    }
    batch->helper = RunAside([b = batch.get()] { b->Compress(); });
    compressing_ = std::move(batch);
  }

  void WritePage(std::string_view compressed) {
    if (pageObjects_.size() % kPagesInNode == 0) nodes_.push_back(NewObject());
    const int contents = NewObject();
    const int page = NewObject();
    WriteStream(contents, "/Filter /FlateDecode", compressed);
    WriteObject(page, [&](std::string& o) {
      o += "<< /Type /Page /Parent ";
      PutNumber(o, nodes_.back());
      o += " 0 R /MediaBox [0 0 ";
      PutNumber(o, widthPoints_);
      o += ' ';
      PutNumber(o, heightPoints_);
      o += "] /Resources 3 0 R /Contents ";
      PutNumber(o, contents);
      o += " 0 R >>";
    });
    pageObjects_.push_back(page);
  }

  void GraphicsMode() {
    if (!inText_) return;
    content_ += "ET\n";
    inText_ = false;
    MarkGraphics();
  }

  void FillColour(Colour c) {
    if (c == fill_) return;
    fill_ = c;
    PutColour(content_, c, "rg");
  }

  void StrokeWith(Colour c, int width, bool dotted) {
    if (c != stroke_) {
      stroke_ = c;
      PutColour(content_, c, "RG");
    }
    const bool widthChanged = width != lineWidth_;
    if (widthChanged) {
      lineWidth_ = width;
      Op(content_, "w", width);
    }
    // Dots are as long as the pen is wide, and twice that apart.
    if (dotted != dotted_ || (dotted && widthChanged)) {
      dotted_ = dotted;
      if (dotted) {
        content_ += '[';
        PutNumber(content_, width);
        content_ += ' ';
        PutNumber(content_, 2 * width);
        content_ += "] 0 d\n";
      } else {
        content_ += "[] 0 d\n";
      }
    }
  }

  // A list's page has hundreds of rules: the points are written in place.
  void Path(std::span<const PixelPoint> points) {
    constexpr size_t kPointBytes = 2 * 11 + 4;  // "-2147483648 -2147483648 l\n"
    const size_t from = content_.size();
    content_.resize(from + kPointBytes * points.size());
    char* at = content_.data() + from;
    for (size_t i = 0; i < points.size(); ++i) {
      at = std::to_chars(at, at + 11, points[i].x).ptr;
      *at++ = ' ';
      at = std::to_chars(at, at + 11, points[i].y).ptr;
      *at++ = ' ';
      *at++ = i == 0 ? 'm' : 'l';
      *at++ = '\n';
    }
    content_.resize(static_cast<size_t>(at - content_.data()));
  }

  // Strokes the path with the pen and, for a closed shape, fills it with the brush.
  // The pen and brush are set before the path begins: nothing but the path may stand
  // between its first point and its painting.
  void BeginShape(bool closed) {
    GraphicsMode();
    StrokeWith(pen_.colour, std::max(pen_.width, 1), pen_.style == PenStyle::kDot);
    if (closed && !brush_.hollow) FillColour(brush_.colour);
  }

  void Paint(bool closed) { content_ += closed && !brush_.hollow ? "B\n" : "S\n"; }

  // The font set, found when a text first needs it after it was set, with its size.
  DocumentFont& Current() {
    if (current_) return *current_;
    size_ = std::max(1, static_cast<int>(std::lround(font_.height)));
    stretch_ = 100;
    if (font_.width > 0) {
      const double stretch = 100.0 * font_.width / (size_ / 2.0);
      stretch_ = std::clamp(static_cast<int>(std::lround(stretch)), 1, 4000);
    }
    PdfFontFace& face = faces_.FaceOf(font_.face);
    ascent_ = face.Ascent(size_);
    height_ = face.Height(size_);
    for (DocumentFont& f : fonts_) {
      if (f.face == &face) return *(current_ = &f);
    }
    if (!face.Font().Embeddable()) {
      throw Error("the font " + face.PostScriptName() + " may not be embedded in a document");
    }
    DocumentFont& f = fonts_.emplace_back();
    f.face = &face;
    f.numberOf.assign(static_cast<size_t>(face.Font().GlyphCount()), -1);
    f.numberOf[0] = 0;
    f.resource = "/F" + std::to_string(fonts_.size());
    return *(current_ = &f);
  }

  // The text's advance in pixels: each glyph's design advance at the pixel size, in the
  // 1/64 pixel steps a window system's font engine keeps, stretched as the font asks.
  double Advance(std::string_view cp932) {
    DocumentFont& f = Current();
    const TrueTypeFont& font = f.face->Font();
    const int size = size_;
    if (f.advanceSize != size) {
      f.advanceSize = size;
      f.advanceOf.assign(f.advanceOf.size(), -1);
    }
    const double perUnit = size * 64.0 / font.UnitsPerEm();
    int64_t sixtyfourths = 0;
    for (size_t i = 0; i < cp932.size();) {
      const size_t n = std::min(SjisCharLength(cp932, i), cp932.size() - i);
      const std::string_view ch = cp932.substr(i, n);
      int32_t& advance = f.advanceOf[Code(ch)];
      if (advance < 0)
        advance = static_cast<int32_t>(std::lround(font.Advance(f.Glyph(ch)) * perUnit));
      sixtyfourths += advance;
      i += n;
    }
    return static_cast<double>(sixtyfourths) / 64.0 * stretch_ / 100.0;
  }

  void PutText(PixelPoint p, std::string_view cp932, const Halo* halo) {
    if (cp932.empty()) return;
    DocumentFont& f = Current();
    const int size = size_;
    const double ascent = ascent_;
    const bool turned = font_.escapement != 0;
    const double angle = font_.escapement / 10.0 * std::numbers::pi / 180.0;
    const double c = turned ? std::cos(angle) : 1.0, s = turned ? std::sin(angle) : 0.0;
    if (opaque_) {
      GraphicsMode();
      FillColour(background_);
      const double w = Advance(cp932), h = height_;
      content_ += "q\n";
      if (turned) {
        Op(content_, "cm", c, -s, s, c, p.x, p.y);
        Op(content_, "re", 0, 0, w, h);
      } else {
        Op(content_, "re", p.x, p.y, w, h);
      }
      content_ += "f\nQ\n";
    }
    if (halo) {
      GraphicsMode();
      StrokeWith(halo->colour, halo->width, false);
    }
    if (!inText_) {
      content_ += "BT\n";
      inText_ = true;
      lineStart_.reset();
    }
    FillColour(textColour_);
    if (textFont_ != &f || textSize_ != size) {
      textFont_ = &f;
      textSize_ = size;
      content_ += f.resource;
      content_ += ' ';
      Op(content_, "Tf", size);
    }
    if (stretch_ != textStretch_) {
      textStretch_ = stretch_;
      Op(content_, "Tz", textStretch_);
    }
    // The baseline's start: the ascent below the cell's top, turned with the text. An
    // upright text after an upright one moves there from the last one's start.
    const double x = p.x + ascent * s, y = p.y + ascent * c;
    const auto place = [&] {
      if (!turned && lineStart_) {
        Op(content_, "Td", x - lineStart_->first, lineStart_->second - y);
      } else {
        Op(content_, "Tm", c, -s, -s, -c, x, y);
      }
      lineStart_.reset();
      if (!turned) lineStart_.emplace(x, y);
    };
    place();
    // Two bytes a glyph, at most four with their escapes; room for four more, as each
    // character's bytes are copied four at a time.
    const size_t from = content_.size();
    content_.resize(from + 1 + 4 * cp932.size() + 4);
    char* out = content_.data() + from;
    *out++ = '(';
    for (size_t i = 0; i < cp932.size();) {
      const size_t n = std::min(SjisCharLength(cp932, i), cp932.size() - i);
      const std::string_view ch = cp932.substr(i, n);
      DocumentFont::Shown& shown = f.shown[Code(ch)];
      if (shown[0] == 0) shown = ShownNumber(f.Number(ch));
      std::memcpy(out, &shown[1], 4);
      out += shown[0];
      i += n;
    }
    content_.resize(static_cast<size_t>(out - content_.data()));
    content_ += ") Tj\n";
    if (halo) {
      // That was the outline; the glyphs go over it from the same place.
      const std::string glyphs = content_.substr(from);
      content_.insert(from, "1 Tr ");
      content_ += "0 Tr ";
      place();
      content_ += glyphs;
    }
  }

  void WriteFonts() {
    for (DocumentFont& f : fonts_) {
      f.firstObject = NewObject();
      for (int i = 0; i < 4; ++i)
        NewObject();
      const int n = f.firstObject;
      const TrueTypeFont& font = f.face->Font();
      // The subset's name carries a tag of six capitals drawn from its glyphs.
      uint32_t hash = 2166136261u;
      for (uint16_t g : f.glyphs)
        hash = (hash ^ g) * 16777619u;
      std::string name;
      for (int i = 0; i < 6; ++i, hash /= 26)
        name += static_cast<char>('A' + hash % 26);
      name += '+';
      for (char ch : f.face->PostScriptName()) {
        if (ch > ' ' && ch < 127 &&
            std::string_view("()<>[]{}/%#").find(ch) == std::string_view::npos)
          name += ch;
      }
      const double perUnit = 1000.0 / font.UnitsPerEm();
      WriteObject(n, [&](std::string& o) {
        o += "<< /Type /Font /Subtype /Type0 /BaseFont /" + name +
             " /Encoding /Identity-H\n/DescendantFonts [";
        PutNumber(o, n + 1);
        o += " 0 R] /ToUnicode ";
        PutNumber(o, n + 4);
        o += " 0 R >>";
      });
      WriteObject(n + 1, [&](std::string& o) {
        o += "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /" + name +
             "\n/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
             "\n/FontDescriptor ";
        PutNumber(o, n + 2);
        o += " 0 R /CIDToGIDMap /Identity\n/W [";
        o += "0 [";
        for (size_t i = 0; i < f.glyphs.size(); ++i) {
          o += i % 16 == 15 ? '\n' : ' ';
          PutNumber(o, font.Advance(f.glyphs[i]) * perUnit);
        }
        o += "]] >>";
      });
      WriteObject(n + 2, [&](std::string& o) {
        const int16_t* box = font.BoundingBox();
        o += "<< /Type /FontDescriptor /FontName /" + name + " /Flags 4\n/FontBBox [";
        for (int i = 0; i < 4; ++i) {
          PutNumber(o, box[i] * perUnit);
          o += i < 3 ? " " : "]";
        }
        o += " /ItalicAngle 0 /Ascent ";
        PutNumber(o, font.Ascender() * perUnit);
        o += " /Descent ";
        PutNumber(o, font.Descender() * perUnit);
        o += " /CapHeight ";
        PutNumber(o, font.CapHeight() * perUnit);
        o += " /StemV 80 /FontFile2 ";
        PutNumber(o, n + 3);
        o += " 0 R >>";
      });
      const std::string subset = font.Subset(f.glyphs);
      std::string dictionary = "/Filter /FlateDecode /Length1 ";
      PutNumber(dictionary, static_cast<int64_t>(subset.size()));
      WriteStream(n + 3, dictionary, Deflate(subset));
      WriteStream(n + 4, "/Filter /FlateDecode", Deflate(ToUnicode(f)));
    }
  }

  static std::string ToUnicode(const DocumentFont& f) {
    std::string cmap =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    std::vector<uint16_t> mapped;
    for (size_t n = 1; n < f.characters.size(); ++n) {
      if (f.characters[n] != 0) mapped.push_back(static_cast<uint16_t>(n));
    }
    for (size_t i = 0; i < mapped.size(); i += 100) {
      const size_t end = std::min(mapped.size(), i + 100);
      PutNumber(cmap, static_cast<int64_t>(end - i));
      cmap += " beginbfchar\n";
      for (size_t k = i; k < end; ++k) {
        cmap += '<';
        PutHex16(cmap, mapped[k]);
        cmap += "> <";
        PutUtf16Hex(cmap, f.characters[mapped[k]]);
        cmap += ">\n";
      }
      cmap += "endbfchar\n";
    }
    cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    return cmap;
  }

  Output output_;
  PdfFontFaces& faces_;
  double widthPoints_, heightPoints_, scale_;
  PixelPoint origin_;
  Info info_;
  uint64_t written_ = 0;
  std::vector<uint64_t> offsets_;  // by object number
  std::vector<int> pageObjects_;
  std::vector<int> nodes_;          // of the page tree, below its root
  std::deque<DocumentFont> fonts_;  // a few faces; their addresses stay
  std::string content_;
  std::vector<std::string> drawn_;  // pages drawn, not yet compressed
  std::vector<Form> forms_;
  std::deque<Graphics> recent_;  // of the last pages whose graphics are not a form
  std::unique_ptr<Batch> compressing_;

  CanvasPen pen_;
  CanvasBrush brush_;
  CanvasFont font_;
  DocumentFont* current_ = nullptr;
  int size_ = 0;  // of the current font: pixels, stretch in percent, ascent and height
  int stretch_ = 100;
  double ascent_ = 0, height_ = 0;
  Colour textColour_ = 0;
  bool opaque_ = false;
  Colour background_ = Rgb(255, 255, 255);

  // What the page's content has set so far.
  bool inText_ = false;
  std::optional<std::pair<double, double>> lineStart_;  // of the last upright text
  DocumentFont* textFont_ = nullptr;
  int textSize_ = 0;
  int textStretch_ = 100;
  Colour fill_ = 0, stroke_ = 0;
  int lineWidth_ = -1;
  bool dotted_ = false;
  size_t graphicsFrom_ = 0;  // in content_
  GraphicsState graphicsState_{};
};

bool PdfCoverage::Covers(std::string_view cp932) {
  for (size_t i = 0; i < cp932.size();) {
    const size_t n = std::min(SjisCharLength(cp932, i), cp932.size() - i);
    const std::string_view ch = cp932.substr(i, n);
    uint8_t& known = known_[Code(ch)];
    if (known == 0) {
      const uint16_t g = face_.Glyph(CodePointOf(ch));
      known = g != 0 && g < face_.Font().GlyphCount() ? 1 : 2;
    }
    if (known == 2) return false;
    i += n;
  }
  return true;
}

PdfDocument::PdfDocument(Output output, PdfFontFaces& faces, double widthPoints,
                         double heightPoints, double dpi, Info info, PixelPoint origin)
    : impl_(std::make_unique<Impl>(std::move(output), faces, widthPoints, heightPoints, dpi,
                                   std::move(info), origin)) {}

PdfDocument::~PdfDocument() = default;

Canvas& PdfDocument::PageCanvas() {
  return *impl_;
}

TextMetrics& PdfDocument::Metrics() {
  return *impl_;
}

void PdfDocument::NewPage() {
  impl_->NewPage();
}

int PdfDocument::Finish() {
  return impl_->Finish();
}

}  // namespace kestrova
