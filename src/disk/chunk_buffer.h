#pragma once

#include "disk/drive_table.h"

#include <cstdint>
#include <memory>

/// The main window's one read buffer of 1 MiB (2,048 sectors), followed by zero slack
/// so that the detector may look past the last sector. Shared by the sector viewer and
/// any other one-chunk reader of the window.
class ChunkBuffer {
 public:
  static constexpr std::size_t kSize = kMaxReadBytes;
  static constexpr std::size_t kSlack = 2048;

  ChunkBuffer() : bytes_(std::make_unique<std::uint8_t[]>(kSize + kSlack)) {}

  /// Clears the whole buffer, then reads `byteCount` bytes (at most 1 MiB) of `drive`
  /// from sector `lba`. True only when every byte arrived.
  bool ReadDiskChunk(const DriveTable& table, std::uint64_t lba, int drive,
                     std::uint32_t byteCount);

  [[nodiscard]] const std::uint8_t* data() const { return bytes_.get(); }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
};
