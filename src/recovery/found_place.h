#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/free_space.h"
#include "recovery/found_file.h"

/// Where found files lie on the disk. A scan of the whole disk counts the disk's own sectors; a
/// scan of the file systems' free space counts sectors of the stream of free runs, and this
/// maps them back, so that names, listings and the report speak of the disk.
class FoundPlace {
 public:
  /// The whole disk: sectors are the disk's own.
  FoundPlace() = default;
  /// Sectors of `stream` (which must outlive this).
  explicit FoundPlace(const MappedSectorReader* stream) : stream_(stream) {}

  /// The disk sector where the stream sector `lba` lies.
  [[nodiscard]] std::uint64_t DiskLBA(std::uint64_t lba) const;
  /// "FILE_" + the disk sector of its start + "." + tag.
  [[nodiscard]] std::string FileName(const TfileExt& file) const;
  /// Where the first `len` bytes of `file` lie on the disk, in order.
  [[nodiscard]] std::vector<ByteRun> DiskRuns(const TfileExt& file, std::uint64_t len) const;

 private:
  const MappedSectorReader* stream_ = nullptr;
};
