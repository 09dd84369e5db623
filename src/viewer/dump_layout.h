#pragma once

#include <cstdint>

/// The navigation keys of a hex dump.
enum class DumpKey { kPageUp, kPageDown, kHome, kEnd, kUp, kDown };

/// A horizontal band of the client area, in pixels.
struct DumpBand {
  int top = 0;
  int height = 0;
};

/// How a one-line scroll is drawn: the band moved by `dy` pixels, then one row repainted.
struct OneLineScroll {
  DumpBand moved;
  int dy = 0;
  DumpBand repaint;
};

/// The rows [first, last] of the client area that a paint has to draw; empty when last < first.
struct DumpRows {
  int first = 0;
  int last = -1;
};

/// The geometry and navigation of a hex dump: how many bytes fit a line, how many lines the
/// data and the client area hold, which line is on top and which is the cursor line, and
/// where each column starts. No drawing and no toolkit; the control asks it everything.
class DumpLayout {
 public:
  /// Characters of the address column reserved in the layout and painted.
  static constexpr int kAddressReservedCells = 10;
  static constexpr int kAddressPaintedCells = 5;
  static constexpr int kMaxBytesPerLine = 16;

  /// Measured from the font really used; the layout is recomputed by Recompute.
  void SetMetrics(int char_width, int line_height) {
    char_width_ = char_width;
    line_height_ = line_height;
  }
  /// Affects painting at once and the layout at the next Recompute.
  void SetShowAddress(bool on) { show_address_ = on; }
  void SetShowCharacters(bool on) { show_characters_ = on; }
  /// A negative length counts as no data.
  void SetDataLength(std::int32_t length) { data_length_ = length < 0 ? 0 : length; }

  /// VisibleLines from the height, BytesPerLine (1..16) from the width, LineCount from the
  /// data. Does nothing while the line height is below 1.
  void Recompute(int client_width, int client_height);

  [[nodiscard]] int CharWidth() const { return char_width_; }
  [[nodiscard]] int LineHeight() const { return line_height_; }
  [[nodiscard]] bool ShowAddress() const { return show_address_; }
  [[nodiscard]] bool ShowCharacters() const { return show_characters_; }
  [[nodiscard]] std::int32_t DataLength() const { return data_length_; }
  [[nodiscard]] int VisibleLines() const { return visible_lines_; }
  [[nodiscard]] int BytesPerLine() const { return bytes_per_line_; }
  [[nodiscard]] int LineCount() const { return line_count_; }
  [[nodiscard]] int TopLine() const { return top_line_; }
  [[nodiscard]] int CurrentLine() const { return current_line_; }

  /// Below 0 becomes 0, at or past LineCount becomes the last line (never below 0).
  [[nodiscard]] int ClampLine(int line) const;

  /// Clamps and stores a new top line; false when it equals the old one.
  bool SetTopLine(int line);
  /// Clamps and stores the cursor line and returns the top line that keeps it in view: the
  /// line itself when above the view, the line as the last fully visible row when below it,
  /// else the current top line. Returns TopLine() unchanged when `line` is the cursor line.
  int MoveCurrentLine(int line);

  /// The line a key asks for before clamping.
  [[nodiscard]] int KeyTarget(DumpKey key) const;
  /// The line under client position `y`, before clamping.
  [[nodiscard]] int LineAtY(int y) const;
  /// Bytes on `line`: BytesPerLine, or the remainder on a short last line.
  [[nodiscard]] int BytesInLine(int line) const;
  /// Byte offset of the first byte on `line`.
  [[nodiscard]] std::int64_t LineOffset(int line) const {
    return static_cast<std::int64_t>(line) * bytes_per_line_;
  }

  /// Painted width of the address column (0 when hidden).
  [[nodiscard]] int AddressWidth() const;
  /// Left edge of every row, of the hex text and of the character text.
  [[nodiscard]] static constexpr int RowLeft() { return 1; }
  [[nodiscard]] int HexLeft() const { return RowLeft() + AddressWidth(); }
  [[nodiscard]] int CharLeft() const { return bytes_per_line_ * 3 * char_width_ + AddressWidth(); }
  /// Distance of the tab stops that put every byte on a three-cell grid.
  [[nodiscard]] int TabStop() const { return 3 * char_width_; }

  /// The rows that meet the band [top, bottom) of the client area.
  [[nodiscard]] DumpRows RowsIn(int top, int bottom) const;
  /// The move and repaint of a scroll by `delta` (old top - new top) of +1 or -1.
  [[nodiscard]] OneLineScroll PlanOneLineScroll(int delta, int client_height) const;

 private:
  int char_width_ = 0;
  int line_height_ = 0;
  bool show_address_ = true;
  bool show_characters_ = true;
  std::int32_t data_length_ = 0;
  int visible_lines_ = 0;
  int bytes_per_line_ = 1;
  int line_count_ = 0;
  int top_line_ = 0;
  int current_line_ = 0;
};
