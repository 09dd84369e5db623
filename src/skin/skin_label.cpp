#include "skin/skin_label.h"

#include <QLabel>

QLabel* MakeSkinLabel(QWidget* parent, const QString& text, int px, bool bold,
                      const QColor& colour) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPixelSize(px);
  font.setBold(bold);
  label->setFont(font);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, colour);
  label->setPalette(pal);
  return label;
}
