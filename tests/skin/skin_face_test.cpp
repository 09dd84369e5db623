#include "skin/skin_face.h"

#include <gtest/gtest.h>

namespace {

/// A 30 x 8 skin whose thirds have their own colours: left red, middle green, right blue.
QImage thirds() {
  QImage skin(30, 8, QImage::Format_RGB32);
  for (int x = 0; x < 30; ++x)
    for (int y = 0; y < 8; ++y)
      skin.setPixelColor(x, y, x < 10 ? Qt::red : x < 20 ? Qt::green : Qt::blue);
  return skin;
}

TEST(SkinFace, BoundsRule) {
  EXPECT_EQ(SkinFace::boundedSize(0, {62, 100}, {200, 7}), QSize(200, 25));
  EXPECT_EQ(SkinFace::boundedSize(2, {62, 100}, {20, 70}), QSize(20, 25));
  EXPECT_EQ(SkinFace::boundedSize(1, {62, 100}, {200, 7}), QSize(62, 26));
}

TEST(SkinFace, ThreeSlicesStretchTheSkin) {
  const QImage face = SkinFace::build(thirds(), 55, 0, false, Qt::white, Qt::gray);
  ASSERT_EQ(face.size(), QSize(55, 8));
  EXPECT_EQ(face.pixelColor(0, 3), QColor(Qt::red));
  EXPECT_EQ(face.pixelColor(9, 3), QColor(Qt::red));
  for (int x = 10; x < 45; ++x) EXPECT_EQ(face.pixelColor(x, 3), QColor(Qt::green)) << x;
  EXPECT_EQ(face.pixelColor(45, 3), QColor(Qt::blue));
  EXPECT_EQ(face.pixelColor(54, 3), QColor(Qt::blue));
}

TEST(SkinFace, EllipseCopiesTheSkinUnscaled) {
  const QImage face = SkinFace::build(thirds(), 30, 1, false, Qt::white, Qt::gray);
  EXPECT_EQ(face, thirds().convertToFormat(face.format()));
}

TEST(SkinFace, CornersAreFloodedInEveryBand) {
  // White corners around a black frame in each of the four bands of 4 rows.
  QImage skin(12, 16, QImage::Format_RGB32);
  skin.fill(Qt::white);
  for (int b = 0; b < 4; ++b)
    for (int x = 1; x < 11; ++x)
      for (int y = 0; y < 4; ++y) skin.setPixelColor(x, b * 4 + y, Qt::black);
  const QImage face = SkinFace::build(skin, 20, 0, true, QColor(1, 2, 3), Qt::gray);
  for (int b = 0; b < 4; ++b) {
    EXPECT_EQ(face.pixelColor(0, b * 4), QColor(1, 2, 3));
    EXPECT_EQ(face.pixelColor(19, b * 4 + 3), QColor(1, 2, 3));
    EXPECT_EQ(face.pixelColor(10, b * 4 + 1), QColor(Qt::black));
  }
  const QImage unblended = SkinFace::build(skin, 20, 0, false, QColor(1, 2, 3), Qt::gray);
  EXPECT_EQ(unblended.pixelColor(0, 0), QColor(Qt::white));
}

TEST(SkinFace, FloodFillStaysFourConnected) {
  QImage image(3, 3, QImage::Format_RGB32);
  image.fill(Qt::black);
  image.setPixelColor(0, 0, Qt::white);
  image.setPixelColor(1, 1, Qt::white);  // touches (0, 0) only at a corner
  image.setPixelColor(0, 1, Qt::black);
  SkinFace::floodFill(&image, {0, 0}, qRgb(255, 0, 0));
  EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::white));
  SkinFace::floodFill(&image, {5, 5}, qRgb(255, 0, 0));  // outside: nothing happens
}

TEST(SkinFace, BandForState) {
  EXPECT_EQ(SkinFace::bandOffset(100, true, false, false), 0);
  EXPECT_EQ(SkinFace::bandOffset(100, true, true, false), 25);
  EXPECT_EQ(SkinFace::bandOffset(100, true, true, true), 50);
  EXPECT_EQ(SkinFace::bandOffset(100, true, false, true), 0);
  EXPECT_EQ(SkinFace::bandOffset(100, false, true, true), 75);
}

TEST(SkinFace, ClipOutlines) {
  EXPECT_TRUE(SkinFace::clipPath(0, {80, 25}, false).isEmpty());
  EXPECT_EQ(SkinFace::clipPath(1, {62, 26}, false).boundingRect(), QRectF(0, 0, 63, 27));
  EXPECT_EQ(SkinFace::clipPath(2, {80, 25}, false).boundingRect(), QRectF(1, 1, 78, 24));
  EXPECT_EQ(SkinFace::clipPath(2, {80, 25}, true).boundingRect(), QRectF(2, 1, 77, 23));
}

}  // namespace
