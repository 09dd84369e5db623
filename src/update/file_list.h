#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trawlex::update {

/// What a downloaded file must be once it is expanded; parts left at their defaults are not
/// checked. The checksum follows the engine's `UseCRC32` choice.
struct ExpectedFile {
  int32_t size = 0;       ///< greater than 0: the exact size in bytes
  int32_t checksum = -1;  ///< not -1: the byte sum or CRC
  std::string sha256;     ///< not empty: the SHA-256 in hexadecimal
};

/// One downloadable file of the control file, with its paths expanded.
struct TFileDescription {
  bool Compressed = false;
  int32_t NewCheckSum = -1;
  int32_t NewSize = 0;
  std::string URL;
  /// Ends in the platform's separator unless empty.
  std::string TargetDir;
  std::string LocalVersion;
  std::string NewVersion;
  std::string Description;
  std::string NewCustomVer;
  int32_t FileSize = 0;
  std::string NewDate;
  std::string NewTime;
  std::string NewSha256;

  /// The checks a download of this entry must pass.
  [[nodiscard]] ExpectedFile Expected() const { return {NewSize, NewCheckSum, NewSha256}; }
};

/// The engine's file list; `ActiveItem` is the index of the file being downloaded.
class TFileList {
 public:
  TFileDescription& Add();
  [[nodiscard]] TFileDescription& Item(size_t index) { return *items_.at(index); }
  [[nodiscard]] const TFileDescription& Item(size_t index) const { return *items_.at(index); }
  [[nodiscard]] size_t Count() const { return items_.size(); }
  /// Removes the item at `index`; later items move up one place.
  void Delete(size_t index);
  void Clear();

  /// Sum of every item's `FileSize`.
  [[nodiscard]] int64_t TotalSize() const;
  /// Sum of the `FileSize` values of the items before `ActiveItem`.
  [[nodiscard]] int64_t CompletedSize() const;

  int ActiveItem = 0;

 private:
  std::vector<std::unique_ptr<TFileDescription>> items_;
};

}  // namespace trawlex::update
