#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"
#include "detect/formats/tiff_format.h"

#include <algorithm>
#include <cstring>

namespace media {
namespace {

/// A Canon CIFF header: byte order, a header length of 26 or more, "HEAPCCDR", version 1.x.
bool IsCiff(const std::uint8_t* d, std::size_t available) {
  if (available < 26 || std::memcmp(d + 6, "HEAPCCDR", 8) != 0) return false;
  const bool big = d[0] == 'M' && d[1] == 'M';
  if (!big && !(d[0] == 'I' && d[1] == 'I')) return false;
  const std::uint32_t header = big ? Be32(d + 2) : Le32(d + 2);
  const std::uint32_t version = big ? Be32(d + 14) : Le32(d + 14);
  return header >= 26 && header <= 512 && (version >> 16) == 1;
}

/// A Fuji raw's stated parts: preview JPEG, CFA header and CFA data, each offset and length
/// (big-endian) from byte 84. 0 when they do not hold.
std::uint64_t RafSize(const std::uint8_t* d, std::size_t available) {
  if (available < 108 || std::memcmp(d, "FUJIFILMCCD-RAW ", 16) != 0) return 0;
  for (int i = 16; i < 20; ++i)
    if (d[i] < '0' || d[i] > '9') return 0;
  std::uint64_t end = 108;
  for (int part = 0; part < 3; ++part) {
    const std::uint64_t offset = Be32(d + 84 + part * 8), length = Be32(d + 88 + part * 8);
    if (length == 0) continue;
    if (offset < 84) return 0;
    end = std::max(end, offset + length);
  }
  return end > 108 ? end : 0;
}

/// A Minolta raw: "\0MRM" and the length of its header blocks, the first block "\0PRD" with
/// the sensor size and the bits per sample; the raw pixels follow the blocks. 0 when the
/// header does not hold.
std::uint64_t MrwSize(const std::uint8_t* d, std::size_t available) {
  if (available < 40 || std::memcmp(d, "\0MRM", 4) != 0 || std::memcmp(d + 8, "\0PRD", 4) != 0)
    return 0;
  const std::uint64_t blocks = Be32(d + 4), prd = Be32(d + 12);
  if (blocks < 8 + prd || blocks > (1 << 20) || prd < 24) return 0;
  const std::uint64_t height = Be16(d + 24), width = Be16(d + 26);
  const unsigned bits = d[32], storage = d[34];
  if (height == 0 || width == 0 || (bits != 12 && bits != 16)) return 0;
  if (storage != 0x52 && storage != 0x59) return 0;
  const unsigned stored_bits = storage == 0x59 ? 12 : 16;
  return 8 + blocks + height * width * stored_bits / 8;
}

}  // namespace

bool CrwStart(const std::uint8_t* data, std::size_t available) {
  // The CIFF heap, or a TIFF-based raw that names the camera at byte 250.
  return IsCiff(data, available) || (TiffStart(data, available) && available >= 262);
}

std::unique_ptr<EndFinder> CrwEnd(const std::uint8_t* data, std::size_t available) {
  // A CIFF heap's directory sits at its end and states no length: the end is not told.
  return IsCiff(data, available) ? nullptr : TiffEnd(data, available);
}

bool RafStart(const std::uint8_t* data, std::size_t available) {
  return RafSize(data, available) != 0;
}
std::unique_ptr<EndFinder> RafEnd(const std::uint8_t* data, std::size_t available) {
  return FixedLengthFinder(RafSize(data, available));
}

bool MrwStart(const std::uint8_t* data, std::size_t available) {
  return MrwSize(data, available) != 0;
}
std::unique_ptr<EndFinder> MrwEnd(const std::uint8_t* data, std::size_t available) {
  return FixedLengthFinder(MrwSize(data, available));
}

}  // namespace media

const FileKind kCrwKind{.tag = "CRW",
                        .description = "Canon raw photo",
                        .check = media::CrwStart,
                        .make_finder = media::CrwEnd};
const FileKind kMrwKind{.tag = "MRW",
                        .description = "Minolta raw photo",
                        .check = media::MrwStart,
                        .make_finder = media::MrwEnd};
const FileKind kRafKind{.tag = "RAF",
                        .description = "Fuji raw photo",
                        .check = media::RafStart,
                        .make_finder = media::RafEnd};
