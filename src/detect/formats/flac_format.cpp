#include "detect/file_kind.h"
#include "detect/formats/format_bytes.h"

#include <array>
#include <bit>
#include <cstring>

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
/// share when k zero bytes follow it, for four bytes at a time.
constexpr std::array<std::array<std::uint16_t, 256>, 4> kCrc16 = [] {
  std::array<std::array<std::uint16_t, 256>, 4> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i << 8;
    for (int k = 0; k < 8; ++k) c = (c & 0x8000) ? ((c << 1) ^ 0x8005) : (c << 1);
    t[0][i] = static_cast<std::uint16_t>(c);
  }
  for (int k = 1; k < 4; ++k)
    for (unsigned i = 0; i < 256; ++i)
      t[k][i] = static_cast<std::uint16_t>(t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 8];
  return t;
}();

std::uint8_t Crc8(const std::uint8_t* p, std::size_t n) {
  std::uint8_t c = 0;
  for (std::size_t i = 0; i < n; ++i) c = kCrc8[c ^ p[i]];
  return c;
}

/// What the stream header (STREAMINFO) says.
struct StreamInfo {
  unsigned min_block = 0, max_block = 0;
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

/// The blocks of metadata by their lengths, then the frames, each read to its exact end: the header
/// (its CRC-8 and fields agreeing with the stream header and the frame count), every subframe's
/// warm-up, coefficients and Rice-coded residual, then the frame's CRC-16. The file ends with the
/// frame that completes the stated sample count; when the count is not known, with the last frame
/// that no valid frame header follows.
class FlacFinder final : public EndFinder {
 public:
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    begin_ = p_ = crc_from_ = data.data();
    end_ = p_ + data.size();
    const EndVerdict verdict = Run();
    UpdateCrc();
    piece_at_ += static_cast<std::uint64_t>(p_ - begin_);
    begin_ = p_;
    return verdict;
  }
  EndVerdict Finish(std::uint64_t /*fed*/) override {
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
  };

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

  /// The bytes after the frame number that a block size code (codes 6 and 7 call for one and
  /// two) or a sample rate code (12, then 13 and 14) calls for.
  static std::size_t ExtraBytes(unsigned code, unsigned one, unsigned last) {
    return code == one ? 1 : code > one && code <= last ? 2 : 0;
  }

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
    const unsigned size_code = h[2] >> 4, rate_code = h[2] & 15;
    const unsigned channel_code = h[3] >> 4, depth_code = (h[3] >> 1) & 7;
    // The frame or sample number, UTF-8 coded.
    std::uint64_t number = number_length_ == 1 ? h[4] : h[4] & (0x7F >> number_length_);
    for (std::size_t i = 1; i < number_length_; ++i) {
      if ((h[4 + i] & 0xC0) != 0x80) return NoFrame();
      number = number << 6 | (h[4 + i] & 0x3F);
    }
    std::size_t at = 4 + number_length_;
    if (size_code == 1)
      block_ = 192;
    else if (size_code <= 5)
      block_ = 576u << (size_code - 2);
    else if (size_code == 6)
      block_ = h[at++] + 1u;
    else if (size_code == 7)
      block_ = Be16(h + at) + 1u, at += 2;
    else
      block_ = 256u << (size_code - 8);
    static constexpr std::uint32_t kRates[12] = {0,     88200, 176400, 192000, 8000,  16000,
                                                 22050, 24000, 32000,  44100,  48000, 96000};
    std::uint32_t rate = info_.rate;
    if (rate_code >= 1 && rate_code <= 11)
      rate = kRates[rate_code];
    else if (rate_code == 12)
      rate = h[at] * 1000u;
    else if (rate_code == 13)
      rate = Be16(h + at);
    else if (rate_code == 14)
      rate = Be16(h + at) * 10u;
    static constexpr unsigned kDepths[8] = {0, 8, 12, 0, 16, 20, 24, 32};
    const unsigned depth = depth_code == 0 ? info_.bits : kDepths[depth_code];
    channels_ = channel_code <= 7 ? channel_code + 1 : 2;
    const bool variable = (h[1] & 1) != 0;
    if (rate != info_.rate || depth != info_.bits || channels_ != info_.channels ||
        block_ > info_.max_block || (frames_ > 0 && variable != variable_) ||
        number != (variable ? samples_ : frames_))
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
