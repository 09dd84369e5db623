#pragma once

#include "recovery/free_space_search.h"
#include "recovery/scan_engine.h"

#include <QObject>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

/// Runs a scan on a thread of its own and reports to the window through queued signals,
/// so the window's event loop never waits for the disk. Counts are gathered as the scan
/// goes and sent at most every 50 ms, however many files it finds. A scan stuck in a
/// read of a disk that stopped answering is left behind, never waited for.
class ScanWorker final : public QObject {
  Q_OBJECT

 public:
  explicit ScanWorker(QObject* parent = nullptr);
  ~ScanWorker() override;

  /// Starts scanning `disk` of `table` into `rows`; `table` must outlive the scan. With
  /// `freeSpace`, only the free space of the disk's file systems is scanned: it is found
  /// first, on the scan's thread, then the deleted files they name are checked, and
  /// `freeSpace` keeps both.
  void start(const DriveTable* table, const DiskInfo& disk, std::shared_ptr<FoundTypeRows> rows,
             const ScanOptions& options = {}, std::shared_ptr<FreeSpaceSearch> freeSpace = {});
  [[nodiscard]] bool isRunning() const { return thread_.joinable(); }
  /// Asks the running scan to stop; when it has not ended within `grace`, it is left
  /// behind and scanEnded reports it stopped with "the disk did not answer".
  void requestStop(std::chrono::milliseconds grace = std::chrono::seconds(1));
  /// Asks the scan to stop and waits for it at most `grace` (the window is closing).
  void stopAndWait(std::chrono::milliseconds grace = std::chrono::seconds(1));

  /// The per-row counts the scan has reached, the open record included.
  [[nodiscard]] qulonglong rowCount(int row) const;
  [[nodiscard]] qulonglong foundCount() const { return found_.load(); }

 signals:
  /// The free space to scan is laid out: read it from the search given to start.
  void freeSpaceFound();
  /// The deleted files the file systems name are checked: read them from the same search.
  void deletedFilesChecked();
  void scanStarted(qulonglong totalSectors);
  void currentSector(qulonglong lba);
  void chunkDone(qulonglong chunk, qulonglong chunks);
  /// The counts changed; read them with rowCount and foundCount.
  void countsChanged();
  void scanEnded(const ScanSummary& summary);

 private:
  class Bridge;
  struct Job;
  void finished(const std::shared_ptr<Job>& job, const ScanSummary& summary);
  /// Waits up to `grace` for the scan's thread; false when it is stuck.
  bool waitForThread(std::chrono::milliseconds grace);
  void abandon();

  std::shared_ptr<Job> job_;
  std::thread thread_;
  std::atomic<qulonglong> total_{0};  ///< the sectors the scan covers, once it has started
  std::atomic<qulonglong> last_lba_{0};
  std::array<std::atomic<qulonglong>, kFileTypeCount> counts_{};
  std::atomic<qulonglong> found_{0};
};

Q_DECLARE_METATYPE(ScanSummary)
