#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

/// A label in the skin's type: `px` pixels high, bold or not, in `colour`.
QLabel* MakeSkinLabel(QWidget* parent, const QString& text, int px, bool bold,
                      const QColor& colour);
