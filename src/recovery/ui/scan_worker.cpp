#include "recovery/ui/scan_worker.h"

#include <QMetaObject>

#include <chrono>

/// The scan's observer: runs on the scanning thread and hands everything over as queued signals.
class ScanWorker::Bridge final : public ScanObserver {
 public:
  explicit Bridge(ScanWorker& worker) : worker_(worker) {}

  void ScanStarted(std::uint64_t total) override { emit worker_.scanStarted(total); }
  void CurrentSector(std::uint64_t lba) override {
    emit worker_.currentSector(lba);
    Flush();
  }
  void ChunkDone(std::uint64_t chunk, std::uint64_t chunks) override {
    emit worker_.chunkDone(chunk, chunks);
  }
  void FileStartFound(int row, std::size_t count, std::uint64_t found) override {
    worker_.counts_[static_cast<std::size_t>(row)].store(count);
    worker_.found_.store(found);
    pending_ = true;
    if (std::chrono::steady_clock::now() - last_flush_ > std::chrono::milliseconds(50)) Flush();
  }
  void ScanEnded(const ScanSummary& summary) override {
    pending_ = true;
    Flush();
    QMetaObject::invokeMethod(
        &worker_, [w = &worker_, summary] { w->finished(summary); }, Qt::QueuedConnection);
  }

 private:
  void Flush() {
    if (!pending_) return;
    pending_ = false;
    last_flush_ = std::chrono::steady_clock::now();
    emit worker_.countsChanged();
  }

  ScanWorker& worker_;
  bool pending_ = false;
  std::chrono::steady_clock::time_point last_flush_{};
};

ScanWorker::ScanWorker(QObject* parent)
    : QObject(parent), bridge_(std::make_unique<Bridge>(*this)) {
  qRegisterMetaType<ScanSummary>();
}

ScanWorker::~ScanWorker() {
  stopAndWait();
}

qulonglong ScanWorker::rowCount(int row) const {
  return counts_[static_cast<std::size_t>(row)].load();
}

void ScanWorker::start(const DriveTable* table, DiskInfo* disk, FoundTypeRows* rows,
                       std::atomic<bool>* pause) {
  stopAndWait();
  for (auto& c : counts_) c.store(0);
  found_.store(0);
  pause_ = pause;
  bridge_ = std::make_unique<Bridge>(*this);
  thread_ = std::thread([this, table, disk, rows, pause] {
    try {
      ScanDrive(*table, *disk, *rows, *pause, *bridge_);
    } catch (const std::exception& e) {
      ScanSummary summary;
      summary.reason = ScanEnd::kSourceLost;
      summary.error = e.what();
      bridge_->ScanEnded(summary);
    }
  });
}

void ScanWorker::stopAndWait() {
  if (!thread_.joinable()) return;
  if (pause_) pause_->store(true);
  thread_.join();
}

void ScanWorker::finished(const ScanSummary& summary) {
  if (thread_.joinable()) thread_.join();
  emit scanEnded(summary);
}
