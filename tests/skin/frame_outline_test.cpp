// The outline keeps a list's frame whole when the list is drawn at 1.5 device pixels a pixel.

#include "skin/frame_outline.h"

#include <QImage>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

/// How many of the last three device columns, on the middle row, are darker than the
/// list's white base: the right line of the frame.
int RightFramePixels(bool outline) {
  QTreeView view;
  view.resize(101, 61);
  if (outline) KeepFrameOutline(&view);
  view.show();
  const QImage image = view.grab().toImage();
  int dark = 0;
  const int y = image.height() / 2;
  for (int x = image.width() - 3; x < image.width(); ++x)
    if (QColor(image.pixel(x, y)).lightness() < 230) ++dark;
  return dark;
}

/// The outline draws the right line at whatever scale the test runs (CTest runs it at 1.5 too).
TEST(FrameOutline, TheRightLineSurvivesAFractionalScale) {
  EXPECT_GT(RightFramePixels(true), 0);
}

}  // namespace
