#include "recovery/ui/main_frm.h"

#include "disk/drive_details.h"
#include "disk/folder_location.h"
#include "help/about/splash_frm.h"
#include "recovery/dfxml_report.h"
#include "recovery/format_size.h"
#include "recovery/output_guard.h"
#include "recovery/ui/file_type_model.h"
#include "recovery/ui/found_files_model.h"
#include "recovery/ui/preview_frm.h"
#include "recovery/ui/process_frm.h"
#include "recovery/ui/product_palette.h"
#include "recovery/ui/prompter.h"
#include "recovery/ui/scan_worker.h"
#include "recovery/ui/settings_frm.h"
#include "recovery/undelete.h"
#include "skin/browse_for_folder.h"
#include "skin/cool_form.h"
#include "skin/ez_rgn_btn.h"
#include "skin/frame_outline.h"
#include "skin/hs_skin_btn.h"
#include "skin/skin_art.h"
#include "skin/skin_label.h"
#include "skin/skin_layout.h"
#include "update/updater/updater_resource.h"
#include "update/wizard/web_update_wizard.h"
#include "viewer/debug_log.h"
#include "viewer/sector_viewer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>

#include <unistd.h>

namespace {

using ProductPalette::kInk;
using ProductPalette::kMuted;

QLabel* MakeLabel(QWidget* parent, const QString& text, int px, bool bold, QColor colour = kInk) {
  return MakeSkinLabel(parent, text, px, bold, colour);
}

THSSkinBtn* MakeButton(QWidget* parent, const QString& caption, int width) {
  auto* b = new THSSkinBtn(parent);
  b->setCaption(caption);
  b->resize(width, 25);
  return b;
}

void SetUpListView(QTreeView* view) {
  KeepFrameOutline(view);
  view->setRootIsDecorated(false);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setUniformRowHeights(true);
  view->header()->setSectionsClickable(false);
  view->header()->setSectionsMovable(false);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

}  // namespace

TmainFrm::TmainFrm(MainFrmServices services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)), rows_(std::make_shared<FoundTypeRows>()) {
  setObjectName(QStringLiteral("mainFrm"));
  setWindowTitle(QStringLiteral("Trawlex Recovery"));
  setFixedSize(SkinLayout::kMainFaceSize);
  cfSkin = new TCoolForm(this);
  cfSkin->setPicture(SkinArt::mainFace());

  pcWizard = new QStackedWidget(this);
  pcWizard->setGeometry(SkinLayout::kMainPagePlace.adjusted(2, 2, -2, -2));
  pcWizard->setPalette(ProductPalette::page());
  pcWizard->setAutoFillBackground(true);
  tsListDisk = new QWidget(pcWizard);
  tsScan = new QWidget(pcWizard);
  pcWizard->addWidget(tsListDisk);
  pcWizard->addWidget(tsScan);
  buildDrivePage();
  buildScanPage();
  buildRegionButtons();

  BrowseFolder = new TBrowseForFolder(this);
  BrowseFolder->setCaption(QStringLiteral("Select Folder"));
  BrowseFolder->setStatusText(QStringLiteral("Plase select folder"));
  if (services_.chooser) BrowseFolder->setChooser(std::move(services_.chooser));

  scanWorker_ = new ScanWorker(this);
  connect(scanWorker_, &ScanWorker::freeSpaceFound, this, &TmainFrm::freeSpaceFound);
  connect(scanWorker_, &ScanWorker::deletedFilesChecked, this, &TmainFrm::deletedFilesChecked);
  connect(scanWorker_, &ScanWorker::scanStarted, this, &TmainFrm::scanStarted);
  connect(scanWorker_, &ScanWorker::currentSector, this, [this](qulonglong lba) {
    edLBA->setText(QString::number(lba));
    showScanRate(lba);
  });
  connect(scanWorker_, &ScanWorker::chunkDone, this,
          [this](qulonglong chunk, qulonglong) { gProgress->setValue(static_cast<int>(chunk)); });
  connect(scanWorker_, &ScanWorker::countsChanged, this, &TmainFrm::countsChanged);
  connect(scanWorker_, &ScanWorker::scanEnded, this, &TmainFrm::scanEnded);

  if (!services_.identify) {
    ownIdentify_ = PlatformIdentifySource(services_.table->SysfsRoot());
    services_.identify = ownIdentify_.get();
  }
  // Start-up: options, no disk chosen, tabs hidden (the page control has none).
  options_ = LoadOptions(*services_.options, services_.folders);
  currentDisk_.SetDriveNumber(-1);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

TmainFrm::~TmainFrm() {
  scanWorker_->stopAndWait();
}

void TmainFrm::buildDrivePage() {
  MakeLabel(tsListDisk, QStringLiteral("Please select a drive from where to restore the files"), 14,
            true)
      ->move(20, 16);
  lvAvailableDisk = new QTreeWidget(tsListDisk);
  lvAvailableDisk->setObjectName(QStringLiteral("lvAvailableDisk"));
  lvAvailableDisk->setHeaderLabels({QStringLiteral("Available Drive")});
  lvAvailableDisk->setRootIsDecorated(false);
  lvAvailableDisk->header()->setSectionsClickable(false);
  lvAvailableDisk->setGeometry(20, 48, 270, 220);
  KeepFrameOutline(lvAvailableDisk);
  lvAvailableDisk->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* showLog = new QAction(QStringLiteral("Debug Log"), lvAvailableDisk);
  lvAvailableDisk->addAction(showLog);
  connect(showLog, &QAction::triggered, this, [this] {
    if (!debugFrm_) return;
    debugFrm_->show();
    debugFrm_->raise();
  });
  connect(lvAvailableDisk, &QTreeWidget::itemSelectionChanged, this,
          &TmainFrm::lvAvailableDiskClick);
  // Enter or a double click on a drive row is Next.
  connect(lvAvailableDisk, &QTreeWidget::itemActivated, this, [this] {
    if (erbNext->isVisible() && erbNext->isEnabled()) erbNextClick();
  });

  const QString captions[] = {QStringLiteral("Drive type:"), QStringLiteral("Drive model:"),
                              QStringLiteral("Physical ID:"), QStringLiteral("Bytes per sector:"),
                              QStringLiteral("Capacity:")};
  QLabel** values[] = {&lblDriveType, &lblDriveModel, &lblPhysicalId, &lblBytesPerSector,
                       &lblCapacity};
  int y = 52;
  for (int i = 0; i < 5; ++i) {
    MakeLabel(tsListDisk, captions[i], 12, false, kMuted)->move(306, y);
    *values[i] = MakeLabel(tsListDisk, QStringLiteral("N/A"), 12, true);
    (*values[i])->setGeometry(420, y, 176, 18);
    y += 26;
  }
  btnRefresh = MakeButton(tsListDisk, QStringLiteral("Refresh"), 88);
  btnRefresh->move(20, 282);
  connect(btnRefresh, &THSSkinBtn::clicked, this, &TmainFrm::btnRefreshClick);
  btnAddImage = MakeButton(tsListDisk, QStringLiteral("Add Image..."), 110);
  btnAddImage->move(116, 282);
  connect(btnAddImage, &THSSkinBtn::clicked, this, &TmainFrm::btnAddImageClick);
  spRecover = new QPushButton(QStringLiteral("Recover"), tsListDisk);
  spRecover->setFlat(true);
  spRecover->setGeometry(500, 282, 80, 25);
  spRecover->hide();
  connect(spRecover, &QPushButton::clicked, this, &TmainFrm::spRecoverClick);

  // Looking at a disk's sectors before scanning it: the list's context menu.
  lvAvailableDisk->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* view = new QAction(QStringLiteral("View Sectors..."), lvAvailableDisk);
  lvAvailableDisk->addAction(view);
  connect(view, &QAction::triggered, this, &TmainFrm::viewChosenDrive);
}

void TmainFrm::buildScanPage() {
  typeModel_ = new FileTypeModel(this);
  lvSelectedFileType = new QTreeView(tsScan);
  lvSelectedFileType->setObjectName(QStringLiteral("lvSelectedFileType"));
  lvSelectedFileType->setModel(typeModel_);
  SetUpListView(lvSelectedFileType);
  lvSelectedFileType->setGeometry(16, 10, 150, 168);
  lvSelectedFileType->setColumnWidth(0, 120);
  lvSelectedFileType->installEventFilter(this);
  connect(lvSelectedFileType, &QTreeView::clicked, this, &TmainFrm::lvSelectedFileTypeClick);
  connect(lvSelectedFileType, &QTreeView::doubleClicked, this, &TmainFrm::lvSelectedFileTypeClick);
  // The keyboard as the mouse: moving to a type lists its files, and ticking the type
  // shown (Space) ticks its files.
  connect(lvSelectedFileType->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid() && current.row() != shownTypeRow_) lvSelectedFileTypeClick();
          });
  // A type's tick is its files' tick, those listed by their names included, shown or not.
  connect(typeModel_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& first, const QModelIndex& last, const QList<int>& roles) {
            if (!roles.contains(Qt::CheckStateRole)) return;
            for (int row = first.row(); row <= last.row(); ++row) {
              if (row == shownTypeRow_)
                foundModel_->setAllChecked(typeModel_->isChecked(row));
              else
                foundModel_->setNamedChecked(row, typeModel_->isChecked(row));
            }
          });

  chkFoundTypesOnly = new QCheckBox(QStringLiteral("Show found types only"), tsScan);
  chkFoundTypesOnly->setGeometry(14, 180, 162, 20);
  QFont small = chkFoundTypesOnly->font();
  small.setPixelSize(11);
  chkFoundTypesOnly->setFont(small);
  connect(chkFoundTypesOnly, &QCheckBox::toggled, this, &TmainFrm::applyFoundTypesOnly);

  foundModel_ = new FoundFilesModel(this);
  edNameFilter = new QLineEdit(tsScan);
  edNameFilter->setObjectName(QStringLiteral("edNameFilter"));
  edNameFilter->setPlaceholderText(QStringLiteral("Filter names"));
  edNameFilter->setClearButtonEnabled(true);
  edNameFilter->setGeometry(176, 10, 416, 22);
  connect(edNameFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
    foundModel_->setNameFilter(text);
    lblFoundFile->setText(QString::number(foundModel_->rowCount()));
  });
  lvFound = new QTreeView(tsScan);
  lvFound->setObjectName(QStringLiteral("lvFound"));
  lvFound->setModel(foundModel_);
  SetUpListView(lvFound);
  lvFound->setGeometry(176, 36, 416, 164);
  // Name takes the spare width (never under 145 px) and loses the middle of a long name,
  // never its extension; the headers sort.
  lvFound->setTextElideMode(Qt::ElideMiddle);
  lvFound->header()->setMinimumSectionSize(60);
  lvFound->header()->setStretchLastSection(false);
  lvFound->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  lvFound->header()->setSortIndicator(2, Qt::AscendingOrder);
  lvFound->header()->setSectionsClickable(true);
  lvFound->setSortingEnabled(true);
  connect(foundModel_, &FoundFilesModel::checksChanged, this, &TmainFrm::showTickedSize);
  // Selecting a found file previews it, read in the background.
  previewFrm_ = new TpreviewFrm(this);
  connect(lvFound->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (!current.isValid() || current.row() >= foundModel_->rowCount()) return;
            if (foundModel_->isNamed(current.row()))
              previewFrm_->showNamed(*services_.table, currentDisk_.DriveNumber(),
                                     foundModel_->namedFile(current.row()));
            else
              previewFrm_->showFile(*services_.table, currentDisk_.DriveNumber(),
                                    foundModel_->file(current.row()), freeSpace_);
          });
  lvFound->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* viewFile = new QAction(QStringLiteral("View First Sector..."), lvFound);
  lvFound->addAction(viewFile);
  connect(viewFile, &QAction::triggered, this, [this] {
    if (lvFound->currentIndex().isValid()) viewFoundFile(lvFound->currentIndex().row());
  });

  lblScanNote = MakeLabel(tsScan, QString(), 11, false, kMuted);
  lblScanNote->setGeometry(16, 202, 300, 16);
  lblTickedSize = MakeLabel(tsScan, QString(), 11, false, kMuted);
  lblTickedSize->setGeometry(320, 202, 150, 16);
  lblTickedSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(tsScan, QStringLiteral("Files listed:"), 11, false, kMuted)
      ->setGeometry(476, 202, 70, 16);
  lblFoundFile = MakeLabel(tsScan, QStringLiteral("0"), 11, true);
  lblFoundFile->setGeometry(548, 202, 44, 16);
  lblFoundFile->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  const QString captions[] = {QStringLiteral("Total Sectors:"), QStringLiteral("Curent Sector:"),
                              QStringLiteral("Found File:")};
  QLineEdit** edits[] = {&edLastSector, &edLBA, &edFoundFile};
  int x = 16;
  for (int i = 0; i < 3; ++i) {
    MakeLabel(tsScan, captions[i], 11, false, kMuted)->move(x, 222);
    *edits[i] = new QLineEdit(QStringLiteral("0"), tsScan);
    (*edits[i])->setReadOnly(true);
    (*edits[i])->setGeometry(x, 238, 130, 24);
    x += 142;
  }
  MakeLabel(tsScan, QStringLiteral("Progress:"), 11, false, kMuted)->move(x, 222);
  gProgress = new QProgressBar(tsScan);
  gProgress->setGeometry(x, 240, 592 - x, 20);
  gProgress->setRange(0, 1);
  gProgress->setValue(0);
  // Shown only while the files listed come from the free space of the file systems.
  lblFreeSpace = MakeLabel(tsScan, QString(), 11, false, kMuted);
  lblFreeSpace->setObjectName(QStringLiteral("lblFreeSpace"));
  lblFreeSpace->setGeometry(16, 265, 576, 16);
  lblFreeSpace->hide();

  THSSkinBtn** buttons[] = {&sbStop, &sbRecover, &btnSelectAll, &btnSelectNone, &btnBrowse};
  const QString names[] = {QStringLiteral("Stop Scan"), QStringLiteral("Save Files"),
                           QStringLiteral("Select All"), QStringLiteral("Select None"),
                           QStringLiteral("Browse...")};
  x = 16;
  for (int i = 0; i < 5; ++i) {
    *buttons[i] = MakeButton(tsScan, names[i], 100);
    (*buttons[i])->move(x, 284);
    x += 108;
  }
  connect(sbStop, &THSSkinBtn::clicked, this, &TmainFrm::sbStopClick);
  connect(sbRecover, &THSSkinBtn::clicked, this, &TmainFrm::sbRecoverClick);
  connect(btnSelectAll, &THSSkinBtn::clicked, this, &TmainFrm::btnSelectAllClick);
  connect(btnSelectNone, &THSSkinBtn::clicked, this, &TmainFrm::btnSelectNoneClick);
  connect(btnBrowse, &THSSkinBtn::clicked, this, &TmainFrm::btnBrowseClick);
}

void TmainFrm::buildRegionButtons() {
  using SkinLayout::RegionButton;
  auto make = [this](RegionButton which, void (TmainFrm::*handler)()) {
    auto* b = new TEzRgnBtn(this);
    SkinArt::setUpRegionButton(b, which);
    connect(b, &TEzRgnBtn::clicked, this, handler);
    return b;
  };
  erbNext = make(RegionButton::Next, &TmainFrm::erbNextClick);
  btnRestart = make(RegionButton::Restart, &TmainFrm::btnRestartClick);
  erbPrevious = make(RegionButton::Previous, &TmainFrm::erbPreviousClick);
  erbExit = make(RegionButton::Exit, &TmainFrm::erbExitClick);
  EzRgnBtn4 = make(RegionButton::Settings, &TmainFrm::EzRgnBtn4Click);
  btnHelp = make(RegionButton::Help, &TmainFrm::btnHelpClick);
  // The picture buttons carry their words in the picture: these give them names and keys.
  erbNext->setToolTip(QStringLiteral("Next (Alt+N)"));
  erbPrevious->setToolTip(QStringLiteral("Previous (Alt+P)"));
  btnRestart->setToolTip(QStringLiteral("Restart"));
  erbExit->setToolTip(QStringLiteral("Exit"));
  EzRgnBtn4->setToolTip(QStringLiteral("Settings"));
  btnHelp->setToolTip(QStringLiteral("Help"));
  for (auto [button, key] :
       {std::pair{erbNext, Qt::ALT | Qt::Key_N}, std::pair{erbPrevious, Qt::ALT | Qt::Key_P}}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    connect(shortcut, &QShortcut::activated, button, [b = button] {
      if (b->isVisible() && b->isEnabled()) b->click();
    });
  }
  btnRestart->hide();
  erbPrevious->setEnabled(false);
  // The help button's menu.
  PopupAboutus = new QMenu(this);
  mnu_Help = PopupAboutus->addAction(SkinArt::menuIcon(SkinArt::MenuPicture::Help),
                                     QStringLiteral("&Help"), this, &TmainFrm::mnu_HelpClick);
  mnu_HomePage =
      PopupAboutus->addAction(SkinArt::menuIcon(SkinArt::MenuPicture::HomePage),
                              QStringLiteral("Home Page"), this, &TmainFrm::mnu_HomePageClick);
  PopupAboutus->addSeparator();
  mnuLiveUpdate = PopupAboutus->addAction(SkinArt::menuIcon(SkinArt::MenuPicture::LiveUpdate),
                                          QStringLiteral("Live Update..."), this,
                                          &TmainFrm::mnuLiveUpdateClick);
  PopupAboutus->addSeparator();
  mnu_About = PopupAboutus->addAction(QStringLiteral("About... "), this, &TmainFrm::mnu_AboutClick);

  // Start-up values: the web site, and the update engine's address and temporary folder.
  webSiteURL_ = QStringLiteral(TRAWLEX_WEB_SITE_HOST);
  webUpdate_ = std::make_unique<trawlex::update::TWebUpdate>();
  trawlex::update::ApplyMainWindowValues(*webUpdate_, services_.folders.program_folder);
  // What an update run shows or starts goes through this window.
  auto& hooks = webUpdate_->Hooks;
  hooks.Information = [this](const std::string& text) {
    services_.prompter->information(activeModal(), QString::fromStdString(text));
  };
  hooks.AskYesNo = [this](const std::string& text) {
    return services_.prompter->choose(activeModal(), QString::fromStdString(text),
                                      {QStringLiteral("Yes"), QStringLiteral("No")}) == 0;
  };
  hooks.ShowHtmlDialog = [this](const std::string& url, std::string*) {
    OpenLink(activeModal(), QString::fromStdString(url));
    return true;
  };
  hooks.StartProgram = [](const std::vector<std::string>& argv, std::string* err) {
    QStringList args;
    for (size_t i = 1; i < argv.size(); ++i) args << QString::fromStdString(argv[i]);
    if (!argv.empty() && QProcess::startDetached(QString::fromStdString(argv[0]), args))
      return true;
    if (err) *err = "\"" + (argv.empty() ? std::string() : argv[0]) + "\" cannot be started";
    return false;
  };
  hooks.OpenURL = [this](const std::string& url) {
    OpenLink(activeModal(), QString::fromStdString(url));
    return true;
  };
  hooks.ShowTextDialog = [this](const trawlex::update::TextDialogContent& content) {
    return ShowUpdateTextDialog(activeModal(), content);
  };
  webUpdate_->UpdaterResource = trawlex::update::UpdaterResource();
  // Once the updater runs, the program ends so that its files can be replaced.
  webUpdate_->OnAppDoClose = [this](trawlex::update::TWebUpdate&) {
    close();
    QCoreApplication::quit();
  };
  webUpdateWizard_ = std::make_unique<TWebUpdateWizard>();
  webUpdateWizard_->WebUpdate = webUpdate_.get();
  webUpdateWizard_->Caption = QStringLiteral("Live Update");
  webUpdateWizard_->Position = TPosition::poScreenCenter;
  webUpdateWizard_->Information = [this](QWidget* owner, const QString& text) {
    services_.prompter->information(owner, text);
  };
}

QWidget* TmainFrm::activeModal() {
  QWidget* modal = QApplication::activeModalWidget();
  return modal ? modal : this;
}

void TmainFrm::setDebugMode(bool on) {
  if (on == (mnuDebugLog != nullptr)) return;
  if (!on) {
    delete mnuDebugLog;
    mnuDebugLog = nullptr;
    return;
  }
  mnuDebugLog = new QAction(QStringLiteral("Debug Log"), PopupAboutus);
  PopupAboutus->addAction(mnuDebugLog);
  connect(mnuDebugLog, &QAction::triggered, this, [this] {
    if (!debugFrm_) return;
    debugFrm_->show();
    debugFrm_->raise();
  });
}

bool TmainFrm::isScanning() const {
  return scanWorker_->isRunning();
}

bool TmainFrm::isContentEnabled() const {
  return pcWizard->isEnabled();
}

QString TmainFrm::driveName(int drive) const {
  const DriveEntry* entry = services_.table->Find(drive);
  return entry ? QString::fromStdString(entry->path) : QStringLiteral("drive %1").arg(drive);
}

// ---- the drive page --------------------------------------------------------------------------

void TmainFrm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    FormShow();
  }
}

void TmainFrm::FormShow() {
  btnRefreshClick();
  // The first disk image (one named on the command line), else the first drive that can
  // be read, else the first row.
  int first = driveRows_.empty() ? -1 : 0;
  auto isImage = [this](const DriveRow& row) {
    const DriveEntry* entry = services_.table->Find(row.disk.DriveNumber());
    return entry && entry->is_image;
  };
  const auto image = std::find_if(driveRows_.begin(), driveRows_.end(), isImage);
  const auto readable = std::find_if(driveRows_.begin(), driveRows_.end(),
                                     [](const DriveRow& row) { return row.Readable(); });
  if (image != driveRows_.end())
    first = static_cast<int>(image - driveRows_.begin());
  else if (readable != driveRows_.end())
    first = static_cast<int>(readable - driveRows_.begin());
  if (first >= 0) lvAvailableDisk->setCurrentItem(lvAvailableDisk->topLevelItem(first));
  pcWizard->setCurrentWidget(tsListDisk);
  actInitialExecute();
}

void TmainFrm::btnRefreshClick() {
  services_.table->Refresh();
  driveRows_ = EnumerateDrives(*services_.table, *services_.identify);
  const QSignalBlocker block(lvAvailableDisk);
  lvAvailableDisk->clear();
  for (const DriveRow& row : driveRows_) {
    // A disk image is shown as one, by its file name.
    const DriveEntry* entry = services_.table->Find(row.disk.DriveNumber());
    const QString caption = entry && entry->is_image ? QStringLiteral("[Disk Image] ") +
                                                           QString::fromStdString(entry->name)
                                                     : QString::fromStdString(row.caption);
    auto* item = new QTreeWidgetItem({caption});
    item->setToolTip(0, QString::fromStdString(row.path));
    lvAvailableDisk->addTopLevelItem(item);
  }
  // Until a row is chosen again, no disk is current.
  currentDisk_ = DiskInfo{};
  showDriveDetails(-1);
}

void TmainFrm::lvAvailableDiskClick() {
  const int row = lvAvailableDisk->indexOfTopLevelItem(lvAvailableDisk->currentItem());
  if (row < 0 || row >= static_cast<int>(driveRows_.size())) return;
  currentDisk_ = driveRows_[static_cast<std::size_t>(row)].disk;
  showDriveDetails(row);
}

void TmainFrm::showDriveDetails(int row) {
  QLabel* const labels[] = {lblDriveType, lblDriveModel, lblPhysicalId, lblBytesPerSector,
                            lblCapacity};
  if (row < 0) {
    for (QLabel* l : labels) l->setText(QStringLiteral("N/A"));
    return;
  }
  const DriveRow& drive = driveRows_[static_cast<std::size_t>(row)];
  DriveDetails details = DriveDetailTexts(drive.disk, QLocale().decimalPoint().toStdString());
  if (const DriveEntry* entry = services_.table->Find(drive.disk.DriveNumber());
      entry && entry->is_image)
    details.type = "[Disk Image]";
  const std::string* texts[] = {&details.type, &details.model, &details.physical_id,
                                &details.bytes_per_sector, &details.capacity};
  for (int i = 0; i < 5; ++i) {
    const QString text = QString::fromStdString(*texts[i]);
    labels[i]->setText(
        labels[i]->fontMetrics().elidedText(text, Qt::ElideMiddle, labels[i]->width()));
    labels[i]->setToolTip(text);
  }
}

void TmainFrm::btnAddImageClick() {
  const QString path = services_.imageChooser
                           ? services_.imageChooser(this)
                           : QFileDialog::getOpenFileName(
                                 this, QStringLiteral("Add Disk Image"), QString(),
                                 QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.iso *.E01 "
                                                "*.e01 *.001);;All files (*)"));
  if (!path.isEmpty()) addImage(path);
}

void TmainFrm::addImage(const QString& path) {
  const int drive = services_.table->RegisterImage(path.toStdString());
  btnRefreshClick();
  for (int row = 0; row < static_cast<int>(driveRows_.size()); ++row)
    if (driveRows_[static_cast<std::size_t>(row)].disk.DriveNumber() == drive)
      lvAvailableDisk->setCurrentItem(lvAvailableDisk->topLevelItem(row));
  if (currentDisk_.DriveNumber() != drive) {
    std::string err;
    services_.table->Open(drive, &err);
    services_.prompter->warning(
        this, QStringLiteral("Cannot read %1: %2.").arg(path, QString::fromStdString(err)));
  }
}

void TmainFrm::tsListDiskShow() {
  btnRestart->hide();
  erbNext->show();
  erbNext->raise();
  actInitialExecute();
  if (isActiveWindow()) lvAvailableDisk->setFocus(Qt::OtherFocusReason);
}

// ---- the wizard ----------------------------------------------------------------------------

void TmainFrm::actInitialExecute() {
  erbPrevious->setEnabled(false);
  erbNext->setEnabled(true);
}

void TmainFrm::actStartScanExecute() {
  erbPrevious->setEnabled(false);
  sbStop->setEnabled(true);
  for (QWidget* w : {static_cast<QWidget*>(sbRecover), static_cast<QWidget*>(btnSelectAll),
                     static_cast<QWidget*>(btnSelectNone), static_cast<QWidget*>(btnBrowse),
                     static_cast<QWidget*>(btnRestart)})
    w->setEnabled(false);
  saved_ = false;
  // Next hides once pressed: the keyboard goes on at Stop Scan, not at the next button.
  if (isActiveWindow()) sbStop->setFocus(Qt::OtherFocusReason);
}

void TmainFrm::actStopScanExecute() {
  erbPrevious->setEnabled(true);
  erbNext->setEnabled(false);
  sbStop->setEnabled(false);
  for (QWidget* w : {static_cast<QWidget*>(sbRecover), static_cast<QWidget*>(btnSelectAll),
                     static_cast<QWidget*>(btnSelectNone), static_cast<QWidget*>(btnBrowse),
                     static_cast<QWidget*>(btnRestart)})
    w->setEnabled(true);
}

void TmainFrm::erbNextClick() {
  if (pcWizard->currentIndex() != 0) {
    erbNext->setEnabled(false);  // the scan page is the last
    return;
  }
  if (currentDisk_.DriveNumber() < 0) {
    services_.prompter->information(this, QStringLiteral("Please select disk for scan."));
    return;
  }
  // A drive that cannot be read is said so now, rather than scanned into an empty list.
  std::string err;
  int error_number = 0;
  if (!services_.table->Open(currentDisk_.DriveNumber(), &err, &error_number)) {
    QString text = QStringLiteral("Cannot read %1: %2.")
                       .arg(driveName(currentDisk_.DriveNumber()), QString::fromStdString(err));
    if (IsAccessRefused(error_number))
      text += ::geteuid() == 0
                  ? QStringLiteral(
                        "\n\nThe system refuses this disk even to an administrator. "
                        "Make an image of it with a disk imaging tool and add the image "
                        "with Add Image...")
                  : QStringLiteral(
                        "\n\nReading a whole disk needs administrator rights. Close the "
                        "program and start it with \"pkexec trawlex-finder\" (or \"Open as "
                        "Administrator\" in the desktop menu), or make an image of the "
                        "disk and add it with Add Image...");
    services_.prompter->warning(this, text);
    return;
  }
  erbNext->hide();
  btnRestart->show();
  btnRestart->raise();
  actStartScanExecute();
  FillTypeList();
}

void TmainFrm::FillTypeList() {
  scanWorker_->stopAndWait();
  typeModel_->reset();
  foundModel_->clear();
  shownTypeRow_ = -1;
  // A new scan starts at the top of both lists, with no row current.
  lvSelectedFileType->setCurrentIndex(QModelIndex());
  lvSelectedFileType->scrollToTop();
  lvFound->scrollToTop();
  lblFoundFile->setText(QStringLiteral("0"));
  lblScanNote->clear();
  rows_ = std::make_shared<FoundTypeRows>();
  pcWizard->setCurrentWidget(tsScan);
  gProgress->setValue(0);
  edLBA->setText(QStringLiteral("0"));
  edFoundFile->setText(QStringLiteral("0"));
  edLastSector->setText(QStringLiteral("0"));
  lastScanOptions_ = {};
  lastScanOptions_.real_ends = options_.RealEnds;
  lastScanOptions_.size_limit = std::uint64_t{options_.MaxSizeOfRecoverMB} << 20;
  freeSpace_ = options_.FreeSpaceOnly ? std::make_shared<FreeSpaceSearch>() : nullptr;
  namedFrom_ = nullptr;
  namedCount_.fill(0);
  sameBytes_.clear();
  carvedSeen_.fill(0);
  carvedHidden_.fill(0);
  lblFreeSpace->setVisible(freeSpace_ != nullptr);
  lblFreeSpace->setText(QStringLiteral("Reading the file systems on the disk..."));
  lblFreeSpace->setToolTip(QString());
  applyFoundTypesOnly();
  scanWorker_->start(services_.table, currentDisk_, rows_, lastScanOptions_, freeSpace_);
}

FoundPlace TmainFrm::foundPlace() const {
  return freeSpace_ ? freeSpace_->Place() : FoundPlace();
}

void TmainFrm::freeSpaceFound() {
  if (!freeSpace_ || !freeSpace_->Stream()) return;
  showFreeSpace();
  if (debugFrm_)
    for (const std::string& line : freeSpace_->Lines())
      debugFrm_->WriteLine(
          QStringLiteral("Free space of %1: %2")
              .arg(driveName(currentDisk_.DriveNumber()), QString::fromStdString(line)));
  // The deleted files named are checked before the free space is scanned.
  if (const std::size_t named = freeSpace_->Layout().deleted.size(); named > 0)
    lblScanNote->setText(
        QStringLiteral("Checking the %1 deleted files the file systems name...").arg(named));
}

void TmainFrm::showFreeSpace() {
  const FreeSpaceLayout& layout = freeSpace_->Layout();
  // One line under the figures: each file system and how much of it is free, then what is
  // searched whole, then the deleted files named; the tooltip has every line in full.
  QStringList searched;
  for (const FileSystemArea& fs : layout.file_systems)
    searched << QStringLiteral("%1 at sector %2, %3 free of %4")
                    .arg(QString::fromStdString(fs.type))
                    .arg(fs.offset / 512)
                    .arg(QString::fromStdString(FormatFileSize(fs.free_bytes)),
                         QString::fromStdString(FormatFileSize(fs.length)));
  QString text = searched.isEmpty() ? QString()
                                    : QStringLiteral("Free space searched: ") +
                                          searched.join(QStringLiteral("; ")) + QLatin1Char('.');
  for (const std::string& note : layout.notes)
    text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + QString::fromStdString(note);
  QStringList lines;
  for (const std::string& line : freeSpace_->Lines()) lines << QString::fromStdString(line);
  if (const std::vector<UndeletedFile>* named = freeSpace_->Undeleted(); named && !named->empty()) {
    const auto greyed = std::count_if(named->begin(), named->end(),
                                      [](const UndeletedFile& f) { return !f.SavedByDefault(); });
    const QString said = QStringLiteral(
                             "%1 deleted files listed by their names, %2 of them greyed (they "
                             "failed their checks or other files hold their bytes).")
                             .arg(named->size())
                             .arg(greyed);
    text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + said;
    lines << said;
  }
  lblFreeSpace->setToolTip(lines.join(QLatin1Char('\n')));
  lblFreeSpace->setText(
      lblFreeSpace->fontMetrics().elidedText(text, Qt::ElideRight, lblFreeSpace->width()));
}

void TmainFrm::deletedFilesChecked() {
  // A late signal of a scan since replaced finds the new search not yet checked, or listed.
  const std::vector<UndeletedFile>* named = freeSpace_ ? freeSpace_->Undeleted() : nullptr;
  if (!named || namedFrom_ == freeSpace_.get()) return;
  namedFrom_ = freeSpace_.get();
  lblScanNote->clear();
  if (named->empty()) return;
  foundModel_->setNamed(freeSpace_);
  for (const UndeletedFile& f : *named)
    ++namedCount_[static_cast<std::size_t>(f.type < 0 ? kOtherFilesRow : f.type)];
  sameBytes_ = UndeletedStarts(*named, freeSpace_->Layout());
  typeModel_->setOtherFilesShown(namedCount_[kOtherFilesRow] > 0);
  countsChanged();
  showFreeSpace();
  if (debugFrm_)
    for (const UndeletedFile& f : *named)
      debugFrm_->WriteLine(
          QStringLiteral("Deleted file named by %1: %2 (%3, %4 bytes at sector %5)")
              .arg(QString::fromStdString(
                       freeSpace_->Layout().file_systems[f.entry.file_system].type),
                   QString::fromStdString(f.entry.path),
                   QString::fromLatin1(UndeleteCheckName(f.check).data()))
              .arg(f.entry.size)
              .arg(f.DiskOffset(freeSpace_->Layout()) / 512));
  // A type listed meanwhile gains its deleted files.
  if (shownTypeRow_ >= 0) lvSelectedFileTypeClick();
}

std::vector<TfileExt> TmainFrm::listedFiles(int row) const {
  std::vector<TfileExt> files = (*rows_)[row].Files();
  if (sameBytes_.empty()) return files;
  const FoundPlace place = foundPlace();
  std::erase_if(
      files, [&](const TfileExt& f) { return sameBytes_.count(place.DiskLBA(f.LBA) * 512) > 0; });
  return files;
}

void TmainFrm::scanStarted(qulonglong total) {
  scanClock_.start();
  lastRateShown_ = -1;
  edLastSector->setText(QString::number(total));
  gProgress->setRange(0, static_cast<int>(std::max<qulonglong>(1, total / kChunkSectors)));
  gProgress->setValue(0);
}

void TmainFrm::showScanRate(qulonglong lba) {
  // At most four times a second, and only once there is something to measure.
  const qint64 ms = scanClock_.isValid() ? scanClock_.elapsed() : 0;
  if (ms < 250 || (lastRateShown_ >= 0 && ms - lastRateShown_ < 250) || !isScanning()) return;
  lastRateShown_ = ms;
  auto clock = [](qint64 seconds) {
    return seconds >= 3600 ? QStringLiteral("%1:%2:%3")
                                 .arg(seconds / 3600)
                                 .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                           : QStringLiteral("%1:%2")
                                 .arg(seconds / 60)
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'));
  };
  const double bytesPerSecond = static_cast<double>(lba) * 512.0 * 1000.0 / static_cast<double>(ms);
  QString text = QStringLiteral("%1 MB/s, %2 elapsed")
                     .arg(bytesPerSecond / 1e6, 0, 'f', 1)
                     .arg(clock(ms / 1000));
  const qulonglong total = edLastSector->text().toULongLong();
  if (bytesPerSecond > 0 && total > lba)
    text += QStringLiteral(", about %1 left")
                .arg(clock(
                    static_cast<qint64>(static_cast<double>(total - lba) * 512.0 / bytesPerSecond) +
                    1));
  lblScanNote->setText(text);
}

void TmainFrm::showTickedSize() {
  const std::uint64_t bytes = foundModel_->checkedBytes();
  lblTickedSize->setText(
      bytes == 0 ? QString()
                 : QStringLiteral("%1 ticked").arg(QString::fromStdString(FormatFileSize(bytes))));
}

void TmainFrm::applyFoundTypesOnly() {
  // Today's kinds are looked for only with real ends; without, their rows show only for
  // the deleted files the file systems name of their kinds.
  const bool only = chkFoundTypesOnly->isChecked();
  const int listed = ListedTypeCount(lastScanOptions_.real_ends);
  // It runs at every change of the counts: rows are laid out again only when one changes.
  for (int row = 0; row < kFileTypeCount; ++row) {
    const bool hide = (only || row >= listed) && typeModel_->count(row) == 0;
    if (lvSelectedFileType->isRowHidden(row, QModelIndex()) != hide)
      lvSelectedFileType->setRowHidden(row, QModelIndex(), hide);
  }
}

void TmainFrm::countsChanged() {
  // Each type counts its files listed: those found, less those listed by a deleted file's
  // name, and the deleted files named of its kind.
  const FoundPlace place = foundPlace();
  for (int row = 0; row < kFileTypeCount; ++row) {
    const auto k = static_cast<std::size_t>(row);
    if (!sameBytes_.empty())
      for (const TfileExt& f : (*rows_)[row].Files(carvedSeen_[k])) {
        ++carvedSeen_[k];
        if (sameBytes_.count(place.DiskLBA(f.LBA) * 512) > 0) ++carvedHidden_[k];
      }
    const qulonglong found = scanWorker_->rowCount(row);
    typeModel_->setCount(row, found - std::min(found, carvedHidden_[k]) + namedCount_[k]);
  }
  if (typeModel_->otherFilesShown())
    typeModel_->setCount(kOtherFilesRow, namedCount_[kOtherFilesRow]);
  applyFoundTypesOnly();
  edFoundFile->setText(QString::number(scanWorker_->foundCount()));
}

void TmainFrm::scanEnded(const ScanSummary& summary) {
  lastScan_ = summary;
  pause_.store(false);
  countsChanged();
  edLBA->setText(QString::number(summary.examined));
  gProgress->setValue(0);
  QString note;
  switch (summary.reason) {
    case ScanEnd::kCompleted:
      note = QStringLiteral("Scan complete. %1 sectors, %2 files found.")
                 .arg(summary.examined)
                 .arg(summary.files_found);
      break;
    case ScanEnd::kStopped:
      note = summary.error.empty()
                 ? QStringLiteral("Scan stopped at sector %1.").arg(summary.examined)
                 : QStringLiteral("Scan stopped at sector %1; %2.")
                       .arg(summary.examined)
                       .arg(QString::fromStdString(summary.error));
      break;
    case ScanEnd::kSourceLost:
      note = QStringLiteral("The disk could not be read past sector %1: %2.")
                 .arg(summary.examined)
                 .arg(QString::fromStdString(summary.error));
      break;
    case ScanEnd::kCannotOpen:
      note = QStringLiteral("The disk could not be read: %1.")
                 .arg(QString::fromStdString(summary.error));
      break;
  }
  if (summary.unreadable > 0)
    note += QStringLiteral(" %1 unreadable sectors were treated as blank.").arg(summary.unreadable);
  lblScanNote->setText(note);
  // A scan that ended before its first sector (stopped, or the disk lost, while the file
  // systems were read) searched nothing: there is no free space to tell of.
  if (freeSpace_ && summary.examined == 0 && summary.reason != ScanEnd::kCompleted)
    lblFreeSpace->hide();
  if (debugFrm_)
    debugFrm_->WriteLine(QStringLiteral("Scan of %1: %2 files found in %3 of %4 sectors. %5")
                             .arg(driveName(currentDisk_.DriveNumber()))
                             .arg(summary.files_found)
                             .arg(summary.examined)
                             .arg(summary.total_sectors)
                             .arg(note));
  // Stop Scan is about to be disabled: the keyboard moves on to the found types.
  const bool atStop = sbStop->hasFocus();
  actStopScanExecute();
  if (atStop) lvSelectedFileType->setFocus(Qt::OtherFocusReason);
  emit scanFinished();
}

void TmainFrm::erbPreviousClick() {
  if (pcWizard->currentIndex() == 0) {
    actInitialExecute();
    return;
  }
  pcWizard->setCurrentWidget(tsListDisk);
  tsListDiskShow();
  erbPrevious->setEnabled(false);
  erbNext->setEnabled(true);
}

void TmainFrm::btnRestartClick() {
  auto toDrivePage = [this] {
    pcWizard->setCurrentWidget(tsListDisk);
    tsListDiskShow();
  };
  if (!saved_) {
    switch (services_.prompter->question(this,
                                         QStringLiteral("Do you want to save recovered files?"))) {
      case Prompter::Answer::Yes:
        saveFlow(toDrivePage);
        return;
      case Prompter::Answer::No:
        break;
      case Prompter::Answer::Cancel:
        return;
    }
  }
  toDrivePage();
}

void TmainFrm::erbExitClick() {
  close();
}

void TmainFrm::sbStopClick() {
  SetPause(true);
}

void TmainFrm::SetPause(bool on) {
  pause_.store(on);
  if (on && scanWorker_) scanWorker_->requestStop();
  if (on && processFrm_ && processFrm_->isCopying()) processFrm_->btnCancelClick();
}

// ---- the lists -----------------------------------------------------------------------------

void TmainFrm::lvSelectedFileTypeClick() {
  const QModelIndex current = lvSelectedFileType->currentIndex();
  if (!current.isValid()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int row = current.row();
  shownTypeRow_ = row;
  foundModel_->setFiles(row < kFileTypeCount ? listedFiles(row) : std::vector<TfileExt>{},
                        typeModel_->isChecked(row), lastScanOptions_.real_ends, foundPlace(),
                        freeSpace_ ? row : -1);
  // Size, LBA (ten digits) and End keep their widths; Name has the rest.
  lvFound->setColumnWidth(1, 80);
  lvFound->setColumnWidth(2, 90);
  // End also holds the checks of deleted files named, the longest of them "overwritten".
  if (foundModel_->columnCount() > 3)
    lvFound->setColumnWidth(
        3, namedFrom_ ? lvFound->fontMetrics().horizontalAdvance(QStringLiteral("overwritten")) + 14
                      : 64);
  QApplication::restoreOverrideCursor();
  lblFoundFile->setText(QString::number(foundModel_->rowCount()));
}

bool TmainFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lvSelectedFileType && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      lvSelectedFileTypeClick();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TmainFrm::btnSelectAllClick() {
  typeModel_->setAllChecked(true);
  foundModel_->setAllChecked(true);
}

void TmainFrm::btnSelectNoneClick() {
  typeModel_->setAllChecked(false);
  foundModel_->setAllChecked(false);
}

void TmainFrm::btnBrowseClick() {
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(savePath()))) return;
  // No file manager to open it: the path, to copy.
  if (services_.prompter->choose(
          this, QStringLiteral("No file manager could open the folder %1.").arg(savePath()),
          {QStringLiteral("Copy Path"), QStringLiteral("OK")}) == 0)
    QGuiApplication::clipboard()->setText(savePath());
}

// ---- saving --------------------------------------------------------------------------------

void TmainFrm::sbRecoverClick() {
  saveFlow({});
}

void TmainFrm::saveFlow(std::function<void()> then) {
  SetPause(false);
  // Ticked types come before ticked files: the files of the shown list are saved only
  // when no type is ticked. Nothing ticked at all is said before a folder is asked for.
  std::vector<std::vector<TfileExt>> work;
  for (int row = 0; row < kFileTypeCount; ++row)
    if (typeModel_->isChecked(row)) work.push_back((*rows_)[row].Files());
  std::vector<TfileExt> tickedFiles = foundModel_->checkedFiles();
  // Deleted files listed by their names are saved when ticked, whichever types are.
  std::vector<UndeletedFile> tickedNamed = foundModel_->checkedNamed();
  if (work.empty() && tickedFiles.empty() && tickedNamed.empty()) {
    services_.prompter->information(this, QStringLiteral("Nothing is ticked."));
    return finishSave(then);
  }
  if (work.empty()) {
    if (!tickedFiles.empty()) work.push_back(std::move(tickedFiles));
  } else if (std::any_of(tickedFiles.begin(), tickedFiles.end(),
                         [this](const TfileExt& f) { return !typeModel_->isChecked(f.Type); })) {
    const int answer = services_.prompter->choose(
        this,
        QStringLiteral(
            "Ticked files are not saved while a file type is ticked. Save the ticked types?"),
        {QStringLiteral("Yes"), QStringLiteral("No")});
    if (answer != 0) return;  // back to the lists, nothing saved
  }

  const DriveEntry* entry = services_.table->Find(currentDisk_.DriveNumber());
  // The disk being read is never written: a folder on it is refused and no output file
  // may be the source itself.
  const SourceIdentity source = entry ? IdentifySource(entry->path) : SourceIdentity{};
  QString folder;
  for (;;) {
    BrowseFolder->setFolderName(savePath());
    if (!BrowseFolder->Execute() || BrowseFolder->FolderName().isEmpty()) return finishSave(then);
    folder = BrowseFolder->FolderName();
    const std::string problem = OutputFolderProblem(source, folder.toStdString());
    if (!problem.empty()) {
      services_.prompter->error(
          this,
          QStringLiteral("Cannot save into %1: %2.").arg(folder, QString::fromStdString(problem)));
      continue;
    }
    if (!FolderLiesOnDrive(*services_.table, currentDisk_.DriveNumber(), folder.toStdString()))
      break;
    const int choice = services_.prompter->choose(
        this,
        QStringLiteral("The folder %1 lies on the disk being recovered. Saving there can overwrite "
                       "the deleted files you want back.")
            .arg(folder),
        {QStringLiteral("Choose Another Folder"), QStringLiteral("Save Here")});
    if (choice == 1) break;
    if (choice < 0) return finishSave(then);
  }
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  options_.SavePath = folder.toStdString();

  std::string err;
  std::unique_ptr<SectorReader> reader = services_.table->Open(currentDisk_.DriveNumber(), &err);
  if (!reader) {
    services_.prompter->error(
        this, QStringLiteral("Cannot read %1: %2.")
                  .arg(driveName(currentDisk_.DriveNumber()), QString::fromStdString(err)));
    return finishSave(then);
  }
  const std::uint64_t diskSize = reader->SizeBytes();
  // Files found in the free space are read through the same runs, so that their pieces
  // come together again, and are named and reported by where they lie on the disk.
  const FoundPlace place = foundPlace();
  if (freeSpace_ && freeSpace_->Stream()) reader = freeSpace_->StreamOver(std::move(reader));
  // Found files that are the same bytes as a deleted file named were listed by its name
  // alone, and are not saved twice; the named ones are read from the disk itself.
  if (const std::vector<UndeletedFile>* named = freeSpace_ ? freeSpace_->Undeleted() : nullptr;
      named && !named->empty())
    work = WithoutUndeleted(work, place, *named, freeSpace_->Layout());
  std::vector<NamedFile> namedWork;
  for (const UndeletedFile& f : tickedNamed)
    namedWork.push_back({f.saved_path, f.entry.size, f.entry.runs, f.entry.content});
  std::unique_ptr<SectorReader> disk;
  if (!namedWork.empty()) {
    disk = services_.table->Open(currentDisk_.DriveNumber(), &err);
    if (!disk) {
      services_.prompter->error(
          this, QStringLiteral("Cannot read %1: %2.")
                    .arg(driveName(currentDisk_.DriveNumber()), QString::fromStdString(err)));
      return finishSave(then);
    }
  }
  setContentEnabled(false);
  // With real ends the folder also gets a recovery report of what was saved.
  ReportSource report;
  if (lastScanOptions_.real_ends) {
    report.image_filename = driveName(currentDisk_.DriveNumber()).toStdString();
    report.image_size = diskSize;
    report.sector_count = lastScan_.total_sectors;
    report.sectors_examined = lastScan_.examined;
    report.unreadable_sectors = lastScan_.unreadable;
    report.real_ends = true;
    report.size_limit_mb = options_.MaxSizeOfRecoverMB;
    report.retry_passes = lastScanOptions_.retry_passes;
    report.command_line = QApplication::arguments().join(QLatin1Char(' ')).toStdString();
    report.start_time = std::chrono::system_clock::now();
  }
  auto reportWork = lastScanOptions_.real_ends ? work : std::vector<std::vector<TfileExt>>{};
  processFrm_->startCopy(
      std::move(reader), std::move(work), folder, options_.MaxSizeOfRecoverMB, source,
      [this, then, folder, report, place, search = freeSpace_, reportWork = std::move(reportWork),
       reportNamed = report.real_ends ? tickedNamed : std::vector<UndeletedFile>{}](
          const TprocessFrm::Outcome& outcome) mutable {
        QString text = TprocessFrm::summary(outcome, folder);
        if (report.real_ends) {
          report.end_time = std::chrono::system_clock::now();
          std::string err;
          // From the free space, each file also names the file system it lies in.
          const FreeSpaceLayout* layout = search && search->Stream() ? &search->Layout() : nullptr;
          if (!WriteRecoveryReport(folder.toStdString(), report, reportWork, outcome.totals.written,
                                   &err, place, layout, reportNamed))
            text += QStringLiteral("\nThe recovery report could not be written: %1.")
                        .arg(QString::fromStdString(err));
          else
            text += QStringLiteral("\nA recovery report is in report.xml.");
        }
        lastSaveSummary_ = text;
        // A clean save says so under the lists; anything that went wrong is a message the
        // user closes.
        const SaveTotals& t = outcome.totals;
        if (outcome.failed)
          services_.prompter->error(this, text);
        else if (t.unreadable_sectors > 0 || !t.incomplete.empty() || t.end != SaveEnd::kCompleted)
          services_.prompter->warning(this, text);
        else
          lblScanNote->setText(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        lblScanNote->setToolTip(text);
        finishSave(then);
      },
      place, std::move(namedWork), std::move(disk));
}

void TmainFrm::setContentEnabled(bool on) {
  // The copy window is a child window of this one and must stay usable: only the
  // window's own controls are disabled.
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    if (!w->isWindow()) w->setEnabled(on);
}

void TmainFrm::finishSave(const std::function<void()>& then) {
  SetPause(false);
  if (processFrm_) processFrm_->hide();
  saved_ = true;
  setContentEnabled(true);
  emit saveFinished();
  if (then) then();
}

// ---- options and side commands ---------------------------------------------------------------

void TmainFrm::saveOptionsNow() {
  if (!SaveOptions(*services_.options, options_))
    services_.prompter->error(
        this, QStringLiteral(
                  "The options could not be written; they stay in use until the program ends."));
}

void TmainFrm::SetMaxSizeOfRecoverMB(uint mb) {
  options_.MaxSizeOfRecoverMB = mb;
  saveOptionsNow();
}

void TmainFrm::SetRealEnds(bool on) {
  options_.RealEnds = on;
  saveOptionsNow();
}

void TmainFrm::SetFreeSpaceOnly(bool on) {
  options_.FreeSpaceOnly = on;
  saveOptionsNow();
}

void TmainFrm::setSettingsForm(TFrmSettings* form) {
  settingsFrm_ = form;
  if (!form) return;
  form->setRealEndsAccess([this] { return RealEnds(); }, [this](bool on) { SetRealEnds(on); });
  form->setFreeSpaceAccess([this] { return FreeSpaceOnly(); },
                           [this](bool on) { SetFreeSpaceOnly(on); });
}

void TmainFrm::EzRgnBtn4Click() {
  if (settingsFrm_) settingsFrm_->exec();
}

void TmainFrm::btnHelpClick() {
  if (!PopupAboutus->isEmpty()) PopupAboutus->popup(QCursor::pos());
}

void TmainFrm::mnu_HelpClick() {
  if (openHelp_ && openHelp_(10)) return;
  services_.prompter->warning(this, QStringLiteral("Cannot load help file."));
}

void TmainFrm::mnu_HomePageClick() {
  OpenLink(this, QStringLiteral("http://") + webSiteURL_);
}

void TmainFrm::mnuLiveUpdateClick() {
  // {APP}, the log file and the updater's names all refer to the program's folder.
  QDir::setCurrent(QString::fromStdString(services_.folders.program_folder));
  try {
    webUpdateWizard_->Execute(this);
  } catch (const std::exception& e) {
    services_.prompter->error(this, QString::fromStdString(e.what()));
  }
}

void TmainFrm::mnu_AboutClick() {
  if (splashFrm_) splashFrm_->ShowSplash(false);
}

void TmainFrm::OpenLink(QWidget* owner, const QString& text) {
  const QUrl url = QUrl::fromUserInput(text);
  if (url.isValid() && QDesktopServices::openUrl(url)) return;
  // Nothing on this desktop opens addresses: the address, to copy.
  if (services_.prompter->choose(owner,
                                 QStringLiteral("No program to open %1 is installed.").arg(text),
                                 {QStringLiteral("Copy Address"), QStringLiteral("OK")}) == 0)
    QGuiApplication::clipboard()->setText(text);
}

void TmainFrm::spRecoverClick() {
  scanBuffer_.ReadDiskChunk(*services_.table, 0, 0, static_cast<std::uint32_t>(ChunkBuffer::kSize));
  if (!viewerFrm_) return;
  viewerFrm_->setDrive(0);
  viewerFrm_->showAt(0);
}

void TmainFrm::viewChosenDrive() {
  if (!viewerFrm_ || currentDisk_.DriveNumber() < 0) return;
  viewerFrm_->setDrive(currentDisk_.DriveNumber());
  viewerFrm_->openAt(0);
}

void TmainFrm::viewFoundFile(int row) {
  if (!viewerFrm_ || row < 0 || row >= foundModel_->rowCount()) return;
  viewerFrm_->setDrive(currentDisk_.DriveNumber());
  viewerFrm_->openAt(foundModel_->diskLBA(row));
}

void TmainFrm::closeEvent(QCloseEvent* event) {
  // A running scan or save is not ended without a question; No keeps it going.
  const bool copying = processFrm_ && processFrm_->isCopying();
  if ((isScanning() || copying) && !exitConfirmed_) {
    const int answer = services_.prompter->choose(
        this,
        copying ? QStringLiteral("Files are being saved. Stop saving and exit?")
                : QStringLiteral("A scan is running. Stop it and exit?"),
        {QStringLiteral("Yes"), QStringLiteral("No")});
    if (answer != 0) {
      event->ignore();
      return;
    }
    exitConfirmed_ = true;
  }
  // The scan and the copy end before the window's state goes away.
  scanWorker_->stopAndWait();
  if (copying) {
    processFrm_->btnCancelClick();
    event->ignore();
    connect(processFrm_, &TprocessFrm::copyEnded, this, &QWidget::close, Qt::SingleShotConnection);
    return;
  }
  if (!SaveOptions(*services_.options, options_))
    services_.prompter->error(this, QStringLiteral("The options could not be written."));
  QWidget::closeEvent(event);
}
