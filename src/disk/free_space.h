#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/sector_reader.h"

/// A stretch of the source disk, in bytes.
struct ByteRun {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool operator==(const ByteRun&) const = default;
};

/// A file system found on the disk and searched by its free space.
struct FileSystemArea {
  std::string type;          ///< "fat32", "ext4", "ntfs", ...
  std::uint64_t offset = 0;  ///< where it starts on the disk, in bytes
  std::uint64_t length = 0;
  std::uint32_t block_size = 0;
  std::uint64_t free_bytes = 0;  ///< its unallocated blocks
};

/// What a free-space search reads: every unallocated block of each file system found, and all
/// the space outside them (gaps between partitions, partitions of no known file system), in
/// disk order, as one stream of runs.
struct FreeSpaceLayout {
  std::vector<ByteRun> runs;
  std::vector<FileSystemArea> file_systems;
  /// File systems that were recognised but could not be read, each said in one sentence; their
  /// space is searched whole, as without the option.
  std::vector<std::string> notes;
  [[nodiscard]] std::uint64_t TotalBytes() const;
};

/// Finds the partitions and file systems on `reader` (through The Sleuth Kit) and lays out
/// their free space. A disk with no file system it knows gives one run over the whole disk.
FreeSpaceLayout FindFreeSpace(SectorReader& reader);

/// The bytes of `runs` on `source`, read as one disk. Found files are read and saved through it,
/// so a file whose pieces lie in several runs comes out whole; `PhysicalRuns` says where a
/// stretch of it lies on the source disk.
class MappedSectorReader final : public SectorReader {
 public:
  MappedSectorReader(SectorReader& source, std::vector<ByteRun> runs);

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override;
  ReadResult ReadUncached(std::uint64_t offset, void* buffer, std::size_t size) override;
  [[nodiscard]] std::string CheckPresent() const override { return source_.CheckPresent(); }
  void Forget(std::uint64_t offset, std::uint64_t size) override;
  [[nodiscard]] bool IsCached(std::uint64_t offset, std::uint64_t size) const override;
  [[nodiscard]] std::uint64_t SizeBytes() const override { return total_; }
  [[nodiscard]] std::uint32_t LogicalSectorSize() const override {
    return source_.LogicalSectorSize();
  }

  /// Where bytes [offset, offset + size) of this stream lie on the source disk, in order.
  [[nodiscard]] std::vector<ByteRun> PhysicalRuns(std::uint64_t offset, std::uint64_t size) const;

 private:
  template <typename Read>
  ReadResult Gather(std::uint64_t offset, void* buffer, std::size_t size, Read read);
  /// Index of the run that holds stream byte `offset` (which must be below total_).
  [[nodiscard]] std::size_t RunAt(std::uint64_t offset) const;

  SectorReader& source_;
  std::vector<ByteRun> runs_;
  std::vector<std::uint64_t> starts_;  ///< stream offset of each run's first byte
  std::uint64_t total_ = 0;
};
