#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace document_walk {

/// The CRC-32 of zip, RAR and ARJ (reflected polynomial 0xEDB88320).
[[nodiscard]] inline std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  static constexpr auto kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return table;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) crc = kTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace document_walk
