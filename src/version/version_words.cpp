#include "version/version_words.h"

#include <optional>
#include <vector>

namespace trawlex::version {

std::vector<std::string> SplitText(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

namespace {

/// Unsigned decimal of one to five digits, blanks around it allowed.
std::optional<uint32_t> ParseNumber(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  const std::string t = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  if (t.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

}  // namespace

VersionWords ParseVersionText(const std::string& text) {
  const char separator = text.find(',') != std::string::npos ? ',' : '.';
  const std::vector<std::string> parts = SplitText(text, separator);
  VersionWords words;
  // Each word needs both of its numbers; a missing or bad one leaves that word at -1.
  auto word = [&](size_t hi) -> int32_t {
    if (parts.size() < hi + 2) return -1;
    const auto a = ParseNumber(parts[hi]);
    const auto b = ParseNumber(parts[hi + 1]);
    if (!a || !b || *a > 0xFFFF || *b > 0xFFFF) return -1;
    return static_cast<int32_t>((*a << 16) | *b);
  };
  words.ms = word(0);
  words.ls = parts.size() == 4 ? word(2) : -1;  // "1.2.3.4.5" leaves "4.5" as the last number
  return words;
}

std::string FormatVersionWords(VersionWords words) {
  const auto ms = static_cast<uint32_t>(words.ms);
  const auto ls = static_cast<uint32_t>(words.ls);
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

}  // namespace trawlex::version
