#include "detect/file_kind.h"
#include "detect/formats/crc32.h"
#include "detect/formats/record_walker.h"

#include <cstring>

using namespace document_walk;

namespace {

constexpr std::uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr std::size_t kSignatureHeader = 32;
/// Beyond any disk: an offset or size past this is not a real archive's.
constexpr std::uint64_t kLargest = std::uint64_t{1} << 50;

/// The packed streams are skipped by the offset of the header that follows them; the header's first
/// byte must be Header (1) or EncodedHeader (0x17) and its CRC must hold.
class SevenZipFinder final : public RecordWalker {
 public:
  SevenZipFinder(std::uint64_t offset, std::uint64_t size, std::uint32_t crc)
      : RecordWalker(1), header_(kSignatureHeader + offset), size_(size), want_crc_(crc) {
    Gather(1, header_);
  }
  EndVerdict Finish(std::uint64_t fed) override { return BrokenAt(fed < header_ ? fed : header_); }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t /*at*/) override {
    if (size == 1) {
      if (r[0] != 0x01 && r[0] != 0x17) return BrokenAt(header_);
      crc_ = Crc32Update(0xFFFFFFFFu, r, 1);
      in_header_ = true;
      Gather(0, size_ - 1);
      return NeedMore();
    }
    if ((crc_ ^ 0xFFFFFFFFu) != want_crc_) return BrokenAt(header_);
    return EndsAt(header_ + size_);
  }
  void OnSkipped(const std::uint8_t* data, std::size_t size) override {
    if (in_header_) crc_ = Crc32Update(crc_, data, size);
  }

  std::uint64_t header_, size_;
  std::uint32_t want_crc_, crc_ = 0;
  bool in_header_ = false;
};

/// The signature header: version 0.x, its CRC over the next header's place, and a place that fits a
/// disk.
bool SevenZipStart(const std::uint8_t* d, std::size_t available) {
  if (available < kSignatureHeader || std::memcmp(d, kSignature, 6) != 0 || d[6] != 0) return false;
  if (Crc32(d + 12, 20) != Le32(d + 8)) return false;
  const std::uint64_t offset = Le64(d + 12), size = Le64(d + 20);
  return size > 0 && offset < kLargest && size < kLargest;
}

std::unique_ptr<EndFinder> SevenZipEnd(const std::uint8_t* d, std::size_t available) {
  if (!SevenZipStart(d, available)) return nullptr;
  return std::make_unique<SevenZipFinder>(Le64(d + 12), Le64(d + 20), Le32(d + 28));
}

}  // namespace

extern const FileKind k7zKind;
const FileKind k7zKind{.tag = "7Z",
                       .description = "7-Zip archive",
                       .check = SevenZipStart,
                       .make_finder = SevenZipEnd,
                       .first_bytes = "7"};
