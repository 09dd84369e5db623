#pragma once

#include "disk/bad_sector_map.h"
#include "disk/cancel_token.h"
#include "disk/sector_reader.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

/// How hard a failing disk is read.
struct RescuePolicy {
  int retry_passes = 2;                        ///< passes over skipped areas; 0: none
  std::uint64_t first_skip_bytes = 64 * 1024;  ///< skipped after the first failure
  std::uint64_t max_skip_bytes = 16 << 20;     ///< the skip doubles up to this
  std::uint64_t lost_run_bytes = 64ull << 20;  ///< failures in a row before the source is doubted
};

/// What a fast-pass read delivered.
struct ForwardRead {
  std::vector<SectorRange> unread;  ///< sectors of the request left as zeros, in LBA order
  bool lost = false;                ///< the source is gone; nothing more will read
  std::string lost_reason;
};

/// What the retry passes did.
struct RescueStats {
  std::uint64_t skipped = 0;     ///< sectors passed over in the fast pass
  std::uint64_t retried = 0;     ///< sectors tried again in the retry passes
  std::uint64_t recovered = 0;   ///< of those, sectors that read
  std::uint64_t unreadable = 0;  ///< sectors that did not read in the end
  bool lost = false;
  std::string lost_reason;
};

/// Reads a disk that may be failing the way a careful rescue does: the readable areas
/// first, skipping ahead past failures, then the skipped areas narrowed down to single
/// logical blocks. Sectors that do not read are kept in a BadSectorMap and never read
/// again. Safe to call from several threads at once.
class RescueReader {
 public:
  RescueReader(SectorReader& reader, BadSectorMap& map, RescuePolicy policy = {});

  /// The fast pass over bytes [offset, offset + size), both multiples of 512. Never
  /// reads sector by sector and never reads the sectors the map names; unread sectors
  /// are zeros in `buffer`. Reads go through the page cache until the first failure.
  ForwardRead ReadForward(std::uint64_t offset, void* buffer, std::size_t size);

  /// Called with runs of sectors that read in a retry pass, in ascending LBA order.
  using SectorsRead = std::function<void(std::uint64_t lba, std::span<const std::uint8_t> sectors)>;

  /// The retry passes over the skipped areas: what reads is handed to `sectors_read` and
  /// leaves the map; what still fails after the last pass is marked bad.
  RescueStats Retry(const CancelToken& cancel, const SectorsRead& sectors_read);

  /// For saving: reads every byte of [offset, offset + size). Sectors the map names and
  /// logical blocks that fail one uncached retry are zeros, counted in `zeroed_sectors`
  /// and marked bad. False, with `lost_reason`, when the source is gone.
  bool ReadFilling(std::uint64_t offset, void* buffer, std::size_t size,
                   std::uint64_t& zeroed_sectors, std::string& lost_reason);

  /// Empty while the source answers; else why it is taken as gone.
  [[nodiscard]] std::string LostReason() const;
  [[nodiscard]] std::uint64_t SkippedSectors() const;
  [[nodiscard]] const RescuePolicy& Policy() const { return policy_; }

 private:
  struct Narrowing;
  /// Notes a good read of sectors [lba, lba + count).
  void ReadGood(std::uint64_t lba, std::uint64_t count);
  /// Notes a failed read; returns the reason when the evidence says the source is gone.
  std::string ReadFailed(int error, std::uint64_t failed_bytes);
  /// Whether the source is gone, from what the system says and a probe of known sectors.
  std::string Probe(int error);
  std::string SetLost(std::string reason);

  SectorReader& reader_;
  BadSectorMap& map_;
  RescuePolicy policy_;
  std::uint32_t block_sectors_;  ///< 512-byte sectors per logical block

  mutable std::mutex mutex_;
  std::uint64_t skip_bytes_;
  const std::uint64_t first_skip_sectors_;
  std::uint64_t failed_run_bytes_ = 0;
  std::uint64_t skipped_sectors_ = 0;
  std::vector<std::uint64_t> good_lbas_;  ///< the first and the latest sector that read
  std::string lost_reason_;
  /// The first sector a fast-pass read found the source gone at.
  std::atomic<std::uint64_t> lost_from_{~std::uint64_t{0}};
  std::atomic<bool> seen_failure_{false};  ///< the fast pass reads around the page cache
};
