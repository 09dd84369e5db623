#include "detect/file_catalogue.h"
#include "detect/formats/crc32.h"
#include "detect/formats/record_walker.h"

using namespace document_walk;

namespace {

constexpr std::size_t kMaxBasic = 2600;

/// Headers of 0x60 0xEA, a basic size, the basic header and its CRC-32, then extended
/// headers (size, bytes, CRC-32) up to a zero size, then the member's compressed bytes.
/// A basic size of zero ends the archive.
class ArjFinder final : public RecordWalker {
 public:
  ArjFinder() : RecordWalker(kMaxBasic + 10) { Gather(4); }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    if (extended_) {
      const unsigned length = Le16(r);
      if (length == 0) {
        extended_ = false;
        Gather(4, data_);
        return NeedMore();
      }
      Gather(2, length + 4ull);
      return NeedMore();
    }
    if (r[0] != 0x60 || r[1] != 0xEA) return BrokenAt(at);
    const unsigned basic = Le16(r + 2);
    if (basic == 0) return members_ > 0 || main_seen_ ? EndsAt(at + 4) : BrokenAt(at);
    if (basic > kMaxBasic) return BrokenAt(at);
    if (size < basic + 10) {
      Extend(basic + 10);
      return NeedMore();
    }
    if (Crc32(r + 4, basic) != Le32(r + 4 + basic)) return BrokenAt(at);
    const std::uint8_t type = r[4 + 6];
    if (!main_seen_) {
      if (type != 2) return BrokenAt(at);
      main_seen_ = true;
      data_ = 0;
    } else {
      ++members_;
      data_ = Le32(r + 4 + 12);
    }
    // The two bytes after the CRC are the first extended header's size.
    extended_ = true;
    return OnRecord(r + 4 + basic + 4, 2, at + 4 + basic + 4);
  }

  bool extended_ = false, main_seen_ = false;
  int members_ = 0;
  std::uint64_t data_ = 0;
};

}  // namespace

bool ArjStart(const std::uint8_t* data, std::size_t available) {
  if (available < 64) return false;
  const unsigned basic = Le16(data + 2);
  if (basic < 30 || basic > kMaxBasic || 4 + basic + 4 > available) return false;
  return data[10] == 2 && Crc32(data + 4, basic) == Le32(data + 4 + basic);
}

std::unique_ptr<EndFinder> ArjEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<ArjFinder>();
}

const FileKind kArjKind{
    .tag = "ARJ", .description = "ARJ archive", .check = ArjStart, .make_finder = ArjEnd};
