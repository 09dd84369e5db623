#include "skin/frame_outline.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QPainter>

namespace {

class FrameOutline final : public QWidget {
 public:
  explicit FrameOutline(QAbstractScrollArea* view) : QWidget(view), view_(view) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    view->installEventFilter(this);
    setGeometry(view->rect());
    raise();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == view_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show ||
                             event->type() == QEvent::ChildAdded)) {
      setGeometry(view_->rect());
      raise();
    }
    return QWidget::eventFilter(watched, event);
  }

  void paintEvent(QPaintEvent*) override {
    if (view_->frameShape() == QFrame::NoFrame) return;
    QPainter painter(this);
    // The frame's own colour in the product's style: the window colour, darkened.
    QPen pen(palette().color(QPalette::Window).darker(140));
    pen.setCosmetic(true);  // one device pixel at any scale
    painter.setPen(pen);
    const qreal inset = 0.5 / devicePixelRatioF();
    painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
  }

 private:
  QAbstractScrollArea* view_;
};

}  // namespace

void KeepFrameOutline(QAbstractScrollArea* view) {
  if (view) new FrameOutline(view);
}
