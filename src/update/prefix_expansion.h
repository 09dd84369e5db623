#pragma once

#include <functional>
#include <optional>
#include <string>

namespace trawlex::update {

/// Gives the text for an upper-cased prefix name, or nothing to leave "{name}" in place.
using PrefixLookup = std::function<std::optional<std::string>(const std::string& upper_name)>;

/// Replaces every "{name}" by `lookup`'s text. Braces do not nest, and inserted text is not
/// scanned again, so a directory whose name holds braces is taken literally.
[[nodiscard]] std::string ExpandPrefixText(const std::string& text, const PrefixLookup& lookup);

/// The platform's directory for "WIN", "APP", "TMP" or "PF", without a trailing separator
/// (the root is "/."); nothing for a name this platform has no directory for.
[[nodiscard]] std::optional<std::string> PlatformPrefixDirectory(const std::string& upper_name);

/// Turns the backslashes of a control file's local path into this platform's separator.
[[nodiscard]] std::string LocalPath(const std::string& path);

/// This platform's directory separator.
inline constexpr char kPathSeparator = '/';

}  // namespace trawlex::update
