#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace trawlex::update {

/// Running state of the file checksums; feed blocks in order.
class UpdateChecksum {
 public:
  /// The byte sum starts at 0xFFFFFFFF and adds every byte modulo 2^32.
  static uint32_t AddBytes(uint32_t sum, const uint8_t* data, size_t size);
  /// The published "CRC" rule: c += T[(c ^ b) & 0xFF] ^ (c >> 8) with the reflected CRC-32 table.
  /// It is not the standard CRC-32; published control files rely on this exact rule.
  static uint32_t AddCrc(uint32_t c, const uint8_t* data, size_t size);
};

// The file functions read regular files only, and no further than the size they had when
// opened; anything else (a device, a FIFO, a directory) counts as unreadable.

/// Byte sum of a file read in 4096-byte blocks; -1 when it cannot be read.
[[nodiscard]] int32_t FileByteSum(const std::string& path);
/// The "CRC" of a file, complemented at the end; 0 when it cannot be read.
[[nodiscard]] int32_t FileCrc32(const std::string& path);
/// SHA-256 of a file as 64 lower-case hexadecimal digits; nullopt when it cannot be read.
[[nodiscard]] std::optional<std::string> FileSha256(const std::string& path);

}  // namespace trawlex::update
