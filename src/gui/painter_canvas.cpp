#include "gui/painter_canvas.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainterPath>
#include <QPen>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "common/parallel.h"
#include "common/sjis.h"
#include "view/font_faces.h"

namespace kestrova {

QString ResolveFontFace(std::string_view cp932Face) {
  // Windows has Jw_cad's own faces; elsewhere they are drawn with their usual stand-ins.
  // The answer is kept per face: fonts are set for every text drawn.
  thread_local std::unordered_map<std::string, QString> resolved;
  const auto known = resolved.find(std::string(cp932Face));
  if (known != resolved.end()) return known->second;
  QString face = QString::fromStdString(Cp932ToUtf8(cp932Face));
  const std::string_view installed = InstalledFaceFor(cp932Face);
  if (!installed.empty() && !QFontDatabase::hasFamily(face)) {
    face = QString::fromLatin1(installed.data(), static_cast<qsizetype>(installed.size()));
  }
  resolved.emplace(std::string(cp932Face), face);
  return face;
}

QColor ToQColor(Colour c) {
  return QColor(static_cast<int>(RedOf(c)), static_cast<int>(GreenOf(c)),
                static_cast<int>(BlueOf(c)));
}

PainterCanvas::PainterCanvas(QPainter& painter, PainterCanvasCache* cache)
    : painter_(painter),
      ownCache_(cache ? nullptr : std::make_unique<PainterCanvasCache>()),
      cache_(cache ? *cache : *ownCache_) {
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing, false);
  QPaintDevice* device = painter_.device();
  if (device && device->devType() == QInternal::Image && !painter_.hasClipping() &&
      painter_.deviceTransform().isIdentity() && painter_.opacity() == 1.0) {
    auto* image = static_cast<QImage*>(device);
    if ((image->format() == QImage::Format_RGB32 ||
         image->format() == QImage::Format_ARGB32_Premultiplied) &&
        image->devicePixelRatio() == 1.0) {
      raster_ = image;
      bits_ = image->bits();
      stride_ = image->bytesPerLine();
      width_ = image->width();
      height_px_ = image->height();
      premultiplied_ = image->format() == QImage::Format_ARGB32_Premultiplied;
    }
  }
}

PainterCanvas::~PainterCanvas() {
  Sync();
  painter_.restore();
}

void PainterCanvas::SetPen(const CanvasPen& pen) {
  if (pen == pen_ && !shapeStateDirty_) return;
  pen_ = pen;
  shapeStateDirty_ = true;
}

void PainterCanvas::SetBrush(const CanvasBrush& brush) {
  if (brush == brush_) return;
  brush_ = brush;
  shapeStateDirty_ = true;
}

void PainterCanvas::SetFont(const CanvasFont& font) {
  if (font == font_ && !fontDirty_) return;
  font_ = font;
  fontDirty_ = true;
  fontGlyphs_ = nullptr;
  recent_.fill({});
}

void PainterCanvas::SetTextColour(Colour colour) {
  textColour_ = colour;
}

void PainterCanvas::SetTextBackground(bool opaque, Colour colour) {
  opaque_ = opaque;
  background_ = colour;
}

void PainterCanvas::ApplyShapeState() {
  if (!shapeStateDirty_) return;
  DrawPendingLines();
  QPen pen(ToQColor(pen_.colour));
  pen.setWidth(std::max(pen_.width, 1));
  pen.setStyle(pen_.style == PenStyle::kDot ? Qt::DotLine : Qt::SolidLine);
  pen.setJoinStyle(Qt::MiterJoin);
  painter_.setPen(pen);
  painter_.setBrush(brush_.hollow ? QBrush(Qt::NoBrush) : QBrush(ToQColor(brush_.colour)));
  painter_.setCompositionMode(pen_.mode == PenMode::kXor ? QPainter::RasterOp_SourceXorDestination
                                                         : QPainter::CompositionMode_SourceOver);
  shapeStateDirty_ = false;
}

// The Windows canvas draws the outline of a shape inside its corners, the right and bottom
// edges excluded; QPainter strokes one pixel further out.
QRect PainterCanvas::ShapeRect(PixelPoint a, PixelPoint b) const {
  const int left = std::min(a.x, b.x);
  const int top = std::min(a.y, b.y);
  const int w = std::abs(b.x - a.x);
  const int h = std::abs(b.y - a.y);
  return QRect(left, top, std::max(w - 1, 0), std::max(h - 1, 0));
}

void PainterCanvas::Ellipse(PixelPoint topLeft, PixelPoint bottomRight) {
  Sync();
  const QRect r = ShapeRect(topLeft, bottomRight);
  if (SmallEllipseFromSprite(r)) return;
  ApplyShapeState();
  painter_.drawEllipse(r);
}

void PainterCanvas::Rectangle(PixelPoint topLeft, PixelPoint bottomRight) {
  Sync();
  ApplyShapeState();
  painter_.drawRect(ShapeRect(topLeft, bottomRight));
}

void PainterCanvas::Polygon(std::span<const PixelPoint> points) {
  Sync();
  ApplyShapeState();
  QPolygon poly;
  poly.reserve(static_cast<qsizetype>(points.size()));
  for (const PixelPoint& p : points)
    poly << QPoint(p.x, p.y);
  painter_.drawPolygon(poly);
}

void PainterCanvas::Polyline(std::span<const PixelPoint> points) {
  if (raster_ && points.size() == 2 && pen_.width <= 1 && pen_.style == PenStyle::kSolid &&
      pen_.mode == PenMode::kCopy) {
    // A side whose ends are one pixel leaves none, as QPainter draws it.
    if (points[0] == points[1]) return;
    if (!queued_.empty() || copied_.valid()) Sync();
    ApplyShapeState();
    constexpr size_t kLineBatch = 4096;
    if (lines_.size() == kLineBatch) DrawPendingLines();
    lines_.emplace_back(points[0].x, points[0].y, points[1].x, points[1].y);
    return;
  }
  Sync();
  ApplyShapeState();
  // A plot's parcel sides come one at a time: those need no memory of their own.
  QPoint few[4];
  std::vector<QPoint> many;
  QPoint* line = few;
  if (points.size() > std::size(few)) {
    many.resize(points.size());
    line = many.data();
  }
  for (size_t i = 0; i < points.size(); ++i)
    line[i] = QPoint(points[i].x, points[i].y);
  painter_.drawPolyline(line, static_cast<int>(points.size()));
}

namespace {
constexpr size_t kMaxConvertedTexts = 1u << 16;
}  // namespace

const QString& PainterCanvas::Unicode(std::string_view cp932) {
  auto& map = cache_.unicode;
  auto it = map.find(std::string(cp932));
  if (it == map.end()) {
    // Names repeat from one repaint to the next, a printed list's numbers hardly ever:
    // the texts of a million rows must not pile up here.
    if (map.size() >= kMaxConvertedTexts) map.clear();
    it = map.emplace(std::string(cp932), QString::fromStdString(Cp932ToUtf8(cp932))).first;
  }
  return it->second;
}

// The font's height is the cell's height, which for the IPA faces is the em; its width,
// when given, is that of a half-width character, half an em by the face's design.
QFont CanvasQFont(const CanvasFont& f, bool designMetrics) {
  QFont font(ResolveFontFace(f.face));
  if (designMetrics) font.setHintingPreference(QFont::PreferNoHinting);
  const int pixels = std::max(1, static_cast<int>(std::lround(f.height)));
  font.setPixelSize(pixels);
  if (f.width > 0) {
    const double stretch = 100.0 * f.width / (pixels / 2.0);
    font.setStretch(std::clamp(static_cast<int>(std::lround(stretch)), 1, 4000));
  }
  font.setWeight(f.bold ? QFont::Bold : QFont::Normal);
  font.setItalic(f.italic);
  font.setUnderline(f.underline);
  font.setStrikeOut(f.strikeOut);
  // Small plot texts stay crisp, and a character's pixels are all fully set, so a sprite
  // of it is copied without blending.
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

void PainterCanvas::UseDesignMetrics() {
  designMetrics_ = true;
  fontDirty_ = true;
}

void PainterCanvas::EnsureFont() {
  if (!fontDirty_) return;
  qfont_ = CanvasQFont(font_, designMetrics_);
  const QFontMetricsF metrics(qfont_);
  ascent_ = metrics.ascent();
  height_ = metrics.height();
  painter_.setFont(qfont_);
  fontDirty_ = false;
}

namespace {

// x * a / 255 on the four bytes of a premultiplied pixel at once.
uint32_t ByteMul(uint32_t x, uint32_t a) {
  uint32_t t = (x & 0xff00ff) * a;
  t = (t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8;
  t &= 0xff00ff;
  x = ((x >> 8) & 0xff00ff) * a;
  x = x + ((x >> 8) & 0xff00ff) + 0x800080;
  x &= 0xff00ff00;
  return x | t;
}

// The pixels QPainter left on a transparent sprite image, relative to origin.
PainterCanvasCache::Sprite SpriteOf(const QImage& image, QPoint origin) {
  PainterCanvasCache::Sprite sprite;
  sprite.left = sprite.top = std::numeric_limits<int>::max();
  sprite.right = sprite.bottom = std::numeric_limits<int>::min();
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (!(line[x] >> 24)) continue;
      const int dx = x - origin.x();
      const int dy = y - origin.y();
      PainterCanvasCache::Run* last = sprite.runs.empty() ? nullptr : &sprite.runs.back();
      if (last && last->dy == dy && last->dx + last->count == dx) {
        ++last->count;
      } else {
        sprite.runs.push_back({dx, dy, 1, sprite.argb.size()});
      }
      sprite.argb.push_back(line[x]);
      sprite.opaque = sprite.opaque && (line[x] >> 24) == 255;
      sprite.left = std::min(sprite.left, dx);
      sprite.top = std::min(sprite.top, dy);
      sprite.right = std::max(sprite.right, dx + 1);
      sprite.bottom = std::max(sprite.bottom, dy + 1);
    }
  }
  return sprite;
}

// Beyond this many sprites (a drawing full of rare characters) the cache starts afresh.
constexpr size_t kMaxSprites = 50000;
constexpr int kMaxSpriteShape = 64;

}  // namespace

void PainterCanvas::Blit(const PainterCanvasCache::Sprite& sprite, int x, int y) {
  if (sprite.runs.empty()) return;
  const int w = width_;
  const int h = height_px_;
  if (x + sprite.right <= 0 || y + sprite.bottom <= 0 || x + sprite.left >= w ||
      y + sprite.top >= h) {
    return;
  }
  const bool inside = x + sprite.left >= 0 && y + sprite.top >= 0 && x + sprite.right <= w &&
                      y + sprite.bottom <= h;
  uchar* bits = bits_;
  const qsizetype stride = stride_;
  const uint32_t opaque = premultiplied_ ? 0 : 0xff000000u;
  for (const PainterCanvasCache::Run& run : sprite.runs) {
    const int py = y + run.dy;
    int px = x + run.dx;
    int count = run.count;
    const uint32_t* src = sprite.argb.data() + run.first;
    if (!inside) {
      if (py < 0 || py >= h) continue;
      if (px < 0) {
        count += px;
        src -= px;
        px = 0;
      }
      count = std::min(count, w - px);
      if (count <= 0) continue;
    }
    uint32_t* dst = reinterpret_cast<uint32_t*>(bits + py * stride) + px;
    if (sprite.opaque) {
      for (int k = 0; k < count; ++k)
        dst[k] = src[k] | opaque;
      continue;
    }
    for (int k = 0; k < count; ++k) {
      const uint32_t alpha = src[k] >> 24;
      dst[k] = (alpha == 255 ? src[k] : src[k] + ByteMul(dst[k], 255 - alpha)) | opaque;
    }
  }
}

void PainterCanvas::Queue(const PainterCanvasCache::Sprite& sprite, int x, int y) {
  DrawPendingLines();
  constexpr size_t kBatch = 16384;
  queued_.push_back({&sprite, x, y});
  if (queued_.size() < kBatch) return;
  if (copied_.valid()) copied_.get();
  queued_.swap(copying_);
  queued_.clear();
  copied_ = RunAside([this] {
    for (const Copy& c : copying_)
      Blit(*c.sprite, c.x, c.y);
  });
}

void PainterCanvas::Sync() {
  if (copied_.valid()) copied_.get();
  for (const Copy& c : queued_)
    Blit(*c.sprite, c.x, c.y);
  queued_.clear();
  DrawPendingLines();
}

void PainterCanvas::DrawPendingLines() {
  if (lines_.empty()) return;
  painter_.drawLines(lines_.data(), static_cast<int>(lines_.size()));
  lines_.clear();
}

void PainterCanvas::Layered(const std::function<void(Canvas&)>& under,
                            const std::function<void(Canvas&)>& over) {
  QImage layer;
  if (raster_) layer = QImage(width_, height_px_, QImage::Format_ARGB32_Premultiplied);
  if (layer.isNull()) {
    Canvas::Layered(under, over);
    return;
  }
  layer.fill(Qt::transparent);
  // Where no thread takes it, the layer is drawn here after the picture, as a plain
  // canvas draws the two.
  Aside<void> drawing = RunAside([&] {
    QPainter painter(&layer);
    PainterCanvas canvas(painter);
    over(canvas);
  });
  under(*this);
  drawing.get();
  Sync();
  // Opaque pixels of the layer replace the picture's, transparent ones leave it.
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.drawImage(0, 0, layer);
  shapeStateDirty_ = true;
}

bool PainterCanvas::SpriteShape(const QRect& r) const {
  return raster_ && pen_.mode == PenMode::kCopy && pen_.style == PenStyle::kSolid &&
         pen_.width <= 1 && r.width() < kMaxSpriteShape && r.height() < kMaxSpriteShape;
}

// The slot of the recent shapes a key is kept in. The plot's dots and circles in their
// colours differ only in bits a plain fold would cancel out: mixed, they keep a slot each.
PainterCanvas::RecentShape& PainterCanvas::RecentSlot(const PainterCanvasCache::ShapeKey& key) {
  return recentShapes_[((key.a ^ (key.b << 1)) * 0x9E3779B97F4A7C15ull) >> 59 & 31];
}

void PainterCanvas::MakeRoomForSprites(size_t count) {
  if (cache_.spriteCount + count <= kMaxSprites) return;
  Sync();  // the sprites still to be copied go with the cache
  cache_.shapes.clear();
  cache_.glyphs.clear();
  cache_.spriteCount = 0;
  fontGlyphs_ = nullptr;
  recent_.fill({});
  recentShapes_.fill({});
}

const PainterCanvasCache::Sprite* PainterCanvas::EllipseSprite(const QRect& r,
                                                               const CanvasBrush& brush) {
  const PainterCanvasCache::ShapeKey key{(static_cast<uint64_t>(r.width()) << 40) |
                                             (static_cast<uint64_t>(r.height()) << 32) |
                                             (pen_.colour & 0xffffff),
                                         brush.hollow ? (1ull << 32) : (brush.colour & 0xffffff)};
  RecentShape& recent = RecentSlot(key);
  if (recent.key == key) return recent.sprite;
  auto it = cache_.shapes.find(key);
  if (it == cache_.shapes.end()) {
    MakeRoomForSprites(1);
    ++cache_.spriteCount;
    QImage image(r.width() + 3, r.height() + 3, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter p(&image);
      p.setPen(QPen(ToQColor(pen_.colour), 1));
      p.setBrush(brush.hollow ? QBrush(Qt::NoBrush) : QBrush(ToQColor(brush.colour)));
      p.drawEllipse(QRect(1, 1, r.width(), r.height()));
    }
    it = cache_.shapes.emplace(key, SpriteOf(image, QPoint(1, 1))).first;
  }
  // Found again or made, the key may now take another's slot.
  RecentSlot(key) = {key, &it->second};
  return &it->second;
}

bool PainterCanvas::SmallEllipseFromSprite(const QRect& r) {
  if (!SpriteShape(r)) return false;
  Blit(*EllipseSprite(r, brush_), r.x(), r.y());
  return true;
}

void PainterCanvas::EllipsePair(const CanvasPen& pen, PixelPoint firstTopLeft,
                                PixelPoint firstBottomRight, const CanvasBrush& brush,
                                PixelPoint secondTopLeft, PixelPoint secondBottomRight) {
  SetPen(pen);
  const QRect first = ShapeRect(firstTopLeft, firstBottomRight);
  const QRect second = ShapeRect(secondTopLeft, secondBottomRight);
  const int dx = second.x() - first.x();
  const int dy = second.y() - first.y();
  if (!SpriteShape(first) || !SpriteShape(second) || std::abs(dx) >= kMaxSpriteShape ||
      std::abs(dy) >= kMaxSpriteShape) {
    Canvas::EllipsePair(pen, firstTopLeft, firstBottomRight, brush, secondTopLeft,
                        secondBottomRight);
    return;
  }
  // Both shapes as one sprite: the second's pixels over the first's, as two copies leave
  // them when neither needs blending.
  const auto brushBits = [](const CanvasBrush& b) -> uint64_t {
    return b.hollow ? (1ull << 24) : (b.colour & 0xffffff);
  };
  const PainterCanvasCache::ShapeKey key{
      (1ull << 63) | (static_cast<uint64_t>(first.width()) << 50) |
          (static_cast<uint64_t>(first.height()) << 44) |
          (static_cast<uint64_t>(second.width()) << 38) |
          (static_cast<uint64_t>(second.height()) << 32) | (pen_.colour & 0xffffff),
      brushBits(brush_) | (brushBits(brush) << 25) |
          (static_cast<uint64_t>(dx + kMaxSpriteShape) << 50) |
          (static_cast<uint64_t>(dy + kMaxSpriteShape) << 57)};
  const PainterCanvasCache::Sprite* pair = nullptr;
  RecentShape& recent = RecentSlot(key);
  if (recent.key == key) {
    pair = recent.sprite;
  } else {
    auto it = cache_.shapes.find(key);
    if (it == cache_.shapes.end()) {
      MakeRoomForSprites(3);
      const PainterCanvasCache::Sprite* a = EllipseSprite(first, brush_);
      const PainterCanvasCache::Sprite* b = EllipseSprite(second, brush);
      PainterCanvasCache::Sprite joined;
      // A shape too small to leave a pixel has no bounds to join.
      if (a->opaque && b->opaque && !a->runs.empty() && !b->runs.empty()) {
        const int left = std::min(a->left, dx + b->left);
        const int top = std::min(a->top, dy + b->top);
        QImage image(std::max(a->right, dx + b->right) - left,
                     std::max(a->bottom, dy + b->bottom) - top,
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        for (const auto& [sprite, x, y] :
             {std::tuple{a, -left, -top}, std::tuple{b, dx - left, dy - top}}) {
          for (const PainterCanvasCache::Run& run : sprite->runs) {
            auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y + run.dy));
            std::copy_n(sprite->argb.data() + run.first, run.count, line + x + run.dx);
          }
        }
        joined = SpriteOf(image, QPoint(-left, -top));
      } else {
        joined.runs.clear();  // drawn one by one
        joined.opaque = false;
      }
      ++cache_.spriteCount;
      it = cache_.shapes.emplace(key, std::move(joined)).first;
    }
    pair = &it->second;
    RecentSlot(key) = {key, pair};
  }
  if (pair->runs.empty()) {
    Canvas::EllipsePair(pen, firstTopLeft, firstBottomRight, brush, secondTopLeft,
                        secondBottomRight);
    return;
  }
  SetBrush(brush);
  Queue(*pair, first.x(), first.y());
}

bool PainterCanvas::TextFromSprite(PixelPoint p, std::string_view cp932) {
  if (!raster_ || font_.escapement != 0 || opaque_ || cp932.size() > 4) return false;
  EnsureFont();
  if (!fontGlyphs_) {
    std::string name = qfont_.toString().toStdString();
    fontGlyphs_ = &cache_.glyphs[name];
  }
  uint64_t key = (static_cast<uint64_t>(textColour_ & 0xffffff) << 35) |
                 (static_cast<uint64_t>(cp932.size()) << 32);
  for (size_t i = 0; i < cp932.size(); ++i)
    key |= static_cast<uint64_t>(static_cast<unsigned char>(cp932[i])) << (8 * i);
  RecentGlyph& recent = recent_[(key ^ (key >> 29) ^ (key >> 35)) & 255];
  if (recent.key == key) {
    Queue(*recent.sprite, p.x, p.y);
    return true;
  }
  auto it = fontGlyphs_->find(key);
  if (it == fontGlyphs_->end()) {
    MakeRoomForSprites(1);
    if (!fontGlyphs_) fontGlyphs_ = &cache_.glyphs[qfont_.toString().toStdString()];
    ++cache_.spriteCount;
    const QString& text = Unicode(cp932);
    const QFontMetricsF metrics(qfont_);
    // Room for italic overhang, bold and the lines on either side.
    const int pad = static_cast<int>(std::ceil(height_ / 2)) + 2;
    QImage image(static_cast<int>(std::ceil(metrics.horizontalAdvance(text))) + 2 * pad,
                 static_cast<int>(std::ceil(height_)) + 2 * pad,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setFont(qfont_);
      painter.setPen(ToQColor(textColour_));
      painter.drawText(QPointF(pad, pad + ascent_), text);
    }
    it = fontGlyphs_->emplace(key, SpriteOf(image, QPoint(pad, pad))).first;
  }
  recent = {key, &it->second};
  Queue(it->second, p.x, p.y);
  return true;
}

// Texts are drawn in copy mode with the text colour as the painter's pen; the shapes'
// pen and mode are put back before the next shape.
void PainterCanvas::Text(PixelPoint p, std::string_view cp932) {
  if (cp932.empty()) return;
  if (TextFromSprite(p, cp932)) return;  // copied in turn with the shapes before it
  Sync();
  EnsureFont();
  const QString& text = Unicode(cp932);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  shapeStateDirty_ = true;
  const bool turned = font_.escapement != 0;
  if (turned) {
    painter_.save();
    painter_.translate(p.x, p.y);
    painter_.rotate(-font_.escapement / 10.0);
  }
  const QPointF origin = turned ? QPointF(0, 0) : QPointF(p.x, p.y);
  if (opaque_) {
    const double width = QFontMetricsF(qfont_).horizontalAdvance(text);
    painter_.fillRect(QRectF(origin, QSizeF(width, height_)), ToQColor(background_));
  }
  painter_.setPen(ToQColor(textColour_));
  painter_.drawText(QPointF(origin.x(), origin.y() + ascent_), text);
  if (turned) painter_.restore();
}

void PainterCanvas::TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                             Colour fillColour) {
  Sync();
  if (cp932.empty()) return;
  EnsureFont();
  const QString text = Unicode(cp932);
  QPainterPath path;
  path.addText(QPointF(0, ascent_), qfont_, text);
  painter_.save();
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.translate(p.x, p.y);
  if (font_.escapement != 0) painter_.rotate(-font_.escapement / 10.0);
  painter_.strokePath(path, QPen(ToQColor(haloColour), std::max(haloWidth, 1), Qt::SolidLine,
                                 Qt::RoundCap, Qt::RoundJoin));
  // The glyphs themselves as text, not as the filled outline: without anti-aliasing a
  // filled outline loses the strokes thinner than a pixel (a hyphen, the middle of an M)
  // at label sizes, and the halo is all that is left of them.
  painter_.setFont(qfont_);
  painter_.setPen(ToQColor(fillColour));
  painter_.drawText(QPointF(0, ascent_), text);
  painter_.restore();
  shapeStateDirty_ = true;
}

int PainterCanvas::TextWidth(std::string_view cp932) {
  EnsureFont();
  return static_cast<int>(std::ceil(QFontMetricsF(qfont_).horizontalAdvance(Unicode(cp932))));
}

int PainterCanvas::TextHeight(std::string_view) {
  EnsureFont();
  return static_cast<int>(std::ceil(height_));
}

}  // namespace kestrova
