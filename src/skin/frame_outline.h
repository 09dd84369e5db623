#pragma once

class QAbstractScrollArea;

/// Draws `view`'s frame once more above its viewport and scroll bars. At a fractional
/// device pixel ratio (1.5) the viewport, rounded up to whole device pixels, paints over
/// the frame's right and bottom lines; this outline, in device-independent geometry,
/// keeps all four.
void KeepFrameOutline(QAbstractScrollArea* view);
