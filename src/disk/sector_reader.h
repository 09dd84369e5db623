#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

/// What one read delivered: the bytes that arrived before the first failure or the
/// end of the source, and the failure's errno (0 when the source simply ended).
struct ReadResult {
  std::size_t bytes = 0;
  int error = 0;
};

/// Read-only access to the bytes of one opened disk or disk image. Implementations
/// never write to the source.
class SectorReader {
 public:
  virtual ~SectorReader() = default;

  /// Reads up to `size` bytes at byte `offset` into `buffer`.
  virtual ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) = 0;

  /// Reads past the page cache where the source has one that fails whole cached blocks
  /// around a bad sector (block devices): whole logical blocks, so a failure names only
  /// the blocks that truly fail. Elsewhere the same as ReadAt.
  virtual ReadResult ReadUncached(std::uint64_t offset, void* buffer, std::size_t size) {
    return ReadAt(offset, buffer, size);
  }

  /// Empty while the source is still the one opened; else why it is gone.
  [[nodiscard]] virtual std::string CheckPresent() const { return {}; }

  /// Tells the system that bytes [offset, offset + size) will not be read again soon.
  virtual void Forget(std::uint64_t /*offset*/, std::uint64_t /*size*/) {}

  /// True when every byte of [offset, offset + size) is already in the page cache, so
  /// reading it displaces nothing and it is best left there.
  [[nodiscard]] virtual bool IsCached(std::uint64_t /*offset*/, std::uint64_t /*size*/) const {
    return false;
  }

  /// The source's size in bytes.
  [[nodiscard]] virtual std::uint64_t SizeBytes() const = 0;

  /// The logical sector size the device reports (512 for image files). Reads of any
  /// 512-byte sector still work; it is the unit a device fails in.
  [[nodiscard]] virtual std::uint32_t LogicalSectorSize() const { return 512; }

  /// Number of whole 512-byte sectors, whatever the logical sector size.
  [[nodiscard]] std::uint64_t SectorCount() const { return SizeBytes() / 512; }
};

/// Opens a block device or an image file read-only. On failure returns null and sets
/// `err` to the system's reason ("Permission denied", "No such file or directory") or
/// "Not a disk or disk image: a FIFO" and the like, and `error_number` to its errno (0
/// when the source is neither a disk nor a regular file). Never waits on a FIFO.
std::unique_ptr<SectorReader> OpenSectorReader(const std::string& path, std::string* err,
                                               int* error_number = nullptr);

/// True when the errno of a failed read means the source is gone rather than that
/// some sectors are unreadable.
[[nodiscard]] bool IsSourceLost(int error);
