#include "update/wizard/wu_wiz_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QStackedWidget>
#include <exception>

#include "recovery/ui/product_palette.h"
#include "skin/hs_skin_btn.h"
#include "update/web_update.h"

using trawlex::update::TWebUpdate;
using trawlex::update::TWebUpdateConnect;
using trawlex::update::TWebUpdateUpdate;

namespace {

/// The line break of the version text.
constexpr QChar kLineBreak{QLatin1Char('\n')};

/// The picture at the wizard's left: a disk with a downward arrow on the product's teal.
QPixmap WizardPicture() {
  QPixmap pm(116, 201);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 201);
  g.setColorAt(0, ProductPalette::kTeal.lighter(135));
  g.setColorAt(1, ProductPalette::kTeal.darker(140));
  p.fillRect(pm.rect(), g);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 40));
  p.drawEllipse(QPointF(20, 30), 70, 70);
  // The disk.
  p.setBrush(QColor(0xF4, 0xF7, 0xF9));
  p.drawRoundedRect(QRectF(24, 112, 68, 44), 6, 6);
  p.setBrush(ProductPalette::kInk);
  p.drawRoundedRect(QRectF(30, 140, 56, 9), 3, 3);
  p.setBrush(QColor(0x3F, 0xD0, 0x8C));
  p.drawEllipse(QPointF(82, 122), 3.5, 3.5);
  // The arrow into it.
  QPainterPath arrow;
  arrow.moveTo(50, 40);
  arrow.lineTo(66, 40);
  arrow.lineTo(66, 76);
  arrow.lineTo(80, 76);
  arrow.lineTo(58, 102);
  arrow.lineTo(36, 76);
  arrow.lineTo(50, 76);
  arrow.closeSubpath();
  p.setBrush(Qt::white);
  p.drawPath(arrow);
  p.end();
  return pm;
}

QLabel* MakeLabel(QWidget* page, const QString& text, int x, int y, bool bold = false) {
  auto* l = new QLabel(text, page);
  l->move(x, y);
  if (bold) {
    QFont f(QStringLiteral("MS Sans Serif"), 10, QFont::Bold);
    l->setFont(f);
  }
  l->adjustSize();
  return l;
}

THSSkinBtn* MakeButton(QWidget* page, const QString& name, const QString& caption) {
  auto* b = new THSSkinBtn(page);
  b->setObjectName(name);
  b->setCaption(caption);
  b->setGeometry(329 - 75 - 8, 265 - 25 - 8, 75, 25);
  return b;
}

QPlainTextEdit* MakeMemo(QWidget* page, const QString& name) {
  auto* m = new QPlainTextEdit(page);
  m->setObjectName(name);
  m->setReadOnly(true);
  m->setLineWrapMode(QPlainTextEdit::NoWrap);
  m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m->setGeometry(8, 26, 313, 193);
  return m;
}

QString Lines(const std::vector<std::string>& text) {
  QStringList lines;
  for (const auto& l : text) lines << QString::fromStdString(l);
  return lines.join(QLatin1Char('\n'));
}

QString ShortDate(trawlex::update::DateTime when) {
  const auto days = std::chrono::floor<std::chrono::days>(when);
  const std::chrono::year_month_day ymd{days};
  const QDate date(static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                   static_cast<unsigned>(ymd.day()));
  return QLocale::system().toString(date, QLocale::ShortFormat);
}

/// Both values scaled so that they fit a progress bar's int range.
void SetBar(QProgressBar* bar, int64_t pos, int64_t max) {
  int shift = 0;
  while ((max >> shift) > 1'000'000'000) ++shift;
  const int m = static_cast<int>(max >> shift);
  bar->setMaximum(m);
  bar->setValue(static_cast<int>(std::clamp<int64_t>(pos >> shift, 0, m)));
}

}  // namespace

TWUWIZ::TWUWIZ(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("WUWIZ"));
  setPalette(ProductPalette::page());
  setAutoFillBackground(true);
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  setFixedSize(474, 284);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(8, 8, 116, 201);
  Image1->setPixmap(WizardPicture());

  PageControl1 = new QStackedWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setGeometry(137, 8, 329, 265);
  for (int i = 0; i < 7; ++i) {
    TabSheet[i] = new QWidget(PageControl1);
    TabSheet[i]->setObjectName(QStringLiteral("TabSheet%1").arg(i + 1));
    PageControl1->addWidget(TabSheet[i]);
  }

  // 0 welcome
  WelcomeLabel = MakeLabel(
      TabSheet[0],
      QStringLiteral("Press start to start checking for available application updates ..."), 8, 8);
  WelcomeLabel->setWordWrap(true);
  WelcomeLabel->setFixedWidth(300);
  WelcomeLabel->adjustSize();
  StartButton = MakeButton(TabSheet[0], QStringLiteral("StartButton"), QStringLiteral("Start"));
  // 1 result
  VersionInfoLabel = MakeLabel(TabSheet[1], QString(), 8, 8, true);
  VersionInfoLabel->setObjectName(QStringLiteral("VersionInfoLabel"));
  VersionInfoLabel->setWordWrap(true);
  VersionInfoLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ControlButton =
      MakeButton(TabSheet[1], QStringLiteral("ControlButton"), QStringLiteral("Get update"));
  // 2 what's new
  Label1 = MakeLabel(TabSheet[2], QStringLiteral("What's new :"), 8, 8);
  WhatsNewMemo = MakeMemo(TabSheet[2], QStringLiteral("WhatsNewMemo"));
  NewButton = MakeButton(TabSheet[2], QStringLiteral("NewButton"), QStringLiteral("Next"));
  // 3 agreement
  Label2 = MakeLabel(TabSheet[3], QStringLiteral("License agreement :"), 8, 8);
  EULAMemo = MakeMemo(TabSheet[3], QStringLiteral("EULAMemo"));
  EULAMemo->setGeometry(8, 26, 313, 170);
  RAccept = new QRadioButton(QStringLiteral("I Accept"), TabSheet[3]);
  RAccept->setObjectName(QStringLiteral("RAccept"));
  RAccept->move(8, 202);
  RAccept->adjustSize();
  RNoAccept = new QRadioButton(QStringLiteral("I do not accept"), TabSheet[3]);
  RNoAccept->setObjectName(QStringLiteral("RNoAccept"));
  RNoAccept->move(8, 220);
  RNoAccept->adjustSize();
  EULAButton = MakeButton(TabSheet[3], QStringLiteral("EULAButton"), QStringLiteral("Next"));
  EULAButton->setEnabled(false);
  // 4 components
  Label3 = MakeLabel(TabSheet[4], QStringLiteral("Available application components :"), 8, 8);
  CheckListBox1 = new QListWidget(TabSheet[4]);
  CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
  CheckListBox1->setGeometry(8, 26, 313, 193);
  FilesButton = MakeButton(TabSheet[4], QStringLiteral("FilesButton"), QStringLiteral("Next"));
  // 5 download
  Label4 = MakeLabel(TabSheet[5], QStringLiteral("Downloading files :"), 8, 8, true);
  Label5 = MakeLabel(TabSheet[5], QStringLiteral("Current file progress :"), 8, 48);
  FileLabel = MakeLabel(TabSheet[5], QString(), Label5->x() + Label5->width() + 6, 48);
  FileLabel->setObjectName(QStringLiteral("FileLabel"));
  FileLabel->setFixedWidth(321 - FileLabel->x());
  FileProgress = new QProgressBar(TabSheet[5]);
  FileProgress->setObjectName(QStringLiteral("FileProgress"));
  FileProgress->setGeometry(8, 68, 313, 18);
  FileProgress->setRange(0, 100);
  Label6 = MakeLabel(TabSheet[5], QStringLiteral("Total progress :"), 8, 108);
  TotalProgress = new QProgressBar(TabSheet[5]);
  TotalProgress->setObjectName(QStringLiteral("TotalProgress"));
  TotalProgress->setGeometry(8, 128, 313, 18);
  TotalProgress->setRange(0, 100);
  CancelButton = MakeButton(TabSheet[5], QStringLiteral("CancelButton"), QStringLiteral("Cancel"));
  // 6 done
  Label7 = MakeLabel(TabSheet[6], QStringLiteral("Update completed ..."), 8, 8, true);
  Label8 = MakeLabel(TabSheet[6], QStringLiteral("Press restart to start the updated application."),
                     8, 40);
  RestartButton =
      MakeButton(TabSheet[6], QStringLiteral("RestartButton"), QStringLiteral("Restart"));

  connect(StartButton, &THSSkinBtn::clicked, this, &TWUWIZ::StartButtonClick);
  connect(ControlButton, &THSSkinBtn::clicked, this, &TWUWIZ::ControlButtonClick);
  connect(NewButton, &THSSkinBtn::clicked, this, &TWUWIZ::NewButtonClick);
  connect(RAccept, &QRadioButton::clicked, this, &TWUWIZ::RAcceptClick);
  connect(RNoAccept, &QRadioButton::clicked, this, &TWUWIZ::RAcceptClick);
  connect(EULAButton, &THSSkinBtn::clicked, this, &TWUWIZ::EULAButtonClick);
  connect(FilesButton, &THSSkinBtn::clicked, this, &TWUWIZ::FilesButtonClick);
  connect(CancelButton, &THSSkinBtn::clicked, this, &TWUWIZ::CancelButtonClick);
  connect(RestartButton, &THSSkinBtn::clicked, this, &TWUWIZ::RestartButtonClick);

  // The form's own engine, until `AttachEngine` hands it the real one.
  WebUpdate1 = std::make_unique<TWebUpdate>();
  WebUpdate1->UpdateConnect = TWebUpdateConnect::wucNoConnect;
  WebUpdate1->UpdateUpdate = TWebUpdateUpdate::wuuSilent;
  WebUpdate1->ExtractCAB = false;
  WebUpdate1->TempDirectory = ".";
  AttachEngine(WebUpdate1.get());
  ShowPage(0);
  StartButton->setFocus();
}

TWUWIZ::~TWUWIZ() {
  if (engine_ && !finished_) engine_->StopConnection();
  DetachEngine();
}

void TWUWIZ::DetachEngine() {
  if (!engine_) return;
  engine_->OnFileProgress = nullptr;
  engine_->OnProgressCancel = nullptr;
  engine_->ProcessMessages = previousPump_;
  engine_ = nullptr;
}

void TWUWIZ::AttachEngine(TWebUpdate* engine) {
  DetachEngine();
  engine_ = engine;
  cancel_ = false;
  if (!engine_) return;
  engine_->OnFileProgress = [this](TWebUpdate&, const std::string& name, int64_t pos,
                                   int64_t size) { WebUpdateFileProgress(name, pos, size); };
  engine_->OnProgressCancel = [this](TWebUpdate&, bool& cancel) { cancel = cancel_; };
  previousPump_ = engine_->ProcessMessages;
  engine_->ProcessMessages = [] { QApplication::processEvents(); };
}

void TWUWIZ::ShowPage(int index) {
  PageControl1->setCurrentIndex(index);
}

void TWUWIZ::Finish() {
  if (finished_) return;
  finished_ = true;
  cancel_ = true;  // a transfer still running ends after its next block
  if (engine_) engine_->StopConnection();
  done(QDialog::Rejected);
}

void TWUWIZ::closeEvent(QCloseEvent* event) {
  Finish();
  event->accept();
}

void TWUWIZ::reject() {
  Finish();
}

bool TWUWIZ::Step(const std::function<void()>& step) {
  busy_ = true;
  try {
    step();
  } catch (const std::exception& e) {
    busy_ = false;
    if (!finished_) {
      const QString text = QString::fromStdString(e.what());
      if (Information) {
        Information(this, text);
      } else {
        QMessageBox::warning(this, windowTitle(), text);
      }
    }
    Finish();
    return false;
  }
  busy_ = false;
  return !finished_;
}

void TWUWIZ::StartButtonClick() {
  if (busy_) {  // the control file is being fetched: Start has become Cancel
    cancel_ = true;
    return;
  }
  if (!engine_) return;
  int started = 0;
  if (!Step([&] { started = engine_->StartConnection(); })) return;
  if (started != 0) {
    Finish();
    return;
  }
  engine_->UpdateUpdate = TWebUpdateUpdate::wuuSilent;
  StartButton->setCaption(QStringLiteral("Cancel"));
  int got = 0;
  const bool alive = Step([&] { got = engine_->GetControlFile(); });
  StartButton->setCaption(QStringLiteral("Start"));
  if (!alive) return;
  if (engine_->Cancelled() || cancel_) {  // the user cancelled the check
    Finish();
    return;
  }
  ShowPage(1);
  if (got != 0) {
    VersionInfoLabel->setText(
        QStringLiteral("Could not connect to update server or no update found on server ..."));
    VersionInfoLabel->setFixedWidth(200);
    VersionInfoLabel->adjustSize();
    ControlButton->setCaption(QStringLiteral("Exit"));
    ControlButton->setFocus();
    return;
  }
  int r = 0;
  if (!Step([&] { r = engine_->CheckNewVersion(); })) return;
  const auto& d = engine_->Decision();
  const auto versionText = [&](const QString& installed, const QString& release) {
    return QStringLiteral("New version found :") + kLineBreak + kLineBreak +
           QStringLiteral("Current version : ") + installed + kLineBreak +
           QStringLiteral("New version :") + release + kLineBreak + kLineBreak +
           QString::fromStdString(d.description);
  };
  if (r == 6) {
    VersionInfoLabel->setText(versionText(ShortDate(d.installed_date), ShortDate(d.release_date)));
  } else if (r == 7) {
    VersionInfoLabel->setText(QStringLiteral("No new version available."));
  } else if (r == 11) {
    VersionInfoLabel->setText(versionText(QString::fromStdString(d.local_version),
                                          QString::fromStdString(d.new_version)));
  }
  VersionInfoLabel->setFixedWidth(200);
  VersionInfoLabel->adjustSize();
  ControlButton->setCaption(r == 7 ? QStringLiteral("Exit") : QStringLiteral("Get update"));
  ControlButton->setFocus();
}

void TWUWIZ::ShowEULA(const std::vector<std::string>& text) {
  EULAMemo->setPlainText(Lines(text));
  ShowPage(3);
}

void TWUWIZ::ControlButtonClick() {
  if (busy_ || !engine_) return;
  if (ControlButton->Caption() == QStringLiteral("Exit")) {
    Finish();
    return;
  }
  int actions = 0;
  if (!Step([&] { actions = engine_->ProcessActions(); })) return;
  if (actions != 0) {
    Finish();
    return;
  }
  std::optional<std::vector<std::string>> text;
  if (!Step([&] { text = engine_->GetWhatsNew(); })) return;
  if (text) {
    WhatsNewMemo->setPlainText(Lines(*text));
    ShowPage(2);
    NewButton->setFocus();
    return;
  }
  ShowLicenceOrComponents();
}

void TWUWIZ::NewButtonClick() {
  if (busy_ || !engine_) return;
  ShowLicenceOrComponents();
}

void TWUWIZ::ShowLicenceOrComponents() {
  std::optional<std::vector<std::string>> text;
  if (!Step([&] { text = engine_->GetEULA(); })) return;
  if (text) {
    ShowEULA(*text);
    return;
  }
  if (FillComponents()) {
    ShowPage(4);
  } else {
    NoFilesFound();
  }
}

void TWUWIZ::RAcceptClick() {
  if (RAccept->isChecked()) {
    EULAButton->setEnabled(true);
    EULAButton->setCaption(QStringLiteral("Next"));
  } else if (RNoAccept->isChecked()) {
    EULAButton->setEnabled(true);
    EULAButton->setCaption(QStringLiteral("Exit"));
  }
}

void TWUWIZ::EULAButtonClick() {
  if (busy_ || !engine_) return;
  if (RAccept->isChecked()) {
    FillComponents();
    for (int i = 0; i < CheckListBox1->count(); ++i)
      CheckListBox1->item(i)->setCheckState(Qt::Checked);
    ShowPage(4);
  } else if (RNoAccept->isChecked()) {
    Finish();
  }
}

bool TWUWIZ::FillComponents() {
  CheckListBox1->clear();
  if (!Step([&] { engine_->GetFileList(); })) return false;
  auto& list = engine_->FileList();
  for (size_t i = 0; i < list.Count(); ++i) {
    auto* item =
        new QListWidgetItem(QString::fromStdString(list.Item(i).Description), CheckListBox1);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
  }
  return CheckListBox1->count() > 0;
}

void TWUWIZ::NoFilesFound() {
  const QString text = QStringLiteral("No files found for update");
  if (Information) {
    Information(this, text);
  } else {
    QMessageBox::information(this, windowTitle(), text);
  }
  Finish();
}

void TWUWIZ::FilesButtonClick() {
  if (busy_ || !engine_) return;
  auto& list = engine_->FileList();
  size_t i = 0;
  for (int line = 0; line < CheckListBox1->count() && i <= list.Count(); ++line) {
    if (CheckListBox1->item(line)->checkState() == Qt::Checked) {
      ++i;
    } else if (i < list.Count()) {
      list.Delete(i);
    }
  }
  if (list.Count() == 0) {
    NoFilesFound();
    return;
  }
  FileLabel->clear();
  FileProgress->setValue(0);
  TotalProgress->setValue(0);
  ShowPage(5);
  CancelButton->setFocus();
  if (!Step([&] { engine_->DownloadFiles(); })) return;
  if (engine_->Cancelled()) {
    Finish();
    return;
  }
  engine_->StopConnection();
  ShowPage(6);
  RestartButton->setFocus();
}

void TWUWIZ::CancelButtonClick() {
  cancel_ = true;
}

void TWUWIZ::WebUpdateFileProgress(const std::string& filename, int64_t pos, int64_t size) {
  FileLabel->setText(QFileInfo(QString::fromStdString(filename)).fileName());
  SetBar(FileProgress, pos, size);
  if (engine_) {
    const auto& list = engine_->FileList();
    SetBar(TotalProgress, pos + list.CompletedSize(), list.TotalSize());
  }
  QApplication::processEvents();
}

void TWUWIZ::RestartButtonClick() {
  if (busy_ || !engine_) return;
  Step([&] { engine_->DoRestart(); });
}
