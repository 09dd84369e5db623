#pragma once

#include <QImage>
#include <QWidget>

class TButtonSkin;

/// A push button drawn from a four-band skin stretched to any width, with its caption on top.
/// Its height follows the skin; the corners of the skin blend into the parent's colour.
class QShortcut;

class THSSkinBtn : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
  Q_PROPERTY(bool MouseEnter READ MouseEnter WRITE setMouseEnter)

 public:
  explicit THSSkinBtn(QWidget* parent = nullptr);

  [[nodiscard]] TButtonSkin* ButtonSkin() const { return skin_; }

  [[nodiscard]] QString Caption() const { return caption_; }
  void setCaption(const QString& caption);

  /// Stored only.
  [[nodiscard]] bool MouseEnter() const { return mouseEnter_; }
  void setMouseEnter(bool on) { mouseEnter_ = on; }

  /// The composed face: the control's width by the skin's height, all four bands.
  [[nodiscard]] const QImage& face() const { return face_; }
  /// How far up the face is drawn for the current state.
  [[nodiscard]] int bandOffset() const;
  [[nodiscard]] bool isHovered() const { return hover_; }
  [[nodiscard]] bool isPressed() const { return pressed_; }

  [[nodiscard]] QSize sizeHint() const override;

 signals:
  void clicked();
  void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, const QPoint& pos);
  void mouseReleased(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, const QPoint& pos);
  void mouseMoved(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, const QPoint& pos);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  /// Space, Enter and Return press a focused button.
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void skinChanged();
  void applyBounds(QSize asked);
  void rebuildFace();
  void watchParent();
  [[nodiscard]] QColor parentColor() const;

  TButtonSkin* skin_;
  QString caption_;
  QShortcut* accessKey_ = nullptr;  ///< Alt and the caption's "&" letter
  bool mouseEnter_ = false;
  bool hover_ = false;
  bool pressed_ = false;
  QImage face_;
  QWidget* watchedParent_ = nullptr;
};
