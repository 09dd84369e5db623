#pragma once

#include "skin/skin_layout.h"

#include <QIcon>
#include <QList>
#include <QPixmap>

class TEzRgnBtn;

/// The product's pictures, built into the program as resources under ":/skin/". Each comes in
/// two sets, "name.png" and "name@2x.png"; on a screen of more than one device pixel per unit the
/// finer set is taken (device pixel ratio 2, same size in units), so the skin stays sharp.
namespace SkinArt {

/// True when the screens call for the "@2x" pictures.
[[nodiscard]] bool wantsDoubleScale();
/// The picture at `path`, or its "@2x" twin with device pixel ratio 2 when the screen wants it.
[[nodiscard]] QImage picture(const QString& path);

[[nodiscard]] QPixmap mainFace();
[[nodiscard]] QPixmap splashFace();
[[nodiscard]] QPixmap updateWizardSide();
/// The built-in push-button skin, as THSSkinBtn uses it.
[[nodiscard]] QImage defaultSkin();

/// Resource path of one state picture; `state` indexes SkinLayout::kStateNames.
[[nodiscard]] QString regionButtonPath(SkinLayout::RegionButton button, int state);
/// The four state pictures in image-list order: idle, hover, pressed, disabled.
[[nodiscard]] QList<QPixmap> regionButtonImages(SkinLayout::RegionButton button);

/// Gives `button` its pictures, cuts it to the idle picture's outline and puts it in its place.
void setUpRegionButton(TEzRgnBtn* button, SkinLayout::RegionButton which);

}  // namespace SkinArt

namespace SkinArt {

/// The small pictures of the help button's menu.
enum class MenuPicture { Help, HomePage, LiveUpdate };
/// One of them, painted for the screen's density in the product's colours.
[[nodiscard]] QIcon menuIcon(MenuPicture which);

}  // namespace SkinArt
