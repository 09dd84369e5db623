#include "skin/ez_rgn_btn.h"

#include <QBitmap>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

TEzRgnBtn::TEzRgnBtn(QWidget* parent) : QWidget(parent), repeat_(new QTimer(this)) {
  repeat_->setInterval(kRepeatInterval);
  connect(repeat_, &QTimer::timeout, this, &TEzRgnBtn::click);
  setFocusPolicy(Qt::StrongFocus);
  resize(15, 15);
}

void TEzRgnBtn::setCaption(const QString& caption) {
  caption_ = caption;
  update();
}

void TEzRgnBtn::setAutoRepeat(bool on) {
  autoRepeat_ = on;
  updateRepeat();
}

void TEzRgnBtn::setPicIdle(const QPixmap& picture) {
  picIdle_ = picture;
  if (cropApplied_) {
    removeCrop();
    applyCrop();
  }
  stateChanged();
}

void TEzRgnBtn::setPicUp(const QPixmap& picture) {
  picUp_ = picture;
  stateChanged();
}

void TEzRgnBtn::setPicDown(const QPixmap& picture) {
  picDown_ = picture;
  stateChanged();
}

void TEzRgnBtn::setPicDsbld(const QPixmap& picture) {
  picDsbld_ = picture;
  stateChanged();
}

void TEzRgnBtn::setPaintMode(TPaintMode mode) {
  paintMode_ = mode;
  if (mode == pmCrop) {
    if (!cropApplied_) applyCrop();
  } else if (cropApplied_) {
    removeCrop();
  }
  stateChanged();
}

void TEzRgnBtn::setImageList(const QList<QPixmap>& images) {
  auto sameImages = [&] {
    if (images.size() != imageList_.size()) return false;
    for (qsizetype i = 0; i < images.size(); ++i)
      if (images[i].cacheKey() != imageList_[i].cacheKey()) return false;
    return true;
  };
  if (sameImages()) return;
  imageList_ = images;
  if (images.isEmpty()) return;
  // Order of the list: idle, hover, pressed, disabled.
  setPicIdle(images[0]);
  if (images.size() > 1) setPicUp(images[1]);
  if (images.size() > 2) setPicDown(images[2]);
  if (images.size() > 3) setPicDsbld(images[3]);
}

QPixmap TEzRgnBtn::currentPicture() const {
  const QPixmap resting = isEnabled() || picDsbld_.isNull() ? picIdle_ : picDsbld_;
  if (isEnabled() && pressed_ && hover_) return picDown_.isNull() ? resting : picDown_;
  if (isEnabled() && hover_ && !pressed_) return picUp_.isNull() ? resting : picUp_;
  return resting;
}

QRegion TEzRgnBtn::clickableRegion() const {
  return cropApplied_ ? crop_ : QRegion(rect());
}

bool TEzRgnBtn::isRepeating() const {
  return repeat_->isActive();
}

namespace {

/// Set (color1) on every pixel whose colour differs from that of pixel (0, 0).
QBitmap keyMask(const QPixmap& picture) {
  QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
  // The outline is cut in the button's own units: a fine (@2x) picture is read at one unit a
  // pixel, taking the pixel at the top left of each unit.
  if (image.devicePixelRatio() != 1.0)
    image = image.scaled(picture.deviceIndependentSize().toSize(), Qt::IgnoreAspectRatio,
                         Qt::FastTransformation);
  // The mask image's colour table maps its key pixels to black, which QBitmap reads as color1.
  return QBitmap::fromImage(image.createMaskFromColor(image.pixel(0, 0), Qt::MaskInColor));
}

}  // namespace

QRegion TEzRgnBtn::cropRegion(const QPixmap& picture) {
  if (picture.isNull()) return {};
  // One mask from the key colour cuts the same outline as removing its pixels one at a time.
  return QRegion(keyMask(picture));
}

void TEzRgnBtn::applyCrop() {
  crop_ = cropRegion(picIdle_);
  cropApplied_ = true;
  if (picIdle_.isNull())
    clearMask();
  else if (crop_.isEmpty())
    setMask(QRegion(-1, -1, 1, 1));  // An all-key picture leaves nothing to click.
  else
    setMask(crop_);
}

void TEzRgnBtn::removeCrop() {
  crop_ = QRegion();
  cropApplied_ = false;
  clearMask();
}

void TEzRgnBtn::click() {
  if (!isEnabled()) return;
  emit clicked();
}

void TEzRgnBtn::stateChanged() {
  const QPixmap picture = currentPicture();
  const QSize units = picture.deviceIndependentSize().toSize();
  if (!picture.isNull() && size() != units) resize(units);
  update();
}

void TEzRgnBtn::updateRepeat() {
  const bool on = autoRepeat_ && hover_ && pressed_ && isEnabled();
  if (on && !repeat_->isActive())
    repeat_->start();
  else if (!on)
    repeat_->stop();
}

void TEzRgnBtn::setHover(bool on) {
  if (hover_ == on) return;
  hover_ = on;
  stateChanged();
  if (on)
    emit mouseEntered();
  else
    emit mouseLeft();
  updateRepeat();
}

void TEzRgnBtn::paintEvent(QPaintEvent*) {
  const QPixmap picture = currentPicture();
  if (picture.isNull()) return;
  QPainter painter(this);
  if (paintMode_ == pmTransparent) {
    QPixmap see = picture;
    see.setMask(keyMask(picture));
    painter.drawPixmap(0, 0, see);
  } else {
    painter.drawPixmap(0, 0, picture);
  }
  if (hasFocus()) {
    // The keyboard's place: a dotted frame inside the picture, light on a dark face.
    const QImage face = picture.toImage();
    const bool dark =
        face.pixelColor(std::min(8, face.width() - 1), face.height() / 2).lightness() < 128;
    painter.setPen(
        QPen(dark ? QColor(Qt::white) : palette().color(QPalette::ButtonText), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(4, 4, -5, -5));
  }
  if (caption_.isEmpty()) return;
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::ButtonText));
  const QFontMetrics metrics(font());
  const int x = qRound(width() / 2.0 - metrics.horizontalAdvance(caption_) / 2.0);
  const int y = qRound(height() / 2.0 - metrics.height() / 2.0);
  painter.drawText(x, y + metrics.ascent(), caption_);
}

void TEzRgnBtn::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
      !event->isAutoRepeat()) {
    click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TEzRgnBtn::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TEzRgnBtn::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void TEzRgnBtn::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  setHover(true);
}

void TEzRgnBtn::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  setHover(false);
}

void TEzRgnBtn::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    pressed_ = true;
    setHover(clickableRegion().contains(pos));
    stateChanged();
  }
  emit mousePressed(event->button(), event->modifiers(), pos);
  updateRepeat();
}

void TEzRgnBtn::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  bool clickNow = false;
  if (event->button() == Qt::LeftButton && pressed_) {
    pressed_ = false;
    clickNow = clickableRegion().contains(pos);
    stateChanged();
  }
  emit mouseReleased(event->button(), event->modifiers(), pos);
  updateRepeat();
  if (clickNow) click();
}

void TEzRgnBtn::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  // While the button is held the mouse stays with this control, so hover follows the pointer.
  if (pressed_) setHover(clickableRegion().contains(pos));
  emit mouseMoved(event->buttons(), event->modifiers(), pos);
}

void TEzRgnBtn::mouseDoubleClickEvent(QMouseEvent* event) {
  // Swallowed: a fast second click is not a second press.
  event->accept();
}

void TEzRgnBtn::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) {
    // A disabled control never sees the release, so forget the press now.
    if (!isEnabled()) pressed_ = false;
    updateRepeat();
    stateChanged();
  }
}
