// THexDump as a real widget on the offscreen platform: layout from its own font and size,
// the texts it paints, keys, mouse, the scroll bar, and what reaches the screen.

#include "viewer/hex_dump.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

namespace {

std::vector<std::uint8_t> Counting(std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

/// A shown window holding one dump whose client area is sized in cells and rows.
class DumpFixture : public testing::Test {
 protected:
  DumpFixture() : host_(std::make_unique<QWidget>()) {
    auto* layout = new QVBoxLayout(host_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    dump_ = new THexDump(host_.get());
    dump_->setMinimumSize(1, 1);
    layout->addWidget(dump_);
    host_->resize(400, 300);
    host_->show();
  }

  /// Resizes so that the client area is `columns` cells wide and `rows` lines high.
  void SizeClient(int columns, int rows) {
    const int width = columns * dump_->CharWidth() + dump_->CharWidth() / 2;
    const int height = rows * dump_->LineHeight() + dump_->LineHeight() / 2;
    host_->resize(host_->width() + width - dump_->viewport()->width(),
                  host_->height() + height - dump_->viewport()->height());
    ASSERT_EQ(dump_->viewport()->width(), width);
    ASSERT_EQ(dump_->viewport()->height(), height);
  }
  /// Client area for `bytes` per line with the address and characters shown.
  void FitBytes(int bytes, int rows = 10) { SizeClient(10 + 4 * bytes, rows); }

  void SetData(const std::vector<std::uint8_t>& bytes) {
    dump_->setDataPointer(bytes.data());
    dump_->setDataLength(static_cast<std::int32_t>(bytes.size()));
    dump_->SetCurrentLine(0);
  }

  QImage Client() { return dump_->viewport()->grab().toImage(); }

  std::unique_ptr<QWidget> host_;
  THexDump* dump_;
};

/// First column with a pixel other than `background` in rows [top, bottom); -1 when none.
int FirstInk(const QImage& image, int top, int bottom, QRgb background) {
  for (int x = 0; x < image.width(); ++x)
    for (int y = top; y < bottom; ++y)
      if (image.pixel(x, y) != background) return x;
  return -1;
}

bool Blank(const QImage& image, int top, int bottom, QRgb background) {
  for (int y = top; y < bottom && y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != background) return false;
  return true;
}

TEST(HexDumpDefaults, AsConstructed) {
  THexDump dump;
  EXPECT_EQ(dump.Border(), THexDump::BorderStyle::Single);
  EXPECT_EQ(dump.frameShape(), QFrame::Box);
  EXPECT_EQ(dump.Color(), QColor(Qt::white));
  EXPECT_TRUE(dump.ShowAddress());
  EXPECT_TRUE(dump.ShowCharacters());
  EXPECT_EQ(dump.AddressColor(), QColor(Qt::black));
  EXPECT_EQ(dump.HexDataColor(), QColor(Qt::black));
  EXPECT_EQ(dump.AnsiCharColor(), QColor(Qt::black));
  EXPECT_EQ(dump.size(), QSize(300, 200));
  EXPECT_EQ(dump.focusPolicy(), Qt::ClickFocus) << "not a tab stop";
  EXPECT_EQ(dump.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_FALSE(dump.HasData());
  EXPECT_EQ(dump.DataLength(), 0);
  EXPECT_EQ(dump.LineCount(), 0);
  EXPECT_GT(dump.CharWidth(), 0);
  EXPECT_GT(dump.LineHeight(), 2);
}

TEST(HexDumpDefaults, PropertiesShareOneIndexedColourPair) {
  THexDump dump;
  EXPECT_TRUE(dump.setProperty("HexDataColor", QColor(Qt::red)));
  EXPECT_EQ(dump.Colors(THexDump::kHexDataColor), QColor(Qt::red));
  dump.setColors(THexDump::kAddressColor, Qt::blue);
  EXPECT_EQ(dump.property("AddressColor").value<QColor>(), QColor(Qt::blue));
  dump.setColors(7, Qt::green);
  EXPECT_FALSE(dump.Colors(7).isValid());
  EXPECT_EQ(dump.AnsiCharColor(), QColor(Qt::black));
  EXPECT_TRUE(dump.setProperty("Border", QVariant::fromValue(THexDump::BorderStyle::None)));
  EXPECT_EQ(dump.frameShape(), QFrame::NoFrame);
}

TEST(HexDumpFont, FixedSysOrTheSystemsFixedFontMeasured) {
  QWidget owner;
  owner.resize(500, 300);
  THexDump* dump = CreateHexDump(&owner);
  owner.show();
  EXPECT_EQ(dump->parentWidget(), &owner);
  EXPECT_EQ(dump->geometry(), owner.rect()) << "fills its owner";
  EXPECT_TRUE(dump->ShowCharacters());
  const QFont used = dump->font();
  EXPECT_TRUE(QFontDatabase::hasFamily(used.family())) << used.family().toStdString();
  EXPECT_TRUE(QFontInfo(used).fixedPitch());
  const QFontMetrics metrics(used);
  EXPECT_EQ(dump->CharWidth(), metrics.horizontalAdvance(QLatin1Char('D')));
  EXPECT_EQ(dump->LineHeight(), metrics.height() + 2);
}

TEST_F(DumpFixture, AFontChangeMeasuresAgainAndRelaysOut) {
  QFont font = dump_->font();
  font.setPointSize(9);
  dump_->setFont(font);
  const std::vector<std::uint8_t> bytes = Counting(512);
  SetData(bytes);
  FitBytes(16);
  const int lineHeight = dump_->LineHeight();
  const int visible = dump_->VisibleLines();
  font.setPointSize(18);
  dump_->setFont(font);
  EXPECT_GT(dump_->LineHeight(), lineHeight);
  EXPECT_LT(dump_->VisibleLines(), visible);
  EXPECT_LT(dump_->BytesPerLine(), 16);
  EXPECT_EQ(dump_->verticalScrollBar()->maximum(), dump_->LineCount() - 1);
}

TEST_F(DumpFixture, WidthGivesOneToSixteenBytes) {
  SizeClient(3, 5);
  EXPECT_EQ(dump_->BytesPerLine(), 1);
  FitBytes(16);
  EXPECT_EQ(dump_->BytesPerLine(), 16);
  SizeClient(200, 5);
  EXPECT_EQ(dump_->BytesPerLine(), 16);
  FitBytes(7);
  EXPECT_EQ(dump_->BytesPerLine(), 7);
}

TEST_F(DumpFixture, ASectorAtSixteenBytesALine) {
  const std::vector<std::uint8_t> bytes = Counting(512);
  FitBytes(16);
  SetData(bytes);
  EXPECT_EQ(dump_->LineCount(), 32);
  EXPECT_EQ(dump_->verticalScrollBar()->maximum(), 31);
  EXPECT_EQ(dump_->addressText(0), "000:");
  EXPECT_EQ(dump_->addressText(1), "010:");
  EXPECT_EQ(dump_->addressText(31), "1f0:");
  EXPECT_EQ(dump_->hexText(0), "00\t01\t02\t03\t04\t05\t06\t07\t08\t09\t0A\t0B\t0C\t0D\t0E\t0F");
  EXPECT_EQ(dump_->hexText(31).size(), 47);
  EXPECT_TRUE(dump_->hexText(31).startsWith("F0\tF1\t"));
  EXPECT_EQ(dump_->characterText(4), QString::fromUtf16(u"@ABCDEFGHIJKLMNO"));
  EXPECT_EQ(dump_->characterText(0).size(), 16);
  EXPECT_EQ(dump_->characterText(0)[0], QChar(u' '));
}

TEST_F(DumpFixture, ASectorAtTwelveBytesEndsWithEight) {
  const std::vector<std::uint8_t> bytes = Counting(512);
  FitBytes(12);
  SetData(bytes);
  ASSERT_EQ(dump_->BytesPerLine(), 12);
  EXPECT_EQ(dump_->LineCount(), 43);
  EXPECT_EQ(dump_->addressText(42), "1f8:");
  EXPECT_EQ(dump_->hexText(42), "F8\tF9\tFA\tFB\tFC\tFD\tFE\tFF");
  EXPECT_EQ(dump_->hexText(42).size(), 23);
  EXPECT_EQ(dump_->characterText(42).size(), 8);
  EXPECT_EQ(dump_->hexText(41).size(), 35);
}

TEST_F(DumpFixture, AddressesFrom4096LoseTheirColon) {
  const std::vector<std::uint8_t> bytes = Counting(8192);
  FitBytes(16);
  SetData(bytes);
  EXPECT_EQ(dump_->addressText(255), "ff0:");
  EXPECT_EQ(dump_->addressText(256), "1000");
  EXPECT_EQ(dump_->addressText(511), "1ff0");
}

TEST_F(DumpFixture, EndShowsTheLastLineAsTheLastFullRowAndHomeGoesBack) {
  const std::vector<std::uint8_t> bytes = Counting(512);
  FitBytes(16, 10);
  SetData(bytes);
  ASSERT_EQ(dump_->VisibleLines(), 11);
  QTest::keyClick(dump_, Qt::Key_End);
  EXPECT_EQ(dump_->CurrentLine(), 31);
  EXPECT_EQ(dump_->TopLine(), 31 - 11 + 2);
  EXPECT_EQ(dump_->verticalScrollBar()->value(), dump_->TopLine());
  QTest::keyClick(dump_, Qt::Key_Home);
  EXPECT_EQ(dump_->CurrentLine(), 0);
  EXPECT_EQ(dump_->TopLine(), 0);
}

TEST_F(DumpFixture, ArrowsAndPagesMoveTheCursorLine) {
  const std::vector<std::uint8_t> bytes = Counting(512);
  FitBytes(16, 10);  // 11 visible lines, 10 of them whole
  SetData(bytes);
  QTest::keyClick(dump_, Qt::Key_Up);
  EXPECT_EQ(dump_->CurrentLine(), 0);
  for (int i = 0; i < 9; ++i) QTest::keyClick(dump_, Qt::Key_Down);
  EXPECT_EQ(dump_->CurrentLine(), 9);
  EXPECT_EQ(dump_->TopLine(), 0);
  QTest::keyClick(dump_, Qt::Key_Down);
  EXPECT_EQ(dump_->CurrentLine(), 10);
  EXPECT_EQ(dump_->TopLine(), 1);
  QTest::keyClick(dump_, Qt::Key_PageDown);
  EXPECT_EQ(dump_->CurrentLine(), 21);
  EXPECT_EQ(dump_->TopLine(), 12);
  QTest::keyClick(dump_, Qt::Key_PageDown);
  EXPECT_EQ(dump_->CurrentLine(), 31);
  EXPECT_EQ(dump_->TopLine(), 22);
  QTest::keyClick(dump_, Qt::Key_PageUp);
  EXPECT_EQ(dump_->CurrentLine(), 20);
  EXPECT_EQ(dump_->TopLine(), 20);
  QTest::keyClick(dump_, Qt::Key_Left);
  QTest::keyClick(dump_, Qt::Key_Right);
  EXPECT_EQ(dump_->CurrentLine(), 20);
}

TEST_F(DumpFixture, WithoutDataKeysAndClicksMoveNothing) {
  FitBytes(16);
  dump_->setDataLength(512);
  ASSERT_FALSE(dump_->HasData());
  QTest::keyClick(dump_, Qt::Key_End);
  QTest::mouseClick(dump_->viewport(), Qt::LeftButton, {}, QPoint(20, 50));
  EXPECT_EQ(dump_->CurrentLine(), 0);
  EXPECT_EQ(dump_->TopLine(), 0);
  EXPECT_TRUE(Blank(Client(), 0, dump_->viewport()->height(), qRgb(255, 255, 255)));
}

TEST_F(DumpFixture, AClickBelowTheLastLineTakesTheLastLineAndTheFocus) {
  const std::vector<std::uint8_t> bytes = Counting(64);
  FitBytes(16, 10);
  SetData(bytes);
  ASSERT_EQ(dump_->LineCount(), 4);
  ASSERT_NE(host_->focusWidget(), dump_);
  QTest::mouseClick(dump_->viewport(), Qt::LeftButton, {}, QPoint(30, dump_->LineHeight() * 8));
  EXPECT_EQ(dump_->CurrentLine(), 3);
  EXPECT_EQ(dump_->TopLine(), 0);
  EXPECT_EQ(host_->focusWidget(), dump_);
  QTest::mouseClick(dump_->viewport(), Qt::LeftButton, {}, QPoint(30, dump_->LineHeight() + 1));
  EXPECT_EQ(dump_->CurrentLine(), 1);
  QTest::mouseClick(dump_->viewport(), Qt::RightButton, {}, QPoint(30, 1));
  EXPECT_EQ(dump_->CurrentLine(), 1) << "only the left button moves the cursor";
}

TEST_F(DumpFixture, ScrollBarRequests) {
  const std::vector<std::uint8_t> bytes = Counting(512);
  FitBytes(16, 10);
  SetData(bytes);
  QScrollBar* bar = dump_->verticalScrollBar();
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 31);
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(dump_->TopLine(), 1);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(dump_->TopLine(), 1 + 10) << "the bar pages by the visible lines less one";
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(dump_->TopLine(), 0);
  bar->setSliderPosition(31);
  EXPECT_EQ(dump_->TopLine(), 31);
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(dump_->TopLine(), 31) << "a line-down at the last line changes nothing";
  EXPECT_EQ(bar->value(), 31);
  bar->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(dump_->TopLine(), 31) << "top and bottom requests keep the view";
  EXPECT_EQ(dump_->CurrentLine(), 0) << "the bar does not move the cursor line";
}

TEST_F(DumpFixture, NewDataKeepsTheViewWhereItWas) {
  const std::vector<std::uint8_t> first = Counting(512);
  const std::vector<std::uint8_t> second(512, 0xAB);
  FitBytes(16, 10);
  SetData(first);
  QTest::keyClick(dump_, Qt::Key_End);
  const int top = dump_->TopLine();
  dump_->setDataPointer(second.data());
  EXPECT_EQ(dump_->TopLine(), top);
  EXPECT_EQ(dump_->CurrentLine(), 31);
  EXPECT_EQ(dump_->hexText(31).left(2), "AB");
  dump_->setDataLength(512);
  EXPECT_EQ(dump_->TopLine(), top);
  EXPECT_EQ(dump_->CurrentLine(), 31);
}

TEST_F(DumpFixture, WithoutTheAddressTheHexStartsAtTheRowsLeftEdge) {
  const std::vector<std::uint8_t> bytes(512, 0xFF);
  FitBytes(16);
  SetData(bytes);
  const int cell = dump_->CharWidth();
  const QRgb white = qRgb(255, 255, 255);
  QImage image = Client();
  const int addressInk = FirstInk(image, 0, dump_->LineHeight(), white);
  EXPECT_GE(addressInk, 1);
  EXPECT_LT(addressInk, 1 + cell);
  // Nothing between the address's four characters and the hex.
  const QImage gap = image.copy(1 + 4 * cell, 0, cell, dump_->LineHeight());
  EXPECT_TRUE(Blank(gap, 0, gap.height(), white));

  dump_->setShowAddress(false);
  EXPECT_EQ(dump_->layout().HexLeft(), 1);
  image = Client();
  const int hexInk = FirstInk(image, 0, dump_->LineHeight(), white);
  EXPECT_GE(hexInk, 1);
  EXPECT_LT(hexInk, 1 + cell);
}

TEST_F(DumpFixture, RowsPastTheDataAreBlank) {
  const std::vector<std::uint8_t> bytes(40, 0xEE);
  FitBytes(16, 10);
  SetData(bytes);
  ASSERT_EQ(dump_->LineCount(), 3);
  const QImage image = Client();
  const QRgb white = qRgb(255, 255, 255);
  const int rowHeight = dump_->LineHeight();
  EXPECT_FALSE(Blank(image, 2 * rowHeight, 3 * rowHeight, white));
  EXPECT_TRUE(Blank(image, 3 * rowHeight, image.height(), white));
  // The short last line ends after its eight bytes' characters.
  const int afterText = dump_->layout().CharLeft() + 8 * dump_->CharWidth() + 1;
  EXPECT_TRUE(Blank(image.copy(afterText, 2 * rowHeight, image.width() - afterText, rowHeight), 0,
                    rowHeight, white));
}

TEST_F(DumpFixture, ColoursReachTheirColumns) {
  const std::vector<std::uint8_t> bytes(512, 'M');
  FitBytes(16);
  SetData(bytes);
  dump_->setColor(QColor(0, 0, 64));
  dump_->setAddressColor(Qt::red);
  dump_->setHexDataColor(Qt::green);
  dump_->setAnsiCharColor(Qt::yellow);
  const QImage image = Client();
  const auto has = [&](int left, int right, QColor colour) {
    for (int x = left; x < right; ++x)
      for (int y = 0; y < dump_->LineHeight(); ++y)
        if (image.pixelColor(x, y) == colour) return true;
    return false;
  };
  const DumpLayout& layout = dump_->layout();
  EXPECT_EQ(image.pixelColor(image.width() - 1, image.height() - 1), QColor(0, 0, 64));
  EXPECT_TRUE(has(1, layout.HexLeft(), Qt::red));
  EXPECT_FALSE(has(1, layout.HexLeft(), Qt::green));
  EXPECT_TRUE(has(layout.HexLeft(), layout.CharLeft(), Qt::green));
  EXPECT_TRUE(has(layout.CharLeft(), image.width(), Qt::yellow));
  EXPECT_FALSE(has(layout.CharLeft(), image.width(), Qt::green));
}

TEST_F(DumpFixture, AOneLineScrollLeavesTheSamePictureAsAFullPaint) {
  std::vector<std::uint8_t> bytes = Counting(512);
  FitBytes(16, 10);
  SetData(bytes);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(host_.get()));
  QScreen* screen = QGuiApplication::primaryScreen();
  const auto onScreen = [&] {
    QCoreApplication::processEvents();
    const QPoint at = dump_->viewport()->mapTo(host_.get(), QPoint(0, 0));
    return screen
        ->grabWindow(host_->winId(), at.x(), at.y(), dump_->viewport()->width(),
                     dump_->viewport()->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  };
  if (onScreen().isNull()) GTEST_SKIP() << "this platform cannot grab windows";
  for (int step = 0; step < 14; ++step) {
    QTest::keyClick(dump_, Qt::Key_Down);
    const QImage fast = onScreen();
    const QImage full = Client().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(fast, full) << "after line down " << step + 1 << ", top line " << dump_->TopLine();
  }
  for (int step = 0; step < 4; ++step) {
    dump_->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    ASSERT_EQ(onScreen(), Client().convertToFormat(QImage::Format_RGB32))
        << "after line up " << step + 1;
  }
}

}  // namespace
