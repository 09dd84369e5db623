#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

using Guid = std::uint8_t[16];
constexpr Guid kHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kData = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kSimpleIndex = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                               0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
constexpr Guid kIndex = {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                         0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};
constexpr Guid kMediaIndex = {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C,
                              0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C};
constexpr Guid kTimecodeIndex = {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48,
                                 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C};

bool Is(const std::uint8_t* p, const Guid& guid) {
  return std::memcmp(p, guid, 16) == 0;
}

/// The header object: a size that holds its objects, a sane object count, reserved 1 and 2.
bool HeaderHolds(const std::uint8_t* d, std::size_t available) {
  if (available < 30 || !Is(d, kHeader)) return false;
  const std::uint64_t size = Le64(d + 16);
  const std::uint32_t objects = Le32(d + 24);
  return size >= 30 + 24 && size < (1u << 24) && objects >= 1 && objects <= 1024 && d[28] == 1 &&
         d[29] == 2;
}

/// The file size the file properties object states (0 when a broadcast left it unset or
/// the object lies beyond the bytes seen).
std::uint64_t StatedSize(const std::uint8_t* d, std::size_t available) {
  const std::uint64_t header = Le64(d + 16);
  for (std::uint64_t at = 30; at + 24 <= header && at + 24 <= available;) {
    const std::uint64_t size = Le64(d + at + 16);
    if (size < 24 || size > header) return 0;  // also keeps `at` from wrapping
    if (Is(d + at, kFileProperties)) {
      if (at + 96 > available || (d[at + 88] & 1) != 0) return 0;
      return Le64(d + at + 40);
    }
    at += size;
  }
  return 0;
}

/// Top-level objects: the header, the data object and the indexes. The file ends before
/// the first object of another kind; when the header states the file's size, the walk
/// must come out there.
class AsfFinder final : public RecordWalker {
 public:
  explicit AsfFinder(std::uint64_t stated) : RecordWalker(24), stated_(stated) { Gather(24); }
  EndVerdict Finish(std::uint64_t fed) override {
    return fed == boundary_ && seen_data_ && (stated_ == 0 || stated_ == fed) ? EndsAt(fed)
                                                                              : BrokenAt(fed);
  }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t /*size*/, std::uint64_t at) override {
    boundary_ = at;
    if (seen_data_ && stated_ != 0 && at == stated_) return EndsAt(at);
    const std::uint64_t size = Le64(r + 16);
    if (at > 0 && Is(r, kData) && size < 50) return Unknown();  // a broadcast's open data object
    const bool known = (at == 0 && Is(r, kHeader)) || (at > 0 && Is(r, kData)) ||
                       Is(r, kSimpleIndex) || Is(r, kIndex) || Is(r, kMediaIndex) ||
                       Is(r, kTimecodeIndex);
    if (!known || size < 24 || (stated_ != 0 && at + size > stated_)) {
      if (seen_data_ && stated_ == 0) return EndsAt(at);
      return BrokenAt(at);
    }
    if (Is(r, kData)) seen_data_ = true;
    boundary_ = at + size;
    Gather(24, size - 24);
    return NeedMore();
  }

  std::uint64_t stated_, boundary_ = 0;
  bool seen_data_ = false;
};

}  // namespace

bool AsfStart(const std::uint8_t* data, std::size_t available) {
  return HeaderHolds(data, available);
}

std::unique_ptr<EndFinder> AsfEnd(const std::uint8_t* data, std::size_t available) {
  return std::make_unique<AsfFinder>(StatedSize(data, available));
}

}  // namespace media

const FileKind kAsfKind{.tag = "ASF",
                        .description = "Advanced Systems Format media",
                        .check = media::AsfStart,
                        .make_finder = media::AsfEnd};
