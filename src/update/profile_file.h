#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace trawlex::update {

/// The largest profile file read; control files are a few kilobytes.
inline constexpr size_t kMaxProfileFileSize = 1 << 20;

/// Read-only INI text read with the classic profile-file rules: section and key names compare
/// case-insensitively, the first occurrence wins, values are trimmed and lose one pair of quotes.
class ProfileFile {
 public:
  ProfileFile() = default;

  /// Reads the regular file at `path`; nullopt and a sentence in `err` when it cannot be read
  /// or is larger than `kMaxProfileFileSize`.
  static std::optional<ProfileFile> Load(const std::string& path, std::string* err);
  static ProfileFile FromText(const std::string& text);

  [[nodiscard]] bool HasKey(const std::string& section, const std::string& key) const;
  [[nodiscard]] std::string ReadString(const std::string& section, const std::string& key,
                                       const std::string& default_value) const;
  /// Decimal or `$`-hexadecimal integer; anything else gives `default_value`.
  [[nodiscard]] int32_t ReadInteger(const std::string& section, const std::string& key,
                                    int32_t default_value) const;

 private:
  // Section and key names are stored upper-cased.
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

/// Parses a decimal (optionally signed) or `$`-prefixed hexadecimal 32-bit integer.
[[nodiscard]] std::optional<int32_t> ParseProfileInteger(const std::string& text);

/// Upper-cases ASCII letters only, as profile and prefix names are compared.
[[nodiscard]] std::string AsciiUpper(std::string text);

}  // namespace trawlex::update
