#include "skin/skin_art.h"

#include "skin/button_skin.h"
#include "skin/ez_rgn_btn.h"

#include <gtest/gtest.h>

namespace {

using SkinLayout::RegionButton;

QSize units(const QPixmap& picture) {
  return picture.deviceIndependentSize().toSize();
}

/// The same sizes in units at every scale; a high-density screen gets the fine set.
TEST(SkinArt, PicturesHaveTheirSizes) {
  const qreal ratio = SkinArt::wantsDoubleScale() ? 2.0 : 1.0;
  for (const QPixmap& picture :
       {SkinArt::mainFace(), SkinArt::splashFace(), SkinArt::updateWizardSide()})
    EXPECT_EQ(picture.devicePixelRatio(), ratio);
  EXPECT_EQ(units(SkinArt::mainFace()), QSize(640, 470));
  EXPECT_EQ(units(SkinArt::splashFace()), QSize(500, 410));
  EXPECT_EQ(units(SkinArt::updateWizardSide()), QSize(116, 201));
  const QImage skin = SkinArt::defaultSkin();
  EXPECT_EQ(skin.deviceIndependentSize().toSize(), QSize(62, 100));
  EXPECT_EQ(skin.devicePixelRatio(), ratio);
  EXPECT_TRUE(TButtonSkin::isValidSkin(skin));
}

TEST(SkinArt, PlacesLieOnTheFaceAndDoNotOverlap) {
  const QRect face(QPoint(0, 0), SkinLayout::kMainFaceSize);
  EXPECT_TRUE(face.contains(SkinLayout::kMainPagePlace));
  for (RegionButton a : SkinLayout::kRegionButtons) {
    EXPECT_TRUE(face.contains(SkinLayout::regionButtonPlace(a)));
    EXPECT_FALSE(SkinLayout::regionButtonPlace(a).intersects(SkinLayout::kMainPagePlace));
    for (RegionButton b : SkinLayout::kRegionButtons) {
      const bool shared = (a == RegionButton::Next && b == RegionButton::Restart) ||
                          (a == RegionButton::Restart && b == RegionButton::Next);
      if (a != b && !shared) {
        EXPECT_FALSE(SkinLayout::regionButtonPlace(a).intersects(SkinLayout::regionButtonPlace(b)));
      }
    }
  }
  const QRect splash(QPoint(0, 0), SkinLayout::kSplashFaceSize);
  EXPECT_TRUE(SkinLayout::kSplashCard.contains(SkinLayout::kSplashAboutPanel));
  EXPECT_TRUE(SkinLayout::kSplashCard.contains(SkinLayout::kSplashButtonPanel));
  EXPECT_TRUE(splash.contains(SkinLayout::kSplashCard));
  EXPECT_EQ(SkinLayout::kSplashAboutPanel.top(), 320);
}

/// Every state picture fits its place and keys out exactly what the idle picture keys out,
/// so the outline cut from the idle picture suits every state.
TEST(SkinArt, RegionButtonStatesShareTheIdleOutline) {
  for (RegionButton which : SkinLayout::kRegionButtons) {
    const QList<QPixmap> images = SkinArt::regionButtonImages(which);
    ASSERT_EQ(images.size(), 4);
    const QRegion outline = TEzRgnBtn::cropRegion(images[0]);
    const QImage idle = images[0].toImage();
    EXPECT_EQ(idle.pixelColor(0, 0), QColor(255, 0, 255)) << SkinLayout::regionButtonName(which);
    EXPECT_FALSE(outline.isEmpty());
    // The clickable area is most of the button, not a few specks.
    const QRect place = SkinLayout::regionButtonPlace(which);
    qint64 area = 0;
    for (const QRect& r : outline) area += qint64(r.width()) * r.height();
    EXPECT_GT(area, qint64(place.width()) * place.height() * 3 / 4);
    for (const QPixmap& state : images) {
      EXPECT_EQ(units(state), place.size());
      EXPECT_EQ(TEzRgnBtn::cropRegion(state), outline) << SkinLayout::regionButtonName(which);
      // No key colour shows inside the outline, even in a fine picture's sub-unit pixels.
      const QImage pixels = state.toImage().convertToFormat(QImage::Format_RGB32);
      const int r = qRound(state.devicePixelRatio());
      int keyInside = 0;
      for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x)
          keyInside += outline.contains(QPoint(x / r, y / r)) && pixels.pixel(x, y) == 0xFFFF00FF;
      EXPECT_EQ(keyInside, 0) << SkinLayout::regionButtonName(which);
    }
  }
}

TEST(SkinArt, SetUpRegionButtonPutsItInPlace) {
  QWidget form;
  auto* next = new TEzRgnBtn(&form);
  SkinArt::setUpRegionButton(next, RegionButton::Next);
  EXPECT_EQ(next->geometry(), SkinLayout::regionButtonPlace(RegionButton::Next));
  EXPECT_EQ(next->PaintMode(), TEzRgnBtn::pmCrop);
  EXPECT_TRUE(next->isCropApplied());
  EXPECT_FALSE(next->PicDsbld().isNull());
  EXPECT_FALSE(next->clickableRegion().contains(QPoint(0, 0)));
  EXPECT_TRUE(next->clickableRegion().contains(QPoint(66, 19)));
}

TEST(SkinArt, DefaultSkinCornersCarryTheKeyColourAndTheMiddleTiles) {
  QImage skin = SkinArt::defaultSkin();
  if (skin.devicePixelRatio() != 1.0) GTEST_SKIP() << "checked on the one-unit-a-pixel skin";
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(skin.pixelColor(0, band * 25), QColor(Qt::white));
    EXPECT_EQ(skin.pixelColor(61, band * 25 + 24), QColor(Qt::white));
    EXPECT_NE(skin.pixelColor(31, band * 25 + 12), QColor(Qt::white));
  }
  // The middle third is the same in every column, so tiling it shows no seams.
  for (int y = 0; y < 100; ++y)
    for (int x = 21; x < 40; ++x) EXPECT_EQ(skin.pixel(x, y), skin.pixel(20, y)) << x << "," << y;
}

}  // namespace
