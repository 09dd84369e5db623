#pragma once

#include <cstddef>
#include <cstdint>

/// The CRC-32 of PNG, zip, RAR and ARJ (reflected polynomial 0xEDB88320), continued over
/// `size` more bytes: start from 0xFFFFFFFF and invert the result at the end.
[[nodiscard]] std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data,
                                        std::size_t size);

/// The CRC-32 of `size` bytes.
[[nodiscard]] inline std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  return Crc32Update(0xFFFFFFFFu, data, size) ^ 0xFFFFFFFFu;
}
