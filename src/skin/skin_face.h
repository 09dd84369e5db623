#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QSize>

/// The arithmetic of a four-band push-button skin, kept apart from painting so that it can be
/// checked without a screen. A skin holds the states normal, hover, pressed and disabled as four
/// equal bands stacked from the top.
namespace SkinFace {

/// Stretched by three slices.
inline constexpr int kShapeRect = 0;
/// Fixed to the skin's size and clipped to an ellipse.
inline constexpr int kShapeEllipse = 1;
/// Stretched by three slices and clipped to a rounded rectangle.
inline constexpr int kShapeRounded = 2;

/// The size a button of `shape` takes when `asked` is requested; `skinUnits` is the skin's size in
/// drawing units (its device-independent size), its height a multiple of 4.
[[nodiscard]] QSize boundedSize(int shape, QSizeF skinUnits, QSize asked);

/// The face: `width` x skin height, in the skin's units (a skin of device pixel ratio 2 gives a
/// face of twice the pixels and the same ratio). Shapes 0 and 2 tile the middle third and put the
/// outer thirds at the ends; shape 1 copies the skin. With `blendCorners`, the corner colour at (0,
/// 0) that touches the band ends is flooded with `parentColor`.
[[nodiscard]] QImage build(const QImage& skin, int width, int shape, bool blendCorners,
                           const QColor& parentColor, const QColor& faceColor);

/// How far up the face is drawn for a state; pressing without hover shows the normal band.
[[nodiscard]] int bandOffset(int faceHeight, bool enabled, bool hover, bool pressed);

/// The outline a button of `shape` is painted in; empty for the plain rectangle.
[[nodiscard]] QPainterPath clipPath(int shape, QSize size, bool pressed);

/// Replaces the 4-connected area of the seed's colour with `fill`.
void floodFill(QImage* image, QPoint seed, QRgb fill);

}  // namespace SkinFace
