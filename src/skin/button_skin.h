#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <functional>

/// The skin of a THSSkinBtn: its shape and the four-band bitmap it is drawn from.
class TButtonSkin : public QObject {
  Q_OBJECT
  Q_PROPERTY(int ButtonShape READ ButtonShape WRITE setButtonShape)
  Q_PROPERTY(QString SkinBitmap READ SkinBitmap)

 public:
  /// The built-in skin, used while SkinBitmap is empty.
  static inline const QString kDefaultSkin = QStringLiteral(":/skin/DEFAULT_SKIN");
  static inline const QString kInvalidSkinMessage =
      QStringLiteral("Bitmap is not valid skin bitmap");

  /// Where refusal messages go; an empty handler restores the message box.
  using MessageHandler = std::function<void(const QString&)>;
  static void setMessageHandler(MessageHandler handler);

  explicit TButtonSkin(QObject* parent = nullptr);

  /// 0 rectangular, 1 elliptic, 2 rounded rectangle; other values are ignored.
  [[nodiscard]] int ButtonShape() const { return shape_; }
  void setButtonShape(int shape);

  /// File name of the skin, empty for the built-in one.
  [[nodiscard]] QString SkinBitmap() const { return fileName_; }
  /// Accepts a file that loads, is not empty and is a multiple of 4 rows high; otherwise reports
  /// kInvalidSkinMessage, keeps the previous skin and returns false.
  bool setSkinBitmap(const QString& fileName);

  [[nodiscard]] const QImage& skin() const { return skin_; }
  [[nodiscard]] bool isBuiltIn() const { return fileName_.isEmpty(); }

  /// True when `image` can serve as a four-band skin.
  [[nodiscard]] static bool isValidSkin(const QImage& image);

 signals:
  void skinChanged();
  void shapeChanged();

 private:
  int shape_ = 0;
  QString fileName_;
  QImage skin_;
};
