#pragma once

#include "viewer/dump_layout.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QTextOption>

#include <array>
#include <cstdint>

/// A hex dump of bytes it does not own: per row an address, the bytes in hex and the same
/// bytes as characters, with a vertical scroll bar of its own. The owner hands it a pointer
/// and a length; the geometry and navigation sit in DumpLayout.
class THexDump : public QAbstractScrollArea {
  Q_OBJECT
  Q_PROPERTY(BorderStyle Border READ Border WRITE setBorder)
  Q_PROPERTY(QColor Color READ Color WRITE setColor)
  Q_PROPERTY(bool ShowAddress READ ShowAddress WRITE setShowAddress)
  Q_PROPERTY(bool ShowCharacters READ ShowCharacters WRITE setShowCharacters)
  Q_PROPERTY(QColor AddressColor READ AddressColor WRITE setAddressColor)
  Q_PROPERTY(QColor HexDataColor READ HexDataColor WRITE setHexDataColor)
  Q_PROPERTY(QColor AnsiCharColor READ AnsiCharColor WRITE setAnsiCharColor)

 public:
  enum class BorderStyle { None, Single };
  Q_ENUM(BorderStyle)

  /// Indexes of Colors: address text, hex text, character text.
  enum ColorIndex { kAddressColor = 0, kHexDataColor = 1, kAnsiCharColor = 2 };

  explicit THexDump(QWidget* parent = nullptr);

  /// First byte shown; null means no data. Repaints; the view position stays.
  [[nodiscard]] const std::uint8_t* DataPointer() const { return data_; }
  void setDataPointer(const std::uint8_t* data);
  [[nodiscard]] bool HasData() const { return data_ != nullptr; }
  /// Number of bytes shown. Recomputes the layout and the scroll range; the view position stays.
  [[nodiscard]] std::int32_t DataLength() const { return layout_.DataLength(); }
  void setDataLength(std::int32_t length);

  /// Moves the keyboard cursor line (clamped to the data) and scrolls it into view.
  void SetCurrentLine(int line);

  [[nodiscard]] int TopLine() const { return layout_.TopLine(); }
  [[nodiscard]] int CurrentLine() const { return layout_.CurrentLine(); }
  [[nodiscard]] int VisibleLines() const { return layout_.VisibleLines(); }
  [[nodiscard]] int LineCount() const { return layout_.LineCount(); }
  [[nodiscard]] int BytesPerLine() const { return layout_.BytesPerLine(); }
  [[nodiscard]] int LineHeight() const { return layout_.LineHeight(); }
  [[nodiscard]] int CharWidth() const { return layout_.CharWidth(); }
  [[nodiscard]] const DumpLayout& layout() const { return layout_; }

  [[nodiscard]] BorderStyle Border() const { return border_; }
  void setBorder(BorderStyle border);
  /// Background of every row.
  [[nodiscard]] QColor Color() const { return color_; }
  void setColor(const QColor& color);
  [[nodiscard]] bool ShowAddress() const { return layout_.ShowAddress(); }
  void setShowAddress(bool on);
  [[nodiscard]] bool ShowCharacters() const { return layout_.ShowCharacters(); }
  void setShowCharacters(bool on);

  [[nodiscard]] QColor Colors(int index) const;
  void setColors(int index, const QColor& color);
  [[nodiscard]] QColor AddressColor() const { return Colors(kAddressColor); }
  void setAddressColor(const QColor& c) { setColors(kAddressColor, c); }
  [[nodiscard]] QColor HexDataColor() const { return Colors(kHexDataColor); }
  void setHexDataColor(const QColor& c) { setColors(kHexDataColor, c); }
  [[nodiscard]] QColor AnsiCharColor() const { return Colors(kAnsiCharColor); }
  void setAnsiCharColor(const QColor& c) { setColors(kAnsiCharColor, c); }

  /// The text drawn in a row's address column, hex column and character column, as painted.
  [[nodiscard]] QString addressText(int line);
  [[nodiscard]] QString hexText(int line);
  [[nodiscard]] QString characterText(int line);

  [[nodiscard]] QSize sizeHint() const override;

 protected:
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void fontChanged();
  void recomputeLayout();
  void updateScrollRange();
  void scrollToLine(int line);
  void scrollBarMoved(int value);
  void scrollBarAction(int action);
  /// Fill the row buffers for `line`; each returns the number of characters to draw.
  int fillAddress(int line);
  int fillHex(int line);
  int fillCharacters(int line);

  DumpLayout layout_;
  const std::uint8_t* data_ = nullptr;
  BorderStyle border_ = BorderStyle::Single;
  QColor color_ = Qt::white;
  std::array<QColor, 3> colors_{QColor(Qt::black), QColor(Qt::black), QColor(Qt::black)};
  bool substitutingFont_ = false;
  QTextOption hexOption_;
  /// Row buffers, reused for every row: no allocation per row or per paint. The hex buffer
  /// holds a TAB after every byte's two digits, put there once.
  std::array<char16_t, 3 * DumpLayout::kMaxBytesPerLine> hexBuffer_;
  std::array<char16_t, 20> addressBuffer_{};
  std::array<char16_t, DumpLayout::kMaxBytesPerLine> charBuffer_{};
};

/// A dump owned by `owner` and filling its client area, asking for the "FixedSys" font.
THexDump* CreateHexDump(QWidget* owner);
