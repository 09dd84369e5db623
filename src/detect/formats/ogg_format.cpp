#include "detect/file_kind.h"
#include "detect/formats/format_bytes.h"
#include "detect/formats/record_walker.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

using document_walk::RecordWalker;

/// Ogg's CRC-32: polynomial 0x04C11DB7, not reflected, starting from 0, no final inversion. Row k
/// is a byte's share when k zero bytes follow it, for four at a time.
constexpr std::array<std::array<std::uint32_t, 256>, 4> kCrc = [] {
  std::array<std::array<std::uint32_t, 256>, 4> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? ((c << 1) ^ 0x04C11DB7u) : (c << 1);
    t[0][i] = c;
  }
  for (int k = 1; k < 4; ++k)
    for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
  return t;
}();

std::uint32_t OggCrc(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  for (; n >= 4; p += 4, n -= 4) {
    crc ^= Be32(p);
    crc = kCrc[3][crc >> 24] ^ kCrc[2][(crc >> 16) & 0xFF] ^ kCrc[1][(crc >> 8) & 0xFF] ^
          kCrc[0][crc & 0xFF];
  }
  for (; n > 0; ++p, --n) crc = (crc << 8) ^ kCrc[0][(crc >> 24) ^ *p];
  return crc;
}

/// The CRC of a page's header and lacing (`size` bytes), its own field taken as zeros.
std::uint32_t HeaderCrc(const std::uint8_t* p, std::size_t size) {
  static constexpr std::uint8_t kZeros[4] = {};
  std::uint32_t crc = OggCrc(0, p, 22);
  crc = OggCrc(crc, kZeros, 4);
  return OggCrc(crc, p + 26, size - 26);
}

constexpr std::size_t kPageHeader = 27;
/// The first bytes of a stream's first packet, which name its codec.
constexpr std::size_t kCodecBytes = 8;
/// Logical streams followed at once; more is no file this finder follows.
constexpr std::size_t kMaxStreams = 32;

constexpr std::uint8_t kContinued = 1, kFirst = 2, kLast = 4;

/// A page header: capture pattern, version 0, no unknown flag bits.
bool PageHeaderHolds(const std::uint8_t* p) {
  return std::memcmp(p, "OggS", 4) == 0 && p[4] == 0 && (p[5] & ~7u) == 0;
}

enum class Codec { kNone, kAudio, kOpus, kVideo, kSkeleton };

/// The codec a stream's first packet names.
Codec CodecOf(const std::uint8_t* p, std::size_t size) {
  const std::string_view s(reinterpret_cast<const char*>(p), std::min(size, kCodecBytes));
  if (s == "OpusHead") return Codec::kOpus;
  if (s.starts_with("\001vorbis") || s.starts_with("\177FLAC") || s == "Speex   ")
    return Codec::kAudio;
  if (s.starts_with("\x80theora")) return Codec::kVideo;
  if (s == std::string_view("fishead\0", 8)) return Codec::kSkeleton;
  return Codec::kNone;
}

/// The length of the page at `p` if its header and lacing are readable, else 0.
std::size_t PageLength(const std::uint8_t* p, std::size_t available) {
  if (available < kPageHeader || available < kPageHeader + p[26]) return 0;
  std::size_t length = kPageHeader + p[26];
  for (std::size_t i = 0; i < p[26]; ++i) length += p[kPageHeader + i];
  return length;
}

/// A stream's first page: the first-page flag, sequence and position 0, a first packet that names a
/// known codec, and its CRC where the whole page is readable. `codec` gets what it names.
bool FirstPageHolds(const std::uint8_t* p, std::size_t available, Codec& codec) {
  if (available < kPageHeader || !PageHeaderHolds(p) || (p[5] & (kFirst | kContinued)) != kFirst)
    return false;
  if (Le64(p + 6) != 0 || Le32(p + 18) != 0 || p[26] == 0) return false;
  const std::size_t segments = p[26], body = kPageHeader + segments;
  if (available < body) return false;
  // The first packet is the header packet alone: it ends on this page.
  std::size_t packet = 0, i = 0;
  for (; i < segments && p[kPageHeader + i] == 255; ++i) packet += 255;
  if (i == segments) return false;
  packet += p[kPageHeader + i];
  if (body + std::min(packet, kCodecBytes) > available) return false;
  codec = CodecOf(p + body, packet);
  if (codec == Codec::kNone) return false;
  const std::size_t length = PageLength(p, available);
  return length > available || OggCrc(HeaderCrc(p, body), p + body, length - body) == Le32(p + 22);
}

bool OggStart(const std::uint8_t* d, std::size_t available) {
  Codec codec = Codec::kNone;
  return FirstPageHolds(d, available, codec);
}

/// OGV when a video stream begins with the others, OPUS when the first stream is Opus, OGG
/// otherwise: the first pages, as far as they are readable.
std::string_view OggName(const std::uint8_t* d, std::size_t available) {
  Codec first = Codec::kNone, codec = Codec::kNone;
  std::size_t at = 0;
  for (int page = 0; page < 8 && FirstPageHolds(d + at, available - at, codec); ++page) {
    if (codec == Codec::kVideo) return "OGV";
    if (first == Codec::kNone && codec != Codec::kSkeleton) first = codec;
    const std::size_t length = PageLength(d + at, available - at);
    if (length == 0 || length > available - at) break;
    at += length;
  }
  return first == Codec::kOpus ? "OPUS" : "OGG";
}

/// Pages, each by its CRC, with every logical stream's pages numbered one by one from its first
/// page, up to the page that closes the last stream still open. A stream chained on (new first
/// pages right after, at no sector boundary) is taken as more of the same file.
class OggFinder final : public RecordWalker {
 public:
  OggFinder() : RecordWalker(kPageHeader + 255 + kCodecBytes) { Gather(kPageHeader); }

  EndVerdict Finish(std::uint64_t /*fed*/) override { return Close(good_); }

 private:
  struct Stream {
    std::uint32_t serial = 0;
    std::uint32_t next = 0;  ///< the page sequence number its next page must have
    bool ended = false;
  };

  enum class Phase { kHeader, kLacing, kCodec, kBody };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kHeader:
        page_ = at;
        if (!PageHeaderHolds(r)) return Close(at);
        phase_ = Phase::kLacing;
        Extend(kPageHeader + r[26]);
        return NeedMore();
      case Phase::kLacing: {
        body_ = 0;
        for (std::size_t i = 0; i < r[26]; ++i) body_ += r[kPageHeader + i];
        if ((r[5] & kFirst) && body_ > 0) {
          phase_ = Phase::kCodec;
          Extend(size + std::min(body_, kCodecBytes));
          return NeedMore();
        }
        return OnPageStart(r, size, at);
      }
      case Phase::kCodec:
        return OnPageStart(r, size, at);
      case Phase::kBody:
        return OnPageEnd();
    }
    return BrokenAt(at);
  }

  /// The header, the lacing and, on a first page, the first packet's first bytes.
  EndVerdict OnPageStart(const std::uint8_t* r, std::size_t size, std::uint64_t at) {
    const std::size_t head = kPageHeader + r[26];
    flags_ = r[5];
    serial_ = Le32(r + 14);
    sequence_ = Le32(r + 18);
    stated_crc_ = Le32(r + 22);
    codec_ = (flags_ & kFirst) ? CodecOf(r + head, size - head) : Codec::kNone;
    crc_ = OggCrc(HeaderCrc(r, head), r + head, size - head);
    phase_ = Phase::kBody;
    page_end_ = at + head + body_;
    Gather(0, head + body_ - size);
    return NeedMore();
  }
  void OnSkipped(const std::uint8_t* data, std::size_t size) override {
    crc_ = OggCrc(crc_, data, size);
  }

  /// A whole page went by: its CRC, then its place in its stream.
  EndVerdict OnPageEnd() {
    phase_ = Phase::kHeader;
    if (crc_ != stated_crc_) return Close(page_);
    Stream* stream = nullptr;
    for (std::size_t i = 0; i < count_; ++i)
      if (streams_[i].serial == serial_) stream = &streams_[i];
    if (flags_ & kFirst) {
      // A first page comes before every other page of its chain link. A link chained on must
      // name its codec; the file's own first pages were checked.
      if (!opening_ || stream != nullptr || sequence_ != 0 || count_ == kMaxStreams ||
          (chained_ && codec_ == Codec::kNone))
        return Close(page_);
      stream = &streams_[count_++];
      stream->serial = serial_;
      stream->next = 0;
      stream->ended = false;
      ++open_;
    } else {
      if (stream == nullptr || stream->ended || sequence_ != stream->next) return Close(page_);
      opening_ = false;
    }
    ++stream->next;
    good_ = page_end_;
    if (flags_ & kLast) {
      stream->ended = true;
      --open_;
    }
    chained_ = false;
    if (open_ == 0 && !opening_) {
      // The link is closed. Another may be chained on right after it.
      link_end_ = page_end_;
      if (page_end_ % 512 == 0) return EndsAt(page_end_);
      chained_ = true;
      opening_ = true;
      count_ = 0;
    }
    Gather(kPageHeader);
    return NeedMore();
  }

  /// The structure stops at `at`: the end after a closed link, broken otherwise.
  EndVerdict Close(std::uint64_t at) const { return chained_ ? EndsAt(link_end_) : BrokenAt(at); }

  Stream streams_[kMaxStreams];
  std::size_t count_ = 0;  ///< streams of the current link
  std::size_t open_ = 0;   ///< of them, not yet ended
  bool opening_ = true;    ///< no page but first pages yet in this link
  bool chained_ = false;   ///< a new link is being tried after a closed one
  Phase phase_ = Phase::kHeader;
  std::uint64_t page_ = 0, page_end_ = 0, link_end_ = 0;
  std::uint64_t good_ = 0;  ///< the end of the last page taken
  std::size_t body_ = 0;
  std::uint8_t flags_ = 0;
  std::uint32_t serial_ = 0, sequence_ = 0, stated_crc_ = 0, crc_ = 0;
  Codec codec_ = Codec::kNone;
};

std::unique_ptr<EndFinder> OggEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<OggFinder>();
}

}  // namespace

extern const FileKind kOggKind;
extern const FileKind kOgvKind;
extern const FileKind kOpusKind;
// One start test for the three: the first pages' codecs name the kind.
const FileKind kOggKind{.tag = "OGG",
                        .description = "Ogg Vorbis audio",
                        .check = OggStart,
                        .make_finder = OggEnd,
                        .name = OggName,
                        .first_bytes = "O"};
const FileKind kOgvKind{.tag = "OGV",
                        .description = "Ogg Theora video",
                        .check = OggStart,
                        .make_finder = OggEnd,
                        .name = OggName,
                        .first_bytes = "O"};
const FileKind kOpusKind{.tag = "OPUS",
                         .description = "Opus audio",
                         .check = OggStart,
                         .make_finder = OggEnd,
                         .name = OggName,
                         .first_bytes = "O"};
