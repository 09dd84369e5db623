#include "help/file_version.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <tuple>
#include <vector>

#include "version/version_info.h"

namespace trawlex::help {
namespace {

/// Version numbers from a shared library's real name: "libchm.so.1.0.0" gives 1.0.0.0.
FileVersion VersionFromLibraryName(const std::string& name) {
  const size_t at = name.rfind(".so.");
  if (at == std::string::npos) return {};
  std::array<uint16_t, 4> numbers{};
  size_t count = 0;
  const char* p = name.c_str() + at + 4;
  while (*p != '\0') {
    if (count == numbers.size() || *p < '0' || *p > '9') return {};
    char* end = nullptr;
    const unsigned long value = std::strtoul(p, &end, 10);
    if (value > 0xFFFF || (*end != '.' && *end != '\0') || (*end == '.' && end[1] == '\0'))
      return {};
    numbers[count++] = static_cast<uint16_t>(value);
    p = *end == '.' ? end + 1 : end;
  }
  return MakeFileVersion(numbers[0], numbers[1], numbers[2], numbers[3]);
}

struct NamedVersion {
  uint16_t major, minor, release, build;
  const char* name;
};

/// First match from the top: an empty version has no name; above the first entry it is
/// "> " and that name, equal to it the name itself; then the first entry the version reaches,
/// and below them all `lower`.
std::string FriendlyName(const FileVersion& version, std::span<const NamedVersion> table,
                         const char* lower) {
  if (version.empty()) return {};
  const auto as_version = [](const NamedVersion& entry) {
    return MakeFileVersion(entry.major, entry.minor, entry.release, entry.build);
  };
  const int against_top = CompareFileVersions(version, as_version(table.front()));
  if (against_top > 0) return std::string("> ") + table.front().name;
  if (against_top == 0) return table.front().name;
  for (const NamedVersion& entry : table.subspan(1))
    if (CompareFileVersions(version, as_version(entry)) >= 0) return entry.name;
  return lower;
}

constexpr NamedVersion kHelpEngineReleases[] = {
    {4, 74, 8793, 0, "1.31"},  {4, 74, 8702, 0, "1.3"},  {4, 73, 8561, 0, "1.22"},
    {4, 73, 8474, 0, "1.21a"}, {4, 73, 8412, 0, "1.21"}, {4, 73, 8252, 0, "1.2"},
    {4, 72, 8164, 0, "1.1b"},  {4, 72, 7325, 0, "1.1a"}, {4, 72, 7323, 0, "1.1"},
    {4, 72, 7290, 0, "1.0"},
};

constexpr NamedVersion kBrowserReleases[] = {
    {5, 50, 3825, 1300, "Internet Explorer 5.5 Developer Preview"},
    {5, 0, 2919, 6307, "Internet Explorer 5.01"},
    {5, 0, 2919, 3800, "Internet Explorer 5.01 (Windows 2000 RC2, build 5.00.2128)"},
    {5, 0, 2919, 800, "Internet Explorer 5.01 (Windows 2000 RC1, build 5.00.2072)"},
    {5, 0, 2721, 1400, "Internet Explorer 5.0 updated"},
    {5, 0, 2614, 0, "Internet Explorer 5.0b"},
    {5, 0, 2314, 0, "Internet Explorer 5.0a"},
    {5, 0, 2014, 0, "Internet Explorer 5.0"},
    {5, 0, 910, 0, "Internet Explorer 5 Beta (Beta 2)"},
    {5, 0, 518, 0, "Internet Explorer 5 Developer Preview (Beta 1)"},
    {4, 72, 3612, 0, "Internet Explorer 4.01 Service Pack 2 (SP2)"},
    {4, 72, 3110, 0, "Internet Explorer 4.01 Service Pack 1 (SP1)"},
    {4, 72, 2106, 0, "Internet Explorer 4.01"},
    {4, 71, 1712, 0, "Internet Explorer 4.0"},
    {4, 71, 1008, 0, "Internet Explorer 4.0 Platform Preview 2.0 (PP2)"},
    {4, 71, 544, 0, "Internet Explorer 4.0 Platform Preview 1.0 (PP1)"},
    {4, 70, 1300, 0, "Internet Explorer 3.02"},
    {4, 70, 1215, 0, "Internet Explorer 3.01"},
    {4, 70, 1158, 0, "Internet Explorer 3.0 (OSR2)"},
    {4, 70, 1155, 0, "Internet Explorer 3.0"},
    {4, 40, 520, 0, "Internet Explorer 2.0"},
    {4, 40, 308, 0, "Internet Explorer 1.0 (Plus!)"},
};

}  // namespace

FileVersion MakeFileVersion(uint16_t major, uint16_t minor, uint16_t release, uint16_t build) {
  return {std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release) +
              "." + std::to_string(build),
          major, minor, release, build};
}

FileVersion ReadFileVersion(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return {};
  const version::VersionWords words = version::ReadFileVersionWords(path);
  if (words.IsVersion()) {
    const auto ms = static_cast<uint32_t>(words.ms);
    const auto ls = static_cast<uint32_t>(words.ls);
    return MakeFileVersion(static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms & 0xFFFF),
                           static_cast<uint16_t>(ls >> 16), static_cast<uint16_t>(ls & 0xFFFF));
  }
  const std::filesystem::path real = std::filesystem::canonical(path, ec);
  return ec ? FileVersion{} : VersionFromLibraryName(real.filename().string());
}

int CompareFileVersions(const FileVersion& a, const FileVersion& b) {
  const auto ta = std::tie(a.major, a.minor, a.release, a.build);
  const auto tb = std::tie(b.major, b.minor, b.release, b.build);
  return ta < tb ? -1 : (tb < ta ? 1 : 0);
}

std::string HelpEngineFriendlyVersion(const FileVersion& version) {
  return FriendlyName(version, kHelpEngineReleases, "< 1.0");
}

FileVersion AdjustBrowserComponentVersion(FileVersion version) {
  if (version.empty() || version.major != 4 || version.minor > 70 || version.release != 0)
    return version;
  return MakeFileVersion(version.major, version.minor, version.build, 0);
}

std::string BrowserFriendlyVersion(const FileVersion& version) {
  return FriendlyName(version, kBrowserReleases, "< Internet Explorer 1.0 (Plus!)");
}

}  // namespace trawlex::help
