#pragma once

#include <QByteArray>
#include <QRegion>

/// Window outlines in the Windows RGNDATA layout: a 32-byte header (size 32, type 1 for
/// rectangles, count, byte size of the list, bounding box), then one rectangle per entry.
/// Every field is a little-endian 32-bit value; rectangles are (left, top, right, bottom) with
/// right and bottom exclusive.
namespace RgnData {

inline constexpr int kHeaderSize = 32;
inline constexpr int kRectSize = 16;
/// Outlines beyond this many rectangles are refused rather than allocated.
inline constexpr quint32 kMaxRects = 1u << 16;
/// Coordinates further out than this are refused, so that no width or height can overflow.
inline constexpr qint64 kMaxCoordinate = 1 << 27;

/// Encodes `region`; an empty region gives an empty array.
[[nodiscard]] QByteArray fromRegion(const QRegion& region);

/// Decodes `data` into `region`. Returns false and leaves `region` alone when the data is not a
/// well-formed rectangle list (short, wrong header, more rectangles than bytes, inverted or
/// out-of-range rectangles).
[[nodiscard]] bool toRegion(const QByteArray& data, QRegion* region);

}  // namespace RgnData
