#include "detect/file_kind.h"
#include "detect/formats/record_walker.h"

#include <cstring>

using namespace document_walk;

namespace {

constexpr char kDatabaseMagic[16] = "SQLite format 3";  // with its closing zero
constexpr std::size_t kDatabaseHeader = 100;
constexpr std::size_t kWalHeader = 32, kFrameHeader = 24;
constexpr std::uint32_t kWalMagic = 0x377F0682;  ///< | 1: checksums of big-endian words
constexpr std::uint32_t kWalVersion = 3007000;

bool IsPageSize(std::uint32_t size) {
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

/// The page size of a database header (1 stands for 65536), or 0 when it is not one.
std::uint32_t DatabasePageSize(const std::uint8_t* d) {
  const std::uint32_t size = Be16(d + 16) == 1 ? 65536 : Be16(d + 16);
  return IsPageSize(size) ? size : 0;
}

/// The database header: magic, page size, format versions, payload fractions, a usable page size,
/// known schema format and text encoding, zeros where the header is reserved; page 1 is a table
/// b-tree page.
bool SqliteStart(const std::uint8_t* d, std::size_t available) {
  if (available < kDatabaseHeader || std::memcmp(d, kDatabaseMagic, 16) != 0) return false;
  const std::uint32_t page = DatabasePageSize(d);
  if (page == 0 || d[18] < 1 || d[18] > 2 || d[19] < 1 || d[19] > 2) return false;
  if (page - d[20] < 480 || d[21] != 64 || d[22] != 32 || d[23] != 32) return false;
  if (Be32(d + 44) > 4 || Be32(d + 56) > 3) return false;
  for (std::size_t i = 72; i < 92; ++i)
    if (d[i] != 0) return false;
  return available == kDatabaseHeader || d[100] == 0x0D || d[100] == 0x05;
}

/// A file of a known length, whole once that many bytes went by.
class SizedFinder final : public EndFinder {
 public:
  explicit SizedFinder(std::uint64_t size) : size_(size) {}
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    fed_ += data.size();
    return fed_ >= size_ ? EndsAt(size_) : NeedMore();
  }
  EndVerdict Finish(std::uint64_t fed) override {
    return fed >= size_ ? EndsAt(size_) : BrokenAt(fed);
  }

 private:
  std::uint64_t size_, fed_ = 0;
};

/// The page count times the page size, when the header's page count is kept up to date (its change
/// counter matches the version-valid-for number); writers before 3.7.0 left it stale, and then the
/// end is not known.
std::unique_ptr<EndFinder> SqliteEnd(const std::uint8_t* d, std::size_t available) {
  if (!SqliteStart(d, available)) return nullptr;
  const std::uint32_t pages = Be32(d + 28);
  if (pages == 0 || Be32(d + 24) != Be32(d + 92)) return nullptr;
  return std::make_unique<SizedFinder>(std::uint64_t{pages} * DatabasePageSize(d));
}

/// SQLite's checksum of a write-ahead log: two running 32-bit sums over pairs of words.
struct WalChecksum {
  std::uint32_t s0 = 0, s1 = 0;
  /// Continues over `size` bytes, a multiple of 8.
  void Update(const std::uint8_t* p, std::size_t size, bool big_endian) {
    std::uint32_t a = s0, b = s1;
    if (big_endian) {
      for (std::size_t i = 0; i + 8 <= size; i += 8) {
        a += Be32(p + i) + b;
        b += Be32(p + i + 4) + a;
      }
    } else {
      for (std::size_t i = 0; i + 8 <= size; i += 8) {
        a += Le32(p + i) + b;
        b += Le32(p + i + 4) + a;
      }
    }
    s0 = a;
    s1 = b;
  }
};

/// The log header: magic, format version, page size and its own checksum.
bool WalStart(const std::uint8_t* d, std::size_t available) {
  if (available < kWalHeader || (Be32(d) | 1) != (kWalMagic | 1)) return false;
  if (Be32(d + 4) != kWalVersion || !IsPageSize(Be32(d + 8))) return false;
  WalChecksum sum;
  sum.Update(d, 24, (d[3] & 1) != 0);
  return sum.s0 == Be32(d + 24) && sum.s1 == Be32(d + 28);
}

/// Frames of a page each, as long as they carry the header's salts and the running checksum holds;
/// the log ends after the last such frame (frames beyond are left over from before the log was last
/// restarted, or are other data).
class WalFinder final : public RecordWalker {
 public:
  WalFinder() : RecordWalker(kFrameHeader + 65536) { Gather(kWalHeader); }

  EndVerdict Finish(std::uint64_t fed) override {
    return fed == end_ ? EndsAt(end_) : BrokenAt(end_ < fed ? end_ : fed);
  }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    if (at == 0) {
      big_endian_ = (r[3] & 1) != 0;
      page_ = Be32(r + 8);
      std::memcpy(salts_, r + 16, 8);
      sum_.s0 = Be32(r + 24);
      sum_.s1 = Be32(r + 28);
      end_ = kWalHeader;
      Gather(kFrameHeader + page_);
      return NeedMore();
    }
    if (Be32(r) == 0 || std::memcmp(r + 8, salts_, 8) != 0) return EndsAt(end_);
    WalChecksum sum = sum_;
    sum.Update(r, 8, big_endian_);
    sum.Update(r + kFrameHeader, size - kFrameHeader, big_endian_);
    if (sum.s0 != Be32(r + 16) || sum.s1 != Be32(r + 20)) return EndsAt(end_);
    sum_ = sum;
    end_ = at + size;
    Gather(kFrameHeader + page_);
    return NeedMore();
  }

  bool big_endian_ = false;
  std::uint32_t page_ = 0;
  std::uint8_t salts_[8]{};
  WalChecksum sum_;
  std::uint64_t end_ = 0;
};

std::unique_ptr<EndFinder> WalEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<WalFinder>();
}

}  // namespace

extern const FileKind kSqliteKind;
const FileKind kSqliteKind{.tag = "SQLITE",
                           .description = "SQLite database",
                           .check = SqliteStart,
                           .make_finder = SqliteEnd,
                           .first_bytes = "S"};

extern const FileKind kWalKind;
const FileKind kWalKind{.tag = "WAL",
                        .description = "SQLite write-ahead log",
                        .check = WalStart,
                        .make_finder = WalEnd,
                        .first_bytes = "7"};
