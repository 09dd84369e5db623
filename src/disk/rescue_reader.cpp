#include "disk/rescue_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::uint64_t kSector = 512;
/// The largest single read of the retry passes.
constexpr std::uint64_t kRetryPieceSectors = 2048;
/// Failed reads in a row, none of them good, after which the source is probed.
constexpr std::uint64_t kProbeAfterFailures = 256;

std::string EndedAt(std::uint64_t lba) {
  return "The disk ended at sector " + std::to_string(lba);
}

}  // namespace

RescueReader::RescueReader(SectorReader& reader, BadSectorMap& map, RescuePolicy policy)
    : reader_(reader),
      map_(map),
      policy_(policy),
      block_sectors_(std::max<std::uint32_t>(1, reader.LogicalSectorSize() / 512)),
      skip_bytes_(std::max<std::uint64_t>(policy.first_skip_bytes, kSector)),
      first_skip_sectors_(skip_bytes_ / kSector) {
  policy_.max_skip_bytes = std::max(policy_.max_skip_bytes, skip_bytes_);
}

std::string RescueReader::LostReason() const {
  std::lock_guard lock(mutex_);
  return lost_reason_;
}

std::uint64_t RescueReader::SkippedSectors() const {
  std::lock_guard lock(mutex_);
  return skipped_sectors_;
}

std::string RescueReader::SetLost(std::string reason) {
  std::lock_guard lock(mutex_);
  if (lost_reason_.empty()) lost_reason_ = std::move(reason);
  return lost_reason_;
}

void RescueReader::ReadGood(std::uint64_t lba, std::uint64_t count) {
  if (count == 0) return;
  std::lock_guard lock(mutex_);
  failed_run_bytes_ = 0;
  skip_bytes_ = std::max<std::uint64_t>(policy_.first_skip_bytes, kSector);
  if (good_lbas_.empty()) good_lbas_.push_back(lba);
  if (good_lbas_.size() < 2)
    good_lbas_.push_back(lba + count - 1);
  else
    good_lbas_[1] = lba + count - 1;
}

std::string RescueReader::ReadFailed(int error, std::uint64_t failed_bytes) {
  if (IsSourceLost(error)) return SetLost(std::strerror(error));
  if (std::string why = reader_.CheckPresent(); !why.empty()) return SetLost(std::move(why));
  bool probe = false;
  {
    std::lock_guard lock(mutex_);
    failed_run_bytes_ += failed_bytes;
    probe = failed_run_bytes_ >= policy_.lost_run_bytes;
  }
  return probe ? Probe(error) : std::string();
}

std::string RescueReader::Probe(int error) {
  std::vector<std::uint64_t> lbas;
  {
    std::lock_guard lock(mutex_);
    lbas = good_lbas_;
    failed_run_bytes_ = 0;
  }
  if (lbas.empty()) return {};  // nothing ever read: a dead area, not a gone source
  const std::size_t block = std::size_t{block_sectors_} * kSector;
  std::vector<std::uint8_t> buffer(block);
  for (const std::uint64_t lba : lbas) {
    const std::uint64_t first = lba / block_sectors_ * block_sectors_;
    if (reader_.ReadUncached(first * kSector, buffer.data(), block).bytes == block) return {};
  }
  return SetLost("The disk stopped answering: sector " + std::to_string(lbas.front()) +
                 ", which read before, fails now (" + std::strerror(error ? error : EIO) + ")");
}

ForwardRead RescueReader::ReadForward(std::uint64_t offset, void* buffer, std::size_t size) {
  ForwardRead out;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::uint64_t start = offset / kSector;
  const std::uint64_t end = start + size / kSector;
  const std::uint64_t source_end = (reader_.SizeBytes() + kSector - 1) / kSector;
  auto leave = [&](std::uint64_t first, std::uint64_t last, SectorState state) {
    std::memset(bytes + (first - start) * kSector, 0, (last - first) * kSector);
    if (!out.unread.empty() && out.unread.back().end == first && out.unread.back().state == state)
      out.unread.back().end = last;
    else
      out.unread.push_back({first, last, state});
  };
  auto lose = [&](std::uint64_t from, std::string reason) {
    out.lost = true;
    out.lost_reason = SetLost(std::move(reason));
    lost_from_.store(std::min(lost_from_.load(), from));
    if (from < end) leave(from, end, SectorState::kSkipped);
    return out;
  };
  // Reads run ahead on several threads: a loss seen further on does not stop a read of
  // sectors before it, which tries the disk for itself.
  if (std::string why = LostReason(); !why.empty() && start >= lost_from_.load())
    return lose(start, why);

  std::uint64_t pos = start;
  bool failed = false;
  while (pos < end) {
    const auto known = map_.NextKnown(pos, end);
    if (known && known->first == pos) {
      leave(known->first, known->end, known->state);
      pos = known->end;
      continue;
    }
    std::uint64_t piece_end = known ? known->first : end;
    // Once the disk has failed a read, the page cache would read every readahead window
    // that meets a bad sector again page by page: from then on read around it.
    // Such a read fails as a whole: pieces of the first skip's size keep the failure near
    // the bad sector.
    const bool uncached = failed || seen_failure_.load(std::memory_order_relaxed);
    if (uncached) piece_end = std::min(piece_end, pos + first_skip_sectors_);
    const ReadResult r = uncached
                             ? reader_.ReadUncached(pos * kSector, bytes + (pos - start) * kSector,
                                                    (piece_end - pos) * kSector)
                             : reader_.ReadAt(pos * kSector, bytes + (pos - start) * kSector,
                                              (piece_end - pos) * kSector);
    const std::uint64_t good = r.bytes / kSector;
    ReadGood(pos, good);
    pos += good;
    if (pos == piece_end) continue;
    if (r.error == 0) {
      if (pos >= source_end) {  // past the end of the source: nothing to read there
        std::memset(bytes + (pos - start) * kSector, 0, (end - pos) * kSector);
        break;
      }
      return lose(pos, EndedAt(pos));
    }
    failed = true;
    seen_failure_.store(true, std::memory_order_relaxed);
    std::uint64_t skip = 0;
    {
      std::lock_guard lock(mutex_);
      skip = std::min(std::max<std::uint64_t>(skip_bytes_ / kSector, 1), piece_end - pos);
      skip_bytes_ = std::min(skip_bytes_ * 2, policy_.max_skip_bytes);
      skipped_sectors_ += skip;
      failed_run_bytes_ += skip * kSector;
    }
    map_.Mark(pos, pos + skip, SectorState::kSkipped);
    leave(pos, pos + skip, SectorState::kSkipped);
    pos += skip;
    if (std::string why = ReadFailed(r.error, 0); !why.empty()) return lose(pos, why);
  }
  return out;
}

/// One retry pass over one skipped range.
struct RescueReader::Narrowing {
  RescueReader& rescue;
  const CancelToken& cancel;
  const SectorsRead& sectors_read;
  RescueStats& stats;
  bool bisect;     ///< first pass: halve failing ranges; later: block by block
  bool last_pass;  ///< blocks that fail now are bad
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kRetryPieceSectors * kSector);
  std::uint64_t failures_in_row = 0;

  [[nodiscard]] bool Stopped() const { return cancel.Cancelled() || stats.lost; }

  void Lost(std::string reason) {
    stats.lost = true;
    stats.lost_reason = std::move(reason);
  }

  /// Tries sectors [first, end), at most one retry piece long.
  void Try(std::uint64_t first, std::uint64_t end) {
    if (Stopped()) return;
    SectorReader& reader = rescue.reader_;
    const ReadResult r =
        reader.ReadUncached(first * kSector, buffer.data(), (end - first) * kSector);
    const std::uint64_t good = std::min(r.bytes / kSector, end - first);
    if (good > 0) {
      failures_in_row = 0;
      rescue.ReadGood(first, good);
      rescue.map_.MarkGood(first, first + good);
      stats.recovered += good;
      if (sectors_read)
        sectors_read(first, std::span<const std::uint8_t>(buffer.data(), good * kSector));
      first += good;
    }
    if (first == end) return;
    if (r.error == 0) {
      if (first * kSector >= reader.SizeBytes()) return;
      return Lost(rescue.SetLost(EndedAt(first)));
    }
    const std::uint64_t k = rescue.block_sectors_;
    const bool one_block = first / k == (end - 1) / k;
    if (one_block || !bisect) ++failures_in_row;
    std::string why =
        rescue.ReadFailed(r.error, one_block || !bisect ? (end - first) * kSector : 0);
    if (why.empty() && failures_in_row >= kProbeAfterFailures) {
      failures_in_row = 0;
      why = rescue.Probe(r.error);
    }
    if (!why.empty()) return Lost(why);
    if (one_block || !bisect) {
      if (last_pass) rescue.map_.Mark(first, end, SectorState::kBad);
      return;
    }
    std::uint64_t mid = (first + (end - first) / 2) / k * k;
    if (mid <= first) mid = (first / k + 1) * k;
    Try(first, mid);
    Try(mid, end);
  }

  void Range(const SectorRange& range) {
    const std::uint64_t k = rescue.block_sectors_;
    const std::uint64_t step = bisect ? kRetryPieceSectors : k;
    for (std::uint64_t a = range.first; a < range.end && !Stopped();) {
      const std::uint64_t b = std::min(range.end, (a / step + 1) * step);
      Try(a, b);
      a = b;
    }
  }
};

RescueStats RescueReader::Retry(const CancelToken& cancel, const SectorsRead& sectors_read) {
  RescueStats stats;
  if (std::string why = LostReason(); !why.empty()) {
    stats.lost = true;
    stats.lost_reason = why;
  }
  for (int pass = 0; pass < policy_.retry_passes && !stats.lost && !cancel.Cancelled(); ++pass) {
    const std::vector<SectorRange> ranges = map_.Ranges(SectorState::kSkipped);
    if (ranges.empty()) break;
    Narrowing narrowing{*this, cancel,    sectors_read,
                        stats, pass == 0, pass + 1 == policy_.retry_passes};
    for (const SectorRange& range : ranges) {
      if (narrowing.Stopped()) break;
      if (pass == 0) stats.retried += range.Count();
      narrowing.Range(range);
    }
  }
  stats.skipped = SkippedSectors();
  stats.unreadable = map_.Count(SectorState::kBad) + map_.Count(SectorState::kSkipped);
  return stats;
}

bool RescueReader::ReadFilling(std::uint64_t offset, void* buffer, std::size_t size,
                               std::uint64_t& zeroed_sectors, std::string& lost_reason) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::uint64_t end_byte = offset + size;
  const std::uint64_t k = block_sectors_;
  if (lost_reason = LostReason(); !lost_reason.empty()) return false;
  // 0: a buffered read; 1: a read around the page cache, which fails only where the
  // disk does; 2: one logical block around the cache. A failure goes one level down, a
  // good read one level up.
  int level = 0;
  constexpr std::uint64_t kUncachedPiece = 64 * 1024;
  std::uint64_t pos = offset;
  while (pos < end_byte) {
    const std::uint64_t lba = pos / kSector;
    const auto known = map_.NextKnown(lba, (end_byte + kSector - 1) / kSector);
    if (known && known->first == lba) {
      const std::uint64_t stop = std::min(end_byte, known->end * kSector);
      std::memset(bytes + (pos - offset), 0, stop - pos);
      zeroed_sectors += known->end - lba;
      pos = stop;
      continue;
    }
    std::uint64_t piece_end = known ? std::min(end_byte, known->first * kSector) : end_byte;
    if (level == 1) piece_end = std::min(piece_end, pos + kUncachedPiece);
    if (level == 2) piece_end = std::min(piece_end, (lba / k + 1) * k * kSector);
    const ReadResult r = level == 0
                             ? reader_.ReadAt(pos, bytes + (pos - offset), piece_end - pos)
                             : reader_.ReadUncached(pos, bytes + (pos - offset), piece_end - pos);
    if (r.bytes >= kSector) {
      ReadGood(lba, r.bytes / kSector);
      level = std::max(level - 1, 0);
    }
    pos += r.bytes;
    if (pos == piece_end) continue;
    if (r.error == 0) {
      if (pos >= reader_.SizeBytes()) {
        std::memset(bytes + (pos - offset), 0, end_byte - pos);
        return true;
      }
      lost_reason = SetLost(EndedAt(pos / kSector));
      return false;
    }
    if (level < 2) {
      ++level;
      continue;
    }
    if (lost_reason = ReadFailed(r.error, k * kSector); !lost_reason.empty()) return false;
    // The logical block that holds `pos` does not read: zeros, and never again.
    const std::uint64_t block_first = pos / kSector / k * k;
    const std::uint64_t stop = std::min(end_byte, (block_first + k) * kSector);
    std::memset(bytes + (pos - offset), 0, stop - pos);
    zeroed_sectors += (stop + kSector - 1) / kSector - pos / kSector;
    map_.Mark(block_first, block_first + k, SectorState::kBad);
    pos = stop;
    level = 1;
  }
  return true;
}
