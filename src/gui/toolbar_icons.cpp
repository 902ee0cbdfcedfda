#include "gui/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestrova {

namespace {

const QColor kOutline(60, 60, 60);
const QColor kPaper(255, 255, 255);
const QColor kBlue(30, 100, 190);
const QColor kGreen(40, 150, 60);
const QColor kRed(200, 40, 40);
const QColor kYellow(240, 200, 80);

QPen Pen(const QColor& colour, double width = 1.0) {
  QPen pen(colour, width);
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::RoundCap);
  return pen;
}

// A sheet with a folded corner, on the 16-unit grid.
void Sheet(QPainter& p, double left = 3.5, double right = 12.5) {
  QPainterPath path;
  path.moveTo(left, 1.5);
  path.lineTo(right - 3, 1.5);
  path.lineTo(right, 4.5);
  path.lineTo(right, 14.5);
  path.lineTo(left, 14.5);
  path.closeSubpath();
  p.setPen(Pen(kOutline));
  p.setBrush(kPaper);
  p.drawPath(path);
  p.drawPolyline(QPolygonF({{right - 3, 1.5}, {right - 3, 4.5}, {right, 4.5}}));
}

void PointMark(QPainter& p, QPointF at, const QColor& colour) {
  p.setPen(Pen(colour, 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(at, 1.6, 1.6);
  p.drawPoint(at);
}

void DrawIcon(QPainter& p, int index) {
  switch (index) {
    case 0: {  // new table: a fresh sheet with a plus
      Sheet(p);
      p.setPen(Pen(kGreen, 1.6));
      p.drawLine(QPointF(8, 7.5), QPointF(8, 12.5));
      p.drawLine(QPointF(5.5, 10), QPointF(10.5, 10));
      break;
    }
    case 1: {  // open: a folder
      p.setPen(Pen(QColor(150, 110, 20)));
      p.setBrush(kYellow);
      QPainterPath back;
      back.moveTo(1.5, 3.5);
      back.lineTo(6, 3.5);
      back.lineTo(7.5, 5);
      back.lineTo(13.5, 5);
      back.lineTo(13.5, 13.5);
      back.lineTo(1.5, 13.5);
      back.closeSubpath();
      p.drawPath(back);
      p.setBrush(QColor(250, 225, 130));
      p.drawPolygon(QPolygonF({{3.5, 7.5}, {15, 7.5}, {13.5, 13.5}, {1.5, 13.5}}));
      break;
    }
    case 2: {  // save: a disk
      p.setPen(Pen(QColor(20, 50, 110)));
      p.setBrush(kBlue);
      p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.2, 1.2);
      p.setBrush(kPaper);
      p.drawRect(QRectF(4, 1.5, 8, 5));
      p.setBrush(QColor(210, 220, 235));
      p.drawRect(QRectF(4, 9.5, 8, 5));
      p.setPen(Pen(kBlue, 1.4));
      p.drawLine(QPointF(9.5, 2.8), QPointF(9.5, 5));
      break;
    }
    case 3: {  // drawing save: a sheet with a parcel outline and points
      Sheet(p, 2.5, 13.5);
      p.setPen(Pen(kRed, 1.1));
      p.setBrush(Qt::NoBrush);
      const QPolygonF parcel({{4.5, 12.5}, {5.5, 6.5}, {10.5, 5.5}, {11.5, 11.5}});
      p.drawPolygon(parcel);
      for (const QPointF& corner : parcel) {
        p.setPen(Pen(kBlue, 2.2));
        p.drawPoint(corner);
      }
      break;
    }
    case 4: {  // transfer to Jw_win: an arrow into a window
      p.setPen(Pen(kOutline));
      p.setBrush(kPaper);
      p.drawRect(QRectF(6.5, 3.5, 8, 10));
      p.setBrush(kBlue);
      p.drawRect(QRectF(6.5, 3.5, 8, 2));
      PointMark(p, QPointF(11.5, 9.5), kRed);
      p.setPen(Pen(kGreen, 1.8));
      p.drawLine(QPointF(1.5, 9.5), QPointF(7.5, 9.5));
      p.drawPolyline(QPolygonF({{5, 7}, {7.5, 9.5}, {5, 12}}));
      break;
    }
    case 5: {  // print: a printer with a sheet
      p.setPen(Pen(kOutline));
      p.setBrush(kPaper);
      p.drawRect(QRectF(4.5, 1.5, 7, 5));
      p.setBrush(QColor(190, 190, 190));
      p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1);
      p.setBrush(kPaper);
      p.drawRect(QRectF(4.5, 10.5, 7, 4));
      p.setPen(Pen(kGreen, 1.2));
      p.drawPoint(QPointF(12.5, 8.5));
      p.setPen(Pen(QColor(120, 120, 120)));
      p.drawLine(QPointF(6, 12.5), QPointF(10, 12.5));
      break;
    }
    case 6: {  // options: three sliders
      for (int i = 0; i < 3; ++i) {
        const double y = 3.5 + 4.5 * i;
        p.setPen(Pen(kOutline, 1.2));
        p.drawLine(QPointF(2, y), QPointF(14, y));
        const double knob = i == 0 ? 5 : (i == 1 ? 10.5 : 7);
        p.setPen(Pen(QColor(20, 50, 110)));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(knob - 1.5, y - 2, 3, 4), 0.8, 0.8);
      }
      break;
    }
    case 7: {  // help: a question mark in a blue disc
      p.setPen(Pen(QColor(20, 50, 110)));
      p.setBrush(kBlue);
      p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
      QFont font;
      font.setPixelSize(11);
      font.setBold(true);
      p.setFont(font);
      p.setPen(Qt::white);
      p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case 8: {  // quit: an open door and an arrow leaving
      p.setPen(Pen(kOutline));
      p.setBrush(QColor(170, 120, 70));
      p.drawRect(QRectF(1.5, 1.5, 8, 13));
      p.setBrush(QColor(120, 80, 40));
      p.drawPolygon(QPolygonF({{1.5, 1.5}, {6, 3}, {6, 15.5}, {1.5, 14.5}}));
      p.setPen(Pen(kRed, 1.8));
      p.drawLine(QPointF(8.5, 8), QPointF(14.5, 8));
      p.drawPolyline(QPolygonF({{12, 5.5}, {14.5, 8}, {12, 10.5}}));
      break;
    }
    default: {  // the program: a point with its triangle mark on a sheet
      Sheet(p, 2.5, 13.5);
      p.setPen(Pen(kRed, 1.2));
      p.setBrush(Qt::NoBrush);
      p.drawPolygon(QPolygonF({{8, 5}, {11.5, 11.5}, {4.5, 11.5}}));
      p.setPen(Pen(kBlue, 2.4));
      p.drawPoint(QPointF(8, 9.3));
      break;
    }
  }
}

QIcon PaintedIcon(int index) {
  QIcon icon;
  for (int scale : {1, 2, 4}) {
    QPixmap pixmap(16 * scale, 16 * scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    DrawIcon(painter, index);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon ToolbarIcon(int index) {
  return PaintedIcon(index);
}

QIcon ProgramIcon() {
  return PaintedIcon(-1);
}

}  // namespace kestrova
