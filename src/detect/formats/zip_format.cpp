#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

using namespace document_walk;

namespace {

constexpr std::size_t kMaxRecord = 65536 + 64;

/// What the member names of a ZIP say it holds.
class MemberNames {
 public:
  void Add(std::string_view name) {
    content_types_ |= name == "[Content_Types].xml";
    word_ |= name.starts_with("word/");
    sheets_ |= name.starts_with("xl/");
    slides_ |= name.starts_with("ppt/");
    android_ |= name == "AndroidManifest.xml" || name == "classes.dex";
    manifest_ |= name == "META-INF/MANIFEST.MF";
  }
  /// DOCX, XLSX, PPTX, APK or JAR, or empty when the names seen do not say.
  [[nodiscard]] std::string_view Tag() const {
    if (content_types_ && word_) return "DOCX";
    if (content_types_ && sheets_) return "XLSX";
    if (content_types_ && slides_) return "PPTX";
    if (android_) return "APK";
    if (manifest_) return "JAR";
    return {};
  }

 private:
  bool content_types_ = false, word_ = false, sheets_ = false, slides_ = false;
  bool android_ = false, manifest_ = false;
};

/// The kind an OpenDocument or EPUB names in its first member, "mimetype", stored.
std::string_view MimetypeTag(std::string_view type) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {"application/vnd.oasis.opendocument.text", "ODT"},
      {"application/vnd.oasis.opendocument.spreadsheet", "ODS"},
      {"application/vnd.oasis.opendocument.presentation", "ODP"},
      {"application/vnd.oasis.opendocument.graphics", "ODG"},
      {"application/epub+zip", "EPUB"},
  };
  for (const auto& [mime, tag] : kTypes)
    if (type == mime) return tag;
  return {};
}

/// Walks local entries (with their data descriptors), the central directory, the ZIP64
/// end records and the end record with its comment.
class ZipFinder final : public RecordWalker {
 public:
  ZipFinder() : RecordWalker(kMaxRecord) { Gather(4); }
  [[nodiscard]] std::string_view NamedTag() const override { return names_seen_.Tag(); }

 private:
  enum class Phase {
    kSignature,
    kLocal,
    kLocalNames,
    kDescriptor,
    kDescriptorBody,
    kSought,
    kCentral,
    kSigned,
    kZip64End,
    kEnd,
    kDone
  };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kSignature:
        return OnSignature(r, at);
      case Phase::kLocal: {
        // The header after its signature: version, flags, method, ..., sizes, name, extra.
        const unsigned flags = Le16(r + 2), method = Le16(r + 4);
        if (method > 99 || Le16(r) > 100) return BrokenAt(at - 4);
        data_size_ = Le32(r + 14);
        streamed_ = (flags & 0x08) != 0;
        phase_ = Phase::kLocalNames;
        Gather(Le16(r + 22) + Le16(r + 24));
        names_ = Le16(r + 22);
        return NeedMore();
      }
      case Phase::kLocalNames: {
        names_seen_.Add({reinterpret_cast<const char*>(r), std::min(names_, size)});
        zip64_ = false;
        for (std::size_t i = names_; i + 4 <= size;) {
          const unsigned id = Le16(r + i), length = Le16(r + i + 2);
          if (id == 1 && i + 4 + 16 <= size) {
            zip64_ = true;
            if (data_size_ == 0xFFFFFFFF) data_size_ = Le64(r + i + 12);
          }
          i += 4 + length;
        }
        data_start_ = at + size;
        sized_ = data_size_ != 0 && data_size_ != 0xFFFFFFFF;
        if (streamed_ && !sized_) {
          // Sizes only after the data: find the descriptor's signature.
          phase_ = Phase::kSought;
          Seek("PK", 4);
          return NeedMore();
        }
        if (streamed_) {
          phase_ = Phase::kDescriptor;
          Gather(4, data_size_);
          return NeedMore();
        }
        phase_ = Phase::kSignature;
        Gather(4, data_size_);
        return NeedMore();
      }
      case Phase::kDescriptor:
        // After the data: the descriptor's signature, or already its CRC when unsigned.
        if (std::memcmp(r, "PK\x07\x08", 4) == 0) {
          phase_ = Phase::kDescriptorBody;
          Gather(12);
        } else {
          phase_ = Phase::kSignature;
          Gather(4, zip64_ ? 16 : 8);
        }
        return NeedMore();
      case Phase::kDescriptorBody: {
        // CRC, then the compressed size in 32 bits (or 64 in a ZIP64 entry): it must fit.
        const std::uint64_t length = at - 4 - data_start_;
        phase_ = Phase::kSignature;
        if (!zip64_ && Le32(r + 4) == length) {
          Gather(4);
          return NeedMore();
        }
        if (Le64(r + 4) == length) {
          Gather(4, 8);
          return NeedMore();
        }
        if (!sized_) {
          phase_ = Phase::kSought;
          Seek("PK", 4);  // a look-alike inside the data: look further
          return NeedMore();
        }
        return BrokenAt(at - 4);
      }
      case Phase::kSought:
        // A signed descriptor; or, after one without a signature (12 or 20 bytes), the
        // next entry or the central directory.
        if (r[2] == 0x07 && r[3] == 0x08) {
          phase_ = Phase::kDescriptorBody;
          Gather(12);
          return NeedMore();
        }
        if (((r[2] == 0x03 && r[3] == 0x04) || (r[2] == 0x01 && r[3] == 0x02)) &&
            at >= data_start_ + (zip64_ ? 20 : 12))
          return OnSignature(r, at);
        Seek("PK", 4);
        return NeedMore();
      case Phase::kCentral:
        phase_ = Phase::kSignature;
        Gather(4, std::uint64_t{Le16(r + 24)} + Le16(r + 26) + Le16(r + 28));
        return NeedMore();
      case Phase::kSigned:
        phase_ = Phase::kSignature;
        Gather(4, Le16(r));
        return NeedMore();
      case Phase::kZip64End:
        phase_ = Phase::kSignature;
        Gather(4, Le64(r));
        return NeedMore();
      case Phase::kEnd:
        if (Le16(r + 16) == 0) return EndsAt(at + size);
        phase_ = Phase::kDone;
        Gather(0, Le16(r + 16));
        return NeedMore();
      case Phase::kDone:
        return EndsAt(at);
    }
    return BrokenAt(at);
  }

  EndVerdict OnSignature(const std::uint8_t* r, std::uint64_t at) {
    if (r[0] != 'P' || r[1] != 'K') return BrokenAt(at);
    const unsigned kind = r[2] << 8 | r[3];
    std::size_t fixed = 0;
    switch (kind) {
      case 0x0304:
        if (central_seen_) return BrokenAt(at);
        phase_ = Phase::kLocal;
        fixed = 26;
        break;
      case 0x0102:
        central_seen_ = true;
        phase_ = Phase::kCentral;
        fixed = 42;
        break;
      case 0x0505:
        phase_ = Phase::kSigned;
        fixed = 2;
        break;
      case 0x0606:
        phase_ = Phase::kZip64End;
        fixed = 8;
        break;
      case 0x0607:
        phase_ = Phase::kSignature;
        fixed = 0;
        break;
      case 0x0506:
        phase_ = Phase::kEnd;
        fixed = 18;
        break;
      case 0x0708:  // the split-archive mark before the first entry
        if (at != 0) return BrokenAt(at);
        phase_ = Phase::kSignature;
        fixed = 4;
        break;
      default:
        return BrokenAt(at);
    }
    Gather(kind == 0x0607 || kind == 0x0708 ? 4 : fixed, kind == 0x0607 ? 16 : 0);
    return NeedMore();
  }

  Phase phase_ = Phase::kSignature;
  std::uint64_t data_size_ = 0, data_start_ = 0;
  std::size_t names_ = 0;
  bool streamed_ = false, sized_ = false, zip64_ = false, central_seen_ = false;
  MemberNames names_seen_;
};

}  // namespace

bool ZipStart(const std::uint8_t* data, std::size_t available) {
  if (available < 30) return false;
  const unsigned version = Le16(data + 4), method = Le16(data + 8), name = Le16(data + 26);
  return version <= 100 && method <= 99 && name > 0 && (method <= 20 || method >= 93);
}

/// The kind a ZIP's members make it, as far as the local headers at hand tell: an
/// OpenDocument or EPUB by its first member "mimetype", an Office document by its parts,
/// an Android package or a Java archive by their manifests.
std::string_view ZipName(const std::uint8_t* data, std::size_t available) {
  MemberNames names;
  std::uint64_t at = 0;
  for (int members = 0; at + 30 <= available && std::memcmp(data + at, "PK\x03\x04", 4) == 0;
       ++members) {
    const std::uint8_t* h = data + at;
    const std::size_t name_size = Le16(h + 26), extra = Le16(h + 28);
    if (at + 30 + name_size > available) break;
    const std::string_view name(reinterpret_cast<const char*>(h + 30), name_size);
    const std::uint64_t body = at + 30 + name_size + extra, size = Le32(h + 18);
    if (members == 0 && name == "mimetype" && Le16(h + 8) == 0 && size < 128 &&
        body + size <= available)
      if (const std::string_view tag = MimetypeTag(
              {reinterpret_cast<const char*>(data + body), static_cast<std::size_t>(size)});
          !tag.empty())
        return tag;
    names.Add(name);
    if ((Le16(h + 6) & 0x08) != 0 && size == 0) break;  // the size follows the data
    at = body + size;
  }
  return names.Tag();
}

std::unique_ptr<EndFinder> ZipEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<ZipFinder>();
}

const FileKind kZipKind{.tag = "ZIP",
                        .description = "ZIP archive",
                        .check = ZipStart,
                        .make_finder = ZipEnd,
                        .name = ZipName};

// Kinds made of ZIP members, named by them.
const FileKind kApkKind{.tag = "APK", .description = "Android app package", .make_finder = ZipEnd};
const FileKind kDocxKind{
    .tag = "DOCX", .description = "Word document (Office Open XML)", .make_finder = ZipEnd};
const FileKind kEpubKind{.tag = "EPUB", .description = "EPUB e-book", .make_finder = ZipEnd};
const FileKind kJarKind{.tag = "JAR", .description = "Java archive", .make_finder = ZipEnd};
const FileKind kOdgKind{.tag = "ODG", .description = "OpenDocument drawing", .make_finder = ZipEnd};
const FileKind kOdpKind{
    .tag = "ODP", .description = "OpenDocument presentation", .make_finder = ZipEnd};
const FileKind kOdsKind{
    .tag = "ODS", .description = "OpenDocument spreadsheet", .make_finder = ZipEnd};
const FileKind kOdtKind{.tag = "ODT", .description = "OpenDocument text", .make_finder = ZipEnd};
const FileKind kPptxKind{.tag = "PPTX",
                         .description = "PowerPoint presentation (Office Open XML)",
                         .make_finder = ZipEnd};
const FileKind kXlsxKind{
    .tag = "XLSX", .description = "Excel workbook (Office Open XML)", .make_finder = ZipEnd};
