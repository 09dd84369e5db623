#include "recovery/ui/scan_worker.h"

#include <QMetaObject>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

/// What the scan's thread shares with the worker; it outlives the worker when a scan is
/// left behind in a read that never returns.
struct ScanWorker::Job {
  CancelToken cancel;
  std::shared_ptr<FoundTypeRows> rows;
  DiskInfo disk;
  ScanOptions options;
  std::shared_ptr<FreeSpaceSearch> free_space;  ///< null: the whole disk is scanned
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
  bool abandoned = false;  ///< the worker no longer listens
  std::unique_ptr<Bridge> bridge;
};

/// The scan's observer: runs on the scanning thread and hands everything over as queued
/// signals, unless the worker has left the scan behind.
class ScanWorker::Bridge final : public ScanObserver {
 public:
  Bridge(ScanWorker& worker, Job& job) : worker_(worker), job_(job) {}

  void FreeSpaceFound() {
    Post([&] { emit worker_.freeSpaceFound(); });
  }
  void DeletedFilesChecked() {
    Post([&] { emit worker_.deletedFilesChecked(); });
  }
  void ScanStarted(std::uint64_t total) override {
    Post([&] {
      worker_.total_.store(total);
      emit worker_.scanStarted(total);
    });
  }
  void CurrentSector(std::uint64_t lba) override {
    Post([&] {
      worker_.last_lba_.store(lba);
      emit worker_.currentSector(lba);
    });
    Flush();
  }
  void ChunkDone(std::uint64_t chunk, std::uint64_t chunks) override {
    Post([&] { emit worker_.chunkDone(chunk, chunks); });
  }
  void FileStartFound(int row, std::size_t count, std::uint64_t found) override {
    Post([&] {
      worker_.counts_[static_cast<std::size_t>(row)].store(count);
      worker_.found_.store(found);
    });
    pending_ = true;
    if (std::chrono::steady_clock::now() - last_flush_ > std::chrono::milliseconds(50)) Flush();
  }
  void ScanEnded(const ScanSummary& summary) override {
    pending_ = true;
    Flush();
    Post([&] {
      QMetaObject::invokeMethod(
          &worker_, [w = &worker_, job = worker_.job_, summary] { w->finished(job, summary); },
          Qt::QueuedConnection);
    });
  }

 private:
  /// Runs `f` while the worker still listens; the worker cannot go away meanwhile.
  template <typename F>
  void Post(F&& f) {
    std::lock_guard lock(job_.mutex);
    if (!job_.abandoned) f();
  }
  void Flush() {
    if (!pending_) return;
    pending_ = false;
    last_flush_ = std::chrono::steady_clock::now();
    Post([&] { emit worker_.countsChanged(); });
  }

  ScanWorker& worker_;
  Job& job_;
  bool pending_ = false;
  std::chrono::steady_clock::time_point last_flush_{};
};

ScanWorker::ScanWorker(QObject* parent) : QObject(parent) {
  qRegisterMetaType<ScanSummary>();
}

ScanWorker::~ScanWorker() {
  stopAndWait();
}

qulonglong ScanWorker::rowCount(int row) const {
  return counts_[static_cast<std::size_t>(row)].load();
}

namespace {

/// Opens the drive, finds the free space of its file systems, checks the deleted files they
/// name and scans the free space as one disk. `found` and `checked` tell each step done.
void ScanFreeSpace(const DriveTable& table, DiskInfo disk, FoundTypeRows& rows,
                   FreeSpaceSearch& search, const CancelToken& cancel, ScanObserver& observer,
                   const std::function<void()>& found, const std::function<void()>& checked,
                   const ScanOptions& options) {
  ScanSummary failed;
  auto reader = OpenDriveForScan(table, disk, observer, &failed);
  if (!reader) return;
  // A stop or a lost disk while the file systems are read ends the scan before its first
  // sector, as it would end any scan.
  search.Find(std::move(reader), cancel);
  found();
  search.CheckDeleted(cancel);
  checked();
  SectorReader& stream = *search.Stream();
  disk.SetSectorCount(stream.SectorCount());
  ScanDisk(stream, disk, rows, cancel, observer, options);
}

}  // namespace

void ScanWorker::start(const DriveTable* table, const DiskInfo& disk,
                       std::shared_ptr<FoundTypeRows> rows, const ScanOptions& options,
                       std::shared_ptr<FreeSpaceSearch> freeSpace) {
  stopAndWait();
  for (auto& c : counts_) c.store(0);
  found_.store(0);
  total_.store(0);
  last_lba_.store(0);
  auto job = std::make_shared<Job>();
  job->rows = std::move(rows);
  job->disk = disk;
  job->options = options;
  job->free_space = std::move(freeSpace);
  job->bridge = std::make_unique<Bridge>(*this, *job);
  job_ = job;
  thread_ = std::thread([job, table] {
    try {
      if (job->free_space)
        ScanFreeSpace(
            *table, job->disk, *job->rows, *job->free_space, job->cancel, *job->bridge,
            [&] { job->bridge->FreeSpaceFound(); }, [&] { job->bridge->DeletedFilesChecked(); },
            job->options);
      else
        ScanDrive(*table, job->disk, *job->rows, job->cancel, *job->bridge, job->options);
    } catch (const std::exception& e) {
      ScanSummary summary;
      summary.reason = ScanEnd::kSourceLost;
      summary.error = e.what();
      job->bridge->ScanEnded(summary);
    }
    std::lock_guard lock(job->mutex);
    job->done = true;
    job->done_changed.notify_all();
  });
}

bool ScanWorker::waitForThread(std::chrono::milliseconds grace) {
  if (!thread_.joinable()) return true;
  {
    std::unique_lock lock(job_->mutex);
    if (!job_->done_changed.wait_for(lock, grace, [&] { return job_->done; })) return false;
  }
  thread_.join();
  return true;
}

void ScanWorker::abandon() {
  {
    std::lock_guard lock(job_->mutex);
    job_->abandoned = true;
  }
  thread_.detach();
}

void ScanWorker::requestStop(std::chrono::milliseconds grace) {
  if (!thread_.joinable()) return;
  job_->cancel.Cancel();
  QTimer::singleShot(grace, this, [this, job = job_] {
    if (job != job_ || !thread_.joinable()) return;
    {
      std::lock_guard lock(job->mutex);
      if (job->done) return;
    }
    abandon();
    ScanSummary summary;
    summary.reason = ScanEnd::kStopped;
    summary.error = "the disk did not answer";
    summary.total_sectors = total_.load() != 0 ? total_.load() : job->disk.SectorCount();
    summary.examined = last_lba_.load();
    summary.files_found = found_.load();
    emit scanEnded(summary);
  });
}

void ScanWorker::stopAndWait(std::chrono::milliseconds grace) {
  if (!thread_.joinable()) return;
  job_->cancel.Cancel();
  if (!waitForThread(grace)) abandon();
}

void ScanWorker::finished(const std::shared_ptr<Job>& job, const ScanSummary& summary) {
  if (job != job_) return;  // a scan left behind, or one that was replaced
  if (thread_.joinable()) thread_.join();
  emit scanEnded(summary);
}
