#include "viewer/dump_layout.h"

#include <algorithm>

void DumpLayout::Recompute(int client_width, int client_height) {
  if (line_height_ < 1) return;
  visible_lines_ = std::max(client_height, 0) / line_height_ + 1;
  int columns = char_width_ > 0 ? std::max(client_width, 0) / char_width_ : 0;
  if (show_address_) columns -= kAddressReservedCells;
  bytes_per_line_ = std::clamp(show_characters_ ? columns / 4 : columns / 3, 1, kMaxBytesPerLine);
  line_count_ = data_length_ / bytes_per_line_ + (data_length_ % bytes_per_line_ != 0 ? 1 : 0);
}

int DumpLayout::ClampLine(int line) const {
  if (line >= line_count_) line = line_count_ - 1;
  return std::max(line, 0);
}

bool DumpLayout::SetTopLine(int line) {
  line = ClampLine(line);
  if (line == top_line_) return false;
  top_line_ = line;
  return true;
}

int DumpLayout::MoveCurrentLine(int line) {
  if (line == current_line_) return top_line_;
  current_line_ = ClampLine(line);
  if (top_line_ > current_line_) return current_line_;
  if (current_line_ >= top_line_ + visible_lines_ - 1) return current_line_ - visible_lines_ + 2;
  return top_line_;
}

int DumpLayout::KeyTarget(DumpKey key) const {
  switch (key) {
    case DumpKey::kPageUp:
      return current_line_ - visible_lines_;
    case DumpKey::kPageDown:
      return current_line_ + visible_lines_;
    case DumpKey::kHome:
      return 0;
    case DumpKey::kEnd:
      return line_count_ - 1;
    case DumpKey::kUp:
      return current_line_ - 1;
    case DumpKey::kDown:
      return current_line_ + 1;
  }
  return current_line_;
}

int DumpLayout::LineAtY(int y) const {
  return line_height_ > 0 ? top_line_ + y / line_height_ : top_line_;
}

int DumpLayout::BytesInLine(int line) const {
  if (line < 0 || line >= line_count_) return 0;
  const int remainder = data_length_ % bytes_per_line_;
  return line == line_count_ - 1 && remainder > 0 ? remainder : bytes_per_line_;
}

int DumpLayout::AddressWidth() const {
  return show_address_ ? kAddressPaintedCells * char_width_ : 0;
}

DumpRows DumpLayout::RowsIn(int top, int bottom) const {
  if (line_height_ < 1 || bottom <= top || visible_lines_ < 1) return {};
  const int first = std::max(top, 0) / line_height_;
  const int last = std::min((bottom - 1) / line_height_, visible_lines_ - 1);
  return {first, last};
}

OneLineScroll DumpLayout::PlanOneLineScroll(int delta, int client_height) const {
  OneLineScroll plan;
  plan.moved.height = client_height - line_height_;
  plan.dy = delta * line_height_;
  if (delta > 0) {
    // The rows below the first move down one line; the first two rows are drawn afresh.
    plan.moved.top = line_height_;
    plan.repaint = {0, line_height_};
  } else {
    plan.moved.top = 0;
    plan.repaint = {client_height - line_height_, line_height_};
  }
  return plan;
}
