#include "view/svg_canvas.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"
#include "common/sjis.h"
#include "view/font_faces.h"

namespace kestrova {

namespace {

void Num(std::string& out, double v) {
  // Three decimals are finer than any renderer places a pixel.
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
  body_ += " font-family=\"" + FontFamily(font_.face) + "\"";
  Attr(body_, "font-size", size);
  if (font_.bold) body_ += " font-weight=\"bold\"";
  if (font_.italic) body_ += " font-style=\"italic\"";
  if (font_.underline || font_.strikeOut) {
    body_ += " text-decoration=\"";
    if (font_.underline) body_ += "underline";
    if (font_.underline && font_.strikeOut) body_ += ' ';
    if (font_.strikeOut) body_ += "line-through";
    body_ += '"';
  }
  body_ += paint;
  body_ += '>';
  body_ += XmlEscape(Cp932ToUtf8(cp932));
  body_ += "</text>";
  if (moved) body_ += "</g>";
  body_ += '\n';
}

void SvgCanvas::Text(PixelPoint p, std::string_view cp932) {
  AppendText(p, cp932, " fill=\"" + SvgColour(textColour_) + "\"");
}

void SvgCanvas::TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                         Colour fillColour) {
  // The halo first, then the glyphs over it: renderers without paint-order agree.
  std::string halo = " fill=\"" + SvgColour(haloColour) + "\" stroke=\"" + SvgColour(haloColour) +
                     "\" stroke-linejoin=\"round\"";
  Attr(halo, "stroke-width", haloWidth);
  AppendText(p, cp932, halo);
  AppendText(p, cp932, " fill=\"" + SvgColour(fillColour) + "\"");
}

int SvgCanvas::TextWidth(std::string_view cp932) {
  return static_cast<int>(std::lround(HalfWidthCount(cp932) * CellWidth(font_)));
}

int SvgCanvas::TextHeight(std::string_view) {
  return static_cast<int>(std::lround(font_.height));
}

std::string SvgCanvas::Document() const {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  doc += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\"";
  Attr(doc, "width", width_);
  Attr(doc, "height", height_);
  doc += " viewBox=\"0 0 ";
  AppendInt(doc, width_);
  doc += ' ';
  AppendInt(doc, height_);
  doc += "\" shape-rendering=\"crispEdges\">\n";
  doc += body_;
  doc += "</svg>\n";
  return doc;
}

}  // namespace kestrova
