#include "detect/formats/crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)
/// 16 bytes from anywhere.
__attribute__((target("sse4.1"))) inline __m128i Load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

/// `a` carried forward by the distance `k` stands for, onto `b`: a.low * k.low +
/// a.high * k.high + b.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i a, __m128i k, __m128i b) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11)), b);
}

/// Carry-less multiplication folds 64 bytes a step (four lanes of 128 bits), then folds
/// the lanes into one, reduces it to 64 and, by Barrett's method, to 32 bits. `size` is at
/// least 64 and a multiple of 16. The constants are powers of x modulo the polynomial,
/// bit-reflected: x^(4*128+32) and x^(4*128-32) for four lanes, x^(128+32) and x^(128-32)
/// for one, x^64 for the last fold, then the polynomial and floor(x^64 / polynomial).
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldCrc(std::uint32_t crc,
                                                               const std::uint8_t* data,
                                                               std::size_t size) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(data + 16), x3 = Load(data + 32), x4 = Load(data + 48);
  data += 64;
  size -= 64;
  for (; size >= 64; data += 64, size -= 64) {
    x1 = Fold(x1, k1k2, Load(data));
    x2 = Fold(x2, k1k2, Load(data + 16));
    x3 = Fold(x3, k1k2, Load(data + 32));
    x4 = Fold(x4, k1k2, Load(data + 48));
  }
  x1 = Fold(Fold(Fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
  for (; size >= 16; data += 16, size -= 16) x1 = Fold(x1, k3k4, Load(data));

  // 128 bits to 64, then to 32 + 32, then Barrett.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00),
                     _mm_srli_si128(x1, 4));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}
#endif

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
#if defined(__x86_64__)
  static const bool kHasClmul = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  }();
  if (kHasClmul && size >= 64) {
    const std::size_t whole = size / 16 * 16;
    crc = FoldCrc(crc, data, whole);
    data += whole;
    size -= whole;
  }
#endif
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
