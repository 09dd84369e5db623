// Drives the real main window end to end on generated disk images.

#include "recovery/ui/main_frm.h"
#include "disk/drive_table.h"
#include "help/about/splash_frm.h"
#include "recovery/ui/file_type_model.h"
#include "recovery/ui/found_files_model.h"
#include "recovery/ui/preview_frm.h"
#include "recovery/ui/process_frm.h"
#include "recovery/ui/prompter.h"
#include "recovery/ui/qt_options_store.h"
#include "recovery/ui/settings_frm.h"
#include "recovery/undelete.h"
#include "skin/ez_rgn_btn.h"
#include "skin/hs_skin_btn.h"
#include "support/failing_disk.h"
#include "support/temp_dir.h"
#include "support/test_disks.h"
#include "update/wizard/web_update_wizard.h"
#include "update/wizard/wu_wiz_form.h"
#include "viewer/debug_log.h"
#include "viewer/sector_viewer.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

namespace fs = std::filesystem;

/// Answers the window's message boxes in code and remembers what they said.
struct ScriptedPrompter final : Prompter {
  void information(QWidget*, const QString& text) override {
    said.append(QStringLiteral("info: ") + text);
  }
  void warning(QWidget*, const QString& text) override {
    said.append(QStringLiteral("warning: ") + text);
  }
  void error(QWidget*, const QString& text) override {
    said.append(QStringLiteral("error: ") + text);
  }
  Answer question(QWidget*, const QString& text) override {
    said.append(QStringLiteral("question: ") + text);
    return answer;
  }
  int choose(QWidget*, const QString& text, const QStringList&) override {
    said.append(QStringLiteral("choose: ") + text);
    const int c = choices.empty() ? -1 : choices.front();
    if (!choices.empty()) choices.pop_front();
    return c;
  }
  QStringList said;
  Answer answer = Answer::Cancel;
  std::deque<int> choices;
};

/// Gives the folders a test has queued; nothing (cancel) when the queue is empty.
struct QueuedChooser final : FolderChooser {
  explicit QueuedChooser(std::deque<QString>* queue) : queue_(queue) {}
  std::optional<QString> choose(const Request&) override {
    if (queue_->empty()) return std::nullopt;
    QString folder = queue_->front();
    queue_->pop_front();
    return folder;
  }
  std::deque<QString>* queue_;
};

/// A disk image: JPGs at 100 and 300, a PDF at 600, ZIPs at 900, 1200, 1500; 3000 sectors.
std::vector<std::uint8_t> SampleDisk() {
  PlantedDisk disk(3000);
  auto bytes = PatternBytes(3000);
  disk.Plant(0, std::string(bytes.begin(), bytes.end()));
  disk.Plant(0, std::string(8, '\0'));  // sector 0 stays blank
  disk.Jpg(100).Jpg(300).Pdf(600).Zip(900).Zip(1200).Zip(1500);
  return disk.bytes();
}

class MainFrmTest : public testing::Test {
 protected:
  void SetUp() override {
    // The options go to the test's own folder, never the user's configuration.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(dir_ / "config"));
    store_ = std::make_unique<QtOptionsStore>();
    image_ = dir_ / "disk.img";
    WriteFile(image_, SampleDisk());
    fs::create_directories(dir_ / "program");
  }
  void TearDown() override {
    if (frm_) frm_->close();
  }

  /// Builds and shows the window over `table`, as the program's entry does.
  void Open(DriveTable& table) {
    MainFrmServices services;
    services.table = &table;
    services.options = store_.get();
    services.prompter = &prompter_;
    services.chooser = std::make_unique<QueuedChooser>(&folders_);
    services.folders = {dir_ / "program", dir_ / "data"};
    Release();
    frm_ = std::make_unique<TmainFrm>(std::move(services));
    settings_ = std::make_unique<TFrmSettings>(
        [this] { return frm_->MaxSizeOfRecoverMB(); },
        [this](std::uint32_t mb) { frm_->SetMaxSizeOfRecoverMB(mb); }, prompter_, frm_.get());
    debug_ = std::make_unique<TdebugFrm>(frm_.get());
    viewer_ = std::make_unique<TForm1>(table, frm_->scanBuffer(), frm_.get());
    process_ = std::make_unique<TprocessFrm>(frm_.get());
    frm_->setDebugForm(debug_.get());
    frm_->setViewerForm(viewer_.get());
    frm_->setSettingsForm(settings_.get());
    frm_->setProcessForm(process_.get());
    frm_->show();
  }
  /// Ends the window and the windows made with it, the main window last.
  void Release() {
    process_.reset();
    settings_.reset();
    viewer_.reset();
    debug_.reset();
    frm_.reset();
  }
  void OpenOnImage() {
    table_.RegisterImage(image_);
    Open(table_);
  }
  void ScanToTheEnd() {
    QSignalSpy ended(frm_.get(), &TmainFrm::scanFinished);
    frm_->erbNextClick();
    ASSERT_TRUE(ended.wait(20000));
  }
  void OpenTypeRow(const char* tag) { OpenTypeRow(FindFileType(tag)); }
  void OpenTypeRow(int row) {
    frm_->lvSelectedFileType->setCurrentIndex(frm_->fileTypeModel()->index(row, 0));
    frm_->lvSelectedFileTypeClick();
  }
  /// Runs the save flow into `folder` and waits for it to finish.
  void SaveInto(const std::string& folder) {
    folders_.push_back(QString::fromStdString(folder));
    QSignalSpy saved(frm_.get(), &TmainFrm::saveFinished);
    frm_->sbRecoverClick();
    if (saved.isEmpty()) {
      ASSERT_TRUE(saved.wait(20000));
    }
  }
  [[nodiscard]] std::vector<std::uint8_t> ImageBytes(std::uint64_t lba, std::size_t size) const {
    const auto all = ReadWholeFile(image_);
    return {all.begin() + static_cast<std::ptrdiff_t>(lba * 512),
            all.begin() + static_cast<std::ptrdiff_t>(lba * 512 + size)};
  }
  [[nodiscard]] std::vector<std::string> Saved(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  std::string image_;
  DriveTable table_{dir_ / "sys", dir_ / "dev"};
  std::unique_ptr<QtOptionsStore> store_;
  ScriptedPrompter prompter_;
  std::deque<QString> folders_;
  std::unique_ptr<TmainFrm> frm_;
  std::unique_ptr<TdebugFrm> debug_;
  std::unique_ptr<TForm1> viewer_;
  std::unique_ptr<TFrmSettings> settings_;
  std::unique_ptr<TprocessFrm> process_;
};

TEST_F(MainFrmTest, ScansAnImageAndSavesTickedFilesByteForByte) {
  OpenOnImage();
  ASSERT_EQ(frm_->lvAvailableDisk->topLevelItemCount(), 1);
  EXPECT_EQ(frm_->lvAvailableDisk->topLevelItem(0)->text(0),
            QStringLiteral("[Disk Image] disk.img"));
  EXPECT_EQ(frm_->currentDisk().DriveNumber(), 0);
  EXPECT_EQ(frm_->lblCapacity->text(), QStringLiteral("1.46 MB "));
  EXPECT_FALSE(frm_->erbPrevious->isEnabled());

  ScanToTheEnd();
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsScan);
  EXPECT_EQ(frm_->fileTypeModel()->caption(FindFileType("JPG")), QStringLiteral("JPG (2)"));
  EXPECT_EQ(frm_->fileTypeModel()->caption(FindFileType("ZIP")), QStringLiteral("ZIP (3)"));
  EXPECT_EQ(frm_->fileTypeModel()->caption(FindFileType("GIF")), QStringLiteral("GIF"));
  // Without real ends the list holds the 45 kinds alone.
  EXPECT_FALSE(frm_->lvSelectedFileType->isRowHidden(FindFileType("ZIP"), QModelIndex()));
  EXPECT_TRUE(frm_->lvSelectedFileType->isRowHidden(FindFileType("DOCX"), QModelIndex()));
  EXPECT_EQ(frm_->edLastSector->text(), QStringLiteral("3000"));
  EXPECT_EQ(frm_->edLBA->text(), QStringLiteral("3000"));
  EXPECT_EQ(frm_->edFoundFile->text(), QStringLiteral("6"));
  EXPECT_EQ(frm_->lblScanNote->text(),
            QStringLiteral("Scan complete. 3000 sectors, 6 files found."));
  // Scan ended: Restart and Previous enabled, Stop Scan not, Next hidden.
  EXPECT_TRUE(frm_->btnRestart->isVisible());
  EXPECT_TRUE(frm_->btnRestart->isEnabled());
  EXPECT_FALSE(frm_->erbNext->isVisible());
  EXPECT_TRUE(frm_->erbPrevious->isEnabled());
  EXPECT_FALSE(frm_->sbStop->isEnabled());
  EXPECT_TRUE(frm_->sbRecover->isEnabled());

  OpenTypeRow("JPG");
  ASSERT_EQ(frm_->foundFilesModel()->rowCount(), 2);
  EXPECT_EQ(frm_->lblFoundFile->text(), QStringLiteral("2"));
  auto* model = frm_->foundFilesModel();
  EXPECT_EQ(model->data(model->index(0, 0), Qt::DisplayRole).toString(),
            QStringLiteral("FILE_100.JPG"));
  EXPECT_EQ(model->data(model->index(0, 1), Qt::DisplayRole).toString(),
            QStringLiteral("100.00 KB"));
  EXPECT_EQ(model->data(model->index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("100"));
  model->setData(model->index(1, 0), Qt::Checked, Qt::CheckStateRole);

  const std::string out = dir_ / "out";
  fs::create_directories(out);
  SaveInto(out);
  EXPECT_EQ(Saved(out), (std::vector<std::string>{"FILE_300.JPG"}));
  EXPECT_EQ(ReadWholeFile(out + "/FILE_300.JPG"), ImageBytes(300, 300 * 512));
  EXPECT_TRUE(frm_->savedFlag());
  EXPECT_EQ(frm_->savePath(), QString::fromStdString(out) + QLatin1Char('/'));
  EXPECT_TRUE(frm_->isContentEnabled());
  // A clean save's totals are told under the lists, with no box to close.
  const QString told =
      QStringLiteral("1 file(s) saved (150.00 KB) into %1/.").arg(QString::fromStdString(out));
  EXPECT_TRUE(prompter_.said.isEmpty()) << prompter_.said.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(frm_->lastSaveSummary(), told);
  EXPECT_EQ(frm_->lblScanNote->text(), told);
  EXPECT_EQ(process_->lblBytes->text(), QStringLiteral("Copied : 150.00 KB of 150.00 KB"));
}

TEST_F(MainFrmTest, SectorViewerOpensOnDriveZeroTheChosenDriveAndAFoundFile) {
  OpenOnImage();
  frm_->spRecoverClick();
  EXPECT_TRUE(viewer_->isVisible());
  EXPECT_EQ(viewer_->edStartLBA->text(), QStringLiteral("0"));
  EXPECT_EQ(viewer_->Label2->text(), QStringLiteral("sector : 0"));
  EXPECT_EQ(frm_->scanBuffer().data()[100 * 512], 0xFF);  // the JPG at sector 100 is in the chunk
  viewer_->hide();

  ScanToTheEnd();
  OpenTypeRow("PDF");
  frm_->viewFoundFile(0);
  EXPECT_TRUE(viewer_->isVisible());
  EXPECT_EQ(viewer_->edStartLBA->text(), QStringLiteral("600"));
  EXPECT_EQ(viewer_->windowTitle(), QStringLiteral("Physical Disk Access - disk.img"));
  // Beside the main window as far as the screen allows, never at its corner.
  EXPECT_NE(viewer_->pos(), QPoint(0, 0));
  EXPECT_EQ(frm_->scanBuffer().data()[0], '%');
  EXPECT_TRUE(debug_->mmDebug->toPlainText().contains(QStringLiteral("6 files found")));
}

/// Ticked types win over ticked files, and the user is told before a folder is asked for:
/// Yes saves the types, No goes back to the lists. With nothing ticked no folder is asked.
TEST_F(MainFrmTest, TypeTicksWinOverFileTicksAfterAskingAndNothingTickedIsSaid) {
  OpenOnImage();
  ScanToTheEnd();
  QSignalSpy saved(frm_.get(), &TmainFrm::saveFinished);
  frm_->sbRecoverClick();
  EXPECT_EQ(prompter_.said, QStringList{QStringLiteral("info: Nothing is ticked.")});
  EXPECT_EQ(saved.size(), 1);

  OpenTypeRow("PDF");
  frm_->foundFilesModel()->setAllChecked(true);
  frm_->fileTypeModel()->setChecked(FindFileType("JPG"), true);
  frm_->fileTypeModel()->setChecked(FindFileType("ZIP"), true);
  const std::string out = dir_ / "out";
  fs::create_directories(out);
  const QString question = QStringLiteral(
      "choose: Ticked files are not saved while a file type is ticked. Save the ticked types?");
  prompter_.said.clear();
  prompter_.choices = {1};  // No: back to the lists, no folder asked, nothing written
  folders_.push_back(QString::fromStdString(out));
  frm_->sbRecoverClick();
  EXPECT_EQ(prompter_.said, QStringList{question});
  EXPECT_EQ(folders_.size(), 1u);
  EXPECT_TRUE(Saved(out).empty());
  folders_.clear();

  prompter_.said.clear();
  prompter_.choices = {0};
  SaveInto(out);
  EXPECT_EQ(prompter_.said.front(), question);
  EXPECT_EQ(process_->AmountOfFile(), 5u);
  EXPECT_EQ(process_->Gauge->value(), 5);
  EXPECT_EQ(Saved(out), (std::vector<std::string>{"FILE_100.JPG", "FILE_1200.ZIP", "FILE_1500.ZIP",
                                                  "FILE_300.JPG", "FILE_900.ZIP"}));
  // The last file runs to the end of the disk.
  EXPECT_EQ(fs::file_size(out + "/FILE_1500.ZIP"), 1500u * 512);
}

TEST_F(MainFrmTest, WhileCopyingOnlyTheCopyWindowIsUsableAndStopWorks) {
  // Twenty files of 20 MB each from a large image take long enough to be stopped.
  PlantedDisk disk(20 * 41000);
  for (std::size_t i = 0; i < 20; ++i) disk.Jpg(i * 41000);
  WriteFile(image_, disk.bytes());
  OpenOnImage();
  ScanToTheEnd();
  frm_->fileTypeModel()->setChecked(FindFileType("JPG"), true);
  const std::string out = dir_ / "out";
  fs::create_directories(out);
  folders_.push_back(QString::fromStdString(out));
  QSignalSpy saved(frm_.get(), &TmainFrm::saveFinished);
  frm_->sbRecoverClick();
  EXPECT_FALSE(frm_->isContentEnabled());
  EXPECT_FALSE(frm_->sbRecover->isEnabled());
  EXPECT_TRUE(process_->isVisible());
  EXPECT_TRUE(process_->bbStop->isEnabled());
  // Closing the main window asks first; No leaves the copy running.
  prompter_.choices = {1};
  frm_->close();
  EXPECT_TRUE(frm_->isVisible());
  EXPECT_TRUE(prompter_.said.contains(
      QStringLiteral("choose: Files are being saved. Stop saving and exit?")));
  // Esc in the copy window is Stop: the window stays until the copy has ended.
  QTest::keyClick(process_.get(), Qt::Key_Escape);
  EXPECT_TRUE(process_->isVisible() || !saved.isEmpty());
  if (saved.isEmpty()) {
    ASSERT_TRUE(saved.wait(20000));
  }
  EXPECT_LT(Saved(out).size(), 20u);
  EXPECT_TRUE(frm_->isContentEnabled());
  EXPECT_FALSE(frm_->GetPause());
  EXPECT_FALSE(process_->isVisible());
}

TEST_F(MainFrmTest, SelectAllAndOpeningARowFollowTheTypeTick) {
  OpenOnImage();
  ScanToTheEnd();
  frm_->btnSelectAllClick();
  for (int row = 0; row < kFileTypeCount; ++row) ASSERT_TRUE(frm_->fileTypeModel()->isChecked(row));
  OpenTypeRow("ZIP");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(frm_->foundFilesModel()->isChecked(i));
  frm_->btnSelectNoneClick();
  EXPECT_FALSE(frm_->foundFilesModel()->isChecked(0));
  OpenTypeRow("GIF");
  EXPECT_EQ(frm_->lblFoundFile->text(), QStringLiteral("0"));
}

/// The skinned buttons are reached with Tab and pressed with Enter or Space; Alt+N is Next
/// and Alt+P Previous; the picture buttons have tooltips.
TEST_F(MainFrmTest, ButtonsWorkFromTheKeyboard) {
  OpenOnImage();
  frm_->activateWindow();
  for (QWidget* b : std::initializer_list<QWidget*>{frm_->erbNext, frm_->erbExit, frm_->sbRecover,
                                                    frm_->btnSelectAll, frm_->btnRefresh})
    EXPECT_EQ(b->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
  EXPECT_EQ(frm_->EzRgnBtn4->toolTip(), QStringLiteral("Settings"));
  EXPECT_EQ(frm_->btnHelp->toolTip(), QStringLiteral("Help"));
  EXPECT_EQ(frm_->erbExit->toolTip(), QStringLiteral("Exit"));

  QSignalSpy ended(frm_.get(), &TmainFrm::scanFinished);
  frm_->erbNext->setFocus();
  QTest::keyClick(frm_->erbNext, Qt::Key_Return);
  ASSERT_TRUE(ended.size() == 1 || ended.wait(20000));
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsScan);

  frm_->btnSelectAll->setFocus();
  QTest::keyClick(frm_->btnSelectAll, Qt::Key_Space);
  EXPECT_TRUE(frm_->fileTypeModel()->isChecked(FindFileType("ZIP")));
  QTest::keyClick(frm_.get(), Qt::Key_P, Qt::AltModifier);
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsListDisk);
}

/// With a disk before it, the image named to the program is the row chosen at start, shown
/// as a disk image; Enter on a drive row is Next; in the type list the arrow keys list the
/// files of the type reached and Space ticks the type with its files.
TEST_F(MainFrmTest, TheImageIsPreselectedAndTheListsFollowTheKeyboard) {
  WriteText(dir_ / "sys/block/sda/removable", "0\n");
  WriteText(dir_ / "sys/block/sda/size", "2048\n");
  WriteText(dir_ / "sys/block/sda/device/model", "QEMU HARDDISK");
  fs::create_directories(dir_ / "dev");
  WriteFile(dir_ / "dev/sda", std::vector<std::uint8_t>(2048 * 512));
  DriveTable machine(dir_ / "sys", dir_ / "dev");
  machine.RegisterImage(image_);
  Open(machine);
  ASSERT_EQ(frm_->lvAvailableDisk->topLevelItemCount(), 2);
  EXPECT_EQ(frm_->lvAvailableDisk->topLevelItem(0)->text(0),
            QStringLiteral("[Fixed Disk] QEMU HARDDISK"));
  EXPECT_EQ(frm_->lvAvailableDisk->topLevelItem(1)->text(0),
            QStringLiteral("[Disk Image] disk.img"));
  EXPECT_EQ(frm_->lvAvailableDisk->currentItem(), frm_->lvAvailableDisk->topLevelItem(1));

  QSignalSpy ended(frm_.get(), &TmainFrm::scanFinished);
  frm_->activateWindow();
  frm_->lvAvailableDisk->setFocus();
  QTest::keyClick(frm_->lvAvailableDisk, Qt::Key_Return);
  ASSERT_TRUE(ended.size() == 1 || ended.wait(20000));
  EXPECT_EQ(frm_->lastScan().files_found, 6u);

  OpenTypeRow("PDF");
  EXPECT_EQ(frm_->lblFoundFile->text(), QStringLiteral("1"));
  frm_->lvSelectedFileType->setFocus();
  QTest::keyClick(frm_->lvSelectedFileType, Qt::Key_Down);  // PDF to the next type
  const int next = FindFileType("PDF") + 1;
  EXPECT_EQ(frm_->lvSelectedFileType->currentIndex().row(), next);
  EXPECT_EQ(frm_->lblFoundFile->text(), QStringLiteral("0"));
  for (int row = next; row < FindFileType("ZIP"); ++row)
    QTest::keyClick(frm_->lvSelectedFileType, Qt::Key_Down);
  EXPECT_EQ(frm_->lblFoundFile->text(), QStringLiteral("3"));
  QTest::keyClick(frm_->lvSelectedFileType, Qt::Key_Space);
  EXPECT_TRUE(frm_->fileTypeModel()->isChecked(FindFileType("ZIP")));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(frm_->foundFilesModel()->isChecked(i));
}

/// The found list sorts by a click on a header, filters by name, tells the size of what is
/// ticked and gives Name at least 145 px; the type list can hide the types with no finds.
TEST_F(MainFrmTest, FoundListSortsFiltersAndTellsTheTickedSize) {
  OpenOnImage();
  ScanToTheEnd();
  OpenTypeRow("ZIP");
  EXPECT_GE(frm_->lvFound->columnWidth(0), 145);
  auto lbas = [this] {
    std::vector<std::uint64_t> out;
    for (int i = 0; i < frm_->foundFilesModel()->rowCount(); ++i)
      out.push_back(frm_->foundFilesModel()->file(i).LBA);
    return out;
  };
  EXPECT_EQ(lbas(), (std::vector<std::uint64_t>{900, 1200, 1500}));
  QHeaderView* header = frm_->lvFound->header();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(2) + 10, header->height() / 2));
  EXPECT_EQ(lbas(), (std::vector<std::uint64_t>{1500, 1200, 900}));

  frm_->foundFilesModel()->setData(frm_->foundFilesModel()->index(0, 0), Qt::Checked,
                                   Qt::CheckStateRole);  // FILE_1500.ZIP, to the disk's end
  EXPECT_EQ(frm_->lblTickedSize->text(), QStringLiteral("750.00 KB ticked"));
  QTest::keyClicks(frm_->edNameFilter, QStringLiteral("_12"));
  EXPECT_EQ(lbas(), (std::vector<std::uint64_t>{1200}));
  EXPECT_EQ(frm_->lblFoundFile->text(), QStringLiteral("1"));
  frm_->edNameFilter->clear();
  EXPECT_EQ(frm_->foundFilesModel()->checkedFiles().size(), 1u);  // the tick outlived the filter

  frm_->chkFoundTypesOnly->setChecked(true);
  EXPECT_TRUE(frm_->lvSelectedFileType->isRowHidden(FindFileType("GIF"), QModelIndex()));
  EXPECT_FALSE(frm_->lvSelectedFileType->isRowHidden(FindFileType("ZIP"), QModelIndex()));
  frm_->chkFoundTypesOnly->setChecked(false);
  EXPECT_FALSE(frm_->lvSelectedFileType->isRowHidden(FindFileType("GIF"), QModelIndex()));
}

/// Selecting a found file previews it: a picture as a thumbnail, text as its first lines,
/// anything else as its first sector in hex.
TEST_F(MainFrmTest, SelectingAFoundFilePreviewsIt) {
  QImage picture(40, 20, QImage::Format_RGB32);
  picture.fill(Qt::darkCyan);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(picture.save(&buffer, "PNG"));
  PlantedDisk disk(300);
  disk.Plant(10, png.toStdString())
      .Plant(40, "<?xml version=\"1.0\"?>\n<minutes>\n<item>agreed</item>\n</minutes>\n")
      .Zip(80);
  WriteFile(image_, disk.bytes());
  OpenOnImage();
  ScanToTheEnd();
  const struct {
    const char* tag;
    QString shows;  ///< text the preview holds; empty: a picture of 40 x 20
  } cases[] = {{"PNG", {}},
               {"XML", QStringLiteral("<item>agreed</item>")},
               {"ZIP", QStringLiteral("000: 50 4B 03 04")}};
  for (const auto& c : cases) {
    OpenTypeRow(c.tag);
    QSignalSpy shown(frm_->previewForm(), &TpreviewFrm::previewShown);
    frm_->lvFound->setCurrentIndex(frm_->foundFilesModel()->index(0, 0));
    ASSERT_TRUE(shown.wait(5000)) << c.tag;
    EXPECT_TRUE(frm_->previewForm()->isVisible());
    if (c.shows.isEmpty()) {
      EXPECT_EQ(frm_->previewForm()->lblPicture->pixmap().size(), QSize(40, 20));
    } else {
      EXPECT_TRUE(frm_->previewForm()->mmText->toPlainText().contains(c.shows))
          << frm_->previewForm()->mmText->toPlainText().toStdString();
    }
  }
}

TEST_F(MainFrmTest, NextNeedsAChosenDrive) {
  Open(table_);  // no disk at all
  EXPECT_EQ(frm_->lvAvailableDisk->topLevelItemCount(), 0);
  frm_->erbNextClick();
  EXPECT_EQ(prompter_.said, QStringList{QStringLiteral("info: Please select disk for scan.")});
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsListDisk);
  frm_->close();

  prompter_.said.clear();
  OpenOnImage();
  frm_->btnRefreshClick();  // after Refresh no drive is chosen until a row is clicked again
  frm_->erbNextClick();
  EXPECT_EQ(prompter_.said, QStringList{QStringLiteral("info: Please select disk for scan.")});
  frm_->lvAvailableDisk->setCurrentItem(frm_->lvAvailableDisk->topLevelItem(0));
  EXPECT_EQ(frm_->currentDisk().DriveNumber(), 0);
}

TEST_F(MainFrmTest, ADriveThatCannotBeReadIsSaidSoBeforeScanning) {
  OpenOnImage();
  fs::remove(image_);
  frm_->erbNextClick();
  ASSERT_EQ(prompter_.said.size(), 1);
  EXPECT_TRUE(prompter_.said[0].contains(QStringLiteral("No such file or directory")))
      << prompter_.said[0].toStdString();
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsListDisk);
  EXPECT_FALSE(frm_->isScanning());
}

TEST_F(MainFrmTest, RestartAsksOnlyWhenNoSaveWasAttempted) {
  OpenOnImage();
  ScanToTheEnd();
  prompter_.answer = Prompter::Answer::Cancel;
  frm_->btnRestartClick();
  EXPECT_EQ(prompter_.said,
            QStringList{QStringLiteral("question: Do you want to save recovered files?")});
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsScan);
  EXPECT_EQ(frm_->foundRows().TotalCount(), 6u);

  // A save whose folder browser was cancelled still counts as an attempt.
  frm_->sbRecoverClick();
  EXPECT_TRUE(frm_->savedFlag());
  prompter_.said.clear();
  frm_->btnRestartClick();
  EXPECT_TRUE(prompter_.said.isEmpty());
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsListDisk);
  EXPECT_TRUE(frm_->erbNext->isVisible());
  EXPECT_TRUE(frm_->erbNext->isEnabled());
  EXPECT_FALSE(frm_->erbPrevious->isEnabled());
}

TEST_F(MainFrmTest, RestartYesSavesThenGoesBack) {
  OpenOnImage();
  ScanToTheEnd();
  frm_->fileTypeModel()->setChecked(FindFileType("PDF"), true);
  prompter_.answer = Prompter::Answer::Yes;
  const std::string out = dir_ / "out";
  fs::create_directories(out);
  folders_.push_back(QString::fromStdString(out));
  QSignalSpy saved(frm_.get(), &TmainFrm::saveFinished);
  frm_->btnRestartClick();
  if (saved.isEmpty()) {
    ASSERT_TRUE(saved.wait(20000));
  }
  EXPECT_EQ(Saved(out), (std::vector<std::string>{"FILE_600.PDF"}));
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsListDisk);
}

TEST_F(MainFrmTest, PreviousThenNextScansAfresh) {
  OpenOnImage();
  ScanToTheEnd();
  const FoundTypeRows* first = &frm_->foundRows();
  frm_->erbPreviousClick();
  EXPECT_EQ(frm_->pcWizard->currentWidget(), frm_->tsListDisk);
  EXPECT_TRUE(frm_->erbNext->isEnabled());
  EXPECT_FALSE(frm_->erbPrevious->isEnabled());
  frm_->fileTypeModel()->setChecked(0, true);
  ScanToTheEnd();
  EXPECT_NE(&frm_->foundRows(), first);
  EXPECT_EQ(frm_->foundRows().TotalCount(), 6u);
  EXPECT_FALSE(frm_->fileTypeModel()->isChecked(0));
}

TEST_F(MainFrmTest, StopScanEndsTheScanAndRestoresTheButtons) {
  // A large image of zeros keeps the scan busy long enough to stop it.
  const std::string big = dir_ / "big.img";
  WriteFile(big, {});
  ASSERT_EQ(::truncate(big.c_str(), off_t{8} << 30), 0);
  table_.RegisterImage(big);
  Open(table_);
  QSignalSpy ended(frm_.get(), &TmainFrm::scanFinished);
  frm_->erbNextClick();
  EXPECT_TRUE(frm_->isScanning());
  EXPECT_TRUE(frm_->sbStop->isEnabled());
  EXPECT_FALSE(frm_->sbRecover->isEnabled());
  EXPECT_FALSE(frm_->btnRestart->isEnabled());
  frm_->sbStopClick();
  ASSERT_TRUE(ended.wait(20000));
  EXPECT_EQ(frm_->lastScan().reason, ScanEnd::kStopped);
  EXPECT_FALSE(frm_->GetPause());
  EXPECT_TRUE(frm_->btnRestart->isEnabled());
  EXPECT_TRUE(frm_->lblScanNote->text().startsWith(QStringLiteral("Scan stopped at sector")));
}

TEST_F(MainFrmTest, OptionsFirstRunDialogAndZeroLimit) {
  OpenOnImage();
  EXPECT_EQ(frm_->MaxSizeOfRecoverMB(), 20u);
  EXPECT_EQ(frm_->savePath().toStdString(), dir_ / "program/Recovered");
  EXPECT_TRUE(fs::is_directory(dir_ / "program/Recovered"));

  // OK writes the limit at once; Cancel writes nothing.
  settings_->show();
  settings_->speMaxRetry->setValue(12);
  settings_->btnOKClick();
  EXPECT_EQ(frm_->MaxSizeOfRecoverMB(), 12u);
  EXPECT_EQ(store_->Read("MaxRecover"), std::optional<std::string>("12"));
  settings_->show();
  EXPECT_EQ(settings_->speMaxRetry->value(), 12);
  settings_->speMaxRetry->setValue(3);
  settings_->btnCancelClick();
  EXPECT_EQ(frm_->MaxSizeOfRecoverMB(), 12u);
  EXPECT_EQ(store_->Read("MaxRecover"), std::optional<std::string>("12"));

  // A text that is no number is refused with its message; the limit stays.
  settings_->show();
  settings_->speMaxRetry->findChild<QLineEdit*>()->setText(QStringLiteral("lots"));
  settings_->btnOKClick();
  EXPECT_EQ(prompter_.said.back(), QStringLiteral("error: 'lots' is not a valid integer value"));
  EXPECT_EQ(frm_->MaxSizeOfRecoverMB(), 12u);
  EXPECT_TRUE(settings_->isVisible());
  settings_->btnCancelClick();

  // Typed on the keyboard: 25 stays as typed and Enter says why it is refused; 7 and
  // Enter is OK.
  settings_->show();
  settings_->activateWindow();
  auto* edit = settings_->speMaxRetry->findChild<QLineEdit*>();
  settings_->speMaxRetry->setFocus();
  settings_->speMaxRetry->selectAll();
  QTest::keyClicks(edit, QStringLiteral("25"));
  EXPECT_EQ(edit->text(), QStringLiteral("25"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(prompter_.said.back(),
            QStringLiteral("error: 25 MB is refused: the maximum file size is 1 to 20 MB."));
  EXPECT_TRUE(settings_->isVisible());
  EXPECT_EQ(frm_->MaxSizeOfRecoverMB(), 12u);
  settings_->speMaxRetry->selectAll();
  QTest::keyClicks(edit, QStringLiteral("7"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_FALSE(settings_->isVisible());
  EXPECT_EQ(frm_->MaxSizeOfRecoverMB(), 7u);

  // The free-space switch is written at once by OK.
  EXPECT_EQ(settings_->chkFreeSpace->text(),
            QStringLiteral("Search only the free space of the file systems found"));
  settings_->show();
  settings_->chkFreeSpace->setChecked(true);
  settings_->btnOKClick();
  EXPECT_EQ(store_->Read("FreeSpace"), std::optional<std::string>("1"));
  frm_->SetFreeSpaceOnly(false);

  // A stored limit of 0 is no limit, as on the command line.
  frm_->SetMaxSizeOfRecoverMB(0);
  ScanToTheEnd();
  frm_->btnSelectAllClick();
  const std::string out = dir_ / "out";
  fs::create_directories(out);
  SaveInto(out);
  EXPECT_FALSE(Saved(out).empty());
  EXPECT_TRUE(frm_->savedFlag());
}

TEST_F(MainFrmTest, WarnsBeforeSavingOntoTheDiskBeingRecovered) {
  // A fake machine whose disk "sdz" holds the test's temporary folder.
  struct stat st {};
  ASSERT_EQ(::stat(dir_.path().c_str(), &st), 0);
  const std::string dev = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  WriteText(dir_ / "sys/devices/block/sdz/removable", "0\n");
  fs::create_directories(dir_ / "sys/block");
  fs::create_directories(dir_ / "sys/dev/block");
  fs::create_directory_symlink(dir_ / "sys/devices/block/sdz", dir_ / "sys/block/sdz");
  fs::create_directory_symlink(dir_ / "sys/devices/block/sdz", dir_ / ("sys/dev/block/" + dev));
  fs::create_directories(dir_ / "dev");
  fs::copy_file(image_, dir_ / "dev/sdz");
  DriveTable machine(dir_ / "sys", dir_ / "dev");
  Open(machine);
  ASSERT_EQ(frm_->lvAvailableDisk->topLevelItemCount(), 1);
  ScanToTheEnd();
  frm_->fileTypeModel()->setChecked(FindFileType("PDF"), true);
  const std::string out = dir_ / "out";
  fs::create_directories(out);
  // First "Choose Another Folder", then the second folder is on the same disk too: "Save Here".
  prompter_.choices = {0, 1};
  folders_.push_back(QString::fromStdString(out));
  SaveInto(out);
  ASSERT_EQ(prompter_.said.size(), 2);
  EXPECT_TRUE(prompter_.said[0].startsWith(QStringLiteral("choose: The folder")));
  EXPECT_TRUE(frm_->lastSaveSummary().startsWith(QStringLiteral("1 file(s) saved")));
  EXPECT_EQ(Saved(out), (std::vector<std::string>{"FILE_600.PDF"}));
}

}  // namespace

/// Stop Scan on a disk whose reads never return, also while its file systems are being read
/// for their free space: the window has its buttons back within about a second and says the
/// disk did not answer; the stuck read is left behind. A disk that is gone while its file
/// systems are read ends the scan as a lost disk does.
TEST_F(MainFrmTest, StopScanOnADiskThatStoppedAnsweringReturnsAtOnce) {
  const struct {
    const char* fault;
    bool freeSpace;
    bool stop;
    ScanEnd reason;
    QString says;
  } cases[] = {
      {"hang\n", false, true, ScanEnd::kStopped, QStringLiteral("the disk did not answer")},
      {"hang\n", true, true, ScanEnd::kStopped, QStringLiteral("the disk did not answer")},
      {"vanish ENODEV\n", true, false, ScanEnd::kSourceLost,
       QStringLiteral("The disk could not be read past sector 0: ")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + (c.freeSpace ? " in the free space" : ""));
    FailingDisk disk(image_, {.loop = false});
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    disk.Control(c.fault);
    DriveTable table(dir_ / "sys", dir_ / "dev");
    table.RegisterImage(disk.Path());
    Open(table);
    frm_->SetFreeSpaceOnly(c.freeSpace);
    QSignalSpy ended(frm_.get(), &TmainFrm::scanFinished);
    frm_->erbNextClick();
    if (c.stop) {
      QTest::qWait(300);
      frm_->sbStopClick();
    }
    ASSERT_TRUE(ended.size() == 1 || ended.wait(3000));
    EXPECT_EQ(frm_->lastScan().reason, c.reason);
    EXPECT_TRUE(frm_->btnRestart->isEnabled());
    EXPECT_TRUE(frm_->lblScanNote->text().contains(c.says))
        << frm_->lblScanNote->text().toStdString();
    EXPECT_FALSE(frm_->lblFreeSpace->isVisible());  // nothing was searched
    disk.Control("");  // a stuck read returns into a scan nobody waits for
    frm_->close();
    Release();
  }
}

/// Exit while a scan runs asks first: No keeps scanning, Yes stops the scan (even one stuck
/// in a disk that stopped answering) and closes the window.
TEST_F(MainFrmTest, ExitDuringAScanAsksFirst) {
  FailingDisk disk(image_, {.loop = false});
  if (!disk.Ready()) GTEST_SKIP() << disk.Why();
  disk.Control("hang\n");
  table_.RegisterImage(disk.Path());
  Open(table_);
  frm_->erbNextClick();
  QTest::qWait(200);
  ASSERT_TRUE(frm_->isScanning());
  prompter_.choices = {1};
  frm_->close();
  EXPECT_EQ(prompter_.said.back(), QStringLiteral("choose: A scan is running. Stop it and exit?"));
  EXPECT_TRUE(frm_->isVisible());
  EXPECT_TRUE(frm_->isScanning());
  prompter_.choices = {0};
  QElapsedTimer clock;
  clock.start();
  frm_->close();
  EXPECT_FALSE(frm_->isVisible());
  EXPECT_LT(clock.elapsed(), 3000);
  disk.Control("");
}

/// With real ends on, the found list shows how each file's end was decided.
TEST_F(MainFrmTest, RealEndsAddTheEndColumn) {
  // A whole 1x1 GIF at sector 2000; the test image's other starts are bare signatures.
  static const char kGif[] =
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00"
      "\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
      "D\x01\x00;";
  {
    std::fstream f(image_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(2000 * 512);
    f.write(kGif, sizeof kGif - 1);
  }
  OpenOnImage();
  frm_->SetRealEnds(true);
  ScanToTheEnd();
  // With real ends today's kinds are looked for too, and their rows are listed.
  EXPECT_FALSE(frm_->lvSelectedFileType->isRowHidden(FindFileType("DOCX"), QModelIndex()));
  OpenTypeRow("GIF");
  FoundFilesModel& found = *frm_->foundFilesModel();
  ASSERT_EQ(found.columnCount(), 4);
  ASSERT_EQ(found.rowCount(), 1);
  EXPECT_EQ(found.file(0).Size, sizeof kGif - 1);
  EXPECT_EQ(found.data(found.index(0, 3), Qt::DisplayRole), QStringLiteral("format"));
  // Bare signatures are no files: the JPG row stays empty.
  OpenTypeRow("JPG");
  EXPECT_EQ(found.rowCount(), 0);
}

/// Runs a shell command and gives what it printed.
std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

/// The sample's files written into the holes between files in use of a FAT32 disk and deleted:
/// searching only the free space, the window lists what the command line lists, the found
/// files by their disk sectors and the deleted files the file system names by their names,
/// each once; it shows them from the disk and saves every one of them whole, the named ones
/// under undeleted/fat32/, but not one whose blocks other files hold until it is ticked.
/// Searching the whole disk, as the command line does without the option.
TEST_F(MainFrmTest, FreeSpaceSearchListsShowsAndSavesFoundAndNamedFiles) {
  const std::string sample = dir_ / "sample", files = dir_ / "files", image = dir_ / "fat32.img";
  const std::string make = "bash " TRAWLEX_SOURCE_DIR "/scripts/make_sample_image.sh " + sample +
                           " >/dev/null 2>&1 && bash " TRAWLEX_SOURCE_DIR
                           "/tests/support/make_fragmented_fs.sh fat32 " +
                           image + " " + files + " " + sample + "/files >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "cannot make a FAT32 image here";
  std::map<std::string, std::vector<std::uint8_t>> originals;
  for (const auto& e : fs::directory_iterator(files))
    originals[e.path().filename().string()] = ReadWholeFile(e.path());
  table_.RegisterImage(image);
  Open(table_);
  frm_->SetRealEnds(true);
  std::map<bool, std::size_t> whole;  // originals saved byte for byte
  std::string pictureAt;              // the disk sector of the picture in pieces
  auto* model = frm_->foundFilesModel();
  auto text = [model](int row, int column) {
    return model->data(model->index(row, column), Qt::DisplayRole).toString().toStdString();
  };
  /// Every regular file under `folder`, by its path there.
  auto savedUnder = [](const std::string& folder) {
    std::map<std::string, std::vector<std::uint8_t>> saved;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.is_regular_file())
        saved[fs::relative(e.path(), folder).string()] = ReadWholeFile(e.path());
    return saved;
  };
  for (const bool freeSpace : {false, true}) {
    SCOPED_TRACE(freeSpace ? "free space" : "whole disk");
    frm_->SetFreeSpaceOnly(freeSpace);
    if (frm_->pcWizard->currentWidget() != frm_->tsListDisk) frm_->erbPreviousClick();
    ScanToTheEnd();
    EXPECT_EQ(frm_->lblFreeSpace->isVisible(), freeSpace);
    if (freeSpace) {
      EXPECT_TRUE(frm_->lblFreeSpace->text().startsWith(
          QStringLiteral("Free space searched: fat32 at sector 0, ")))
          << frm_->lblFreeSpace->text().toStdString();
    }

    // Sector and name of every file listed, in every row, against the command line's.
    std::multiset<std::string> listed, printed;
    std::set<std::string> named;  // the deleted files by their names
    std::string marked;           // one left unticked: other files hold its blocks
    EXPECT_EQ(frm_->fileTypeModel()->rowCount(), kFileTypeCount + (freeSpace ? 1 : 0));
    for (int row = 0; row < frm_->fileTypeModel()->rowCount(); ++row) {
      OpenTypeRow(row);
      EXPECT_EQ(frm_->fileTypeModel()->count(row), static_cast<qulonglong>(model->rowCount()));
      for (int i = 0; i < model->rowCount(); ++i) {
        listed.insert(text(i, 2) + "\t" + text(i, 0));
        if (!model->isNamed(i)) continue;
        named.insert(text(i, 0));
        EXPECT_EQ(model->isChecked(i), model->namedFile(i).SavedByDefault()) << text(i, 0);
        EXPECT_EQ(text(i, 3), UndeleteCheckName(model->namedFile(i).check));
        if (text(i, 3) == "overwritten") {
          marked = text(i, 0);
          EXPECT_EQ(row, kOtherFilesRow);
          EXPECT_TRUE(model->data(model->index(i, 0), Qt::ForegroundRole).isValid());
          EXPECT_TRUE(model->data(model->index(i, 0), Qt::ToolTipRole)
                          .toString()
                          .contains(QStringLiteral("(overwritten)")));
        }
      }
    }
    std::istringstream tsv(CommandOutput(std::string(TRAWLEX_BINARY) + " scan " + image +
                                         " --real-ends --format tsv" +
                                         (freeSpace ? " --free-space" : "") + " 2>/dev/null"));
    std::string line, lba, size, type, name;
    std::getline(tsv, line);  // the heading
    while (std::getline(tsv, line)) {
      std::istringstream cells(line);
      for (std::string* cell : {&lba, &size, &type, &name}) std::getline(cells, *cell, '\t');
      printed.insert(lba + "\t" + name);
    }
    EXPECT_GE(listed.size(), originals.size());
    EXPECT_EQ(listed, printed);
    EXPECT_EQ(named.empty(), !freeSpace);

    if (freeSpace) {
      EXPECT_EQ(marked, "_37.bin");
      // The name filter and the sort take the names as they take the found files'.
      OpenTypeRow(kOtherFilesRow);
      frm_->edNameFilter->setText(QStringLiteral("_39"));
      ASSERT_EQ(model->rowCount(), 1);
      EXPECT_EQ(text(0, 0), "_39.bin");
      frm_->edNameFilter->clear();
      frm_->lvFound->sortByColumn(0, Qt::DescendingOrder);
      EXPECT_EQ(text(0, 0), "_39.bin");
      frm_->lvFound->sortByColumn(2, Qt::AscendingOrder);
      EXPECT_EQ(text(0, 0), "_37.bin");
      // The picture in pieces, listed by its name: the viewer opens at its disk sector and
      // the preview puts it together as the original would show.
      OpenTypeRow("JPG");
      frm_->edNameFilter->setText(QStringLiteral("arbour"));
      ASSERT_EQ(model->rowCount(), 1);
      EXPECT_EQ(text(0, 0), "_arbour.jpg");  // FAT keeps no first letter of a deleted name
      pictureAt = text(0, 2);
      frm_->viewFoundFile(0);
      EXPECT_EQ(viewer_->edStartLBA->text().toStdString(), text(0, 2));
      viewer_->hide();
      QSignalSpy shown(frm_->previewForm(), &TpreviewFrm::previewShown);
      frm_->lvFound->setCurrentIndex(model->index(0, 0));
      ASSERT_TRUE(shown.wait(5000));
      EXPECT_EQ(frm_->previewForm()->lblName->text().toStdString(), text(0, 0));
      QImageReader original(QString::fromStdString(files + "/harbour.jpg"));
      original.setScaledSize(original.size().scaled(QSize(260, 260), Qt::KeepAspectRatio));
      EXPECT_EQ(
          frm_->previewForm()->lblPicture->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
          original.read().convertToFormat(QImage::Format_RGB32));
      frm_->edNameFilter->clear();
    }

    frm_->btnSelectAllClick();
    const std::string out = dir_ / (freeSpace ? "free" : "whole");
    fs::create_directories(out);
    SaveInto(out);
    const auto saved = savedUnder(out);
    for (const auto& [path, bytes] : saved) {
      const bool byName = path.rfind("undeleted/fat32/", 0) == 0;
      EXPECT_TRUE(path == "report.xml" ||
                  (byName ? named.count(path.substr(16)) > 0
                          : listed.count(path.substr(5, path.find('.') - 5) + "\t" + path) > 0))
          << path;
    }
    for (const auto& [fileName, bytes] : originals) {
      whole[freeSpace] += std::any_of(saved.begin(), saved.end(),
                                      [&](const auto& file) { return file.second == bytes; });
      if (!freeSpace) continue;
      // Each deleted file by its name, as FAT keeps it, its bytes the original's.
      auto byName = saved.find("undeleted/fat32/" + fileName);
      if (byName == saved.end()) byName = saved.find("undeleted/fat32/_" + fileName.substr(1));
      EXPECT_TRUE(byName != saved.end() && byName->second == bytes) << fileName;
    }
    EXPECT_EQ(saved.count("undeleted/fat32/" + marked), 0U);

    if (freeSpace) {
      // Ticked by itself, the greyed one is saved too, alone.
      frm_->btnSelectNoneClick();
      OpenTypeRow(kOtherFilesRow);
      for (int i = 0; i < model->rowCount(); ++i)
        if (text(i, 0) == marked)
          model->setData(model->index(i, 0), Qt::Checked, Qt::CheckStateRole);
      fs::create_directories(dir_ / "marked");
      SaveInto(dir_ / "marked");
      EXPECT_EQ(savedUnder(dir_ / "marked").count("undeleted/fat32/" + marked), 1U);
      EXPECT_EQ(savedUnder(dir_ / "marked").size(), 2U);  // and the report
    }
  }
  EXPECT_EQ(whole[true], originals.size());
  EXPECT_LT(whole[false], whole[true]);
  // The recovery report places the picture's first piece at its disk sector, in its file system.
  const auto bytes = ReadWholeFile(dir_ / "free/report.xml");
  const std::string report(bytes.begin(), bytes.end());
  EXPECT_NE(report.find("img_offset=\"" + std::to_string(std::stoull(pictureAt) * 512) + "\""),
            std::string::npos);
  EXPECT_NE(report.find("file_system=\"fat32\""), std::string::npos);
  EXPECT_NE(report.find("undeleted/fat32/_arbour.jpg"), std::string::npos);
}

/// Takes the addresses the window asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.append(url); }
};

TEST_F(MainFrmTest, HelpMenuOffersItsItemsAndEachDoesWhatItSays) {
  OpenOnImage();
  QStringList captions;
  for (QAction* a : frm_->PopupAboutus->actions())
    captions.append(a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(captions, (QStringList{"&Help", "Home Page", "-", "Live Update...", "-", "About... "}));
  for (QAction* a : {frm_->mnu_Help, frm_->mnu_HomePage, frm_->mnuLiveUpdate})
    EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();

  // Help: opened at context 10, or said when the help file cannot be loaded.
  frm_->mnu_Help->trigger();
  std::vector<int> contexts;
  bool loads = false;
  frm_->setHelpContextOpener([&](int context) {
    contexts.push_back(context);
    return loads;
  });
  frm_->mnu_Help->trigger();
  loads = true;
  frm_->mnu_Help->trigger();
  EXPECT_EQ(contexts, (std::vector<int>{10, 10}));

  EXPECT_EQ(prompter_.said,
            (QStringList{"warning: Cannot load help file.", "warning: Cannot load help file."}));

  // Live Update: the wizard on the window's engine, from the program's folder.
  QString wizardTitle, wizardFolder;
  frm_->WebUpdateWizard().OnFormCreated = [&](TWUWIZ& form) {
    wizardTitle = form.windowTitle();
    wizardFolder = QDir::currentPath();
    EXPECT_EQ(form.Engine(), &frm_->WebUpdate());
    QTimer::singleShot(0, &form, [&form] { form.close(); });
  };
  const QString before = QDir::currentPath();
  frm_->mnuLiveUpdate->trigger();
  QDir::setCurrent(before);
  EXPECT_EQ(wizardTitle, QStringLiteral("Live Update"));
  EXPECT_EQ(QDir(wizardFolder).canonicalPath(),
            QDir(QString::fromStdString(frm_->WebUpdate().TempDirectory)).canonicalPath());

  // Home Page goes to the desktop's URL handler; with none, the address is offered to copy.
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
  frm_->mnu_HomePage->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0], QUrl(QStringLiteral("http://") + frm_->WebSiteURL()));
  EXPECT_FALSE(frm_->WebSiteURL().contains(QStringLiteral("://")));

  // The update engine got its address (over https) and the program's folder.
  EXPECT_EQ(frm_->WebUpdate().URL.rfind("https://", 0), 0u);
  EXPECT_EQ(frm_->WebUpdate().TempDirectory, dir_ / "program");

  // About shows the splash window as the about box, which stays until OK.
  TFrmSplash splash(QString(), QString(), {});
  frm_->setSplashForm(&splash);
  bool okShown = false;
  QTimer::singleShot(0, &splash, [&] {
    okShown = splash.OKBtn->isVisible() && !splash.LabelLoading->isVisible();
    splash.OKBtnClick();
  });
  frm_->mnu_About->trigger();
  EXPECT_TRUE(okShown);

  // Debug mode adds the debug log, which then opens from the menu.
  EXPECT_EQ(frm_->mnuDebugLog, nullptr);
  frm_->setDebugMode(true);
  ASSERT_NE(frm_->mnuDebugLog, nullptr);
  EXPECT_EQ(frm_->PopupAboutus->actions().back()->text(), QStringLiteral("Debug Log"));
  frm_->mnuDebugLog->trigger();
  EXPECT_TRUE(debug_->isVisible());
  frm_->setDebugMode(false);
  EXPECT_EQ(frm_->PopupAboutus->actions().size(), 6);
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "main_frm_test.moc"
