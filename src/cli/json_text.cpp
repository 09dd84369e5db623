#include "cli/json_text.h"

#include <cstdint>
#include <cstdio>

namespace {

/// The length of the valid UTF-8 sequence at the start of `text`; 0 when there is none.
std::size_t Utf8Length(std::string_view text) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  std::size_t n = 0;
  std::uint32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < n) return 0;
  std::uint32_t code = b0 & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) != 0x80) return 0;
    code = (code << 6) | (b & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
      ++i;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
      ++i;
    } else if (const std::size_t n = byte >= 0x80 ? Utf8Length(text.substr(i)) : 0; n > 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
      ++i;
    }
  }
  return out + "\"";
}
