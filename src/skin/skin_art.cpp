#include "skin/skin_art.h"

#include "skin/button_skin.h"
#include "skin/ez_rgn_btn.h"

#include <QGuiApplication>
#include <QPainter>

namespace SkinArt {

bool wantsDoubleScale() {
  return qApp && qApp->devicePixelRatio() > 1.0;
}

QImage picture(const QString& path) {
  if (wantsDoubleScale()) {
    const qsizetype dot = path.lastIndexOf(u'.');
    const QString fine = dot < 0 ? path + QStringLiteral("@2x")
                                 : path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
    QImage image(fine);
    if (!image.isNull()) {
      image.setDevicePixelRatio(2.0);
      return image;
    }
  }
  return QImage(path);
}

QPixmap mainFace() {
  return QPixmap::fromImage(picture(QStringLiteral(":/skin/main_face.png")));
}

QPixmap splashFace() {
  return QPixmap::fromImage(picture(QStringLiteral(":/skin/splash_face.png")));
}

QPixmap updateWizardSide() {
  return QPixmap::fromImage(picture(QStringLiteral(":/skin/update_side.png")));
}

QImage defaultSkin() {
  return picture(TButtonSkin::kDefaultSkin);
}

QString regionButtonPath(SkinLayout::RegionButton button, int state) {
  return QStringLiteral(":/skin/%1_%2.png")
      .arg(QLatin1String(SkinLayout::regionButtonName(button)),
           QLatin1String(SkinLayout::kStateNames[size_t(state)]));
}

QList<QPixmap> regionButtonImages(SkinLayout::RegionButton button) {
  QList<QPixmap> images;
  for (int state = 0; state < int(SkinLayout::kStateNames.size()); ++state)
    images.append(QPixmap::fromImage(picture(regionButtonPath(button, state))));
  return images;
}

void setUpRegionButton(TEzRgnBtn* button, SkinLayout::RegionButton which) {
  button->setImageList(regionButtonImages(which));
  button->setPaintMode(TEzRgnBtn::pmCrop);
  button->setGeometry(SkinLayout::regionButtonPlace(which));
  button->setCursor(Qt::PointingHandCursor);
}

}  // namespace SkinArt

namespace SkinArt {

QIcon menuIcon(MenuPicture which) {
  const QColor teal(0x0B, 0x7C, 0x8F);
  const qreal ratio = wantsDoubleScale() ? 2.0 : 1.0;
  QPixmap pixmap(QSize(16, 16) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (which) {
    case MenuPicture::Help: {
      p.setPen(Qt::NoPen);
      p.setBrush(teal);
      p.drawEllipse(QRectF(1, 1, 14, 14));
      QFont font(QStringLiteral("DejaVu Sans"));
      font.setPixelSize(11);
      font.setBold(true);
      p.setFont(font);
      p.setPen(Qt::white);
      p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case MenuPicture::HomePage: {
      p.setPen(QPen(teal, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(Qt::NoBrush);
      p.drawPolyline(QPolygonF({QPointF(1.5, 8), QPointF(8, 2), QPointF(14.5, 8)}));
      p.setBrush(teal);
      p.drawRect(QRectF(4, 8, 8, 6.5));
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(7, 10.5, 2, 4));
      break;
    }
    case MenuPicture::LiveUpdate: {
      p.setPen(QPen(teal, 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 290 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(teal);
      p.drawPolygon(QPolygonF({QPointF(6.5, 0.5), QPointF(10.5, 3), QPointF(6.5, 6)}));
      break;
    }
  }
  p.end();
  return QIcon(pixmap);
}

}  // namespace SkinArt
