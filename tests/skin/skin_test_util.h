#pragma once

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

/// Mouse events sent straight to a widget, as the window system would deliver them.
namespace SkinTest {

inline void enter(QWidget* w, QPoint at = {1, 1}) {
  QEnterEvent e(at, at, w->mapToGlobal(QPointF(at)));
  QApplication::sendEvent(w, &e);
}

inline void leave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(w, &e);
}

inline void mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
                  Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

inline void press(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  mouse(w, QEvent::MouseButtonPress, at, button, button);
}

inline void release(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  mouse(w, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

inline void moveHeld(QWidget* w, QPoint at) {
  mouse(w, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
}

inline void doubleClick(QWidget* w, QPoint at) {
  mouse(w, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
}

/// A picture of one colour.
inline QPixmap solid(QSize size, QColor colour) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(colour);
  return QPixmap::fromImage(image);
}

}  // namespace SkinTest
