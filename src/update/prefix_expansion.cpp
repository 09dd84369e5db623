#include "update/prefix_expansion.h"

#include <filesystem>
#include <system_error>

namespace trawlex::update {
namespace {

std::string WithoutTrailingSeparator(std::string dir) {
  while (dir.size() > 1 && dir.back() == kPathSeparator) dir.pop_back();
  if (dir == std::string(1, kPathSeparator)) dir += '.';
  return dir;
}

}  // namespace

std::string ExpandPrefixText(const std::string& text, const PrefixLookup& lookup) {
  std::string out = text;
  size_t pos = 0;
  while (true) {
    const size_t open = out.find('{', pos);
    if (open == std::string::npos) break;
    const size_t close = out.find('}', open + 1);
    if (close == std::string::npos) break;
    std::string name = out.substr(open + 1, close - open - 1);
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const std::optional<std::string> value = lookup ? lookup(name) : std::nullopt;
    if (value && !value->empty()) {
      out.replace(open, close - open + 1, *value);
      pos = open + value->size();
    } else {
      pos = close + 1;
    }
  }
  return out;
}

std::optional<std::string> PlatformPrefixDirectory(const std::string& upper_name) {
  std::error_code ec;
  if (upper_name == "APP") {
    const auto dir = std::filesystem::current_path(ec);
    if (ec) return std::nullopt;
    return WithoutTrailingSeparator(dir.string());
  }
  if (upper_name == "TMP") {
    const auto dir = std::filesystem::temp_directory_path(ec);
    if (ec) return std::nullopt;
    return WithoutTrailingSeparator(dir.string());
  }
  // "WIN" and "PF" have no counterpart here and stay as they are.
  return std::nullopt;
}

std::string LocalPath(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c == '\\') c = kPathSeparator;
  }
  return out;
}

}  // namespace trawlex::update
