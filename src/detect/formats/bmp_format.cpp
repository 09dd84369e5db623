#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstdlib>

namespace media {
namespace {

/// The length a bitmap's headers state, checked against its dimensions and depth: 0 when
/// the headers are not a bitmap's.
std::uint64_t StatedSize(const std::uint8_t* d, std::size_t available) {
  if (available < 54) return 0;
  const std::uint32_t stated = Le32(d + 2), pixels = Le32(d + 10), info = Le32(d + 14);
  if (Le32(d + 6) != 0) return 0;
  std::int64_t width = 0, height = 0;
  unsigned planes = 0, bpp = 0, compression = 0;
  if (info == 12) {
    width = Le16(d + 18);
    height = Le16(d + 20);
    planes = Le16(d + 22);
    bpp = Le16(d + 24);
  } else if (info == 40 || info == 52 || info == 56 || info == 64 || info == 108 || info == 124) {
    width = static_cast<std::int32_t>(Le32(d + 18));
    height = std::llabs(static_cast<std::int32_t>(Le32(d + 22)));
    planes = Le16(d + 26);
    bpp = Le16(d + 28);
    compression = Le32(d + 30);
  } else {
    return 0;
  }
  if (planes != 1 || width <= 0 || height <= 0 || width > 1 << 20 || height > 1 << 20) return 0;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return 0;
  const std::uint64_t row = (static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4;
  const std::uint64_t image = row * static_cast<std::uint64_t>(height);
  // Writers of uncompressed bitmaps may leave the size field zero.
  const std::uint64_t size = stated != 0 || compression != 0 ? stated : pixels + image;
  if (compression > 6 || pixels < 14 + info || pixels > size) return 0;
  // Uncompressed pixels fill the file to its stated end (a writer may pad a little).
  if (compression == 0 || compression == 3 || compression == 6) {
    if (size < pixels + image || size > pixels + image + 1024) return 0;
  } else if (compression == 1 || compression == 2) {
    if (size > pixels + image * 2 + 2 * static_cast<std::uint64_t>(height) + 2) return 0;
  }
  return size;
}

}  // namespace

bool BmpStart(const std::uint8_t* data, std::size_t available) {
  return StatedSize(data, available) != 0;
}

std::unique_ptr<EndFinder> BmpEnd(const std::uint8_t* data, std::size_t available) {
  return FixedLengthFinder(StatedSize(data, available));
}

}  // namespace media

const FileKind kBmpKind{.tag = "BMP",
                        .description = "Windows bitmap",
                        .check = media::BmpStart,
                        .make_finder = media::BmpEnd,
                        .preview = KindPreview::kPicture};
