#pragma once

#include "disk/bad_sector_map.h"
#include "disk/cancel_token.h"
#include "disk/disk_info.h"
#include "disk/drive_table.h"
#include "disk/sector_reader.h"
#include "recovery/found_type_list.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

/// Sectors per scan chunk: one 1 MiB read.
inline constexpr std::uint32_t kChunkSectors = 2048;

/// Why a scan ended.
enum class ScanEnd {
  kCompleted,   ///< every sector was examined
  kStopped,     ///< the stop request was seen
  kSourceLost,  ///< the disk vanished or ended early while being read
  kCannotOpen,  ///< the disk could not be opened at all; nothing was examined
};

struct ScanSummary {
  ScanEnd reason = ScanEnd::kCompleted;
  std::string error;                ///< why, for kSourceLost and kCannotOpen
  std::uint64_t total_sectors = 0;  ///< the sectors the scan covers
  std::uint64_t examined = 0;       ///< sectors examined; also the first LBA not examined
  std::uint64_t unreadable = 0;     ///< sectors that could not be read and counted as blank
  std::uint64_t skipped = 0;        ///< sectors passed over after a read error, before retrying
  std::uint64_t retried = 0;        ///< sectors read again by the retry passes
  std::uint64_t files_found = 0;
  double seconds = 0;
};

/// How a front end follows a scan. Every call comes from the thread that runs ScanDisk.
class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  virtual void ScanStarted(std::uint64_t /*total_sectors*/) {}
  /// The LBA about to be examined; at most once per display interval.
  virtual void CurrentSector(std::uint64_t /*lba*/) {}
  /// Whole chunk `chunk` (zero-based) of `chunks` is done.
  virtual void ChunkDone(std::uint64_t /*chunk*/, std::uint64_t /*chunks*/) {}
  /// A file of row `row` starts; `row_count` counts the still-open record too.
  virtual void FileStartFound(int /*row*/, std::size_t /*row_count*/, std::uint64_t /*found*/) {}
  /// A record was appended to row `row` and is now visible in it. Records come in disk
  /// order; the retry passes may still size again the ones that end near skipped sectors.
  virtual void RecordAppended(int /*row*/, const TfileExt& /*file*/) {}
  /// Sectors from `lba` on (in the chunk about to be examined) did not read at first and
  /// will be tried again after the pass; told before the chunk's file starts.
  virtual void SectorsSkipped(std::uint64_t /*lba*/) {}
  virtual void ScanEnded(const ScanSummary& /*summary*/) {}
};

struct ScanOptions {
  /// Threads that read and examine chunks ahead of the scan; 0: one per core, at most 4.
  int workers = 0;
  std::chrono::milliseconds display_interval{100};
  /// Check each start more closely and end each file where its format says; off, every
  /// file runs to the next start.
  bool real_ends = false;
  /// With real ends, a file still being followed at this many bytes ends there; 0: no limit.
  std::uint64_t size_limit = 0;
  /// Passes over the sectors skipped after read errors, once the rest is read; 0: none,
  /// the skipped sectors count as unreadable.
  int retry_passes = 2;
  /// Sectors known not to read: never read again, and what this scan learns is added.
  /// Null: the scan keeps a map of its own.
  BadSectorMap* bad_map = nullptr;
};

/// Walks `disk.SectorCount()` sectors of `reader` from LBA 0, files every file start
/// under its row of `rows` and closes each found file at the next start (or, with real
/// ends, where its format ends). Stops before the next sector once `cancel` is set.
/// Unreadable sectors count as blank and the scan goes on. Rethrows what the observer
/// throws, after the end steps.
ScanSummary ScanDisk(SectorReader& reader, DiskInfo& disk, FoundTypeRows& rows,
                     const CancelToken& cancel, ScanObserver& observer,
                     const ScanOptions& options = {});

/// Opens drive `disk.DriveNumber()` of `table` for a scan. A drive that cannot be opened ends
/// the scan at once: `observer` is told it ended with kCannotOpen and the reason, which
/// `*failed` holds too, and null is returned.
std::unique_ptr<SectorReader> OpenDriveForScan(const DriveTable& table, const DiskInfo& disk,
                                               ScanObserver& observer, ScanSummary* failed);

/// Opens drive `disk.DriveNumber()` of `table` and scans it; a drive that cannot be
/// opened ends the scan at once with kCannotOpen and the reason.
ScanSummary ScanDrive(const DriveTable& table, DiskInfo& disk, FoundTypeRows& rows,
                      const CancelToken& cancel, ScanObserver& observer,
                      const ScanOptions& options = {});
