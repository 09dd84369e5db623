// The sector viewer on real disk images: chunk reads into the shared buffer, stepping through
// its sectors, the label rules, and refused input.

#include "viewer/sector_viewer.h"
#include "disk/chunk_buffer.h"
#include "disk/drive_table.h"
#include "skin/hs_skin_btn.h"
#include "support/temp_dir.h"
#include "viewer/hex_dump.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

constexpr std::size_t kImageSectors = 4096;

/// Byte i of sector s of drive d is (s * 7 + i + d * 100) mod 251.
std::uint8_t PatternByte(int drive, std::size_t sector, std::size_t i) {
  return static_cast<std::uint8_t>((sector * 7 + i + static_cast<std::size_t>(drive) * 100) % 251);
}

class SectorViewer : public testing::Test {
 protected:
  SectorViewer() : table_(dir_ / "no-sysfs", dir_ / "no-dev") {
    for (int drive = 0; drive < 2; ++drive) {
      std::vector<std::uint8_t> bytes(kImageSectors * 512);
      for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = PatternByte(drive, i / 512, i % 512);
      const std::string path = dir_ / ("disk" + std::to_string(drive) + ".img");
      WriteFile(path, bytes);
      EXPECT_EQ(table_.RegisterImage(path), drive);
    }
    TForm1::setMessageHandler([this](const QString& text) { messages_ << text; });
    form_ = std::make_unique<TForm1>(table_, buffer_);
  }
  ~SectorViewer() override { TForm1::setMessageHandler({}); }

  THexDump* dump() const { return form_->hexDump(); }

  /// True when the dump shows `sector` of `drive`.
  bool Shows(int drive, std::size_t sector) const {
    if (dump()->DataLength() != 512 || dump()->DataPointer() == nullptr) return false;
    for (std::size_t i = 0; i < 512; ++i)
      if (dump()->DataPointer()[i] != PatternByte(drive, sector, i)) return false;
    return true;
  }
  bool ShowsZeros() const {
    const std::uint8_t* data = dump()->DataPointer();
    return dump()->DataLength() == 512 && data != nullptr &&
           std::all_of(data, data + 512, [](std::uint8_t b) { return b == 0; });
  }

  void Enter(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
  }
  void Next() { QTest::mouseClick(form_->BitBtn1, Qt::LeftButton); }
  void Previous() { QTest::mouseClick(form_->BitBtn2, Qt::LeftButton); }

  TempDir dir_;
  DriveTable table_;
  ChunkBuffer buffer_;
  QStringList messages_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(SectorViewer, WindowControlsAndTexts) {
  EXPECT_EQ(form_->windowTitle(), "Physical Disk Access");
  EXPECT_EQ(form_->size(), QSize(763, 538));
  EXPECT_FALSE(form_->isVisible()) << "created hidden";
  EXPECT_EQ(form_->Label4->text(), "Demonstration of Physical Disk Access");
  EXPECT_TRUE(form_->Label4->font().bold());
  EXPECT_EQ(form_->Label8->text(), "supports Windows(R) 95,98,ME,NT and 2000");
  EXPECT_EQ(form_->Label5->text(), "Windows(R) 95/98/ME: uses INT13 Extensions VXD");
  EXPECT_EQ(form_->Label6->text(), "Windows NT/2000: uses NT API");
  EXPECT_EQ(form_->Label10->text(), "Header Sector:");
  EXPECT_EQ(form_->edStartLBA->text(), "");
  EXPECT_EQ(form_->Label2->text(), "Sector:");
  EXPECT_EQ(form_->Edit1->text(), "0");
  EXPECT_EQ(form_->Label1->text(), "Hexdump:");
  EXPECT_EQ(form_->Notebook1->count(), 1);
  EXPECT_EQ(dump()->parentWidget(), form_->Notebook1->widget(0));
  EXPECT_EQ(form_->SectorIndex(), 0);
  EXPECT_EQ(form_->drive(), 0);
}

TEST_F(SectorViewer, EveryShowStartsOnTheBlankSector) {
  // As the main window's Recover does it: chunk at 0 read first, then the window shown.
  ASSERT_TRUE(buffer_.ReadDiskChunk(table_, 0, 0, ChunkBuffer::kSize));
  form_->showAt(0);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(form_->edStartLBA->text(), "0");
  EXPECT_EQ(form_->Label2->text(), "sector : 0");
  EXPECT_TRUE(ShowsZeros());
  EXPECT_NE(dump()->DataPointer(), buffer_.data());
  EXPECT_EQ(dump()->CurrentLine(), 0);
  Next();
  EXPECT_TRUE(Shows(0, 1));
  form_->close();
  form_->show();
  EXPECT_TRUE(ShowsZeros());
  EXPECT_EQ(form_->SectorIndex(), 1) << "the index outlives closing the window";
}

TEST_F(SectorViewer, EnterInTheHeaderFieldReadsTheChunk) {
  form_->show();
  QSignalSpy reads(form_.get(), &TForm1::chunkRead);
  Enter(form_->edStartLBA, "1000");
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  EXPECT_EQ(form_->Label2->text(), "sector : 1000");
  EXPECT_EQ(form_->Edit1->text(), "0");
  EXPECT_EQ(form_->SectorIndex(), 0);
  EXPECT_EQ(dump()->DataPointer(), buffer_.data());
  EXPECT_TRUE(Shows(0, 1000));
  ASSERT_EQ(reads.count(), 1);
  EXPECT_EQ(reads[0][1].toULongLong(), 1000u);
  EXPECT_TRUE(reads[0][2].toBool());
}

TEST_F(SectorViewer, NextTwiceFromHeader1000) {
  form_->show();
  Enter(form_->edStartLBA, "1000");
  Next();
  Next();
  EXPECT_EQ(form_->Label2->text(), "sector : 1002");
  EXPECT_EQ(form_->Edit1->text(), "2");
  EXPECT_TRUE(Shows(0, 1002));
  Previous();
  EXPECT_EQ(form_->Label2->text(), "sector : 1001");
  EXPECT_TRUE(Shows(0, 1001));
}

TEST_F(SectorViewer, EnterInTheIndexFieldKeepsTheLabel) {
  form_->show();
  Enter(form_->edStartLBA, "1000");
  Next();
  ASSERT_EQ(form_->Label2->text(), "sector : 1001");
  Enter(form_->Edit1, "5");
  EXPECT_EQ(form_->SectorIndex(), 5);
  EXPECT_TRUE(Shows(0, 1005));
  EXPECT_EQ(dump()->DataPointer(), buffer_.data() + 5 * 512);
  EXPECT_EQ(form_->Label2->text(), "sector : 1001");
}

TEST_F(SectorViewer, EnterInTheHeaderFieldResetsTheIndex) {
  form_->show();
  Enter(form_->edStartLBA, "10");
  Enter(form_->Edit1, "7");
  ASSERT_TRUE(Shows(0, 17));
  Enter(form_->edStartLBA, "20");
  EXPECT_EQ(form_->Edit1->text(), "0");
  EXPECT_EQ(form_->SectorIndex(), 0);
  EXPECT_TRUE(Shows(0, 20));
}

TEST_F(SectorViewer, StepsStopAtTheEndsOfTheBuffer) {
  form_->show();
  Enter(form_->edStartLBA, "0");
  Previous();
  EXPECT_EQ(form_->SectorIndex(), 0);
  EXPECT_EQ(form_->Edit1->text(), "0");
  EXPECT_EQ(form_->Label2->text(), "sector : 0");
  Enter(form_->Edit1, "2047");
  Next();
  EXPECT_EQ(form_->SectorIndex(), 2047);
  EXPECT_EQ(form_->Label2->text(), "sector : 2047");
  EXPECT_TRUE(Shows(0, 2047));
  Previous();
  EXPECT_EQ(form_->SectorIndex(), 2046);
}

TEST_F(SectorViewer, TheLabelShowsTheHeaderAsTypedAfterARead) {
  form_->show();
  Enter(form_->edStartLBA, "40");
  form_->hexDump()->SetCurrentLine(31);  // the bottom of the sector
  ASSERT_GT(form_->hexDump()->TopLine(), 0);
  Enter(form_->edStartLBA, " 0012");
  EXPECT_EQ(form_->Label2->text(), "sector :  0012");
  EXPECT_EQ(form_->hexDump()->TopLine(), 0) << "a new header sector is shown from its top";
  EXPECT_TRUE(Shows(0, 12));
  Next();
  EXPECT_EQ(form_->Label2->text(), "sector : 13");
}

TEST_F(SectorViewer, AnIndexThatIsNoNumberOrOutsideTheBufferChangesNothing) {
  form_->show();
  Enter(form_->edStartLBA, "100");
  Enter(form_->Edit1, "3");
  ASSERT_TRUE(Shows(0, 103));
  const struct {
    const char* typed;
    const char* message;
  } cases[] = {
      {"abc", "'abc' is not a valid integer value"},
      {"", "'' is not a valid integer value"},
      {"1.5", "'1.5' is not a valid integer value"},
      {"99999999999", "'99999999999' is not a valid integer value"},
      {"2048", "'2048' is not a sector of the buffer: enter a number from 0 to 2047."},
      {"-1", "'-1' is not a sector of the buffer: enter a number from 0 to 2047."},
  };
  for (const auto& c : cases) {
    messages_.clear();
    Enter(form_->Edit1, c.typed);
    EXPECT_EQ(messages_, QStringList{c.message}) << c.typed;
    EXPECT_EQ(form_->SectorIndex(), 3) << c.typed;
    EXPECT_TRUE(Shows(0, 103)) << c.typed;
    EXPECT_EQ(form_->Label2->text(), "sector : 100");
  }
}

TEST_F(SectorViewer, AHeaderThatIsNoSectorNumberReadsNothing) {
  form_->show();
  Enter(form_->edStartLBA, "100");
  Enter(form_->Edit1, "3");
  QSignalSpy reads(form_.get(), &TForm1::chunkRead);
  const struct {
    const char* typed;
    const char* message;
  } cases[] = {
      {"x12", "'x12' is not a valid integer value"},
      {"", "'' is not a valid integer value"},
      {"-5", "'-5' is not a valid sector number"},
      {"18014398509481984", "'18014398509481984' is not a valid sector number"},
  };
  for (const auto& c : cases) {
    messages_.clear();
    Enter(form_->edStartLBA, c.typed);
    EXPECT_EQ(messages_, QStringList{c.message}) << c.typed;
    EXPECT_EQ(form_->Edit1->text(), "3") << c.typed;
    EXPECT_EQ(form_->Label2->text(), "sector : 100") << c.typed;
    EXPECT_TRUE(Shows(0, 103)) << c.typed;
  }
  EXPECT_EQ(reads.count(), 0);
}

TEST_F(SectorViewer, AStepWithABadHeaderStillStepsButKeepsTheLabel) {
  form_->show();
  Enter(form_->edStartLBA, "100");
  form_->edStartLBA->setText("oops");
  Next();
  EXPECT_EQ(messages_, QStringList{"'oops' is not a valid integer value"});
  EXPECT_EQ(form_->SectorIndex(), 1);
  EXPECT_EQ(form_->Edit1->text(), "1");
  EXPECT_TRUE(Shows(0, 101));
  EXPECT_EQ(form_->Label2->text(), "sector : 100");
}

TEST_F(SectorViewer, AFailedReadShowsZerosAndSaysNothing) {
  form_->show();
  QSignalSpy reads(form_.get(), &TForm1::chunkRead);
  Enter(form_->edStartLBA, "5000");
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_TRUE(ShowsZeros());
  EXPECT_EQ(form_->Label2->text(),
            "sector : 5000 (past the end of the disk: its last sector is 4095)");
  ASSERT_EQ(reads.count(), 1);
  EXPECT_FALSE(reads[0][2].toBool());
}

TEST_F(SectorViewer, AChunkRunningPastTheEndShowsWhatArrivedThenZeros) {
  form_->show();
  QSignalSpy reads(form_.get(), &TForm1::chunkRead);
  // The chunk from sector 3000 runs past the end of the 4096-sector image.
  Enter(form_->edStartLBA, "3000");
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_TRUE(Shows(0, 3000));
  Enter(form_->Edit1, "1095");
  EXPECT_TRUE(Shows(0, 4095));
  Next();
  EXPECT_TRUE(ShowsZeros());
  EXPECT_EQ(form_->Label2->text(),
            "sector : 4096 (past the end of the disk: its last sector is 4095)");
  ASSERT_EQ(reads.count(), 1);
  EXPECT_FALSE(reads[0][2].toBool());
}

TEST_F(SectorViewer, OpenAtReadsFromTheChosenDriveAndShowsTheFirstSector) {
  form_->setDrive(1);
  EXPECT_EQ(form_->windowTitle(), "Physical Disk Access - disk1.img");
  QSignalSpy reads(form_.get(), &TForm1::chunkRead);
  EXPECT_TRUE(form_->openAt(1500));
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(form_->edStartLBA->text(), "1500");
  EXPECT_EQ(form_->Label2->text(), "sector : 1500");
  EXPECT_EQ(form_->Edit1->text(), "0");
  EXPECT_TRUE(Shows(1, 1500));
  ASSERT_EQ(reads.count(), 1);
  EXPECT_EQ(reads[0][0].toInt(), 1);
  Next();
  EXPECT_TRUE(Shows(1, 1501));
  Enter(form_->edStartLBA, "7");
  EXPECT_TRUE(Shows(1, 7)) << "the header field reads the same drive";
  EXPECT_FALSE(form_->openAt(4000)) << "the chunk runs past the image";
  EXPECT_TRUE(Shows(1, 4000));
  EXPECT_FALSE(form_->openAt(9000));
  EXPECT_TRUE(ShowsZeros());
}

TEST_F(SectorViewer, TheIndexFieldKeepsTheCaretWhenTabbedInto) {
  form_->show();
  form_->activateWindow();
  if (!QTest::qWaitForWindowActive(form_.get())) GTEST_SKIP() << "no active window here";
  form_->edStartLBA->setFocus();
  form_->Edit1->setText("42");
  QTest::keyClick(form_->edStartLBA, Qt::Key_Tab);
  if (QApplication::focusWidget() != form_->Edit1) GTEST_SKIP() << "no keyboard focus here";
  EXPECT_FALSE(form_->Edit1->hasSelectedText());
}

}  // namespace
