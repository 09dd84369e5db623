#include "detect/file_catalogue.h"
#include "detect/formats/crc32.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsLetter(std::uint8_t b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

/// Chunks to IEND, each checked by its CRC; a chunk whose type is not four letters or
/// whose CRC fails breaks the file where that chunk begins.
class PngFinder final : public RecordWalker {
 public:
  PngFinder() : RecordWalker(8) { Gather(8, sizeof kSignature); }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t /*size*/, std::uint64_t at) override {
    if (!in_body_) {
      const std::uint32_t length = Be32(r);
      if (length > 0x7FFFFFFF || !IsLetter(r[4]) || !IsLetter(r[5]) || !IsLetter(r[6]) ||
          !IsLetter(r[7]))
        return BrokenAt(at);
      chunk_ = at;
      iend_ = std::memcmp(r + 4, "IEND", 4) == 0;
      crc_ = Crc32Update(0xFFFFFFFFu, r + 4, 4);
      in_body_ = true;
      Gather(4, length);
      return NeedMore();
    }
    if ((crc_ ^ 0xFFFFFFFFu) != Be32(r)) return BrokenAt(chunk_);
    if (iend_) return EndsAt(at + 4);
    in_body_ = false;
    Gather(8);
    return NeedMore();
  }
  void OnSkipped(const std::uint8_t* data, std::size_t size) override {
    crc_ = Crc32Update(crc_, data, size);
  }
  EndVerdict Finish(std::uint64_t /*fed*/) override { return BrokenAt(chunk_); }

  bool in_body_ = false, iend_ = false;
  std::uint32_t crc_ = 0;
  std::uint64_t chunk_ = sizeof kSignature;
};

}  // namespace

bool PngStart(const std::uint8_t* d, std::size_t available) {
  // The header chunk first: 13 bytes, sane size and depth, and its CRC holds.
  if (available < 33 || std::memcmp(d, kSignature, 8) != 0) return false;
  if (Be32(d + 8) != 13 || std::memcmp(d + 12, "IHDR", 4) != 0) return false;
  const std::uint32_t width = Be32(d + 16), height = Be32(d + 20);
  const unsigned depth = d[24], colour = d[25];
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
  if (depth == 0 || depth > 16 || (depth & (depth - 1)) != 0) return false;
  if (colour > 6 || colour == 1 || colour == 5 || d[26] != 0 || d[27] != 0 || d[28] > 1)
    return false;
  return (Crc32Update(0xFFFFFFFFu, d + 12, 17) ^ 0xFFFFFFFFu) == Be32(d + 29);
}

std::unique_ptr<EndFinder> PngEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<PngFinder>();
}

}  // namespace media

const FileKind kPngKind{.tag = "PNG",
                        .description = "PNG picture",
                        .check = media::PngStart,
                        .make_finder = media::PngEnd,
                        .preview = KindPreview::kPicture};
