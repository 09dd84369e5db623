#include "skin/button_skin.h"

#include "skin/skin_art.h"

#include <QApplication>
#include <QMessageBox>

namespace {

TButtonSkin::MessageHandler& messageHandler() {
  static TButtonSkin::MessageHandler handler;
  return handler;
}

void report(const QString& message) {
  if (messageHandler())
    messageHandler()(message);
  else
    QMessageBox::warning(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                         message);
}

}  // namespace

void TButtonSkin::setMessageHandler(MessageHandler handler) {
  messageHandler() = std::move(handler);
}

TButtonSkin::TButtonSkin(QObject* parent) : QObject(parent) {
  skin_ = SkinArt::picture(kDefaultSkin).convertToFormat(QImage::Format_RGB32);
}

void TButtonSkin::setButtonShape(int shape) {
  if (shape < 0 || shape > 2 || shape == shape_) return;
  shape_ = shape;
  emit shapeChanged();
}

bool TButtonSkin::isValidSkin(const QImage& image) {
  return !image.isNull() && image.width() > 0 && image.height() > 0 && image.height() % 4 == 0;
}

bool TButtonSkin::setSkinBitmap(const QString& fileName) {
  const QImage loaded = fileName.isEmpty() ? SkinArt::picture(kDefaultSkin) : QImage(fileName);
  if (!fileName.isEmpty() && !isValidSkin(loaded)) {
    report(kInvalidSkinMessage);
    return false;
  }
  fileName_ = fileName;
  skin_ = loaded.convertToFormat(QImage::Format_RGB32);
  emit skinChanged();
  return true;
}
