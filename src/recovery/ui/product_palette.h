#pragma once

#include <QColor>
#include <QPalette>

/// The colours of the product's pages and dialogs: ink on white, teal for highlights.
namespace ProductPalette {

inline constexpr QColor kInk{0x1B, 0x2B, 0x3A};
inline constexpr QColor kMuted{0x5B, 0x6B, 0x7A};
inline constexpr QColor kTeal{0x0B, 0x7C, 0x8F};

inline QPalette page() {
  QPalette pal;
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, kInk);
  pal.setColor(QPalette::ButtonText, kInk);
  pal.setColor(QPalette::Text, kInk);
  pal.setColor(QPalette::Highlight, kTeal);
  return pal;
}

}  // namespace ProductPalette
