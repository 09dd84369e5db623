#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trawlex::version {

/// What the about box knows of a program file: its version resource read into named items.
/// Setting `FileName` reads the file at once; a file without a version resource leaves every
/// field as it was.
class VersionInfo {
 public:
  VersionInfo() = default;
  ~VersionInfo() { Items.clear(); }
  VersionInfo(const VersionInfo&) = delete;
  VersionInfo& operator=(const VersionInfo&) = delete;

  [[nodiscard]] const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& name);

  /// One line per item found, "name=value", in reading order: ProductVersion, OperatingSystem,
  /// FileType, then the string table's items.
  std::vector<std::string> Items;
  /// The file version with its trailing ".0" parts dropped, keeping at least "major.minor".
  std::string FileVersion;
  std::string Copyright;
  std::string Description;

 private:
  std::string file_name_;
};

/// "a.b.c.d" shortened by whole trailing ".0" parts to no fewer than two parts:
/// 10.0.0.0 gives 10.0, 1.10.0.0 gives 1.10, 1.2.3.0 gives 1.2.3.
[[nodiscard]] std::string ShortFileVersion(const std::string& dotted);
/// The names the version resource gives its target system and file type.
[[nodiscard]] std::string OperatingSystemName(uint32_t file_os);
[[nodiscard]] std::string FileTypeName(uint32_t file_type);

}  // namespace trawlex::version
