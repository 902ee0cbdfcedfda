// Jw_cad's text conventions on the plot: one font per character, caret codes that switch
// attributes, colour and face, raised and overlaid characters, trailing stretch codes.

#include <array>
#include <cmath>
#include <vector>

#include "common/sjis.h"
#include "view/plot_draw.h"

namespace kestrova {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::string_view kMiddleDot = "\x81\x45";  // "・"
constexpr std::string_view kHalfDot = "\xa5";        // "･"

bool IsCaret(std::string_view ch) {
  return ch.size() == 1 && ch[0] == '^';
}

bool IsFull(std::string_view ch) {
  return ch.size() == 2;
}

double Normalised(double degrees) {
  if (degrees < 0) return degrees + 360;
  if (degrees >= 360) return degrees - 360;
  return degrees;
}

double Radians(double degrees) {
  return degrees * kPi / 180;
}

struct Attributes {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
};

Attributes StyleDefaults(int32_t style) {
  Attributes a;
  if (style >= 30000) {
    a.bold = a.italic = true;
  } else if (style >= 20000) {
    a.bold = true;
  } else if (style >= 10000) {
    a.italic = true;
  }
  return a;
}

// The characters of a text (a double-byte character is one), kept inline for the short
// texts labels are; the plot walks one per point on every redraw.
class CharList {
 public:
  explicit CharList(std::string_view text) : text_(text) {
    for (size_t pos = 0; pos < text.size();) {
      const size_t len = SjisCharLength(text, pos);
      if (size_ < kInline) {
        start_[size_] = static_cast<uint16_t>(pos);
        length_[size_] = static_cast<uint8_t>(len);
      } else {
        if (heap_.empty()) {
          for (size_t i = 0; i < kInline; ++i)
            heap_.push_back(text.substr(start_[i], length_[i]));
        }
        heap_.push_back(text.substr(pos, len));
      }
      ++size_;
      pos += len;
    }
  }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view operator[](size_t i) const {
    return heap_.empty() ? text_.substr(start_[i], length_[i]) : heap_[i];
  }
  std::string_view back() const { return (*this)[size_ - 1]; }
  void pop_back() {
    --size_;
    if (!heap_.empty()) heap_.pop_back();
  }

 private:
  static constexpr size_t kInline = 64;
  std::string_view text_;
  // Left uninitialised: only the first size_ entries are ever read.
  uint16_t start_[kInline];
  uint8_t length_[kInline];
  std::vector<std::string_view> heap_;
  size_t size_ = 0;
};

// One drawn item of the text, with the attributes in force.
struct TextOp {
  enum class Kind { kOrdinary, kRaised, kOverlay, kOverlayPair };
  Kind kind = Kind::kOrdinary;
  char code = 0;        // u c d, O n b B o
  std::string_view ch;  // empty: a code at the end of the text had no character
  Attributes attributes;
  Colour colour = 0;
  std::string_view face;
};

// Walks the text as the character loop does: codes change the state and draw nothing,
// every other step gives one item. Never looks past the last character.
template <typename Visit>
void WalkText(const CharList& chars, const JwTextParams& p, const PlotStyle& style, Visit&& visit) {
  const size_t n = chars.size();
  const Attributes defaults = StyleDefaults(p.styleCode);
  bool codes = true;
  TextOp state;
  state.attributes = defaults;
  state.colour = p.pen.colour;
  state.face = p.fontName;
  const auto at = [&chars, n](size_t k) { return k < n ? chars[k] : std::string_view(); };
  size_t i = 0;
  while (i < n) {
    if (IsCaret(chars[i]) && i + 1 < n && chars[i + 1].size() == 1) {
      const char k = chars[i + 1][0];
      if (codes || k == '%' || k == '*' || k == '^') {
        bool done = true;
        switch (k) {
          case '!':
            state.attributes.bold = true;
            break;
          case '/':
            state.attributes.italic = true;
            break;
          case '_':
            state.attributes.underline = true;
            break;
          case '-':
            state.attributes.strikeOut = true;
            break;
          case '#':
            state.attributes = defaults;
            break;
          case '\\':
            state.face = kGothicFaceNoSpace;
            break;
          case '&':
            state.face = p.fontName;
            break;
          case '%':
            codes = true;
            state.attributes = Attributes{};
            state.colour = p.pen.colour;
            state.face = p.fontName;
            break;
          case '*':
            codes = false;
            break;
          case '^':
            codes = true;
            break;
          default:
            done = false;
        }
        if (done) {
          i += 2;
          continue;
        }
        const std::string_view next = at(i + 2);
        if (k == '$') {
          if (next.size() == 1 && next[0] >= '1' && next[0] <= '9') {
            state.colour = ScreenColour(style, next[0] - '0');
            i += 3;
            continue;
          }
        } else if (k == 'u' || k == 'c' || k == 'd') {
          TextOp op = state;
          op.kind = TextOp::Kind::kRaised;
          op.code = k;
          op.ch = next;
          visit(op);
          i += 3;
          continue;
        } else if ((k == 'o' || k == 'b' || k == 'B' || k == 'n' || k == 'O') && i >= 1) {
          TextOp op = state;
          op.kind = TextOp::Kind::kOverlay;
          op.code = k;
          op.ch = next;
          visit(op);
          i += 3;
          continue;
        } else if (k == 'w' && i >= 1 && next.size() == 1) {
          const std::string_view after = at(i + 3);
          TextOp op = state;
          if (after.size() == 1) {
            op.kind = TextOp::Kind::kOverlayPair;
            op.ch = std::string_view(next.data(), 2);
            i += 4;
          } else {
            // A full-width character follows, or nothing: the one half-width character
            // is overlaid as by "^o".
            op.kind = TextOp::Kind::kOverlay;
            op.code = 'o';
            op.ch = next;
            i += 3;
          }
          visit(op);
          continue;
        }
      }
    }
    TextOp op = state;
    op.kind = TextOp::Kind::kOrdinary;
    op.ch = chars[i];
    visit(op);
    ++i;
  }
}

}  // namespace

bool DrawJwText(Canvas& canvas, const PlotViewState& view, const PlotStyle& style,
                const JwTextParams& p) {
  if (!ViewUsable(view)) return true;
  const auto clipped =
      ClipSegment(view, ToViewAxes(view, p.startX, p.startY), ToViewAxes(view, p.endX, p.endY));
  if (!clipped) return true;
  double W = p.width;
  double S = p.spacing;
  const double H = p.height;
  const double a = Normalised(p.angle);
  for (double v : {W, S, H, a, p.offsetX, p.offsetY}) {
    if (!std::isfinite(v)) return true;
  }
  const double cosA = a == 0 ? 1.0 : std::cos(Radians(a));
  const double sinA = a == 0 ? 0.0 : std::sin(Radians(a));
  const double ySign = view.YSign;
  const ScreenPoint s = ToScreen(view, ToViewAxes(view, p.startX, p.startY));
  const double x0 = s.x - sinA * (W - p.offsetX);
  const double y0 = s.y + cosA * (p.offsetY + H) * ySign;
  canvas.SetTextBackground(false, kPlotWhite);

  CharList chars(p.text);
  size_t bytes = p.text.size();
  const auto dropLast = [&chars, &bytes] {
    bytes -= chars.back().size();
    chars.pop_back();
  };

  // Trailing middle dots stretch the text by a full cell each, a trailing half-width dot
  // by half a cell; a trailing caret and digit 1..9 compress it by that many half cells.
  double D = 0;
  int dots = 0;
  while (!chars.empty() && (chars.back() == kMiddleDot || chars.back() == kHalfDot)) {
    ++dots;
    if (dots > 1 && chars.back() == kHalfDot) break;
    D += chars.back() == kMiddleDot ? 1.0 : 0.5;
    dropLast();
  }
  if (chars.size() >= 2 && IsCaret(chars[chars.size() - 2]) && chars.back().size() == 1 &&
      chars.back()[0] >= '1' && chars.back()[0] <= '9') {
    D = chars.back()[0] - '0';
    dropLast();
    dropLast();
    D = static_cast<double>(bytes) - D >= 2 ? -D : 0;
  }

  // Visible characters and half-width cells, as the loop below advances over them.
  double V = 0;
  double C = 0;
  if (D == 0) {
    // Nothing to stretch or compress: the counts are not needed.
  } else if (!chars.empty() && IsCaret(chars.back())) {
    V = static_cast<double>(chars.size());
    C = static_cast<double>(bytes);
  } else {
    WalkText(chars, p, style, [&V, &C](const TextOp& op) {
      if (op.kind == TextOp::Kind::kOrdinary) {
        V += 1;
        C += IsFull(op.ch) ? 2 : 1;
      } else if (op.kind == TextOp::Kind::kRaised) {
        V += 1;
        C += 1;
      }
    });
  }
  if (D < 0) {
    // Nothing is compressed when no cell would be left.
    const double d = -D;
    if (C > d) {
      W *= (C - d) / C;
      S *= (C - d) / C;
    }
  } else if (D > 0 && V > 1) {
    // The room of D full cells is spread over the gaps; a single character has none.
    S = ((V - 1 + D) * S + W * D) / (V - 1);
  }

  const Colour background = ScreenColour(style, 0);
  if (style.DrawOutLine == 2) {
    const double e = style.OutLineExpansion;
    const double b = Radians(Normalised(-a));
    const PixelPoint box[4] = {
        RoundPixels({x0 - e, y0 + e}),
        RoundPixels({x0 + e, y0 + e}),
        RoundPixels({x0 + e + std::sin(b) * H, y0 - e - std::cos(b) * H}),
        RoundPixels({x0 - e + std::sin(b) * H, y0 - e - std::cos(b) * H}),
    };
    canvas.SetPen(CanvasPen{background, 1, PenStyle::kSolid, PenMode::kCopy});
    canvas.SetBrush(CanvasBrush{false, background});
    canvas.Polygon(box);
  }

  const int escapement = RoundPixel(a * 10);
  const double halfW = W / 2;
  ScreenPoint cursor{x0, y0};
  ScreenPoint previousCell = cursor;
  bool previousHalf = false;
  double lastHeight = H;
  const auto advance = [&cursor, cosA, sinA, ySign](double by) {
    cursor.x += cosA * by;
    cursor.y += sinA * ySign * by;
  };
  // Each character has its font; the canvas is told only when it differs from the last
  // one this text set (a label's characters mostly share one).
  CanvasFont font;
  font.escapement = escapement;
  const char* faceSet = nullptr;
  bool fontSet = false;
  bool colourSet = false;
  Colour colour = 0;
  const auto draw = [&](const TextOp& op, std::string_view text, ScreenPoint at, double fontWidth,
                        double fontHeight) {
    lastHeight = fontHeight;
    // A font under one pixel would come out at the face's default size instead.
    if (text.empty() || !(fontHeight >= 1.0) || !(fontWidth >= 1.0)) return;
    const Attributes& f = op.attributes;
    if (!fontSet || faceSet != op.face.data() || font.height != fontHeight ||
        font.width != fontWidth || font.bold != f.bold || font.italic != f.italic ||
        font.underline != f.underline || font.strikeOut != f.strikeOut) {
      if (faceSet != op.face.data()) font.face.assign(op.face);
      faceSet = op.face.data();
      font.height = fontHeight;
      font.width = fontWidth;
      font.bold = f.bold;
      font.italic = f.italic;
      font.underline = f.underline;
      font.strikeOut = f.strikeOut;
      canvas.SetFont(font);
      fontSet = true;
    }
    if (!colourSet || colour != op.colour) {
      canvas.SetTextColour(op.colour);
      colour = op.colour;
      colourSet = true;
    }
    if (style.DrawOutLine == 1) {
      canvas.TextHalo(RoundPixels(at), text, background, 3, p.pen.colour);
    } else {
      canvas.Text(RoundPixels(at), text);
    }
  };

  canvas.BeginTextRun();
  WalkText(chars, p, style, [&](const TextOp& op) {
    const bool full = IsFull(op.ch);
    switch (op.kind) {
      case TextOp::Kind::kOrdinary:
        draw(op, op.ch, cursor, halfW, H);
        previousCell = cursor;
        previousHalf = !full;
        advance(full ? W + S : (W + S) / 2);
        break;
      case TextOp::Kind::kRaised: {
        const double a2 = Radians(Normalised(a + 250));
        double d = 0;
        double nudge = -5;
        if (op.code == 'c') {
          d = H / 1.8;
          nudge = 3;
        } else if (op.code == 'd') {
          d = H;
          nudge = 10;
        }
        const ScreenPoint at{cursor.x + std::cos(a2) * d / 2 + nudge,
                             cursor.y + std::sin(a2) * ySign * d / 2};
        draw(op, op.ch, at, full ? halfW / 2 : halfW, H / 2);
        previousCell = cursor;
        previousHalf = !full;
        advance((W + S) / 2);
        break;
      }
      case TextOp::Kind::kOverlay: {
        const double g = full ? W : halfW;
        const double h = full ? H : lastHeight;
        const bool narrow = previousHalf || full;
        ScreenPoint at = previousCell;
        if (op.code == 'b' || op.code == 'B') {
          const double k = op.code == 'b' ? (narrow ? 0.4 : 1.5) : (narrow ? 0.3 : 1.0);
          at.x += cosA * k * g / 2;
          at.y += sinA * ySign * k * g / 2;
          draw(op, op.ch, at, halfW, h);
        } else if (op.code == 'o') {
          const double fw = full ? halfW / 2.2 : halfW / 1.7;
          const double a2 = Radians(Normalised(a + 325));
          const double kx = previousHalf ? 1.5 : 3.0;
          const double ky = previousHalf ? 2.2 : 3.5;
          at.x += std::cos(a2) * kx * fw / 2;
          at.y += std::sin(a2) * ySign * ky * fw / 2;
          draw(op, op.ch, at, fw, H / 1.9);
        } else {
          draw(op, op.ch, at, halfW, h);
        }
        break;
      }
      case TextOp::Kind::kOverlayPair: {
        const double fw = halfW / 1.7;
        const double a2 = Radians(Normalised(a + 305));
        const ScreenPoint at{previousCell.x + std::cos(a2) * 2.2 * fw / 2,
                             previousCell.y + std::sin(a2) * ySign * 2.2 * fw / 2};
        draw(op, op.ch, at, fw, H / 2);
        break;
      }
    }
  });
  canvas.EndTextRun();
  return true;
}

}  // namespace kestrova
