#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

/// The RIFF chunk's size + 8, padded to even; 0 when a streaming writer left it open.
std::uint64_t RiffSize(const std::uint8_t* d) {
  const std::uint32_t size = Le32(d + 4);
  if (size < 4 || size == 0xFFFFFFFF) return 0;
  return (std::uint64_t{size} + 8 + 1) & ~std::uint64_t{1};
}

/// The RIFF chunk by its size; an AVI over 1 GB goes on with "RIFF" "AVIX" chunks, taken
/// as long as they follow.
class RiffFinder final : public RecordWalker {
 public:
  RiffFinder(std::uint64_t size, bool extended) : RecordWalker(12), extended_(extended) {
    end_ = size;
    if (extended_)
      Gather(12, size);
    else
      Gather(0, size);
  }
  EndVerdict Finish(std::uint64_t fed) override {
    return fed >= end_ ? EndsAt(end_) : BrokenAt(fed);
  }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    if (size == 12 && std::memcmp(r, "RIFF", 4) == 0 && std::memcmp(r + 8, "AVIX", 4) == 0 &&
        RiffSize(r) != 0) {
      end_ = at + RiffSize(r);
      Gather(12, RiffSize(r) - 12);
      return NeedMore();
    }
    return EndsAt(end_);
  }
  bool extended_;
  std::uint64_t end_ = 0;
};

/// The first chunk inside the form: a four-letter name and a size within the form.
bool FirstChunkHolds(const std::uint8_t* d, std::size_t available, const char* form,
                     const char* first) {
  if (available < 20 || std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, form, 4) != 0)
    return false;
  const std::uint32_t size = Le32(d + 4);
  if (size < 12 || !IsFourCc(d + 12)) return false;
  if (first != nullptr && std::memcmp(d + 12, first, 4) != 0) return false;
  return size == 0xFFFFFFFF || Le32(d + 16) <= size - 12;
}

}  // namespace

bool WavStart(const std::uint8_t* data, std::size_t available) {
  // "fmt " may follow other chunks ("JUNK", "bext", "LIST"), so any named chunk will do;
  // a "fmt " chunk must have a known length and channel count.
  if (!FirstChunkHolds(data, available, "WAVE", nullptr)) return false;
  if (std::memcmp(data + 12, "fmt ", 4) != 0) return true;
  const std::uint32_t length = Le32(data + 16);
  return available < 24 ||
         ((length == 16 || length == 18 || length == 20 || length == 40) && Le16(data + 22) >= 1);
}
std::unique_ptr<EndFinder> WavEnd(const std::uint8_t* data, std::size_t /*available*/) {
  const std::uint64_t size = RiffSize(data);
  return size != 0 ? std::make_unique<RiffFinder>(size, false) : nullptr;
}

bool AviStart(const std::uint8_t* data, std::size_t available) {
  return FirstChunkHolds(data, available, "AVI ", "LIST") &&
         (available < 24 || std::memcmp(data + 20, "hdrl", 4) == 0);
}
std::unique_ptr<EndFinder> AviEnd(const std::uint8_t* data, std::size_t /*available*/) {
  const std::uint64_t size = RiffSize(data);
  return size != 0 ? std::make_unique<RiffFinder>(size, true) : nullptr;
}

}  // namespace media

const FileKind kAviKind{.tag = "AVI",
                        .description = "AVI video",
                        .check = media::AviStart,
                        .make_finder = media::AviEnd};
const FileKind kWavKind{.tag = "WAV",
                        .description = "WAVE audio",
                        .check = media::WavStart,
                        .make_finder = media::WavEnd};
