#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

/// Atoms that stand at the top of a QuickTime or ISO media file.
bool IsTopLevel(const std::uint8_t* type) {
  static constexpr const char* kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide",
                                           "pnot", "PICT", "uuid", "meta", "pdin", "moof",
                                           "mfra", "styp", "sidx", "junk", "prfl", "clip"};
  for (const char* t : kTypes)
    if (std::memcmp(type, t, 4) == 0) return true;
  return false;
}

/// Top-level atoms by their sizes (64-bit when the size is 1). The file ends before the
/// first bytes that are no top-level atom once the movie atom went by; an atom that runs
/// to the end of the file (size 0) leaves the end unknown.
class MovFinder final : public RecordWalker {
 public:
  MovFinder() : RecordWalker(8) { Gather(8); }
  EndVerdict Finish(std::uint64_t fed) override {
    return fed == boundary_ && movie_ ? EndsAt(fed) : BrokenAt(start_);
  }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t /*size*/, std::uint64_t at) override {
    if (wide_) return OnWide(r);
    start_ = at;
    const std::uint32_t length = Be32(r);
    if (!IsTopLevel(r + 4) || (length != 0 && length != 1 && length < 8))
      return movie_ ? EndsAt(at) : BrokenAt(at);
    if (length == 0) return Unknown();
    if (std::memcmp(r + 4, "moov", 4) == 0) movie_ = true;
    if (length == 1) {
      Gather(8);
      wide_at_ = at;
      wide_ = true;
      return NeedMore();
    }
    boundary_ = at + length;
    Gather(8, length - 8);
    return NeedMore();
  }

  /// The 64-bit size after an atom header whose size was 1.
  EndVerdict OnWide(const std::uint8_t* r) {
    wide_ = false;
    const std::uint64_t length = Be64(r);
    if (length < 16) return movie_ ? EndsAt(wide_at_) : BrokenAt(wide_at_);
    boundary_ = wide_at_ + length;
    Gather(8, length - 16);
    return NeedMore();
  }

  bool movie_ = false, wide_ = false;
  std::uint64_t boundary_ = 0, wide_at_ = 0, start_ = 0;
};

/// An 'ftyp' box of a sane size whose major or a compatible brand is QuickTime's.
bool QuickTimeBrand(const std::uint8_t* d, std::size_t available) {
  if (available < 16 || d[4] != 'f' || d[5] != 't' || d[6] != 'y' || d[7] != 'p') return false;
  const std::uint32_t size = Be32(d);
  if (size < 16 || size > 256 || size % 4 != 0 || size > available) return false;
  for (std::uint32_t at = 8; at + 4 <= size; at += at == 8 ? 8 : 4)
    if (std::memcmp(d + at, "qt  ", 4) == 0) return true;
  return false;
}

}  // namespace

bool MovStart(const std::uint8_t* data, std::size_t available) {
  // The movie atom first, with a size at least its header's and a child atom.
  if (available < 8 || std::memcmp(data + 4, "moov", 4) != 0)
    return QuickTimeBrand(data, available);
  const std::uint32_t size = Be32(data);
  if (size != 1 && size < 16) return false;
  // Its first child is one a movie atom holds.
  static constexpr const char* kChildren[] = {"mvhd", "cmov", "trak", "udta", "iods", "meta",
                                              "prfl", "clip", "ctab", "rmra", "mvex"};
  if (available < 16) return true;
  const std::uint8_t* child = data + (size == 1 ? 20 : 12);
  if (size == 1 && available < 24) return true;
  for (const char* name : kChildren)
    if (std::memcmp(child, name, 4) == 0) return true;
  return false;
}

std::unique_ptr<EndFinder> MovEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<MovFinder>();
}

}  // namespace media

const FileKind kMovKind{.tag = "MOV",
                        .description = "QuickTime movie",
                        .check = media::MovStart,
                        .make_finder = media::MovEnd};
