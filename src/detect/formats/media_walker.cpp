#include "detect/formats/media_walker.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace media {

bool IsFourCc(const std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t b = p[i];
    const bool ok = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                    b == ' ' || b == '.' || b == '_' || b == '-' || b == '(' || b == ')' ||
                    b == 0xA9;
    if (!ok) return false;
  }
  return true;
}

namespace {

class FixedFinder final : public RecordWalker {
 public:
  explicit FixedFinder(std::uint64_t size) : RecordWalker(1), size_(size) { Gather(0, size); }
  EndVerdict Finish(std::uint64_t fed) override {
    return fed >= size_ ? EndsAt(size_) : BrokenAt(fed);
  }

 private:
  EndVerdict OnRecord(const std::uint8_t*, std::size_t, std::uint64_t at) override {
    return EndsAt(at);
  }
  std::uint64_t size_;
};

}  // namespace

std::unique_ptr<EndFinder> FixedLengthFinder(std::uint64_t size) {
  return std::make_unique<FixedFinder>(size);
}

}  // namespace media
