#include "detect/file_kind.h"
#include "detect/formats/media_walker.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

using media::RecordWalker;

constexpr std::uint32_t kEbml = 0x1A45DFA3, kDocType = 0x4282, kSegment = 0x18538067;
constexpr std::uint32_t kSeekHead = 0x114D9B74, kInfo = 0x1549A966, kTracks = 0x1654AE6B,
                        kCluster = 0x1F43B675, kCues = 0x1C53BB6B, kTags = 0x1254C367,
                        kAttachments = 0x1941A469, kChapters = 0x1043A770;
constexpr std::uint32_t kVoid = 0xEC, kCrc = 0xBF;
constexpr std::uint32_t kTimestamp = 0xE7, kSilentTracks = 0x5854, kPosition = 0xA7,
                        kPrevSize = 0xAB, kSimpleBlock = 0xA3, kBlockGroup = 0xA0, kBlock = 0xA1;
constexpr std::uint32_t kTrackEntry = 0xAE, kTrackNumber = 0xD7;

/// No element of a real file is this long; a size beyond it is no element.
constexpr std::uint64_t kMaxElement = std::uint64_t{1} << 48;
/// The largest EBML header taken: a few short numbers and the document type.
constexpr std::uint64_t kMaxHeader = 256;

/// The length of a variable-size number from its first byte (1 to 8), 0 when none.
int VintLength(std::uint8_t first) {
  return first == 0 ? 0 : std::countl_zero(first) + 1;
}

/// The length of an element ID (1 to 4), 0 when the byte starts none.
int IdLength(std::uint8_t first) {
  const int length = VintLength(first);
  return length >= 1 && length <= 4 ? length : 0;
}

std::uint32_t ReadId(const std::uint8_t* p, int length) {
  std::uint32_t id = 0;
  for (int i = 0; i < length; ++i) id = (id << 8) | p[i];
  return id;
}

/// A size of `length` bytes; `unknown` when all its bits are set (a writer that streamed).
std::uint64_t ReadSize(const std::uint8_t* p, int length, bool& unknown) {
  std::uint64_t value = p[0] & (0xFFu >> length);
  std::uint64_t ones = 0xFFu >> length;
  for (int i = 1; i < length; ++i) {
    value = (value << 8) | p[i];
    ones = (ones << 8) | 0xFF;
  }
  unknown = value == ones;
  return value;
}

/// One element header read from a buffer of `available` bytes.
struct Header {
  std::uint32_t id = 0;
  std::uint64_t size = 0;
  int length = 0;  ///< the header's bytes, ID and size; 0 when there is none
  bool unknown = false;
};

Header ParseHeader(const std::uint8_t* p, std::size_t available) {
  Header h;
  if (available < 2) return h;
  const int id_length = IdLength(p[0]);
  if (id_length == 0 || available < std::size_t(id_length) + 1) return h;
  const int size_length = VintLength(p[id_length]);
  if (size_length == 0 || available < std::size_t(id_length + size_length)) return h;
  h.id = ReadId(p, id_length);
  h.size = ReadSize(p + id_length, size_length, h.unknown);
  h.length = id_length + size_length;
  return h;
}

enum class DocType : std::uint8_t { kNone, kMatroska, kWebm };

/// The EBML header's document type, and the first byte after the header.
DocType ReadEbmlHeader(const std::uint8_t* d, std::size_t available, std::uint64_t& end) {
  if (available < 5 || ReadId(d, 4) != kEbml) return DocType::kNone;
  const Header top = ParseHeader(d, available);
  if (top.length == 0 || top.unknown || top.size < 3 || top.size > kMaxHeader)
    return DocType::kNone;
  end = top.length + top.size;
  if (end > available) return DocType::kNone;
  // Its children fill it exactly; each is one of the header's own.
  DocType type = DocType::kNone;
  for (std::uint64_t at = top.length; at < end;) {
    const Header h = ParseHeader(d + at, end - at);
    if (h.length == 0 || h.unknown || h.size > end - at - h.length) return DocType::kNone;
    const bool known = (h.id >= 0x4281 && h.id <= 0x4287 && h.id != 0x4283 && h.id != 0x4284) ||
                       h.id == 0x42F7 || h.id == 0x42F2 || h.id == 0x42F3 || h.id == kVoid ||
                       h.id == kCrc;
    if (!known) return DocType::kNone;
    if (h.id == kDocType) {
      const std::uint8_t* text = d + at + h.length;
      std::size_t length = static_cast<std::size_t>(h.size);
      while (length > 0 && text[length - 1] == 0) --length;
      if (length == 8 && std::memcmp(text, "matroska", 8) == 0) type = DocType::kMatroska;
      if (length == 4 && std::memcmp(text, "webm", 4) == 0) type = DocType::kWebm;
    }
    at += h.length + h.size;
  }
  return type;
}

/// The elements of a segment's top level.
bool IsSegmentChild(std::uint32_t id) {
  return id == kSeekHead || id == kInfo || id == kTracks || id == kCluster || id == kCues ||
         id == kTags || id == kAttachments || id == kChapters;
}

bool IsClusterChild(std::uint32_t id) {
  return id == kTimestamp || id == kSilentTracks || id == kPosition || id == kPrevSize ||
         id == kSimpleBlock || id == kBlockGroup || id == kVoid || id == kCrc;
}

/// The segment after the EBML header, its children by their sizes (a cluster of unknown
/// size by its own children). With a known size the children fill the segment and it
/// ends there; with an unknown size (a writer that streamed) the file ends before the
/// first bytes that are no element of the segment. The track list is read for its track
/// numbers, which every block walked must name; a truncated or inconsistent segment
/// breaks where its last whole element ends.
class EbmlFinder final : public RecordWalker {
 public:
  explicit EbmlFinder(std::uint64_t header_end) : RecordWalker(24), valid_end_(header_end) {
    NextHeader(header_end, header_end);
  }
  EndVerdict Finish(std::uint64_t fed) override {
    // Between elements, or within padding, of a segment of unknown size.
    const bool between =
        (step_ == Step::kHeader && fed == header_at_) || (step_ == Step::kEnd && !counts_);
    if (between && depth_ > 0 && KnownEnd() == 0 && Complete()) return EndsAt(valid_end_);
    return BrokenAt(std::min(valid_end_, fed));
  }

 private:
  enum class Step : std::uint8_t { kHeader, kPeek, kEnd };
  enum class Context : std::uint8_t {
    kInSegment,
    kInCluster,
    kInTracks,
    kInTrackEntry,
    kInBlockGroup
  };
  struct Level {
    Context context;
    bool unknown;
    std::uint64_t end;
  };
  static constexpr int kMaxDepth = 4;

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    switch (step_) {
      case Step::kHeader:
        return OnHeader(r, size, at);
      case Step::kPeek:
        return OnPeek(r + element_.length, size - element_.length);
      case Step::kEnd:
        return Finished(at, counts_);
    }
    return BrokenAt(valid_end_);
  }

  void NextHeader(std::uint64_t at, std::uint64_t skip) {
    step_ = Step::kHeader;
    header_at_ = at;
    Gather(1, skip);
  }

  /// The header gathered a byte at a time: the ID's first byte tells its length, the
  /// size's first byte tells its own.
  EndVerdict OnHeader(const std::uint8_t* r, std::size_t size, std::uint64_t at) {
    const int id_length = IdLength(r[0]);
    if (id_length == 0) return Garbage();
    if (size < std::size_t(id_length) + 1) {
      Extend(id_length + 1);
      return NeedMore();
    }
    const int size_length = VintLength(r[id_length]);
    if (size_length == 0) return Garbage();
    if (size < std::size_t(id_length + size_length)) {
      Extend(id_length + size_length);
      return NeedMore();
    }
    element_ = ParseHeader(r, size);
    return OnElement(at);
  }

  /// The nearest end that a size states among the open elements, 0 when all are unknown.
  [[nodiscard]] std::uint64_t KnownEnd() const {
    for (int i = depth_ - 1; i >= 0; --i)
      if (!levels_[i].unknown) return levels_[i].end;
    return 0;
  }

  EndVerdict OnElement(std::uint64_t at) {
    const Header& h = element_;
    if (depth_ == 0) {
      // The segment itself.
      if (h.id != kSegment || (!h.unknown && h.size > kMaxElement)) return BrokenAt(valid_end_);
      levels_[depth_++] = {Context::kInSegment, h.unknown, at + h.length + h.size};
      valid_end_ = at + h.length;
      return Finished(at + h.length, false);
    }
    // A cluster of unknown size ends where an element of the segment's level begins.
    if (levels_[depth_ - 1].context == Context::kInCluster && levels_[depth_ - 1].unknown &&
        !IsClusterChild(h.id) && IsSegmentChild(h.id)) {
      --depth_;
      valid_end_ = at;
    }
    const Context context = levels_[depth_ - 1].context;
    if (!Allowed(context, h.id)) return Garbage();
    // Writers put a group's block first.
    if (context == Context::kInBlockGroup && !group_block_ && h.id != kBlock) return Garbage();
    if (h.unknown) {
      if (context != Context::kInSegment || h.id != kCluster) return Garbage();
      blocks_ = false;
      return Open(Context::kInCluster, true, 0, at + h.length);
    }
    const std::uint64_t known_end = KnownEnd();
    if (h.size > kMaxElement ||
        (known_end != 0 && (at + h.length > known_end || h.size > known_end - at - h.length)))
      return Garbage();
    const std::uint64_t end = at + h.length + h.size;
    switch (h.id) {
      case kTracks:
        if (context == Context::kInSegment)
          return Open(Context::kInTracks, false, end, at + h.length);
        break;
      case kTrackEntry:
        if (context == Context::kInTracks)
          return Open(Context::kInTrackEntry, false, end, at + h.length);
        break;
      case kBlockGroup:
        if (context == Context::kInCluster) {
          blocks_ = true;
          group_block_ = false;
          return Open(Context::kInBlockGroup, false, end, at + h.length);
        }
        break;
      case kTrackNumber:
        if (context == Context::kInTrackEntry) {
          if (h.size < 1 || h.size > 8) return Garbage();
          return Peek(h.size);
        }
        break;
      case kSimpleBlock:
      case kBlock:
        if (context == (h.id == kBlock ? Context::kInBlockGroup : Context::kInCluster)) {
          if (h.size < 4) return Garbage();
          blocks_ = group_block_ = true;
          return Peek(std::min<std::uint64_t>(h.size, 5));
        }
        break;
      case kCrc:
        if (h.size != 4) return Garbage();
        break;
      case kTimestamp:
      case kPosition:
      case kPrevSize:
        if (context == Context::kInCluster && (blocks_ || h.size > 8)) return Garbage();
        break;
      case kSilentTracks:
        // The cluster's own numbers come before its blocks.
        if (context == Context::kInCluster && blocks_) return Garbage();
        break;
      case kInfo:
        if (context == Context::kInSegment) info_ = true;
        break;
      default:
        break;
    }
    return SkipTo(h.size, h.id != kVoid);
  }

  /// Whether `id` may stand in `context`; the elements within a track entry or a block
  /// group are taken by their sizes alone.
  [[nodiscard]] static bool Allowed(Context context, std::uint32_t id) {
    switch (context) {
      case Context::kInSegment:
        return IsSegmentChild(id) || id == kVoid || id == kCrc;
      case Context::kInCluster:
        return IsClusterChild(id);
      case Context::kInTracks:
        return id == kTrackEntry || id == kVoid || id == kCrc;
      case Context::kInTrackEntry:
      case Context::kInBlockGroup:
        return true;
    }
    return false;
  }

  EndVerdict Open(Context context, bool unknown, std::uint64_t end, std::uint64_t body) {
    if (depth_ == kMaxDepth) return Garbage();
    levels_[depth_++] = {context, unknown, end};
    return Finished(body, false);
  }

  EndVerdict Peek(std::uint64_t bytes) {
    step_ = Step::kPeek;
    Extend(element_.length + static_cast<std::size_t>(bytes));
    return NeedMore();
  }

  /// The first bytes of a track number or a block.
  EndVerdict OnPeek(const std::uint8_t* body, std::size_t size) {
    if (element_.id == kTrackNumber) {
      std::uint64_t number = 0;
      for (std::size_t i = 0; i < size; ++i) number = (number << 8) | body[i];
      if (number == 0) return Garbage();
      if (number < 64)
        track_mask_ |= std::uint64_t{1} << number;
      else
        high_tracks_ = true;
      return SkipTo(element_.size - size, true);
    }
    // A block: its track number, a 16-bit time and flags whose reserved bits are clear.
    const int length = VintLength(body[0]);
    if (length < 1 || length > 2 || std::size_t(length) + 3 > size) return Garbage();
    const std::uint64_t track =
        length == 1 ? (body[0] & 0x7Fu) : ((body[0] & 0x3Fu) << 8 | body[1]);
    if (track == 0) return Garbage();
    if (track_mask_ != 0 || high_tracks_) {
      const bool named = track < 64 ? (track_mask_ >> track & 1) != 0 : high_tracks_;
      if (!named) return Garbage();
    }
    const std::uint8_t flags = body[length + 2];
    if ((flags & (element_.id == kSimpleBlock ? 0x70 : 0xF0)) != 0) return Garbage();
    return SkipTo(element_.size - size, true);
  }

  /// Skips the rest of the element; `counts` when it adds to the valid bytes.
  EndVerdict SkipTo(std::uint64_t skip, bool counts) {
    step_ = Step::kEnd;
    counts_ = counts;
    Gather(0, skip);
    return NeedMore();
  }

  /// An element ended at `pos`: the open elements whose stated ends are there end too.
  EndVerdict Finished(std::uint64_t pos, bool counts) {
    const Context context = levels_[depth_ - 1].context;
    if (counts && (context == Context::kInSegment || context == Context::kInCluster))
      valid_end_ = pos;
    while (KnownEnd() == pos) {
      if (depth_ == 1) return EndsAt(pos);
      const Context closed = levels_[--depth_].context;
      if (closed == Context::kInTracks) tracks_ = true;
      const Context parent = levels_[depth_ - 1].context;
      if (parent == Context::kInSegment || parent == Context::kInCluster) valid_end_ = pos;
    }
    NextHeader(pos, 0);
    return NeedMore();
  }

  /// Bytes that are no element where they stand: the end of a segment of unknown size once
  /// it is whole, else a break. A block group around them was no group either.
  [[nodiscard]] EndVerdict Garbage() {
    while (depth_ > 1 && levels_[depth_ - 1].context == Context::kInBlockGroup) --depth_;
    if (depth_ > 0 && KnownEnd() == 0 && Complete()) return EndsAt(valid_end_);
    return BrokenAt(valid_end_);
  }

  [[nodiscard]] bool Complete() const { return info_ && tracks_; }

  Step step_ = Step::kHeader;
  Header element_;
  Level levels_[kMaxDepth]{};
  int depth_ = 0;
  bool counts_ = false, info_ = false, tracks_ = false, high_tracks_ = false;
  /// Whether the cluster of unknown size being walked had a block, and the block group one.
  bool blocks_ = false, group_block_ = false;
  std::uint64_t track_mask_ = 0;
  /// The end of the last whole element of the segment (or of a cluster of unknown size).
  std::uint64_t valid_end_;
  std::uint64_t header_at_ = 0;
};

bool EbmlStart(const std::uint8_t* data, std::size_t available) {
  std::uint64_t end = 0;
  if (ReadEbmlHeader(data, available, end) == DocType::kNone) return false;
  // The segment follows at once.
  return available < end + 4 || ReadId(data + end, 4) == kSegment;
}

std::string_view EbmlName(const std::uint8_t* data, std::size_t available) {
  std::uint64_t end = 0;
  switch (ReadEbmlHeader(data, available, end)) {
    case DocType::kMatroska:
      return "MKV";
    case DocType::kWebm:
      return "WEBM";
    case DocType::kNone:
      break;
  }
  return {};
}

std::unique_ptr<EndFinder> EbmlEnd(const std::uint8_t* data, std::size_t available) {
  std::uint64_t end = 0;
  if (ReadEbmlHeader(data, available, end) == DocType::kNone) return nullptr;
  return std::make_unique<EbmlFinder>(end);
}

}  // namespace

extern const FileKind kMkvKind, kWebmKind;

const FileKind kMkvKind{.tag = "MKV",
                        .description = "Matroska video",
                        .check = EbmlStart,
                        .make_finder = EbmlEnd,
                        .name = EbmlName,
                        .first_bytes = "\x1A"};
const FileKind kWebmKind{.tag = "WEBM",
                         .description = "WebM video",
                         .check = EbmlStart,
                         .make_finder = EbmlEnd,
                         .name = EbmlName,
                         .first_bytes = "\x1A"};
