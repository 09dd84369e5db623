#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

namespace media {
namespace {

/// Colour table bytes a packed field announces (bit 7 set: 3 * 2^(n+1) entries).
std::size_t ColourTable(std::uint8_t packed) {
  return (packed & 0x80) ? 3u << ((packed & 7) + 1) : 0;
}

/// Blocks to the trailer 0x3B: images (descriptor, colour table, code size, sub-blocks)
/// and extensions (label, sub-blocks). Any other introducer breaks the file there.
class GifFinder final : public RecordWalker {
 public:
  GifFinder() : RecordWalker(16) { Gather(13); }

 private:
  enum class Phase { kScreen, kBlock, kImage, kCodeSize, kLabel, kSubBlock };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t /*size*/, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kScreen:
        phase_ = Phase::kBlock;
        Gather(1, ColourTable(r[10]));
        return NeedMore();
      case Phase::kBlock:
        block_ = at;
        if (r[0] == 0x3B) return EndsAt(at + 1);
        if (r[0] == 0x2C) {
          phase_ = Phase::kImage;
          Gather(9);
        } else if (r[0] == 0x21) {
          phase_ = Phase::kLabel;
          Gather(1);
        } else {
          return BrokenAt(at);
        }
        return NeedMore();
      case Phase::kImage:
        phase_ = Phase::kCodeSize;
        Gather(1, ColourTable(r[8]));
        return NeedMore();
      case Phase::kCodeSize:
        if (r[0] < 1 || r[0] > 12) return BrokenAt(block_);
        [[fallthrough]];
      case Phase::kLabel:
        phase_ = Phase::kSubBlock;
        Gather(1);
        return NeedMore();
      case Phase::kSubBlock:
        if (r[0] == 0) phase_ = Phase::kBlock;
        Gather(1, r[0]);
        return NeedMore();
    }
    return BrokenAt(at);
  }
  EndVerdict Finish(std::uint64_t /*fed*/) override { return BrokenAt(block_); }

  Phase phase_ = Phase::kScreen;
  std::uint64_t block_ = 13;
};

}  // namespace

bool GifStart(const std::uint8_t* d, std::size_t available) {
  if (available < 14) return false;
  const unsigned width = Le16(d + 6), height = Le16(d + 8);
  if (width == 0 || height == 0) return false;
  const std::size_t first = 13 + ColourTable(d[10]);
  return first >= available || d[first] == 0x21 || d[first] == 0x2C || d[first] == 0x3B;
}

std::unique_ptr<EndFinder> GifEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<GifFinder>();
}

}  // namespace media

const FileKind kGifKind{.tag = "GIF",
                        .description = "GIF picture",
                        .check = media::GifStart,
                        .make_finder = media::GifEnd,
                        .preview = KindPreview::kPicture};
