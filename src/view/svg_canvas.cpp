#include "view/svg_canvas.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"
#include "common/sjis.h"
#include "view/font_faces.h"
#include "view/plot_view.h"

namespace kestrova {

namespace {

void Num(std::string& out, double v) {
  // Nothing lies further out than a device pixel may (a NaN is 0): a number the document
  // cannot hold would make a viewer refuse the whole picture. Three decimals are finer
  // than any renderer places a pixel.
  v = std::isnan(v) ? 0.0 : std::clamp(v, -kPixelLimit, kPixelLimit);
  AppendGeneral(out, std::nearbyint(v * 1000) / 1000);
}

void Attr(std::string& out, std::string_view name, double v) {
  out += ' ';
  out += name;
  out += "=\"";
  Num(out, v);
  out += '"';
}

void Points(std::string& out, std::span<const PixelPoint> points) {
  out += " points=\"";
  for (size_t i = 0; i < points.size(); ++i) {
    if (i > 0) out += ' ';
    AppendInt(out, points[i].x);
    out += ',';
    AppendInt(out, points[i].y);
  }
  out += '"';
}

std::string FontFamily(std::string_view cp932Face) {
  const std::string_view installed = InstalledFaceFor(cp932Face);
  const std::string named = XmlEscape(Cp932ToUtf8(cp932Face));
  if (installed == "IPAPGothic" || installed == "IPAPMincho") {
    return std::string(installed) + ", '" + named + "', sans-serif";
  }
  if (!installed.empty()) return std::string(installed) + ", '" + named + "', monospace";
  // Any other face, then the Gothic face every plot label uses.
  return "'" + named + "', IPAGothic, monospace";
}

double CellWidth(const CanvasFont& f) {
  return f.width > 0 ? f.width : f.height / 2;
}

double ScaleX(const CanvasFont& f) {
  return f.width > 0 && f.height > 0 ? f.width / (f.height / 2) : 1.0;
}

size_t CodePoints(std::string_view utf8) {
  size_t n = 0;
  for (char ch : utf8)
    n += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
  return n;
}

constexpr double kDegrees = 3.14159265358979323846 / 180;

// The font's attributes of a <text> element.
void FontAttributes(std::string& out, const CanvasFont& f) {
  out += " font-family=\"" + FontFamily(f.face) + "\"";
  Attr(out, "font-size", f.height);
  if (f.bold) out += " font-weight=\"bold\"";
  if (f.italic) out += " font-style=\"italic\"";
  if (f.underline || f.strikeOut) {
    out += " text-decoration=\"";
    if (f.underline) out += "underline";
    if (f.underline && f.strikeOut) out += ' ';
    if (f.strikeOut) out += "line-through";
    out += '"';
  }
}

}  // namespace

std::string SvgColour(Colour c) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s = "#";
  for (uint32_t part : {RedOf(c), GreenOf(c), BlueOf(c)}) {
    s += kHex[part >> 4];
    s += kHex[part & 15];
  }
  return s;
}

std::string XmlEscape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    const auto u = static_cast<unsigned char>(ch);
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') {
          out += "\xEF\xBF\xBD";
        } else {
          out += ch;
        }
    }
  }
  return out;
}

SvgCanvas::SvgCanvas(int width, int height)
    : width_(std::max(width, 1)), height_(std::max(height, 1)) {
  body_ += "<rect x=\"0\" y=\"0\"";
  Attr(body_, "width", width_);
  Attr(body_, "height", height_);
  body_ += " fill=\"#ffffff\"/>\n";
}

SvgCanvas::SvgCanvas(int width, int height, Output output) : SvgCanvas(width, height) {
  output_ = std::move(output);
  body_.insert(0, Head());
}

void SvgCanvas::Flush(bool all) {
  if (!output_ || (!all && body_.size() < (size_t{1} << 20))) return;
  output_(body_);
  body_.clear();
}

void SvgCanvas::Finish() {
  body_ += "</svg>\n";
  Flush(true);
}

void SvgCanvas::AppendStroke(bool filled) {
  body_ += " stroke=\"" + SvgColour(pen_.colour) + "\"";
  Attr(body_, "stroke-width", std::max(pen_.width, 1));
  if (pen_.style == PenStyle::kDot) body_ += " stroke-dasharray=\"1 1\"";
  if (filled && !brush_.hollow) {
    body_ += " fill=\"" + SvgColour(brush_.colour) + "\"";
  } else {
    body_ += " fill=\"none\"";
  }
  body_ += "/>\n";
  Flush(false);
}

void SvgCanvas::Ellipse(PixelPoint tl, PixelPoint br) {
  body_ += "<ellipse";
  Attr(body_, "cx", (tl.x + br.x) / 2.0);
  Attr(body_, "cy", (tl.y + br.y) / 2.0);
  Attr(body_, "rx", std::abs(br.x - tl.x) / 2.0);
  Attr(body_, "ry", std::abs(br.y - tl.y) / 2.0);
  AppendStroke(true);
}

void SvgCanvas::Rectangle(PixelPoint tl, PixelPoint br) {
  body_ += "<rect";
  Attr(body_, "x", std::min(tl.x, br.x));
  Attr(body_, "y", std::min(tl.y, br.y));
  Attr(body_, "width", std::abs(br.x - tl.x));
  Attr(body_, "height", std::abs(br.y - tl.y));
  AppendStroke(true);
}

void SvgCanvas::Polygon(std::span<const PixelPoint> points) {
  body_ += "<polygon";
  Points(body_, points);
  AppendStroke(true);
}

void SvgCanvas::Polyline(std::span<const PixelPoint> points) {
  body_ += "<polyline";
  Points(body_, points);
  AppendStroke(false);
}

// A text with its cell's top-left corner at p. Turned or widened texts are placed in a
// group moved to p, so the rotation turns about p as on the other canvases.
void SvgCanvas::AppendText(PixelPoint p, std::string_view cp932, const std::string& paint) {
  const double size = font_.height;
  const double scaleX = font_.width > 0 && size > 0 ? font_.width / (size / 2) : 1.0;
  const bool moved = font_.escapement != 0 || std::fabs(scaleX - 1.0) > 1e-9;
  double x = p.x;
  double y = p.y;
  if (moved) {
    body_ += "<g transform=\"translate(";
    AppendInt(body_, p.x);
    body_ += ' ';
    AppendInt(body_, p.y);
    body_ += ')';
    if (font_.escapement != 0) {
      body_ += " rotate(";
      Num(body_, -font_.escapement / 10.0);
      body_ += ')';
    }
    if (std::fabs(scaleX - 1.0) > 1e-9) {
      body_ += " scale(";
      Num(body_, scaleX);
      body_ += " 1)";
    }
    body_ += "\">";
    x = 0;
    y = 0;
  }
  if (opaque_) {
    body_ += "<rect";
    Attr(body_, "x", x);
    Attr(body_, "y", y);
    Attr(body_, "width", HalfWidthCount(cp932) * (size / 2));
    Attr(body_, "height", size);
    body_ += " fill=\"" + SvgColour(background_) + "\"/>";
  }
  body_ += "<text xml:space=\"preserve\"";
  Attr(body_, "x", x);
  Attr(body_, "y", y + size * kIpaAscent);
  FontAttributes(body_, font_);
  body_ += paint;
  body_ += '>';
  body_ += XmlEscape(Cp932ToUtf8(cp932));
  body_ += "</text>";
  if (moved) body_ += "</g>";
  body_ += '\n';
  Flush(false);
}

void SvgCanvas::Text(PixelPoint p, std::string_view cp932) {
  std::string paint = " fill=\"" + SvgColour(textColour_) + "\"";
  if (inRun_ && !opaque_) {
    run_.push_back({p, Cp932ToUtf8(cp932), font_, std::move(paint)});
  } else {
    AppendText(p, cp932, paint);
  }
}

void SvgCanvas::TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                         Colour fillColour) {
  // The halo first, then the glyphs over it: renderers without paint-order agree.
  std::string halo = " fill=\"" + SvgColour(haloColour) + "\" stroke=\"" + SvgColour(haloColour) +
                     "\" stroke-linejoin=\"round\"";
  Attr(halo, "stroke-width", haloWidth);
  std::string fill = " fill=\"" + SvgColour(fillColour) + "\"";
  if (inRun_ && !opaque_) {
    const std::string utf8 = Cp932ToUtf8(cp932);
    haloRun_.push_back({p, utf8, font_, std::move(halo)});
    run_.push_back({p, utf8, font_, std::move(fill)});
  } else {
    AppendText(p, cp932, halo);
    AppendText(p, cp932, fill);
  }
}

void SvgCanvas::BeginTextRun() {
  EndTextRun();
  inRun_ = true;
}

void SvgCanvas::EndTextRun() {
  inRun_ = false;
  FlushRun(haloRun_);
  FlushRun(run_);
  haloRun_.clear();
  run_.clear();
}

// Consecutive characters in one font and paint share an element; a label without codes
// is one element.
void SvgCanvas::FlushRun(const std::vector<Glyph>& glyphs) {
  size_t begin = 0;
  for (size_t i = 1; i <= glyphs.size(); ++i) {
    if (i == glyphs.size() || !(glyphs[i].font == glyphs[begin].font) ||
        glyphs[i].paint != glyphs[begin].paint) {
      AppendRun(glyphs, begin, i);
      begin = i;
    }
  }
}

// Characters with their cells' top-left corners at their own points, each turned by the
// font's escapement about its corner: one element whose coordinate system is turned and
// widened about the first corner, each character placed by its own x and y.
void SvgCanvas::AppendRun(const std::vector<Glyph>& glyphs, size_t begin, size_t end) {
  if (begin >= end) return;
  const CanvasFont& f = glyphs[begin].font;
  const double size = f.height;
  const double scaleX = ScaleX(f);
  const bool turned = f.escapement != 0;
  const bool widened = std::fabs(scaleX - 1.0) > 1e-9;
  const PixelPoint origin = glyphs[begin].p;
  // From the page into the element's own coordinates: the inverse of the turn and widening.
  const double angle = f.escapement / 10.0 * kDegrees;
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  std::string xs;
  std::string ys;
  std::string text;
  for (size_t i = begin; i < end; ++i) {
    const Glyph& g = glyphs[i];
    double x = g.p.x;
    double y = g.p.y;
    if (turned || widened) {
      const double dx = g.p.x - origin.x;
      const double dy = g.p.y - origin.y;
      // + 0.0 keeps a negative zero out of the document.
      x = (dx * c - dy * s) / scaleX + 0.0;
      y = dx * s + dy * c + 0.0;
    }
    // A character of several code points takes the first position; the rest follow it.
    const size_t n = std::max<size_t>(CodePoints(g.utf8), 1);
    for (size_t k = 0; k < n; ++k) {
      if (!xs.empty()) {
        xs += ' ';
        ys += ' ';
      }
      if (k == 0) {
        Num(xs, x);
        Num(ys, y + size * kIpaAscent);
      } else {
        Num(xs, x + static_cast<double>(k) * size / 2);
        Num(ys, y + size * kIpaAscent);
      }
    }
    text += XmlEscape(g.utf8);
  }
  body_ += "<text xml:space=\"preserve\"";
  if (turned || widened) {
    body_ += " transform=\"translate(";
    AppendInt(body_, origin.x);
    body_ += ' ';
    AppendInt(body_, origin.y);
    body_ += ')';
    if (turned) {
      body_ += " rotate(";
      Num(body_, -f.escapement / 10.0);
      body_ += ')';
    }
    if (widened) {
      body_ += " scale(";
      Num(body_, scaleX);
      body_ += " 1)";
    }
    body_ += '"';
  }
  body_ += " x=\"" + xs + "\" y=\"" + ys + "\"";
  FontAttributes(body_, f);
  body_ += glyphs[begin].paint;
  body_ += '>';
  body_ += text;
  body_ += "</text>\n";
  Flush(false);
}

int SvgCanvas::TextWidth(std::string_view cp932) {
  return static_cast<int>(std::lround(HalfWidthCount(cp932) * CellWidth(font_)));
}

int SvgCanvas::TextHeight(std::string_view) {
  return static_cast<int>(std::lround(font_.height));
}

std::string SvgCanvas::Document() const {
  return Head() + body_ + "</svg>\n";
}

std::string SvgCanvas::Head() const {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  doc += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\"";
  Attr(doc, "width", width_);
  Attr(doc, "height", height_);
  doc += " viewBox=\"0 0 ";
  AppendInt(doc, width_);
  doc += ' ';
  AppendInt(doc, height_);
  doc += "\" shape-rendering=\"crispEdges\">\n";
  return doc;
}

}  // namespace kestrova
