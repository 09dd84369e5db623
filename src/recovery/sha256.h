#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

struct evp_md_ctx_st;

/// SHA-256 over bytes fed in pieces, for the hashes in the recovery report (OpenSSL's digest).
/// A saver can feed each chunk as it writes it and take the digest when the file is closed.
class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  /// Forgets everything fed so far.
  void Reset();
  /// Feeds the next bytes of the message.
  void Update(std::span<const std::uint8_t> data);
  void Update(const void* data, std::size_t size) {
    Update(std::span(static_cast<const std::uint8_t*>(data), size));
  }
  /// The digest of everything fed; the object starts again afterwards.
  [[nodiscard]] Digest Final();

  /// The digest as 64 lower-case hex digits.
  [[nodiscard]] static std::string Hex(const Digest& digest);

 private:
  evp_md_ctx_st* ctx_;
};

/// The hex SHA-256 of a file's bytes as they are on disk, and how many there were; false
/// (with the system's reason in `err`) when it cannot be read.
bool Sha256File(const std::string& path, std::string* hex, std::string* err = nullptr,
                std::uint64_t* size = nullptr);
