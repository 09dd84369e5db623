#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

using namespace document_walk;

namespace {

/// A help file's header: magic, directory start, first free block, whole file size.
std::uint64_t StatedSize(const std::uint8_t* d, std::size_t available) {
  if (available < 16) return 0;
  const std::uint32_t directory = Le32(d + 4), free_block = Le32(d + 8), size = Le32(d + 12);
  if (size < 16 || directory < 16 || directory >= size) return 0;
  if (free_block != 0xFFFFFFFF && (free_block < 16 || free_block >= size)) return 0;
  return size;
}

}  // namespace

bool HlpStart(const std::uint8_t* data, std::size_t available) {
  return StatedSize(data, available) != 0;
}

std::unique_ptr<EndFinder> HlpEnd(const std::uint8_t* data, std::size_t available) {
  return FixedLengthEnd(StatedSize(data, available));
}

const FileKind kHlpKind{
    .tag = "HLP", .description = "Windows help file", .check = HlpStart, .make_finder = HlpEnd};
