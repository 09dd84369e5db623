#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

/// The length of an MPEG-1 (12 bytes) or MPEG-2 (14 + stuffing) pack header with its
/// marker bits set; 0 when the bytes are no pack header.
std::size_t PackLength(const std::uint8_t* p, std::size_t available) {
  if (available < 14 || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != 0xBA) return 0;
  if ((p[4] & 0xF1) == 0x21)
    return (p[6] & 1) && (p[8] & 1) && (p[9] & 0x80) && (p[11] & 1) ? 12 : 0;
  if ((p[4] & 0xC4) == 0x44)
    return (p[6] & 4) && (p[8] & 4) && (p[9] & 1) && (p[12] & 3) == 3 ? 14 + (p[13] & 7) : 0;
  return 0;
}

/// A sequence header: a size, a known aspect ratio and frame rate, and its marker bit.
bool SequenceHolds(const std::uint8_t* p, std::size_t available) {
  if (available < 12 || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != 0xB3) return false;
  const unsigned width = (p[4] << 4) | (p[5] >> 4), height = ((p[5] & 15) << 8) | p[6];
  const unsigned aspect = p[7] >> 4, rate = p[7] & 15;
  return width > 0 && height > 0 && aspect >= 1 && aspect <= 14 && rate >= 1 && rate <= 8 &&
         (p[10] & 0x20) != 0;
}

/// The system clock reference of a pack (90 kHz units) from its bytes 4-11, MPEG-1 or -2.
std::uint64_t PackClock(const std::uint8_t* b) {
  if ((b[0] & 0xC0) == 0x40)
    return std::uint64_t{(b[0] >> 3) & 7u} << 30 | std::uint64_t{b[0] & 3u} << 28 |
           std::uint64_t{b[1]} << 20 | (std::uint64_t{b[2]} >> 3) << 15 |
           std::uint64_t{b[2] & 3u} << 13 | std::uint64_t{b[3]} << 5 | (b[4] >> 3);
  return std::uint64_t{(b[0] >> 1) & 7u} << 30 | std::uint64_t{b[1]} << 22 |
         (std::uint64_t{b[2]} >> 1) << 15 | std::uint64_t{b[3]} << 7 | (b[4] >> 1);
}

/// A program stream: packs, system headers and packets by their lengths to the end code
/// 00 00 01 B9, or to the first bytes after a whole packet that are no start code. A
/// pack whose clock goes back is the start of another stream written right after this
/// one (files without an end code, stored one after the other).
class ProgramStreamFinder final : public RecordWalker {
 public:
  ProgramStreamFinder() : RecordWalker(16) { Gather(4); }

 private:
  enum class Phase { kCode, kPack, kPackTail, kLength };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t /*size*/, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kCode:
        // Many writers close with the last packet, no end code: what follows is no
        // start code.
        if (r[0] != 0 || r[1] != 0 || r[2] != 1 || r[3] < 0xB9)
          return at > 0 ? EndsAt(at) : BrokenAt(at);
        packet_ = at;
        if (r[3] == 0xB9) return EndsAt(at + 4);
        phase_ = r[3] == 0xBA ? Phase::kPack : Phase::kLength;
        Gather(r[3] == 0xBA ? 8 : 2);
        return NeedMore();
      case Phase::kPack: {
        // Bytes 4-11 of the pack: MPEG-1 ends here, MPEG-2 has two more and stuffing.
        std::uint8_t head[14] = {0, 0, 1, 0xBA};
        std::memcpy(head + 4, r, 8);
        head[12] = 0xFF;
        head[13] = 0;
        if (PackLength(head, sizeof head) == 0) return BrokenAt(packet_);
        const std::uint64_t clock = PackClock(r);
        if (packs_ > 0 && clock < clock_) return EndsAt(packet_);
        clock_ = clock;
        ++packs_;
        phase_ = (r[0] & 0xC0) == 0x40 ? Phase::kPackTail : Phase::kCode;
        Gather(phase_ == Phase::kCode ? 4 : 2);
        return NeedMore();
      }
      case Phase::kPackTail:
        if ((r[0] & 3) != 3) return BrokenAt(packet_);
        phase_ = Phase::kCode;
        Gather(4, r[1] & 7);
        return NeedMore();
      case Phase::kLength:
        phase_ = Phase::kCode;
        Gather(4, Be16(r));
        return NeedMore();
    }
    return BrokenAt(at);
  }
  EndVerdict Finish(std::uint64_t /*fed*/) override { return BrokenAt(packet_); }

  Phase phase_ = Phase::kCode;
  std::uint64_t packet_ = 0;
  std::uint64_t clock_ = 0;  ///< the last pack's clock
  std::uint64_t packs_ = 0;
};

/// An elementary video stream: picture data up to the sequence end code 00 00 01 B7,
/// found with memchr for its last byte.
class ElementaryStreamFinder final : public EndFinder {
 public:
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    const std::uint8_t* p = data.data();
    const std::size_t n = data.size();
    for (std::size_t i = 0; i < n;) {
      const void* hit = std::memchr(p + i, 0xB7, n - i);
      if (hit == nullptr) break;
      const std::size_t at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - p);
      // The three bytes before it, some perhaps from the previous piece.
      std::uint8_t before[3];
      for (int k = 0; k < 3; ++k) {
        const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(at) - 3 + k;
        before[k] = j >= 0 ? p[j] : tail_[3 + j];
      }
      if (before[0] == 0 && before[1] == 0 && before[2] == 1 && fed_ + at >= 7)
        return EndsAt(fed_ + at + 1);
      i = at + 1;
    }
    for (std::size_t k = 0; k < 3; ++k) {
      // Keep the last three bytes of everything fed.
      const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(n) - 3 + static_cast<std::ptrdiff_t>(k);
      tail_[k] = j >= 0 ? p[j] : tail_[k + n];
    }
    fed_ += n;
    return NeedMore();
  }
  /// Without its end code a stream's end cannot be told.
  EndVerdict Finish(std::uint64_t /*fed*/) override { return Unknown(); }

 private:
  std::uint8_t tail_[3] = {0xFF, 0xFF, 0xFF};
  std::uint64_t fed_ = 0;
};

}  // namespace

bool MpegStart(const std::uint8_t* data, std::size_t available) {
  if (available >= 4 && data[3] == 0xB3) return SequenceHolds(data, available);
  // A program stream opens with a pack and, in its first pack, the system header; packs
  // further in lack it, so a stream is not cut into pieces at each of them.
  const std::size_t pack = PackLength(data, available);
  if (pack == 0 || pack + 4 > available) return false;
  return data[pack] == 0 && data[pack + 1] == 0 && data[pack + 2] == 1 && data[pack + 3] == 0xBB;
}

std::unique_ptr<EndFinder> MpegEnd(const std::uint8_t* data, std::size_t /*available*/) {
  if (data[3] == 0xB3) return std::make_unique<ElementaryStreamFinder>();
  return std::make_unique<ProgramStreamFinder>();
}

}  // namespace media

const FileKind kMpgKind{.tag = "MPG",
                        .description = "MPEG video",
                        .check = media::MpegStart,
                        .make_finder = media::MpegEnd};
