#include "skin/cool_form.h"

#include "skin/rgn_data.h"

#include <QIODevice>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <QtEndian>

#include <stdexcept>

TCoolForm::TCoolForm(QWidget* form) : QWidget(checkedForm(form)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (form) attachToForm();
}

QWidget* TCoolForm::checkedForm(QWidget* form) {
  if (form && !form->isWindow()) throw std::invalid_argument(kNotOnFormMessage.toStdString());
  return form;
}

QWidget* TCoolForm::form() const {
  QWidget* parent = parentWidget();
  return parent && parent->isWindow() ? parent : nullptr;
}

void TCoolForm::attachToForm() {
  if (watchedForm_) watchedForm_->removeEventFilter(this);
  watchedForm_ = nullptr;
  QWidget* f = form();
  if (!f) {
    // Refused: a CoolForm belongs on a window, never inside another control.
    if (parentWidget()) {
      qWarning("%s", qPrintable(kNotOnFormMessage));
      hide();
    }
    return;
  }
  const bool wasVisible = f->isVisible();
  if (!(f->windowFlags() & Qt::FramelessWindowHint)) {
    f->setWindowFlags(f->windowFlags() | Qt::FramelessWindowHint);
    if (wasVisible) f->show();
  }
  watchedForm_ = f;
  f->installEventFilter(this);
  setGeometry(f->rect());
  lower();
  applyAutoSize();
  applyMask();
}

void TCoolForm::setPicture(const QPixmap& picture) {
  picture_ = picture;
  mask_ = QRegion();
  applyMask();
  applyAutoSize();
  update();
}

void TCoolForm::setMaskRegion(const QRegion& region) {
  mask_ = region;
  applyMask();
}

void TCoolForm::setCenter(bool on) {
  center_ = on;
  update();
}

void TCoolForm::setAutoSize(bool on) {
  autoSize_ = on;
  applyAutoSize();
}

void TCoolForm::applyAutoSize() {
  if (!autoSize_ || picture_.isNull()) return;
  if (QWidget* f = form())
    f->resize(picture_.deviceIndependentSize().toSize());
  else if (!parentWidget())
    resize(picture_.deviceIndependentSize().toSize());
}

void TCoolForm::applyMask() {
  QWidget* f = form();
  if (!f) return;
  if (mask_.isEmpty())
    f->clearMask();
  else
    f->setMask(mask_);
}

void TCoolForm::saveMask2(QIODevice* out) const {
  const QByteArray data = RgnData::fromRegion(mask_);
  char count[4];
  qToLittleEndian<quint32>(quint32(data.size()), count);
  out->write(count, 4);
  out->write(data);
}

bool TCoolForm::loadMask2(QIODevice* in) {
  char count[4];
  if (in->read(count, 4) != 4) return false;
  const quint32 n = qFromLittleEndian<quint32>(count);
  if (n == 0) {
    setMaskRegion(QRegion());
    return true;
  }
  const qint64 limit = RgnData::kHeaderSize + qint64(RgnData::kMaxRects) * RgnData::kRectSize;
  if (n > limit || (!in->isSequential() && n > in->bytesAvailable())) return false;
  const QByteArray data = in->read(n);
  QRegion region;
  if (data.size() != qint64(n) || !RgnData::toRegion(data, &region)) return false;
  setMaskRegion(region);
  return true;
}

bool TCoolForm::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange) attachToForm();
  return QWidget::event(event);
}

bool TCoolForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == watchedForm_ && event->type() == QEvent::Resize) setGeometry(watchedForm_->rect());
  return QWidget::eventFilter(watched, event);
}

void TCoolForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QPoint at(0, 0);
  const QSize units = picture_.deviceIndependentSize().toSize();
  if (center_ && !picture_.isNull())
    at = QPoint((width() - units.width()) / 2, (height() - units.height()) / 2);
  const QRect pictureRect(at, units);
  // Paint what the picture leaves uncovered: the widget is opaque and nothing erases behind it.
  const QRegion uncovered = QRegion(rect()).subtracted(pictureRect);
  for (const QRect& r : uncovered) painter.fillRect(r, palette().color(QPalette::Window));
  if (!picture_.isNull()) painter.drawPixmap(at, picture_);
}

void TCoolForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (pos() != QPoint(0, 0)) move(0, 0);
}

void TCoolForm::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  QWidget* win = window();
  if (QWindow* handle = win->windowHandle(); handle && handle->startSystemMove()) return;
  // No window-manager move here (offscreen, bare X server): move the window by hand.
  manualDrag_ = true;
  dragOffset_ = event->globalPosition().toPoint() - win->frameGeometry().topLeft();
}

void TCoolForm::mouseMoveEvent(QMouseEvent* event) {
  if (manualDrag_ && (event->buttons() & Qt::LeftButton))
    window()->move(event->globalPosition().toPoint() - dragOffset_);
}

void TCoolForm::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) manualDrag_ = false;
}
