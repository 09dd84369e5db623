#include "update/szdd_writer.h"

#include <algorithm>
#include <array>

namespace trawlex::update::testing {

std::vector<uint8_t> SzddCompress(const std::vector<uint8_t>& data, char missing_char) {
  constexpr size_t kWindow = 4096;
  constexpr size_t kMaxMatch = 18;
  std::vector<uint8_t> out = {'S',  'Z',  'D',  'D', 0x88,
                              0xF0, 0x27, 0x33, 'A', static_cast<uint8_t>(missing_char)};
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(data.size() >> (8 * i)));

  // The window starts filled with blanks and the writing position at 4096 - 16.
  std::array<uint8_t, kWindow> window;
  window.fill(' ');
  size_t wpos = kWindow - 16;
  size_t i = 0;
  while (i < data.size()) {
    const size_t control_at = out.size();
    out.push_back(0);
    for (int bit = 0; bit < 8 && i < data.size(); ++bit) {
      // Longest match in the window; a match may not reach into bytes not yet written.
      size_t best_len = 0, best_pos = 0;
      const size_t limit = std::min(kMaxMatch, data.size() - i);
      for (size_t back = 1; back <= kWindow - kMaxMatch; ++back) {
        const size_t start = (wpos + kWindow - back) % kWindow;
        size_t len = 0;
        while (len < limit && len < back && window[(start + len) % kWindow] == data[i + len]) ++len;
        if (len > best_len) {
          best_len = len;
          best_pos = start;
        }
      }
      size_t take;
      if (best_len >= 3) {
        out.push_back(static_cast<uint8_t>(best_pos & 0xFF));
        out.push_back(static_cast<uint8_t>(((best_pos >> 4) & 0xF0) | (best_len - 3)));
        take = best_len;
      } else {
        out[control_at] |= static_cast<uint8_t>(1 << bit);
        out.push_back(data[i]);
        take = 1;
      }
      for (size_t k = 0; k < take; ++k) {
        window[wpos] = data[i++];
        wpos = (wpos + 1) % kWindow;
      }
    }
  }
  return out;
}

}  // namespace trawlex::update::testing
