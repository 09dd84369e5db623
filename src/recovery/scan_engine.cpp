#include "recovery/scan_engine.h"

#include "detect/file_detect.h"
#include "detect/format_table.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

/// Sectors read past a chunk's end so that the detector, and with real ends the start
/// checks, see the disk's real bytes where they look beyond the chunk's last sector.
constexpr std::uint32_t kOverlapSectors = 4;
static_assert(kOverlapSectors * kSectorSize >= kDetectReadExtent - kSectorSize);
constexpr std::uint32_t kCheckOverlapSectors = 8;
static_assert(kCheckOverlapSectors * kSectorSize >= kStartCheckBytes - kSectorSize);
constexpr std::size_t kBufferBytes = (kChunkSectors + kCheckOverlapSectors) * kSectorSize;
/// Files whose structure is followed at once; past this the oldest runs to the next start.
constexpr std::size_t kMaxFollowed = 256;
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
  /// The chunk's bytes, kept for the end finders when real ends are on.
  std::unique_ptr<std::uint8_t[]> data;
};

std::string LostMessage(int error, std::uint64_t lba) {
  if (error != 0) return std::strerror(error);
  return "The disk ended at sector " + std::to_string(lba);
}

/// Reads chunks and runs the detector over them on worker threads, ahead of the scan
/// that applies the finds in disk order.
class ChunkPipeline {
 public:
  ChunkPipeline(SectorReader& reader, std::uint64_t total_sectors, const CancelToken& cancel,
                int workers, bool real_ends)
      : reader_(reader),
        total_(total_sectors),
        chunks_((total_sectors + kChunkSectors - 1) / kChunkSectors),
        cancel_(cancel),
        real_ends_(real_ends),
        overlap_(real_ends ? kCheckOverlapSectors : kOverlapSectors),
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

  /// Hands a chunk's bytes back for another chunk.
  void Recycle(std::unique_ptr<std::uint8_t[]> buffer) {
    if (!buffer) return;
    std::lock_guard lock(mutex_);
    spare_.push_back(std::move(buffer));
  }

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
    std::unique_ptr<std::uint8_t[]> buffer;
    for (;;) {
      std::uint64_t c;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(
            lock, [&] { return closing_ || next_ >= chunks_ || next_ < consumed_ + kRunAhead; });
        if (closing_ || next_ >= chunks_) return;
        c = next_++;
        if (!buffer && !spare_.empty()) {
          buffer = std::move(spare_.back());
          spare_.pop_back();
        }
      }
      if (!buffer) buffer = std::make_unique<std::uint8_t[]>(kBufferBytes);
      ChunkResult result = Examine(c, buffer.get());
      if (real_ends_) result.data = std::move(buffer);
      {
        std::lock_guard lock(mutex_);
        result.ready = true;
        slots_[c % kRunAhead] = std::move(result);
      }
      changed_.notify_all();
    }
  }

  [[nodiscard]] bool Stopping() {
    if (cancel_.Cancelled()) return true;
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
        static_cast<std::uint32_t>(std::min<std::uint64_t>(overlap_, total_ - first - n));
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
      // Sectors whose every byte the detector (and the start checks) may read has arrived.
      const std::size_t need = real_ends_ ? kStartCheckBytes : std::size_t{kDetectReadExtent};
      const std::uint32_t ready =
          have == want
              ? n
              : static_cast<std::uint32_t>(have >= need ? (have - need) / kSectorSize + 1 : 0);
      Detect(buffer, have, examined, std::min(ready, n), result);
      examined = std::max(examined, std::min(ready, n));
    }
    Detect(buffer, want, examined, result.valid, result);
    return result;
  }

  /// Runs the detector over sectors [from, to) of a buffer holding `have` bytes.
  void Detect(const std::uint8_t* buffer, std::size_t have, std::uint32_t from, std::uint32_t to,
              ChunkResult& result) {
    std::string tag;
    for (std::uint32_t s = from; s < to; ++s) {
      const std::uint8_t* sector = buffer + std::size_t{s} * kSectorSize;
      int row = DetectFileType(sector, kSectorSize, tag, 255) ? FindFileType(tag) : -1;
      if (real_ends_) row = CheckFileStart(row, sector, have - std::size_t{s} * kSectorSize);
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
  const CancelToken& cancel_;
  const bool real_ends_;
  const std::uint32_t overlap_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ChunkResult> slots_;
  std::vector<std::unique_ptr<std::uint8_t[]>> spare_;
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

/// The scan's own state: the files still open and the counts, applied in disk order.
/// A file closes at the next start, or with real ends where its end finder says; files
/// are filed under their rows in the order they start.
class Scan {
 public:
  Scan(FoundTypeRows& rows, ScanObserver& observer, const ScanOptions& options)
      : rows_(rows), observer_(observer), options_(options) {
    for (int k = 0; k < FoundTypeRows::size(); ++k)
      started_[static_cast<std::size_t>(k)] = rows_[k].Count();
  }

  /// A file of row `row` starts at `lba`; `data` holds its first `available` bytes.
  void FileStart(std::uint64_t lba, int row, const std::uint8_t* data, std::size_t available) {
    ++summary.files_found;
    for (OpenFile* f : awaiting_) {
      f->next_start = lba;
      if (!f->finder) Close(*f, (lba - f->record.LBA) * kSectorSize, EndReason::kNextStart);
    }
    awaiting_.clear();
    OpenFile& file = open_.emplace_back();
    file.record = TfileExt{lba, 0, static_cast<std::uint8_t>(row)};
    awaiting_.push_back(&file);
    if (options_.real_ends && data != nullptr) {
      file.finder = MakeEndFinder(row, data, available);
      if (file.finder) {
        followed_.push_back(&file);
        if (followed_.size() > kMaxFollowed) StopFollowing(*followed_.front());
      }
    }
    auto& count = started_[static_cast<std::size_t>(row)];
    observer_.FileStartFound(row, ++count, summary.files_found);
    FileClosedRecords();
  }

  /// Feeds the followed files the bytes of sectors [first, first + sectors) in `data`.
  void Feed(std::uint64_t first, const std::uint8_t* data, std::uint32_t sectors) {
    if (followed_.empty()) return;
    const std::uint64_t begin = first * kSectorSize;
    const std::uint64_t end = begin + std::uint64_t{sectors} * kSectorSize;
    for (OpenFile* f : std::vector<OpenFile*>(followed_)) {
      const std::uint64_t at = f->record.LBA * kSectorSize + f->fed;
      if (at >= end || at < begin) continue;
      std::uint64_t n = end - at;
      if (options_.size_limit > 0) n = std::min(n, options_.size_limit - f->fed);
      const EndVerdict v = f->finder->Feed({data + (at - begin), static_cast<std::size_t>(n)});
      f->fed += n;
      Judge(*f, v);
    }
    FileClosedRecords();
  }

  /// The end steps' first half: every open file is closed at the first sector not
  /// examined; `disk_ended` when that is the disk's end.
  void CloseAll(std::uint64_t end_lba, bool disk_ended) {
    for (OpenFile& f : open_) {
      if (f.closed) continue;
      Close(f, (end_lba - f.record.LBA) * kSectorSize,
            disk_ended ? EndReason::kDiskEnd : EndReason::kNextStart);
    }
    awaiting_.clear();
    FileClosedRecords();
  }

  ScanSummary summary;

 private:
  struct OpenFile {
    TfileExt record;
    std::unique_ptr<EndFinder> finder;  ///< null: the file ends at the next start
    std::uint64_t fed = 0;              ///< bytes the finder has seen
    std::optional<std::uint64_t> next_start;
    bool closed = false;
  };

  void Judge(OpenFile& f, const EndVerdict& v) {
    switch (v.state) {
      case EndVerdict::State::kNeedMore:
        if (options_.size_limit > 0 && f.fed >= options_.size_limit)
          Close(f, options_.size_limit, EndReason::kLimit);
        return;
      case EndVerdict::State::kEnds:
        Close(f, v.end, EndReason::kFormat);
        return;
      case EndVerdict::State::kBroken:
        Close(f, v.end, EndReason::kBroken);
        return;
      case EndVerdict::State::kUnknown:
        StopFollowing(f);
        return;
    }
  }

  /// The format cannot tell this file's end: it runs to the next start after all.
  void StopFollowing(OpenFile& f) {
    Unfollow(f);
    if (f.next_start) Close(f, (*f.next_start - f.record.LBA) * kSectorSize, EndReason::kNextStart);
  }

  void Unfollow(OpenFile& f) {
    if (!f.finder) return;
    f.finder.reset();
    followed_.erase(std::find(followed_.begin(), followed_.end(), &f));
  }

  void Close(OpenFile& f, std::uint64_t size, EndReason reason) {
    Unfollow(f);
    f.record.Size = size;
    f.record.End = reason;
    f.closed = true;
  }

  /// Files the closed records at the front, so each row stays in disk order.
  void FileClosedRecords() {
    while (!open_.empty() && open_.front().closed) {
      const TfileExt& record = open_.front().record;
      rows_[record.Type].Append(record);
      observer_.RecordAppended(record.Type, record);
      open_.pop_front();
    }
  }

  FoundTypeRows& rows_;
  ScanObserver& observer_;
  const ScanOptions& options_;
  std::deque<OpenFile> open_;        ///< in start order; references stay valid at both ends
  std::vector<OpenFile*> followed_;  ///< files whose end finder still reads
  std::vector<OpenFile*> awaiting_;  ///< files that have not yet seen a later start
  std::array<std::size_t, kFileTypeCount> started_{};
};

}  // namespace

ScanSummary ScanDisk(SectorReader& reader, DiskInfo& disk, FoundTypeRows& rows,
                     const CancelToken& cancel, ScanObserver& observer,
                     const ScanOptions& options) {
  using Clock = std::chrono::steady_clock;
  const auto started = Clock::now();
  Scan scan(rows, observer, options);
  ScanSummary& summary = scan.summary;
  summary.total_sectors = disk.SectorCount();
  disk.SetScanStarted(std::chrono::system_clock::now());
  observer.ScanStarted(summary.total_sectors);

  auto finish = [&] {
    scan.CloseAll(summary.examined, summary.reason == ScanEnd::kCompleted);
    summary.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  };
  try {
    ChunkPipeline pipeline(reader, summary.total_sectors, cancel, WorkerCount(options),
                           options.real_ends);
    const std::uint64_t whole_chunks = summary.total_sectors / kChunkSectors;
    std::optional<Clock::time_point> last_display;
    for (std::uint64_t c = 0; c < pipeline.Chunks(); ++c) {
      const std::uint64_t first = c * kChunkSectors;
      if (cancel.Cancelled()) {
        summary.reason = ScanEnd::kStopped;
        break;
      }
      if (const auto now = Clock::now();
          !last_display || now - *last_display > options.display_interval) {
        last_display = now;
        observer.CurrentSector(first);
      }
      ChunkResult chunk = pipeline.Take(c);
      const std::uint8_t* data = chunk.data.get();
      const std::size_t in_buffer = std::min<std::uint64_t>(summary.total_sectors - first,
                                                            kChunkSectors + kCheckOverlapSectors) *
                                    kSectorSize;
      bool stopped = false;
      for (const Hit& hit : chunk.hits) {
        // The stop request is seen before each sector: no find after it is recorded.
        if (cancel.Cancelled()) {
          summary.examined = first + hit.sector;
          stopped = true;
          break;
        }
        const std::size_t at = std::size_t{hit.sector} * kSectorSize;
        scan.FileStart(first + hit.sector, hit.row, data ? data + at : nullptr,
                       data ? in_buffer - at : 0);
        if (cancel.Cancelled()) {
          summary.examined = first + hit.sector + 1;
          stopped = true;
          break;
        }
      }
      summary.unreadable += chunk.unreadable;
      if (!stopped) summary.examined = first + chunk.valid;
      if (data) scan.Feed(first, data, static_cast<std::uint32_t>(summary.examined - first));
      pipeline.Recycle(std::move(chunk.data));
      if (stopped) {
        summary.reason = ScanEnd::kStopped;
        break;
      }
      if (chunk.lost) {
        summary.reason = ScanEnd::kSourceLost;
        summary.error = chunk.error;
        break;
      }
      if (chunk.valid < kChunkSectors && first + chunk.valid < summary.total_sectors) {
        summary.reason = ScanEnd::kStopped;  // the worker saw the stop while retrying sectors
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
                      const CancelToken& cancel, ScanObserver& observer,
                      const ScanOptions& options) {
  std::string err;
  auto reader = table.Open(disk.DriveNumber(), &err);
  if (!reader) {
    ScanSummary summary;
    summary.reason = ScanEnd::kCannotOpen;
    summary.error = err;
    summary.total_sectors = disk.SectorCount();
    observer.ScanEnded(summary);
    return summary;
  }
  return ScanDisk(*reader, disk, rows, cancel, observer, options);
}
