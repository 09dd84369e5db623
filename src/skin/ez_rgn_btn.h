#pragma once

#include <QList>
#include <QPixmap>
#include <QRegion>
#include <QWidget>

class QTimer;

/// A bitmap button: idle, hover, pressed and disabled pictures, a caption centred over them and,
/// in crop mode, an outline cut from the idle picture. The control takes the size of the picture
/// it shows.
class TEzRgnBtn : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
  Q_PROPERTY(bool AutoRepeat READ AutoRepeat WRITE setAutoRepeat)
  Q_PROPERTY(TPaintMode PaintMode READ PaintMode WRITE setPaintMode)

 public:
  enum TPaintMode { pmNormal, pmCrop, pmTransparent };
  Q_ENUM(TPaintMode)

  /// Auto-repeat period while the button is held with the pointer over it.
  static constexpr int kRepeatInterval = 300;

  explicit TEzRgnBtn(QWidget* parent = nullptr);

  [[nodiscard]] QString Caption() const { return caption_; }
  void setCaption(const QString& caption);

  [[nodiscard]] bool AutoRepeat() const { return autoRepeat_; }
  void setAutoRepeat(bool on);

  [[nodiscard]] bool Disabled() const { return !isEnabled(); }

  [[nodiscard]] QPixmap PicIdle() const { return picIdle_; }
  [[nodiscard]] QPixmap PicUp() const { return picUp_; }
  [[nodiscard]] QPixmap PicDown() const { return picDown_; }
  [[nodiscard]] QPixmap PicDsbld() const { return picDsbld_; }
  /// In crop mode a new idle picture also recuts the outline.
  void setPicIdle(const QPixmap& picture);
  void setPicUp(const QPixmap& picture);
  void setPicDown(const QPixmap& picture);
  void setPicDsbld(const QPixmap& picture);

  [[nodiscard]] TPaintMode PaintMode() const { return paintMode_; }
  void setPaintMode(TPaintMode mode);

  /// Images 0 to 3 become PicIdle, PicUp, PicDown and PicDsbld when a different, non-empty
  /// list is assigned; an empty list changes no picture.
  [[nodiscard]] QList<QPixmap> ImageList() const { return imageList_; }
  void setImageList(const QList<QPixmap>& images);

  /// The picture the current state shows (may be null: then nothing is drawn).
  [[nodiscard]] QPixmap currentPicture() const;
  /// The area that takes the mouse: the crop outline while one is applied, else the whole control.
  [[nodiscard]] QRegion clickableRegion() const;
  [[nodiscard]] bool isCropApplied() const { return cropApplied_; }
  [[nodiscard]] bool isHovered() const { return hover_; }
  [[nodiscard]] bool isPressed() const { return pressed_; }
  [[nodiscard]] bool isRepeating() const;

  /// Every pixel of `picture` except those of the colour at (0, 0).
  [[nodiscard]] static QRegion cropRegion(const QPixmap& picture);

 public slots:
  /// Emits clicked() unless the button is disabled.
  void click();

 signals:
  void clicked();
  void mouseEntered();
  void mouseLeft();
  void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, const QPoint& pos);
  void mouseReleased(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, const QPoint& pos);
  void mouseMoved(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, const QPoint& pos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  /// Space, Enter and Return press a focused button.
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void setHover(bool on);
  void stateChanged();
  void updateRepeat();
  void applyCrop();
  void removeCrop();

  QString caption_;
  bool autoRepeat_ = false;
  QPixmap picIdle_, picUp_, picDown_, picDsbld_;
  TPaintMode paintMode_ = pmNormal;
  QList<QPixmap> imageList_;
  bool hover_ = false;
  bool pressed_ = false;
  bool cropApplied_ = false;
  QRegion crop_;
  QTimer* repeat_ = nullptr;
};
