#include "recovery/scan_engine.h"

#include "detect/file_detect.h"
#include "detect/format_table.h"
#include "disk/bulk_memory.h"
#include "disk/rescue_reader.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace {

/// Sectors read past a chunk's end so that the detector, and with real ends the start
/// checks, see the disk's real bytes where they look beyond the chunk's last sector.
constexpr std::uint32_t kOverlapSectors = 4;
static_assert(kOverlapSectors * kSectorSize >= kDetectReadExtent - kSectorSize);
/// With real ends every start check sees 64 KiB from its sector on, wherever in a chunk the
/// sector lies (a compound document's directory, which names its kind, may lie past 4 KiB).
constexpr std::uint32_t kCheckOverlapSectors = 128;
constexpr std::size_t kStartLookBytes = kCheckOverlapSectors * kSectorSize;
static_assert(kStartLookBytes >= kStartCheckBytes);
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
  bool lost = false;        ///< the source vanished or ended inside this chunk
  std::string error;
  std::vector<Hit> hits;
  /// The first sector that did not read at the first try; ~0 when every sector read.
  std::uint64_t first_unread = ~std::uint64_t{0};
  /// The chunk's bytes, kept for the end finders when real ends are on; handed back
  /// with ChunkPipeline::Recycle.
  std::uint8_t* data = nullptr;
};

/// Runs the detector over sectors [from, to) of `buffer`, which holds `have` readable
/// bytes (and zero slack after them), and calls `found(sector, row)` for each start.
/// With real ends each start is checked more closely first.
template <typename Found>
void DetectStarts(const std::uint8_t* buffer, std::size_t have, std::uint32_t from,
                  std::uint32_t to, bool real_ends, Found&& found) {
  std::string tag;
  for (std::uint32_t s = from; s < to; ++s) {
    const std::uint8_t* sector = buffer + std::size_t{s} * kSectorSize;
    int row = DetectFileType(sector, kSectorSize, tag, 255) ? FindFileType(tag) : -1;
    if (real_ends) row = CheckFileStart(row, sector, have - std::size_t{s} * kSectorSize);
    if (row >= 0) found(s, row);
  }
}

/// Reads chunks and runs the detector over them on worker threads, ahead of the scan
/// that applies the finds in disk order.
class ChunkPipeline {
 public:
  ChunkPipeline(SectorReader& reader, RescueReader& rescue, std::uint64_t total_sectors,
                const CancelToken& cancel, int workers, bool real_ends)
      : reader_(reader),
        rescue_(rescue),
        total_(total_sectors),
        chunks_((total_sectors + kChunkSectors - 1) / kChunkSectors),
        cancel_(cancel),
        real_ends_(real_ends),
        overlap_(real_ends ? kCheckOverlapSectors : kOverlapSectors),
        // With real ends a buffer travels with each chunk on its way to the scan: one for
        // every chunk in flight and the one the scan holds. Without, each worker keeps its own.
        buffers_(kBufferBytes * (kRunAhead + 1 + static_cast<std::size_t>(workers))),
        slots_(kRunAhead) {
    for (std::size_t b = 0; b + kBufferBytes <= buffers_.size(); b += kBufferBytes)
      spare_.push_back(buffers_.data() + b);
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
  void Recycle(std::uint8_t* buffer) {
    if (buffer == nullptr) return;
    {
      std::lock_guard lock(mutex_);
      spare_.push_back(buffer);
    }
    changed_.notify_all();
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
    std::uint8_t* buffer = nullptr;
    for (;;) {
      std::uint64_t c;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
          return closing_ || next_ >= chunks_ ||
                 (next_ < consumed_ + kRunAhead && (buffer != nullptr || !spare_.empty()));
        });
        if (closing_ || next_ >= chunks_) return;
        c = next_++;
        if (buffer == nullptr) {
          buffer = spare_.back();  // the most recently used, likeliest still in cache
          spare_.pop_back();
        }
      }
      ChunkResult result = Examine(c, buffer);
      if (real_ends_) result.data = std::exchange(buffer, nullptr);
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
  /// Sectors that do not read stay zero; the rescue reader skips past them and comes
  /// back for them after the scan.
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
    // What the page cache held before the scan stays; what the scan brought in is dropped.
    const bool cached = reader_.IsCached(first * kSectorSize, want);
    std::uint32_t examined = 0;
    std::size_t have = 0;
    while (have < want) {
      const std::size_t piece = std::min(kPieceBytes, want - have);
      const ForwardRead r = rescue_.ReadForward(first * kSectorSize + have, buffer + have, piece);
      if (r.lost) {
        // Nothing past the first sector that did not arrive is examined.
        const std::uint64_t gone =
            r.unread.empty() ? first + have / kSectorSize : r.unread.front().first;
        result.valid = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, gone - first));
        result.lost = true;
        result.error = r.lost_reason;
        std::memset(buffer + std::size_t{result.valid} * kSectorSize, 0,
                    kBufferBytes - std::size_t{result.valid} * kSectorSize);
        Detect(buffer, std::size_t{result.valid} * kSectorSize, examined, result.valid, result);
        return result;
      }
      if (!r.unread.empty())
        result.first_unread = std::min(result.first_unread, r.unread.front().first);
      have += piece;
      // Sectors whose every byte the detector (and the start checks) may read has arrived.
      const std::size_t need = real_ends_ ? kStartLookBytes : std::size_t{kDetectReadExtent};
      const std::uint32_t ready =
          have == want
              ? n
              : static_cast<std::uint32_t>(have >= need ? (have - need) / kSectorSize + 1 : 0);
      Detect(buffer, have, examined, std::min(ready, n), result);
      examined = std::max(examined, std::min(ready, n));
      if (Stopping()) {
        result.valid = examined;
        return result;
      }
    }
    Detect(buffer, want, examined, result.valid, result);
    if (!cached) reader_.Forget(first * kSectorSize, std::uint64_t{n} * kSectorSize);
    return result;
  }

  /// Runs the detector over sectors [from, to) of a buffer holding `have` bytes.
  void Detect(const std::uint8_t* buffer, std::size_t have, std::uint32_t from, std::uint32_t to,
              ChunkResult& result) const {
    DetectStarts(buffer, have, from, to, real_ends_, [&](std::uint32_t s, int row) {
      result.hits.push_back({s, static_cast<std::uint8_t>(row)});
    });
  }

  SectorReader& reader_;
  RescueReader& rescue_;
  const std::uint64_t total_;
  const std::uint64_t chunks_;
  const CancelToken& cancel_;
  const bool real_ends_;
  const std::uint32_t overlap_;

  std::mutex mutex_;
  std::condition_variable changed_;
  BulkMemory buffers_;
  std::vector<ChunkResult> slots_;
  std::vector<std::uint8_t*> spare_;
  std::uint64_t next_ = 0;
  std::uint64_t consumed_ = 0;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

/// The bytes of sectors [first, first + count) and the start-check slack after them, as
/// the retry passes left them: sectors that never read are zeros.
std::vector<std::uint8_t> ReadRescued(RescueReader& rescue, std::uint64_t first,
                                      std::uint64_t count, std::uint64_t total, bool& lost) {
  const std::uint64_t end = std::min(total, first + count + kCheckOverlapSectors);
  std::vector<std::uint8_t> bytes((end - first) * kSectorSize + kDetectReadExtent, 0);
  std::uint64_t zeroed = 0;
  std::string reason;
  lost |= !rescue.ReadFilling(first * kSectorSize, bytes.data(), (end - first) * kSectorSize,
                              zeroed, reason);
  return bytes;
}

/// Works out one record's end again from the disk, as the scan pass would have: its end
/// finder fed from its first byte, else the next start.
void SizeAgain(TfileExt& f, std::uint64_t next_lba, bool next_is_disk_end, RescueReader& rescue,
               std::uint64_t total, const ScanOptions& options, bool& lost) {
  f.Size = (next_lba - f.LBA) * kSectorSize;
  f.End = next_is_disk_end ? EndReason::kDiskEnd : EndReason::kNextStart;
  if (!options.real_ends) return;
  std::vector<std::uint8_t> head = ReadRescued(rescue, f.LBA, 1, total, lost);
  auto finder = MakeEndFinder(f.Type, head.data(), head.size() - kDetectReadExtent);
  if (!finder) return;
  constexpr std::uint64_t kPiece = kChunkSectors;
  for (std::uint64_t lba = f.LBA; lba < total && !lost; lba += kPiece) {
    const std::uint64_t n = std::min(kPiece, total - lba);
    std::vector<std::uint8_t> bytes = ReadRescued(rescue, lba, n, total, lost);
    std::uint64_t size = n * kSectorSize;
    const std::uint64_t fed = (lba - f.LBA) * kSectorSize;
    if (options.size_limit > 0) size = std::min(size, options.size_limit - fed);
    const EndVerdict v = finder->Feed({bytes.data(), static_cast<std::size_t>(size)});
    switch (v.state) {
      case EndVerdict::State::kNeedMore:
        if (options.size_limit > 0 && fed + size >= options.size_limit) {
          f.Size = options.size_limit;
          f.End = EndReason::kLimit;
          return;
        }
        continue;
      case EndVerdict::State::kEnds:
      case EndVerdict::State::kBroken:
        if (v.state == EndVerdict::State::kEnds)
          f.Type = static_cast<std::uint8_t>(NamedRow(f.Type, *finder));
        f.Size = v.end;
        f.End = v.state == EndVerdict::State::kEnds ? EndReason::kFormat : EndReason::kBroken;
        return;
      case EndVerdict::State::kUnknown:
        return;
    }
  }
  f.Size = (total - f.LBA) * kSectorSize;
  f.End = EndReason::kDiskEnd;
}

/// After the retry passes: the starts in and just before the sectors that read at last
/// are looked for again, and every record those sectors or the new starts touch is sized
/// again, so the result is what reading the disk sector by sector gives. Returns the
/// number of starts added (negative when rescued bytes showed a start was none).
long long MergeRescued(FoundTypeRows& rows, const std::vector<SectorRange>& rescued,
                       RescueReader& rescue, std::uint64_t total, const ScanOptions& options,
                       bool& lost) {
  if (rescued.empty()) return 0;
  std::vector<TfileExt> all;
  for (int k = 0; k < FoundTypeRows::size(); ++k) {
    auto files = rows[k].Files();
    all.insert(all.end(), files.begin(), files.end());
  }
  std::sort(all.begin(), all.end(),
            [](const TfileExt& a, const TfileExt& b) { return a.LBA < b.LBA; });
  const std::size_t before = all.size();
  std::vector<std::uint64_t> touched;  ///< starts whose records must be sized again
  for (const SectorRange& range : rescued) {
    // The detector looks up to a few sectors ahead: starts just before the range count too.
    const std::uint64_t from =
        range.first >= kCheckOverlapSectors ? range.first - kCheckOverlapSectors : 0;
    const std::vector<std::uint8_t> bytes =
        ReadRescued(rescue, from, range.end - from, total, lost);
    std::vector<std::pair<std::uint64_t, int>> starts;
    DetectStarts(bytes.data(), bytes.size() - kDetectReadExtent, 0,
                 static_cast<std::uint32_t>(range.end - from), options.real_ends,
                 [&](std::uint32_t s, int row) { starts.emplace_back(from + s, row); });
    std::erase_if(all, [&](const TfileExt& f) { return f.LBA >= from && f.LBA < range.end; });
    for (const auto& [lba, row] : starts) {
      all.push_back(TfileExt{lba, 0, static_cast<std::uint8_t>(row)});
      touched.push_back(lba);
    }
    // Records whose bytes run into the rescued sectors.
    for (const TfileExt& f : all)
      if (f.LBA < from && f.LBA + (f.Size + kSectorSize - 1) / kSectorSize + 1 >= range.first)
        touched.push_back(f.LBA);
  }
  std::sort(all.begin(), all.end(),
            [](const TfileExt& a, const TfileExt& b) { return a.LBA < b.LBA; });
  // A record that ran to the next start (or the disk's end) now ends at a new start.
  for (std::size_t i = 0; i + 1 < all.size(); ++i)
    if ((all[i].End == EndReason::kNextStart || all[i].End == EndReason::kDiskEnd) &&
        all[i].LBA + all[i].Size / kSectorSize != all[i + 1].LBA)
      touched.push_back(all[i].LBA);
  std::sort(touched.begin(), touched.end());
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (!std::binary_search(touched.begin(), touched.end(), all[i].LBA)) continue;
    const bool last = i + 1 == all.size();
    SizeAgain(all[i], last ? total : all[i + 1].LBA, last, rescue, total, options, lost);
  }
  for (int k = 0; k < FoundTypeRows::size(); ++k) rows[k].Clear();
  for (const TfileExt& f : all) rows[f.Type].Append(f);
  return static_cast<long long>(all.size()) - static_cast<long long>(before);
}

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
    for (OpenFile* f : std::exchange(awaiting_, {})) {
      f->next_start = lba;
      if (!f->finder) Close(*f, (lba - f->record.LBA) * kSectorSize, EndReason::kNextStart);
    }
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
    // Closing a file takes it out of followed_: walk a copy, kept between chunks.
    feeding_.assign(followed_.begin(), followed_.end());
    for (OpenFile* f : feeding_) {
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
      const std::uint64_t size = (end_lba - f.record.LBA) * kSectorSize;
      if (f.finder && disk_ended) {
        // The bytes ran out: the finder's last word, unless the file simply runs off the disk.
        const EndVerdict v = f.finder->Finish(f.fed);
        if (v.state == EndVerdict::State::kEnds) {
          Rename(f);
          Close(f, v.end, EndReason::kFormat);
          continue;
        }
        if (v.state == EndVerdict::State::kBroken && v.end < f.fed) {
          Close(f, v.end, EndReason::kBroken);
          continue;
        }
        if (v.state == EndVerdict::State::kUnknown && f.next_start) {
          Close(f, (*f.next_start - f.record.LBA) * kSectorSize, EndReason::kNextStart);
          continue;
        }
      }
      Close(f, size, disk_ended ? EndReason::kDiskEnd : EndReason::kNextStart);
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
        Rename(f);
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

  /// A whole file whose structure showed it to be of another kind than its start (a ZIP of
  /// an Office document's parts) moves to that kind's row before it is filed. A broken one
  /// keeps the kind of its start: what its finder saw past the break is not its own.
  void Rename(OpenFile& f) {
    const int from = f.record.Type, to = NamedRow(from, *f.finder);
    if (to == from) return;
    f.record.Type = static_cast<std::uint8_t>(to);
    auto& left = started_[static_cast<std::size_t>(from)];
    auto& joined = started_[static_cast<std::size_t>(to)];
    --left;
    ++joined;
    observer_.FileStartFound(from, left, summary.files_found);
    observer_.FileStartFound(to, joined, summary.files_found);
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
    // Closed, it waits for no later start: its end stays, and once filed it is gone.
    std::erase(awaiting_, &f);
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
  std::vector<OpenFile*> feeding_;   ///< followed_ as the chunk being fed began
  std::vector<OpenFile*> awaiting_;  ///< files that have not yet seen a later start
  std::array<std::size_t, kFileTypeCount> started_{};
};

/// The retry passes over what the scan skipped, and what the sectors that read at last
/// change in the found list.
void RetrySkipped(RescueReader& rescue, FoundTypeRows& rows, Scan& scan, const CancelToken& cancel,
                  ScanObserver& observer, const ScanOptions& options) {
  ScanSummary& summary = scan.summary;
  if (rescue.SkippedSectors() == 0) return;
  std::vector<SectorRange> rescued;
  const RescueStats stats =
      rescue.Retry(cancel, [&](std::uint64_t lba, std::span<const std::uint8_t> sectors) {
        const std::uint64_t end = lba + sectors.size() / kSectorSize;
        if (!rescued.empty() && rescued.back().end == lba)
          rescued.back().end = end;
        else
          rescued.push_back({lba, end, SectorState::kSkipped});
      });
  summary.retried = stats.retried;
  bool lost = stats.lost;
  std::string reason = stats.lost_reason;
  const long long added = MergeRescued(rows, rescued, rescue, summary.total_sectors, options, lost);
  if (added != 0) {
    summary.files_found =
        static_cast<std::uint64_t>(static_cast<long long>(summary.files_found) + added);
    for (int k = 0; k < FoundTypeRows::size(); ++k)
      observer.FileStartFound(k, rows[k].Count(), summary.files_found);
  }
  if (lost) {
    summary.reason = ScanEnd::kSourceLost;
    summary.error = reason.empty() ? rescue.LostReason() : reason;
  } else if (cancel.Cancelled()) {
    summary.reason = ScanEnd::kStopped;
  }
}

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

  BadSectorMap own_map;
  BadSectorMap& map = options.bad_map ? *options.bad_map : own_map;
  RescuePolicy policy;
  policy.retry_passes = std::max(0, options.retry_passes);
  RescueReader rescue(reader, map, policy);
  bool finished = false;
  auto finish = [&] {
    if (std::exchange(finished, true)) return;
    scan.CloseAll(summary.examined, summary.reason == ScanEnd::kCompleted);
  };
  try {
    std::optional<ChunkPipeline> pipeline;
    // A source shorter than the sectors the scan covers is read to its end, and no further.
    const std::uint64_t readable = std::min(summary.total_sectors, reader.SectorCount());
    pipeline.emplace(reader, rescue, readable, cancel, WorkerCount(options), options.real_ends);
    const std::uint64_t whole_chunks = summary.total_sectors / kChunkSectors;
    std::optional<Clock::time_point> last_display;
    for (std::uint64_t c = 0; c < pipeline->Chunks(); ++c) {
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
      ChunkResult chunk = pipeline->Take(c);
      const std::uint8_t* data = chunk.data;
      const std::size_t in_buffer =
          std::min<std::uint64_t>(readable - first, kChunkSectors + kCheckOverlapSectors) *
          kSectorSize;
      bool stopped = false;
      if (chunk.first_unread != ~std::uint64_t{0}) observer.SectorsSkipped(chunk.first_unread);
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
      if (!stopped) summary.examined = first + chunk.valid;
      if (data) scan.Feed(first, data, static_cast<std::uint32_t>(summary.examined - first));
      pipeline->Recycle(chunk.data);
      if (stopped) {
        summary.reason = ScanEnd::kStopped;
        break;
      }
      if (chunk.lost) {
        summary.reason = ScanEnd::kSourceLost;
        summary.error = chunk.error;
        break;
      }
      if (chunk.valid < kChunkSectors && first + chunk.valid < readable) {
        summary.reason = ScanEnd::kStopped;  // the worker saw the stop inside the chunk
        break;
      }
      if (c < whole_chunks) observer.ChunkDone(c, whole_chunks);
    }
    if (summary.reason == ScanEnd::kCompleted && summary.examined < summary.total_sectors) {
      summary.reason = ScanEnd::kSourceLost;
      summary.error = "The disk ended at sector " + std::to_string(summary.examined);
    }
    observer.CurrentSector(summary.examined);
    pipeline.reset();
    finish();
    if (summary.reason == ScanEnd::kCompleted)
      RetrySkipped(rescue, rows, scan, cancel, observer, options);
  } catch (...) {
    finish();
    throw;
  }
  summary.skipped = rescue.SkippedSectors();
  for (const SectorRange& r : map.Ranges())
    if (r.first < summary.examined)
      summary.unreadable += std::min(r.end, summary.examined) - r.first;
  summary.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  observer.ScanEnded(summary);
  return summary;
}

std::unique_ptr<SectorReader> OpenDriveForScan(const DriveTable& table, const DiskInfo& disk,
                                               ScanObserver& observer, ScanSummary* failed) {
  std::string err;
  auto reader = table.Open(disk.DriveNumber(), &err);
  if (!reader) {
    *failed = {};
    failed->reason = ScanEnd::kCannotOpen;
    failed->error = err;
    failed->total_sectors = disk.SectorCount();
    observer.ScanEnded(*failed);
  }
  return reader;
}

ScanSummary ScanDrive(const DriveTable& table, DiskInfo& disk, FoundTypeRows& rows,
                      const CancelToken& cancel, ScanObserver& observer,
                      const ScanOptions& options) {
  ScanSummary summary;
  auto reader = OpenDriveForScan(table, disk, observer, &summary);
  if (!reader) return summary;
  return ScanDisk(*reader, disk, rows, cancel, observer, options);
}
