#include "detect/file_kind.h"
#include "detect/formats/format_bytes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace {

/// The CRC-8 of frame headers: polynomial 0x07, not reflected, starting from 0.
constexpr std::array<std::uint8_t, 256> kCrc8 = [] {
  std::array<std::uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i;
    for (int k = 0; k < 8; ++k) c = (c & 0x80) ? ((c << 1) ^ 0x07) : (c << 1);
    t[i] = static_cast<std::uint8_t>(c);
  }
  return t;
}();

/// The CRC-16 of whole frames: polynomial 0x8005, not reflected, starting from 0. Row k is a byte's
/// share when k zero bytes follow it, for eight bytes at a time.
constexpr std::array<std::array<std::uint16_t, 256>, 8> kCrc16 = [] {
  std::array<std::array<std::uint16_t, 256>, 8> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i << 8;
    for (int k = 0; k < 8; ++k) c = (c & 0x8000) ? ((c << 1) ^ 0x8005) : (c << 1);
    t[0][i] = static_cast<std::uint16_t>(c);
  }
  for (int k = 1; k < 8; ++k)
    for (unsigned i = 0; i < 256; ++i)
      t[k][i] = static_cast<std::uint16_t>(t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 8];
  return t;
}();

std::uint8_t Crc8(const std::uint8_t* p, std::size_t n) {
  std::uint8_t c = 0;
  for (std::size_t i = 0; i < n; ++i) c = kCrc8[c ^ p[i]];
  return c;
}

std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* q, const std::uint8_t* end) {
  for (; end - q >= 8; q += 8)
    crc = kCrc16[7][q[0] ^ (crc >> 8)] ^ kCrc16[6][q[1] ^ (crc & 0xFF)] ^ kCrc16[5][q[2]] ^
          kCrc16[4][q[3]] ^ kCrc16[3][q[4]] ^ kCrc16[2][q[5]] ^ kCrc16[1][q[6]] ^ kCrc16[0][q[7]];
  for (; q < end; ++q) crc = static_cast<std::uint16_t>(crc << 8) ^ kCrc16[0][(crc >> 8) ^ *q];
  return crc;
}

/// What the stream header (STREAMINFO) says.
struct StreamInfo {
  unsigned min_block = 0, max_block = 0;
  std::uint32_t max_frame = 0;  ///< 0: not known
  std::uint32_t rate = 0;
  unsigned channels = 0, bits = 0;
  std::uint64_t samples = 0;  ///< 0: not known
};

/// The 34-byte stream header with sane values.
bool ReadStreamInfo(const std::uint8_t* s, StreamInfo& info) {
  info.min_block = Be16(s);
  info.max_block = Be16(s + 2);
  const std::uint32_t min_frame = s[4] << 16 | s[5] << 8 | s[6];
  const std::uint32_t max_frame = s[7] << 16 | s[8] << 8 | s[9];
  info.max_frame = max_frame;
  info.rate = static_cast<std::uint32_t>(s[10] << 12 | s[11] << 4 | s[12] >> 4);
  info.channels = ((s[12] >> 1) & 7) + 1;
  info.bits = (((s[12] & 1) << 4) | (s[13] >> 4)) + 1;
  info.samples = std::uint64_t{s[13] & 15u} << 32 | Be32(s + 14);
  return info.min_block >= 16 && info.max_block >= info.min_block && info.rate != 0 &&
         info.bits >= 4 && (min_frame == 0 || max_frame == 0 || min_frame <= max_frame);
}

bool FlacStart(const std::uint8_t* d, std::size_t available) {
  if (available < 42 || std::memcmp(d, "fLaC", 4) != 0) return false;
  if ((d[4] & 0x7F) != 0 || d[5] != 0 || d[6] != 0 || d[7] != 34) return false;
  StreamInfo info;
  if (!ReadStreamInfo(d + 8, info)) return false;
  // The other blocks as far as they are readable, then the first frame's sync.
  std::size_t at = 42;
  bool last = (d[4] & 0x80) != 0;
  while (!last) {
    if (at + 4 > available) return true;
    const unsigned type = d[at] & 0x7F;
    if (type == 0 || type == 127) return false;
    last = (d[at] & 0x80) != 0;
    at += 4 + (std::size_t{d[at + 1]} << 16 | d[at + 2] << 8 | d[at + 3]);
  }
  return at + 2 > available || (d[at] == 0xFF && (d[at + 1] & 0xFE) == 0xF8);
}

/// The bytes after the frame number that a block size code (codes 6 and 7 call for one and two) or
/// a sample rate code (12, then 13 and 14) calls for.
std::size_t ExtraBytes(unsigned code, unsigned one, unsigned last) {
  return code == one ? 1 : code > one && code <= last ? 2 : 0;
}

/// What a frame header says.
struct FrameHeader {
  unsigned block = 0, channels = 0, depth = 0, channel_code = 0;
  std::uint32_t rate = 0;
  std::uint64_t number = 0;  ///< the frame number, or the first sample's with variable blocks
  bool variable = false;
};

/// The fields of a whole header whose first five bytes passed and whose CRC-8 holds; false when the
/// number is not UTF-8 coded. Rate and depth codes 0 take the stream header's.
bool DecodeHeader(const std::uint8_t* h, std::size_t number_length, const StreamInfo& info,
                  FrameHeader& f) {
  const unsigned size_code = h[2] >> 4, rate_code = h[2] & 15;
  const unsigned depth_code = (h[3] >> 1) & 7;
  f.channel_code = h[3] >> 4;
  // The frame or sample number, UTF-8 coded.
  std::uint64_t number = number_length == 1 ? h[4] : h[4] & (0x7F >> number_length);
  for (std::size_t i = 1; i < number_length; ++i) {
    if ((h[4 + i] & 0xC0) != 0x80) return false;
    number = number << 6 | (h[4 + i] & 0x3F);
  }
  f.number = number;
  std::size_t at = 4 + number_length;
  if (size_code == 1)
    f.block = 192;
  else if (size_code <= 5)
    f.block = 576u << (size_code - 2);
  else if (size_code == 6)
    f.block = h[at++] + 1u;
  else if (size_code == 7)
    f.block = Be16(h + at) + 1u, at += 2;
  else
    f.block = 256u << (size_code - 8);
  static constexpr std::uint32_t kRates[12] = {0,     88200, 176400, 192000, 8000,  16000,
                                               22050, 24000, 32000,  44100,  48000, 96000};
  f.rate = info.rate;
  if (rate_code >= 1 && rate_code <= 11)
    f.rate = kRates[rate_code];
  else if (rate_code == 12)
    f.rate = h[at] * 1000u;
  else if (rate_code == 13)
    f.rate = Be16(h + at);
  else if (rate_code == 14)
    f.rate = Be16(h + at) * 10u;
  static constexpr unsigned kDepths[8] = {0, 8, 12, 0, 16, 20, 24, 32};
  f.depth = depth_code == 0 ? info.bits : kDepths[depth_code];
  f.channels = f.channel_code <= 7 ? f.channel_code + 1 : 2;
  f.variable = (h[1] & 1) != 0;
  return true;
}

/// The longest frame header: sync and codes, a 7-byte number, 2 bytes each of block size and rate,
/// the CRC-8.
constexpr std::size_t kMaxHeader = 16;
/// The most of one frame kept to read it again bit by bit.
constexpr std::uint64_t kMaxKept = 1 << 20;

/// The blocks of metadata by their lengths, then the frames, each read to its exact end: the header
/// (its CRC-8 and fields agreeing with the stream header and the frame count), every subframe's
/// warm-up, coefficients and Rice-coded residual, then the frame's CRC-16. The file ends with the
/// frame that completes the stated sample count; when the count is not known, with the last frame
/// that no valid frame header follows. A frame before the last one is not read bit by bit: it ends
/// where its CRC-16 comes to 0 and the next frame's header follows. Only when no such place comes
/// within the frame's largest size, or the bytes run out first, is it read again bit by bit from
/// the bytes kept of it.
class FlacFinder final : public EndFinder {
 public:
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    // A possible frame end close before the last piece's end, looked at with these bytes.
    while (state_ == State::kFast && scan_ < kept_.size()) {
      const Tail tail = ScanTail(data);
      if (tail == Tail::kMore) {
        kept_.insert(kept_.end(), data.begin(), data.end());
        fed_ += data.size();
        return NeedMore();
      }
      if (tail == Tail::kScanned) break;
      // The next frame begins in the bytes kept.
      const std::uint64_t at = element_ + scan_;
      rest_.assign(kept_.begin() + static_cast<std::ptrdiff_t>(scan_), kept_.end());
      EndFrame();
      const EndVerdict verdict = RunRegion(rest_.data(), rest_.size(), at);
      if (verdict.state != EndVerdict::State::kNeedMore) return verdict;
    }
    const EndVerdict verdict = RunRegion(data.data(), data.size(), fed_);
    fed_ += data.size();
    return verdict;
  }
  EndVerdict Finish(std::uint64_t /*fed*/) override {
    if (state_ == State::kFast) {
      const EndVerdict verdict = ReadKeptAgain();
      if (verdict.state != EndVerdict::State::kNeedMore) return verdict;
    }
    // Cut at a frame's first byte: the end, when no count says otherwise.
    if (state_ == State::kFrameHeader && header_length_ == 0 && bits_ == 0 && frames_ > 0 &&
        info_.samples == 0)
      return EndsAt(element_);
    return BrokenAt(element_);
  }

 private:
  enum class State {
    kMagic,
    kBlockHeader,
    kStreamInfo,
    kBlockEnd,
    kFrameHeader,
    kSubframe,
    kWasted,
    kLpc,
    kResidual,
    kPartition,
    kEscape,
    kRice,
    kAlign,
    kFooter,
    kSkip,
    kFast,  ///< looking for the frame's end by its CRC-16 and the next header
  };

  /// Reads `size` bytes at `data`, which are the file's from `at` on.
  EndVerdict RunRegion(const std::uint8_t* data, std::size_t size, std::uint64_t at) {
    begin_ = p_ = crc_from_ = data;
    end_ = data + size;
    piece_at_ = at;
    if (state_ == State::kFast) keep_from_ = data;
    const EndVerdict verdict = Run();
    UpdateCrc();
    if (verdict.state == EndVerdict::State::kNeedMore && state_ == State::kFast && keep_from_)
      kept_.insert(kept_.end(), keep_from_, end_);
    keep_from_ = nullptr;
    return verdict;
  }

  /// The frame whose header was just read, looked at quickly. Its bytes are kept from here on when
  /// it goes on past this piece.
  void StartFast() {
    UpdateCrc();
    scan_ = Pos() - element_;
    kept_.clear();
    if (element_ >= piece_at_) {
      keep_from_ = begin_ + (element_ - piece_at_);
    } else {
      kept_.assign(header_, header_ + std::min<std::uint64_t>(scan_, sizeof header_));
      keep_from_ = p_;
    }
    // The frame is no longer than its samples stored verbatim (encoders fall back to that).
    const std::uint64_t verbatim =
        32 +
        std::uint64_t{channels_} * (2 + (std::uint64_t{block_} * (bits_per_sample_ + 1) + 7) / 8);
    limit_ =
        std::min<std::uint64_t>(kMaxKept, std::max<std::uint64_t>(verbatim, info_.max_frame + 16));
    state_ = State::kFast;
  }

  /// The frame read, the next one begins.
  void EndFrame() {
    samples_ += block_;
    ++frames_;
    slow_frame_ = false;
    kept_.clear();
    state_ = State::kFrameHeader;
  }

  /// Runs of bytes between 0xFF bytes go into the CRC-16 in one go; where it is 0 before a frame
  /// sync, the header there is checked. False when the piece is used up or with a verdict.
  bool FastScan(EndVerdict& verdict) {
    const std::size_t room = scan_ >= limit_
                                 ? 0
                                 : static_cast<std::size_t>(std::min<std::uint64_t>(
                                       limit_ - scan_, static_cast<std::uint64_t>(end_ - p_)));
    const std::uint8_t* const limit = p_ + room;
    const std::uint8_t* done = p_;  // the CRC-16 covers the bytes up to here
    const std::uint8_t* q = p_;
    std::uint16_t crc = crc_;
    while (q < limit) {
      q = static_cast<const std::uint8_t*>(
          std::memchr(q, 0xFF, static_cast<std::size_t>(limit - q)));
      if (q == nullptr) break;
      if (q + 1 < end_ && (q[1] & 0xFE) != 0xF8) {
        ++q;
        continue;
      }
      crc = Crc16(crc, done, q);
      done = q;
      if (crc == 0) {
        const Check check = CheckNext(q, static_cast<std::size_t>(end_ - q));
        if (check == Check::kYes) {
          EndFrame();
          p_ = crc_from_ = q;
          return true;
        }
        if (check == Check::kMore) {
          // Looked at again with the next piece's bytes.
          crc_ = crc;
          scan_ += static_cast<std::uint64_t>(q - p_);
          p_ = crc_from_ = end_;
          verdict = NeedMore();
          return false;
        }
      }
      ++q;
    }
    crc_ = Crc16(crc, done, limit);
    scan_ += static_cast<std::uint64_t>(limit - p_);
    if (limit == end_) {
      p_ = crc_from_ = end_;
      verdict = NeedMore();
      return false;
    }
    // No next frame within the frame's largest size: it is read again bit by bit.
    if (kept_.empty()) {
      p_ = crc_from_ = keep_from_;
      keep_from_ = nullptr;
      Restart();
      return true;
    }
    kept_.insert(kept_.end(), keep_from_, limit);
    const std::uint8_t* const live_end = end_;
    const std::uint64_t live_at = piece_at_ + static_cast<std::uint64_t>(limit - begin_);
    verdict = ReadKeptAgain();
    if (verdict.state != EndVerdict::State::kNeedMore) return false;
    begin_ = p_ = crc_from_ = limit;
    end_ = live_end;
    piece_at_ = live_at;
    return true;
  }

  /// Back to the frame's first byte, to read it bit by bit.
  void Restart() {
    state_ = State::kFrameHeader;
    header_length_ = 0;
    header_need_ = 5;
    bits_ = 0;
    acc_ = 0;
    slow_frame_ = true;
  }

  /// The kept bytes of the frame read again bit by bit: a verdict, or kNeedMore with all of them
  /// read.
  EndVerdict ReadKeptAgain() {
    Restart();
    replaying_ = true;
    const EndVerdict verdict = RunRegion(kept_.data(), kept_.size(), element_);
    replaying_ = false;
    kept_.clear();
    return verdict;
  }

  enum class Tail { kMore, kScanned, kFound };
  /// The kept bytes after a possible end that the last piece had too few bytes to check.
  Tail ScanTail(std::span<const std::uint8_t> data) {
    while (scan_ < kept_.size()) {
      const std::uint8_t byte = kept_[scan_];
      if (crc_ == 0 && byte == 0xFF) {
        std::uint8_t h[kMaxHeader];
        const std::size_t kept = std::min<std::size_t>(kept_.size() - scan_, kMaxHeader);
        std::memcpy(h, kept_.data() + scan_, kept);
        const std::size_t more = std::min(kMaxHeader - kept, data.size());
        if (more > 0) std::memcpy(h + kept, data.data(), more);
        const Check check = CheckNext(h, kept + more);
        if (check == Check::kMore) return Tail::kMore;
        if (check == Check::kYes) return Tail::kFound;
      }
      crc_ = static_cast<std::uint16_t>(crc_ << 8) ^ kCrc16[0][(crc_ >> 8) ^ byte];
      ++scan_;
    }
    return Tail::kScanned;
  }

  enum class Check { kNo, kYes, kMore };
  /// Whether the next frame's header begins at `h`, by the tests ReadHeader makes.
  [[nodiscard]] Check CheckNext(const std::uint8_t* h, std::size_t n) const {
    if (n < 2) return Check::kMore;
    if (h[0] != 0xFF || (h[1] & 0xFE) != 0xF8) return Check::kNo;
    if (n < 5) return Check::kMore;
    const unsigned size_code = h[2] >> 4, rate_code = h[2] & 15;
    const unsigned channel_code = h[3] >> 4, depth_code = (h[3] >> 1) & 7;
    if (size_code == 0 || rate_code == 15 || channel_code > 10 || depth_code == 3 || (h[3] & 1))
      return Check::kNo;
    const unsigned ones = static_cast<unsigned>(std::countl_one(h[4]));
    if (ones == 1 || ones == 8) return Check::kNo;
    const std::size_t number_length = ones == 0 ? 1 : ones;
    const std::size_t need =
        4 + number_length + ExtraBytes(size_code, 6, 7) + ExtraBytes(rate_code, 12, 14) + 1;
    if (n < need) return Check::kMore;
    FrameHeader f;
    if (Crc8(h, need) != 0 || !DecodeHeader(h, number_length, info_, f)) return Check::kNo;
    const std::uint64_t next = f.variable ? samples_ + block_ : frames_ + 1;
    if (f.rate != info_.rate || f.depth != info_.bits || f.channels != info_.channels ||
        f.block > info_.max_block || f.variable != variable_ || f.number != next)
      return Check::kNo;
    return Check::kYes;
  }

  /// Bytes taken so far.
  [[nodiscard]] std::uint64_t Pos() const {
    return piece_at_ + static_cast<std::uint64_t>(p_ - begin_);
  }
  /// The frame's CRC-16 over the bytes taken since the last update.
  void UpdateCrc() {
    std::uint16_t crc = crc_;
    const std::uint8_t* q = crc_from_;
    for (; p_ - q >= 4; q += 4)
      crc = kCrc16[3][q[0] ^ (crc >> 8)] ^ kCrc16[2][q[1] ^ (crc & 0xFF)] ^ kCrc16[1][q[2]] ^
            kCrc16[0][q[3]];
    for (; q < p_; ++q) crc = static_cast<std::uint16_t>(crc << 8) ^ kCrc16[0][(crc >> 8) ^ *q];
    crc_ = crc;
    crc_from_ = p_;
  }
  /// Takes one more byte into the bit store; false when the piece is used up.
  bool Pull() {
    if (p_ == end_) return false;
    acc_ = acc_ << 8 | *p_++;
    bits_ += 8;
    return true;
  }
  /// At least `n` bits (up to 33) in the store. Bytes are taken only as they are needed, so the
  /// store never reaches past the element being read.
  bool Need(unsigned n) {
    while (bits_ < n)
      if (!Pull()) return false;
    return true;
  }
  std::uint64_t Take(unsigned n) {
    bits_ -= n;
    return (acc_ >> bits_) & ((std::uint64_t{1} << n) - 1);
  }
  /// Passes over `skip_` bits, then goes on in `after_`.
  bool Skip() {
    const std::uint64_t from_store = std::min<std::uint64_t>(bits_, skip_);
    bits_ -= static_cast<unsigned>(from_store);
    skip_ -= from_store;
    if (skip_ >= 8) {
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::uint64_t>(skip_ / 8, static_cast<std::size_t>(end_ - p_)));
      p_ += n;
      skip_ -= 8 * std::uint64_t{n};
      if (skip_ >= 8) return false;
    }
    if (skip_ > 0) {
      if (!Pull()) return false;
      bits_ -= static_cast<unsigned>(skip_);
      skip_ = 0;
    }
    state_ = after_;
    return true;
  }
  void SkipThen(std::uint64_t bits, State after) {
    skip_ = bits;
    after_ = after;
    state_ = State::kSkip;
  }

  EndVerdict Run() {
    for (;;) {
      switch (state_) {
        case State::kSkip:
          if (!Skip()) return NeedMore();
          break;
        case State::kMagic:
          if (!Need(32)) return NeedMore();
          if (Take(32) != 0x664C6143) return BrokenAt(0);
          element_ = Pos();
          state_ = State::kBlockHeader;
          break;
        case State::kBlockHeader: {
          if (!Need(32)) return NeedMore();
          const std::uint32_t v = static_cast<std::uint32_t>(Take(32));
          const unsigned type = (v >> 24) & 0x7F;
          const std::uint32_t length = v & 0xFFFFFF;
          last_block_ = (v >> 31) != 0;
          if (blocks_++ == 0 ? (type != 0 || length != 34) : (type == 0 || type == 127))
            return BrokenAt(element_);
          if (type == 0)
            state_ = State::kStreamInfo;
          else
            SkipThen(std::uint64_t{length} * 8, State::kBlockEnd);
          break;
        }
        case State::kStreamInfo:
          while (info_length_ < sizeof info_bytes_) {
            if (!Need(8)) return NeedMore();
            info_bytes_[info_length_++] = static_cast<std::uint8_t>(Take(8));
          }
          if (!ReadStreamInfo(info_bytes_, info_)) return BrokenAt(element_);
          state_ = State::kBlockEnd;
          break;
        case State::kBlockEnd:
          element_ = Pos();
          state_ = last_block_ ? State::kFrameHeader : State::kBlockHeader;
          break;
        case State::kFrameHeader: {
          if (header_length_ == 0) {
            element_ = Pos();
            crc_ = 0;
            crc_from_ = p_;
          }
          const EndVerdict verdict = ReadHeader();
          if (verdict.state != EndVerdict::State::kNeedMore || state_ == State::kFrameHeader)
            return verdict;
          if (!slow_frame_ && !replaying_ &&
              (info_.samples == 0 || samples_ + block_ < info_.samples))
            StartFast();
          break;
        }
        case State::kFast: {
          EndVerdict verdict;
          if (!FastScan(verdict)) return verdict;
          break;
        }
        case State::kSubframe: {
          if (!Need(8)) return NeedMore();
          const unsigned v = static_cast<unsigned>(Take(8));
          const unsigned type = (v >> 1) & 0x3F;
          if (v & 0x80) return BrokenAt(element_);
          if (type == 0)
            kind_ = SubframeKind::kConstant;
          else if (type == 1)
            kind_ = SubframeKind::kVerbatim;
          else if (type >= 8 && type <= 12)
            kind_ = SubframeKind::kFixed, order_ = type - 8;
          else if (type >= 32)
            kind_ = SubframeKind::kLpc, order_ = type - 31;
          else
            return BrokenAt(element_);
          if (kind_ == SubframeKind::kConstant || kind_ == SubframeKind::kVerbatim) order_ = 0;
          if (order_ > block_) return BrokenAt(element_);
          sample_bits_ = bits_per_sample_ + (channel_ == side_ ? 1 : 0);
          wasted_ = 0;
          if (v & 1)
            state_ = State::kWasted;
          else
            StartSubframe();
          break;
        }
        case State::kWasted:
          // k - 1 zeros and a one: k bits of every sample are left out.
          for (;;) {
            if (bits_ == 0 && !Pull()) return NeedMore();
            const std::uint64_t v = acc_ & ((std::uint64_t{1} << bits_) - 1);
            if (v != 0) {
              wasted_ += bits_ - static_cast<unsigned>(std::bit_width(v)) + 1;
              bits_ = static_cast<unsigned>(std::bit_width(v)) - 1;
              break;
            }
            wasted_ += bits_;
            bits_ = 0;
            if (wasted_ >= sample_bits_) return BrokenAt(element_);
          }
          if (wasted_ >= sample_bits_) return BrokenAt(element_);
          StartSubframe();
          break;
        case State::kLpc: {
          if (!Need(9)) return NeedMore();
          const unsigned precision = static_cast<unsigned>(Take(9) >> 5) + 1;
          if (precision == 16) return BrokenAt(element_);
          SkipThen(std::uint64_t{order_} * precision, State::kResidual);
          break;
        }
        case State::kResidual: {
          if (!Need(6)) return NeedMore();
          const unsigned v = static_cast<unsigned>(Take(6));
          if ((v >> 5) != 0) return BrokenAt(element_);
          param_bits_ = (v >> 4) ? 5 : 4;
          partition_order_ = v & 15;
          if ((block_ & ((1u << partition_order_) - 1)) != 0 ||
              (block_ >> partition_order_) < order_)
            return BrokenAt(element_);
          partition_ = 0;
          state_ = State::kPartition;
          break;
        }
        case State::kPartition: {
          if (partition_ == (1u << partition_order_)) {
            state_ = NextChannel();
            break;
          }
          if (!Need(param_bits_)) return NeedMore();
          param_ = static_cast<unsigned>(Take(param_bits_));
          left_ = (block_ >> partition_order_) - (partition_ == 0 ? order_ : 0);
          ++partition_;
          state_ = param_ == (1u << param_bits_) - 1 ? State::kEscape : State::kRice;
          stopped_ = false;
          break;
        }
        case State::kEscape:
          if (!Need(5)) return NeedMore();
          SkipThen(std::uint64_t{left_} * Take(5), State::kPartition);
          break;
        case State::kRice:
          if (!Rice()) return NeedMore();
          state_ = State::kPartition;
          break;
        case State::kAlign:
          // Zero bits to the byte's end.
          if ((acc_ & ((std::uint64_t{1} << bits_) - 1)) != 0) return BrokenAt(element_);
          bits_ = 0;
          state_ = State::kFooter;
          break;
        case State::kFooter: {
          // The CRC-16 over the whole frame, itself included, comes to 0.
          if (!Need(16)) return NeedMore();
          Take(16);
          UpdateCrc();
          if (crc_ != 0) return BrokenAt(element_);
          samples_ += block_;
          ++frames_;
          slow_frame_ = false;
          if (info_.samples != 0 && samples_ >= info_.samples)
            return samples_ == info_.samples ? EndsAt(Pos()) : BrokenAt(element_);
          state_ = State::kFrameHeader;
          break;
        }
      }
    }
  }

  /// Unary quotients and `param_` low bits for `left_` residual samples. Only where each one ends
  /// matters: the bits are passed over, straight from the piece while more than a few bytes of it
  /// are left.
  bool Rice() {
    const unsigned param = param_;
    while (left_ > 0) {
      if (!stopped_ && end_ - p_ >= 16 && (bits_ == 0 || p_ > begin_)) {
        const std::uint8_t* const q = p_ - (bits_ > 0 ? 1 : 0);
        const std::uint8_t* const limit = end_ - 16;
        std::uint64_t at = bits_ > 0 ? 8 - bits_ : 0;  // in bits from q
        unsigned left = left_;
        while (left > 0 && q + (at >> 3) <= limit) {
          const std::uint64_t w = Be64(q + (at >> 3)) << (at & 7);
          if (w == 0) {
            at = ((at >> 3) + 8) << 3;
            continue;
          }
          at += static_cast<unsigned>(std::countl_zero(w)) + 1 + param;
          --left;
        }
        left_ = left;
        p_ = q + (at >> 3);
        bits_ = 0;
        if ((at & 7) != 0) {
          acc_ = *p_++;
          bits_ = 8 - static_cast<unsigned>(at & 7);
        }
        continue;
      }
      if (!stopped_) {
        for (;;) {
          const std::uint64_t v = acc_ & ((std::uint64_t{1} << bits_) - 1);
          if (v != 0) {
            bits_ = static_cast<unsigned>(std::bit_width(v)) - 1;
            break;
          }
          bits_ = 0;
          if (!Pull()) return false;
        }
        stopped_ = true;
      }
      if (!Need(param)) return false;
      bits_ -= param;
      stopped_ = false;
      --left_;
    }
    return true;
  }

  enum class SubframeKind { kConstant, kVerbatim, kFixed, kLpc };

  /// The samples of the subframe whose header was read: one value, all of them, or the warm-up
  /// before the residual.
  void StartSubframe() {
    const unsigned bits = sample_bits_ - wasted_;
    switch (kind_) {
      case SubframeKind::kConstant:
        SkipThen(bits, NextChannel());
        break;
      case SubframeKind::kVerbatim:
        SkipThen(std::uint64_t{block_} * bits, NextChannel());
        break;
      case SubframeKind::kFixed:
        SkipThen(std::uint64_t{order_} * bits, State::kResidual);
        break;
      case SubframeKind::kLpc:
        SkipThen(std::uint64_t{order_} * bits, State::kLpc);
        break;
    }
  }

  /// What follows a channel's subframe: the next one, or the frame's end.
  State NextChannel() { return ++channel_ == channels_ ? State::kAlign : State::kSubframe; }

  /// A frame header, byte by byte: its fields, then its CRC-8.
  EndVerdict ReadHeader() {
    for (;;) {
      if (header_length_ == header_need_) break;
      if (!Need(8)) return NeedMore();
      header_[header_length_++] = static_cast<std::uint8_t>(Take(8));
      if (header_length_ == 2 && (header_[0] != 0xFF || (header_[1] & 0xFE) != 0xF8))
        return NoFrame();
      if (header_length_ == 5) {
        const std::uint8_t* h = header_;
        const unsigned size_code = h[2] >> 4, rate_code = h[2] & 15;
        const unsigned channel_code = h[3] >> 4, depth_code = (h[3] >> 1) & 7;
        if (size_code == 0 || rate_code == 15 || channel_code > 10 || depth_code == 3 || (h[3] & 1))
          return NoFrame();
        const unsigned ones = static_cast<unsigned>(std::countl_one(h[4]));
        if (ones == 1 || ones == 8) return NoFrame();
        number_length_ = ones == 0 ? 1 : ones;
        header_need_ =
            4 + number_length_ + ExtraBytes(size_code, 6, 7) + ExtraBytes(rate_code, 12, 14) + 1;
      }
    }
    const std::uint8_t* h = header_;
    if (Crc8(h, header_need_) != 0) return NoFrame();
    header_length_ = 0;
    header_need_ = 5;
    FrameHeader f;
    if (!DecodeHeader(h, number_length_, info_, f)) return NoFrame();
    block_ = f.block;
    channels_ = f.channels;
    const bool variable = f.variable;
    const unsigned depth = f.depth, channel_code = f.channel_code;
    if (f.rate != info_.rate || depth != info_.bits || channels_ != info_.channels ||
        block_ > info_.max_block || (frames_ > 0 && variable != variable_) ||
        f.number != (variable ? samples_ : frames_))
      return NoFrame();
    variable_ = variable;
    bits_per_sample_ = depth;
    side_ = channel_code == 8 || channel_code == 10 ? 1 : channel_code == 9 ? 0 : ~0u;
    channel_ = 0;
    order_ = 0;
    state_ = State::kSubframe;
    return NeedMore();
  }

  /// No frame header where the next frame would begin.
  EndVerdict NoFrame() {
    if (frames_ > 0 && info_.samples == 0) return EndsAt(element_);
    return BrokenAt(element_);
  }

  const std::uint8_t* p_ = nullptr;
  const std::uint8_t* end_ = nullptr;
  std::uint64_t acc_ = 0;  ///< the bit store: its low `bits_` bits are still to be read
  unsigned bits_ = 0;
  std::uint16_t crc_ = 0;  ///< the CRC-16 of the frame's bytes up to crc_from_
  const std::uint8_t* crc_from_ = nullptr;
  const std::uint8_t* begin_ = nullptr;
  std::uint64_t piece_at_ = 0;  ///< where the piece being read begins in the file
  std::uint64_t fed_ = 0;

  std::vector<std::uint8_t> kept_;  ///< the frame's bytes from earlier pieces
  std::vector<std::uint8_t> rest_;
  const std::uint8_t* keep_from_ = nullptr;  ///< the first byte of the piece still to keep
  std::uint64_t scan_ = 0;                   ///< the frame's bytes that crc_ covers
  std::uint64_t limit_ = 0;                  ///< the frame's largest size
  bool slow_frame_ = false;                  ///< the frame is read bit by bit
  bool replaying_ = false;                   ///< kept bytes are being read again

  State state_ = State::kMagic, after_ = State::kMagic;
  std::uint64_t skip_ = 0;
  std::uint64_t element_ = 0;  ///< where the block or frame being read begins

  unsigned blocks_ = 0;
  bool last_block_ = false;
  std::uint8_t info_bytes_[34]{};
  std::size_t info_length_ = 0;
  StreamInfo info_;

  std::uint8_t header_[16]{};
  std::size_t header_length_ = 0, header_need_ = 5, number_length_ = 1;
  bool variable_ = false;
  std::uint64_t frames_ = 0, samples_ = 0;

  unsigned block_ = 0, channels_ = 0, channel_ = 0, side_ = ~0u;
  unsigned bits_per_sample_ = 0, sample_bits_ = 0, wasted_ = 0;
  SubframeKind kind_ = SubframeKind::kConstant;
  unsigned order_ = 0;
  unsigned param_bits_ = 4, partition_order_ = 0, partition_ = 0, param_ = 0;
  unsigned left_ = 0;
  bool stopped_ = false;
};

std::unique_ptr<EndFinder> FlacEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<FlacFinder>();
}

}  // namespace

extern const FileKind kFlacKind;
const FileKind kFlacKind{.tag = "FLAC",
                         .description = "FLAC audio",
                         .check = FlacStart,
                         .make_finder = FlacEnd,
                         .first_bytes = "f"};
