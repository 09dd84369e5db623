#include "skin/rgn_data.h"

#include <QtEndian>

#include <vector>

namespace RgnData {
namespace {

constexpr quint32 kTypeRectangles = 1;

void putU32(QByteArray& out, int at, quint32 value) {
  qToLittleEndian<quint32>(value, out.data() + at);
}

quint32 getU32(const QByteArray& in, int at) {
  return qFromLittleEndian<quint32>(in.constData() + at);
}

qint32 getI32(const QByteArray& in, int at) {
  return qFromLittleEndian<qint32>(in.constData() + at);
}

bool inRange(qint64 v) {
  return v >= -kMaxCoordinate && v <= kMaxCoordinate;
}

}  // namespace

QByteArray fromRegion(const QRegion& region) {
  if (region.isEmpty()) return {};
  const int count = region.rectCount();
  QByteArray out(kHeaderSize + count * kRectSize, '\0');
  const QRect bound = region.boundingRect();
  putU32(out, 0, kHeaderSize);
  putU32(out, 4, kTypeRectangles);
  putU32(out, 8, quint32(count));
  putU32(out, 12, quint32(count * kRectSize));
  putU32(out, 16, quint32(bound.left()));
  putU32(out, 20, quint32(bound.top()));
  putU32(out, 24, quint32(bound.left() + bound.width()));
  putU32(out, 28, quint32(bound.top() + bound.height()));
  int at = kHeaderSize;
  for (const QRect& r : region) {
    putU32(out, at, quint32(r.left()));
    putU32(out, at + 4, quint32(r.top()));
    putU32(out, at + 8, quint32(r.left() + r.width()));
    putU32(out, at + 12, quint32(r.top() + r.height()));
    at += kRectSize;
  }
  return out;
}

bool toRegion(const QByteArray& data, QRegion* region) {
  if (data.size() < kHeaderSize) return false;
  if (getU32(data, 0) != kHeaderSize || getU32(data, 4) != kTypeRectangles) return false;
  const quint32 count = getU32(data, 8);
  if (count > kMaxRects) return false;
  if (qint64(data.size()) < kHeaderSize + qint64(count) * kRectSize) return false;

  std::vector<QRegion> parts;
  parts.reserve(count);
  for (quint32 i = 0; i < count; ++i) {
    const int at = kHeaderSize + int(i) * kRectSize;
    const qint64 left = getI32(data, at), top = getI32(data, at + 4);
    const qint64 right = getI32(data, at + 8), bottom = getI32(data, at + 12);
    if (!inRange(left) || !inRange(top) || !inRange(right) || !inRange(bottom)) return false;
    if (right < left || bottom < top) return false;
    if (right > left && bottom > top)
      parts.emplace_back(int(left), int(top), int(right - left), int(bottom - top));
  }
  // Stored lists need not be banded, so unite them pairwise: n log n rather than n squared.
  while (parts.size() > 1) {
    std::vector<QRegion> next;
    next.reserve(parts.size() / 2 + 1);
    for (size_t i = 0; i + 1 < parts.size(); i += 2) next.push_back(parts[i].united(parts[i + 1]));
    if (parts.size() % 2) next.push_back(parts.back());
    parts.swap(next);
  }
  *region = parts.empty() ? QRegion() : parts.front();
  return true;
}

}  // namespace RgnData
