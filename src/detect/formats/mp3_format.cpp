#include "detect/file_kind.h"
#include "detect/formats/format_bytes.h"
#include "detect/formats/record_walker.h"

#include <algorithm>
#include <cstring>

namespace {

using document_walk::RecordWalker;

/// Kilobits per second by bitrate index: MPEG-1 Layer II, MPEG-1 Layer III, and MPEG-2 and 2.5
/// Layers II and III. Index 0 is free format, which gives no frame length.
constexpr std::uint16_t kKbps[3][16] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};
/// Samples per second by the version bits (2.5, reserved, 2, 1) and the rate index.
constexpr std::uint32_t kRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

/// The bytes a frame header is read from: an ADTS header's length field ends in the sixth.
constexpr std::size_t kHeadBytes = 7;
/// Room for the largest record gathered: an ID3v1 tag with its enhanced block before it.
constexpr std::size_t kMaxRecord = 227 + 128;
/// The most a frame is looked at: enough for a Xing or VBRI header's byte count.
constexpr std::size_t kPeekBytes = 56;
/// Zero bytes taken between an ID3v2 tag and the first frame.
constexpr std::uint64_t kMaxPadding = 65536;

/// What a frame header says.
struct Frame {
  std::uint32_t length = 0;  ///< the whole frame in bytes, the padding slot included
  std::uint32_t key = 0;     ///< version, layer, sample rate and mono: one value per file
  std::size_t info_at = 0;   ///< where a Xing or Info header begins, after the side data
  bool layer3 = false;
  bool crc = false;
};

/// A Layer II or III frame header of a known bitrate, sample rate and emphasis.
bool ReadFrame(const std::uint8_t* p, Frame& f) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const unsigned version = (p[1] >> 3) & 3, layer = (p[1] >> 1) & 3;
  const unsigned bitrate = p[2] >> 4, rate = (p[2] >> 2) & 3;
  if (version == 1 || (layer != 1 && layer != 2) || bitrate == 0 || bitrate == 15 || rate == 3 ||
      (p[3] & 3) == 2)
    return false;
  const bool mpeg1 = version == 3, mono = (p[3] >> 6) == 3;
  f.layer3 = layer == 1;
  const std::uint32_t kbps = kKbps[mpeg1 ? (f.layer3 ? 1 : 0) : 2][bitrate];
  const std::uint32_t factor = !mpeg1 && f.layer3 ? 72000 : 144000;
  f.length = factor * kbps / kRates[version][rate] + ((p[2] >> 1) & 1);
  f.key = static_cast<std::uint32_t>((p[1] & 0x1E) << 8 | (p[2] & 0x0C) | (mono ? 1 : 0));
  f.info_at = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  f.crc = (p[1] & 1) == 0;
  return true;
}

/// An AAC frame in an ADTS header: no layer bits, a known sampling rate, a length that holds the
/// header and some data. Its key keeps the version, protection, profile, rate and channels.
bool ReadAdts(const std::uint8_t* p, Frame& f) {
  if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || ((p[2] >> 2) & 15) > 12) return false;
  const std::uint32_t header = (p[1] & 1) ? 7 : 9;
  f.length = static_cast<std::uint32_t>((p[3] & 3) << 11 | p[4] << 3 | p[5] >> 5);
  if (f.length <= header) return false;
  f.key = static_cast<std::uint32_t>(0x1000000 | (p[1] & 0x0F) << 16 | (p[2] & 0xFD) << 8 |
                                     (p[3] & 0xC0));
  f.info_at = 0;
  f.layer3 = false;
  f.crc = false;
  return true;
}

/// The frame at `p` (kHeadBytes readable) of the kind `adts` names.
bool ReadAny(const std::uint8_t* p, bool adts, Frame& f) {
  return adts ? ReadAdts(p, f) : ReadFrame(p, f);
}

/// Whether the Layer III frame at `p` (`n` bytes of it readable) carries a Xing, Info or VBRI
/// header, the first frame of an encoder's output; `bytes` gets the stream length it states, from
/// the frame's first byte, or 0.
bool InfoFrame(const std::uint8_t* p, std::size_t n, const Frame& f, std::uint64_t& bytes) {
  bytes = 0;
  if (!f.layer3) return false;
  for (const std::size_t at : {f.info_at, f.info_at + 2}) {
    if (at == f.info_at + 2 && !f.crc) break;
    if (at + 8 > n || (std::memcmp(p + at, "Xing", 4) != 0 && std::memcmp(p + at, "Info", 4) != 0))
      continue;
    const std::uint32_t flags = Be32(p + at + 4);
    if (flags > 15) continue;
    const std::size_t count = at + 8 + ((flags & 1) ? 4 : 0);
    if ((flags & 2) && count + 4 <= n) bytes = Be32(p + count);
    return true;
  }
  // A VBRI header's own count is not used: writers differ on what it covers.
  return n >= 42 && std::memcmp(p + 36, "VBRI", 4) == 0 && Be16(p + 40) == 1;
}

/// The length of the ID3v2 tag at `p` (10 header bytes readable), footer included, or 0 when the
/// bytes are no tag header.
std::uint64_t Id3Length(const std::uint8_t* p) {
  if (p[0] != 'I' || p[1] != 'D' || p[2] != '3' || p[3] < 2 || p[3] > 4 || p[4] == 0xFF) return 0;
  static constexpr std::uint8_t kUnusedFlags[5] = {0, 0, 0x3F, 0x1F, 0x0F};
  if ((p[5] & kUnusedFlags[p[3]]) != 0) return 0;
  if ((p[6] | p[7] | p[8] | p[9]) & 0x80) return 0;
  const std::uint64_t size = std::uint64_t{p[6]} << 21 | p[7] << 14 | p[8] << 7 | p[9];
  return 10 + size + (p[3] == 4 && (p[5] & 0x10) ? 10 : 0);
}

bool IsIdChar(std::uint8_t b) {
  return (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9');
}

/// The first frame inside an ID3v2 tag: an identifier of capitals and digits, or the padding's
/// zeros. Tags with an extended header are taken as they are.
bool Id3BodyHolds(const std::uint8_t* p, std::size_t available, std::uint64_t length) {
  const std::size_t id = p[3] == 2 ? 3 : 4;
  if ((p[5] & 0x40) || length < 10 + id || available < 10 + id) return true;
  if (p[10] == 0) return true;
  for (std::size_t i = 0; i < id; ++i)
    if (!IsIdChar(p[10 + i])) return false;
  return true;
}

/// The frames after the one at `at` chain with the same key, as far as they are readable.
bool ChainHolds(const std::uint8_t* d, std::size_t available, std::size_t at, const Frame& first,
                bool adts) {
  std::size_t next = at + first.length;
  for (int i = 0; i < 3 && next + kHeadBytes <= available; ++i) {
    Frame f;
    if (!ReadAny(d + next, adts, f) || f.key != first.key) {
      // A file of a single frame, then its tag.
      return i == 0 && std::memcmp(d + next, "TAG", 3) == 0;
    }
    next += f.length;
  }
  return true;
}

/// What follows an ID3v2 tag within reach: 'M' for MPEG audio frames, 'A' for ADTS ones, '?' when
/// the first frame lies beyond `available` (a large picture in the tag can hide it), 0 when the
/// bytes there are no frame or the tag is none.
char AfterId3(const std::uint8_t* d, std::size_t available) {
  if (available < 10) return 0;
  const std::uint64_t length = Id3Length(d);
  if (length == 0 || !Id3BodyHolds(d, available, length)) return 0;
  std::uint64_t at = length;
  while (at < available && d[at] == 0) ++at;
  if (at + kHeadBytes > available) return '?';
  const std::size_t first = static_cast<std::size_t>(at);
  Frame f;
  if (ReadFrame(d + first, f)) return ChainHolds(d, available, first, f, false) ? 'M' : 0;
  if (ReadAdts(d + first, f)) return ChainHolds(d, available, first, f, true) ? 'A' : 0;
  return 0;
}

bool Mp3Start(const std::uint8_t* d, std::size_t available) {
  if (available < kHeadBytes) return false;
  if (d[0] == 'I') return AfterId3(d, available) != 0;
  // A bare frame only as the encoder's first, which carries its stream's
  // header. A bare ADTS frame cannot be told from any other, so ADTS is taken
  // only after a tag.
  Frame f;
  std::uint64_t bytes = 0;
  if (!ReadFrame(d, f) || !InfoFrame(d, std::min(available, kPeekBytes), f, bytes)) return false;
  return ChainHolds(d, available, 0, f, false);
}

/// AAC when ADTS frames follow the tag, else the kind that asked.
std::string_view MpegAudioName(const std::uint8_t* d, std::size_t available) {
  return d[0] == 'I' && AfterId3(d, available) == 'A' ? "AAC" : "MP3";
}

/// The ID3v2 tags, the chain of frames of one key, then APE, Lyrics3 and ID3v1 tags. A frame that
/// carries a Xing, Info or VBRI header after the first is the next file's start. When the chain
/// falls short of the byte count the first frame's header states, the file is broken where the
/// chain stopped.
class Mp3Finder final : public RecordWalker {
 public:
  Mp3Finder() : RecordWalker(kMaxRecord) { Gather(10); }
  [[nodiscard]] std::string_view NamedTag() const override {
    return frames_ > 0 ? (adts_ ? "AAC" : "MP3") : std::string_view{};
  }

  EndVerdict Finish(std::uint64_t fed) override {
    if (fed < pending_) return BrokenAt(start_);
    // The bytes ran out after a whole frame: cut, when the stream header counted more or a
    // few bytes of something after it came; else nothing says it was.
    if (frames_ > 0 && ((!tags_ && pending_ < expected_) || fed > pending_))
      return BrokenAt(pending_);
    return Judge(pending_);
  }

 private:
  enum class Phase {
    kId3,          ///< ten bytes: an ID3v2 tag header, or the first frame's
    kAfterId3,     ///< one byte after a tag: another tag, padding or a frame
    kHeader,       ///< bytes after a frame: the next frame's header, or a tag
    kPeek,         ///< the first bytes of a frame
    kId3v1,        ///< 128 bytes
    kEnhanced,     ///< 227 bytes of an enhanced ID3v1 block and the tag after it
    kApe,          ///< 32 bytes: an APE tag's header, or an item-less footer
    kLyricsBegin,  ///< 11 bytes
    kLyricsField,  ///< 8 bytes: a Lyrics3 v2 field's name and size
    kLyricsEnd,    ///< 15 bytes: the six-digit size and "LYRICS200"
  };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kId3: {
        const std::uint64_t length = Id3Length(r);
        if (length == 0) return OnHeader(r, size, at);
        Begin(at, length);
        phase_ = Phase::kAfterId3;
        Gather(1, length - 10);
        return NeedMore();
      }
      case Phase::kAfterId3:
        if (r[0] == 'I') {
          phase_ = Phase::kId3;
          Extend(10);
        } else if (r[0] == 0) {
          if (at + 1 - pending_ >= kMaxPadding) return BrokenAt(pending_);
          Gather(1);
        } else {
          phase_ = Phase::kHeader;
          Extend(kHeadBytes);
        }
        return NeedMore();
      case Phase::kHeader:
        return OnHeader(r, size, at);
      case Phase::kPeek:
        return OnPeek(r, size, at);
      case Phase::kId3v1:
        return EndsAt(at + size);
      case Phase::kEnhanced:
        return std::memcmp(r + 227, "TAG", 3) == 0 ? EndsAt(at + size) : Judge(at);
      case Phase::kApe:
        return OnApe(r, at);
      case Phase::kLyricsBegin:
        if (std::memcmp(r, "LYRICSBEGIN", 11) != 0) return Judge(at);
        lyrics_ = at;
        phase_ = Phase::kLyricsField;
        Gather(8);
        return NeedMore();
      case Phase::kLyricsField:
        return OnLyricsField(r, at);
      case Phase::kLyricsEnd:
        if (Digits(r, 6) != at - lyrics_ || std::memcmp(r + 6, "LYRICS200", 9) != 0)
          return Judge(lyrics_);
        Begin(lyrics_, at + 15 - lyrics_);
        tags_ = true;
        phase_ = Phase::kHeader;
        Gather(4);
        return NeedMore();
    }
    return BrokenAt(at);
  }

  /// The next element runs from `at` for `length` bytes.
  void Begin(std::uint64_t at, std::uint64_t length) {
    start_ = at;
    pending_ = at + length;
  }

  /// The header's bytes: `size` of them, at least kHeadBytes, or four once the frames are known to
  /// be MPEG audio.
  EndVerdict OnHeader(const std::uint8_t* r, std::size_t size, std::uint64_t at) {
    Frame f;
    if (frames_ == 0) adts_ = !ReadFrame(r, f) && ReadAdts(r, f);
    if (!tags_ && size >= (adts_ ? kHeadBytes : 4) && ReadAny(r, adts_, f) &&
        (frames_ == 0 || f.key == key_) && f.length >= size && (expected_ == 0 || at < expected_)) {
      frame_ = f;
      Begin(at, f.length);
      phase_ = Phase::kPeek;
      Extend(std::min<std::size_t>(kPeekBytes, f.length));
      return NeedMore();
    }
    if (frames_ == 0) return BrokenAt(at);
    return OnTag(r, at);
  }

  EndVerdict OnPeek(const std::uint8_t* r, std::size_t size, std::uint64_t at) {
    std::uint64_t bytes = 0;
    const bool info = InfoFrame(r, size, frame_, bytes);
    if (frames_ > 0 && info) return Judge(at);
    if (frames_ == 0) {
      key_ = frame_.key;
      if (info && bytes >= frame_.length) expected_ = at + bytes;
    }
    // A count that falls inside a frame is no count of these frames.
    if (pending_ > expected_) expected_ = 0;
    ++frames_;
    last_frame_ = at;
    phase_ = Phase::kHeader;
    Gather(adts_ ? kHeadBytes : 4, frame_.length - size);
    return NeedMore();
  }

  /// The four bytes after the last frame or tag.
  EndVerdict OnTag(const std::uint8_t* r, std::uint64_t at) {
    struct Tag {
      const char* magic;
      std::size_t length;
      Phase phase;
    };
    static constexpr Tag kTags[] = {{"TAG+", 227 + 128, Phase::kEnhanced},
                                    {"TAG", 128, Phase::kId3v1},
                                    {"APET", 32, Phase::kApe},
                                    {"LYRI", 11, Phase::kLyricsBegin}};
    for (const Tag& tag : kTags)
      if (std::memcmp(r, tag.magic, std::strlen(tag.magic)) == 0) {
        Begin(at, tag.length);
        phase_ = tag.phase;
        Extend(tag.length);
        return NeedMore();
      }
    return Judge(at);
  }

  EndVerdict OnApe(const std::uint8_t* r, std::uint64_t at) {
    if (std::memcmp(r, "APETAGEX", 8) != 0) return Judge(at);
    const std::uint32_t version = Le32(r + 8), size = Le32(r + 12), flags = Le32(r + 20);
    const bool header = (flags & (1u << 29)) != 0;
    if ((version != 1000 && version != 2000) || size < 32 || (!header && size != 32))
      return Judge(at);
    tags_ = true;
    Begin(at, 32 + (header ? std::uint64_t{size} : 0));
    phase_ = Phase::kHeader;
    Gather(4, header ? size : 0);
    return NeedMore();
  }

  /// A decimal number of `n` digits, or all ones.
  static std::uint64_t Digits(const std::uint8_t* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (p[i] < '0' || p[i] > '9') return ~std::uint64_t{0};
      v = v * 10 + (p[i] - '0');
    }
    return v;
  }

  /// A field: three capitals and its five-digit size; anything else is the closing size.
  EndVerdict OnLyricsField(const std::uint8_t* r, std::uint64_t at) {
    const bool named =
        r[0] >= 'A' && r[0] <= 'Z' && r[1] >= 'A' && r[1] <= 'Z' && r[2] >= 'A' && r[2] <= 'Z';
    if (!named) {
      phase_ = Phase::kLyricsEnd;
      Extend(15);
      return NeedMore();
    }
    const std::uint64_t length = Digits(r + 3, 5);
    if (length == ~std::uint64_t{0} || at - lyrics_ > 1000000) return Judge(lyrics_);
    Gather(8, length);
    return NeedMore();
  }

  /// The file ends at `end`, after its last frame or tag, unless the stream header counted more
  /// frames: then the last frame, which no frame follows, is taken as cut.
  EndVerdict Judge(std::uint64_t end) const {
    if (frames_ == 0) return BrokenAt(end);
    if (!tags_ && end < expected_) return BrokenAt(last_frame_);
    return EndsAt(end);
  }

  Phase phase_ = Phase::kId3;
  Frame frame_;
  std::uint32_t key_ = 0;
  std::uint64_t frames_ = 0;
  std::uint64_t start_ = 0;     ///< where the frame or tag being passed begins
  std::uint64_t pending_ = 0;   ///< where it ends
  std::uint64_t expected_ = 0;  ///< the end the stream header states, or 0
  std::uint64_t lyrics_ = 0;    ///< where a Lyrics3 tag begins
  std::uint64_t last_frame_ = 0;
  bool tags_ = false;  ///< a tag after the frames was taken
  bool adts_ = false;  ///< the frames are AAC in ADTS headers
};

std::unique_ptr<EndFinder> Mp3End(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<Mp3Finder>();
}

}  // namespace

extern const FileKind kMp3Kind;
extern const FileKind kAacKind;
// One start test for both: the frames after the tag name the kind.
const FileKind kMp3Kind{.tag = "MP3",
                        .description = "MP3 audio",
                        .check = Mp3Start,
                        .make_finder = Mp3End,
                        .name = MpegAudioName,
                        .first_bytes = "I\xFF"};
const FileKind kAacKind{.tag = "AAC",
                        .description = "AAC audio",
                        .check = Mp3Start,
                        .make_finder = Mp3End,
                        .name = MpegAudioName,
                        .first_bytes = "I\xFF"};
