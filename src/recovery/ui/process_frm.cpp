#include "recovery/ui/process_frm.h"

#include "recovery/format_size.h"
#include "recovery/ui/product_palette.h"
#include "skin/hs_skin_btn.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QVBoxLayout>

#include <chrono>

/// The saver's observer: runs on the copying thread and updates the window through queued calls.
class TprocessFrm::Bridge final : public SaveObserver {
 public:
  explicit Bridge(TprocessFrm& form) : form_(form) {}
  void AmountOfFile(std::size_t count) override {
    Post([&f = form_, count] { f.SetAmountOfFile(count); });
  }
  void Queue(std::size_t count) override {
    Post([&f = form_, count] {
      f.lblQueue->setText(QStringLiteral("File in queue : %1").arg(count));
    });
  }
  void CurrentFile(const std::string& name) override {
    Post([&f = form_, text = QString::fromStdString(name)] {
      f.lblProgress->setText(QStringLiteral("File name : ") + text);
    });
  }
  void Processed(std::size_t processed) override {
    Post([&f = form_, processed] { f.Gauge->setValue(static_cast<int>(processed)); });
  }
  void Bytes(std::uint64_t done, std::uint64_t total) override {
    // A line a megabyte would flood the window's queue on a fast disk: a few a second.
    const auto now = std::chrono::steady_clock::now();
    if (done != 0 && done != total && now - shown_ < std::chrono::milliseconds(100)) return;
    shown_ = now;
    Post([&f = form_, done, total] {
      f.lblBytes->setText(QStringLiteral("Copied : %1 of %2")
                              .arg(QString::fromStdString(FormatFileSize(done)),
                                   QString::fromStdString(FormatFileSize(total))));
    });
  }

 private:
  template <typename F>
  void Post(F&& f) {
    QMetaObject::invokeMethod(&form_, std::forward<F>(f), Qt::QueuedConnection);
  }
  TprocessFrm& form_;
  std::chrono::steady_clock::time_point shown_{};
};

TprocessFrm::TprocessFrm(QWidget* parent)
    : QDialog(parent), bridge_(std::make_unique<Bridge>(*this)) {
  setWindowTitle(QStringLiteral("Copying..."));
  setPalette(ProductPalette::page());
  setAutoFillBackground(true);
  setFixedSize(420, 190);
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  Gauge = new QProgressBar(this);
  Gauge->setRange(0, 1);
  lblQueue = new QLabel(QStringLiteral("File in queue : "), this);
  lblQueue->setAlignment(Qt::AlignCenter);
  lblProgress = new QLabel(QStringLiteral("File name : "), this);
  lblProgress->setAlignment(Qt::AlignCenter);
  lblBytes = new QLabel(QString(), this);
  lblBytes->setAlignment(Qt::AlignCenter);
  bbStop = new THSSkinBtn(this);
  bbStop->setCaption(QStringLiteral("&Stop"));
  bbStop->resize(90, 25);
  layout->addWidget(Gauge);
  layout->addWidget(lblQueue);
  layout->addWidget(lblProgress);
  layout->addWidget(lblBytes);
  layout->addWidget(bbStop, 0, Qt::AlignHCenter);
  connect(bbStop, &THSSkinBtn::clicked, this, &TprocessFrm::btnCancelClick);
}

TprocessFrm::~TprocessFrm() {
  if (cancel_) cancel_->Cancel();
  if (thread_.joinable()) thread_.join();
}

void TprocessFrm::SetAmountOfFile(std::size_t count) {
  amount_ = count;
  Gauge->setValue(0);
  Gauge->setMaximum(count == 0 ? 1 : static_cast<int>(count));
}

void TprocessFrm::btnCancelClick() {
  if (cancel_) cancel_->Cancel();
}

void TprocessFrm::reject() {
  if (isCopying()) {
    btnCancelClick();
    return;
  }
  QDialog::reject();
}

void TprocessFrm::closeEvent(QCloseEvent* event) {
  // Closing the window while copying is the same as Stop; it closes when the copy ends.
  if (isCopying()) {
    btnCancelClick();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TprocessFrm::startCopy(std::unique_ptr<SectorReader> reader,
                            std::vector<std::vector<TfileExt>> work, const QString& folder,
                            std::uint32_t maxSizeMB, const SourceIdentity& source,
                            std::function<void(const Outcome&)> done, const FoundPlace& place,
                            std::vector<NamedFile> named, std::unique_ptr<SectorReader> disk) {
  reader_ = std::move(reader);
  disk_ = std::move(disk);
  done_ = std::move(done);
  cancel_ = std::make_unique<CancelToken>();
  saver_ =
      std::make_unique<FileSaver>(*reader_, folder.toStdString(), maxSizeMB, *cancel_, *bridge_);
  saver_->SetSource(source);
  saver_->SetPlace(place);
  lblQueue->setText(QStringLiteral("File in queue : "));
  lblProgress->setText(QStringLiteral("File name : "));
  lblBytes->clear();
  show();
  thread_ = std::thread([this, work = std::move(work), named = std::move(named)] {
    Outcome outcome;
    try {
      outcome.totals = saver_->Save(work, named, disk_.get());
    } catch (const SaveError& e) {
      outcome.failed = true;
      outcome.message = QString::fromStdString(e.what());
      if (!e.reason().empty())
        outcome.message += QStringLiteral("\n(%1)").arg(QString::fromStdString(e.reason()));
      outcome.totals = saver_->Totals();
    } catch (const std::exception& e) {
      outcome.failed = true;
      outcome.message = QString::fromStdString(e.what());
      outcome.totals = saver_->Totals();
    }
    QMetaObject::invokeMethod(
        this, [this, outcome] { finished(outcome); }, Qt::QueuedConnection);
  });
}

void TprocessFrm::finished(const Outcome& outcome) {
  if (thread_.joinable()) thread_.join();
  lblProgress->setText(QStringLiteral("File name : "));
  saver_.reset();
  cancel_.reset();
  reader_.reset();
  disk_.reset();
  hide();
  auto done = std::move(done_);
  if (done) done(outcome);
  emit copyEnded();
}

QString TprocessFrm::summary(const Outcome& outcome, const QString& folder) {
  const SaveTotals& t = outcome.totals;
  QString text = QStringLiteral("%1 file(s) saved (%2) into %3.")
                     .arg(t.files_written)
                     .arg(QString::fromStdString(FormatFileSize(t.bytes_written)), folder);
  if (t.unreadable_sectors > 0)
    text += QStringLiteral("\n%1 unreadable sector(s) were written as zeros.")
                .arg(t.unreadable_sectors);
  if (!t.incomplete.empty())
    text += QStringLiteral("\n%1 is incomplete: it was %2 and keeps what was written.")
                .arg(QString::fromStdString(t.incomplete),
                     t.end == SaveEnd::kStopped ? QStringLiteral("stopped")
                                                : QStringLiteral("cut by the error"));
  else if (t.end == SaveEnd::kStopped)
    text += QStringLiteral("\nThe save was stopped.");
  if (outcome.failed) text += QStringLiteral("\n\n") + outcome.message;
  return text;
}
