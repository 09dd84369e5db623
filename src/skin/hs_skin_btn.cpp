#include "skin/hs_skin_btn.h"

#include "skin/button_skin.h"
#include "skin/skin_face.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

THSSkinBtn::THSSkinBtn(QWidget* parent) : QWidget(parent), skin_(new TButtonSkin(this)) {
  setFocusPolicy(Qt::StrongFocus);
  connect(skin_, &TButtonSkin::skinChanged, this, &THSSkinBtn::skinChanged);
  connect(skin_, &TButtonSkin::shapeChanged, this, [this] { applyBounds(size()); });
  watchParent();
  applyBounds(QSize(75, 25));
}

void THSSkinBtn::setCaption(const QString& caption) {
  caption_ = caption;
  // "&Stop" answers Alt+S anywhere in its window while it is shown and enabled.
  const QKeySequence key = QKeySequence::mnemonic(caption);
  if (key.isEmpty()) {
    delete accessKey_;
    accessKey_ = nullptr;
  } else {
    if (!accessKey_) {
      accessKey_ = new QShortcut(this);
      connect(accessKey_, &QShortcut::activated, this, [this] {
        if (!isEnabled() || !isVisible()) return;
        setFocus(Qt::ShortcutFocusReason);
        emit clicked();
      });
    }
    accessKey_->setKey(key);
  }
  update();
}

int THSSkinBtn::bandOffset() const {
  return SkinFace::bandOffset(qRound(face_.deviceIndependentSize().height()), isEnabled(), hover_,
                              pressed_);
}

QSize THSSkinBtn::sizeHint() const {
  const QImage& skin = skin_->skin();
  if (skin.isNull()) return QWidget::sizeHint();
  const int textWidth = fontMetrics().horizontalAdvance(caption_) + 24;
  return SkinFace::boundedSize(skin_->ButtonShape(), skin.deviceIndependentSize(),
                               QSize(qMax(75, textWidth), 0));
}

void THSSkinBtn::skinChanged() {
  const int skinHeight = qRound(skin_->skin().deviceIndependentSize().height());
  applyBounds(QSize(width(), (skinHeight - 4) / 4));
}

void THSSkinBtn::applyBounds(QSize asked) {
  const QImage& skin = skin_->skin();
  if (skin.isNull()) return;
  const QSize bounded =
      SkinFace::boundedSize(skin_->ButtonShape(), skin.deviceIndependentSize(), asked);
  if (skin_->ButtonShape() == SkinFace::kShapeEllipse) {
    setFixedSize(bounded);
  } else {
    setMinimumSize(0, bounded.height());
    setMaximumSize(QWIDGETSIZE_MAX, bounded.height());
  }
  resize(bounded);
  // Rebuilt here too: a hidden control gets its resize event only when it is shown.
  rebuildFace();
  updateGeometry();
}

void THSSkinBtn::rebuildFace() {
  if (width() <= 0 || height() <= 0 || !parentWidget()) {
    face_ = QImage();
    return;
  }
  const int shape = skin_->ButtonShape();
  const bool blend =
      shape == SkinFace::kShapeEllipse || shape == SkinFace::kShapeRounded || skin_->isBuiltIn();
  face_ = SkinFace::build(skin_->skin(), width(), shape, blend, parentColor(),
                          palette().color(QPalette::Button));
  update();
}

QColor THSSkinBtn::parentColor() const {
  const QWidget* parent = parentWidget();
  if (!parent) return palette().color(QPalette::Button);
  return parent->palette().color(parent->backgroundRole());
}

void THSSkinBtn::watchParent() {
  if (watchedParent_) watchedParent_->removeEventFilter(this);
  watchedParent_ = parentWidget();
  if (watchedParent_) watchedParent_->installEventFilter(this);
}

bool THSSkinBtn::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange) {
    watchParent();
    rebuildFace();
  }
  return QWidget::event(event);
}

bool THSSkinBtn::eventFilter(QObject* watched, QEvent* event) {
  if (watched == watchedParent_ && event->type() == QEvent::PaletteChange) rebuildFace();
  return QWidget::eventFilter(watched, event);
}

void THSSkinBtn::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  rebuildFace();
}

void THSSkinBtn::paintEvent(QPaintEvent*) {
  if (qRound(face_.deviceIndependentSize().width()) != width()) rebuildFace();
  if (face_.isNull()) return;
  QPainter painter(this);
  const int shape = skin_->ButtonShape();
  const int offset = bandOffset();
  const QPainterPath clip = SkinFace::clipPath(shape, size(), pressed_);
  if (clip.isEmpty()) {
    const qreal ratio = face_.devicePixelRatio();
    painter.drawImage(QRectF(0, 0, width(), height()), face_,
                      QRectF(0, offset * ratio, width() * ratio, height() * ratio));
  } else {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrushOrigin(0, -offset);
    painter.fillPath(clip, QBrush(face_));
  }
  painter.setRenderHint(QPainter::Antialiasing, false);
  if (hasFocus()) {
    // The keyboard's place: a dotted frame inside the face.
    QPen pen(palette().color(QPalette::ButtonText), 1, Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(4, 3, -5, -4));
  }
  if (caption_.isEmpty()) return;
  painter.setFont(font());
  const QRect textRect(0, 1, width(), height() - 3);
  // "&Stop" shows as Stop with its access key underlined.
  const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
  if (isEnabled()) {
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(textRect, flags, caption_);
  } else {
    // Engraved: a highlight one pixel down and right, the shadow on top.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(textRect.translated(1, 1), flags, caption_);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawText(textRect, flags, caption_);
  }
}

void THSSkinBtn::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  hover_ = true;
  update();
}

void THSSkinBtn::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  hover_ = false;
  update();
}

void THSSkinBtn::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    pressed_ = true;
    hover_ = rect().contains(pos);
    update();
  }
  emit mousePressed(event->button(), event->modifiers(), pos);
}

void THSSkinBtn::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  bool clickNow = false;
  if (event->button() == Qt::LeftButton && pressed_) {
    pressed_ = false;
    clickNow = rect().contains(pos);
    update();
  }
  emit mouseReleased(event->button(), event->modifiers(), pos);
  if (clickNow && isEnabled()) emit clicked();
}

void THSSkinBtn::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  // While held the mouse stays with the button, so hover follows the pointer.
  if (pressed_ && hover_ != rect().contains(pos)) {
    hover_ = !hover_;
    update();
  }
  emit mouseMoved(event->buttons(), event->modifiers(), pos);
}

void THSSkinBtn::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
      !event->isAutoRepeat()) {
    if (isEnabled()) emit clicked();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void THSSkinBtn::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void THSSkinBtn::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void THSSkinBtn::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) {
    if (!isEnabled()) pressed_ = false;
    update();
  } else if (event->type() == QEvent::PaletteChange) {
    rebuildFace();
  }
}
