#pragma once

#include "recovery/file_saver.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <thread>

class QLabel;
class QProgressBar;
class THSSkinBtn;

/// The copy window: shows the queue and the file being copied while found files are
/// saved on a thread of its own, and offers Stop.
class TprocessFrm final : public QDialog {
  Q_OBJECT

 public:
  explicit TprocessFrm(QWidget* parent = nullptr);
  ~TprocessFrm() override;

  /// How the save ended: nothing went wrong (also after Stop), or the error's text.
  struct Outcome {
    bool failed = false;
    QString message;
    SaveTotals totals;
  };

  /// What the user is told after a save: files and bytes written, sectors written as
  /// zeros, the file that was stopped or failed, and the error.
  [[nodiscard]] static QString summary(const Outcome& outcome, const QString& folder);

  /// Shows the window and copies `work` (lists of records, in order) from `reader` into
  /// `folder`, each file cut to `maxSizeMB`; `source` is the disk or image read, never
  /// written. The save has a stop request of its own. `done` runs on the window's thread
  /// when the save has ended, on every road. When `reader` is a stream of the disk's free
  /// space, `place` names the files by where they lie on the disk. `named` (deleted files
  /// under the paths their file systems give) are saved after `work`, read from `disk`.
  void startCopy(std::unique_ptr<SectorReader> reader, std::vector<std::vector<TfileExt>> work,
                 const QString& folder, std::uint32_t maxSizeMB, const SourceIdentity& source,
                 std::function<void(const Outcome&)> done, const FoundPlace& place = {},
                 std::vector<NamedFile> named = {}, std::unique_ptr<SectorReader> disk = {});
  [[nodiscard]] bool isCopying() const { return thread_.joinable(); }

  [[nodiscard]] std::size_t AmountOfFile() const { return amount_; }
  void SetAmountOfFile(std::size_t count);

  /// The window's parts, for its handlers and for tests.
  QProgressBar* Gauge = nullptr;
  QLabel* lblQueue = nullptr;
  QLabel* lblBytes = nullptr;  ///< bytes copied of bytes to copy
  QLabel* lblProgress = nullptr;
  THSSkinBtn* bbStop = nullptr;

 public slots:
  void btnCancelClick();

 signals:
  void copyEnded();

 public slots:
  /// Esc: while copying it is Stop, and the window stays until the copy has ended.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class Bridge;
  void finished(const Outcome& outcome);

  std::unique_ptr<Bridge> bridge_;
  std::unique_ptr<SectorReader> reader_;
  std::unique_ptr<SectorReader> disk_;  ///< the named files' disk, when `reader_` is a stream
  std::unique_ptr<CancelToken> cancel_;
  std::unique_ptr<FileSaver> saver_;
  std::thread thread_;
  std::function<void(const Outcome&)> done_;
  std::size_t amount_ = 0;
};
