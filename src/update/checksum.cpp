#include "update/checksum.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
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

/// Feeds a regular file to `on_block` in 4096-byte blocks; false when it cannot be opened or
/// read. Devices, FIFOs and directories are refused without waiting on them, and no more than
/// the size the file had when opened is read, so a growing file cannot keep the loop going.
template <typename OnBlock>
bool ReadRegularFile(const std::string& path, OnBlock on_block) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::array<uint8_t, 4096> block;
  for (auto left = static_cast<uint64_t>(ok ? st.st_size : 0); ok && left > 0;) {
    const ssize_t got = ::read(fd, block.data(), std::min<uint64_t>(block.size(), left));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    on_block(block.data(), static_cast<size_t>(got));
    left -= static_cast<uint64_t>(got);
  }
  ::close(fd);
  return ok;
}

template <typename Add>
std::optional<uint32_t> FoldFile(const std::string& path, uint32_t start, Add add) {
  uint32_t value = start;
  const bool ok = ReadRegularFile(
      path, [&](const uint8_t* data, size_t size) { value = add(value, data, size); });
  if (!ok) return std::nullopt;
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

std::optional<std::string> FileSha256(const std::string& path) {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  bool hashed = true;
  const bool read = ReadRegularFile(path, [&](const uint8_t* data, size_t size) {
    hashed = hashed && EVP_DigestUpdate(ctx.get(), data, size) == 1;
  });
  std::array<uint8_t, EVP_MAX_MD_SIZE> digest;
  unsigned int length = 0;
  if (!read || !hashed || EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1) {
    return std::nullopt;
  }
  static const char* kHex = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

}  // namespace trawlex::update
