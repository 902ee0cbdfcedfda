// The plot widget on Qt's offscreen platform: wheel, click, right click, painting.

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <cmath>

#include "app/flows.h"
#include "coords/output_settings.h"
#include "coords/point_table.h"
#include "gui/painter_canvas.h"
#include "gui/plot_widget.h"
#include "jww/header.h"
#include "jww/jwcad_settings.h"
#include "view/plot_draw.h"

namespace kestrova {

// The picture draw(canvas, round) leaves on a white image of width x height, drawn rounds
// times, each on a canvas of its own sharing one sprite cache; direct: with QPainter
// drawing every shape itself (a clip region keeps the canvas from using sprites).
template <class Draw>
QImage Drawn(int width, int height, bool direct, int rounds, const Draw& draw) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  if (direct) painter.setClipRect(image.rect());
  PainterCanvasCache cache;
  for (int round = 0; round < rounds; ++round) {
    PainterCanvas canvas(painter, &cache);
    draw(canvas, round);
  }
  painter.end();
  return image;
}

// A gothic face 10 pixels high, in red.
void SmallRedText(PainterCanvas& canvas) {
  CanvasFont font;
  font.face = std::string(kGothicFace);
  font.height = 10;
  font.width = 6;
  canvas.SetFont(font);
  canvas.SetTextColour(kPlotRed);
}

class PlotWidgetTest : public QObject {
  Q_OBJECT

 private:
  // Two points 100 apart in X and 300 in Y with survey axes in a 400 x 300 box: the
  // first lands on pixel (3.28, 215.57), the second on (396.72, 84.43).
  static void Load(Workspace& ws) {
    for (auto [x, y] : {std::pair{1000.0, 2000.0}, std::pair{1100.0, 2300.0}}) {
      SurveyPoint& p = AppendPoint(ws.Coords.Table);
      p.X = x;
      p.Y = y;
      p.Name = "P";
    }
    ComputeDataBounds(ws.Coords.Table, ws.Bounds);
    ws.View.MathAxes = false;
  }

  // The plot over those points (or none), shown; Ready() fits it once it is on screen.
  struct ShownPlot {
    explicit ShownPlot(bool withPoints = true, QSize size = {400, 300}) {
      if (withPoints) Load(ws);
      w.resize(size);
      w.show();
    }
    bool Ready() {
      if (!QTest::qWaitForWindowExposed(&w)) return false;
      w.FitToData();
      return true;
    }
    Workspace ws;
    PlotWidget w{ws};
  };

  static bool Near(const QImage& image, QPoint at, QColor colour) {
    for (int dy = -3; dy <= 3; ++dy)
      for (int dx = -3; dx <= 3; ++dx)
        if (image.pixelColor(at + QPoint(dx, dy)) == colour) return true;
    return false;
  }

 private slots:
  void wheelKeepsTheWorldPointUnderTheCursor() {
    ShownPlot plot;
    QVERIFY(plot.Ready());
    Workspace& ws = plot.ws;
    PlotWidget& w = plot.w;
    const double start = ws.View.ViewScale;
    const ViewPair under = ToWorld(ws.View, 100, 150);
    QSignalSpy grid(&w, &PlotWidget::GridEnabledChanged);
    const QPointF global = w.mapToGlobal(QPointF(100, 150));
    QWheelEvent up(QPointF(100, 150), global, QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QVERIFY(w.HandleWheel(&up));
    QCOMPARE(ws.View.ViewScale, start * 1.12);
    const ScreenPoint s = ToScreen(ws.View, under);
    QVERIFY(std::fabs(s.x - 100) < 1e-9 && std::fabs(s.y - 150) < 1e-9);
    // Half a notch waits for the other half.
    QWheelEvent half(QPointF(100, 150), global, QPoint(), QPoint(0, -60), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QVERIFY(w.HandleWheel(&half));
    QCOMPARE(ws.View.ViewScale, start * 1.12);
    QVERIFY(w.HandleWheel(&half));
    QCOMPARE(ws.View.ViewScale, start * 1.12 * 0.9);
    // The grid is left as it was; a wheel outside the plot is not the plot's.
    QCOMPARE(grid.count(), 0);
    QVERIFY(ws.GridEditable);
    QWheelEvent outside(QPointF(), w.mapToGlobal(QPointF(450, 150)), QPoint(), QPoint(0, 120),
                        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QVERIFY(!w.HandleWheel(&outside));
  }

  void clickPicksThePointAndTheGridFollows() {
    ShownPlot plot;
    QVERIFY(plot.Ready());
    Workspace& ws = plot.ws;
    PlotWidget& w = plot.w;
    QSignalSpy picks(&w, &PlotWidget::PickChanged);
    // A grid whose top row is 48: the pick of row 2 scrolls it back to the first row.
    w.SetGridMetricsProvider([] { return GridScrollMetrics{400, 20, 102, 48}; });
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(396, 85));
    QCOMPARE(picks.count(), 1);
    QCOMPARE(picks.at(0).at(0).toInt(), 2);
    QCOMPARE(picks.at(0).at(1).toInt(), 1);
    QCOMPARE(ws.Grid.PickedRow, 2);
    // The picked point is drawn red.
    QImage shot = w.grab().toImage();
    QVERIFY(Near(shot, QPoint(396, 84), ToQColor(kPlotRed)));
    QVERIFY(!Near(shot, QPoint(3, 215), ToQColor(kPlotRed)));
    QVERIFY(Near(shot, QPoint(3, 215), ToQColor(kPlotGreen)));
    // Nowhere near a point: nothing picked, nothing to scroll.
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(200, 150));
    QCOMPARE(picks.count(), 2);
    QCOMPARE(picks.at(1).at(0).toInt(), -1);
    QCOMPARE(picks.at(1).at(1).toInt(), -1);
    QCOMPARE(ws.Grid.PreviousPickedRow, 2);
  }

  void rightClickTogglesTheGrid() {
    ShownPlot plot;
    QVERIFY(plot.Ready());
    Workspace& ws = plot.ws;
    PlotWidget& w = plot.w;
    QSignalSpy grid(&w, &PlotWidget::GridEnabledChanged);
    QTest::mouseClick(&w, Qt::RightButton, {}, QPoint(50, 50));
    QTest::mouseClick(&w, Qt::RightButton, {}, QPoint(50, 50));
    QCOMPARE(grid.count(), 2);
    QCOMPARE(grid.at(0).at(0).toBool(), false);
    QCOMPARE(grid.at(1).at(0).toBool(), true);
    QVERIFY(ws.GridEditable);

    // With the grid disabled the keys reach the plot.
    const double top = ws.View.WindowTop;
    QKeyEvent upKey(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QVERIFY(w.HandleKey(&upKey));
    QCOMPARE(ws.View.WindowTop, top + ws.View.PanStep);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QVERIFY(!w.HandleKey(&other));
  }

  void aFitBeforeShowingUsesTheShownSize() {
    Workspace ws;
    Load(ws);
    PlotWidget w(ws);
    w.FitToData();
    w.resize(400, 300);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(ws.View.ViewScale, 400.0 / 305);
    QCOMPARE(ws.View.BoxWidth, 400.0);
  }

  void emptyTablePaintsWhiteAndIgnoresInput() {
    ShownPlot plot(false, {200, 100});
    QVERIFY(plot.Ready());
    PlotWidget& w = plot.w;
    QSignalSpy picks(&w, &PlotWidget::PickChanged);
    QTest::mouseMove(&w, QPoint(20, 20));
    QTest::mouseClick(&w, Qt::RightButton, {}, QPoint(20, 20));
    QCOMPARE(picks.count(), 0);
    QKeyEvent upKey(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QVERIFY(!w.HandleKey(&upKey));
    const QImage shot = w.grab().toImage();
    QCOMPARE(shot.pixelColor(10, 10), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(199, 99), QColor(Qt::white));
  }

  void painterCanvasDrawsJapaneseTextAndUndoesXor() {
    QCOMPARE(ResolveFontFace(kGothicFace), QStringLiteral("IPAGothic"));
    QCOMPARE(ResolveFontFace(kGothicFaceNoSpace), QStringLiteral("IPAGothic"));
    QCOMPARE(ResolveFontFace("\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e"),
             QStringLiteral("IPAPGothic"));
    QCOMPARE(QFontInfo(QFont(QStringLiteral("IPAGothic"))).family(), QStringLiteral("IPAGothic"));

    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      PainterCanvas canvas(painter);
      CanvasFont font;
      font.face = std::string(kGothicFace);
      font.height = 20;
      canvas.SetFont(font);
      canvas.SetTextColour(0);
      canvas.Text({5, 5}, "\x8b\xab");  // 境
      QVERIFY(canvas.TextWidth("\x8b\xab") >= 18 && canvas.TextWidth("\x8b\xab") <= 22);
    }
    int dark = 0;
    for (int y = 5; y < 25; ++y)
      for (int x = 5; x < 25; ++x)
        dark += image.pixelColor(x, y).lightness() < 128;
    QVERIFY2(dark > 40, "the glyph was drawn");

    const QImage before = image.copy();
    {
      QPainter painter(&image);
      PainterCanvas canvas(painter);
      DrawBand(canvas, {2, 2}, {50, 30});
      QVERIFY(image != before);
      DrawBand(canvas, {2, 2}, {50, 30});
    }
    QCOMPARE(image, before);
  }

  // A label with a halo in the background colour looks like the plain label: thin
  // strokes (the hyphen, the middle of the M) survive at label sizes.
  void haloedLabelKeepsItsStrokes() {
    const auto darkPixels = [](bool halo) {
      QImage image(70, 20, QImage::Format_RGB32);
      image.fill(Qt::white);
      {
        // What a canvas draws is all on the image once the canvas is gone.
        QPainter painter(&image);
        PainterCanvas canvas(painter);
        CanvasFont font;
        font.face = std::string(kGothicFace);
        font.height = 12;
        font.width = 6;
        canvas.SetFont(font);
        canvas.SetTextColour(0);
        for (int i = 0; i < 5; ++i) {  // one character at a time, as the plot draws
          const std::string ch(1, "KBM-1"[i]);
          if (halo) {
            canvas.TextHalo({4 + 7 * i, 4}, ch, 0xFFFFFF, 3, 0);
          } else {
            canvas.Text({4 + 7 * i, 4}, ch);
          }
        }
      }
      int dark = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
          dark += image.pixelColor(x, y).lightness() < 128;
      return dark;
    };
    const int plain = darkPixels(false);
    QVERIFY(plain > 30);
    QVERIFY2(darkPixels(true) * 10 >= plain * 9,
             qPrintable(QStringLiteral("%1 of %2").arg(darkPixels(true)).arg(plain)));
  }

  // Sprites must give exactly the pixels QPainter gives when it draws each shape itself
  // (a clip region keeps the canvas from using sprites).
  void spritesMatchDirectDrawing() {
    const auto draw = [](bool direct) {
      return Drawn(120, 60, direct, 2, [](PainterCanvas& canvas, int round) {
        // The second round draws from the cache.
        canvas.SetPen({kPlotBlue, 1, PenStyle::kSolid, PenMode::kCopy});
        canvas.SetBrush({true, 0xFFFFFF});
        canvas.Ellipse({10, 10}, {12, 12});
        canvas.Ellipse({20, 8}, {26, 14});
        canvas.SetBrush({false, kPlotGreen});
        canvas.Ellipse({30, 8}, {36, 14});
        canvas.Ellipse({-2, 50}, {4, 56});  // partly outside
        // A point's dot and circle, also as one sprite: over the filled brush, at the
        // edge, after a shape of the same pen that overlaps them, and a small circle
        // over a larger filled one.
        for (const PixelPoint at : {PixelPoint{50, 12}, PixelPoint{118, 2}, PixelPoint{52, 13}}) {
          canvas.EllipsePair({kPlotGreen, 1, PenStyle::kSolid, PenMode::kCopy},
                             {at.x - 1, at.y - 1}, {at.x + 1, at.y + 1}, {true, 0xFFFFFF},
                             {at.x - 3, at.y - 3}, {at.x + 3, at.y + 3});
          canvas.SetBrush({false, kPlotRed});
          canvas.EllipsePair({kPlotBlue, 1, PenStyle::kSolid, PenMode::kCopy}, {at.x - 4, at.y + 6},
                             {at.x + 4, at.y + 14}, {true, 0xFFFFFF}, {at.x - 2, at.y + 8},
                             {at.x + 2, at.y + 12});
          canvas.SetBrush({false, kPlotRed});
        }
        // A second shape too small to leave a pixel.
        canvas.EllipsePair({kPlotGreen, 1, PenStyle::kSolid, PenMode::kCopy}, {10, 30}, {12, 32},
                           {true, 0xFFFFFF}, {20, 30}, {21, 31});
        SmallRedText(canvas);
        canvas.Text({40 + 30 * round, 20}, "P1");
        canvas.Text({40 + 30 * round, 35}, "\x8b\xab");
        canvas.Text({115, 45}, "W");
      });
    };
    QCOMPARE(draw(false), draw(true));
  }

  // A dense site's dots and circles are copied on another thread a batch at a time, and
  // the sprite cache is emptied when full: texts and shapes drawn between them, and
  // shapes of more colours than the cache holds, must still land in the order drawn.
  void queuedSpritesKeepTheirOrder() {
    const auto draw = [](bool direct) {
      return Drawn(320, 200, direct, 1, [](PainterCanvas& canvas, int) {
        SmallRedText(canvas);
        uint32_t seed = 7;
        const auto next = [&seed](uint32_t n) {
          seed = seed * 1103515245u + 12345u;
          return static_cast<int>((seed >> 8) % n);
        };
        for (int i = 0; i < 70'000; ++i) {
          const PixelPoint at{next(330) - 5, next(210) - 5};
          // Mostly one colour, as a plot's points; a run of many, past the cache's room.
          const Colour colour = i >= 5'000 && i < 60'000 ? static_cast<Colour>(i) : kPlotBlue;
          canvas.EllipsePair({colour, 1, PenStyle::kSolid, PenMode::kCopy}, {at.x - 1, at.y - 1},
                             {at.x + 1, at.y + 1}, {true, 0xFFFFFF}, {at.x - 3, at.y - 3},
                             {at.x + 3, at.y + 3});
          if (i % 997 == 0) canvas.Text(at, "P1");
          if (i % 1499 == 0) canvas.Ellipse({at.x, at.y}, {at.x + 9, at.y + 9});
        }
      });
    };
    QCOMPARE(draw(false), draw(true));
  }

  // A site's parcel sides and polylines are drawn on a layer of their own while its
  // points are drawn and their sprites copied on another thread (more than a batch of
  // them, the second time from the sprites the first time made): the sides must still lie
  // over the points and their names, under the parcels' labels, exactly as when drawn in
  // turn.
  void aSitesSidesLieOverItsPointsAsWhenDrawnInTurn() {
    uint32_t seed = 11;
    const auto next = [&seed](uint32_t n) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 8) % n;
    };
    CoordinateData data;
    constexpr uint32_t kPoints = 20'000;
    for (uint32_t i = 0; i < kPoints; ++i) {
      SurveyPoint& p = AppendPoint(data.Table);
      p.X = next(8000) / 100.0;
      p.Y = next(12000) / 100.0;
      p.Name = "P" + std::to_string(i + 1);
      p.Marked = i % 3 == 0 ? 1 : 0;
    }
    // Long sides, and short ones of a pixel or none, as a whole site fitted in shows.
    for (int i = 0; i < 3000; ++i) {
      const SurveyPoint& a = data.Table.Points[1 + next(kPoints)];
      const SurveyPoint& b = data.Table.Points[1 + next(kPoints)];
      const double bx = i % 2 ? a.X + (next(5) - 2.0) * 0.2 : b.X;
      const double by = i % 2 ? a.Y + (next(5) - 2.0) * 0.2 : b.Y;
      data.Sima.SimaLines.push_back({a.X, a.Y, bx, by, 1, static_cast<uint16_t>(1 + next(8) / 3)});
    }
    for (int i = 0; i < 60; ++i) {
      data.Sima.SimaTexts.push_back({next(8000) / 100.0, next(12000) / 100.0,
                                     "\x92\x6e" + std::to_string(i), 3, i % 2 ? 30.0 : 0.0});
    }
    DataBounds bounds;
    ComputeDataBounds(data.Table, bounds);
    PlotViewState view;
    FitView(view, bounds, data.Table.PointCount, 320, 200);
    JwwHeader header;
    SetFixedHeaderValues(header);
    const PlotStyle style = PlotStyleFrom(header, JwCadExtras{}, OutputSettings{});
    const auto draw = [&](bool direct) {
      return Drawn(320, 200, direct, 2,
                   [&](PainterCanvas& canvas, int) { DrawPlot(canvas, view, data, style, 7); });
    };
    QCOMPARE(draw(false), draw(true));
  }
};

}  // namespace kestrova

QTEST_MAIN(kestrova::PlotWidgetTest)
#include "plot_widget_test.moc"
