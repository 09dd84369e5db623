#include "skin/skin_face.h"

#include <QPainter>

#include <vector>

namespace SkinFace {

QSize boundedSize(int shape, QSizeF skinUnits, QSize asked) {
  const QSize skinSize = skinUnits.toSize();
  if (shape == kShapeEllipse) return {skinSize.width(), skinSize.height() / 4 + 1};
  return {asked.width(), (skinSize.height() - 4) / 4 + 1};
}

QImage build(const QImage& skin, int width, int shape, bool blendCorners, const QColor& parentColor,
             const QColor& faceColor) {
  if (skin.isNull() || width <= 0) return {};
  // A fine (@2x) skin is sliced in its own pixels and gives a face of the same fineness.
  const qreal ratio = skin.devicePixelRatio();
  if (ratio != 1.0) {
    QImage pixels = skin;
    pixels.setDevicePixelRatio(1.0);
    QImage face = build(pixels, qRound(width * ratio), shape, blendCorners, parentColor, faceColor);
    face.setDevicePixelRatio(ratio);
    return face;
  }
  const int skinWidth = skin.width();
  const int skinHeight = skin.height();
  QImage face(width, skinHeight, QImage::Format_RGB32);
  face.fill(faceColor);
  {
    QPainter painter(&face);
    const int s = skinWidth / 3;
    if (shape != kShapeEllipse && s > 0) {
      const QImage middle = skin.copy(s, 0, s, skinHeight);
      for (int x = 0; x < (width / s + 1) * s; x += s) painter.drawImage(x, 0, middle);
      painter.drawImage(0, 0, skin, 0, 0, s, skinHeight);
      painter.drawImage(width - s, 0, skin, skinWidth - s, 0, s, skinHeight);
    } else {
      // The ellipse, and any skin too narrow to slice, is copied as it stands.
      painter.drawImage(0, 0, skin);
    }
  }
  if (blendCorners) {
    const QRgb corner = face.pixel(0, 0);
    const QRgb fill = parentColor.rgb();
    const int band = skinHeight / 4;
    for (int b = 0; b < 4; ++b) {
      const int top = b * band;
      const int bottom = top + band - 1;
      for (const QPoint seed :
           {QPoint(0, top), QPoint(width - 1, top), QPoint(0, bottom), QPoint(width - 1, bottom)}) {
        if (face.pixel(seed) == corner) floodFill(&face, seed, fill);
      }
    }
  }
  return face;
}

int bandOffset(int faceHeight, bool enabled, bool hover, bool pressed) {
  if (!enabled) return faceHeight * 3 / 4;
  if (hover && pressed) return faceHeight / 2;
  if (hover) return faceHeight / 4;
  return 0;
}

QPainterPath clipPath(int shape, QSize size, bool pressed) {
  QPainterPath path;
  const int w = size.width(), h = size.height();
  if (shape == kShapeRounded) {
    if (pressed)
      path.addRoundedRect(QRectF(2, 1, w - 3, h - 2), 7, 7);
    else
      path.addRoundedRect(QRectF(1, 1, w - 2, h - 1), 7.5, 6);
  } else if (shape == kShapeEllipse) {
    path.addEllipse(QRectF(0, 0, w + 1, h + 1));
  }
  return path;
}

void floodFill(QImage* image, QPoint seed, QRgb fill) {
  if (!image->rect().contains(seed)) return;
  if (image->format() != QImage::Format_RGB32 && image->format() != QImage::Format_ARGB32)
    *image = image->convertToFormat(QImage::Format_ARGB32);
  const QRgb target = image->pixel(seed);
  if (target == fill) return;
  const int w = image->width(), h = image->height();
  std::vector<QPoint> stack{seed};
  while (!stack.empty()) {
    const QPoint p = stack.back();
    stack.pop_back();
    QRgb* row = reinterpret_cast<QRgb*>(image->scanLine(p.y()));
    if (row[p.x()] != target) continue;
    // Fill the run left and right, then queue the rows above and below it.
    int left = p.x(), right = p.x();
    while (left > 0 && row[left - 1] == target) --left;
    while (right < w - 1 && row[right + 1] == target) ++right;
    for (int x = left; x <= right; ++x) row[x] = fill;
    for (int y : {p.y() - 1, p.y() + 1}) {
      if (y < 0 || y >= h) continue;
      const QRgb* other = reinterpret_cast<const QRgb*>(image->constScanLine(y));
      for (int x = left; x <= right; ++x)
        if (other[x] == target && (x == left || other[x - 1] != target)) stack.emplace_back(x, y);
    }
  }
}

}  // namespace SkinFace
