#include "recovery/format_size.h"

#include <charconv>

std::string FormatFileSize(std::uint64_t n, char decimal_point) {
  if (n < 1024) return std::to_string(n) + " Bytes";
  const char* unit = " KB";
  double value = static_cast<double>(n) / 1024.0;
  if (n >= 1073741824ULL) {
    unit = " GB";
    value = static_cast<double>(n) / 1073741824.0;
  } else if (n >= 1048576ULL) {
    unit = " MB";
    value = static_cast<double>(n) / 1048576.0;
  }
  // to_chars ignores the process locale; the user's separator is put in afterwards.
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2).ptr;
  std::string result(text, end);
  result[result.size() - 3] = decimal_point;
  return result + unit;
}
