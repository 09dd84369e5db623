#include "detect/file_kind.h"
#include "detect/formats/record_walker.h"

#include <algorithm>

using namespace document_walk;

namespace {

constexpr std::uint32_t kFrameMagic = 0xFD2FB528;
constexpr std::uint32_t kSkippableMagic = 0x184D2A50;  ///< and the 15 after it
constexpr std::uint64_t kLargestBlock = 128 * 1024;
constexpr unsigned kLargestWindowLog = 31;
constexpr std::size_t kLongestFrameHeader = 14;

bool IsSkippable(std::uint32_t magic) {
  return (magic & 0xFFFFFFF0u) == kSkippableMagic;
}

/// The bytes of the content size field, by the frame header's descriptor byte.
std::size_t ContentSizeBytes(std::uint8_t descriptor) {
  const unsigned size_flag = descriptor >> 6;
  if (size_flag == 0) return (descriptor & 0x20) ? 1 : 0;
  return std::size_t{1} << size_flag;
}

/// The frame header's size (after the magic) by its descriptor byte.
std::size_t FrameHeaderSize(std::uint8_t descriptor) {
  constexpr std::size_t kDictionaryBytes[4] = {0, 1, 2, 4};
  return 1 + ((descriptor & 0x20) ? 0 : 1) + kDictionaryBytes[descriptor & 3] +
         ContentSizeBytes(descriptor);
}

/// What a frame header says; `size` 0 when it is not one.
struct FrameHeader {
  std::size_t size = 0;  ///< the header's bytes after the magic
  std::uint64_t largest_block = 0;
  bool checksum = false;
};

/// The frame header after the magic, all FrameHeaderSize bytes of it: no reserved bit, a window a
/// decoder takes. Blocks may not exceed the window (for a single segment, the content size) nor 128
/// KiB.
FrameHeader ReadFrameHeader(const std::uint8_t* d) {
  const std::uint8_t descriptor = d[0];
  if (descriptor & 0x08) return {};
  const std::size_t size = FrameHeaderSize(descriptor);
  std::uint64_t window = 0;
  if ((descriptor & 0x20) == 0) {
    const unsigned exponent = d[1] >> 3, mantissa = d[1] & 7;
    if (10 + exponent > kLargestWindowLog) return {};
    const std::uint64_t base = std::uint64_t{1} << (10 + exponent);
    window = base + (base / 8) * mantissa;
  } else {
    const std::uint8_t* c = d + size - ContentSizeBytes(descriptor);
    switch (descriptor >> 6) {
      case 0:
        window = c[0];
        break;
      case 1:
        window = std::uint64_t{Le16(c)} + 256;
        break;
      case 2:
        window = Le32(c);
        break;
      default:
        window = Le64(c);
        break;
    }
  }
  return {size, std::min(window, kLargestBlock), (descriptor & 0x04) != 0};
}

/// A block header: its kind (raw, RLE, compressed; not the reserved one) and the bytes of its body
/// (one for RLE), which may not exceed the frame's largest block.
struct BlockHeader {
  bool valid = false, last = false;
  std::uint64_t body = 0;
};

BlockHeader ReadBlockHeader(const std::uint8_t* d, std::uint64_t largest_block) {
  const std::uint32_t header = d[0] | (d[1] << 8) | (std::uint32_t{d[2]} << 16);
  const unsigned type = (header >> 1) & 3;
  const std::uint64_t size = header >> 3;
  if (type == 3 || size > largest_block) return {};
  return {true, (header & 1) != 0, type == 1 ? 1 : size};
}

/// Walks frames by their block headers without decompressing: each block by its size, then the
/// frame's checksum. Frames and skippable frames that follow at once belong to the file.
class ZstdFinder final : public RecordWalker {
 public:
  ZstdFinder() : RecordWalker(kLongestFrameHeader) { Gather(4); }

  EndVerdict Finish(std::uint64_t fed) override {
    return phase_ == Phase::kMagic && pending_end_ > 0 && fed >= pending_end_ ? EndsAt(pending_end_)
                                                                              : BrokenAt(fed);
  }

 private:
  enum class Phase { kMagic, kFrameHeader, kBlock, kSkippableSize };

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    switch (phase_) {
      case Phase::kMagic: {
        // The last frame is whole here: another one follows, or the file ends.
        const std::uint32_t magic = Le32(r);
        if (magic == kFrameMagic) {
          phase_ = Phase::kFrameHeader;
          Gather(1);
          return NeedMore();
        }
        if (IsSkippable(magic)) {
          phase_ = Phase::kSkippableSize;
          Gather(4);
          return NeedMore();
        }
        return pending_end_ > 0 ? EndsAt(pending_end_) : BrokenAt(at);
      }
      case Phase::kFrameHeader: {
        if (size == 1) {
          Extend(FrameHeaderSize(r[0]));
          return NeedMore();
        }
        const FrameHeader header = ReadFrameHeader(r);
        if (header.size == 0) return BrokenAt(at - 4);
        largest_block_ = header.largest_block;
        checksum_ = header.checksum;
        phase_ = Phase::kBlock;
        Gather(3);
        return NeedMore();
      }
      case Phase::kBlock: {
        const BlockHeader block = ReadBlockHeader(r, largest_block_);
        if (!block.valid) return BrokenAt(at);
        if (!block.last) {
          Gather(3, block.body);
          return NeedMore();
        }
        const std::uint64_t rest = block.body + (checksum_ ? 4 : 0);
        pending_end_ = at + 3 + rest;
        phase_ = Phase::kMagic;
        Gather(4, rest);
        return NeedMore();
      }
      case Phase::kSkippableSize:
        pending_end_ = at + 4 + Le32(r);
        phase_ = Phase::kMagic;
        Gather(4, Le32(r));
        return NeedMore();
    }
    return BrokenAt(at);
  }

  Phase phase_ = Phase::kMagic;
  std::uint64_t largest_block_ = 0;
  bool checksum_ = false;
  std::uint64_t pending_end_ = 0;  ///< the end of the last frame begun, once its size is known
};

/// The literals section that opens the first compressed block of a frame fits the block: its
/// sizes within the block and 128 KiB, and no Huffman tree taken from a block before it.
bool FirstLiteralsFit(const std::uint8_t* d, std::size_t available, std::uint64_t block) {
  if (available < 5) return true;
  const unsigned type = d[0] & 3, format = (d[0] >> 2) & 3;
  if (type == 3) return false;
  std::uint64_t regenerated = 0, compressed = 0, header = 0;
  if (type < 2) {
    if ((format & 1) == 0) {
      regenerated = d[0] >> 3, header = 1;
    } else if (format == 1) {
      regenerated = (d[0] >> 4) | (std::uint64_t{d[1]} << 4), header = 2;
    } else {
      regenerated = (d[0] >> 4) | (std::uint64_t{d[1]} << 4) | (std::uint64_t{d[2]} << 12);
      header = 3;
    }
    compressed = type == 0 ? regenerated : 1;
  } else {
    const std::uint64_t bits = Le32(d) >> 4;
    const unsigned width = format < 2 ? 10 : format == 2 ? 14 : 18;
    regenerated = bits & ((std::uint64_t{1} << width) - 1);
    compressed = (bits >> width) | (format == 3 ? std::uint64_t{d[4]} << (28 - width) : 0);
    compressed &= (std::uint64_t{1} << width) - 1;
    header = format < 2 ? 3 : format == 2 ? 4 : 5;
  }
  return regenerated <= 128 * 1024 && header + compressed <= block;
}

/// A frame's magic, header and block headers as far as they are seen; or skippable frames ending
/// (within the bytes seen) where a frame's magic begins.
bool ZstdStart(const std::uint8_t* d, std::size_t available) {
  std::size_t at = 0;
  for (int skipped = 0; skipped < 4; ++skipped) {
    if (at + 8 > available || !IsSkippable(Le32(d + at))) break;
    const std::uint64_t next = at + 8 + std::uint64_t{Le32(d + at + 4)};
    if (next + 4 > available) return false;
    at = static_cast<std::size_t>(next);
  }
  if (at + 5 > available || Le32(d + at) != kFrameMagic) return false;
  at += 4;
  // Files are written without a dictionary: one is needed to read them back at all.
  if ((d[at] & 3) != 0 || at + FrameHeaderSize(d[at]) + 3 > available) return false;
  const FrameHeader header = ReadFrameHeader(d + at);
  if (header.size == 0) return false;
  at += header.size;
  if (const std::uint32_t first = d[at] | (d[at + 1] << 8) | (std::uint32_t{d[at + 2]} << 16);
      ((first >> 1) & 3) == 2 && !FirstLiteralsFit(d + at + 3, available - at - 3, first >> 3))
    return false;
  while (at + 3 <= available) {
    const BlockHeader block = ReadBlockHeader(d + at, header.largest_block);
    if (!block.valid) return false;
    if (block.last) break;
    at += 3 + static_cast<std::size_t>(block.body);
  }
  return true;
}

std::unique_ptr<EndFinder> ZstdEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<ZstdFinder>();
}

}  // namespace

extern const FileKind kZstdKind;
const FileKind kZstdKind{
    .tag = "ZST",
    .description = "Zstandard compressed file",
    .check = ZstdStart,
    .make_finder = ZstdEnd,
    .first_bytes = "\x28\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5A\x5B\x5C\x5D\x5E\x5F"};
