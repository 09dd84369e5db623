#include "skin/rgn_data.h"

#include <QtEndian>

#include <gtest/gtest.h>

namespace {

QByteArray header(quint32 size, quint32 type, quint32 count) {
  QByteArray data(RgnData::kHeaderSize, '\0');
  qToLittleEndian<quint32>(size, data.data());
  qToLittleEndian<quint32>(type, data.data() + 4);
  qToLittleEndian<quint32>(count, data.data() + 8);
  qToLittleEndian<quint32>(count * 16, data.data() + 12);
  return data;
}

void appendRect(QByteArray& data, qint32 l, qint32 t, qint32 r, qint32 b) {
  char raw[16];
  qToLittleEndian<qint32>(l, raw);
  qToLittleEndian<qint32>(t, raw + 4);
  qToLittleEndian<qint32>(r, raw + 8);
  qToLittleEndian<qint32>(b, raw + 12);
  data.append(raw, 16);
}

TEST(RgnData, EmptyRegionEncodesToNothing) {
  EXPECT_TRUE(RgnData::fromRegion(QRegion()).isEmpty());
}

TEST(RgnData, LayoutIsHeaderThenExclusiveRectangles) {
  const QByteArray data = RgnData::fromRegion(QRegion(10, 20, 30, 40));
  ASSERT_EQ(data.size(), 32 + 16);
  auto at = [&](int offset) { return qFromLittleEndian<qint32>(data.constData() + offset); };
  EXPECT_EQ(at(0), 32);
  EXPECT_EQ(at(4), 1);
  EXPECT_EQ(at(8), 1);
  EXPECT_EQ(at(12), 16);
  // Bounding box, then the one rectangle: right and bottom lie one past the last pixel.
  EXPECT_EQ(at(16), 10);
  EXPECT_EQ(at(20), 20);
  EXPECT_EQ(at(24), 40);
  EXPECT_EQ(at(28), 60);
  EXPECT_EQ(at(32), 10);
  EXPECT_EQ(at(44), 60);
}

TEST(RgnData, TwoRectangleRegionRoundTrips) {
  const QRegion region = QRegion(0, 0, 50, 10).united(QRegion(100, 30, 20, 5));
  const QByteArray data = RgnData::fromRegion(region);
  EXPECT_EQ(data.size(), 32 + 2 * 16);
  QRegion back;
  ASSERT_TRUE(RgnData::toRegion(data, &back));
  EXPECT_EQ(back, region);
  EXPECT_EQ(RgnData::fromRegion(back), data);
}

TEST(RgnData, OverlappingUnsortedRectanglesAreUnited) {
  QByteArray data = header(32, 1, 3);
  appendRect(data, 40, 40, 60, 60);
  appendRect(data, 0, 0, 20, 20);
  appendRect(data, 10, 10, 30, 30);
  QRegion region;
  ASSERT_TRUE(RgnData::toRegion(data, &region));
  const QRegion expected =
      QRegion(40, 40, 20, 20).united(QRegion(0, 0, 20, 20)).united(QRegion(10, 10, 20, 20));
  EXPECT_EQ(region, expected);
}

TEST(RgnData, MalformedDataIsRefusedAndRegionKept) {
  const QRegion kept(1, 2, 3, 4);
  QRegion region = kept;
  EXPECT_FALSE(RgnData::toRegion(QByteArray(31, '\0'), &region));
  EXPECT_FALSE(RgnData::toRegion(header(40, 1, 0), &region));  // header size wrong
  EXPECT_FALSE(RgnData::toRegion(header(32, 2, 0), &region));  // not a rectangle list
  QByteArray shortList = header(32, 1, 2);
  appendRect(shortList, 0, 0, 1, 1);  // two announced, one present
  EXPECT_FALSE(RgnData::toRegion(shortList, &region));
  EXPECT_FALSE(RgnData::toRegion(header(32, 1, 0xFFFFFFFFu), &region));
  QByteArray inverted = header(32, 1, 1);
  appendRect(inverted, 10, 0, 5, 5);
  EXPECT_FALSE(RgnData::toRegion(inverted, &region));
  QByteArray huge = header(32, 1, 1);
  appendRect(huge, -2147483647 - 1, 0, 2147483647, 5);  // width would overflow an int
  EXPECT_FALSE(RgnData::toRegion(huge, &region));
  EXPECT_EQ(region, kept);
}

TEST(RgnData, EmptyRectanglesAreSkipped) {
  QByteArray data = header(32, 1, 2);
  appendRect(data, 5, 5, 5, 9);
  appendRect(data, 0, 0, 2, 2);
  QRegion region;
  ASSERT_TRUE(RgnData::toRegion(data, &region));
  EXPECT_EQ(region, QRegion(0, 0, 2, 2));
}

}  // namespace
