#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRegion>
#include <QWidget>

class QIODevice;

/// A picture that fills its form: the form loses its frame, takes the outline in `Mask` and is
/// dragged by a left-button press anywhere on the picture. Put other controls on top of it.
class TCoolForm : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Draggable READ Draggable WRITE setDraggable)
  Q_PROPERTY(bool Center READ Center WRITE setCenter)
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)

 public:
  /// The message of a refused parent.
  static inline const QString kNotOnFormMessage = QStringLiteral("Drop the CoolForm on a FORM!");

  /// `form` must be a window (or null, to attach later); anything else throws
  /// std::invalid_argument with kNotOnFormMessage.
  explicit TCoolForm(QWidget* form = nullptr);

  [[nodiscard]] QPixmap picture() const { return picture_; }
  /// A new picture drops the current outline, which belonged to the old one.
  void setPicture(const QPixmap& picture);

  /// The form's outline; an empty region leaves the form rectangular.
  [[nodiscard]] QRegion Mask() const { return mask_; }
  void setMaskRegion(const QRegion& region);

  /// Stored with the form; a left-button press drags the window either way.
  [[nodiscard]] bool Draggable() const { return draggable_; }
  void setDraggable(bool on) { draggable_ = on; }

  /// Draw the picture centred rather than at the top left.
  [[nodiscard]] bool Center() const { return center_; }
  void setCenter(bool on);

  /// Size the form to the picture.
  [[nodiscard]] bool AutoSize() const { return autoSize_; }
  void setAutoSize(bool on);

  /// The picture always stays at 0, 0 of its form, whatever is asked.
  void setTop(int) { move(0, 0); }
  void setLeft(int) { move(0, 0); }

  /// The "Mask2" stream: a little-endian 32-bit byte count, then that many bytes of region data.
  void saveMask2(QIODevice* out) const;
  /// A count of 0 makes the form rectangular. Returns false, keeping the current outline, when
  /// the stream is short or the region data is malformed.
  bool loadMask2(QIODevice* in);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  static QWidget* checkedForm(QWidget* form);
  QWidget* form() const;
  void attachToForm();
  void applyMask();
  void applyAutoSize();

  QPixmap picture_;
  QRegion mask_;
  bool draggable_ = true;
  bool center_ = false;
  bool autoSize_ = false;
  /// Set while dragging by hand where the window system cannot move the window itself.
  bool manualDrag_ = false;
  QPoint dragOffset_;
  QWidget* watchedForm_ = nullptr;
};
