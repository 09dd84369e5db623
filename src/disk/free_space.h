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
  int partition = 0;             ///< its slot in the partition table, from 1; 0: no table
};

/// A file its file system still names though it was deleted, as the file system describes it.
struct DeletedEntry {
  /// Its folder and name in the file system, "DCIM/_MG_0001.JPG" (FAT keeps no first letter of
  /// a deleted name); the bytes are the file system's, not checked for safety.
  std::string path;
  std::uint64_t size = 0;
  /// Where its bytes lie on the disk, in order, cut to `size`. FAT keeps no cluster chain for a
  /// deleted file: its clusters are taken as the free ones from its first cluster on.
  std::vector<ByteRun> runs;
  /// The bytes themselves, when the file system keeps them in its own records (small NTFS
  /// files); `runs` is then empty.
  std::vector<std::uint8_t> content;
  std::size_t file_system = 0;  ///< its index in FreeSpaceLayout::file_systems
  bool in_use = false;          ///< part of `runs` lies in blocks a file in use now holds
  bool partial = false;         ///< the file system knows where only part of its bytes lie
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
  /// Deleted files the file systems still name, when asked for.
  std::vector<DeletedEntry> deleted;
  [[nodiscard]] std::uint64_t TotalBytes() const;
  /// The file system that holds disk byte `offset`, or null.
  [[nodiscard]] const FileSystemArea* FileSystemAt(std::uint64_t offset) const;
};

/// Finds the partitions and file systems on `reader` (through The Sleuth Kit) and lays out
/// their free space. A disk with no file system it knows gives one run over the whole disk.
/// With `list_deleted`, also the deleted files each file system still names (`deleted`).
FreeSpaceLayout FindFreeSpace(SectorReader& reader, bool list_deleted = false);

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
