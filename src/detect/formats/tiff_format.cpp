#include "detect/formats/tiff_format.h"
#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace media {
namespace {

constexpr std::size_t kCapacity = 16384;
constexpr std::size_t kMaxPending = 32, kMaxGroups = 16;
/// Strip or tile counts kept when they come before their offsets, so that each piece ends
/// at its own offset plus its own count.
constexpr std::size_t kMaxEarlyCounts = 65536;

/// Bytes per value of each field type (0: unknown type).
unsigned TypeSize(unsigned type) {
  static constexpr std::array<std::uint8_t, 19> kSizes{0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                                       8, 4, 8, 4, 0, 0, 8, 8, 8};
  return type < kSizes.size() ? kSizes[type] : 0;
}

bool IsTiffHeader(const std::uint8_t* d) {
  return (d[0] == 'I' && d[1] == 'I' && d[2] == 42 && d[3] == 0) ||
         (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && d[3] == 42);
}

/// The largest extent of the directories, their value arrays, strips and tiles, and the
/// directories they lead to (next, sub-, EXIF, GPS, interoperability). Offsets are
/// learnt as the bytes go by and visited in ascending order; a directory or array that
/// lies behind what was already passed, or more of them than a small table holds,
/// makes the end unknown.
class TiffFinder final : public RecordWalker {
 public:
  TiffFinder() : RecordWalker(kCapacity) { Gather(8); }

 private:
  enum class Kind : std::uint8_t { kHeader, kIfdCount, kIfd, kOffsets, kCounts, kSubIfds, kEnd };
  struct Pending {
    std::uint64_t offset;
    std::uint32_t count;
    Kind kind;
    std::uint8_t type, group;
  };
  /// The strips or tiles of one directory: the end of the farthest piece is its offset
  /// plus its own count. When the counts come first they are kept (up to a bound) until
  /// the offsets arrive; past the bound the largest count stands in.
  struct Group {
    std::uint64_t max_offset = 0, max_count = 0, count_at_max = 0;
    std::uint32_t max_index = 0;
    bool offsets = false, counts = false, exact = false;
    std::vector<std::uint32_t> early_counts;
    bool early_overflow = false;   ///< more counts came first than are kept
    std::uint64_t paired_end = 0;  ///< the farthest offset plus its own count, from early_counts
  };

  std::uint32_t U16(const std::uint8_t* p) const { return big_ ? Be16(p) : Le16(p); }
  std::uint32_t U32(const std::uint8_t* p) const { return big_ ? Be32(p) : Le32(p); }
  std::uint64_t Value(const std::uint8_t* p, unsigned type) const {
    switch (TypeSize(type)) {
      case 1:
        return *p;
      case 2:
        return U16(p);
      default:
        return U32(p);
    }
  }

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    switch (kind_) {
      case Kind::kHeader:
        big_ = r[0] == 'M';
        extent_ = 8;
        if (!Add({U32(r + 4), 0, Kind::kIfdCount, 0, 0})) return Unknown();
        return Next();
      case Kind::kIfdCount: {
        const unsigned entries = U16(r);
        if (entries == 0) return BrokenAt(at);
        if (entries * 12u + 4 > Capacity()) return Unknown();
        kind_ = Kind::kIfd;
        Gather(entries * 12u + 4);
        return NeedMore();
      }
      case Kind::kIfd:
        return OnDirectory(r, (size - 4) / 12, at);
      case Kind::kOffsets:
      case Kind::kCounts:
      case Kind::kSubIfds:
        return OnArray(r, size);
      case Kind::kEnd:
        return EndsAt(at);
    }
    return BrokenAt(at);
  }

  EndVerdict OnDirectory(const std::uint8_t* e, std::size_t entries, std::uint64_t at) {
    extent_ = std::max(extent_, at + entries * 12 + 4);
    if (groups_ == kMaxGroups) return Unknown();
    const std::uint8_t group = static_cast<std::uint8_t>(groups_++);
    std::uint64_t thumbnail = 0, thumbnail_length = 0;
    for (std::size_t i = 0; i < entries; ++i, e += 12) {
      const unsigned tag = U16(e), type = U16(e + 2);
      const std::uint32_t count = U32(e + 4);
      if (type == 0 || type > 18) return BrokenAt(at - 2);
      const unsigned unit = TypeSize(type);
      if (unit == 0) continue;
      const std::uint64_t bytes = std::uint64_t{unit} * count;
      const bool inline_values = bytes <= 4;
      const std::uint64_t where = inline_values ? 0 : U32(e + 8);
      if (!inline_values) extent_ = std::max(extent_, where + bytes);
      Kind kind = Kind::kEnd;
      if (tag == 273 || tag == 324) kind = Kind::kOffsets;
      if (tag == 279 || tag == 325) kind = Kind::kCounts;
      if (tag == 330 || tag == 34665 || tag == 34853 || tag == 40965) kind = Kind::kSubIfds;
      if (tag == 513 && count == 1) thumbnail = Value(e + 8, type);
      if (tag == 514 && count == 1) thumbnail_length = Value(e + 8, type);
      if (kind == Kind::kEnd || count == 0 || (unit != 2 && unit != 4)) continue;
      if (inline_values) {
        OnValues(kind, group, e + 8, type, count, 0);
        if (kind != Kind::kSubIfds)
          (kind == Kind::kOffsets ? group_[group].offsets : group_[group].counts) = true;
      } else if (!Add({where, count, kind, static_cast<std::uint8_t>(type), group})) {
        return Unknown();
      }
    }
    if (thumbnail > 0 && thumbnail_length > 0)
      extent_ = std::max(extent_, thumbnail + thumbnail_length);
    if (const std::uint32_t next = U32(e); next != 0 && !Add({next, 0, Kind::kIfdCount, 0, 0}))
      return Unknown();
    return Next();
  }

  /// `count` values of an array from its `first`-th on.
  void OnValues(Kind kind, std::uint8_t group, const std::uint8_t* p, unsigned type,
                std::uint32_t count, std::uint32_t first) {
    const unsigned unit = TypeSize(type);
    Group& g = group_[group];
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t v = Value(p + i * unit, type);
      if (kind == Kind::kSubIfds) {
        if (v != 0) overflow_ |= !Add({v, 0, Kind::kIfdCount, 0, 0});
      } else if (kind == Kind::kOffsets) {
        if (v >= g.max_offset) g.max_offset = v, g.max_index = first + i;
        if (g.counts && first + i < g.early_counts.size())
          g.paired_end = std::max(g.paired_end, v + g.early_counts[first + i]);
        else if (g.counts)
          g.early_overflow = true;  // an offset without its own count
      } else {
        g.max_count = std::max(g.max_count, v);
        if (g.offsets && first + i == g.max_index) g.count_at_max = v, g.exact = true;
        if (!g.offsets) {
          if (first + i < kMaxEarlyCounts && first + i == g.early_counts.size())
            g.early_counts.push_back(static_cast<std::uint32_t>(v));
          else
            g.early_overflow = true;
        }
      }
    }
  }

  EndVerdict OnArray(const std::uint8_t* r, std::size_t size) {
    const unsigned unit = TypeSize(array_.type);
    const auto values = static_cast<std::uint32_t>(size / unit);
    OnValues(array_.kind, array_.group, r, array_.type, values, done_);
    done_ += values;
    if (overflow_) return Unknown();
    if (done_ < array_.count) {
      Gather(std::min<std::uint64_t>((array_.count - done_) * std::uint64_t{unit},
                                     Capacity() / unit * unit));
      return NeedMore();
    }
    Group& g = group_[array_.group];
    (array_.kind == Kind::kOffsets ? g.offsets : g.counts) = true;
    return Next();
  }

  bool Add(const Pending& item) {
    if (pending_count_ == kMaxPending) return false;
    pending_[pending_count_++] = item;
    return true;
  }

  /// Visits the nearest offset still to come, or ends after the farthest extent.
  EndVerdict Next() {
    // Strip groups whose offsets and counts were both read (inline values count too).
    for (std::size_t i = 0; i < groups_; ++i) {
      const Group& g = group_[i];
      if (g.max_offset == 0 || g.max_count == 0) continue;
      if (g.exact)
        extent_ = std::max(extent_, g.max_offset + g.count_at_max);
      else if (g.offsets && g.counts && !g.early_overflow && g.paired_end > 0)
        extent_ = std::max(extent_, g.paired_end);
      else
        extent_ = std::max(extent_, g.max_offset + g.max_count);
    }
    if (pending_count_ == 0) {
      kind_ = Kind::kEnd;
      Gather(0, extent_ > Taken() ? extent_ - Taken() : 0);
      return NeedMore();
    }
    const auto nearest =
        std::min_element(pending_.begin(), pending_.begin() + pending_count_,
                         [](const Pending& a, const Pending& b) { return a.offset < b.offset; });
    const Pending item = *nearest;
    *nearest = pending_[--pending_count_];
    if (item.offset < Taken()) return Unknown();
    kind_ = item.kind;
    if (item.kind == Kind::kIfdCount) {
      Gather(2, item.offset - Taken());
      return NeedMore();
    }
    array_ = item;
    done_ = 0;
    const unsigned unit = TypeSize(item.type);
    Gather(std::min<std::uint64_t>(std::uint64_t{item.count} * unit, Capacity() / unit * unit),
           item.offset - Taken());
    return NeedMore();
  }

  bool big_ = false, overflow_ = false;
  Kind kind_ = Kind::kHeader;
  std::uint64_t extent_ = 0;
  std::array<Pending, kMaxPending> pending_{};
  std::size_t pending_count_ = 0;
  std::array<Group, kMaxGroups> group_{};
  std::size_t groups_ = 0;
  Pending array_{};
  std::uint32_t done_ = 0;
};

/// The first directory (its offset at bytes 4-7, "MM" for big-endian) has a sane number of
/// entries of known types, as far as the bytes at hand show; `unseen` when it lies beyond them.
bool FirstDirectoryHolds(const std::uint8_t* d, std::size_t available, bool unseen) {
  const bool big = d[0] == 'M';
  const std::uint64_t ifd = big ? Be32(d + 4) : Le32(d + 4);  // 64-bit: no wrap near 4 GiB
  if (ifd < 8) return false;
  if (ifd + 2 > available) return unseen;
  const unsigned entries = big ? Be16(d + ifd) : Le16(d + ifd);
  if (entries == 0 || entries > 1000) return false;
  for (std::size_t i = 0; i < entries && ifd + 2 + i * 12 + 4 <= available; ++i) {
    const std::uint8_t* e = d + ifd + 2 + i * 12;
    const unsigned type = big ? Be16(e + 2) : Le16(e + 2);
    if (type == 0 || type > 18) return false;
  }
  return true;
}

/// A classic TIFF header whose first directory, when within the bytes seen, has a sane
/// number of entries of known types.
bool TiffHeaderHolds(const std::uint8_t* d, std::size_t available) {
  return available >= 8 && IsTiffHeader(d) && FirstDirectoryHolds(d, available, true);
}

bool Holds(const std::uint8_t* d, std::size_t available, const char* word) {
  const std::size_t n = std::min<std::size_t>(available, 1024);
  const std::size_t w = std::strlen(word);
  for (std::size_t i = 0; i + w <= n; ++i)
    if (std::memcmp(d + i, word, w) == 0) return true;
  return false;
}

}  // namespace

bool TiffStart(const std::uint8_t* data, std::size_t available) {
  return TiffHeaderHolds(data, available);
}
std::unique_ptr<EndFinder> TiffEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<TiffFinder>();
}

bool NefStart(const std::uint8_t* data, std::size_t available) {
  return TiffHeaderHolds(data, available) && Holds(data, available, "NIKON");
}
std::unique_ptr<EndFinder> NefEnd(const std::uint8_t* data, std::size_t available) {
  return TiffEnd(data, available);
}

bool DcrStart(const std::uint8_t* data, std::size_t available) {
  return TiffHeaderHolds(data, available) && Holds(data, available, "Kodak");
}
std::unique_ptr<EndFinder> DcrEnd(const std::uint8_t* data, std::size_t available) {
  return TiffEnd(data, available);
}

/// What a camera raw built on TIFF says it is: a DNG version tag, Canon's "CR" mark, or
/// the maker named in the first directory. Empty for a plain TIFF, or when the bytes at
/// hand do not tell.
std::string_view TiffRawName(const std::uint8_t* d, std::size_t available) {
  if (available < 16) return {};
  const bool big = d[0] == 'M';
  if (d[8] == 'C' && d[9] == 'R' && d[10] == 2) return "CR2";
  auto u16 = [&](std::uint64_t at) { return big ? Be16(d + at) : Le16(d + at); };
  auto u32 = [&](std::uint64_t at) { return big ? Be32(d + at) : Le32(d + at); };
  const std::uint64_t ifd = u32(4);
  if (ifd < 8 || ifd + 2 > available) return {};
  const unsigned entries = u16(ifd);
  std::string_view make;
  for (unsigned i = 0; i < entries && ifd + 2 + i * 12u + 12 <= available; ++i) {
    const std::uint64_t e = ifd + 2 + i * 12u;
    const unsigned tag = u16(e), type = u16(e + 2);
    const std::uint32_t count = u32(e + 4);
    if (tag == 0xC612) return "DNG";
    if (tag != 0x010F || type != 2 || count == 0) continue;
    // The maker's name: in the entry itself when it fits in four bytes, else where it points.
    const std::uint64_t at = count <= 4 ? e + 8 : u32(e + 8);
    if (at >= available) continue;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, available - at));
    make = {reinterpret_cast<const char*>(d + at), std::min<std::size_t>(n, 32)};
  }
  if (make.starts_with("NIKON")) return "NEF";
  if (make.starts_with("SONY")) return "ARW";
  if (make.starts_with("PENTAX") || make.starts_with("RICOH")) return "PEF";
  if (make.starts_with("Canon")) return "CR2";
  return {};
}

/// The raws whose TIFF header has a magic number of their maker's own: Olympus ("IIRO",
/// "IIRS", "MMOR") and Panasonic ("IIU"), their first directory where TIFF's would be.
std::string_view TiffVariantName(const std::uint8_t* d, std::size_t available) {
  if (available < 16) return {};
  std::string_view name;
  if (std::memcmp(d, "IIRO", 4) == 0 || std::memcmp(d, "IIRS", 4) == 0 ||
      std::memcmp(d, "MMOR", 4) == 0)
    name = "ORF";
  else if (std::memcmp(d, "IIU\0", 4) == 0)
    name = "RW2";
  else
    return {};
  // The first directory must look like one, and lie within the bytes at hand.
  const std::uint64_t ifd = d[0] == 'M' ? Be32(d + 4) : Le32(d + 4);
  if (ifd + 2 + 12 > available || !FirstDirectoryHolds(d, available, false)) return {};
  return name;
}

}  // namespace media

const FileKind kDcrKind{.tag = "DCR",
                        .description = "Kodak raw photo",
                        .check = media::DcrStart,
                        .make_finder = media::DcrEnd};
const FileKind kNefKind{.tag = "NEF",
                        .description = "Nikon raw photo",
                        .check = media::NefStart,
                        .make_finder = media::NefEnd};
const FileKind kTifKind{.tag = "TIF",
                        .description = "TIFF picture",
                        .check = media::TiffStart,
                        .make_finder = media::TiffEnd,
                        .name = media::TiffRawName,
                        .first_bytes = "IM",
                        .preview = KindPreview::kPicture,
                        .unchained = media::TiffVariantName};

// Camera raws built on TIFF, named by what their first directory says.
const FileKind kArwKind{
    .tag = "ARW", .description = "Sony raw photo", .make_finder = media::TiffEnd};
const FileKind kCr2Kind{
    .tag = "CR2", .description = "Canon raw photo (CR2)", .make_finder = media::TiffEnd};
const FileKind kDngKind{
    .tag = "DNG", .description = "Digital negative raw photo", .make_finder = media::TiffEnd};
const FileKind kOrfKind{
    .tag = "ORF", .description = "Olympus raw photo", .make_finder = media::TiffEnd};
const FileKind kPefKind{
    .tag = "PEF", .description = "Pentax raw photo", .make_finder = media::TiffEnd};
const FileKind kRw2Kind{
    .tag = "RW2", .description = "Panasonic raw photo", .make_finder = media::TiffEnd};
