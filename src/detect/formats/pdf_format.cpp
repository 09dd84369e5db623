#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

#include <algorithm>
#include <cstring>
#include <string_view>

using namespace document_walk;

namespace {

/// How far past an end-of-file mark an incremental update may still bring another.
constexpr std::uint64_t kUpdateReach = 64ull << 20;
constexpr std::size_t kPeek = 24;

bool IsDigit(std::uint8_t b) {
  return b >= '0' && b <= '9';
}
bool IsSpace(std::uint8_t b) {
  return b == ' ' || b == '\r' || b == '\n' || b == '\t' || b == '\f';
}

/// The bytes after an end-of-file mark and its line end open an update ("N G obj", "xref"
/// or a comment that is not another document's header), or go on with the document (a
/// mark inside an embedded PostScript stream).
bool OpensUpdate(const std::uint8_t* p, std::size_t n) {
  for (const std::string_view word : {"xref", "endstream", "endobj", "trailer", "startxref"})
    if (n >= word.size() && std::memcmp(p, word.data(), word.size()) == 0) return true;
  if (n >= 5 && p[0] == '%' && std::memcmp(p, "%PDF-", 5) != 0) return true;
  std::size_t i = 0;
  for (int number = 0; number < 2; ++number) {
    const std::size_t digits = i;
    while (i < n && IsDigit(p[i])) ++i;
    if (i == digits || i >= n || !IsSpace(p[i])) return false;
    while (i < n && IsSpace(p[i])) ++i;
  }
  return i + 3 <= n && std::memcmp(p + i, "obj", 3) == 0;
}

/// The last "%%EOF" of the original and its incremental updates: after each mark the
/// line end is taken, and the next bytes must open an update for the search to go on.
class PdfFinder final : public EndFinder {
 public:
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
      if (phase_ == Phase::kSearch) {
        if (last_end_ > 0 && fed_ - last_end_ > kUpdateReach) return EndsAt(last_end_);
        const std::size_t hit = search_.Find(p, left);
        if (hit == MarkerSearch::kNotFound) {
          fed_ += left;
          return NeedMore();
        }
        p += hit;
        left -= hit;
        fed_ += hit;
        last_end_ = fed_;
        phase_ = Phase::kLineEnd;
        line_ends_ = 0;
        continue;
      }
      if (phase_ == Phase::kLineEnd) {
        if (line_ends_ < 2 && (*p == '\r' || *p == '\n')) {
          if (*p == '\n' || line_ends_ == 1)
            line_ends_ = 2;
          else
            line_ends_ = 1;
          ++p, --left, ++fed_;
          last_end_ = fed_;
          continue;
        }
        phase_ = Phase::kPeek;
        peeked_ = 0;
      }
      const std::size_t take = std::min(kPeek - peeked_, left);
      std::memcpy(peek_ + peeked_, p, take);
      peeked_ += take;
      p += take;
      left -= take;
      fed_ += take;
      if (peeked_ < kPeek) return NeedMore();
      if (!OpensUpdate(peek_, peeked_)) return EndsAt(last_end_);
      phase_ = Phase::kSearch;
      search_.Reset();
      const std::size_t again = search_.Find(peek_, peeked_);
      if (again != MarkerSearch::kNotFound) {
        last_end_ = fed_ - peeked_ + again;
        phase_ = Phase::kLineEnd;
        line_ends_ = 0;
        // Re-feed the peeked bytes after the mark.
        std::uint8_t rest[kPeek];
        const std::size_t n = peeked_ - again;
        std::memcpy(rest, peek_ + again, n);
        fed_ -= n;
        const EndVerdict v = Feed({rest, n});
        if (v.state != EndVerdict::State::kNeedMore) return v;
      }
    }
    return NeedMore();
  }

  EndVerdict Finish(std::uint64_t fed) override {
    return last_end_ > 0 ? EndsAt(last_end_) : BrokenAt(fed);
  }

 private:
  enum class Phase { kSearch, kLineEnd, kPeek };
  Phase phase_ = Phase::kSearch;
  MarkerSearch search_{"%%EOF"};
  std::uint64_t fed_ = 0, last_end_ = 0;
  int line_ends_ = 0;
  std::uint8_t peek_[kPeek]{};
  std::size_t peeked_ = 0;
};

}  // namespace

bool PdfStart(const std::uint8_t* data, std::size_t available) {
  return available >= 16 && std::memcmp(data, "%PDF-1.", 7) == 0 && IsDigit(data[7]) &&
         (IsSpace(data[8]) || data[8] == '%');
}

std::unique_ptr<EndFinder> PdfEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<PdfFinder>();
}

const FileKind kPdfKind{
    .tag = "PDF", .description = "PDF document", .check = PdfStart, .make_finder = PdfEnd};
