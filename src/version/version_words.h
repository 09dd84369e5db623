#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trawlex::version {

/// A version as a version resource keeps it: a.b.c.d packed as a*65536+b and c*65536+d.
struct VersionWords {
  int32_t ms = -1;
  int32_t ls = -1;
  [[nodiscard]] bool IsVersion() const { return ms != -1 && ls != -1; }
  bool operator==(const VersionWords&) const = default;
};

/// The pieces of `text` between each `separator`; an empty text gives one empty piece.
[[nodiscard]] std::vector<std::string> SplitText(const std::string& text, char separator);

/// Four numbers separated by "." (or "," when the text holds a comma); missing words are -1.
[[nodiscard]] VersionWords ParseVersionText(const std::string& text);
/// "a.b.c.d" from the halves of both words.
[[nodiscard]] std::string FormatVersionWords(VersionWords words);

}  // namespace trawlex::version
