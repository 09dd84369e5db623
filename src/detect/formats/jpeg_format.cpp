#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

/// Markers that carry a two-byte length: frames, tables, scans, application data, comments.
bool HasLength(std::uint8_t code) {
  return (code >= 0xC0 && code <= 0xCF) || (code >= 0xDA && code <= 0xDF) ||
         (code >= 0xE0 && code <= 0xEF) || (code >= 0xF0 && code <= 0xFE);
}

/// Segments by their lengths, entropy-coded data (found with memchr for 0xFF) to the end
/// of image. Stuffed FF 00 and restart markers stay inside the data; any other marker
/// in the data ends it (a progressive picture has several scans). A byte pair no JPEG
/// can hold (FF D8 in the data, a marker code below C0) breaks the file before it.
class JpegFinder final : public EndFinder {
 public:
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    const std::uint8_t* p = data.data();
    const std::size_t n = data.size();
    std::size_t i = 0;
    while (i < n) {
      switch (state_) {
        case State::kEntropy: {
          const void* ff = std::memchr(p + i, 0xFF, n - i);
          if (ff == nullptr) {
            i = n;
            break;
          }
          i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - p);
          mark_ = fed_ + i;
          ++i;
          state_ = State::kEntropyFF;
          break;
        }
        case State::kEntropyFF: {
          const std::uint8_t code = p[i++];
          if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {
            state_ = State::kEntropy;
          } else if (code == 0xFF) {
            mark_ = fed_ + i - 1;  // fill byte before a marker
          } else if (const EndVerdict v = OnMarker(code); v.state != EndVerdict::State::kNeedMore) {
            return v;
          }
          break;
        }
        case State::kMarker:
          if (p[i] != 0xFF) return BrokenAt(fed_ + i);
          mark_ = fed_ + i;
          ++i;
          state_ = State::kMarkerCode;
          break;
        case State::kMarkerCode: {
          const std::uint8_t code = p[i++];
          if (code == 0xFF) {
            mark_ = fed_ + i - 1;
          } else if (code == 0xD8 && mark_ == 0) {
            state_ = State::kMarker;
          } else if (const EndVerdict v = OnMarker(code); v.state != EndVerdict::State::kNeedMore) {
            return v;
          }
          break;
        }
        case State::kLength1:
          length_ = p[i++] << 8;
          state_ = State::kLength2;
          break;
        case State::kLength2:
          length_ |= p[i++];
          if (length_ < 2) return BrokenAt(mark_);
          skip_ = length_ - 2;
          state_ = State::kSkip;
          break;
        case State::kSkip: {
          const std::size_t k = skip_ < n - i ? skip_ : n - i;
          i += k;
          skip_ -= k;
          if (skip_ == 0) state_ = scan_ ? State::kEntropy : State::kMarker;
          break;
        }
      }
    }
    if (state_ == State::kSkip && skip_ == 0) state_ = scan_ ? State::kEntropy : State::kMarker;
    fed_ += n;
    return NeedMore();
  }

 private:
  enum class State { kMarker, kMarkerCode, kLength1, kLength2, kSkip, kEntropy, kEntropyFF };

  /// A marker code after FF at `mark_`.
  EndVerdict OnMarker(std::uint8_t code) {
    if (code == 0xD9) return EndsAt(mark_ + 2);
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
      state_ = scan_ ? State::kEntropy : State::kMarker;
      return NeedMore();
    }
    if (!HasLength(code)) return BrokenAt(mark_);
    scan_ = code == 0xDA;
    state_ = State::kLength1;
    return NeedMore();
  }

  State state_ = State::kMarker;
  bool scan_ = false;
  unsigned length_ = 0;
  std::size_t skip_ = 0;
  std::uint64_t fed_ = 0, mark_ = 0;
};

/// Walks the segments from the start marker, each to the marker of the next, as far as the
/// bytes at hand go: false when they do not chain; `scan` when the first scan is reached,
/// `segments` how many came before it.
bool SegmentsChain(const std::uint8_t* data, std::size_t available, bool& scan, int& segments) {
  scan = false;
  segments = 0;
  if (available < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  std::size_t at = 2;
  while (at + 4 <= available) {
    if (data[at] != 0xFF) return false;
    const std::uint8_t code = data[at + 1];
    if (code == 0xFF) {
      ++at;
      continue;
    }
    if (!HasLength(code)) return false;
    const unsigned length = Be16(data + at + 2);
    if (length < 2) return false;
    if (segments == 0) {
      // The first application segment names itself.
      const char* name = reinterpret_cast<const char*>(data + at + 4);
      const std::size_t room = available - at - 4;
      if (code == 0xE0 && !(room >= 5 && (std::memcmp(name, "JFIF\0", 5) == 0 ||
                                          std::memcmp(name, "JFXX\0", 5) == 0)))
        return false;
      if (code == 0xE1 && !(room >= 6 && (std::memcmp(name, "Exif\0", 5) == 0 ||
                                          std::memcmp(name, "http:", 5) == 0)))
        return false;
    }
    if (code == 0xDA) return scan = true;
    ++segments;
    at += 2 + length;
  }
  return true;
}

}  // namespace

bool JpegStart(const std::uint8_t* data, std::size_t available) {
  // The segments within the bytes seen must chain, marker to marker, up to a scan.
  bool scan = false;
  int segments = 0;
  return SegmentsChain(data, available, scan, segments) && (scan || segments > 0);
}

/// A JPEG whose first segment is no JFIF or Exif block (a table, a comment, an ICC profile,
/// a maker's own block), as cameras, phones and encoders write them: its segments must chain
/// up to the first scan within the bytes at hand.
std::string_view JpegOtherName(const std::uint8_t* data, std::size_t available) {
  if (available < 4 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return {};
  const std::uint8_t first = data[3];
  if (first == 0xE0 || first == 0xE1 || !HasLength(first) || first == 0xDA) return {};
  bool scan = false;
  int segments = 0;
  return SegmentsChain(data, available, scan, segments) && scan ? "JPG" : std::string_view{};
}

std::unique_ptr<EndFinder> JpegEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<JpegFinder>();
}

}  // namespace media

const FileKind kJpgKind{.tag = "JPG",
                        .description = "JPEG picture",
                        .check = media::JpegStart,
                        .make_finder = media::JpegEnd,
                        .first_bytes = "\xFF",
                        .preview = KindPreview::kPicture,
                        .unchained = media::JpegOtherName};
