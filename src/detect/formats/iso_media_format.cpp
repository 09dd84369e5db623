#include "detect/file_kind.h"
#include "detect/formats/media_walker.h"

#include <algorithm>
#include <cstring>

namespace {

using media::RecordWalker;

/// No box of a real file is this long; a size beyond it is no box header.
constexpr std::uint64_t kMaxBox = std::uint64_t{1} << 48;

/// The largest 'ftyp' taken: a long list of compatible brands is still far below it.
constexpr std::uint32_t kMaxFileType = 512;

bool Is(const std::uint8_t* p, const char* type) {
  return std::memcmp(p, type, 4) == 0;
}

/// Boxes that stand at the top of an ISO media file after its 'ftyp'.
bool IsTopLevel(const std::uint8_t* type) {
  static constexpr const char* kTypes[] = {"mdat", "moov", "free", "skip", "wide", "meta", "moof",
                                           "mfra", "sidx", "ssix", "styp", "uuid", "pdin", "jumb",
                                           "prft", "emsg", "meco", "otyp", "bloc", "pnot", "junk"};
  for (const char* t : kTypes)
    if (Is(type, t)) return true;
  return false;
}

bool IsPrintable(const std::uint8_t* p) {
  for (int i = 0; i < 4; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

enum class Brand : std::uint8_t {
  kNone,
  kMov,
  kMp4,
  kM4v,
  kM4a,
  k3gp,
  k3g2,
  kHeic,
  kHeif,
  kAvif,
  kCr3,
};

Brand Classify(const std::uint8_t* b) {
  struct Entry {
    const char* name;
    Brand brand;
  };
  static constexpr Entry kBrands[] = {
      {"qt  ", Brand::kMov},  {"crx ", Brand::kCr3},  {"M4V ", Brand::kM4v},
      {"M4VH", Brand::kM4v},  {"M4VP", Brand::kM4v},  {"M4A ", Brand::kM4a},
      {"M4B ", Brand::kM4a},  {"M4P ", Brand::kM4a},  {"heic", Brand::kHeic},
      {"heix", Brand::kHeic}, {"hevc", Brand::kHeic}, {"hevx", Brand::kHeic},
      {"heim", Brand::kHeic}, {"heis", Brand::kHeic}, {"hevm", Brand::kHeic},
      {"hevs", Brand::kHeic}, {"MiHE", Brand::kHeic}, {"mif1", Brand::kHeif},
      {"msf1", Brand::kHeif}, {"mif2", Brand::kHeif}, {"miaf", Brand::kHeif},
      {"avif", Brand::kAvif}, {"avis", Brand::kAvif}, {"MA1A", Brand::kAvif},
      {"MA1B", Brand::kAvif}, {"isom", Brand::kMp4},  {"mp41", Brand::kMp4},
      {"mp42", Brand::kMp4},  {"mp71", Brand::kMp4},  {"avc1", Brand::kMp4},
      {"dash", Brand::kMp4},  {"msdh", Brand::kMp4},  {"msix", Brand::kMp4},
      {"f4v ", Brand::kMp4},  {"f4p ", Brand::kMp4},  {"mmp4", Brand::kMp4},
      {"MSNV", Brand::kMp4},  {"XAVC", Brand::kMp4},  {"piff", Brand::kMp4},
      {"cmfc", Brand::kMp4},  {"cmf2", Brand::kMp4},  {"caqv", Brand::kMp4},
      {"isml", Brand::kMp4},
  };
  for (const Entry& e : kBrands)
    if (Is(b, e.name)) return e.brand;
  if (b[0] == 'i' && b[1] == 's' && b[2] == 'o' && b[3] >= '1' && b[3] <= '9') return Brand::kMp4;
  if (b[0] == '3' && b[1] == 'g') {
    if (b[2] == '2') return Brand::k3g2;
    if (b[2] == 'p' || b[2] == 's' || b[2] == 'e' || b[2] == 'g' || b[2] == 'r') return Brand::k3gp;
  }
  return Brand::kNone;
}

std::string_view BrandTag(Brand brand) {
  switch (brand) {
    case Brand::kMov:
      return "MOV";
    case Brand::kM4v:
      return "M4V";
    case Brand::kM4a:
      return "M4A";
    case Brand::k3gp:
      return "3GP";
    case Brand::k3g2:
      return "3G2";
    case Brand::kHeic:
      return "HEIC";
    case Brand::kHeif:
      return "HEIF";
    case Brand::kAvif:
      return "AVIF";
    case Brand::kCr3:
      return "CR3";
    case Brand::kNone:
    case Brand::kMp4:
      break;
  }
  return "MP4";
}

/// An 'ftyp' box of a sane size whose brands are four printable characters; 0 when there
/// is none.
std::uint32_t FileTypeSize(const std::uint8_t* d, std::size_t available) {
  if (available < 16 || !Is(d + 4, "ftyp")) return 0;
  const std::uint32_t size = Be32(d);
  if (size < 16 || size > kMaxFileType || size % 4 != 0 || size > available) return 0;
  if (!IsPrintable(d + 8)) return 0;
  for (std::uint32_t at = 16; at + 4 <= size; at += 4)
    if (!IsPrintable(d + at)) return 0;
  return size;
}

/// The brand that names the file: the major brand, else the first compatible brand known.
/// A plain image brand (mif1) is refined by the codec brands beside it.
Brand FileBrand(const std::uint8_t* d, std::uint32_t size) {
  Brand brand = Classify(d + 8);
  for (std::uint32_t at = 16; brand == Brand::kNone && at + 4 <= size; at += 4)
    brand = Classify(d + at);
  if (brand != Brand::kHeif) return brand;
  bool heic = false;
  for (std::uint32_t at = 16; at + 4 <= size; at += 4) {
    const Brand other = Classify(d + at);
    if (other == Brand::kAvif) return Brand::kAvif;
    heic = heic || other == Brand::kHeic;
  }
  return heic ? Brand::kHeic : Brand::kHeif;
}

/// The top-level boxes by their sizes (64-bit when the size is 1). The movie, fragment
/// and file-level metadata boxes are walked one level down: their children must fill
/// them exactly. The file ends before the first bytes that are no top-level box once it
/// is whole (a movie with its media data, its fragments when the movie is fragmented; a
/// picture's metadata); a box that runs to the end of the file (size 0) leaves the end
/// unknown.
class IsoMediaFinder final : public RecordWalker {
 public:
  explicit IsoMediaFinder(bool picture) : RecordWalker(8), picture_(picture) { Gather(8); }
  EndVerdict Finish(std::uint64_t fed) override {
    if (fed < next_) return BrokenAt(box_);
    if (fed == next_ && step_ == Step::kTop && Complete()) return EndsAt(fed);
    return BrokenAt(next_);
  }

 private:
  enum class Step : std::uint8_t { kTop, kTopLarge, kChild, kChildLarge, kMetaFlags };
  enum class Container : std::uint8_t { kMovie, kFragment, kMeta, kOther };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t /*size*/, std::uint64_t at) override {
    switch (step_) {
      case Step::kTop:
        return OnTop(r, at);
      case Step::kTopLarge: {
        const std::uint64_t size = Be64(r);
        if (size < 16 || size > kMaxBox) return Stop(box_);
        return Open(size, 16);
      }
      case Step::kChild:
        return OnChild(r, at);
      case Step::kChildLarge: {
        const std::uint64_t size = Be64(r);
        if (size < 16 || size > next_ - child_) return Stop(box_);
        return NextChild(child_ + size, size - 16);
      }
      case Step::kMetaFlags:
        if (Be32(r) == 0) return NextChild(at + 4, 0);
        // A metadata box of QuickTime's shape: no version and flags, the children at once.
        step_ = Step::kChild;
        Extend(8);
        return NeedMore();
    }
    return BrokenAt(box_);
  }

  EndVerdict OnTop(const std::uint8_t* r, std::uint64_t at) {
    box_ = next_ = at;
    const std::uint32_t size = Be32(r);
    if (at == 0 ? !Is(r + 4, "ftyp") : !IsTopLevel(r + 4)) return Stop(at);
    std::memcpy(type_, r + 4, 4);
    if (size == 0) return Is(type_, "mdat") ? Unknown() : Stop(at);
    if (size == 1) {
      step_ = Step::kTopLarge;
      Gather(8);
      return NeedMore();
    }
    if (size < 8) return Stop(at);
    return Open(size, 8);
  }

  /// A top-level box of `size` bytes whose header of `header` bytes went by.
  EndVerdict Open(std::uint64_t size, std::uint64_t header) {
    next_ = box_ + size;
    children_ = 0;
    mvex_ = false;
    if (Is(type_, "moov")) {
      if (movie_) return Stop(box_);
      container_ = Container::kMovie;
    } else if (Is(type_, "moof")) {
      container_ = Container::kFragment;
    } else if (Is(type_, "meta")) {
      if (meta_ || size < header + 12) return Stop(box_);
      container_ = Container::kMeta;
      step_ = Step::kMetaFlags;
      Gather(4);
      return NeedMore();
    } else if (Is(type_, "mfra")) {
      container_ = Container::kOther;
    } else {
      if (Is(type_, "uuid") && size < header + 16) return Stop(box_);
      if (Is(type_, "mdat")) media_data_ = true;
      step_ = Step::kTop;
      Gather(8, size - header);
      return NeedMore();
    }
    return NextChild(box_ + header, 0);
  }

  EndVerdict OnChild(const std::uint8_t* r, std::uint64_t at) {
    const std::uint32_t size = Be32(r);
    if (children_++ == 0) {
      if (container_ == Container::kFragment && !Is(r + 4, "mfhd")) return Stop(box_);
      if (container_ == Container::kMeta && !Is(r + 4, "hdlr")) return Stop(box_);
    }
    if (container_ == Container::kMovie && Is(r + 4, "mvex")) mvex_ = true;
    if (size == 1) {
      child_ = at;
      step_ = Step::kChildLarge;
      Gather(8);
      return NeedMore();
    }
    if (size < 8 || size > next_ - at) return Stop(box_);
    return NextChild(at + size, size - 8);
  }

  /// Skips `skip` bytes to `pos`, where the next child or the container's end is.
  EndVerdict NextChild(std::uint64_t pos, std::uint64_t skip) {
    const std::uint64_t left = next_ - pos;
    if (left >= 8) {
      step_ = Step::kChild;
      Gather(8, skip);
      return NeedMore();
    }
    // The container is full; a QuickTime list may close with a few zero bytes.
    if (children_ == 0) return Stop(box_);
    switch (container_) {
      case Container::kMovie:
        movie_ = true;
        fragmented_ = mvex_;
        break;
      case Container::kFragment:
        fragment_ = true;
        break;
      case Container::kMeta:
        meta_ = true;
        break;
      case Container::kOther:
        break;
    }
    step_ = Step::kTop;
    Gather(8, skip + left);
    return NeedMore();
  }

  [[nodiscard]] bool Complete() const {
    if (picture_ && meta_) return true;
    return movie_ && media_data_ && (!fragmented_ || fragment_);
  }
  [[nodiscard]] EndVerdict Stop(std::uint64_t at) const {
    return Complete() ? EndsAt(at) : BrokenAt(at);
  }

  bool picture_;
  Step step_ = Step::kTop;
  Container container_ = Container::kOther;
  std::uint8_t type_[4]{};
  bool movie_ = false, fragmented_ = false, fragment_ = false, meta_ = false;
  bool media_data_ = false, mvex_ = false;
  std::uint32_t children_ = 0;
  /// The current top-level box's first byte and its end (the next box's first byte).
  std::uint64_t box_ = 0, next_ = 0;
  std::uint64_t child_ = 0;
};

bool IsoMediaStart(const std::uint8_t* data, std::size_t available) {
  const std::uint32_t size = FileTypeSize(data, available);
  if (size == 0) return false;
  // The box after the 'ftyp' is one that stands at the top of such a file.
  if (available < std::size_t{size} + 8) return true;
  const std::uint8_t* next = data + size;
  if (!IsTopLevel(next + 4)) return false;
  const std::uint32_t length = Be32(next);
  if (length == 0) return Is(next + 4, "mdat");
  if (length == 1) return available < std::size_t{size} + 16 || Be64(next + 8) >= 16;
  return length >= 8;
}

std::string_view IsoMediaName(const std::uint8_t* data, std::size_t available) {
  const std::uint32_t size = FileTypeSize(data, available);
  if (size == 0) return {};
  return BrandTag(FileBrand(data, size));
}

std::unique_ptr<EndFinder> IsoMediaEnd(const std::uint8_t* data, std::size_t available) {
  const Brand brand = FileBrand(data, FileTypeSize(data, available));
  return std::make_unique<IsoMediaFinder>(brand == Brand::kHeic || brand == Brand::kHeif ||
                                          brand == Brand::kAvif);
}

}  // namespace

extern const FileKind kMp4Kind, kM4vKind, kM4aKind, k3gpKind, k3g2Kind, kHeicKind, kHeifKind,
    kAvifKind, kCr3Kind;

const FileKind kMp4Kind{.tag = "MP4",
                        .description = "MPEG-4 video",
                        .check = IsoMediaStart,
                        .make_finder = IsoMediaEnd,
                        .name = IsoMediaName,
                        .first_bytes = {"\0", 1}};
const FileKind kM4vKind{.tag = "M4V",
                        .description = "MPEG-4 video (iTunes)",
                        .check = IsoMediaStart,
                        .make_finder = IsoMediaEnd,
                        .name = IsoMediaName,
                        .first_bytes = {"\0", 1}};
const FileKind kM4aKind{.tag = "M4A",
                        .description = "MPEG-4 audio",
                        .check = IsoMediaStart,
                        .make_finder = IsoMediaEnd,
                        .name = IsoMediaName,
                        .first_bytes = {"\0", 1}};
const FileKind k3gpKind{.tag = "3GP",
                        .description = "3GPP video",
                        .check = IsoMediaStart,
                        .make_finder = IsoMediaEnd,
                        .name = IsoMediaName,
                        .first_bytes = {"\0", 1}};
const FileKind k3g2Kind{.tag = "3G2",
                        .description = "3GPP2 video",
                        .check = IsoMediaStart,
                        .make_finder = IsoMediaEnd,
                        .name = IsoMediaName,
                        .first_bytes = {"\0", 1}};
const FileKind kHeicKind{.tag = "HEIC",
                         .description = "HEIF picture (HEVC)",
                         .check = IsoMediaStart,
                         .make_finder = IsoMediaEnd,
                         .name = IsoMediaName,
                         .first_bytes = {"\0", 1},
                         .preview = KindPreview::kPicture};
const FileKind kHeifKind{.tag = "HEIF",
                         .description = "HEIF picture",
                         .check = IsoMediaStart,
                         .make_finder = IsoMediaEnd,
                         .name = IsoMediaName,
                         .first_bytes = {"\0", 1},
                         .preview = KindPreview::kPicture};
const FileKind kAvifKind{.tag = "AVIF",
                         .description = "AVIF picture",
                         .check = IsoMediaStart,
                         .make_finder = IsoMediaEnd,
                         .name = IsoMediaName,
                         .first_bytes = {"\0", 1},
                         .preview = KindPreview::kPicture};
const FileKind kCr3Kind{.tag = "CR3",
                        .description = "Canon raw photo",
                        .check = IsoMediaStart,
                        .make_finder = IsoMediaEnd,
                        .name = IsoMediaName,
                        .first_bytes = {"\0", 1}};
