#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "version/version_words.h"

namespace trawlex::version {

/// The fixed part of a version resource; `signature` is 0xFEEF04BD when valid.
struct FixedFileInfo {
  uint32_t signature = 0xFEEF04BD;
  uint32_t struc_version = 0x00010000;
  uint32_t file_version_ms = 0;
  uint32_t file_version_ls = 0;
  uint32_t product_version_ms = 0;
  uint32_t product_version_ls = 0;
  uint32_t file_flags_mask = 0x3F;
  uint32_t file_flags = 0;
  uint32_t file_os = 4;    ///< 32-bit Windows
  uint32_t file_type = 1;  ///< application
  uint32_t file_subtype = 0;
  uint32_t file_date_ms = 0;
  uint32_t file_date_ls = 0;
};

/// One string table of a version resource, such as "040904E4", with its key/value pairs.
struct VersionStringTable {
  std::string language;
  std::vector<std::pair<std::string, std::string>> strings;
};

/// The contents of a `VS_VERSIONINFO` block. Texts are UTF-8.
struct VersionResource {
  std::optional<FixedFileInfo> fixed;
  std::vector<VersionStringTable> string_tables;
  std::vector<uint32_t> translations;  ///< language in the low word, code page in the high word

  /// The value of `key` in the string table `language` (compared case-insensitively).
  [[nodiscard]] std::optional<std::string> QueryString(const std::string& language,
                                                       const std::string& key) const;
};

/// ELF section that carries the program's own version block.
inline constexpr const char* kVersionSectionName = ".vs_version_info";

/// Reads a `VS_VERSIONINFO` block; nullopt and a sentence in `err` when it is malformed.
[[nodiscard]] std::optional<VersionResource> ParseVersionBlock(const uint8_t* data, size_t size,
                                                               std::string* err);
/// Writes a `VS_VERSIONINFO` block as a resource compiler would.
[[nodiscard]] std::vector<uint8_t> BuildVersionBlock(const VersionResource& resource);

/// The raw version block among a Windows executable's resources.
[[nodiscard]] std::optional<std::vector<uint8_t>> FindVersionBlockInPe(
    std::span<const uint8_t> image);
/// The raw version block in the `kVersionSectionName` section of an ELF file.
[[nodiscard]] std::optional<std::vector<uint8_t>> FindVersionBlockInElf(
    std::span<const uint8_t> image);

/// The version resource of a Windows or Linux executable; nullopt when it has none.
[[nodiscard]] std::optional<VersionResource> ReadVersionResource(const std::string& path,
                                                                 std::string* err);
/// The version resource of the running program.
[[nodiscard]] std::optional<VersionResource> ReadOwnVersionResource(std::string* err);
/// The file version words, or -1 for both when there is no valid fixed file information.
[[nodiscard]] VersionWords ReadFileVersionWords(const std::string& path);

}  // namespace trawlex::version
