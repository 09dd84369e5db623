#include "viewer/hex_dump.h"

#include "viewer/dump_format.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace {

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;

std::optional<DumpKey> dumpKeyFor(int key) {
  switch (key) {
    case Qt::Key_PageUp:
      return DumpKey::kPageUp;
    case Qt::Key_PageDown:
      return DumpKey::kPageDown;
    case Qt::Key_Home:
      return DumpKey::kHome;
    case Qt::Key_End:
      return DumpKey::kEnd;
    case Qt::Key_Up:
      return DumpKey::kUp;
    case Qt::Key_Down:
      return DumpKey::kDown;
    default:
      return std::nullopt;
  }
}

/// A view of one of the row buffers; Qt reads it in place, nothing is copied.
QString rawText(const char16_t* text, int length) {
  return QString::fromRawData(reinterpret_cast<const QChar*>(text), length);
}

}  // namespace

THexDump::THexDump(QWidget* parent) : QAbstractScrollArea(parent) {
  hexBuffer_.fill(static_cast<char16_t>(FormatOf(DumpStyle::kViewer).hex_separator));
  hexOption_.setWrapMode(QTextOption::NoWrap);
  hexOption_.setAlignment(Qt::AlignLeft | Qt::AlignTop);

  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::ClickFocus);
  viewport()->setAutoFillBackground(true);
  setBorder(BorderStyle::Single);
  setColor(Qt::white);

  QScrollBar* bar = verticalScrollBar();
  bar->setSingleStep(1);
  connect(bar, &QScrollBar::valueChanged, this, &THexDump::scrollBarMoved);
  connect(bar, &QScrollBar::actionTriggered, this, &THexDump::scrollBarAction);

  resize(300, 200);
  fontChanged();
}

void THexDump::setDataPointer(const std::uint8_t* data) {
  data_ = data;
  viewport()->update();
}

void THexDump::setDataLength(std::int32_t length) {
  layout_.SetDataLength(length);
  recomputeLayout();
  viewport()->update();
  updateScrollRange();
}

void THexDump::SetCurrentLine(int line) {
  if (line == layout_.CurrentLine()) return;
  scrollToLine(layout_.MoveCurrentLine(line));
}

void THexDump::setBorder(BorderStyle border) {
  border_ = border;
  setFrameStyle(border == BorderStyle::Single ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
  setLineWidth(1);
}

void THexDump::setColor(const QColor& color) {
  color_ = color;
  QPalette palette = viewport()->palette();
  palette.setColor(viewport()->backgroundRole(), color);
  viewport()->setPalette(palette);
  viewport()->update();
}

void THexDump::setShowAddress(bool on) {
  if (on == layout_.ShowAddress()) return;
  layout_.SetShowAddress(on);
  viewport()->update();
}

void THexDump::setShowCharacters(bool on) {
  if (on == layout_.ShowCharacters()) return;
  layout_.SetShowCharacters(on);
  viewport()->update();
}

QColor THexDump::Colors(int index) const {
  return index >= 0 && index < static_cast<int>(colors_.size()) ? colors_[index] : QColor();
}

void THexDump::setColors(int index, const QColor& color) {
  if (index < 0 || index >= static_cast<int>(colors_.size()) || colors_[index] == color) return;
  colors_[index] = color;
  viewport()->update();
}

QSize THexDump::sizeHint() const {
  return QSize(300, 200);
}

void THexDump::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) fontChanged();
}

void THexDump::fontChanged() {
  if (!substitutingFont_ && !QFontDatabase::hasFamily(font().family())) {
    // The face asked for is not installed: use the system's fixed-pitch font, under the name
    // of the face really found so that the test above holds next time.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setFamily(QFontInfo(fixed).family());
    substitutingFont_ = true;
    setFont(fixed);
    substitutingFont_ = false;
  }
  const QFontMetrics metrics(font());
  layout_.SetMetrics(metrics.horizontalAdvance(QLatin1Char('D')), metrics.height() + 2);
  hexOption_.setTabStopDistance(layout_.TabStop());
  recomputeLayout();
  updateScrollRange();
  viewport()->update();
}

void THexDump::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  recomputeLayout();
  updateScrollRange();
}

void THexDump::recomputeLayout() {
  layout_.Recompute(viewport()->width(), viewport()->height());
}

void THexDump::updateScrollRange() {
  QScrollBar* bar = verticalScrollBar();
  const QSignalBlocker blocker(bar);
  bar->setRange(0, std::max(0, layout_.LineCount() - 1));
  bar->setPageStep(std::max(1, layout_.VisibleLines() - 1));
  bar->setValue(layout_.TopLine());
}

void THexDump::scrollToLine(int line) {
  const int oldTop = layout_.TopLine();
  if (!layout_.SetTopLine(line)) return;
  {
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker blocker(bar);
    bar->setValue(layout_.TopLine());
  }
  QWidget* client = viewport();
  const int delta = oldTop - layout_.TopLine();
  if (delta != 1 && delta != -1) {
    client->update();
    return;
  }
  // One line: move the painted rows and draw only what the move leaves behind.
  const OneLineScroll plan = layout_.PlanOneLineScroll(delta, client->height());
  if (plan.moved.height > 0)
    client->scroll(0, plan.dy, QRect(0, plan.moved.top, client->width(), plan.moved.height));
  client->update(QRect(0, plan.repaint.top, client->width(), plan.repaint.height));
}

void THexDump::scrollBarMoved(int value) {
  scrollToLine(value);
}

void THexDump::scrollBarAction(int action) {
  // Jumps to the top or the bottom are not honoured; the keys Home and End do that.
  if (action == QAbstractSlider::SliderToMinimum || action == QAbstractSlider::SliderToMaximum)
    verticalScrollBar()->setSliderPosition(layout_.TopLine());
}

void THexDump::scrollContentsBy(int, int) {
  // scrollToLine has drawn the move already.
}

void THexDump::keyPressEvent(QKeyEvent* event) {
  const std::optional<DumpKey> key = dumpKeyFor(event->key());
  if (!key) {
    QFrame::keyPressEvent(event);
    return;
  }
  event->accept();
  if (HasData()) SetCurrentLine(layout_.KeyTarget(*key));
}

void THexDump::mousePressEvent(QMouseEvent* event) {
  QAbstractScrollArea::mousePressEvent(event);
  event->accept();
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::LeftButton && HasData())
    SetCurrentLine(layout_.LineAtY(event->position().toPoint().y()));
}

int THexDump::fillAddress(int line) {
  char address[kAddressBufferSize];
  const int length =
      std::min(FormatDumpAddress(static_cast<std::uint64_t>(layout_.LineOffset(line)), address),
               FormatOf(DumpStyle::kViewer).address_cells);
  std::copy(address, address + length, addressBuffer_.begin());
  return length;
}

int THexDump::fillHex(int line) {
  const int count = layout_.BytesInLine(line);
  if (count == 0 || data_ == nullptr) return 0;
  WriteHexDigits(data_ + layout_.LineOffset(line), count, hexBuffer_.data());
  // The TAB after the last byte is not drawn.
  return count * 3 - 1;
}

int THexDump::fillCharacters(int line) {
  const int count = layout_.BytesInLine(line);
  if (data_ == nullptr) return 0;
  const std::uint8_t* bytes = data_ + layout_.LineOffset(line);
  std::transform(bytes, bytes + count, charBuffer_.begin(), AnsiGlyph);
  return count;
}

QString THexDump::addressText(int line) {
  return QString(reinterpret_cast<const QChar*>(addressBuffer_.data()), fillAddress(line));
}

QString THexDump::hexText(int line) {
  return QString(reinterpret_cast<const QChar*>(hexBuffer_.data()), fillHex(line));
}

QString THexDump::characterText(int line) {
  return QString(reinterpret_cast<const QChar*>(charBuffer_.data()), fillCharacters(line));
}

void THexDump::paintEvent(QPaintEvent* event) {
  QWidget* client = viewport();
  QPainter painter(client);
  painter.setFont(font());
  const QRect exposed = event->rect();
  const DumpRows rows = layout_.RowsIn(exposed.top(), exposed.bottom() + 1);
  const int width = client->width();
  const int lineHeight = layout_.LineHeight();
  const int addressWidth = layout_.AddressWidth();

  for (int row = rows.first; row <= rows.last; ++row) {
    const int line = layout_.TopLine() + row;
    const int top = row * lineHeight;
    const QRect rowRect(DumpLayout::RowLeft(), top, width, lineHeight);
    if (!HasData() || line >= layout_.LineCount()) {
      painter.fillRect(rowRect, color_);
      continue;
    }
    int left = DumpLayout::RowLeft();
    if (layout_.ShowAddress()) {
      const QRect addressRect(left, top, addressWidth, lineHeight);
      painter.fillRect(addressRect, color_);
      painter.setPen(colors_[kAddressColor]);
      painter.drawText(addressRect, kTextFlags, rawText(addressBuffer_.data(), fillAddress(line)));
      left += addressWidth;
    }
    painter.setPen(colors_[kHexDataColor]);
    painter.drawText(QRectF(left, top, width - left, lineHeight),
                     rawText(hexBuffer_.data(), fillHex(line)), hexOption_);
    if (layout_.ShowCharacters()) {
      const int charLeft = layout_.CharLeft();
      const QRect charRect(charLeft, top, std::max(0, width - charLeft), lineHeight);
      painter.fillRect(charRect, color_);
      painter.setPen(colors_[kAnsiCharColor]);
      painter.drawText(charRect, kTextFlags, rawText(charBuffer_.data(), fillCharacters(line)));
    }
  }
}

THexDump* CreateHexDump(QWidget* owner) {
  auto* dump = new THexDump(owner);
  QFont font = dump->font();
  font.setFamily(QStringLiteral("FixedSys"));
  dump->setFont(font);
  dump->setShowCharacters(true);
  QLayout* layout = owner->layout();
  if (layout == nullptr) {
    layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
  }
  layout->addWidget(dump);
  return dump;
}
