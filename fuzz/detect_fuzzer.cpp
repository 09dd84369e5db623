// Feeds arbitrary bytes to DetectFileType. The input is copied into an allocation of
// exactly the readable extent the detector is promised, so any read beyond it faults.

#include "detect/file_detect.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first two bytes choose the span (-16 .. 1007); the rest is the sector and what follows.
  int span = 512;
  if (size >= 2) {
    span = ((data[0] << 8) | data[1]) % 1024 - 16;
    data += 2;
    size -= 2;
  }
  const auto extent = static_cast<std::size_t>(DetectReadExtent(span));
  auto region = std::make_unique<std::uint8_t[]>(extent);
  std::memset(region.get(), 0, extent);
  std::memcpy(region.get(), data, size < extent ? size : extent);
  std::string tag = "unchanged";
  const int max_tag = size > 0 ? data[0] % 12 : 255;
  if (!DetectFileType(region.get(), span, tag, max_tag) && tag != "unchanged") __builtin_trap();
  if (tag.size() > 7 && tag != "unchanged") __builtin_trap();
  return 0;
}
