#include "app/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

namespace lumet {

QImage DrawAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);

  // Rounded tile.
  QLinearGradient tile(0, 0, 0, 64);
  tile.setColorAt(0.0, QColor(38, 70, 118));
  tile.setColorAt(1.0, QColor(16, 30, 58));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 11, 11);

  // The low-resolution mosaic: 8 x 8 pixel blocks of a warm ramp.
  static const int kLevels[4][4] = {{40, 90, 150, 200}, {70, 130, 190, 230}, {110, 170, 220, 250}, {150, 200, 240, 255}};
  for (int by = 0; by < 4; ++by) {
    for (int bx = 0; bx < 4; ++bx) {
      const int v = kLevels[by][bx];
      painter.setBrush(QColor(v, v * 3 / 4, v / 3));
      painter.drawRect(QRectF(8 + bx * 8, 24 + by * 8, 8, 8));
    }
  }

  // The lens: a clear disc with a smooth version of the same ramp inside.
  const QPointF centre(38, 26);
  const double radius = 15;
  QPainterPath lens;
  lens.addEllipse(centre, radius, radius);
  QRadialGradient sharp(centre + QPointF(5, 5), radius * 1.6);
  sharp.setColorAt(0.0, QColor(255, 214, 120));
  sharp.setColorAt(1.0, QColor(150, 70, 30));
  painter.setBrush(sharp);
  painter.drawPath(lens);

  // Handle and rim.
  QPen handle(QColor(230, 230, 235), 6, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(handle);
  painter.drawLine(QPointF(49, 37), QPointF(57, 45));
  painter.setPen(QPen(QColor(240, 240, 245), 3.5));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(centre, radius, radius);
  // A highlight on the glass.
  painter.setPen(QPen(QColor(255, 255, 255, 150), 2, Qt::SolidLine, Qt::RoundCap));
  painter.drawArc(QRectF(centre.x() - 10, centre.y() - 10, 20, 20), 100 * 16, 60 * 16);
  painter.end();
  return image;
}

QIcon MakeAppIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
  return icon;
}

}  // namespace lumet
