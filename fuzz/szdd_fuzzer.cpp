// Feeds arbitrary bytes to SZDD expansion. It must never hand on more than the length the
// header records, and succeed only with exactly that length.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "update/lz_expand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto bytes = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) std::memcpy(bytes.get(), data, size);
  std::uint64_t expanded = 0;
  trawlex::update::SzddHeader header;
  const bool ok = trawlex::update::ExpandSzdd(
      std::span<const std::uint8_t>(bytes.get(), size),
      [&](const std::uint8_t*, std::size_t n) {
        expanded += n;
        return true;
      },
      &header, nullptr);
  if (expanded > header.length) __builtin_trap();
  if (ok && expanded != header.length) __builtin_trap();
  return 0;
}
