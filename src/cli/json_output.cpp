#include "cli/json_output.h"

namespace {

/// The length of the valid UTF-8 sequence at the start of `text`; 0 when there is none.
std::size_t Utf8Length(std::string_view text) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  if (b0 < 0x80) return 1;
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

void PutText(Json& object, const std::string& key, std::string_view text) {
  std::string valid;
  bool lossy = false;
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t n = Utf8Length(text.substr(i)); n > 0) {
      valid.append(text.substr(i, n));
      i += n;
    } else {
      valid += "\xEF\xBF\xBD";  // U+FFFD
      lossy = true;
      ++i;
    }
  }
  object[key] = std::move(valid);
  if (!lossy) return;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const char c : text) {
    hex += kHex[static_cast<unsigned char>(c) >> 4];
    hex += kHex[static_cast<unsigned char>(c) & 15];
  }
  object[key + "_bytes"] = std::move(hex);
}

bool WriteJson(const Json& value, std::FILE* out) {
  const std::string text = value.dump();
  return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}
