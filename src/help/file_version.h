#pragma once

#include <cstdint>
#include <string>

namespace trawlex::help {

/// A file version as four unsigned 16-bit numbers and its text "major.minor.release.build";
/// all empty or 0 when the file has none.
struct FileVersion {
  std::string text;
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t release = 0;
  uint16_t build = 0;

  [[nodiscard]] bool empty() const { return text.empty(); }
};

/// A version of the four numbers, with its text.
[[nodiscard]] FileVersion MakeFileVersion(uint16_t major, uint16_t minor, uint16_t release,
                                          uint16_t build);

/// The file version of `path`: from its version block (Windows and this project's ELF
/// programs), else, for a shared library without one, from the numbers after ".so." in its
/// real name (libchm.so.1 naming libchm.so.1.0.0 gives 1.0.0.0). Empty when neither is found.
[[nodiscard]] FileVersion ReadFileVersion(const std::string& path);

/// -1, 0 or +1 as `a` is lower than, equal to or greater than `b`, number by number.
[[nodiscard]] int CompareFileVersions(const FileVersion& a, const FileVersion& b);

/// The help engine's release name for its file version (`_hhFriendlyVerStr`).
[[nodiscard]] std::string HelpEngineFriendlyVersion(const FileVersion& version);

/// Early browser components kept their build number in the release place: 4.70.0.1155 is
/// 4.70.1155.0. Any other version is returned as it is.
[[nodiscard]] FileVersion AdjustBrowserComponentVersion(FileVersion version);
/// The browser's release name for its (adjusted) component version (`_ieFriendlyVerStr`).
[[nodiscard]] std::string BrowserFriendlyVersion(const FileVersion& version);

}  // namespace trawlex::help
