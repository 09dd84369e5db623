#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// Where the options live between runs: text values under the "Options" section.
class OptionsStore {
 public:
  virtual ~OptionsStore() = default;
  /// The value's text, or nothing when it is missing or cannot be read.
  [[nodiscard]] virtual std::optional<std::string> Read(const std::string& key) = 0;
  /// False when the value could not be written.
  virtual bool Write(const std::string& key, const std::string& value) = 0;
};

inline constexpr std::uint32_t kDefaultMaxRecoverMB = 20;

/// The options of the recovery workflow.
struct RecoveryOptions {
  std::uint32_t MaxSizeOfRecoverMB = kDefaultMaxRecoverMB;
  std::string SavePath;
  /// Check each found file and cut it where its format ends ("RealEnds", off by default).
  bool RealEnds = false;
  /// Search only the free space of the file systems found, and the space outside them
  /// ("FreeSpace", off by default).
  bool FreeSpaceOnly = false;
};

/// Folders the save path falls back to, in order of preference.
struct OptionFolders {
  std::string program_folder;  ///< the running program's folder
  std::string data_folder;     ///< the user's data folder, for a program folder that is read-only
};

/// Reads "MaxRecover" (20 when missing or not a decimal number), "RealEnds" and
/// "FreeSpace" ("1" on, anything else off) and "Save Path". A save path that is empty or not an
/// existing folder becomes <program folder>/Recovered, created on the spot; where that cannot be
/// made, <data folder>/Recovered; failing both, the program's folder itself.
[[nodiscard]] RecoveryOptions LoadOptions(OptionsStore& store, const OptionFolders& folders);

/// Writes the options as text. False when one could not be written; the options in
/// memory keep the user's values either way.
[[nodiscard]] bool SaveOptions(OptionsStore& store, const RecoveryOptions& options);

/// A whole decimal number, or nothing ("12" yes; "", "12a", "0x10", "-1" no).
[[nodiscard]] std::optional<std::uint32_t> ParseDecimal(const std::string& text);
