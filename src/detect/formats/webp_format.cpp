#include "detect/file_kind.h"
#include "detect/formats/media_walker.h"

#include <algorithm>
#include <cstring>

namespace {

using media::IsFourCc;
using media::RecordWalker;

/// The chunks inside the form by their sizes; the file ends where the RIFF size says, and
/// a chunk that is no chunk or that runs past the form breaks it where that chunk begins.
class WebpFinder final : public RecordWalker {
 public:
  explicit WebpFinder(std::uint64_t end) : RecordWalker(8), end_(end) { Gather(8, 12); }
  EndVerdict Finish(std::uint64_t fed) override {
    if (fed >= end_) return EndsAt(end_);
    return BrokenAt(fed >= next_ ? next_ : chunk_);
  }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    if (size == 0) return EndsAt(end_);
    chunk_ = at;
    const std::uint32_t length = Le32(r + 4);
    if (end_ - at < 8 || !IsFourCc(r) || length > end_ - at - 8) return BrokenAt(at);
    // The last chunk's pad byte may be left out when the form's size leaves it out too.
    next_ = std::min(at + 8 + length + (length & 1), end_);
    if (next_ == end_) {
      Gather(0, end_ - at - 8);
      return NeedMore();
    }
    Gather(8, next_ - at - 8);
    return NeedMore();
  }

  std::uint64_t end_;
  std::uint64_t chunk_ = 0, next_ = 12;
};

bool WebpStart(const std::uint8_t* d, std::size_t available) {
  if (available < 20 || std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WEBPVP8", 7) != 0)
    return false;
  const std::uint32_t size = Le32(d + 4), length = Le32(d + 16);
  if (size % 2 != 0 || size < 12 || length > size - 12) return false;
  switch (d[15]) {
    case ' ':
      // A key frame: its start code and a picture of some size.
      if (length < 10) return false;
      if (available < 30) return true;
      return (d[20] & 1) == 0 && d[23] == 0x9D && d[24] == 0x01 && d[25] == 0x2A &&
             (Le16(d + 26) & 0x3FFF) != 0 && (Le16(d + 28) & 0x3FFF) != 0;
    case 'L':
      // The lossless signature byte and a version of 0.
      return length >= 5 && (available < 25 || (d[20] == 0x2F && (d[24] >> 5) == 0));
    case 'X':
      // The extended header is 10 bytes, and another chunk follows it.
      if (length != 10 || size < 4 + 18 + 8) return false;
      return available < 38 || (IsFourCc(d + 30) && Le32(d + 34) <= size - 4 - 18 - 8);
    default:
      return false;
  }
}

std::unique_ptr<EndFinder> WebpEnd(const std::uint8_t* data, std::size_t /*available*/) {
  return std::make_unique<WebpFinder>(std::uint64_t{Le32(data + 4)} + 8);
}

}  // namespace

extern const FileKind kWebpKind;

const FileKind kWebpKind{.tag = "WEBP",
                         .description = "WebP picture",
                         .check = WebpStart,
                         .make_finder = WebpEnd,
                         .first_bytes = "R",
                         .preview = KindPreview::kPicture};
