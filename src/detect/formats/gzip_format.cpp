#include "detect/file_kind.h"
#include "detect/formats/format_bytes.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kFixedHeader = 10;
constexpr std::uint8_t kHeaderCrc = 0x02, kExtra = 0x04, kName = 0x08, kComment = 0x10;

/// The fixed ten bytes: magic, deflate, no reserved flag, a known compression level mark and
/// operating system.
bool IsMemberHeader(const std::uint8_t* d) {
  return d[0] == 0x1F && d[1] == 0x8B && d[2] == 0x08 && (d[3] & 0xE0) == 0 &&
         (d[8] == 0 || d[8] == 2 || d[8] == 4) && (d[9] <= 13 || d[9] == 255);
}

constexpr std::size_t kNoHeader = ~std::size_t{0};

bool IsLetter(std::uint8_t b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

/// An extra field too long to see whole: its subfields, as far as they are seen, must be named by
/// two letters and fit the field.
bool ExtraLooksReal(const std::uint8_t* d, std::size_t available) {
  const std::size_t end = kFixedHeader + 2 + std::size_t{Le16(d + kFixedHeader)};
  std::size_t at = kFixedHeader + 2;
  if (at + 4 > available) return false;
  while (at + 4 <= available && at < end) {
    if (!IsLetter(d[at]) || !IsLetter(d[at + 1])) return false;
    at += 4 + std::size_t{Le16(d + at + 2)};
    if (at > end) return false;
  }
  return true;
}

/// The length of the header with its optional fields, 0 when it does not end within `available`
/// bytes but looks real as far as it goes, or kNoHeader.
std::size_t HeaderLength(const std::uint8_t* d, std::size_t available) {
  const std::uint8_t flags = d[3];
  std::size_t at = kFixedHeader;
  if (flags & kExtra) {
    if (at + 2 > available) return 0;
    at += 2 + std::size_t{Le16(d + at)};
    if (at > available) return ExtraLooksReal(d, available) ? 0 : kNoHeader;
  }
  for (const std::uint8_t field : {kName, kComment}) {
    // Text closed by a zero byte: no other control byte.
    if ((flags & field) == 0) continue;
    for (;; ++at) {
      if (at >= available) return 0;
      const std::uint8_t b = d[at];
      if (b == 0) break;
      if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return kNoHeader;
    }
    ++at;
  }
  if (flags & kHeaderCrc) {
    if (at + 2 > available) return 0;
    const auto crc = crc32(0, d, static_cast<uInt>(at));
    if ((crc & 0xFFFF) != Le16(d + at)) return kNoHeader;
    at += 2;
  }
  return at <= available ? at : 0;
}

/// An inflate state kept for the start checks of one thread, reset for each.
class StartInflater {
 public:
  StartInflater() { ready_ = inflateInit2(&stream_, MAX_WBITS + 16) == Z_OK; }
  ~StartInflater() {
    if (ready_) inflateEnd(&stream_);
  }
  StartInflater(const StartInflater&) = delete;
  StartInflater& operator=(const StartInflater&) = delete;

  /// Whether the bytes read as the start of a member, decoding at most a bounded amount of output;
  /// a member that ends within them must match its trailer.
  bool Inflates(const std::uint8_t* data, std::size_t size) {
    if (!ready_ || inflateReset(&stream_) != Z_OK) return false;
    std::uint8_t out[16384];
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    for (int round = 0; round < 16; ++round) {
      stream_.next_out = out;
      stream_.avail_out = sizeof out;
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) return true;
      if (result != Z_OK && result != Z_BUF_ERROR) return false;
      if (stream_.avail_in == 0 || stream_.avail_out != 0) return true;
    }
    return true;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

/// Inflates each member to its end, where zlib checks the trailer's CRC-32 and length; members that
/// follow back to back belong to the file. The output is thrown away.
class GzipFinder final : public EndFinder {
 public:
  GzipFinder() { ready_ = inflateInit2(&stream_, MAX_WBITS + 16) == Z_OK; }
  ~GzipFinder() override {
    if (ready_) inflateEnd(&stream_);
  }
  GzipFinder(const GzipFinder&) = delete;
  GzipFinder& operator=(const GzipFinder&) = delete;

  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    if (!ready_) return Unknown();
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
      if (between_) {
        // Another member only when its fixed header follows at once.
        const std::size_t take = std::min(left, kFixedHeader - probed_);
        std::memcpy(probe_ + probed_, p, take);
        probed_ += take;
        p += take;
        left -= take;
        if (probed_ < kFixedHeader) break;
        if (!IsMemberHeader(probe_)) return EndsAt(member_end_);
        between_ = false;
        member_start_ = member_end_;
        if (inflateReset(&stream_) != Z_OK) return BrokenAt(member_end_);
        if (Inflate(probe_, kFixedHeader) == Z_DATA_ERROR) return EndsAt(member_end_);
        continue;
      }
      const std::size_t in_before = stream_.total_in;
      const int result = Inflate(p, left);
      const std::size_t used = stream_.total_in - in_before;
      p += used;
      left -= used;
      if (result == Z_STREAM_END) {
        member_end_ = member_start_ + stream_.total_in;
        between_ = true;
        probed_ = 0;
        continue;
      }
      if (result != Z_OK || used == 0) return BrokenAt(Consumed());
    }
    return NeedMore();
  }

  EndVerdict Finish(std::uint64_t fed) override {
    if (between_) return EndsAt(member_end_);
    return BrokenAt(std::min<std::uint64_t>(fed, Consumed()));
  }

 private:
  /// Feeds `size` bytes to the member's inflate, to its end or until they are all taken.
  int Inflate(const std::uint8_t* data, std::size_t size) {
    int result = Z_OK;
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    while (stream_.avail_in > 0) {
      const uInt before = stream_.avail_in;
      stream_.next_out = out_;
      stream_.avail_out = sizeof out_;
      result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) return result;
      if (result != Z_OK && result != Z_BUF_ERROR) return Z_DATA_ERROR;
      if (stream_.avail_in == before && stream_.avail_out == sizeof out_) break;  // no headway
    }
    return Z_OK;
  }
  /// The bytes of the file the current member's inflate has taken.
  [[nodiscard]] std::uint64_t Consumed() const { return member_start_ + stream_.total_in; }

  z_stream stream_{};
  bool ready_ = false;
  bool between_ = false;
  std::uint8_t probe_[kFixedHeader]{};
  std::size_t probed_ = 0;
  std::uint64_t member_start_ = 0, member_end_ = 0;
  std::uint8_t out_[32768];
};

/// The header, then its deflate data decoding without error as far as it is seen (and the trailer's
/// CRC and length when the member ends that soon).
bool GzipStart(const std::uint8_t* d, std::size_t available) {
  if (available < kFixedHeader + 2 || !IsMemberHeader(d)) return false;
  const std::size_t header = HeaderLength(d, available);
  if (header == kNoHeader) return false;
  if (header == 0) return available >= kStartCheckBytes;  // a long name or extra field
  thread_local StartInflater inflater;
  return inflater.Inflates(d, available);
}

std::unique_ptr<EndFinder> GzipEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<GzipFinder>();
}

}  // namespace

extern const FileKind kGzipKind;
const FileKind kGzipKind{.tag = "GZ",
                         .description = "gzip compressed file",
                         .check = GzipStart,
                         .make_finder = GzipEnd,
                         .first_bytes = "\x1F"};
