#include "detect/formats/document_records.h"
#include "detect/formats/record_walker.h"

#include <cstring>

using namespace document_walk;

namespace {

constexpr std::size_t kMaxRecord = 65536 + 64;

/// Walks local entries (with their data descriptors), the central directory, the ZIP64
/// end records and the end record with its comment.
class ZipFinder final : public RecordWalker {
 public:
  ZipFinder() : RecordWalker(kMaxRecord) { Gather(4); }

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
};

}  // namespace

bool ZipStart(const std::uint8_t* data, std::size_t available) {
  if (available < 30) return false;
  const unsigned version = Le16(data + 4), method = Le16(data + 8), name = Le16(data + 26);
  return version <= 100 && method <= 99 && name > 0 && (method <= 20 || method >= 93);
}

std::unique_ptr<EndFinder> ZipEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<ZipFinder>();
}
