#pragma once

#include "disk/chunk_buffer.h"
#include "disk/disk_info.h"
#include "disk/drive_identity.h"
#include "disk/drive_list.h"
#include "disk/drive_table.h"
#include "recovery/found_type_list.h"
#include "recovery/free_space_search.h"
#include "recovery/options.h"
#include "recovery/scan_engine.h"

#include "skin/folder_chooser.h"
#include "update/web_update.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <vector>

class FileTypeModel;
class TWebUpdateWizard;
class FoundFilesModel;
class Prompter;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTreeView;
class QTreeWidget;
class ScanWorker;
class TBrowseForFolder;
class TCoolForm;
class TEzRgnBtn;
class TFrmSettings;
class TForm1;
class TFrmSplash;
class TdebugFrm;
class TpreviewFrm;
class THSSkinBtn;
class TprocessFrm;

/// What the main window works with from outside: real ones in the program, fakes in tests.
struct MainFrmServices {
  DriveTable* table = nullptr;
  /// Where drive identities come from; null: the platform's own.
  const IdentifySource* identify = nullptr;
  OptionsStore* options = nullptr;
  Prompter* prompter = nullptr;
  /// Replaces the folder dialog (tests); null keeps the dialog.
  std::unique_ptr<FolderChooser> chooser;
  /// Picks a disk image file to add as a drive; empty for none. Null: a file dialog.
  std::function<QString(QWidget*)> imageChooser;
  OptionFolders folders;
};

/// The main window: a frameless two-page wizard from choosing a drive to saving files.
class TmainFrm final : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Pause READ GetPause WRITE SetPause)
  Q_PROPERTY(uint MaxSizeOfRecoverMB READ MaxSizeOfRecoverMB WRITE SetMaxSizeOfRecoverMB)

 public:
  explicit TmainFrm(MainFrmServices services, QWidget* parent = nullptr);
  ~TmainFrm() override;

  /// The windows created after the main window, handed over by the program's entry.
  /// The settings dialog also sets whether files are checked for their real ends.
  void setSettingsForm(TFrmSettings* form);
  void setProcessForm(TprocessFrm* form) { processFrm_ = form; }
  void setViewerForm(TForm1* form) { viewerFrm_ = form; }
  void setDebugForm(TdebugFrm* form) { debugFrm_ = form; }
  /// The splash window, shown again as the about box.
  void setSplashForm(TFrmSplash* form) { splashFrm_ = form; }
  /// Opens help at a context number; false when the help file cannot be loaded.
  void setHelpContextOpener(std::function<bool(int context)> open) { openHelp_ = std::move(open); }
  /// In debug mode the help button's menu also offers the debug log.
  void setDebugMode(bool on);
  /// The live-update engine, with the update address and temporary folder set at start-up.
  [[nodiscard]] trawlex::update::TWebUpdate& WebUpdate() { return *webUpdate_; }
  /// The live update wizard that Live Update... runs, bound to `WebUpdate()`.
  [[nodiscard]] TWebUpdateWizard& WebUpdateWizard() { return *webUpdateWizard_; }
  /// Host name of the maker's web site, without a scheme.
  [[nodiscard]] QString WebSiteURL() const { return webSiteURL_; }
  /// Asks the desktop to open `text` (a web or mail address); when nothing can open it, says so
  /// with the address and offers to copy it.
  void OpenLink(QWidget* owner, const QString& text);
  /// The window's one 1 MiB read buffer, which the sector viewer shows.
  [[nodiscard]] ChunkBuffer& scanBuffer() { return scanBuffer_; }

  [[nodiscard]] bool GetPause() const { return pause_.load(); }
  /// True also stops a running scan.
  void SetPause(bool on);
  [[nodiscard]] uint MaxSizeOfRecoverMB() const { return options_.MaxSizeOfRecoverMB; }
  /// Stores the limit and saves the options at once.
  void SetMaxSizeOfRecoverMB(uint mb);
  [[nodiscard]] bool RealEnds() const { return options_.RealEnds; }
  /// Stores whether the next scan checks each file for its real end, and saves the options.
  void SetRealEnds(bool on);
  [[nodiscard]] bool FreeSpaceOnly() const { return options_.FreeSpaceOnly; }
  /// Stores whether the next scan searches only the free space of the file systems found,
  /// and saves the options.
  void SetFreeSpaceOnly(bool on);
  [[nodiscard]] QString savePath() const { return QString::fromStdString(options_.SavePath); }

  [[nodiscard]] const DiskInfo& currentDisk() const { return currentDisk_; }
  [[nodiscard]] bool savedFlag() const { return saved_; }
  /// What the window told the user after the last save.
  [[nodiscard]] const QString& lastSaveSummary() const { return lastSaveSummary_; }
  /// False while a save runs: the window's controls are disabled, the copy window is not.
  [[nodiscard]] bool isContentEnabled() const;
  [[nodiscard]] bool isScanning() const;
  [[nodiscard]] const ScanSummary& lastScan() const { return lastScan_; }
  [[nodiscard]] const FoundTypeRows& foundRows() const { return *rows_; }
  [[nodiscard]] FileTypeModel* fileTypeModel() const { return typeModel_; }
  [[nodiscard]] FoundFilesModel* foundFilesModel() const { return foundModel_; }
  [[nodiscard]] TpreviewFrm* previewForm() const { return previewFrm_; }
  /// Adds a disk image file as a drive, lists it and makes it current.
  void addImage(const QString& path);

  // The window's controls, by their given names.
  TCoolForm* cfSkin = nullptr;
  TEzRgnBtn* erbNext = nullptr;
  TEzRgnBtn* btnRestart = nullptr;
  TEzRgnBtn* erbPrevious = nullptr;
  TEzRgnBtn* erbExit = nullptr;
  TEzRgnBtn* EzRgnBtn4 = nullptr;
  TEzRgnBtn* btnHelp = nullptr;
  QStackedWidget* pcWizard = nullptr;
  QWidget* tsListDisk = nullptr;
  QWidget* tsScan = nullptr;
  QTreeWidget* lvAvailableDisk = nullptr;
  THSSkinBtn* btnRefresh = nullptr;
  THSSkinBtn* btnAddImage = nullptr;
  QPushButton* spRecover = nullptr;
  QLabel* lblDriveType = nullptr;
  QLabel* lblDriveModel = nullptr;
  QLabel* lblPhysicalId = nullptr;
  QLabel* lblBytesPerSector = nullptr;
  QLabel* lblCapacity = nullptr;
  QTreeView* lvSelectedFileType = nullptr;
  QTreeView* lvFound = nullptr;
  QLineEdit* edNameFilter = nullptr;       ///< shows the found files whose names hold it
  QCheckBox* chkFoundTypesOnly = nullptr;  ///< hides the types with nothing found
  QLabel* lblTickedSize = nullptr;         ///< the size of the ticked files listed
  QLabel* lblFoundFile = nullptr;
  QLabel* lblScanNote = nullptr;
  QLabel* lblFreeSpace = nullptr;  ///< the file systems whose free space is searched
  QLineEdit* edLastSector = nullptr;
  QLineEdit* edLBA = nullptr;
  QLineEdit* edFoundFile = nullptr;
  QProgressBar* gProgress = nullptr;
  THSSkinBtn* sbStop = nullptr;
  THSSkinBtn* sbRecover = nullptr;
  THSSkinBtn* btnSelectAll = nullptr;
  THSSkinBtn* btnSelectNone = nullptr;
  THSSkinBtn* btnBrowse = nullptr;
  TBrowseForFolder* BrowseFolder = nullptr;
  QMenu* PopupAboutus = nullptr;
  QAction* mnu_Help = nullptr;
  QAction* mnu_HomePage = nullptr;
  QAction* mnuLiveUpdate = nullptr;
  QAction* mnu_About = nullptr;
  QAction* mnuDebugLog = nullptr;  ///< only in debug mode

 public slots:
  void erbNextClick();
  void erbPreviousClick();
  void btnRestartClick();
  void erbExitClick();
  void btnRefreshClick();
  void lvAvailableDiskClick();
  void btnAddImageClick();
  void sbStopClick();
  /// The save flow: asks for a folder and copies the ticked files.
  void sbRecoverClick();
  void btnSelectAllClick();
  void btnSelectNoneClick();
  void lvSelectedFileTypeClick();
  void btnBrowseClick();
  void EzRgnBtn4Click();
  void btnHelpClick();
  void mnu_HelpClick();
  void mnu_HomePageClick();
  void mnuLiveUpdateClick();
  /// The modal window in front, else this one: the owner of the update run's boxes.
  QWidget* activeModal();
  void mnu_AboutClick();
  /// The hidden Recover button: the first chunk of drive 0 in the sector viewer.
  void spRecoverClick();
  /// Opens the sector viewer on the chosen drive at its first sector.
  void viewChosenDrive();
  /// Opens the sector viewer at the first sector of the found file in lvFound's row.
  void viewFoundFile(int row);
  void actInitialExecute();
  void actStartScanExecute();
  void actStopScanExecute();

 signals:
  void scanFinished();
  void saveFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildDrivePage();
  void buildScanPage();
  void buildRegionButtons();
  void FormShow();
  void tsListDiskShow();
  void FillTypeList();
  void showDriveDetails(int row);
  /// Writes the options at once; says so when they cannot be written.
  void saveOptionsNow();
  void saveFlow(std::function<void()> then);
  void finishSave(const std::function<void()>& then);
  /// Disables or enables every control of the window while a save runs.
  void setContentEnabled(bool on);
  void scanStarted(qulonglong total);
  void scanEnded(const ScanSummary& summary);
  void countsChanged();
  /// Says which file systems were found and are searched.
  void freeSpaceFound();
  /// Lists the deleted files the file systems name, checked, in the rows of their kinds.
  void deletedFilesChecked();
  /// The line under the figures: the file systems searched and the deleted files named.
  void showFreeSpace();
  /// The found files of catalogue row `row`, less those listed by a deleted file's name.
  [[nodiscard]] std::vector<TfileExt> listedFiles(int row) const;
  /// Where the sectors of the files listed lie on the disk.
  [[nodiscard]] FoundPlace foundPlace() const;
  /// The scan's speed, time so far and time left, under the lists.
  void showScanRate(qulonglong lba);
  /// Hides the rows of types with nothing found while "Show found types only" is ticked.
  void applyFoundTypesOnly();
  void showTickedSize();
  [[nodiscard]] QString driveName(int drive) const;

  MainFrmServices services_;
  RecoveryOptions options_;
  DiskInfo currentDisk_;
  std::vector<DriveRow> driveRows_;
  std::unique_ptr<IdentifySource> ownIdentify_;
  std::shared_ptr<FoundTypeRows> rows_;
  /// Kept with the found list when it comes from the free space, until a new scan.
  std::shared_ptr<FreeSpaceSearch> freeSpace_;
  /// The deleted files named by the file systems of `freeSpace_`, once listed: how many of
  /// each kind (the other files' row last), and the disk bytes where those saved by default
  /// start, whose found files are the same bytes and listed by the name alone.
  const FreeSpaceSearch* namedFrom_ = nullptr;
  std::array<qulonglong, kFileTypeCount + 1> namedCount_{};
  std::set<std::uint64_t> sameBytes_;
  /// Per type, the found files looked at for `sameBytes_` so far, and those among them.
  std::array<std::size_t, kFileTypeCount> carvedSeen_{};
  std::array<qulonglong, kFileTypeCount> carvedHidden_{};
  std::atomic<bool> pause_{false};
  /// What the window told after the last save.
  QString lastSaveSummary_;
  bool saved_ = false;
  bool shownOnce_ = false;
  bool exitConfirmed_ = false;
  int shownTypeRow_ = -1;
  QElapsedTimer scanClock_;    ///< since the scan started, for its speed
  qint64 lastRateShown_ = -1;  ///< the type whose files the found list shows  ///< the user agreed
                               ///< to stop what runs and exit
  ScanSummary lastScan_;
  ScanOptions lastScanOptions_;  ///< how the files listed were found
  ScanWorker* scanWorker_ = nullptr;
  FileTypeModel* typeModel_ = nullptr;
  FoundFilesModel* foundModel_ = nullptr;
  TFrmSettings* settingsFrm_ = nullptr;
  TprocessFrm* processFrm_ = nullptr;
  TForm1* viewerFrm_ = nullptr;
  TdebugFrm* debugFrm_ = nullptr;
  TFrmSplash* splashFrm_ = nullptr;
  std::function<bool(int)> openHelp_;
  std::unique_ptr<trawlex::update::TWebUpdate> webUpdate_;
  std::unique_ptr<TWebUpdateWizard> webUpdateWizard_;
  QString webSiteURL_;
  TpreviewFrm* previewFrm_ = nullptr;
  ChunkBuffer scanBuffer_;
};
