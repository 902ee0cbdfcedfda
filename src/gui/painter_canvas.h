#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/parallel.h"
#include "view/canvas.h"

namespace kestrova {

// The family Qt draws a face named in code page 932 with: the Windows faces Jw_cad and
// the settings name ("ＭＳ ゴシック", "ＭＳ Ｐゴシック", "ＭＳゴシック", the Mincho faces)
// resolve to the installed IPA fonts, any other name is used as it stands.
QString ResolveFontFace(std::string_view cp932Face);

QColor ToQColor(Colour c);

// The Qt font that draws a canvas font. With design metrics texts are not hinted, so
// they measure the same at every resolution (the printed list).
QFont CanvasQFont(const CanvasFont& font, bool designMetrics);

// Small shapes and single characters as QPainter drew them once, kept between drawings:
// a plot of many points repeats the same few dots, circles and characters. The plot
// widget keeps one for its whole life.
class PainterCanvasCache {
 public:
  // Runs of pixels along a row, relative to the drawing position.
  struct Run {
    int dx = 0;
    int dy = 0;
    int count = 0;
    size_t first = 0;  // into argb
  };
  struct Sprite {
    std::vector<Run> runs;
    std::vector<uint32_t> argb;                    // premultiplied
    int left = 0, top = 0, right = 0, bottom = 0;  // bounds of the runs, right and bottom past
    bool opaque = true;                            // no pixel needs blending
  };

 private:
  friend class PainterCanvas;
  struct ShapeKey {
    uint64_t a = 0;
    uint64_t b = 0;
    bool operator==(const ShapeKey&) const = default;
  };
  struct ShapeHash {
    size_t operator()(const ShapeKey& k) const {
      return std::hash<uint64_t>()(k.a * 0x9E3779B97F4A7C15ull ^ k.b);
    }
  };
  std::unordered_map<ShapeKey, Sprite, ShapeHash> shapes;
  // Per font (its description as text): character and colour -> sprite.
  std::map<std::string, std::unordered_map<uint64_t, Sprite>> glyphs;
  std::unordered_map<std::string, QString> unicode;  // code page 932 -> Qt
  size_t spriteCount = 0;
};

// A Canvas over a QPainter that is active on any paint device: the plot widget's cached
// image, the screen, a printer or a PDF. Shapes are drawn without antialiasing and with
// the outline inside the corners given, as the Windows canvas draws them; the XOR pen
// mode uses the raster operation (only raster devices such as QImage and widgets support
// it; drawing twice restores the pixels). On a plain 32-bit image without transform,
// small shapes and unturned characters are copied from sprites QPainter drew once.
class PainterCanvas final : public Canvas {
 public:
  explicit PainterCanvas(QPainter& painter, PainterCanvasCache* cache = nullptr);
  ~PainterCanvas() override;
  PainterCanvas(const PainterCanvas&) = delete;
  PainterCanvas& operator=(const PainterCanvas&) = delete;

  void SetPen(const CanvasPen& pen) override;
  void SetBrush(const CanvasBrush& brush) override;
  void SetFont(const CanvasFont& font) override;
  void SetTextColour(Colour colour) override;
  void SetTextBackground(bool opaque, Colour colour) override;
  void Ellipse(PixelPoint topLeft, PixelPoint bottomRight) override;
  void Rectangle(PixelPoint topLeft, PixelPoint bottomRight) override;
  void Polygon(std::span<const PixelPoint> points) override;
  void Polyline(std::span<const PixelPoint> points) override;
  void Text(PixelPoint p, std::string_view cp932) override;
  void TextHalo(PixelPoint p, std::string_view cp932, Colour haloColour, int haloWidth,
                Colour fillColour) override;
  int TextWidth(std::string_view cp932) override;
  int TextHeight(std::string_view cp932) override;
  void EllipsePair(const CanvasPen& pen, PixelPoint firstTopLeft, PixelPoint firstBottomRight,
                   const CanvasBrush& brush, PixelPoint secondTopLeft,
                   PixelPoint secondBottomRight) override;
  // On a plain image, over is drawn on another thread onto a transparent layer of the
  // image's size while under draws, and the layer is laid on the image after.
  void Layered(const std::function<void(Canvas&)>& under,
               const std::function<void(Canvas&)>& over) override;

  // Texts measured and placed by the faces' own advances rather than the ones hinted to
  // whole screen pixels, which differ between font engines: a page is then laid out the
  // same on every system.
  void UseDesignMetrics();

 private:
  void ApplyShapeState();
  void EnsureFont();
  const QString& Unicode(std::string_view cp932);
  QRect ShapeRect(PixelPoint topLeft, PixelPoint bottomRight) const;
  struct RecentShape;
  bool SpriteShape(const QRect& r) const;
  RecentShape& RecentSlot(const PainterCanvasCache::ShapeKey& key);
  void MakeRoomForSprites(size_t count);
  const PainterCanvasCache::Sprite* EllipseSprite(const QRect& r, const CanvasBrush& brush);
  bool SmallEllipseFromSprite(const QRect& r);
  bool TextFromSprite(PixelPoint p, std::string_view cp932);
  void Blit(const PainterCanvasCache::Sprite& sprite, int x, int y);
  void Queue(const PainterCanvasCache::Sprite& sprite, int x, int y);
  void Sync();
  void DrawPendingLines();

  QPainter& painter_;
  bool designMetrics_ = false;
  std::unique_ptr<PainterCanvasCache> ownCache_;
  PainterCanvasCache& cache_;
  QImage* raster_ = nullptr;  // the image sprites may be copied into directly
  uchar* bits_ = nullptr;
  qsizetype stride_ = 0;
  int width_ = 0;
  int height_px_ = 0;
  bool premultiplied_ = false;
  // The last shapes drawn from sprites (a dot and a circle alternate for every point).
  struct RecentShape {
    PainterCanvasCache::ShapeKey key{~0ull, ~0ull};
    const PainterCanvasCache::Sprite* sprite = nullptr;
  };
  std::array<RecentShape, 32> recentShapes_{};
  // The sprites of the points' shapes and names are copied on another thread, in the
  // order they come, a batch at a time while the plot works out the next points; anything
  // else drawn (and the end of the canvas) waits until they are all copied.
  struct Copy {
    const PainterCanvasCache::Sprite* sprite;
    int x, y;
  };
  std::vector<Copy> queued_;
  // Plain one-pixel sides on a plain image, drawn together in the pen they were given:
  // one Qt call for a plot's many parcel sides rather than one each, the same pixels.
  std::vector<QLine> lines_;
  std::vector<Copy> copying_;
  Aside<void> copied_;  // after what it copies: it is waited for before they go
  CanvasPen pen_;
  CanvasBrush brush_;
  CanvasFont font_;
  QFont qfont_;
  double ascent_ = 0.0;
  double height_ = 0.0;
  bool fontDirty_ = true;
  std::unordered_map<uint64_t, PainterCanvasCache::Sprite>* fontGlyphs_ = nullptr;
  // The last sprites found for the current font, by a few bits of their key.
  struct RecentGlyph {
    uint64_t key = ~0ull;
    const PainterCanvasCache::Sprite* sprite = nullptr;
  };
  std::array<RecentGlyph, 256> recent_{};
  Colour textColour_ = 0;
  bool opaque_ = false;
  Colour background_ = 0xFFFFFF;
  bool shapeStateDirty_ = true;
};

}  // namespace kestrova
