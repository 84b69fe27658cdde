#include "gui/desktop_art.h"

#include <QPainter>
#include <QPainterPath>

namespace pellan::gui {

namespace {

const QColor kDeepBlue(22, 74, 132);
const QColor kSky(96, 170, 224);
const QColor kPaper(250, 250, 246);

QPixmap Canvas(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// An arrow along the vertical axis of the rectangle, pointing up or down.
QPainterPath Arrow(const QRectF& r, bool up) {
  const qreal cx = r.center().x();
  const qreal shaft = r.width() * 0.18;
  const qreal head = r.height() * 0.42;
  QPainterPath p;
  if (up) {
    p.moveTo(cx, r.top());
    p.lineTo(r.right(), r.top() + head);
    p.lineTo(cx + shaft, r.top() + head);
    p.lineTo(cx + shaft, r.bottom());
    p.lineTo(cx - shaft, r.bottom());
    p.lineTo(cx - shaft, r.top() + head);
    p.lineTo(r.left(), r.top() + head);
  } else {
    p.moveTo(cx, r.bottom());
    p.lineTo(r.right(), r.bottom() - head);
    p.lineTo(cx + shaft, r.bottom() - head);
    p.lineTo(cx + shaft, r.top());
    p.lineTo(cx - shaft, r.top());
    p.lineTo(cx - shaft, r.bottom() - head);
    p.lineTo(r.left(), r.bottom() - head);
  }
  p.closeSubpath();
  return p;
}

}  // namespace

QPixmap LogoPixmap(int size) {
  QPixmap pixmap = Canvas(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // A folder-coloured tile with one arrow going up and one coming down:
  // files leave and arrive.
  QLinearGradient fill(0, 0, 0, s);
  fill.setColorAt(0, kSky);
  fill.setColorAt(1, kDeepBlue);
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
  p.setBrush(kPaper);
  p.drawPath(Arrow(QRectF(s * 0.16, s * 0.18, s * 0.32, s * 0.62), true));
  p.setBrush(QColor(255, 214, 102));
  p.drawPath(Arrow(QRectF(s * 0.52, s * 0.20, s * 0.32, s * 0.62), false));
  return pixmap;
}

QPixmap LoginPixmap(int size) {
  QPixmap pixmap = Canvas(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // A plug: a round body with two pins.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(46, 125, 50));
  p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.8, s * 0.8));
  p.setBrush(kPaper);
  p.drawRect(QRectF(s * 0.34, s * 0.26, s * 0.1, s * 0.22));
  p.drawRect(QRectF(s * 0.56, s * 0.26, s * 0.1, s * 0.22));
  p.drawRoundedRect(QRectF(s * 0.28, s * 0.46, s * 0.44, s * 0.2), s * 0.06, s * 0.06);
  p.drawRect(QRectF(s * 0.46, s * 0.64, s * 0.08, s * 0.14));
  return pixmap;
}

QPixmap ClosePixmap(int size) {
  QPixmap pixmap = Canvas(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(128, 0, 0));
  p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.8, s * 0.8));
  QPen cross(kPaper, s * 0.12, Qt::SolidLine, Qt::RoundCap);
  p.setPen(cross);
  p.drawLine(QPointF(s * 0.34, s * 0.34), QPointF(s * 0.66, s * 0.66));
  p.drawLine(QPointF(s * 0.66, s * 0.34), QPointF(s * 0.34, s * 0.66));
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(LogoPixmap(size));
  return icon;
}

}  // namespace pellan::gui
