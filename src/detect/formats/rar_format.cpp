#include "detect/file_catalogue.h"
#include "detect/formats/crc32.h"
#include "detect/formats/record_walker.h"

#include <cstring>

using namespace document_walk;

namespace {

constexpr std::size_t kMaxHeader = 65536 + 16;

/// RAR 1.5 to 4: blocks of CRC16 (the low half of a CRC-32 of the rest of the header),
/// type, flags and size, with a data size after flag 0x8000 or in a file block; the chain
/// ends with block 0x7B. Archives of the oldest writers have no end block: their chain
/// stops at the first block that is not one.
class Rar4Finder final : public RecordWalker {
 public:
  Rar4Finder() : RecordWalker(kMaxHeader) { Gather(7, 7); }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    const unsigned type = r[2], flags = Le16(r + 3), header = Le16(r + 5);
    if (type < 0x73 || type > 0x7B || header < 7) return Stop(at);
    if (size < header) {
      Extend(header);
      return NeedMore();
    }
    if ((Crc32(r + 2, header - 2) & 0xFFFF) != Le16(r)) return Stop(at);
    ++blocks_;
    if (type == 0x7B) return EndsAt(at + header);
    std::uint64_t data = 0;
    if (type == 0x74 || type == 0x7A) {
      if (header < 11) return Stop(at);
      data = Le32(r + 7);
      if ((flags & 0x100) != 0 && header >= 36) data |= std::uint64_t{Le32(r + 32)} << 32;
    } else if ((flags & 0x8000) != 0) {
      if (header < 11) return Stop(at);
      data = Le32(r + 7);
    }
    Gather(7, data);
    return NeedMore();
  }
  EndVerdict Stop(std::uint64_t at) const { return blocks_ > 1 ? EndsAt(at) : BrokenAt(at); }

  int blocks_ = 0;
};

/// A RAR 5 variable-length number; 0 bytes read when it runs past `size`.
std::size_t ReadVint(const std::uint8_t* p, std::size_t size, std::uint64_t& value) {
  value = 0;
  for (std::size_t i = 0; i < size && i < 10; ++i) {
    value |= std::uint64_t{p[i] & 0x7Fu} << (7 * i);
    if ((p[i] & 0x80) == 0) return i + 1;
  }
  return 0;
}

/// RAR 5: blocks of CRC-32, header size, type, flags, optional extra and data sizes; the
/// chain ends with block type 5.
class Rar5Finder final : public RecordWalker {
 public:
  Rar5Finder() : RecordWalker(kMaxHeader) { Gather(7, 8); }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    std::uint64_t header = 0;
    const std::size_t length = ReadVint(r + 4, 3, header);
    if (length == 0 || header < 2 || 4 + length + header > kMaxHeader) return BrokenAt(at);
    const std::size_t whole = 4 + length + static_cast<std::size_t>(header);
    if (size < whole) {
      Extend(whole);
      return NeedMore();
    }
    if (Crc32(r + 4, whole - 4) != Le32(r)) return BrokenAt(at);
    std::uint64_t type = 0, flags = 0, extra = 0, data = 0;
    std::size_t i = 4 + length, n = 0;
    if ((n = ReadVint(r + i, whole - i, type)) == 0) return BrokenAt(at);
    i += n;
    if ((n = ReadVint(r + i, whole - i, flags)) == 0) return BrokenAt(at);
    i += n;
    if ((flags & 1) != 0) {
      if ((n = ReadVint(r + i, whole - i, extra)) == 0) return BrokenAt(at);
      i += n;
    }
    if ((flags & 2) != 0 && ReadVint(r + i, whole - i, data) == 0) return BrokenAt(at);
    if (type == 5) return EndsAt(at + whole);
    if (type < 1 || type > 5) return BrokenAt(at);
    Gather(7, data);
    return NeedMore();
  }
};

}  // namespace

bool RarStart(const std::uint8_t* data, std::size_t available) {
  if (available < 32 || std::memcmp(data, "Rar!\x1A\x07", 6) != 0) return false;
  if (data[6] == 0x00) return data[9] == 0x73 && Le16(data + 12) >= 13;
  if (data[6] == 0x01 && data[7] == 0x00) {
    std::uint64_t header = 0;
    return ReadVint(data + 12, 3, header) > 0 && header >= 2;
  }
  return false;
}

std::unique_ptr<EndFinder> RarEnd(const std::uint8_t* data, std::size_t /*available*/) {
  if (data[6] == 0x01) return std::make_unique<Rar5Finder>();
  return std::make_unique<Rar4Finder>();
}

const FileKind kRarKind{
    .tag = "RAR", .description = "RAR archive", .check = RarStart, .make_finder = RarEnd};
