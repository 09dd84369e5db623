#include "help/about/splash_frm.h"

#include "skin/cool_form.h"
#include "skin/hs_skin_btn.h"
#include "skin/skin_art.h"
#include "skin/skin_label.h"
#include "skin/skin_layout.h"
#include "version/file_version_info.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

namespace {

/// The window's own colour behind the face: blue 0x59, green 0x2D, red 0.
const QColor kSplashColour(0x00, 0x2D, 0x59);
const QColor kInk(0x16, 0x32, 0x4F);
const QColor kMuted(0x5C, 0x6F, 0x82);
const QColor kLink(0x0B, 0x6F, 0xB8);

QWidget* whitePanel(QWidget* parent, const QRect& place) {
  auto* panel = new QWidget(parent);
  panel->setGeometry(place);
  QPalette white = panel->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::Button, Qt::white);
  panel->setPalette(white);
  panel->setAutoFillBackground(true);
  return panel;
}

QLabel* label(QWidget* parent, const QString& text, const QColor& colour, int pixelSize,
              bool bold = false) {
  QLabel* l = MakeSkinLabel(parent, text, pixelSize, bold, colour);
  l->adjustSize();
  return l;
}

QLabel* link(QWidget* parent, const QString& text) {
  QLabel* l = label(parent, text, kLink, 10);
  QFont font = l->font();
  font.setUnderline(true);
  l->setFont(font);
  l->adjustSize();
  l->setCursor(Qt::PointingHandCursor);
  return l;
}

}  // namespace

TFrmSplash::TFrmSplash(const QString& programFile, const QString& programFolder,
                       LinkOpener openLink, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), openLink_(std::move(openLink)) {
  setWindowTitle(QStringLiteral("Ostrel Trawlex Finder"));
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kSplashColour);
  setPalette(pal);
  setAutoFillBackground(true);

  CoolForm = new TCoolForm(this);
  CoolForm->setCenter(true);
  CoolForm->setPicture(SkinArt::splashFace());
  CoolForm->setAutoSize(true);
  // The window takes the stored face's size; a replacement face is centred in it.
  setFixedSize(CoolForm->picture().deviceIndependentSize().toSize());

  LabelLoading = label(this, QStringLiteral("Loading ...................."), Qt::white, 12);
  LabelLoading->setGeometry(SkinLayout::kSplashLoadingLabel);

  PanelAboutus = whitePanel(this, SkinLayout::kSplashAboutPanel);
  LBProgramName = label(PanelAboutus, QStringLiteral("Ostrel Trawlex Finder"), kInk, 13, true);
  LBProgramName->move(0, 0);
  LBVersion = label(PanelAboutus, QStringLiteral("Version 1.0"), kMuted, 11);
  LBVersion->move(0, 17);
  LBCopyright = label(PanelAboutus, QStringLiteral("Copyright (C) Ostrel Trawlex"), kMuted, 11);
  LBCopyright->move(0, 31);
  Label4 = label(PanelAboutus, QStringLiteral("Contact points are: "), kMuted, 10);
  Label4->move(0, 45);
  LabelWebSite = link(PanelAboutus, kWebSite);
  LabelWebSite->move(Label4->x() + Label4->width(), 45);
  LabelEmail = link(PanelAboutus, kEmail);
  LabelEmail->move(LabelWebSite->x() + LabelWebSite->width() + 9, 45);
  LabelPhone = label(PanelAboutus, kPhone, kMuted, 10);
  LabelPhone->setWordWrap(true);
  LabelPhone->setGeometry(0, 58, PanelAboutus->width(), 14);
  LabelWebSite->installEventFilter(this);
  LabelEmail->installEventFilter(this);

  panelButton = whitePanel(this, SkinLayout::kSplashButtonPanel);
  OKBtn = new THSSkinBtn(panelButton);
  OKBtn->setCaption(QStringLiteral("OK"));
  QFont bold = OKBtn->font();
  bold.setBold(true);
  OKBtn->setFont(bold);
  OKBtn->setGeometry(panelButton->width() - 70, 0, 70, 25);
  connect(OKBtn, &THSSkinBtn::clicked, this, &TFrmSplash::OKBtnClick);

  TimerSplash = new QTimer(this);
  TimerSplash->setInterval(100);
  connect(TimerSplash, &QTimer::timeout, this, &TFrmSplash::TimerSplashTimer);

  // What the program's version block says of it.
  {
    trawlex::version::VersionInfo info;
    info.SetFileName(QFile::encodeName(programFile).toStdString());
    if (!info.FileVersion.empty())
      LBVersion->setText(QStringLiteral("Version ") + QString::fromStdString(info.FileVersion));
    if (!info.Copyright.empty()) LBCopyright->setText(QString::fromStdString(info.Copyright));
    LBVersion->adjustSize();
    LBCopyright->adjustSize();
  }

  // A face of the user's own replaces the product picture. One that does not load as a
  // picture leaves the product picture in place rather than stopping the program.
  const QString own = QDir(programFolder).filePath(QStringLiteral("Data/splash.bmp"));
  if (QFileInfo(own).isFile()) {
    QImageReader reader(own);
    const QImage face = reader.read();
    if (!face.isNull()) CoolForm->setPicture(QPixmap::fromImage(face));
  }
}

void TFrmSplash::ShowSplash(bool loading) {
  LabelLoading->setVisible(loading);
  OKBtn->setVisible(!loading);
  panelButton->setVisible(!loading);
  LabelEmail->move(LabelWebSite->x() + LabelWebSite->width() + 9, LabelEmail->y());
  PanelAboutus->move(PanelAboutus->x(), 320);
  if (loading) {
    LabelLoading->setText(QStringLiteral("Loading") + QLatin1Char(' '));
    TimerSplash->start();
  } else {
    OKBtn->setFocus();
  }
  exec();
}

void TFrmSplash::TimerSplashTimer() {
  if (ticks_ < 6) {
    LabelLoading->setText(LabelLoading->text() + QLatin1Char('.'));
    ++ticks_;
    return;
  }
  TimerSplash->stop();
  done(QDialog::Accepted);
}

void TFrmSplash::OKBtnClick() {
  close();
}

void TFrmSplash::LabelWebSiteClick() {
  if (openLink_) openLink_(this, LabelWebSite->text());
}

void TFrmSplash::LabelEmailClick() {
  if (openLink_) openLink_(this, QStringLiteral("mailto:") + LabelEmail->text());
}

void TFrmSplash::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) OKBtn->update();
}

bool TFrmSplash::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == LabelWebSite) LabelWebSiteClick();
    if (watched == LabelEmail) LabelEmailClick();
  }
  return QDialog::eventFilter(watched, event);
}
