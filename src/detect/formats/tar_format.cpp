#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

#include <algorithm>
#include <cstring>

using namespace document_walk;

namespace {

constexpr std::uint64_t kBlock = 512, kRecord = 10240;

/// The header's checksum holds: its bytes summed with the checksum field as spaces.
bool ChecksumHolds(const std::uint8_t* h) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) sum += (i >= 148 && i < 156) ? ' ' : h[i];
  std::uint64_t stated = 0;
  bool digits = false;
  for (std::size_t i = 148; i < 156 && h[i] != 0 && h[i] != ' '; ++i) {
    if (h[i] < '0' || h[i] > '7') return false;
    stated = stated * 8 + (h[i] - '0');
    digits = true;
  }
  return digits && stated == sum;
}

/// The member's data length: octal digits, or base-256 when the first byte's top bit is set.
std::uint64_t MemberSize(const std::uint8_t* h) {
  std::uint64_t size = 0;
  if (h[124] & 0x80) {
    for (std::size_t i = 125; i < 136; ++i) size = size << 8 | h[i];
    return size;
  }
  for (std::size_t i = 124; i < 136 && h[i] >= '0' && h[i] <= '7'; ++i)
    size = size * 8 + (h[i] - '0');
  return size;
}

bool IsZero(const std::uint8_t* h) {
  return std::all_of(h, h + kBlock, [](std::uint8_t b) { return b == 0; });
}

/// Headers and member sizes up to the two zero blocks, then the rest of the 10240-byte
/// record while it is zero.
class TarFinder final : public RecordWalker {
 public:
  TarFinder() : RecordWalker(kBlock) { Gather(kBlock); }

 private:
  EndVerdict OnRecord(const std::uint8_t* h, std::size_t /*size*/, std::uint64_t at) override {
    if (zeros_ >= 2) {
      if (!IsZero(h)) return EndsAt(at);
      if ((at + kBlock) % kRecord == 0) return EndsAt(at + kBlock);
      Gather(kBlock);
      return NeedMore();
    }
    if (IsZero(h)) {
      if (++zeros_ == 2 && (at + kBlock) % kRecord == 0) return EndsAt(at + kBlock);
      Gather(kBlock);
      return NeedMore();
    }
    if (zeros_ > 0 || !ChecksumHolds(h)) return BrokenAt(at);
    const std::uint8_t type = h[156];
    // Links, devices, directories and pipes carry no data, whatever their size field says.
    const bool no_data = type >= '1' && type <= '6';
    const std::uint64_t size = no_data ? 0 : MemberSize(h);
    Gather(kBlock, (size + kBlock - 1) / kBlock * kBlock);
    return NeedMore();
  }

  int zeros_ = 0;
};

}  // namespace

bool TarStart(const std::uint8_t* data, std::size_t available) {
  return available >= kBlock && ChecksumHolds(data);
}

/// A tar archive in GNU tar's own format ("ustar  " magic, what GNU tar writes unless told
/// otherwise), whose header checksum holds.
std::string_view GnuTarName(const std::uint8_t* data, std::size_t available) {
  if (available < kBlock || std::memcmp(data + 257, "ustar  \0", 8) != 0) return {};
  return ChecksumHolds(data) ? "TAR" : std::string_view{};
}

std::unique_ptr<EndFinder> TarEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<TarFinder>();
}

const FileKind kTarKind{.tag = "TAR",
                        .description = "tar archive",
                        .check = TarStart,
                        .make_finder = TarEnd,
                        .unchained = GnuTarName};
