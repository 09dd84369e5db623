// Feeds arbitrary bytes to the start checks and end finders of every format. The first
// byte chooses the catalogue row, the second the piece size; the rest is the file. The
// bytes sit in an allocation of exactly their size, so any read beyond it faults.

#include "detect/file_catalogue.h"
#include "detect/format_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int row = data[0] % (kFileTypeCount + 1) - 1;  // -1: what the signature chain missed
  const std::size_t piece = 1 + data[1] % 97 * 37;
  data += 2;
  size -= 2;
  auto bytes = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) std::memcpy(bytes.get(), data, size);
  const int checked = CheckFileStart(row, bytes.get(), size);
  if (checked < -1 || checked >= kFileTypeCount) __builtin_trap();
  if (checked < 0) return 0;
  auto finder = MakeEndFinder(checked, bytes.get(), size);
  if (!finder) return 0;
  std::size_t fed = 0;
  while (fed < size) {
    const std::size_t n = std::min(piece, size - fed);
    const EndVerdict v = finder->Feed({bytes.get() + fed, n});
    fed += n;
    if (v.state == EndVerdict::State::kBroken && v.end > fed) __builtin_trap();
    if (v.state != EndVerdict::State::kNeedMore) return 0;
  }
  const EndVerdict last = finder->Finish(fed);
  if (last.state == EndVerdict::State::kBroken && last.end > fed) __builtin_trap();
  return 0;
}
