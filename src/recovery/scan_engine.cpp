#include "recovery/scan_engine.h"

#include "detect/file_detect.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

/// Sectors read past a chunk's end so that the detector sees the disk's real bytes
/// where it looks beyond the chunk's last sector.
constexpr std::uint32_t kOverlapSectors = 4;
static_assert(kOverlapSectors * kSectorSize >= kDetectReadExtent - kSectorSize);
constexpr std::size_t kBufferBytes = (kChunkSectors + kOverlapSectors) * kSectorSize;
/// Chunks are read in pieces of this size, small enough to stay in cache until examined.
constexpr std::size_t kPieceBytes = 128 * 1024;
/// How many chunks the workers may run ahead of the scan.
constexpr std::uint64_t kRunAhead = 8;

struct Hit {
  std::uint32_t sector;  ///< index within the chunk
  std::uint8_t row;
};

/// What a worker learned about one chunk.
struct ChunkResult {
  bool ready = false;
  std::uint32_t valid = 0;  ///< sectors examined, from the chunk's start
  std::uint64_t unreadable = 0;
  bool lost = false;  ///< the source vanished or ended inside this chunk
  std::string error;
  std::vector<Hit> hits;
};

std::string LostMessage(int error, std::uint64_t lba) {
  if (error != 0) return std::strerror(error);
  return "The disk ended at sector " + std::to_string(lba);
}

/// Reads chunks and runs the detector over them on worker threads, ahead of the scan
/// that applies the finds in disk order.
class ChunkPipeline {
 public:
  ChunkPipeline(SectorReader& reader, std::uint64_t total_sectors, std::atomic<bool>& pause,
                int workers)
      : reader_(reader),
        total_(total_sectors),
        chunks_((total_sectors + kChunkSectors - 1) / kChunkSectors),
        pause_(pause),
        slots_(kRunAhead) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~ChunkPipeline() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    for (auto& t : threads_) t.join();
  }
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  [[nodiscard]] std::uint64_t Chunks() const { return chunks_; }

  /// Waits for chunk `c` (handed out in order) and takes its result.
  ChunkResult Take(std::uint64_t c) {
    std::unique_lock lock(mutex_);
    ChunkResult& slot = slots_[c % kRunAhead];
    changed_.wait(lock, [&] { return slot.ready; });
    ChunkResult result = std::move(slot);
    slot = ChunkResult{};
    consumed_ = c + 1;
    lock.unlock();
    changed_.notify_all();
    return result;
  }

 private:
  void Work() {
    auto buffer = std::make_unique<std::uint8_t[]>(kBufferBytes);
    for (;;) {
      std::uint64_t c;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(
            lock, [&] { return closing_ || next_ >= chunks_ || next_ < consumed_ + kRunAhead; });
        if (closing_ || next_ >= chunks_) return;
        c = next_++;
      }
      ChunkResult result = Examine(c, buffer.get());
      {
        std::lock_guard lock(mutex_);
        result.ready = true;
        slots_[c % kRunAhead] = std::move(result);
      }
      changed_.notify_all();
    }
  }

  [[nodiscard]] bool Stopping() {
    if (pause_.load(std::memory_order_relaxed)) return true;
    std::lock_guard lock(mutex_);
    return closing_;
  }

  /// Reads chunk `c` into `buffer` and runs the detector over each of its sectors. The
  /// chunk arrives in pieces, each examined while it is still in the processor's cache.
  ChunkResult Examine(std::uint64_t c, std::uint8_t* buffer) {
    ChunkResult result;
    const std::uint64_t first = c * kChunkSectors;
    const auto n =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSectors, total_ - first));
    const auto extra =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kOverlapSectors, total_ - first - n));
    const std::size_t want = std::size_t{n + extra} * kSectorSize;
    std::memset(buffer + want, 0, kBufferBytes - want);
    result.valid = n;
    std::uint32_t examined = 0;
    std::size_t have = 0;
    while (have < want) {
      const std::size_t piece = std::min(kPieceBytes, want - have);
      const ReadResult r = reader_.ReadAt(first * kSectorSize + have, buffer + have, piece);
      have += r.bytes;
      if (r.bytes < piece) {
        Recover(first, n, extra, {have, r.error}, buffer, result);
        break;
      }
      // Sectors whose every byte the detector may read has arrived.
      const std::uint32_t ready =
          have == want ? n
                       : static_cast<std::uint32_t>(
                             have >= std::size_t{kDetectReadExtent}
                                 ? (have - std::size_t{kDetectReadExtent}) / kSectorSize + 1
                                 : 0);
      Detect(buffer, examined, std::min(ready, n), result);
      examined = std::max(examined, std::min(ready, n));
    }
    Detect(buffer, examined, result.valid, result);
    return result;
  }

  void Detect(const std::uint8_t* buffer, std::uint32_t from, std::uint32_t to,
              ChunkResult& result) {
    std::string tag;
    for (std::uint32_t s = from; s < to; ++s) {
      if (!DetectFileType(buffer + std::size_t{s} * kSectorSize, kSectorSize, tag, 255)) continue;
      const int row = FindFileType(tag);
      if (row >= 0) result.hits.push_back({s, static_cast<std::uint8_t>(row)});
    }
  }

  /// A chunk read fell short: reads what is missing sector by sector. Sectors that
  /// still fail stay zero and count as unreadable; a vanished source ends the chunk.
  void Recover(std::uint64_t first, std::uint32_t n, std::uint32_t extra, const ReadResult& r,
               std::uint8_t* buffer, ChunkResult& result) {
    const auto delivered = static_cast<std::uint32_t>(r.bytes / kSectorSize);
    std::memset(buffer + std::size_t{delivered} * kSectorSize, 0,
                kBufferBytes - std::size_t{delivered} * kSectorSize);
    for (std::uint32_t s = delivered; s < n + extra; ++s) {
      if (s < n && Stopping()) {
        result.valid = s;
        return;
      }
      std::uint8_t* sector = buffer + std::size_t{s} * kSectorSize;
      const ReadResult one = reader_.ReadAt((first + s) * kSectorSize, sector, kSectorSize);
      if (one.bytes == kSectorSize) continue;
      std::memset(sector, 0, kSectorSize);
      if (s >= n) continue;  // a look-ahead sector; its own chunk will count it
      if (IsSourceLost(one.error) || (one.error == 0 && one.bytes == 0)) {
        result.valid = s;
        result.lost = true;
        result.error = LostMessage(one.error, first + s);
        return;
      }
      ++result.unreadable;
    }
  }

  SectorReader& reader_;
  const std::uint64_t total_;
  const std::uint64_t chunks_;
  std::atomic<bool>& pause_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ChunkResult> slots_;
  std::uint64_t next_ = 0;
  std::uint64_t consumed_ = 0;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

int WorkerCount(const ScanOptions& options) {
  if (options.workers > 0) return options.workers;
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(cores, 1u, 4u));
}

/// The scan's own state: the open record and the counts, applied in disk order.
class Scan {
 public:
  Scan(FoundTypeRows& rows, ScanObserver& observer) : rows_(rows), observer_(observer) {}

  /// A file of row `row` starts at `lba`: the open record closes there.
  void FileStart(std::uint64_t lba, int row) {
    ++summary.files_found;
    CloseOpenRecord(lba);
    open_ = TfileExt{lba, 0, static_cast<std::uint8_t>(row)};
    observer_.FileStartFound(row, rows_[row].Count() + 1, summary.files_found);
  }

  /// The end steps' first half: the open record is filed, sized up to the first sector
  /// not examined.
  void CloseOpenRecord(std::uint64_t end_lba) {
    if (!open_) return;
    open_->Size = (end_lba - open_->LBA) * kSectorSize;
    rows_[open_->Type].Append(*open_);
    observer_.RecordAppended(open_->Type, *open_);
    open_.reset();
  }

  ScanSummary summary;

 private:
  FoundTypeRows& rows_;
  ScanObserver& observer_;
  std::optional<TfileExt> open_;
};

}  // namespace

ScanSummary ScanDisk(SectorReader& reader, DiskInfo& disk, FoundTypeRows& rows,
                     std::atomic<bool>& pause, ScanObserver& observer, const ScanOptions& options) {
  using Clock = std::chrono::steady_clock;
  const auto started = Clock::now();
  Scan scan(rows, observer);
  ScanSummary& summary = scan.summary;
  summary.total_sectors = disk.SectorCount();
  disk.SetScanStarted(std::chrono::system_clock::now());
  observer.ScanStarted(summary.total_sectors);

  auto finish = [&] {
    scan.CloseOpenRecord(summary.examined);
    pause.store(false);
    summary.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  };
  try {
    ChunkPipeline pipeline(reader, summary.total_sectors, pause, WorkerCount(options));
    const std::uint64_t whole_chunks = summary.total_sectors / kChunkSectors;
    std::optional<Clock::time_point> last_display;
    for (std::uint64_t c = 0; c < pipeline.Chunks(); ++c) {
      const std::uint64_t first = c * kChunkSectors;
      if (pause.load()) {
        summary.reason = ScanEnd::kStopped;
        break;
      }
      if (const auto now = Clock::now();
          !last_display || now - *last_display > options.display_interval) {
        last_display = now;
        observer.CurrentSector(first);
      }
      ChunkResult chunk = pipeline.Take(c);
      bool stopped = false;
      for (const Hit& hit : chunk.hits) {
        scan.FileStart(first + hit.sector, hit.row);
        if (pause.load()) {
          summary.examined = first + hit.sector + 1;
          stopped = true;
          break;
        }
      }
      summary.unreadable += chunk.unreadable;
      if (stopped) {
        summary.reason = ScanEnd::kStopped;
        break;
      }
      summary.examined = first + chunk.valid;
      if (chunk.lost) {
        summary.reason = ScanEnd::kSourceLost;
        summary.error = chunk.error;
        break;
      }
      if (chunk.valid < kChunkSectors && first + chunk.valid < summary.total_sectors) {
        summary.reason = ScanEnd::kStopped;  // the worker saw Pause while retrying sectors
        break;
      }
      if (c < whole_chunks) observer.ChunkDone(c, whole_chunks);
    }
    observer.CurrentSector(summary.examined);
  } catch (...) {
    finish();
    throw;
  }
  finish();
  observer.ScanEnded(summary);
  return summary;
}

ScanSummary ScanDrive(const DriveTable& table, DiskInfo& disk, FoundTypeRows& rows,
                      std::atomic<bool>& pause, ScanObserver& observer,
                      const ScanOptions& options) {
  std::string err;
  auto reader = table.Open(disk.DriveNumber(), &err);
  if (!reader) {
    ScanSummary summary;
    summary.reason = ScanEnd::kCannotOpen;
    summary.error = err;
    summary.total_sectors = disk.SectorCount();
    pause.store(false);
    observer.ScanEnded(summary);
    return summary;
  }
  return ScanDisk(*reader, disk, rows, pause, observer, options);
}
