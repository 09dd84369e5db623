#include "detect/file_kind.h"
#include "detect/formats/format_bytes.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

constexpr std::uint64_t kBlockMagic = 0x314159265359;
constexpr std::uint64_t kEndMagic = 0x177245385090;
constexpr std::uint64_t kMagicMask = (std::uint64_t{1} << 48) - 1;
constexpr std::size_t kStreamHeader = 10;  ///< "BZh", the level, the first magic

/// The most one compressed block can take for a level: its symbols at 20 bits each, with room for
/// the tables.
std::uint64_t MostBlockBytes(int level) {
  return std::uint64_t(level) * 250000 + 65536;
}

/// "BZh", a level digit, then a block or the end of an empty stream, byte aligned.
bool IsStreamHeader(const std::uint8_t* d) {
  if (d[0] != 'B' || d[1] != 'Z' || d[2] != 'h' || d[3] < '1' || d[3] > '9') return false;
  const std::uint64_t magic = (std::uint64_t{Be16(d + 4)} << 32) | Be32(d + 6);
  return magic == kBlockMagic || magic == kEndMagic;
}

/// For each byte value, the magics it may be the `back`-th byte before the last byte a magic
/// touches: bit s for the block magic whose last bit is s bits before a byte's end, bit 8 + s for
/// the end magic. Bytes are looked at closely only where the entries of the two bytes before share
/// a bit.
constexpr std::array<std::uint16_t, 256> Leads(int back) {
  std::array<std::uint16_t, 256> leads{};
  for (int s = 0; s < 8; ++s) {
    leads[((kBlockMagic << s) >> (8 * back)) & 0xFF] |= static_cast<std::uint16_t>(1u << s);
    leads[((kEndMagic << s) >> (8 * back)) & 0xFF] |= static_cast<std::uint16_t>(1u << (8 + s));
  }
  return leads;
}
constexpr std::array<std::uint16_t, 256> kLead1 = Leads(1), kLead2 = Leads(2);

/// The magics are bit aligned, so they are sought at every bit offset; each is followed by a 32-bit
/// CRC (a block's, or the stream's combined one), and the stream ends at the byte holding the
/// combined CRC's last bit. Streams that follow at once belong to the file. A stream ends only
/// where the combined CRC of the blocks found matches; a block that runs longer than its level
/// allows breaks the file where that block begins.
class Bzip2Finder final : public EndFinder {
 public:
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    const std::uint8_t* const p = data.data();
    const std::size_t n = data.size();
    std::size_t i = 0;
    while (i < n) {
      if (header_ < kStreamHeader) {
        // A stream header: the first, or the next after a stream's end.
        header_bytes_[header_++] = p[i];
        Shift(p[i++]);
        if (header_ < kStreamHeader) continue;
        if (!IsStreamHeader(header_bytes_)) {
          if (stream_end_ > 0) return EndsAt(stream_end_);
          return BrokenAt(0);
        }
        level_ = header_bytes_[3] - '0';
        combined_ = 0;
        Found(fed_ + i - 1, 0, header_bytes_[9] == (kEndMagic & 0xFF));
        continue;
      }
      if (crc_bits_ > 0) {
        // The CRC after a magic, 8 bits a byte.
        const std::uint8_t b = p[i];
        Shift(p[i++]);
        if (crc_bits_ >= 8) {
          crc_ = (crc_ << 8) | b;
          crc_bits_ -= 8;
        } else {
          crc_ = (crc_ << crc_bits_) | (b >> (8 - crc_bits_));
          crc_bits_ = 0;
        }
        if (crc_bits_ > 0) continue;
        const EndVerdict verdict = OnCrc(fed_ + i);
        if (verdict.state != EndVerdict::State::kNeedMore) return verdict;
        continue;
      }
      // The search, new bytes looked at through the tables.
      const std::size_t stop = Scan(p, i, n);
      if (broken_at_ != kNone) return BrokenAt(broken_at_);
      if (stop == n) {
        if (fed_ + n - last_magic_ > MostBlockBytes(level_)) return BrokenAt(block_start_);
        break;
      }
      i = stop;
    }
    fed_ += n;
    return NeedMore();
  }

  EndVerdict Finish(std::uint64_t fed) override {
    if (stream_end_ > 0 && header_ < kStreamHeader) return EndsAt(stream_end_);
    return BrokenAt(fed);
  }

 private:
  void Shift(std::uint8_t b) {
    before_ = (before_ << 8) | static_cast<std::uint32_t>(window_ >> 56);
    window_ = (window_ << 8) | b;
  }

  /// Looks at p[from..n) for a magic, keeping `window_` up to date. Returns the index just past the
  /// byte where a magic ended (its CRC then being gathered), or n.
  std::size_t Scan(const std::uint8_t* p, std::size_t from, std::size_t n) {
    std::size_t i = from;
    // Bytes whose window reaches back before this piece: through `window_`.
    for (; i < n && i < from + 12; ++i) {
      const std::uint16_t leads = kLead1[window_ & 0xFF] & kLead2[(window_ >> 8) & 0xFF];
      Shift(p[i]);
      if (leads != 0 && Matches(leads, fed_ + i)) return i + 1;
    }
    if (i == n) return n;
    // The rest: the window is the twelve bytes ending at i, read straight from the piece.
    for (; i < n; ++i) {
      const std::uint16_t leads = kLead1[p[i - 1]] & kLead2[p[i - 2]];
      if (leads == 0) continue;
      window_ = Be64(p + i - 7);
      before_ = Be32(p + i - 11);
      if (Matches(leads, fed_ + i)) return i + 1;
    }
    window_ = Be64(p + n - 8);
    before_ = Be32(p + n - 12);
    return n;
  }

  /// Whether one of the magics that `leads` names ends within the last byte of `window_` (file
  /// offset `at`); if so, sets up gathering its CRC.
  bool Matches(std::uint16_t leads, std::uint64_t at) {
    for (unsigned rest = leads; rest != 0; rest &= rest - 1) {
      const int bit = std::countr_zero(rest);
      const int s = bit & 7;
      const bool end = bit >= 8;
      if (((window_ >> s) & kMagicMask) != (end ? kEndMagic : kBlockMagic)) continue;
      const std::uint32_t header = (before_ << 16) | static_cast<std::uint32_t>(window_ >> 48);
      if (s == 0 && !end && (header & 0xFFFFFF00u) == 0x425A6800u && (header & 0xFF) >= '1' &&
          (header & 0xFF) <= '9') {
        // Another stream's header inside this one's blocks: this one was cut short.
        broken_at_ = at - 9;
      }
      Found(at, s, end);
      return true;
    }
    return false;
  }

  /// A magic whose last bit is `s` bits before the end of byte `at`: its CRC comes next.
  void Found(std::uint64_t at, int s, bool end) {
    end_magic_ = end;
    magic_byte_ = ((at + 1) * 8 - static_cast<std::uint64_t>(s) - 48) / 8;
    // The byte at `at` holds the CRC's first s bits; 32 - s more follow.
    crc_ = static_cast<std::uint32_t>(window_ & ((1u << s) - 1));
    crc_bits_ = 32 - s;
  }

  /// A magic's CRC is complete, `at` the offset of the byte after the one holding its last bit.
  EndVerdict OnCrc(std::uint64_t at) {
    last_magic_ = at;
    if (!end_magic_) {
      combined_ = ((combined_ << 1) | (combined_ >> 31)) ^ crc_;
      block_start_ = magic_byte_;
      return NeedMore();
    }
    if (crc_ != combined_) return NeedMore();  // the end magic's bits inside a block
    stream_end_ = at;
    header_ = 0;
    return NeedMore();
  }

  static constexpr std::uint64_t kNone = ~std::uint64_t{0};

  std::uint64_t fed_ = 0, broken_at_ = kNone;
  std::uint64_t window_ = 0;  ///< the last eight bytes looked at, the latest lowest
  std::uint32_t before_ = 0;  ///< the four bytes before those
  std::uint8_t header_bytes_[kStreamHeader]{};
  std::size_t header_ = 0;
  int level_ = 9;
  std::uint32_t combined_ = 0, crc_ = 0;
  int crc_bits_ = 0;
  bool end_magic_ = false;
  std::uint64_t magic_byte_ = 0, last_magic_ = 0, block_start_ = 0, stream_end_ = 0;
};

bool Bzip2Start(const std::uint8_t* d, std::size_t available) {
  return available >= kStreamHeader && IsStreamHeader(d);
}

std::unique_ptr<EndFinder> Bzip2End(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<Bzip2Finder>();
}

}  // namespace

extern const FileKind kBzip2Kind;
const FileKind kBzip2Kind{.tag = "BZ2",
                          .description = "bzip2 compressed file",
                          .check = Bzip2Start,
                          .make_finder = Bzip2End,
                          .first_bytes = "B"};
