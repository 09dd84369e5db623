#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

/// Chunks a RealMedia file holds at its top level.
bool IsChunk(const std::uint8_t* id) {
  static constexpr const char* kIds[] = {".RMF", "PROP", "MDPR", "CONT", "DATA",
                                         "INDX", "RMMD", "RJMD", "RMJE"};
  for (const char* k : kIds)
    if (std::memcmp(id, k, 4) == 0) return true;
  return false;
}

/// Chunks by their sizes; inside a data chunk, its stated number of packets by their
/// lengths (writers do not always get the chunk's size right). The file ends at a chunk
/// header of zeros, or before the first bytes that are no chunk once data went by.
class RealMediaFinder final : public RecordWalker {
 public:
  RealMediaFinder() : RecordWalker(16) { Gather(8); }
  EndVerdict Finish(std::uint64_t fed) override {
    return fed == boundary_ && data_ ? EndsAt(fed) : BrokenAt(start_);
  }

 private:
  enum class Phase { kChunk, kDataHeader, kPacket };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t /*size*/, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kChunk: {
        start_ = at;
        const std::uint32_t size = Be32(r + 4);
        if (data_ && Be32(r) == 0 && size == 0) return EndsAt(at + 8);
        if (!IsChunk(r) || size < 10) return data_ ? EndsAt(at) : BrokenAt(at);
        if (std::memcmp(r, "DATA", 4) == 0) {
          if (size < 18) return Unknown();
          data_ = true;
          chunk_end_ = at + size;
          phase_ = Phase::kDataHeader;
          Gather(10);
          return NeedMore();
        }
        boundary_ = at + size;
        Gather(8, size - 8);
        return NeedMore();
      }
      case Phase::kDataHeader:
        packets_ = Be32(r + 2);
        boundary_ = at + 10;
        if (packets_ == 0) {
          // No count: trust the chunk's size.
          phase_ = Phase::kChunk;
          boundary_ = chunk_end_;
          Gather(8, chunk_end_ - Taken());
          return NeedMore();
        }
        phase_ = Phase::kPacket;
        Gather(4);
        return NeedMore();
      case Phase::kPacket: {
        start_ = at;
        const unsigned version = Be16(r), length = Be16(r + 2);
        if (version > 1 || length < 12U + version) return BrokenAt(at);
        boundary_ = at + length;
        if (--packets_ == 0) phase_ = Phase::kChunk;
        Gather(phase_ == Phase::kChunk ? 8 : 4, length - 4);
        return NeedMore();
      }
    }
    return BrokenAt(at);
  }

  Phase phase_ = Phase::kChunk;
  bool data_ = false;
  std::uint32_t packets_ = 0;
  std::uint64_t boundary_ = 0, chunk_end_ = 0, start_ = 0;
};

}  // namespace

bool RealMediaStart(const std::uint8_t* data, std::size_t available) {
  // The file header chunk (version 0 or 1), then the properties chunk.
  if (available < 18 || std::memcmp(data, ".RMF", 4) != 0) return false;
  const std::uint32_t size = Be32(data + 4);
  if (size < 16 || size > 64 || Be16(data + 8) > 1) return false;
  return size + 8 > available || std::memcmp(data + size, "PROP", 4) == 0;
}

std::unique_ptr<EndFinder> RealMediaEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<RealMediaFinder>();
}

}  // namespace media

const FileKind kRmKind{.tag = "RM",
                       .description = "RealMedia file",
                       .check = media::RealMediaStart,
                       .make_finder = media::RealMediaEnd};
