// Walks the main window through its states on the sample image and saves a picture of
// each into a folder (docs/ in the repository). Run under Xvfb:
//   xvfb-run -a -s "-screen 0 1600x900x24" screenshot_tour SAMPLE_IMAGE OUT_DIR [FAT32_IMAGE]
// FAT32_IMAGE, a disk whose deleted files lie in pieces between files in use (made by
// tests/support/make_fragmented_fs.sh), adds the scan of its free space.

#include "disk/drive_table.h"
#include "help/about/splash_frm.h"
#include "recovery/ui/file_type_model.h"
#include "recovery/ui/found_files_model.h"
#include "recovery/ui/main_frm.h"
#include "recovery/ui/preview_frm.h"
#include "recovery/ui/process_frm.h"
#include "recovery/ui/prompter.h"
#include "recovery/ui/qt_options_store.h"
#include "recovery/ui/settings_frm.h"
#include "skin/ez_rgn_btn.h"
#include "viewer/sector_viewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>
#include <deque>

namespace {

/// Shows nothing; keeps the last error for a picture of it.
struct SilentPrompter final : Prompter {
  void information(QWidget*, const QString&) override {}
  void warning(QWidget*, const QString& text) override { last = text; }
  void error(QWidget*, const QString& text) override { last = text; }
  QString last;
  Answer question(QWidget*, const QString&) override { return Answer::No; }
  int choose(QWidget*, const QString&, const QStringList&) override { return 1; }
};

struct FixedChooser final : FolderChooser {
  explicit FixedChooser(QString folder) : folder_(std::move(folder)) {}
  std::optional<QString> choose(const Request&) override { return folder_; }
  QString folder_;
};

void Save(QWidget* w, const QString& path) {
  QApplication::processEvents();
  if (!w->grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  std::printf("wrote %s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ostrel Trawlex Finder"));
  if (argc < 3) {
    std::fprintf(stderr, "usage: screenshot_tour SAMPLE_IMAGE OUT_DIR [FAT32_IMAGE]\n");
    return 1;
  }
  const QString sample = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  QTemporaryDir work;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                     work.filePath(QStringLiteral("config")));

  // A second, large disk: the sample image followed by 16 GiB of empty sectors, so that a
  // scan is still running when it is photographed.
  const QString big = work.filePath(QStringLiteral("camera-card.img"));
  QFile::copy(sample, big);
  QFile(big).resize(qint64{16} << 30);

  // A third disk whose files lie past sector 100,000,000 (60 GiB of empty sectors, then the
  // sample), as on a real disk, for the found list's long sector numbers.
  const QString far = work.filePath(QStringLiteral("field-camera.img"));
  {
    QFile in(sample), outFile(far);
    if (in.open(QIODevice::ReadOnly) && outFile.open(QIODevice::WriteOnly) &&
        outFile.seek(qint64{60} << 30))
      outFile.write(in.readAll());
  }

  DriveTable table(work.filePath(QStringLiteral("sys")).toStdString(),
                   work.filePath(QStringLiteral("dev")).toStdString());
  table.RegisterImage(sample.toStdString());
  table.RegisterImage(big.toStdString());
  table.RegisterImage(far.toStdString());
  const bool fragmented = argc > 3;
  if (fragmented) table.RegisterImage(argv[3]);
  QtOptionsStore store;
  SilentPrompter prompter;
  MainFrmServices services;
  services.table = &table;
  services.options = &store;
  services.prompter = &prompter;
  auto chooser = std::make_unique<FixedChooser>(work.filePath(QStringLiteral("saved")));
  FixedChooser* folders = chooser.get();
  services.chooser = std::move(chooser);
  QDir().mkpath(work.filePath(QStringLiteral("saved")));
  services.folders = {work.filePath(QStringLiteral("program")).toStdString(), ""};
  TmainFrm frm(std::move(services));
  TFrmSettings settings([&] { return frm.MaxSizeOfRecoverMB(); },
                        [&](std::uint32_t mb) { frm.SetMaxSizeOfRecoverMB(mb); }, prompter, &frm);
  TprocessFrm process(&frm);
  TForm1 viewer(table, frm.scanBuffer(), &frm);
  frm.setViewerForm(&viewer);
  frm.setSettingsForm(&settings);
  frm.setProcessForm(&process);
  frm.show();
  frm.activateWindow();
  frm.erbNext->setFocus();  // the keyboard's mark on Next
  QTest::qWait(200);
  Save(&frm, out + QStringLiteral("/main-drive-page.png"));

  // The help button's menu, open under the button.
  {
    frm.PopupAboutus->popup(frm.btnHelp->mapToGlobal(QPoint(0, frm.btnHelp->height())));
    QTest::qWait(300);
    const QRect both =
        frm.frameGeometry().united(frm.PopupAboutus->geometry()).adjusted(-8, -8, 8, 8);
    if (QGuiApplication::primaryScreen()
            ->grabWindow(0, both.x(), both.y(), both.width(), both.height())
            .save(out + QStringLiteral("/help-menu.png")))
      std::printf("wrote %s/help-menu.png\n", qPrintable(out));
    frm.PopupAboutus->hide();
  }

  // The splash while the program starts, and the same window as the about box.
  {
    TFrmSplash splash(QApplication::applicationFilePath(), QString(), {});
    QTimer::singleShot(400, &splash, [&] { Save(&splash, out + QStringLiteral("/splash.png")); });
    splash.ShowSplash(true);
    QTimer::singleShot(300, &splash, [&] {
      Save(&splash, out + QStringLiteral("/about-box.png"));
      splash.OKBtnClick();
    });
    splash.ShowSplash(false);
  }

  // During a scan of the large disk.
  frm.lvAvailableDisk->setCurrentItem(frm.lvAvailableDisk->topLevelItem(1));
  QSignalSpy ended(&frm, &TmainFrm::scanFinished);
  frm.erbNextClick();
  QTest::qWait(400);
  Save(&frm, out + QStringLiteral("/main-scan-running.png"));
  frm.sbStopClick();
  ended.wait(20000);

  // After a whole scan of the sample image, with the JPEG row open.
  frm.erbPreviousClick();
  frm.lvAvailableDisk->setCurrentItem(frm.lvAvailableDisk->topLevelItem(0));
  frm.erbNextClick();
  ended.wait(20000);
  for (const char* tag : {"JPG", "PNG", "TIF"})
    frm.fileTypeModel()->setChecked(FindFileType(tag), true);
  frm.lvSelectedFileType->setCurrentIndex(frm.fileTypeModel()->index(FindFileType("RTF"), 0));
  frm.lvSelectedFileTypeClick();
  frm.foundFilesModel()->setData(frm.foundFilesModel()->index(0, 0), Qt::Checked,
                                 Qt::CheckStateRole);
  Save(&frm, out + QStringLiteral("/main-scan-ended.png"));

  // The sector viewer on the first RTF found, opened beside the main window.
  frm.viewFoundFile(0);
  QTest::qWait(300);
  const QRect both = frm.frameGeometry().united(viewer.frameGeometry()).adjusted(-8, -8, 8, 8);
  if (QGuiApplication::primaryScreen()
          ->grabWindow(0, both.x(), both.y(), both.width(), both.height())
          .save(out + QStringLiteral("/viewer-beside-main.png")))
    std::printf("wrote %s/viewer-beside-main.png\n", qPrintable(out));
  viewer.hide();

  // The copy window, photographed as the save begins.
  frm.SetMaxSizeOfRecoverMB(20);
  QObject::connect(process.Gauge, &QProgressBar::valueChanged, &process, [&](int value) {
    // Photographed at once, before the updates still queued behind this one arrive.
    if (value == 1 && process.grab().save(out + QStringLiteral("/copy-window.png")))
      std::printf("wrote %s/copy-window.png\n", qPrintable(out));
  });
  // Ticked types are saved; the ticked RTF file would only be asked about.
  frm.foundFilesModel()->setData(frm.foundFilesModel()->index(0, 0), Qt::Unchecked,
                                 Qt::CheckStateRole);
  QSignalSpy saved(&frm, &TmainFrm::saveFinished);
  frm.sbRecoverClick();
  saved.wait(20000);

  // The same save again where a folder holds the name of the second file: what went wrong
  // is told in a box the user closes.
  {
    const QString again = work.filePath(QStringLiteral("saved-again"));
    QDir().mkpath(again + QStringLiteral("/FILE_2144.PNG"));
    folders->folder_ = again;
    frm.sbRecoverClick();
    saved.wait(20000);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ostrel Trawlex Finder"), prompter.last,
                    QMessageBox::Ok, &frm);
    box.show();
    QTest::qWait(100);
    Save(&box, out + QStringLiteral("/copy-summary.png"));
    box.close();
  }

  frm.SetRealEnds(true);
  frm.SetFreeSpaceOnly(true);
  settings.show();
  QTest::qWait(100);
  Save(&settings, out + QStringLiteral("/settings-dialog.png"));
  settings.hide();
  frm.SetFreeSpaceOnly(false);

  // A scan that checks each file and finds its real end: the End column.
  frm.erbPreviousClick();
  frm.lvAvailableDisk->setCurrentItem(frm.lvAvailableDisk->topLevelItem(0));
  frm.erbNextClick();
  ended.wait(20000);
  // Only the types found, today's kinds among them: the video clip's row open.
  frm.chkFoundTypesOnly->setChecked(true);
  frm.lvSelectedFileType->setCurrentIndex(frm.fileTypeModel()->index(FindFileType("MP4"), 0));
  frm.lvSelectedFileType->scrollTo(frm.lvSelectedFileType->currentIndex());
  frm.lvSelectedFileTypeClick();
  Save(&frm, out + QStringLiteral("/main-real-ends.png"));
  frm.chkFoundTypesOnly->setChecked(false);

  // The preview of a picture found on the far disk, beside the main window; the found list shows
  // its sector numbers of nine digits.
  {
    frm.SetRealEnds(false);
    frm.erbPreviousClick();
    frm.lvAvailableDisk->setCurrentItem(frm.lvAvailableDisk->topLevelItem(2));
    frm.erbNextClick();
    ended.wait(300000);
    frm.lvSelectedFileType->setCurrentIndex(frm.fileTypeModel()->index(FindFileType("JPG"), 0));
    frm.lvSelectedFileTypeClick();
    QSignalSpy shown(frm.previewForm(), &TpreviewFrm::previewShown);
    frm.lvFound->setCurrentIndex(frm.foundFilesModel()->index(0, 0));
    shown.wait(5000);
    QTest::qWait(200);
    const QRect both =
        frm.frameGeometry().united(frm.previewForm()->frameGeometry()).adjusted(-8, -8, 8, 8);
    if (QGuiApplication::primaryScreen()
            ->grabWindow(0, both.x(), both.y(), both.width(), both.height())
            .save(out + QStringLiteral("/preview-beside-main.png")))
      std::printf("wrote %s/preview-beside-main.png\n", qPrintable(out));
    frm.previewForm()->hide();
  }

  // Only the free space of the FAT32 disk searched, with real ends: the file system under the
  // figures, and the picture that lies in pieces listed by the name its file system gives it.
  if (fragmented) {
    frm.SetRealEnds(true);
    frm.SetFreeSpaceOnly(true);
    frm.erbPreviousClick();
    frm.lvAvailableDisk->setCurrentItem(frm.lvAvailableDisk->topLevelItem(3));
    frm.erbNextClick();
    ended.wait(60000);
    frm.chkFoundTypesOnly->setChecked(true);
    frm.lvSelectedFileType->setCurrentIndex(frm.fileTypeModel()->index(FindFileType("JPG"), 0));
    frm.lvSelectedFileTypeClick();
    frm.lvSelectedFileType->scrollTo(frm.lvSelectedFileType->currentIndex());
    Save(&frm, out + QStringLiteral("/main-free-space.png"));
    // The deleted files of no kind known, by their names: one greyed, since another deleted
    // file that passed its checks now fills its blocks.
    frm.lvSelectedFileType->setCurrentIndex(frm.fileTypeModel()->index(kOtherFilesRow, 0));
    frm.lvSelectedFileTypeClick();
    frm.lvSelectedFileType->scrollTo(frm.lvSelectedFileType->currentIndex());
    Save(&frm, out + QStringLiteral("/main-free-space-named.png"));
  }
  return 0;
}
