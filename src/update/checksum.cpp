#include "update/checksum.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>

namespace trawlex::update {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

/// Feeds the whole file to `add` in 4096-byte blocks; nullopt when it cannot be opened or read.
template <typename Add>
std::optional<uint32_t> FoldFile(const std::string& path, uint32_t start, Add add) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::array<uint8_t, 4096> block;
  uint32_t value = start;
  while (true) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    value = add(value, block.data(), static_cast<size_t>(got));
  }
  ::close(fd);
  return value;
}

}  // namespace

uint32_t UpdateChecksum::AddBytes(uint32_t sum, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) sum += data[i];
  return sum;
}

uint32_t UpdateChecksum::AddCrc(uint32_t c, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) c += kCrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c;
}

int32_t FileByteSum(const std::string& path) {
  const auto sum = FoldFile(path, 0xFFFFFFFFu, UpdateChecksum::AddBytes);
  return static_cast<int32_t>(sum.value_or(0xFFFFFFFFu));
}

int32_t FileCrc32(const std::string& path) {
  const auto c = FoldFile(path, 0xFFFFFFFFu, UpdateChecksum::AddCrc);
  return c ? static_cast<int32_t>(~*c) : 0;
}

}  // namespace trawlex::update
