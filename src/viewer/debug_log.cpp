#include "viewer/debug_log.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

namespace {
constexpr int kPanelWidths[2] = {150, 50};
constexpr int kStripHeight = 30;
}  // namespace

TdebugFrm::TdebugFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Form Debug"));
  resize(684, 449);

  mmDebug = new QPlainTextEdit(this);
  mmDebug->setObjectName(QStringLiteral("mmDebug"));
  mmDebug->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmDebug->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmDebug->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Bevel1->setFixedHeight(kStripHeight);
  btnClose = new QPushButton(QStringLiteral("&Close"), Bevel1);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  auto* strip = new QHBoxLayout(Bevel1);
  strip->setContentsMargins(4, 2, 4, 2);
  strip->addStretch();
  strip->addWidget(btnClose);
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);

  sbMain = new QStatusBar(this);
  sbMain->setObjectName(QStringLiteral("sbMain"));
  sbMain->setSizeGripEnabled(false);
  for (int i = 0; i < 2; ++i) {
    panels_[i] = new QLabel(sbMain);
    panels_[i]->setFixedWidth(kPanelWidths[i]);
    panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    sbMain->addWidget(panels_[i]);
  }

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(mmDebug, 1);
  layout->addWidget(Bevel1);
  layout->addWidget(sbMain);

  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

QLabel* TdebugFrm::statusPanel(int index) const {
  return index >= 0 && index < 2 ? panels_[index] : nullptr;
}

void TdebugFrm::WriteLine(const QString& text) {
  mmDebug->appendPlainText(text);
}

void TdebugFrm::WriteStatus0(const QString& text) {
  panels_[0]->setText(text);
}
