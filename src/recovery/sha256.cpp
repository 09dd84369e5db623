#include "recovery/sha256.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_) throw std::bad_alloc();
  Reset();
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(ctx_);
}

void Sha256::Reset() {
  EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr);
}

void Sha256::Update(std::span<const std::uint8_t> data) {
  if (!data.empty()) EVP_DigestUpdate(ctx_, data.data(), data.size());
}

Sha256::Digest Sha256::Final() {
  Digest digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx_, digest.data(), &length);
  Reset();
  return digest;
}

std::string Sha256::Hex(const Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const std::uint8_t b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

bool Sha256File(const std::string& path, std::string* hex, std::string* err, std::uint64_t* size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (err) *err = std::strerror(errno);
    return false;
  }
  Sha256 sha;
  std::uint64_t total = 0;
  std::vector<std::uint8_t> buffer(1 << 20);
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (err) *err = std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    sha.Update(buffer.data(), static_cast<std::size_t>(got));
    total += static_cast<std::uint64_t>(got);
  }
  ::close(fd);
  *hex = Sha256::Hex(sha.Final());
  if (size) *size = total;
  return true;
}
