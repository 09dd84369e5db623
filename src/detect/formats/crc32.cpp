#include "detect/formats/crc32.h"

#include <array>
#include <cstring>

namespace {

/// Table t gives the CRC of a byte followed by t zero bytes, for eight bytes a step.
constexpr auto kTables = [] {
  std::array<std::array<std::uint32_t, 256>, 8> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[0][i] = c;
  }
  for (std::uint32_t i = 0; i < 256; ++i)
    for (std::size_t t = 1; t < 8; ++t)
      table[t][i] = (table[t - 1][i] >> 8) ^ table[0][table[t - 1][i] & 0xFF];
  return table;
}();

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, data + i, 4);
    std::memcpy(&hi, data + i + 4, 4);
    lo ^= crc;  // little-endian hosts: the first byte is the lowest
    crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
          kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
          kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
  }
  for (; i < size; ++i) crc = kTables[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}
