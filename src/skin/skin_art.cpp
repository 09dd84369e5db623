#include "skin/skin_art.h"

#include "skin/button_skin.h"
#include "skin/ez_rgn_btn.h"

namespace SkinArt {

QPixmap mainFace() {
  return QPixmap(QStringLiteral(":/skin/main_face.png"));
}

QPixmap splashFace() {
  return QPixmap(QStringLiteral(":/skin/splash_face.png"));
}

QPixmap updateWizardSide() {
  return QPixmap(QStringLiteral(":/skin/update_side.png"));
}

QImage defaultSkin() {
  return QImage(TButtonSkin::kDefaultSkin);
}

QString regionButtonPath(SkinLayout::RegionButton button, int state) {
  return QStringLiteral(":/skin/%1_%2.png")
      .arg(QLatin1String(SkinLayout::regionButtonName(button)),
           QLatin1String(SkinLayout::kStateNames[size_t(state)]));
}

QList<QPixmap> regionButtonImages(SkinLayout::RegionButton button) {
  QList<QPixmap> images;
  for (int state = 0; state < int(SkinLayout::kStateNames.size()); ++state)
    images.append(QPixmap(regionButtonPath(button, state)));
  return images;
}

void setUpRegionButton(TEzRgnBtn* button, SkinLayout::RegionButton which) {
  button->setImageList(regionButtonImages(which));
  button->setPaintMode(TEzRgnBtn::pmCrop);
  button->setGeometry(SkinLayout::regionButtonPlace(which));
  button->setCursor(Qt::PointingHandCursor);
}

}  // namespace SkinArt
