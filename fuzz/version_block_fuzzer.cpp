// Feeds arbitrary bytes to the version reader: as a VS_VERSIONINFO block, and as a Windows
// and a Linux executable whose version block is looked for and read. The bytes sit in an
// allocation of exactly their size, so any read beyond it faults.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "version/version_info.h"

namespace {

void Read(const std::uint8_t* data, std::size_t size) {
  const auto resource = trawlex::version::ParseVersionBlock(data, size, nullptr);
  if (resource) (void)resource->QueryString("040904E4", "FileVersion");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto bytes = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) std::memcpy(bytes.get(), data, size);
  const std::span<const std::uint8_t> image(bytes.get(), size);
  Read(bytes.get(), size);
  for (const auto& block : {trawlex::version::FindVersionBlockInPe(image),
                            trawlex::version::FindVersionBlockInElf(image)}) {
    if (!block) continue;
    if (block->size() > 0x10000) __builtin_trap();
    Read(block->data(), block->size());
  }
  return 0;
}
