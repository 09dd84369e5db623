// The hex dump's geometry and navigation, without a screen. Cells of 8 x 14 pixels, lines of
// 16 pixels, unless a test says otherwise.

#include "viewer/dump_layout.h"

#include <gtest/gtest.h>

namespace {

constexpr int kCharWidth = 8;
constexpr int kLineHeight = 16;

/// Client width that holds `bytes` per line with the address and the characters shown.
constexpr int WidthFor(int bytes) {
  return (DumpLayout::kAddressReservedCells + 4 * bytes) * kCharWidth + kCharWidth / 2;
}

DumpLayout Layout(int length, int width, int height, bool address = true, bool chars = true) {
  DumpLayout layout;
  layout.SetMetrics(kCharWidth, kLineHeight);
  layout.SetShowAddress(address);
  layout.SetShowCharacters(chars);
  layout.SetDataLength(length);
  layout.Recompute(width, height);
  return layout;
}

TEST(DumpLayoutSize, BytesPerLineStaysWithinOneAndSixteen) {
  EXPECT_EQ(Layout(512, 0, 100).BytesPerLine(), 1);
  EXPECT_EQ(Layout(512, 3 * kCharWidth, 100).BytesPerLine(), 1);
  EXPECT_EQ(Layout(512, -50, 100).BytesPerLine(), 1);
  EXPECT_EQ(Layout(512, WidthFor(1), 100).BytesPerLine(), 1);
  EXPECT_EQ(Layout(512, WidthFor(2), 100).BytesPerLine(), 2);
  EXPECT_EQ(Layout(512, WidthFor(15), 100).BytesPerLine(), 15);
  EXPECT_EQ(Layout(512, WidthFor(16), 100).BytesPerLine(), 16);
  EXPECT_EQ(Layout(512, 5000, 100).BytesPerLine(), 16);
}

TEST(DumpLayoutSize, ColumnsFollowTheShownParts) {
  // 40 cells: 30 after the address; 4 cells a byte with characters, 3 without.
  EXPECT_EQ(Layout(512, 40 * kCharWidth, 100, true, true).BytesPerLine(), 7);
  EXPECT_EQ(Layout(512, 40 * kCharWidth, 100, true, false).BytesPerLine(), 10);
  EXPECT_EQ(Layout(512, 40 * kCharWidth, 100, false, true).BytesPerLine(), 10);
  EXPECT_EQ(Layout(512, 40 * kCharWidth, 100, false, false).BytesPerLine(), 13);
}

TEST(DumpLayoutSize, VisibleLinesCountThePartlyShownRow) {
  EXPECT_EQ(Layout(512, 600, 0).VisibleLines(), 1);
  EXPECT_EQ(Layout(512, 600, 15).VisibleLines(), 1);
  EXPECT_EQ(Layout(512, 600, 16).VisibleLines(), 2);
  EXPECT_EQ(Layout(512, 600, 200).VisibleLines(), 13);
}

TEST(DumpLayoutSize, ASectorAtSixteenAndAtTwelveBytes) {
  const DumpLayout sixteen = Layout(512, WidthFor(16), 200);
  EXPECT_EQ(sixteen.LineCount(), 32);
  EXPECT_EQ(sixteen.LineOffset(31), 0x1f0);
  EXPECT_EQ(sixteen.BytesInLine(31), 16);

  const DumpLayout twelve = Layout(512, WidthFor(12), 200);
  ASSERT_EQ(twelve.BytesPerLine(), 12);
  EXPECT_EQ(twelve.LineCount(), 43);
  EXPECT_EQ(twelve.BytesInLine(41), 12);
  EXPECT_EQ(twelve.BytesInLine(42), 8);
  EXPECT_EQ(twelve.BytesInLine(43), 0);
  EXPECT_EQ(twelve.BytesInLine(-1), 0);
}

TEST(DumpLayoutSize, NoDataMeansNoLines) {
  EXPECT_EQ(Layout(0, 600, 200).LineCount(), 0);
  EXPECT_EQ(Layout(-7, 600, 200).LineCount(), 0);
  EXPECT_EQ(Layout(-7, 600, 200).DataLength(), 0);
  EXPECT_EQ(Layout(0, 600, 200).ClampLine(5), 0);
  EXPECT_EQ(Layout(0, 600, 200).ClampLine(-5), 0);
}

TEST(DumpLayoutSize, NothingIsComputedWithoutALineHeight) {
  DumpLayout layout;
  layout.SetDataLength(512);
  layout.Recompute(600, 200);
  EXPECT_EQ(layout.LineCount(), 0);
  EXPECT_EQ(layout.VisibleLines(), 0);
  EXPECT_TRUE(layout.RowsIn(0, 200).last < layout.RowsIn(0, 200).first);
}

TEST(DumpLayoutSize, ShowingPartsChangesTheLayoutOnlyAtTheNextRecompute) {
  DumpLayout layout = Layout(512, WidthFor(12), 200);
  layout.SetShowCharacters(false);
  EXPECT_EQ(layout.BytesPerLine(), 12);
  layout.Recompute(WidthFor(12), 200);
  EXPECT_EQ(layout.BytesPerLine(), 16);
}

TEST(DumpLayoutColumns, AddressHexAndCharacterEdges) {
  const DumpLayout with = Layout(512, WidthFor(16), 200);
  EXPECT_EQ(with.AddressWidth(), 5 * kCharWidth);
  EXPECT_EQ(with.HexLeft(), 1 + 5 * kCharWidth);
  EXPECT_EQ(with.CharLeft(), 16 * 3 * kCharWidth + 5 * kCharWidth);
  EXPECT_EQ(with.TabStop(), 3 * kCharWidth);

  const DumpLayout without = Layout(512, WidthFor(16), 200, false, true);
  EXPECT_EQ(without.AddressWidth(), 0);
  EXPECT_EQ(without.HexLeft(), 1);
  EXPECT_EQ(without.CharLeft(), 16 * 3 * kCharWidth);
}

TEST(DumpLayoutNavigation, EndShowsTheLastLineAsTheLastFullRowAndHomeGoesBack) {
  DumpLayout layout = Layout(512, WidthFor(16), 200);  // 32 lines, 13 rows
  EXPECT_EQ(layout.KeyTarget(DumpKey::kEnd), 31);
  const int top = layout.MoveCurrentLine(layout.KeyTarget(DumpKey::kEnd));
  EXPECT_EQ(layout.CurrentLine(), 31);
  EXPECT_EQ(top, 31 - 13 + 2);
  layout.SetTopLine(top);
  EXPECT_EQ(layout.MoveCurrentLine(layout.KeyTarget(DumpKey::kHome)), 0);
  EXPECT_EQ(layout.CurrentLine(), 0);
}

TEST(DumpLayoutNavigation, TheCursorScrollsOnlyWhenItLeavesTheView) {
  DumpLayout layout = Layout(512, WidthFor(16), 200);  // rows 0..11 fully visible
  EXPECT_EQ(layout.MoveCurrentLine(10), 0);
  EXPECT_EQ(layout.MoveCurrentLine(11), 0);
  EXPECT_EQ(layout.MoveCurrentLine(12), 1);
  layout.SetTopLine(1);
  EXPECT_EQ(layout.MoveCurrentLine(12), 1) << "the same line again does nothing";
  layout.SetTopLine(20);
  EXPECT_EQ(layout.MoveCurrentLine(5), 5);
}

TEST(DumpLayoutNavigation, KeysAskForLinesRelativeToTheCursor) {
  DumpLayout layout = Layout(512, WidthFor(16), 200);
  layout.MoveCurrentLine(20);
  EXPECT_EQ(layout.KeyTarget(DumpKey::kPageUp), 7);
  EXPECT_EQ(layout.KeyTarget(DumpKey::kPageDown), 33);
  EXPECT_EQ(layout.KeyTarget(DumpKey::kUp), 19);
  EXPECT_EQ(layout.KeyTarget(DumpKey::kDown), 21);
  EXPECT_EQ(layout.KeyTarget(DumpKey::kHome), 0);
  layout.MoveCurrentLine(layout.KeyTarget(DumpKey::kPageDown));
  EXPECT_EQ(layout.CurrentLine(), 31);
  layout.MoveCurrentLine(-40);
  EXPECT_EQ(layout.CurrentLine(), 0);
}

TEST(DumpLayoutNavigation, AClickBelowTheLastLineLandsOnTheLastLine) {
  DumpLayout layout = Layout(64, WidthFor(16), 200);  // 4 lines in 13 rows
  EXPECT_EQ(layout.LineAtY(0), 0);
  EXPECT_EQ(layout.LineAtY(kLineHeight * 2 + 3), 2);
  EXPECT_EQ(layout.LineAtY(190), 11);
  layout.MoveCurrentLine(layout.LineAtY(190));
  EXPECT_EQ(layout.CurrentLine(), 3);
}

TEST(DumpLayoutNavigation, TheTopLineIsClampedAndReportsChange) {
  DumpLayout layout = Layout(512, WidthFor(16), 200);
  EXPECT_FALSE(layout.SetTopLine(0));
  EXPECT_TRUE(layout.SetTopLine(50));
  EXPECT_EQ(layout.TopLine(), 31);
  EXPECT_FALSE(layout.SetTopLine(31));
  EXPECT_FALSE(layout.SetTopLine(32)) << "a line-down at the last line changes nothing";
  EXPECT_TRUE(layout.SetTopLine(-3));
  EXPECT_EQ(layout.TopLine(), 0);
}

TEST(DumpLayoutPaint, RowsOfAnExposedBand) {
  const DumpLayout layout = Layout(512, WidthFor(16), 200);  // 13 rows
  DumpRows rows = layout.RowsIn(0, 200);
  EXPECT_EQ(rows.first, 0);
  EXPECT_EQ(rows.last, 12);
  rows = layout.RowsIn(16, 32);
  EXPECT_EQ(rows.first, 1);
  EXPECT_EQ(rows.last, 1);
  rows = layout.RowsIn(15, 17);
  EXPECT_EQ(rows.first, 0);
  EXPECT_EQ(rows.last, 1);
  rows = layout.RowsIn(184, 400);
  EXPECT_EQ(rows.first, 11);
  EXPECT_EQ(rows.last, 12);
  rows = layout.RowsIn(50, 50);
  EXPECT_LT(rows.last, rows.first);
}

TEST(DumpLayoutPaint, OneLineScrollsMoveABandAndRepaintOneRow) {
  const DumpLayout layout = Layout(512, WidthFor(16), 200);
  const OneLineScroll up = layout.PlanOneLineScroll(+1, 200);  // back one line: rows go down
  EXPECT_EQ(up.moved.top, 16);
  EXPECT_EQ(up.moved.height, 184);
  EXPECT_EQ(up.dy, 16);
  EXPECT_EQ(up.repaint.top, 0);
  EXPECT_EQ(up.repaint.height, 16);

  const OneLineScroll down = layout.PlanOneLineScroll(-1, 200);
  EXPECT_EQ(down.moved.top, 0);
  EXPECT_EQ(down.moved.height, 184);
  EXPECT_EQ(down.dy, -16);
  EXPECT_EQ(down.repaint.top, 184);
  EXPECT_EQ(down.repaint.height, 16);
}

}  // namespace
