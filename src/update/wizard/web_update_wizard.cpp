#include "update/wizard/web_update_wizard.h"

#include <QButtonGroup>
#include <QDialog>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <memory>
#include <stdexcept>

#include "recovery/ui/product_palette.h"
#include "update/web_update.h"
#include "update/wizard/wu_wiz_form.h"

void TWebUpdateWizard::Execute(QWidget* parent) {
  if (!WebUpdate) throw std::runtime_error("No WebUpdate component assigned");
  auto form = std::make_unique<TWUWIZ>(parent);
  form->AttachEngine(WebUpdate);
  form->setWindowTitle(Caption);
  form->Information = Information;
  if (Position == TPosition::poScreenCenter) {
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
      QRect frame = form->frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      form->move(frame.topLeft());
    }
  }
  if (OnFormCreated) OnFormCreated(*form);
  form->exec();
}

bool ShowUpdateTextDialog(QWidget* parent, const trawlex::update::TextDialogContent& content) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QString::fromStdString(content.caption));
  dialog.setPalette(ProductPalette::page());
  dialog.setAutoFillBackground(true);
  dialog.setFixedSize(400, 400);
  auto* memo = new QPlainTextEdit(&dialog);
  memo->setReadOnly(true);
  QStringList lines;
  for (const auto& l : content.text) lines << QString::fromStdString(l);
  memo->setPlainText(lines.join(QLatin1Char('\n')));
  memo->setGeometry(10, 10, 400 - 20, 400 - 60);
  const int below = 10 + memo->height() + 10;
  if (!content.radio) {
    auto* refuse = new QPushButton(QString::fromStdString(content.refuse), &dialog);
    refuse->move(memo->geometry().right() - refuse->width() + 1, below);
    auto* accept = new QPushButton(QString::fromStdString(content.accept), &dialog);
    accept->move(refuse->x() - accept->width() - 10, below);
    QObject::connect(accept, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(refuse, &QPushButton::clicked, &dialog, &QDialog::reject);
    return dialog.exec() == QDialog::Accepted;
  }
  auto* close = new QPushButton(QString::fromStdString(content.close), &dialog);
  close->move(memo->geometry().right() - close->width() + 1, below);
  auto* yes = new QRadioButton(QString::fromStdString(content.accept), &dialog);
  yes->adjustSize();
  yes->move(10, below);
  auto* no = new QRadioButton(QString::fromStdString(content.refuse), &dialog);
  no->adjustSize();
  no->move(yes->x() + yes->width() + 20, below);
  QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
  dialog.exec();
  return yes->isChecked();
}
