#pragma once

#include "recovery/scan_engine.h"

#include <QObject>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

/// Runs a scan on a thread of its own and reports to the window through queued signals,
/// so the window's event loop never waits for the disk. Counts are gathered as the scan
/// goes and sent at most every 50 ms, however many files it finds.
class ScanWorker final : public QObject {
  Q_OBJECT

 public:
  explicit ScanWorker(QObject* parent = nullptr);
  ~ScanWorker() override;

  /// Starts scanning `disk` of `table` into `rows`; every pointer must outlive the scan.
  void start(const DriveTable* table, DiskInfo* disk, FoundTypeRows* rows,
             std::atomic<bool>* pause);
  [[nodiscard]] bool isRunning() const { return thread_.joinable(); }
  /// Asks the scan to stop and waits for it (the window is closing).
  void stopAndWait();

  /// The per-row counts the scan has reached, the open record included.
  [[nodiscard]] qulonglong rowCount(int row) const;
  [[nodiscard]] qulonglong foundCount() const { return found_.load(); }

 signals:
  void scanStarted(qulonglong totalSectors);
  void currentSector(qulonglong lba);
  void chunkDone(qulonglong chunk, qulonglong chunks);
  /// The counts changed; read them with rowCount and foundCount.
  void countsChanged();
  void scanEnded(const ScanSummary& summary);

 private:
  class Bridge;
  void finished(const ScanSummary& summary);

  std::unique_ptr<Bridge> bridge_;
  std::thread thread_;
  std::atomic<bool>* pause_ = nullptr;
  std::array<std::atomic<qulonglong>, kFileTypeCount> counts_{};
  std::atomic<qulonglong> found_{0};
};

Q_DECLARE_METATYPE(ScanSummary)
