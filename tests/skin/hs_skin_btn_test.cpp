#include "skin/hs_skin_btn.h"

#include "skin/button_skin.h"
#include "skin_test_util.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

/// Collects refusal messages instead of showing them.
class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    TButtonSkin::setMessageHandler([this](const QString& m) { shown.append(m); });
  }
  void TearDown() override { TButtonSkin::setMessageHandler({}); }

  QString writeSkin(QSize size, QColor colour = Qt::darkBlue) {
    const QString path =
        dir.filePath(QStringLiteral("skin_%1x%2.bmp").arg(size.width()).arg(size.height()));
    SkinTest::solid(size, colour).save(path, "BMP");
    return path;
  }

  QStringList shown;
  QTemporaryDir dir;
};

QWidget* whiteParent() {
  auto* parent = new QWidget;
  QPalette pal = parent->palette();
  pal.setColor(QPalette::Window, Qt::white);
  parent->setPalette(pal);
  parent->resize(300, 100);
  return parent;
}

TEST(HSSkinBtn, BuiltInSkinIs62By100) {
  THSSkinBtn button;
  EXPECT_TRUE(button.ButtonSkin()->isBuiltIn());
  EXPECT_EQ(button.ButtonSkin()->SkinBitmap(), QString());
  EXPECT_EQ(button.ButtonSkin()->skin().deviceIndependentSize().toSize(), QSize(62, 100));
  EXPECT_EQ(button.ButtonSkin()->ButtonShape(), 0);
}

TEST(HSSkinBtn, ShapeZeroIs25HighWhateverIsAsked) {
  std::unique_ptr<QWidget> parent(whiteParent());
  auto* button = new THSSkinBtn(parent.get());
  EXPECT_EQ(button->height(), 25);
  button->resize(120, 60);
  EXPECT_EQ(button->size(), QSize(120, 25));
  button->setGeometry(10, 10, 40, 3);
  EXPECT_EQ(button->size(), QSize(40, 25));
  button->ButtonSkin()->setButtonShape(2);
  button->resize(90, 90);
  EXPECT_EQ(button->size(), QSize(90, 25));
}

TEST(HSSkinBtn, ShapeOneTakesTheSkinsWidth) {
  std::unique_ptr<QWidget> parent(whiteParent());
  auto* button = new THSSkinBtn(parent.get());
  button->resize(200, 25);
  button->ButtonSkin()->setButtonShape(1);
  EXPECT_EQ(button->size(), QSize(62, 26));
  button->resize(300, 10);
  EXPECT_EQ(button->size(), QSize(62, 26));
  button->ButtonSkin()->setButtonShape(0);
  button->resize(150, 25);
  EXPECT_EQ(button->size(), QSize(150, 25));
}

TEST(HSSkinBtn, OtherShapesAreIgnored) {
  THSSkinBtn button;
  button.ButtonSkin()->setButtonShape(2);
  button.ButtonSkin()->setButtonShape(3);
  button.ButtonSkin()->setButtonShape(-1);
  EXPECT_EQ(button.ButtonSkin()->ButtonShape(), 2);
}

TEST_F(Messages, SkinNotAMultipleOfFourRowsIsRefused) {
  std::unique_ptr<QWidget> parent(whiteParent());
  auto* button = new THSSkinBtn(parent.get());
  const QImage before = button->ButtonSkin()->skin();
  EXPECT_FALSE(button->ButtonSkin()->setSkinBitmap(writeSkin({60, 98})));
  EXPECT_EQ(shown, QStringList{QStringLiteral("Bitmap is not valid skin bitmap")});
  EXPECT_TRUE(button->ButtonSkin()->isBuiltIn());
  EXPECT_EQ(button->ButtonSkin()->skin(), before);
  EXPECT_EQ(button->height(), 25);
}

TEST_F(Messages, MissingOrEmptyFileIsRefused) {
  THSSkinBtn button;
  EXPECT_FALSE(button.ButtonSkin()->setSkinBitmap(dir.filePath(QStringLiteral("none.bmp"))));
  QFile empty(dir.filePath(QStringLiteral("empty.bmp")));
  ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  empty.close();
  EXPECT_FALSE(button.ButtonSkin()->setSkinBitmap(empty.fileName()));
  EXPECT_EQ(shown.size(), 2);
  EXPECT_TRUE(button.ButtonSkin()->isBuiltIn());
}

TEST_F(Messages, AcceptedSkinSetsTheHeightFromItsBands) {
  std::unique_ptr<QWidget> parent(whiteParent());
  auto* button = new THSSkinBtn(parent.get());
  button->resize(120, 25);
  const QString file = writeSkin({90, 40});
  EXPECT_TRUE(button->ButtonSkin()->setSkinBitmap(file));
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_EQ(button->ButtonSkin()->SkinBitmap(), file);
  EXPECT_EQ(button->size(), QSize(120, 10));
  EXPECT_EQ(button->face().size(), QSize(120, 40));
  // Back to the built-in skin.
  EXPECT_TRUE(button->ButtonSkin()->setSkinBitmap(QString()));
  EXPECT_EQ(button->height(), 25);
  EXPECT_EQ(button->face().deviceIndependentSize().toSize(), QSize(120, 100));
}

TEST(HSSkinBtn, BandFollowsTheState) {
  std::unique_ptr<QWidget> parent(whiteParent());
  auto* button = new THSSkinBtn(parent.get());
  EXPECT_EQ(button->bandOffset(), 0);
  SkinTest::enter(button);
  EXPECT_EQ(button->bandOffset(), 25);
  SkinTest::press(button, {5, 5});
  EXPECT_EQ(button->bandOffset(), 50);
  SkinTest::release(button, {5, 5});
  SkinTest::leave(button);
  button->setEnabled(false);
  EXPECT_EQ(button->bandOffset(), 75);
}

TEST(HSSkinBtn, PressedThenMovedOffShowsTheNormalBand) {
  std::unique_ptr<QWidget> parent(whiteParent());
  auto* button = new THSSkinBtn(parent.get());
  button->resize(100, 25);
  QSignalSpy clicks(button, &THSSkinBtn::clicked);
  SkinTest::enter(button);
  SkinTest::press(button, {10, 10});
  EXPECT_EQ(button->bandOffset(), 50);
  SkinTest::moveHeld(button, {150, 10});
  EXPECT_TRUE(button->isPressed());
  EXPECT_EQ(button->bandOffset(), 0);
  const QImage shot = button->grab().toImage();
  EXPECT_EQ(shot.pixel(50, 12), button->face().pixel(50, 12));
  SkinTest::moveHeld(button, {20, 10});
  EXPECT_EQ(button->bandOffset(), 50);
  SkinTest::moveHeld(button, {20, 40});
  SkinTest::release(button, {20, 40});
  EXPECT_EQ(clicks.count(), 0);
  SkinTest::enter(button);
  SkinTest::press(button, {10, 10});
  SkinTest::release(button, {10, 10});
  EXPECT_EQ(clicks.count(), 1);
}

TEST(HSSkinBtn, CornersBlendIntoTheParentColour) {
  std::unique_ptr<QWidget> parent(whiteParent());
  QPalette pal = parent->palette();
  pal.setColor(QPalette::Window, QColor(200, 30, 30));
  parent->setPalette(pal);
  auto* button = new THSSkinBtn(parent.get());
  button->resize(100, 25);
  parent->show();
  const QImage& face = button->face();
  ASSERT_EQ(face.deviceIndependentSize().toSize(), QSize(100, 100));
  const int r = qRound(face.devicePixelRatio());  // 2 on a double-density screen
  for (int band = 0; band < 4; ++band) {
    const int top = band * 25 * r, bottom = (band + 1) * 25 * r - 1, right = 100 * r - 1;
    for (QPoint corner :
         {QPoint(0, top), QPoint(right, top), QPoint(0, bottom), QPoint(right, bottom)})
      EXPECT_EQ(face.pixelColor(corner), QColor(200, 30, 30)) << band;
    EXPECT_NE(face.pixelColor(50 * r, top + 12 * r), QColor(200, 30, 30)) << band;
  }
  // A new parent colour gives a new face.
  pal.setColor(QPalette::Window, QColor(30, 30, 200));
  parent->setPalette(pal);
  EXPECT_EQ(button->face().pixelColor(0, 0), QColor(30, 30, 200));
}

TEST(HSSkinBtn, NoFaceWithoutAParent) {
  THSSkinBtn button;
  EXPECT_TRUE(button.face().isNull());
  QWidget parent;
  button.setParent(&parent);
  EXPECT_EQ(button.face().deviceIndependentSize().toSize(), QSize(button.width(), 100));
  button.setParent(nullptr);
}

TEST(HSSkinBtn, DisabledButtonIgnoresClicks) {
  std::unique_ptr<QWidget> parent(whiteParent());
  auto* button = new THSSkinBtn(parent.get());
  QSignalSpy clicks(button, &THSSkinBtn::clicked);
  SkinTest::enter(button);
  SkinTest::press(button, {5, 5});
  button->setEnabled(false);
  EXPECT_FALSE(button->isPressed());
  button->setEnabled(true);
  SkinTest::release(button, {5, 5});
  EXPECT_EQ(clicks.count(), 0);
}

TEST(HSSkinBtn, DisabledCaptionIsEngraved) {
  std::unique_ptr<QWidget> parent(whiteParent());
  auto* button = new THSSkinBtn(parent.get());
  button->resize(100, 25);
  button->setCaption(QStringLiteral("Save Files"));
  QPalette pal = button->palette();
  pal.setColor(QPalette::Light, QColor(0, 255, 0));
  pal.setColor(QPalette::Dark, QColor(0, 0, 255));
  button->setPalette(pal);
  button->setEnabled(false);
  const QImage shot = button->grab().toImage();
  bool light = false, dark = false;
  for (int x = 0; x < shot.width(); ++x)
    for (int y = 0; y < shot.height(); ++y) {
      light |= shot.pixelColor(x, y) == QColor(0, 255, 0);
      dark |= shot.pixelColor(x, y) == QColor(0, 0, 255);
    }
  EXPECT_TRUE(light);
  EXPECT_TRUE(dark);
}

}  // namespace
