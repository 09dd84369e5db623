#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

using namespace document_walk;

namespace {

/// The file length the header's root structure states: ANSI files (versions 14 and 15)
/// keep it in 32 bits at 168, Unicode files (23 and up) in 64 bits at 184. 0: not a store.
std::uint64_t StatedSize(const std::uint8_t* d, std::size_t available) {
  if (available < 512 || d[8] != 'S' || d[9] != 'M') return 0;
  const unsigned version = Le16(d + 10);
  std::uint64_t size = 0;
  if (version == 14 || version == 15)
    size = Le32(d + 168);
  else if (version >= 23 && version <= 40)
    size = Le64(d + 184);
  return size >= 512 && size < (1ull << 40) ? size : 0;
}

}  // namespace

bool PstStart(const std::uint8_t* data, std::size_t available) {
  return StatedSize(data, available) != 0;
}

std::unique_ptr<EndFinder> PstEnd(const std::uint8_t* data, std::size_t available) {
  return FixedLengthEnd(StatedSize(data, available));
}

const FileKind kPstKind{.tag = "PST",
                        .description = "Outlook personal folders",
                        .check = PstStart,
                        .make_finder = PstEnd};
