// Offsets near 4 GiB in a header must not wrap past the checks that guard the reads:
// each case sits in an allocation of exactly its size, so a read beyond it faults under
// AddressSanitizer.

#include "detect/file_catalogue.h"
#include "detect/format_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

struct Hostile {
  const char* tag;
  std::string bytes;
};

std::string Bytes(std::initializer_list<std::pair<std::size_t, std::string>> parts,
                  std::size_t size) {
  std::string out(size, '\0');
  for (const auto& [at, text] : parts) out.replace(at, text.size(), text);
  return out;
}

TEST(HostileOffsets, NeverReadPastTheBytesGiven) {
  const Hostile cases[] = {
      // A program whose new-header offset is 0xFFFFFFFE.
      {"EXE", Bytes({{0, "MZ"},
                     {2, std::string("\x10\x00\x02\x00", 4)},
                     {0x18, "\x40"},
                     {0x3C, std::string("\xFE\xFF\xFF\xFF", 4)}},
                    128)},
      // A TIFF (and the raws built on it) whose first directory lies at 0xFFFFFFFF.
      {"TIF", Bytes({{0, std::string("II*\0\xFF\xFF\xFF\xFF", 8)}}, 64)},
      {"NEF", Bytes({{0, std::string("II*\0\xFF\xFF\xFF\xFF", 8)}, {352, "NIKON"}}, 512)},
      // An ASF header object whose inner object claims almost 2^64 bytes.
      {"ASF", Bytes({{0, std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62"
                                     "\xCE\x6C",
                                     16)},
                     {16, std::string("\x00\x10\x00\x00\x00\x00\x00\x00", 8)},
                     {24, std::string("\x02\x00\x00\x00\x01\x02", 6)},
                     {46, std::string("\xF0\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8)}},
                    96)},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.tag);
    const int row = FindFileType(c.tag);
    auto bytes = std::make_unique<std::uint8_t[]>(c.bytes.size());
    std::memcpy(bytes.get(), c.bytes.data(), c.bytes.size());
    const int checked = CheckFileStart(row, bytes.get(), c.bytes.size());
    if (checked < 0) continue;
    if (auto finder = MakeEndFinder(checked, bytes.get(), c.bytes.size()))
      (void)finder->Feed({bytes.get(), c.bytes.size()});
  }
}

}  // namespace
