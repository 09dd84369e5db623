#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

#include <algorithm>
#include <cstring>

using namespace document_walk;

namespace {

/// The length a DOS or PE program states in its headers: 0 when it cannot be told (a
/// new-style program other than PE, or headers beyond the bytes seen).
struct ExeLayout {
  bool valid = false;
  std::uint64_t size = 0;
};

ExeLayout ReadLayout(const std::uint8_t* d, std::size_t available) {
  ExeLayout layout;
  if (available < 64) return layout;
  const unsigned last_page = Le16(d + 2), pages = Le16(d + 4), header_paras = Le16(d + 8);
  if (pages == 0 || last_page >= 512) return layout;
  const std::uint64_t mz_size = (pages - 1) * 512ull + (last_page != 0 ? last_page : 512);
  if (header_paras * 16ull > mz_size) return layout;
  layout.valid = true;
  // 64-bit, so that a hostile offset near 4 GiB cannot wrap past the checks.
  const std::uint64_t lfanew = Le32(d + 0x3C);
  const bool new_style = Le16(d + 0x18) >= 0x40 && lfanew >= 0x40 && lfanew + 4 <= available;
  if (!new_style || std::memcmp(d + lfanew, "PE\0\0", 4) != 0) {
    if (new_style &&
        (std::memcmp(d + lfanew, "NE", 2) == 0 || std::memcmp(d + lfanew, "LE", 2) == 0 ||
         std::memcmp(d + lfanew, "LX", 2) == 0))
      return layout;  // the stub's size says nothing of the program after it
    layout.size = mz_size;
    return layout;
  }
  const std::uint8_t* coff = d + lfanew + 4;
  if (lfanew + 24 > available) return layout;
  const unsigned sections = Le16(coff + 2), optional_size = Le16(coff + 16);
  const std::uint64_t table = lfanew + 24 + optional_size;
  if (sections == 0 || sections > 96 || table + sections * 40ull > available) {
    layout.valid = sections > 0 && sections <= 96;
    return layout;
  }
  std::uint64_t end = table + sections * 40ull;
  for (unsigned i = 0; i < sections; ++i) {
    const std::uint8_t* s = d + table + i * 40;
    if (Le32(s + 16) != 0)
      end = std::max<std::uint64_t>(end, std::uint64_t{Le32(s + 20)} + Le32(s + 16));
  }
  // The certificate table's entry holds a file offset, not an address.
  const std::uint8_t* opt = coff + 20;
  const unsigned magic = optional_size >= 2 ? Le16(opt) : 0;
  const std::size_t dirs = magic == 0x20B ? 112 : 96;
  if (optional_size >= dirs + 5 * 8) {
    const std::uint8_t* cert = opt + dirs + 4 * 8;
    if (Le32(cert + 4) != 0)
      end = std::max<std::uint64_t>(end, std::uint64_t{Le32(cert)} + Le32(cert + 4));
  }
  layout.size = end;
  return layout;
}

}  // namespace

bool ExeStart(const std::uint8_t* data, std::size_t available) {
  return ReadLayout(data, available).valid;
}

std::unique_ptr<EndFinder> ExeEnd(const std::uint8_t* data, std::size_t available) {
  const ExeLayout layout = ReadLayout(data, available);
  return layout.size > 0 ? FixedLengthEnd(layout.size) : nullptr;
}

const FileKind kExeKind{.tag = "EXE",
                        .description = "DOS or Windows program",
                        .check = ExeStart,
                        .make_finder = ExeEnd};
