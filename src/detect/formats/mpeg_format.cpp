#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"
#include "detect/formats/mpeg_video_slices.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

// The start codes of a video elementary stream: the byte after 00 00 01.
constexpr unsigned kPictureCode = 0x00, kUserData = 0xB2, kSequenceCode = 0xB3,
                   kExtensionCode = 0xB5, kSequenceEnd = 0xB7, kGroupCode = 0xB8;
constexpr unsigned kNoCode = 0x100;

bool IsSliceCode(unsigned code) {
  return code >= 0x01 && code <= 0xAF;
}

/// An elementary video stream, followed from start code to start code: the sequence header (with
/// its MPEG-2 extension), groups, pictures and their slices, each where the one before allows it.
/// The end code 00 00 01 B7 ends it; most writers leave it out, so the stream also ends where its
/// start codes stop following on: after the last picture's last macroblock, which the slice's codes
/// show to the bit. A sequence header that differs from the first one, or a group whose time code
/// goes back, starts another stream.
class ElementaryStreamFinder final : public EndFinder {
 public:
  ElementaryStreamFinder() : buffer_(kBufferSize) {}

  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    const std::uint8_t* p = data.data();
    const std::size_t n = data.size();
    EndVerdict verdict = NeedMore();
    for (std::size_t i = 0; i < n && verdict.state == EndVerdict::State::kNeedMore;) {
      if (want_code_) {
        want_code_ = false;
        verdict = OnStartCode(p[i++]);
        continue;
      }
      const void* hit = std::memchr(p + i, 1, n - i);
      const std::size_t j =
          hit == nullptr ? n : static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - p);
      verdict = Take(p + i, j - i);
      if (verdict.state != EndVerdict::State::kNeedMore) break;
      std::size_t k = j;
      while (k > i && p[k - 1] == 0) --k;
      zeros_ = k == i ? zeros_ + (j - i) : j - k;
      if (j == n) break;
      if (zeros_ >= 2) {
        // 00 00 01: the byte after it names what starts there.
        code_at_ = pos_ + j - 2;
        code_trim_ = pos_ + j - zeros_;
        want_code_ = true;
      } else {
        verdict = Take(p + j, 1);
      }
      zeros_ = 0;
      i = j + 1;
    }
    pos_ += n;
    return verdict;
  }

  EndVerdict Finish(std::uint64_t /*fed*/) override {
    if (IsSliceCode(code_)) return StopInSlice(len_);
    ReadHeld();
    return pictures_ > 0 && garbage_ ? EndsAt(complete_end_) : BrokenAt(BrokenEnd());
  }

 private:
  /// Slices up to this size are kept whole and read only when their end matters; longer ones are
  /// read as their bytes come.
  static constexpr std::size_t kBufferSize = 32 * SliceParser::kLookahead;
  static constexpr std::uint64_t kMaxUserData = 1 << 20;
  /// Zero bytes after a header, or after a picture's last slice, before the next start code.
  static constexpr std::uint64_t kMaxStuffing = 65536;
  /// More than a macroblock's bytes can be: 12 blocks of 64 of the longest codes.
  static constexpr std::uint64_t kMacroblockBytes = 12 * 64 * 28 / 8 + 64;

  enum class Level : std::uint8_t { kNone, kSequence, kGroup, kPicture, kSlices };

  /// Bytes of the current element that hold no start code.
  EndVerdict Take(const std::uint8_t* p, std::size_t n) {
    if (n == 0) return NeedMore();
    if (IsSliceCode(code_)) {
      while (n > 0) {
        if (slice_done_) {
          // Only the zeros of the next start code may follow.
          for (std::size_t k = 0; k < n; ++k)
            if (p[k] != 0) return StopInSlice(len_);
          stuffing_ += n;
          return stuffing_ > kMaxStuffing ? StopInSlice(len_) : NeedMore();
        }
        const std::size_t copy = std::min(n, buffer_.size() - len_);
        std::memcpy(buffer_.data() + len_, p, copy);
        len_ += copy;
        p += copy;
        n -= copy;
        if (len_ == buffer_.size()) {
          const EndVerdict verdict = ParseMore();
          if (verdict.state != EndVerdict::State::kNeedMore) return verdict;
        }
      }
      return NeedMore();
    }
    element_size_ += n;
    if (code_ == kUserData || code_ == kNoCode)
      return element_size_ > kMaxUserData ? StopOutside() : NeedMore();
    // A header: its first bytes are kept; past them only zeros may come.
    const std::size_t keep = std::min(n, sizeof head_ - head_len_);
    std::memcpy(head_ + head_len_, p, keep);
    head_len_ += keep;
    for (std::size_t k = keep; k < n; ++k)
      if (p[k] != 0) return StopOutside();
    return element_size_ > kMaxStuffing ? StopOutside() : NeedMore();
  }

  /// The buffer of a slice is full: read on as far as its bytes allow, then keep the rest.
  EndVerdict ParseMore() {
    if (!parsing_) {
      // Not to be read: the next start code must come before the slice could end.
      element_size_ += len_ - 4;
      len_ = 4;
      return element_size_ > slice_limit_ ? StopInSlice(0) : NeedMore();
    }
    const SliceStep step = parser_.Parse(buffer_.data(), len_, parse_bit_, false);
    if (step == SliceStep::kMore) {
      const std::size_t drop = static_cast<std::size_t>(parse_bit_ >> 3);
      std::memmove(buffer_.data(), buffer_.data() + drop, len_ - drop);
      len_ -= drop;
      buf_at_ += drop;
      parse_bit_ -= std::uint64_t{drop} * 8;
      return NeedMore();
    }
    slice_done_ = true;
    slice_step_ = step;
    if (step == SliceStep::kBroken) return BrokenAt(BrokenEnd());
    const std::size_t end = static_cast<std::size_t>((parse_bit_ + 7) >> 3);
    slice_end_ = buf_at_ + end;
    for (std::size_t k = end; k < len_; ++k)
      if (buffer_[k] != 0) return StopInSlice(len_);
    stuffing_ = len_ - end;
    return NeedMore();
  }

  /// Reads the rest of the slice in the first `size` bytes of the buffer.
  void FinishSlice(std::size_t size) {
    slice_done_ = true;
    if (!parsing_) return;
    slice_step_ = parser_.Parse(buffer_.data(), size, parse_bit_, true);
    slice_end_ = buf_at_ + ((parse_bit_ + 7) >> 3);
  }

  /// The stream goes no further than the slice now read: it ends with that slice's picture if that
  /// slice is the picture's last.
  EndVerdict StopInSlice(std::size_t size) {
    if (!slice_done_) FinishSlice(size);
    return slice_step_ == SliceStep::kPictureEnd ? EndsAt(slice_end_) : BrokenAt(BrokenEnd());
  }

  /// Reads the last slice of the last whole picture, left unread until its end matters.
  void ReadHeld() {
    if (!held_) return;
    held_ = false;
    FinishSlice(held_size_);
    if (slice_step_ != SliceStep::kPictureEnd) return;
    complete_end_ = slice_end_;
    garbage_ = slice_end_ < group_trim_;  // bytes between the picture and the start code
  }
  /// The stream goes no further than headers after the last whole picture: they may open another
  /// stream when they begin with a sequence header, or the bytes after the picture may be no start
  /// code of this stream at all.
  EndVerdict StopOutside() {
    ReadHeld();
    if (pictures_ > 0 && (group_sequence_ || garbage_)) return EndsAt(complete_end_);
    return BrokenAt(BrokenEnd());
  }
  EndVerdict NewStream() {
    ReadHeld();
    return pictures_ > 0 ? EndsAt(complete_end_) : BrokenAt(BrokenEnd());
  }
  /// The bytes before the picture whose end is not known.
  [[nodiscard]] std::uint64_t BrokenEnd() const {
    return pictures_ > 0 ? group_start_ : seen_picture_ ? first_picture_ : element_at_;
  }

  EndVerdict OnStartCode(unsigned code) {
    const std::uint64_t at = code_at_;
    if (code == kSequenceEnd) return EndsAt(at + 4);
    if (IsSliceCode(code_)) {
      const std::size_t size =
          at > buf_at_ ? static_cast<std::size_t>(std::min<std::uint64_t>(len_, at - buf_at_)) : 0;
      if (IsSliceCode(code) && SliceMayFollow(code)) {
        // Nothing but the next header follows a picture's last macroblock.
        if (slice_done_ && slice_step_ == SliceStep::kPictureEnd) return EndsAt(slice_end_);
      } else {
        if (code != kPictureCode && code != kGroupCode && code != kSequenceCode)
          return StopInSlice(size);
        // The picture ends here. Its last slice stays unread in the buffer unless it is read
        // already; the start codes tell the end until then.
        held_ = !slice_done_;
        held_size_ = size;
        complete_end_ =
            slice_done_ && slice_step_ == SliceStep::kPictureEnd ? slice_end_ : code_trim_;
        garbage_ = false;
        ++pictures_;
        group_start_ = at;
        group_trim_ = code_trim_;
        group_sequence_ = code == kSequenceCode;
      }
    } else {
      const EndVerdict verdict = CloseHeader(at);
      if (verdict.state != EndVerdict::State::kNeedMore) return verdict;
      // An MPEG-2 sequence header without its extension is an MPEG-1 stream's.
      if (mpeg2_ && code_ == kSequenceCode && code != kExtensionCode) return NewStream();
      if (!Follows(code)) return StopOutside();
    }
    Open(code, at);
    return NeedMore();
  }

  /// Whether `code` may come after the headers read so far.
  [[nodiscard]] bool Follows(unsigned code) const {
    switch (level_) {
      case Level::kNone:
        return code == kSequenceCode;
      case Level::kSequence:
        return code == kExtensionCode || code == kUserData || code == kGroupCode ||
               code == kPictureCode;
      case Level::kGroup:
        return code == kExtensionCode || code == kUserData || code == kPictureCode;
      case Level::kPicture:
        return code == kExtensionCode || code == kUserData ||
               (IsSliceCode(code) && (!mpeg2_ || picture_extension_) && SliceMayFollow(code));
      case Level::kSlices:
        break;
    }
    return false;
  }

  /// Slices come down the picture, each in a row it has.
  [[nodiscard]] bool SliceMayFollow(unsigned code) const {
    // Past 2800 lines the rows take three more bits in the slice, so the codes repeat.
    if (height_ > 2800) return true;
    return code >= last_slice_ && code <= Coding().mb_rows;
  }

  void Open(unsigned code, std::uint64_t at) {
    previous_code_ = code_;
    code_ = code;
    element_at_ = at;
    const std::uint8_t head[4] = {0, 0, 1, static_cast<std::uint8_t>(code)};
    std::memcpy(head_, head, 4);
    head_len_ = 4;
    element_size_ = 4;
    if (code == kSequenceCode) level_ = Level::kSequence;
    if (code == kGroupCode) level_ = Level::kGroup;
    if (code == kPictureCode) {
      level_ = Level::kPicture;
      picture_extension_ = false;
      last_slice_ = 0;
      if (!seen_picture_) first_picture_ = at;
      seen_picture_ = true;
    }
    if (IsSliceCode(code)) {
      level_ = Level::kSlices;
      last_slice_ = code;
      held_ = false;
      std::memcpy(buffer_.data(), head, 4);
      len_ = 4;
      buf_at_ = at;
      slice_done_ = false;
      slice_step_ = SliceStep::kMore;
      parse_bit_ = 0;
      stuffing_ = 0;
      const PictureCoding coding = Coding();
      parsing_ =
          coding.mb_width > 0 && coding.mb_rows > 0 && !scalable_ && (coding.type != 4 || !mpeg2_);
      if (parsing_) parser_.Start(coding);
      const std::uint64_t rows = coding.mb_rows > code - 1 ? coding.mb_rows - (code - 1) : 1;
      slice_limit_ = rows * coding.mb_width * kMacroblockBytes + kBufferSize;
    }
  }

  /// Judges the header that has just ended at `at`.
  EndVerdict CloseHeader(std::uint64_t at) {
    const std::uint8_t* b = head_;
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(head_len_, at - element_at_));
    switch (code_) {
      case kSequenceCode: {
        if (!SequenceHolds(b, size)) return StopOutside();
        std::size_t length = 12;
        bool non_intra = b[11] & 1;
        if (b[11] & 2) {
          length += 64;
          if (size < length) return StopOutside();
          non_intra = b[75] & 1;
        }
        if (non_intra) length += 64;
        if (size < length) return StopOutside();
        for (std::size_t k = length; k < size; ++k)
          if (b[k] != 0) return StopOutside();
        std::uint8_t fields[8];
        std::memcpy(fields, b + 4, 8);
        fields[7] &= 0xFC;  // the quantiser matrices may change
        if (!have_sequence_) {
          std::memcpy(sequence_, fields, 8);
          have_sequence_ = true;
          width_ = (b[4] << 4) | (b[5] >> 4);
          height_ = ((b[5] & 15) << 8) | b[6];
        } else if (std::memcmp(sequence_, fields, 8) != 0) {
          return NewStream();
        }
        return NeedMore();
      }
      case kExtensionCode: {
        if (size < 5) return StopOutside();
        const unsigned id = b[4] >> 4;
        if (id == 1) {
          // The sequence extension, right after the sequence header, makes it MPEG-2.
          const unsigned chroma = (b[5] >> 1) & 3;
          if (previous_code_ != kSequenceCode || size < 10 || (b[7] & 1) == 0 || chroma == 0)
            return StopOutside();
          if (!mpeg2_) {
            if (seen_picture_) return NewStream();
            mpeg2_ = true;
            std::memcpy(extension_, b + 4, 6);
            progressive_ = b[5] & 8;
            chroma_ = chroma;
            width_ |= (((b[5] & 1) << 1) | (b[6] >> 7)) << 12;
            height_ |= ((b[6] >> 5) & 3) << 12;
          } else if (std::memcmp(extension_, b + 4, 6) != 0) {
            return NewStream();
          }
        } else if (id == 8) {
          // The picture coding extension, right after the picture header.
          if (previous_code_ != kPictureCode || !mpeg2_ || size < 9 || (b[6] & 3) == 0)
            return StopOutside();
          f_code_[0][0] = b[4] & 15;
          f_code_[0][1] = b[5] >> 4;
          f_code_[1][0] = b[5] & 15;
          f_code_[1][1] = b[6] >> 4;
          structure_ = b[6] & 3;
          frame_pred_ = b[7] & 0x40;
          concealment_ = b[7] & 0x20;
          intra_vlc_ = b[7] & 0x08;
          picture_extension_ = true;
        } else if (id == 5 || id == 9 || id == 10) {
          scalable_ = true;  // layers whose slices are not read here
        }
        return NeedMore();
      }
      case kGroupCode: {
        if (size < 8 || (b[5] & 0x08) == 0) return StopOutside();
        const unsigned hours = (b[4] >> 2) & 31, minutes = ((b[4] & 3) << 4) | (b[5] >> 4);
        const unsigned seconds = ((b[5] & 7) << 3) | (b[6] >> 5);
        const unsigned frames = ((b[6] & 31) << 1) | (b[7] >> 7);
        const std::uint32_t time = ((hours * 64 + minutes) * 64 + seconds) * 64 + frames;
        // A stream's time codes go on: one that goes back, or a second closed group at time 0, is
        // the first of another stream.
        if (groups_ > 0 && pictures_ > 0 &&
            (time < time_code_ || (time == 0 && time_code_ == 0 && (b[7] & 0x40))))
          return NewStream();
        time_code_ = time;
        ++groups_;
        return NeedMore();
      }
      case kPictureCode: {
        // An intra picture's header may end after 8 bytes, the others' carry f codes.
        if (size < 8) return StopOutside();
        const unsigned type = (b[5] >> 3) & 7;
        if (type < 1 || type > (mpeg2_ ? 3u : 4u) || ((type == 2 || type == 3) && size < 9))
          return StopOutside();
        forward_f_ = size > 8 ? ((b[7] & 3) << 1) | (b[8] >> 7) : 0;
        backward_f_ = size > 8 ? (b[8] >> 3) & 7 : 0;
        if (!mpeg2_ &&
            ((type >= 2 && type <= 3 && forward_f_ == 0) || (type == 3 && backward_f_ == 0)))
          return StopOutside();
        type_ = type;
        return NeedMore();
      }
      default:
        return NeedMore();
    }
  }

  /// How the current picture's slices are coded.
  [[nodiscard]] PictureCoding Coding() const {
    PictureCoding c;
    c.mpeg2 = mpeg2_;
    c.mb_width = (width_ + 15) / 16;
    const unsigned rows = !mpeg2_ || progressive_ ? (height_ + 15) / 16 : 2 * ((height_ + 31) / 32);
    c.structure = mpeg2_ ? structure_ : 3;
    c.mb_rows = c.structure == 3 ? rows : rows / 2;
    c.type = type_ >= 1 && type_ <= 4 ? type_ : 1;
    c.tall = height_ > 2800;
    c.chroma = mpeg2_ ? chroma_ : 1;
    if (mpeg2_) {
      for (int s = 0; s < 2; ++s)
        for (int t = 0; t < 2; ++t) c.f_code[s][t] = f_code_[s][t];
      c.frame_pred_frame_dct = frame_pred_;
      c.concealment_vectors = concealment_;
      c.intra_vlc = intra_vlc_;
    } else {
      c.f_code[0][0] = c.f_code[0][1] = forward_f_;
      c.f_code[1][0] = c.f_code[1][1] = backward_f_;
    }
    return c;
  }

  std::vector<std::uint8_t> buffer_;  ///< the current or last slice's bytes from buf_at_ on
  std::size_t len_ = 0;
  std::uint64_t buf_at_ = 0;
  std::uint8_t head_[512] = {};  ///< a header's first bytes
  std::size_t head_len_ = 0;
  std::uint64_t element_size_ = 0;
  std::uint64_t pos_ = 0;        ///< bytes fed before the current piece
  std::uint64_t zeros_ = 0;      ///< zero bytes right before the next byte
  bool want_code_ = false;       ///< 00 00 01 just went by
  std::uint64_t code_at_ = 0;    ///< where that start code begins
  std::uint64_t code_trim_ = 0;  ///< and where the zeros before it begin
  unsigned code_ = kNoCode, previous_code_ = kNoCode;
  std::uint64_t element_at_ = 0;
  Level level_ = Level::kNone;

  SliceParser parser_;
  bool parsing_ = false;  ///< the slices of this picture can be read
  bool slice_done_ = false;
  SliceStep slice_step_ = SliceStep::kMore;  ///< kMore: the slice was not read
  std::uint64_t parse_bit_ = 0;              ///< in the buffer
  std::uint64_t slice_end_ = 0;
  std::uint64_t slice_limit_ = 0;
  std::uint64_t stuffing_ = 0;
  unsigned last_slice_ = 0;
  bool held_ = false;  ///< the last whole picture's last slice is in the buffer, unread
  std::size_t held_size_ = 0;

  std::uint8_t sequence_[8] = {};   ///< the first sequence header's fields
  std::uint8_t extension_[6] = {};  ///< and its extension's
  bool have_sequence_ = false, mpeg2_ = false, progressive_ = true, scalable_ = false;
  unsigned width_ = 0, height_ = 0, chroma_ = 1;
  std::uint32_t time_code_ = 0;
  std::uint64_t groups_ = 0;
  unsigned type_ = 1, forward_f_ = 1, backward_f_ = 1, structure_ = 3;
  unsigned f_code_[2][2] = {{1, 1}, {1, 1}};
  bool picture_extension_ = false, frame_pred_ = true, concealment_ = false, intra_vlc_ = false;

  std::uint64_t pictures_ = 0;      ///< whole pictures
  std::uint64_t complete_end_ = 0;  ///< where the last whole picture ends
  std::uint64_t group_start_ = 0;   ///< the start code after it
  std::uint64_t group_trim_ = 0;    ///< and where the zeros before that start code begin
  bool group_sequence_ = false;     ///< which is a sequence header's
  bool garbage_ = false;            ///< the picture's end is followed by bytes not zero
  bool seen_picture_ = false;
  std::uint64_t first_picture_ = 0;
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
