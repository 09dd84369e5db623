#include "detect/file_kind.h"
#include "detect/formats/crc32.h"
#include "detect/formats/record_walker.h"

#include <cstring>

using namespace document_walk;

namespace {

constexpr std::uint8_t kMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr std::size_t kStreamHeaderSize = 12;
constexpr std::uint8_t kLzma2 = 0x21;
/// Zero bytes taken between streams before giving up on another stream following.
constexpr std::uint64_t kMostPadding = 65536;

/// The size of the check each block ends with, by the stream flags' check type; -1 for the types no
/// writer uses.
int CheckSize(std::uint8_t type) {
  switch (type) {
    case 0x00:
      return 0;
    case 0x01:
      return 4;
    case 0x04:
      return 8;
    case 0x0A:
      return 32;
    default:
      return -1;
  }
}

/// The twelve bytes of a stream header: magic, flags of a known check, and their CRC.
bool IsStreamHeader(const std::uint8_t* d) {
  return std::memcmp(d, kMagic, 6) == 0 && d[6] == 0 && CheckSize(d[7]) >= 0 &&
         Crc32(d + 6, 2) == Le32(d + 8);
}

/// A variable-length integer (7 bits a byte, at most 9 bytes, no needless zero byte) at `*pos` in
/// the `size` bytes of `p`; false when it is not one or runs past the end.
bool ReadVli(const std::uint8_t* p, std::size_t size, std::size_t* pos, std::uint64_t* value) {
  *value = 0;
  for (int i = 0; i < 9; ++i) {
    if (*pos >= size) return false;
    const std::uint8_t b = p[(*pos)++];
    *value |= std::uint64_t{b & 0x7Fu} << (7 * i);
    if ((b & 0x80) == 0) return i == 0 || b != 0;
  }
  return false;
}

/// Walks each stream without decompressing: block headers (by their CRC), the LZMA2 chunks of each
/// block by their sizes, block padding and checks, then the index, whose record count and size sums
/// must match the blocks walked, and the stream footer. Streams that follow, after zero padding,
/// belong to the file.
class XzFinder final : public RecordWalker {
 public:
  XzFinder() : RecordWalker(1024) { Gather(kStreamHeaderSize); }

  EndVerdict Finish(std::uint64_t fed) override {
    return phase_ == Phase::kAfter ? EndsAt(stream_end_) : BrokenAt(fed);
  }

 private:
  enum class Phase {
    kStreamHeader,
    kBlockOrIndex,
    kBlockHeader,
    kChunk,
    kChunkHeader,
    kBlockTail,
    kIndex,
    kIndexPadding,
    kIndexCrc,
    kFooter,
    kAfter,
  };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kStreamHeader:
        return OnStreamHeader(r, at);
      case Phase::kBlockOrIndex:
        if (r[0] == 0x00) {
          // The index: its indicator, then the record count.
          index_start_ = at;
          index_crc_ = Crc32Update(0xFFFFFFFFu, r, 1);
          index_field_ = 0;
          index_value_ = 0;
          index_shift_ = 0;
          index_records_ = 0;
          index_unpadded_ = index_uncompressed_ = 0;
          phase_ = Phase::kIndex;
          Gather(1);
          return NeedMore();
        }
        phase_ = Phase::kBlockHeader;
        Extend((std::size_t{r[0]} + 1) * 4);
        return NeedMore();
      case Phase::kBlockHeader:
        return OnBlockHeader(r, size, at);
      case Phase::kChunk:
        return OnChunk(r, at);
      case Phase::kChunkHeader:
        return OnChunkHeader(r, size, at);
      case Phase::kBlockTail:
        for (std::size_t i = 0; i < size - static_cast<std::size_t>(check_size_); ++i)
          if (r[i] != 0) return BrokenAt(block_start_);
        blocks_ += 1;
        unpadded_ += header_size_ + compressed_ + static_cast<std::uint64_t>(check_size_);
        uncompressed_ += uncompressed_seen_;
        phase_ = Phase::kBlockOrIndex;
        Gather(1);
        return NeedMore();
      case Phase::kIndex:
        return OnIndexByte(r[0]);
      case Phase::kIndexPadding:
        for (std::size_t i = 0; i < size; ++i)
          if (r[i] != 0) return BrokenAt(index_start_);
        index_crc_ = Crc32Update(index_crc_, r, size);
        phase_ = Phase::kIndexCrc;
        Gather(4);
        return NeedMore();
      case Phase::kIndexCrc:
        if ((index_crc_ ^ 0xFFFFFFFFu) != Le32(r)) return BrokenAt(index_start_);
        index_size_ = at + 4 - index_start_;
        phase_ = Phase::kFooter;
        Gather(12);
        return NeedMore();
      case Phase::kFooter:
        if (Crc32(r + 4, 6) != Le32(r) || std::memcmp(r + 8, flags_, 2) != 0 || r[10] != 'Y' ||
            r[11] != 'Z' || (std::uint64_t{Le32(r + 4)} + 1) * 4 != index_size_)
          return BrokenAt(index_start_);
        stream_end_ = at + 12;
        phase_ = Phase::kAfter;
        Gather(4);
        return NeedMore();
      case Phase::kAfter:
        if (size == 4 && std::memcmp(r, kMagic, 4) == 0) {
          phase_ = Phase::kStreamHeader;
          Extend(kStreamHeaderSize);
          return NeedMore();
        }
        if (size == 4 && Le32(r) == 0 && at + 4 - stream_end_ <= kMostPadding) {
          Gather(4);
          return NeedMore();
        }
        return EndsAt(stream_end_);
    }
    return BrokenAt(at);
  }

  EndVerdict OnStreamHeader(const std::uint8_t* r, std::uint64_t at) {
    if (!IsStreamHeader(r)) {
      // After a whole stream this is only the next file; the first was checked at its start.
      return stream_end_ > 0 ? EndsAt(stream_end_) : BrokenAt(at);
    }
    std::memcpy(flags_, r + 6, 2);
    check_size_ = CheckSize(r[7]);
    blocks_ = unpadded_ = uncompressed_ = 0;
    phase_ = Phase::kBlockOrIndex;
    Gather(1);
    return NeedMore();
  }

  /// The block header: its CRC, flags, declared sizes and filter chain, which must end in LZMA2 for
  /// the chunks to be walked.
  EndVerdict OnBlockHeader(const std::uint8_t* r, std::size_t size, std::uint64_t at) {
    if (size < 8 || Crc32(r, size - 4) != Le32(r + size - 4)) return BrokenAt(at);
    const std::uint8_t flags = r[1];
    if ((flags & 0x3C) != 0) return BrokenAt(at);
    std::size_t pos = 2;
    const std::size_t end = size - 4;
    declared_compressed_ = declared_uncompressed_ = kNone;
    if ((flags & 0x40) && !ReadVli(r, end, &pos, &declared_compressed_)) return BrokenAt(at);
    if ((flags & 0x80) && !ReadVli(r, end, &pos, &declared_uncompressed_)) return BrokenAt(at);
    const int filters = (flags & 3) + 1;
    for (int f = 0; f < filters; ++f) {
      std::uint64_t id = 0, props = 0;
      if (!ReadVli(r, end, &pos, &id) || !ReadVli(r, end, &pos, &props) || props > end - pos)
        return BrokenAt(at);
      const bool last = f == filters - 1;
      if (last && id != kLzma2) return Unknown();  // a chain these sizes cannot be read from
      if (!last && id == kLzma2) return BrokenAt(at);
      if (last && (props != 1 || r[pos] > 40)) return BrokenAt(at);
      pos += static_cast<std::size_t>(props);
    }
    for (; pos < end; ++pos)
      if (r[pos] != 0) return BrokenAt(at);
    block_start_ = at;
    header_size_ = size;
    data_start_ = at + size;
    uncompressed_seen_ = 0;
    need_dictionary_reset_ = need_properties_ = true;
    phase_ = Phase::kChunk;
    Gather(1);
    return NeedMore();
  }

  /// An LZMA2 control byte: the end of the block's data, or a chunk's kind.
  EndVerdict OnChunk(const std::uint8_t* r, std::uint64_t at) {
    const std::uint8_t control = r[0];
    if (control == 0x00) {
      compressed_ = at + 1 - data_start_;
      if ((declared_compressed_ != kNone && declared_compressed_ != compressed_) ||
          (declared_uncompressed_ != kNone && declared_uncompressed_ != uncompressed_seen_))
        return BrokenAt(block_start_);
      phase_ = Phase::kBlockTail;
      Gather(static_cast<std::size_t>((4 - compressed_ % 4) % 4) +
             static_cast<std::size_t>(check_size_));
      return NeedMore();
    }
    if (control == 0x01 || control >= 0xE0) {
      need_dictionary_reset_ = false;
    } else if (need_dictionary_reset_ || (control > 0x02 && control < 0x80)) {
      return BrokenAt(at);
    }
    if (control >= 0x80) {
      const int reset = (control >> 5) & 3;
      if (reset < 2 && need_properties_) return BrokenAt(at);
      if (reset >= 2) need_properties_ = false;
      phase_ = Phase::kChunkHeader;
      Extend(reset >= 2 ? 6 : 5);
      return NeedMore();
    }
    phase_ = Phase::kChunkHeader;
    Extend(3);
    return NeedMore();
  }

  EndVerdict OnChunkHeader(const std::uint8_t* r, std::size_t size, std::uint64_t at) {
    std::uint64_t packed = 0;
    if (r[0] >= 0x80) {
      uncompressed_seen_ += ((std::uint64_t{r[0]} & 0x1F) << 16) + Be16(r + 1) + 1;
      packed = std::uint64_t{Be16(r + 3)} + 1;
      if (size == 6) {
        const unsigned props = r[5];
        const unsigned lc = props % 9, lp = (props / 9) % 5;
        if (props >= 9 * 5 * 5 || lc + lp > 4) return BrokenAt(at);
      }
    } else {
      packed = std::uint64_t{Be16(r + 1)} + 1;
      uncompressed_seen_ += packed;
    }
    if (declared_compressed_ != kNone && at + size + packed - data_start_ >= declared_compressed_)
      return BrokenAt(block_start_);
    phase_ = Phase::kChunk;
    Gather(1, packed);
    return NeedMore();
  }

  /// One byte of the index after its indicator: the record count, then an unpadded and an
  /// uncompressed size for each block.
  EndVerdict OnIndexByte(std::uint8_t b) {
    index_crc_ = Crc32Update(index_crc_, &b, 1);
    if (index_shift_ >= 63 || (index_shift_ > 0 && b == 0)) return BrokenAt(index_start_);
    index_value_ |= std::uint64_t{b & 0x7Fu} << index_shift_;
    index_shift_ += 7;
    if (b & 0x80) {
      Gather(1);
      return NeedMore();
    }
    const std::uint64_t value = index_value_;
    index_value_ = 0;
    index_shift_ = 0;
    if (index_field_ == 0) {
      if (value != blocks_) return BrokenAt(index_start_);
      index_records_ = value;
    } else if (index_field_ % 2 == 1) {
      index_unpadded_ += value;
    } else {
      index_uncompressed_ += value;
    }
    ++index_field_;
    if (index_field_ <= 2 * index_records_) {
      Gather(1);
      return NeedMore();
    }
    if (index_unpadded_ != unpadded_ || index_uncompressed_ != uncompressed_)
      return BrokenAt(index_start_);
    phase_ = Phase::kIndexPadding;
    Gather(static_cast<std::size_t>((4 - (Taken() - index_start_) % 4) % 4));
    return NeedMore();
  }

  static constexpr std::uint64_t kNone = ~std::uint64_t{0};

  Phase phase_ = Phase::kStreamHeader;
  std::uint8_t flags_[2]{};
  int check_size_ = 0;
  // The blocks of the stream so far.
  std::uint64_t blocks_ = 0, unpadded_ = 0, uncompressed_ = 0;
  // The block being walked.
  std::uint64_t block_start_ = 0, header_size_ = 0, data_start_ = 0, compressed_ = 0;
  std::uint64_t declared_compressed_ = kNone, declared_uncompressed_ = kNone;
  std::uint64_t uncompressed_seen_ = 0;
  bool need_dictionary_reset_ = true, need_properties_ = true;
  // The index being read.
  std::uint64_t index_start_ = 0, index_size_ = 0, index_value_ = 0, index_records_ = 0;
  std::uint64_t index_field_ = 0, index_unpadded_ = 0, index_uncompressed_ = 0;
  int index_shift_ = 0;
  std::uint32_t index_crc_ = 0;
  std::uint64_t stream_end_ = 0;
};

/// The stream header, and the first block's header by its CRC when it is within reach.
bool XzStart(const std::uint8_t* d, std::size_t available) {
  if (available < kStreamHeaderSize || !IsStreamHeader(d)) return false;
  if (available <= kStreamHeaderSize || d[kStreamHeaderSize] == 0x00) return true;
  const std::size_t header = (std::size_t{d[kStreamHeaderSize]} + 1) * 4;
  if (kStreamHeaderSize + header > available) return true;
  return Crc32(d + kStreamHeaderSize, header - 4) == Le32(d + kStreamHeaderSize + header - 4);
}

std::unique_ptr<EndFinder> XzEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<XzFinder>();
}

}  // namespace

extern const FileKind kXzKind;
const FileKind kXzKind{.tag = "XZ",
                       .description = "XZ compressed file",
                       .check = XzStart,
                       .make_finder = XzEnd,
                       .first_bytes = "\xFD"};
