#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

#include <cstring>

using namespace document_walk;

namespace {

/// Levels 0 and 1 keep a header size and a byte sum of the header; level 2 a 16-bit
/// whole-header size. A zero byte where the next header would start ends the archive.
bool HeaderHolds(const std::uint8_t* h, std::size_t size) {
  if (size < 22 || h[2] != '-' || h[3] != 'l' || h[6] != '-') return false;
  const unsigned level = h[20];
  if (level == 2) return Le16(h) >= 26;
  if (level > 1 || h[0] < 20) return false;
  if (size < h[0] + 2u) return true;
  std::uint8_t sum = 0;
  for (std::size_t i = 2; i < h[0] + 2u; ++i) sum = static_cast<std::uint8_t>(sum + h[i]);
  return sum == h[1];
}

class LzhFinder final : public RecordWalker {
 public:
  LzhFinder() : RecordWalker(512) { Gather(1); }

 private:
  EndVerdict OnRecord(const std::uint8_t* h, std::size_t size, std::uint64_t at) override {
    if (size == 1) {
      if (h[0] == 0) return members_ > 0 ? EndsAt(at + 1) : BrokenAt(at);
      Extend(22);
      return NeedMore();
    }
    const unsigned level = h[20];
    const std::size_t basic = level == 2 ? 22 : h[0] + 2u;
    if (size < basic) {
      Extend(basic);
      return NeedMore();
    }
    if (!HeaderHolds(h, size)) return BrokenAt(at);
    ++members_;
    const std::uint64_t packed = Le32(h + 7);
    // Level 1 counts its extended headers in the packed size; level 2 has them in its size.
    const std::uint64_t skip = level == 2 ? Le16(h) - 22ull + packed : packed;
    Gather(1, skip);
    return NeedMore();
  }

  int members_ = 0;
};

}  // namespace

bool LzhStart(const std::uint8_t* data, std::size_t available) {
  return available >= 64 && data[6] == '-' && HeaderHolds(data, available);
}

std::unique_ptr<EndFinder> LzhEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<LzhFinder>();
}

const FileKind kLzhKind{
    .tag = "LZH", .description = "LHA archive", .check = LzhStart, .make_finder = LzhEnd};
