#include "skin/skin_art.h"

#include "skin/button_skin.h"
#include "skin/ez_rgn_btn.h"

#include <QGuiApplication>

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
