#include "recovery/ui/settings_frm.h"

#include "recovery/options.h"
#include "recovery/ui/product_palette.h"
#include "recovery/ui/prompter.h"
#include "skin/hs_skin_btn.h"

#include <QCheckBox>
#include <QGroupBox>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace {

/// Keeps what is typed, in range or not, so that OK can say why a value is refused
/// rather than the box dropping the digits that do not fit.
class LimitSpinBox final : public QSpinBox {
 public:
  using QSpinBox::QSpinBox;
  QValidator::State validate(QString& input, int& pos) const override {
    const QString digits = input.trimmed();
    bool number = false;
    const int value = digits.toInt(&number);
    if (number && (value < minimum() || value > maximum())) return QValidator::Intermediate;
    return QSpinBox::validate(input, pos);
  }
  /// Arrow keys and the wheel replace what was typed.
  void stepBy(int steps) override {
    if (stepped) stepped();
    QSpinBox::stepBy(steps);
  }
  std::function<void()> stepped;
};

}  // namespace

TFrmSettings::TFrmSettings(std::function<std::uint32_t()> limit,
                           std::function<void(std::uint32_t)> setLimit, Prompter& prompter,
                           QWidget* parent)
    : QDialog(parent),
      limit_(std::move(limit)),
      setLimit_(std::move(setLimit)),
      prompter_(prompter) {
  setWindowTitle(QStringLiteral("Settings"));
  setPalette(ProductPalette::page());
  setAutoFillBackground(true);
  setModal(true);
  auto* group = new QGroupBox(QStringLiteral(" Maximum file size "), this);
  auto* row = new QHBoxLayout(group);
  row->addWidget(new QLabel(QStringLiteral("Max file size :"), group));
  auto* spin = new LimitSpinBox(group);
  spin->stepped = [this] { typed_.clear(); };
  speMaxRetry = spin;
  speMaxRetry->setObjectName(QStringLiteral("speMaxRetry"));
  speMaxRetry->setRange(1, 20);
  speMaxRetry->setValue(20);
  row->addWidget(speMaxRetry);
  row->addWidget(new QLabel(QStringLiteral("MB (Megabytes)"), group));
  row->addStretch();
  chkRealEnds = new QCheckBox(QStringLiteral("Check each file and find its real end"), this);
  chkRealEnds->setObjectName(QStringLiteral("chkRealEnds"));
  chkRealEnds->setToolTip(QStringLiteral(
      "Files whose start does not hold up are not listed, and each file is cut where its "
      "format says it ends instead of at the next file found."));
  chkFreeSpace =
      new QCheckBox(QStringLiteral("Search only the free space of the file systems found"), this);
  chkFreeSpace->setObjectName(QStringLiteral("chkFreeSpace"));
  chkFreeSpace->setToolTip(QStringLiteral(
      "The space of files still in use is passed over, so a deleted file written in pieces "
      "between them comes out whole. Space outside the file systems is searched as usual."));
  realEnds_.box = chkRealEnds;
  freeSpace_.box = chkFreeSpace;

  auto* btnOK = new THSSkinBtn(this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setCaption(QStringLiteral("OK"));
  btnOK->resize(80, 25);
  auto* btnCancel = new THSSkinBtn(this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setCaption(QStringLiteral("Cancel"));
  btnCancel->resize(80, 25);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(chkRealEnds);
  layout->addWidget(chkFreeSpace);
  layout->addLayout(buttons);
  setFixedSize(380, 186);
  connect(speMaxRetry->findChild<QLineEdit*>(), &QLineEdit::textEdited, this,
          [this](const QString& text) { typed_ = text; });
  connect(btnOK, &THSSkinBtn::clicked, this, &TFrmSettings::btnOKClick);
  connect(btnCancel, &THSSkinBtn::clicked, this, &TFrmSettings::btnCancelClick);
}

void TFrmSettings::setRealEndsAccess(std::function<bool()> realEnds,
                                     std::function<void(bool)> setRealEnds) {
  realEnds_.get = std::move(realEnds);
  realEnds_.set = std::move(setRealEnds);
}

void TFrmSettings::setFreeSpaceAccess(std::function<bool()> freeSpace,
                                      std::function<void(bool)> setFreeSpace) {
  freeSpace_.get = std::move(freeSpace);
  freeSpace_.set = std::move(setFreeSpace);
}

void TFrmSettings::showEvent(QShowEvent* event) {
  speMaxRetry->setValue(static_cast<int>(limit_()));
  typed_.clear();
  for (const Switch* s : {&realEnds_, &freeSpace_}) {
    s->box->setEnabled(static_cast<bool>(s->get));
    s->box->setChecked(s->get && s->get());
  }
  QDialog::showEvent(event);
}

void TFrmSettings::keyPressEvent(QKeyEvent* event) {
  // Enter is OK wherever the focus is, but on a button, which takes the key itself.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    btnOKClick();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TFrmSettings::btnOKClick() {
  // The box puts its last good value back when it loses the focus or sees Enter; what
  // the user typed is what is judged.
  const QString text = typed_.isEmpty() ? speMaxRetry->text() : typed_;
  const auto value = ParseDecimal(text.trimmed().toStdString());
  if (!value) {
    // The limit stays as it was and the dialog stays open.
    prompter_.error(this, QStringLiteral("'%1' is not a valid integer value").arg(text));
    return;
  }
  if (*value < 1 || *value > 20) {
    prompter_.error(this, QStringLiteral("%1 MB is refused: the maximum file size is 1 to 20 MB.")
                              .arg(text.trimmed()));
    speMaxRetry->setFocus();
    speMaxRetry->selectAll();
    return;
  }
  typed_.clear();
  setLimit_(static_cast<std::uint32_t>(*value));
  for (const Switch* s : {&realEnds_, &freeSpace_})
    if (s->set && s->box->isChecked() != s->get()) s->set(s->box->isChecked());
  accept();
}

void TFrmSettings::btnCancelClick() {
  reject();
}
