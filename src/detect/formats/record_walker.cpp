#include "detect/formats/record_walker.h"

#include <algorithm>
#include <cstring>

namespace document_walk {

namespace {

std::uint8_t Fold(std::uint8_t b) {
  return (b >= 'A' && b <= 'Z') ? static_cast<std::uint8_t>(b + 32) : b;
}

}  // namespace

MarkerSearch::MarkerSearch(std::string_view marker, bool fold_case)
    : marker_(marker.substr(0, sizeof carry_)), fold_case_(fold_case) {}

bool MarkerSearch::MatchesAt(const std::uint8_t* p) const {
  for (std::size_t i = 1; i < marker_.size(); ++i) {
    const auto want = static_cast<std::uint8_t>(marker_[i]);
    if (p[i] != want && !(fold_case_ && Fold(p[i]) == Fold(want))) return false;
  }
  return true;
}

std::size_t MarkerSearch::Find(const std::uint8_t* data, std::size_t size) {
  const std::size_t m = marker_.size();
  if (m == 0) return 0;
  const auto first = static_cast<std::uint8_t>(marker_[0]);
  if (carried_ > 0) {
    // A match that starts in the carried tail of the last piece.
    std::uint8_t join[128];
    const std::size_t extra = std::min(size, m - 1);
    std::memcpy(join, carry_, carried_);
    std::memcpy(join + carried_, data, extra);
    for (std::size_t s = 0; s < carried_; ++s)
      if (s + m <= carried_ + extra && join[s] == first && MatchesAt(join + s)) {
        const std::size_t past = s + m - carried_;
        carried_ = 0;
        return past;
      }
  }
  const std::uint8_t* p = data;
  const std::uint8_t* const end = data + size;
  while (size >= m && p + m <= end) {
    p = static_cast<const std::uint8_t*>(std::memchr(p, first, static_cast<std::size_t>(end - p)));
    if (p == nullptr || p + m > end) break;
    if (MatchesAt(p)) {
      carried_ = 0;
      return static_cast<std::size_t>(p - data) + m;
    }
    ++p;
  }
  // Keep the last m - 1 bytes of everything seen.
  const std::size_t keep = m - 1;
  if (size >= keep) {
    std::memcpy(carry_, data + size - keep, keep);
    carried_ = keep;
  } else {
    const std::size_t old = std::min(carried_, keep - size);
    std::memmove(carry_, carry_ + carried_ - old, old);
    std::memcpy(carry_ + old, data, size);
    carried_ = old + size;
  }
  return kNotFound;
}

void RecordWalker::Gather(std::size_t size, std::uint64_t skip) {
  want_ = std::min(size, buffer_.size());
  have_ = 0;
  skip_ = skip;
  asked_ = true;
  seeking_ = false;
}

void RecordWalker::Extend(std::size_t size) {
  Gather(size);
  have_ = std::min(handed_, want_);
}

void RecordWalker::Seek(std::string_view marker, std::size_t size) {
  Gather(std::max(size, marker.size()));
  seeking_ = true;
  marker_ = marker;
  search_ = MarkerSearch(marker);
}

EndVerdict RecordWalker::Feed(std::span<const std::uint8_t> data) {
  const std::uint8_t* p = data.data();
  std::size_t left = data.size();
  for (;;) {
    if (seeking_) {
      const std::size_t hit = search_.Find(p, left);
      if (hit == MarkerSearch::kNotFound) {
        taken_ += left;
        return NeedMore();
      }
      // The marker's bytes are known: place them, then gather the rest.
      std::memcpy(buffer_.data(), marker_.data(), marker_.size());
      have_ = marker_.size();
      p += hit;
      left -= hit;
      taken_ += hit;
      seeking_ = false;
    }
    if (skip_ > 0) {
      const std::uint64_t take = std::min<std::uint64_t>(skip_, left);
      if (take > 0) OnSkipped(p, static_cast<std::size_t>(take));
      skip_ -= take;
      p += take;
      left -= static_cast<std::size_t>(take);
      taken_ += take;
      if (skip_ > 0) return NeedMore();
    }
    const std::size_t take = std::min(want_ - have_, left);
    if (take > 0) std::memcpy(buffer_.data() + have_, p, take);
    have_ += take;
    p += take;
    left -= take;
    taken_ += take;
    if (have_ < want_) return NeedMore();
    if (!asked_) return BrokenAt(taken_ - have_);
    asked_ = false;
    const std::size_t size = want_;
    handed_ = size;
    const EndVerdict verdict = OnRecord(buffer_.data(), size, taken_ - size);
    if (verdict.state != EndVerdict::State::kNeedMore) return verdict;
  }
}

}  // namespace document_walk

namespace {

using document_walk::RecordWalker;

/// Skips the stated length, then looks at one optional end-mark byte.
class FixedLengthFinder final : public RecordWalker {
 public:
  FixedLengthFinder(std::uint64_t size, int trailer) : RecordWalker(1), trailer_(trailer) {
    Gather(trailer >= 0 ? 1 : 0, size);
    size_ = size;
  }
  EndVerdict Finish(std::uint64_t fed) override {
    return fed >= size_ ? EndsAt(size_) : BrokenAt(fed);
  }

 private:
  EndVerdict OnRecord(const std::uint8_t* record, std::size_t size, std::uint64_t at) override {
    return EndsAt(size > 0 && record[0] == trailer_ ? at + 1 : at);
  }
  int trailer_;
  std::uint64_t size_ = 0;
};

}  // namespace

std::unique_ptr<EndFinder> FixedLengthEnd(std::uint64_t size, int trailer) {
  return std::make_unique<FixedLengthFinder>(size, trailer);
}
