#include "skin/cool_form.h"

#include "skin/rgn_data.h"
#include "skin_test_util.h"

#include <QBuffer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace {

QByteArray mask2(const QByteArray& regionData) {
  QByteArray stream(4, '\0');
  qToLittleEndian<quint32>(quint32(regionData.size()), stream.data());
  return stream + regionData;
}

bool load(TCoolForm& form, QByteArray stream) {
  QBuffer buffer(&stream);
  buffer.open(QIODevice::ReadOnly);
  return form.loadMask2(&buffer);
}

QByteArray save(const TCoolForm& form) {
  QByteArray stream;
  QBuffer buffer(&stream);
  buffer.open(QIODevice::WriteOnly);
  form.saveMask2(&buffer);
  return stream;
}

TEST(CoolForm, MakesItsFormFramelessAndFillsIt) {
  QWidget form;
  form.resize(640, 470);
  TCoolForm face(&form);
  form.show();  // a hidden form reports its resizes only when shown
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(face.geometry(), QRect(0, 0, 640, 470));
  form.resize(300, 200);
  EXPECT_EQ(face.geometry(), QRect(0, 0, 300, 200));
}

TEST(CoolForm, RefusesAParentThatIsNotAForm) {
  QWidget form;
  QWidget panel(&form);
  try {
    TCoolForm face(&panel);
    FAIL() << "a control inside a form was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Drop the CoolForm on a FORM!");
  }
  EXPECT_TRUE(panel.children().isEmpty());
}

TEST(CoolForm, ReparentedIntoAControlItStandsAside) {
  QWidget form;
  QWidget panel(&form);
  auto* face = new TCoolForm(&form);
  face->setParent(&panel);
  EXPECT_FALSE(panel.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(face->isHidden());
}

TEST(CoolForm, TopAndLeftStayAtZero) {
  QWidget form;
  form.resize(200, 100);
  TCoolForm face(&form);
  form.show();
  face.setTop(100);
  EXPECT_EQ(face.pos(), QPoint(0, 0));
  face.setLeft(-7);
  EXPECT_EQ(face.pos(), QPoint(0, 0));
  face.move(30, 100);
  EXPECT_EQ(face.pos(), QPoint(0, 0));
}

TEST(CoolForm, Mask2WithCountZeroLeavesTheFormRectangular) {
  QWidget form;
  TCoolForm face(&form);
  face.setMaskRegion(QRegion(0, 0, 10, 10));
  ASSERT_FALSE(form.mask().isEmpty());
  EXPECT_TRUE(load(face, QByteArray(4, '\0')));
  EXPECT_TRUE(face.Mask().isEmpty());
  EXPECT_TRUE(form.mask().isEmpty());
  EXPECT_EQ(save(face), QByteArray(4, '\0'));
}

TEST(CoolForm, StoredTwoRectangleOutlineRoundTrips) {
  const QRegion outline = QRegion(0, 0, 640, 60).united(QRegion(20, 60, 600, 410));
  ASSERT_EQ(outline.rectCount(), 2);
  QWidget first;
  TCoolForm writer(&first);
  writer.setMaskRegion(outline);
  const QByteArray stream = save(writer);
  EXPECT_EQ(stream, mask2(RgnData::fromRegion(outline)));
  EXPECT_EQ(qFromLittleEndian<quint32>(stream.constData()), 32u + 2 * 16);

  QWidget second;
  TCoolForm reader(&second);
  ASSERT_TRUE(load(reader, stream));
  EXPECT_EQ(reader.Mask(), outline);
  EXPECT_EQ(second.mask(), outline);
  EXPECT_EQ(save(reader), stream);
}

TEST(CoolForm, BrokenMask2KeepsTheOutline) {
  QWidget form;
  TCoolForm face(&form);
  const QRegion outline(5, 5, 50, 50);
  face.setMaskRegion(outline);
  EXPECT_FALSE(load(face, QByteArray(2, '\0')));                           // no count
  EXPECT_FALSE(load(face, mask2(RgnData::fromRegion(outline)).left(40)));  // cut short
  EXPECT_FALSE(load(face, mask2(QByteArray(32, '\x7f'))));                 // bad header
  QByteArray hugeCount(4, '\xff');
  EXPECT_FALSE(load(face, hugeCount));
  EXPECT_EQ(face.Mask(), outline);
  EXPECT_EQ(form.mask(), outline);
}

TEST(CoolForm, NewPictureDropsTheOutline) {
  QWidget form;
  TCoolForm face(&form);
  face.setMaskRegion(QRegion(0, 0, 10, 10));
  face.setPicture(SkinTest::solid({20, 20}, Qt::red));
  EXPECT_TRUE(face.Mask().isEmpty());
  EXPECT_TRUE(form.mask().isEmpty());
}

TEST(CoolForm, PaintsThePictureAndAutoSizesTheForm) {
  QWidget form;
  TCoolForm face(&form);
  face.setAutoSize(true);
  face.setPicture(SkinTest::solid({64, 48}, QColor(0, 45, 89)));
  EXPECT_EQ(form.size(), QSize(64, 48));
  const QImage shot = form.grab().toImage();
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(0, 45, 89));
  EXPECT_EQ(shot.pixelColor(63, 47), QColor(0, 45, 89));
}

TEST(CoolForm, DraggableIsStoredAndLeftPressDragsTheWindow) {
  QWidget form;
  form.setGeometry(100, 100, 200, 150);
  TCoolForm face(&form);
  face.setDraggable(false);
  EXPECT_FALSE(face.Draggable());
  form.show();
  const QPoint before = form.pos();
  // The offscreen platform has no window-manager move, so the form is moved by hand.
  SkinTest::press(&face, {10, 10});
  SkinTest::moveHeld(&face, {60, 40});
  SkinTest::release(&face, {60, 40});
  EXPECT_EQ(form.pos(), before + QPoint(50, 30));

  const QPoint after = form.pos();
  SkinTest::press(&face, {10, 10}, Qt::RightButton);
  SkinTest::mouse(&face, QEvent::MouseMove, {90, 90}, Qt::NoButton, Qt::RightButton);
  EXPECT_EQ(form.pos(), after);
}

}  // namespace
