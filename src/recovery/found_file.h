#pragma once

#include "detect/file_catalogue.h"
#include "detect/file_end.h"

#include <cstdint>
#include <string>
#include <string_view>

/// One found file: where it starts, how long it is taken to be, and its kind. Kept to
/// 24 bytes, since a large disk yields millions; the name is derived, not stored.
struct TfileExt {
  std::uint64_t LBA = 0;                  ///< the sector where the file starts
  std::uint64_t Size = 0;                 ///< bytes up to the next file start; 0 while still open
  std::uint8_t Type = 0;                  ///< catalogue row of its tag
  EndReason End = EndReason::kNextStart;  ///< how Size was decided

  /// The detector's tag, for example "ZIP" or "EPSorPS".
  [[nodiscard]] std::string_view FileType() const { return FileTypeTag(Type); }
  /// "FILE_" + LBA + "." + tag, for example FILE_2048.ZIP; also the saved file's name.
  [[nodiscard]] std::string FileName() const {
    return "FILE_" + std::to_string(LBA) + "." + std::string(FileType());
  }
};
static_assert(sizeof(TfileExt) == 24);
