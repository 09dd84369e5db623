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

EndVerdict Walker::Feed(std::span<const std::uint8_t> data) {
  const std::uint8_t* p = data.data();
  std::size_t n = data.size();
  for (;;) {
    if (skip_ > 0) {
      const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, n));
      if (k > 0) OnSkipped(p, k);
      p += k;
      n -= k;
      skip_ -= k;
      position_ += k;
      if (skip_ > 0) return NeedMore();
    }
    if (have_ < want_) {
      const std::size_t k = std::min(want_ - have_, n);
      if (k > 0) std::memcpy(buffer_.data() + have_, p, k);
      p += k;
      n -= k;
      have_ += k;
      position_ += k;
      if (have_ < want_) return NeedMore();
    }
    asked_ = false;
    const EndVerdict verdict = OnRecord(buffer_.data(), want_, position_ - want_);
    if (verdict.state != EndVerdict::State::kNeedMore) return verdict;
    if (!asked_) return BrokenAt(position_);
  }
}

void Walker::Gather(std::size_t size, std::uint64_t skip) {
  want_ = std::min(size, buffer_.size());
  have_ = 0;
  skip_ = skip;
  asked_ = true;
}

namespace {

class FixedFinder final : public Walker {
 public:
  explicit FixedFinder(std::uint64_t size) : Walker(1), size_(size) { Gather(0, size); }
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
