// The debug log window: a memo for lines, a status bar with two panels, and Close.

#include "viewer/debug_log.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(DebugLog, WindowAndControls) {
  TdebugFrm form;
  EXPECT_EQ(form.windowTitle(), "Form Debug");
  EXPECT_EQ(form.size(), QSize(684, 449));
  EXPECT_TRUE(form.isWindow());
  EXPECT_FALSE(form.isVisible()) << "created hidden";
  EXPECT_EQ(form.btnClose->text(), "&Close");
  EXPECT_EQ(form.Bevel1->height(), 30);
  EXPECT_EQ(form.mmDebug->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form.mmDebug->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  ASSERT_NE(form.statusPanel(0), nullptr);
  ASSERT_NE(form.statusPanel(1), nullptr);
  EXPECT_EQ(form.statusPanel(2), nullptr);
  EXPECT_EQ(form.statusPanel(0)->width(), 150);
  EXPECT_EQ(form.statusPanel(1)->width(), 50);
}

TEST(DebugLog, WriteLineAppendsAndWriteStatus0FillsTheFirstPanel) {
  TdebugFrm form;
  form.WriteLine("first");
  form.WriteLine("second line");
  form.WriteLine("");
  form.WriteLine("after a blank");
  EXPECT_EQ(form.mmDebug->toPlainText(), "first\nsecond line\n\nafter a blank");
  form.WriteStatus0("reading");
  form.WriteStatus0("done");
  EXPECT_EQ(form.statusPanel(0)->text(), "done");
  EXPECT_EQ(form.statusPanel(1)->text(), "");
}

TEST(DebugLog, CloseOnlyHides) {
  TdebugFrm form;
  form.show();
  form.WriteLine("kept");
  QTest::mouseClick(form.btnClose, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  form.show();
  EXPECT_EQ(form.mmDebug->toPlainText(), "kept");
}

}  // namespace
