#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

/// The fixed header: version 1 (PSD) or 2 (PSB), sane channels, size, depth and mode.
bool HeaderHolds(const std::uint8_t* d, std::size_t available) {
  if (available < 26 || std::memcmp(d, "8BPS", 4) != 0) return false;
  const unsigned version = Be16(d + 4), channels = Be16(d + 12), depth = Be16(d + 22),
                 mode = Be16(d + 24);
  const std::uint32_t height = Be32(d + 14), width = Be32(d + 18);
  const std::uint32_t limit = version == 1 ? 30000 : 300000;
  if (version != 1 && version != 2) return false;
  for (int i = 6; i < 12; ++i)
    if (d[i] != 0) return false;
  if (channels < 1 || channels > 56 || height < 1 || width < 1 || height > limit || width > limit)
    return false;
  if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return false;
  return mode <= 9 && mode != 5 && mode != 6;
}

/// Colour mode data, image resources, layers and masks by their lengths, then the merged
/// image: raw planes, or RLE rows whose byte counts come first. Zip-compressed image data
/// states no length.
class PsdFinder final : public RecordWalker {
 public:
  explicit PsdFinder(const std::uint8_t* d)
      : RecordWalker(16384),
        wide_(Be16(d + 4) == 2),
        rows_(std::uint64_t{Be16(d + 12)} * Be32(d + 14)),
        plane_row_((std::uint64_t{Be32(d + 18)} * Be16(d + 22) + 7) / 8) {
    Gather(4, 26);
  }

 private:
  enum class Phase { kColour, kResources, kLayers, kCompression, kCounts, kEnd };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kColour:
        phase_ = Phase::kResources;
        Gather(4, Be32(r));
        return NeedMore();
      case Phase::kResources:
        phase_ = Phase::kLayers;
        Gather(wide_ ? 8 : 4, Be32(r));
        return NeedMore();
      case Phase::kLayers:
        phase_ = Phase::kCompression;
        Gather(2, wide_ ? Be64(r) : Be32(r));
        return NeedMore();
      case Phase::kCompression: {
        const unsigned method = Be16(r);
        if (method == 0) {
          phase_ = Phase::kEnd;
          Gather(0, rows_ * plane_row_);
          return NeedMore();
        }
        if (method == 2 || method == 3) return Unknown();
        if (method != 1) return BrokenAt(at);
        phase_ = Phase::kCounts;
        return AskCounts();
      }
      case Phase::kCounts: {
        const std::size_t unit = wide_ ? 4 : 2;
        for (std::size_t i = 0; i + unit <= size; i += unit) {
          const std::uint64_t count = wide_ ? Be32(r + i) : Be16(r + i);
          if (count > plane_row_ * 2 + 2) return BrokenAt(at);
          packed_ += count;
        }
        counted_ += size / unit;
        if (counted_ < rows_) return AskCounts();
        phase_ = Phase::kEnd;
        Gather(0, packed_);
        return NeedMore();
      }
      case Phase::kEnd:
        return EndsAt(at);
    }
    return BrokenAt(at);
  }

  EndVerdict AskCounts() {
    const std::size_t unit = wide_ ? 4 : 2;
    Gather(
        static_cast<std::size_t>(std::min<std::uint64_t>((rows_ - counted_) * unit, Capacity())));
    return NeedMore();
  }

  bool wide_;
  std::uint64_t rows_, plane_row_;
  Phase phase_ = Phase::kColour;
  std::uint64_t counted_ = 0, packed_ = 0;
};

}  // namespace

bool PsdStart(const std::uint8_t* data, std::size_t available) {
  if (!HeaderHolds(data, available)) return false;
  // The colour mode data is empty except for indexed (768) and duotone pictures.
  if (available < 30) return true;
  const std::uint32_t colour = Be32(data + 26), mode = Be16(data + 24);
  if (mode == 2) return colour == 768;
  if (mode != 8 && colour != 0) return false;
  const std::uint64_t resources_at = 30 + std::uint64_t{colour};
  if (resources_at + 8 + 4 > available) return true;
  // The first image resource, if any, is an "8BIM" block.
  const std::uint32_t resources = Be32(data + resources_at);
  return resources == 0 || std::memcmp(data + resources_at + 4, "8BIM", 4) == 0;
}

std::unique_ptr<EndFinder> PsdEnd(const std::uint8_t* data, std::size_t /*available*/) {
  return std::make_unique<PsdFinder>(data);
}

}  // namespace media

const FileKind kPsdKind{.tag = "PSD",
                        .description = "Photoshop image",
                        .check = media::PsdStart,
                        .make_finder = media::PsdEnd,
                        .preview = KindPreview::kPicture};
