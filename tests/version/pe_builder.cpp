#include "version/pe_builder.h"

namespace trawlex::version::testing {
namespace {

void Set16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}

}  // namespace

std::vector<uint8_t> BuildPeWithVersion(const std::vector<uint8_t>& version_block) {
  constexpr size_t kPe = 0x40, kOpt = kPe + 24, kOptSize = 224, kTable = kOpt + kOptSize;
  constexpr size_t kRaw = 0x200;
  constexpr uint32_t kRva = 0x1000;
  const size_t rsrc_size = 0x58 + version_block.size();
  std::vector<uint8_t> b(kRaw + ((rsrc_size + 0x1FF) & ~size_t{0x1FF}), 0);
  b[0] = 'M';
  b[1] = 'Z';
  Set32(b, 0x3C, kPe);
  Set32(b, kPe, 0x00004550);
  Set16(b, kPe + 4, 0x14C);
  Set16(b, kPe + 6, 1);
  Set16(b, kPe + 20, kOptSize);
  Set16(b, kOpt, 0x10B);
  Set32(b, kOpt + 92, 16);
  if (!version_block.empty()) {
    Set32(b, kOpt + 96 + 2 * 8, kRva);
    Set32(b, kOpt + 96 + 2 * 8 + 4, static_cast<uint32_t>(rsrc_size));
  }
  const char name[] = ".rsrc";
  for (size_t i = 0; i < 5; ++i) b[kTable + i] = static_cast<uint8_t>(name[i]);
  Set32(b, kTable + 8, static_cast<uint32_t>(rsrc_size));
  Set32(b, kTable + 12, kRva);
  Set32(b, kTable + 16, static_cast<uint32_t>(b.size() - kRaw));
  Set32(b, kTable + 20, kRaw);
  if (version_block.empty()) return b;

  // Type 16 (version) -> name 1 -> language 0x409 -> data entry -> block.
  Set16(b, kRaw + 14, 1);
  Set32(b, kRaw + 16, 16);
  Set32(b, kRaw + 20, 0x80000000u | 0x18);
  Set16(b, kRaw + 0x18 + 14, 1);
  Set32(b, kRaw + 0x18 + 16, 1);
  Set32(b, kRaw + 0x18 + 20, 0x80000000u | 0x30);
  Set16(b, kRaw + 0x30 + 14, 1);
  Set32(b, kRaw + 0x30 + 16, 0x409);
  Set32(b, kRaw + 0x30 + 20, 0x48);
  Set32(b, kRaw + 0x48, kRva + 0x58);
  Set32(b, kRaw + 0x48 + 4, static_cast<uint32_t>(version_block.size()));
  for (size_t i = 0; i < version_block.size(); ++i) b[kRaw + 0x58 + i] = version_block[i];
  return b;
}

}  // namespace trawlex::version::testing
