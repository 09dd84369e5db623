#include "skin/ez_rgn_btn.h"

#include "skin_test_util.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using SkinTest::solid;

const QColor kMagenta(255, 0, 255);

struct Pictures {
  QPixmap idle = solid({40, 20}, Qt::blue);
  QPixmap up = solid({40, 20}, Qt::green);
  QPixmap down = solid({40, 20}, Qt::red);
  QPixmap off = solid({40, 20}, Qt::gray);
};

bool same(const QPixmap& a, const QPixmap& b) {
  return a.cacheKey() == b.cacheKey();
}

TEST(EzRgnBtn, StartsSmallAndTakesThePictureSize) {
  TEzRgnBtn button;
  EXPECT_EQ(button.size(), QSize(15, 15));
  button.setPicIdle(solid({132, 38}, Qt::blue));
  EXPECT_EQ(button.size(), QSize(132, 38));
}

TEST(EzRgnBtn, ChoosesThePictureForEachState) {
  Pictures p;
  TEzRgnBtn button;
  button.setPicIdle(p.idle);
  button.setPicUp(p.up);
  button.setPicDown(p.down);
  button.setPicDsbld(p.off);
  EXPECT_TRUE(same(button.currentPicture(), p.idle));
  SkinTest::enter(&button);
  EXPECT_TRUE(same(button.currentPicture(), p.up));
  SkinTest::press(&button, {5, 5});
  EXPECT_TRUE(same(button.currentPicture(), p.down));
  SkinTest::release(&button, {5, 5});
  EXPECT_TRUE(same(button.currentPicture(), p.up));
  SkinTest::leave(&button);
  EXPECT_TRUE(same(button.currentPicture(), p.idle));
  button.setEnabled(false);
  EXPECT_TRUE(same(button.currentPicture(), p.off));
}

TEST(EzRgnBtn, MissingPressedAndHoverPicturesFallBackToIdle) {
  Pictures p;
  TEzRgnBtn button;
  button.setPicIdle(p.idle);
  SkinTest::enter(&button);
  EXPECT_TRUE(same(button.currentPicture(), p.idle));
  SkinTest::press(&button, {5, 5});
  EXPECT_TRUE(button.isPressed());
  EXPECT_TRUE(same(button.currentPicture(), p.idle));
}

TEST(EzRgnBtn, DisabledWithoutDisabledPictureShowsIdleAndIgnoresClicks) {
  Pictures p;
  TEzRgnBtn button;
  button.setPicIdle(p.idle);
  button.setPicUp(p.up);
  button.setPicDown(p.down);
  QSignalSpy clicks(&button, &TEzRgnBtn::clicked);
  button.setEnabled(false);
  EXPECT_TRUE(button.Disabled());
  EXPECT_TRUE(same(button.currentPicture(), p.idle));
  SkinTest::enter(&button);
  SkinTest::press(&button, {5, 5});
  SkinTest::release(&button, {5, 5});
  EXPECT_TRUE(same(button.currentPicture(), p.idle));
  button.click();
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_EQ(button.grab().toImage().pixelColor(20, 10), QColor(Qt::blue));
}

TEST(EzRgnBtn, ClickOnReleaseOverTheButtonOnly) {
  TEzRgnBtn button;
  button.setPicIdle(solid({40, 20}, Qt::blue));
  QSignalSpy clicks(&button, &TEzRgnBtn::clicked);
  QSignalSpy downs(&button, &TEzRgnBtn::mousePressed);
  QSignalSpy ups(&button, &TEzRgnBtn::mouseReleased);
  SkinTest::enter(&button);
  SkinTest::press(&button, {5, 5});
  SkinTest::release(&button, {5, 5});
  EXPECT_EQ(clicks.count(), 1);
  SkinTest::press(&button, {5, 5});
  SkinTest::moveHeld(&button, {100, 5});
  SkinTest::release(&button, {100, 5});
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(downs.count(), 2);
  EXPECT_EQ(ups.count(), 2);
  SkinTest::press(&button, {5, 5}, Qt::RightButton);
  SkinTest::release(&button, {5, 5}, Qt::RightButton);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_FALSE(button.isPressed());
}

TEST(EzRgnBtn, PressedThenMovedOffShowsIdleUntilItComesBack) {
  Pictures p;
  TEzRgnBtn button;
  button.setPicIdle(p.idle);
  button.setPicUp(p.up);
  button.setPicDown(p.down);
  QSignalSpy left(&button, &TEzRgnBtn::mouseLeft);
  SkinTest::enter(&button);
  SkinTest::press(&button, {5, 5});
  SkinTest::moveHeld(&button, {-10, 5});
  EXPECT_FALSE(button.isHovered());
  EXPECT_TRUE(same(button.currentPicture(), p.idle));
  EXPECT_EQ(left.count(), 1);
  SkinTest::moveHeld(&button, {6, 6});
  EXPECT_TRUE(same(button.currentPicture(), p.down));
}

TEST(EzRgnBtn, EnterAndLeaveAreReportedOnce) {
  TEzRgnBtn button;
  QSignalSpy entered(&button, &TEzRgnBtn::mouseEntered);
  QSignalSpy left(&button, &TEzRgnBtn::mouseLeft);
  SkinTest::enter(&button);
  SkinTest::enter(&button);
  SkinTest::leave(&button);
  SkinTest::leave(&button);
  EXPECT_EQ(entered.count(), 1);
  EXPECT_EQ(left.count(), 1);
}

TEST(EzRgnBtn, DoubleClickIsSwallowed) {
  TEzRgnBtn button;
  button.setPicIdle(solid({40, 20}, Qt::blue));
  QSignalSpy clicks(&button, &TEzRgnBtn::clicked);
  SkinTest::enter(&button);
  SkinTest::press(&button, {5, 5});
  SkinTest::release(&button, {5, 5});
  SkinTest::doubleClick(&button, {5, 5});
  EXPECT_FALSE(button.isPressed());
  SkinTest::release(&button, {5, 5});
  EXPECT_EQ(clicks.count(), 1);
}

TEST(EzRgnBtn, AutoRepeatRunsOnlyWhileHeldOverTheButton) {
  TEzRgnBtn button;
  button.setPicIdle(solid({40, 20}, Qt::blue));
  QSignalSpy clicks(&button, &TEzRgnBtn::clicked);
  SkinTest::enter(&button);
  SkinTest::press(&button, {5, 5});
  EXPECT_FALSE(button.isRepeating());  // AutoRepeat is off by default
  button.setAutoRepeat(true);
  EXPECT_TRUE(button.isRepeating());
  EXPECT_TRUE(QTest::qWaitFor([&] { return clicks.count() >= 2; }, 10000));
  SkinTest::moveHeld(&button, {200, 5});
  EXPECT_FALSE(button.isRepeating());
  SkinTest::moveHeld(&button, {5, 5});
  EXPECT_TRUE(button.isRepeating());
  SkinTest::release(&button, {5, 5});
  EXPECT_FALSE(button.isRepeating());
  SkinTest::press(&button, {5, 5});
  button.setEnabled(false);
  EXPECT_FALSE(button.isRepeating());
  EXPECT_FALSE(button.isPressed());
}

TEST(EzRgnBtn, ImageListFillsTheFourPictures) {
  Pictures p;
  TEzRgnBtn button;
  button.setImageList({p.idle, p.up, p.down, p.off, solid({5, 5}, Qt::black)});
  EXPECT_TRUE(same(button.PicIdle(), p.idle));
  EXPECT_TRUE(same(button.PicUp(), p.up));
  EXPECT_TRUE(same(button.PicDown(), p.down));
  EXPECT_TRUE(same(button.PicDsbld(), p.off));

  const QPixmap idle2 = solid({30, 30}, Qt::yellow);
  button.setImageList({idle2});
  EXPECT_TRUE(same(button.PicIdle(), idle2));
  EXPECT_TRUE(same(button.PicUp(), p.up));  // images that the list lacks stay

  button.setImageList({});
  EXPECT_TRUE(same(button.PicIdle(), idle2));
  EXPECT_TRUE(same(button.PicDsbld(), p.off));

  // Assigning the same list again copies nothing.
  button.setImageList({idle2});
  button.setPicIdle(p.idle);
  button.setImageList({idle2});
  EXPECT_TRUE(same(button.PicIdle(), p.idle));
}

/// A magenta-keyed picture with key pixels at the edges, in the middle and alone.
QPixmap keyedPicture() {
  QImage image(30, 20, QImage::Format_RGB32);
  image.fill(kMagenta);
  QPainter p(&image);
  p.fillRect(2, 2, 26, 16, Qt::darkCyan);
  p.end();
  image.setPixelColor(15, 10, kMagenta);
  image.setPixelColor(3, 17, kMagenta);
  image.setPixelColor(27, 2, kMagenta);
  return QPixmap::fromImage(image);
}

TEST(EzRgnBtn, CropLosesEveryKeyPixelFromTheClickableArea) {
  const QPixmap picture = keyedPicture();
  TEzRgnBtn button;
  button.setPicIdle(picture);
  button.setPaintMode(TEzRgnBtn::pmCrop);
  ASSERT_TRUE(button.isCropApplied());
  const QImage image = picture.toImage();
  const QRegion clickable = button.clickableRegion();
  for (int x = 0; x < image.width(); ++x)
    for (int y = 0; y < image.height(); ++y)
      EXPECT_EQ(clickable.contains(QPoint(x, y)), image.pixelColor(x, y) != kMagenta)
          << "pixel " << x << "," << y;
  EXPECT_EQ(button.mask(), clickable);

  // The key pixel in the middle does not take a click.
  QSignalSpy clicks(&button, &TEzRgnBtn::clicked);
  SkinTest::press(&button, {15, 10});
  SkinTest::release(&button, {15, 10});
  EXPECT_EQ(clicks.count(), 0);
  SkinTest::press(&button, {10, 10});
  SkinTest::release(&button, {10, 10});
  EXPECT_EQ(clicks.count(), 1);
}

TEST(EzRgnBtn, CropFollowsTheIdlePictureAndLeavingItRestoresTheRectangle) {
  TEzRgnBtn button;
  button.setPaintMode(TEzRgnBtn::pmCrop);  // before any picture: cut when one arrives
  button.setPicIdle(keyedPicture());
  EXPECT_FALSE(button.clickableRegion().contains(QPoint(0, 0)));
  EXPECT_TRUE(button.clickableRegion().contains(QPoint(5, 5)));

  QImage other(30, 20, QImage::Format_RGB32);
  other.fill(Qt::white);
  other.setPixelColor(5, 5, Qt::black);
  button.setPicIdle(QPixmap::fromImage(other));
  EXPECT_EQ(button.clickableRegion(), QRegion(5, 5, 1, 1));

  button.setPaintMode(TEzRgnBtn::pmNormal);
  EXPECT_FALSE(button.isCropApplied());
  EXPECT_TRUE(button.mask().isEmpty());
  EXPECT_EQ(button.clickableRegion(), QRegion(0, 0, 30, 20));
}

TEST(EzRgnBtn, AllKeyPictureLeavesNothingToClick) {
  TEzRgnBtn button;
  button.setPicIdle(solid({10, 10}, kMagenta));
  button.setPaintMode(TEzRgnBtn::pmCrop);
  EXPECT_TRUE(button.clickableRegion().isEmpty());
  EXPECT_FALSE(button.mask().intersects(button.rect()));
}

TEST(EzRgnBtn, TransparentModeShowsTheParentThroughTheKeyColour) {
  QWidget parent;
  parent.resize(40, 30);
  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, QColor(10, 200, 10));
  parent.setPalette(pal);
  parent.setAutoFillBackground(true);
  auto* button = new TEzRgnBtn(&parent);
  button->setPicIdle(keyedPicture());
  button->setPaintMode(TEzRgnBtn::pmTransparent);
  const QImage shot = parent.grab().toImage();
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(10, 200, 10));
  EXPECT_EQ(shot.pixelColor(15, 10), QColor(10, 200, 10));
  EXPECT_EQ(shot.pixelColor(5, 5), QColor(Qt::darkCyan));
}

TEST(EzRgnBtn, CaptionIsDrawnCentred) {
  TEzRgnBtn button;
  button.setPicIdle(solid({120, 40}, Qt::white));
  QPalette pal = button.palette();
  pal.setColor(QPalette::ButtonText, Qt::black);
  button.setPalette(pal);
  button.setCaption(QStringLiteral("MMMM"));
  const QImage shot = button.grab().toImage();
  int minX = 1000, maxX = -1;
  for (int x = 0; x < shot.width(); ++x)
    for (int y = 0; y < shot.height(); ++y)
      if (shot.pixelColor(x, y).lightness() < 128) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
      }
  ASSERT_GE(maxX, 0);
  EXPECT_NEAR((minX + maxX) / 2.0, 60, 3);
}

}  // namespace
