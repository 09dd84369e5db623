#pragma once

#include <QDialog>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;
class QStackedWidget;
class THSSkinBtn;

namespace trawlex::update {
class TWebUpdate;
}

/// The live update wizard's form: seven pages (welcome, result, what's new, agreement,
/// components, download, done) that drive an update engine one step per button. Every way
/// out stops the engine's connection, closing the window included; while the engine
/// transfers, the page's one button cancels and every other click waits.
class TWUWIZ : public QDialog {
  Q_OBJECT

 public:
  explicit TWUWIZ(QWidget* parent = nullptr);
  ~TWUWIZ() override;

  /// Drives `engine` from now on (the form's own engine until then).
  void AttachEngine(trawlex::update::TWebUpdate* engine);
  [[nodiscard]] trawlex::update::TWebUpdate* Engine() const { return engine_; }

  /// Shows a message with OK; a real box unless replaced (tests answer in code).
  std::function<void(QWidget*, const QString&)> Information;

  QLabel* Image1 = nullptr;
  QStackedWidget* PageControl1 = nullptr;
  QWidget* TabSheet[7] = {};
  QLabel* WelcomeLabel = nullptr;
  THSSkinBtn* StartButton = nullptr;
  QLabel* VersionInfoLabel = nullptr;
  THSSkinBtn* ControlButton = nullptr;
  QLabel* Label1 = nullptr;
  QPlainTextEdit* WhatsNewMemo = nullptr;
  THSSkinBtn* NewButton = nullptr;
  QLabel* Label2 = nullptr;
  QPlainTextEdit* EULAMemo = nullptr;
  QRadioButton* RAccept = nullptr;
  QRadioButton* RNoAccept = nullptr;
  THSSkinBtn* EULAButton = nullptr;
  QLabel* Label3 = nullptr;
  QListWidget* CheckListBox1 = nullptr;
  THSSkinBtn* FilesButton = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* FileLabel = nullptr;
  QProgressBar* FileProgress = nullptr;
  QLabel* Label6 = nullptr;
  QProgressBar* TotalProgress = nullptr;
  THSSkinBtn* CancelButton = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  THSSkinBtn* RestartButton = nullptr;

  [[nodiscard]] bool CancelRequested() const { return cancel_; }
  [[nodiscard]] bool Busy() const { return busy_; }

  void StartButtonClick();
  void ControlButtonClick();
  void NewButtonClick();
  void RAcceptClick();
  void EULAButtonClick();
  void FilesButtonClick();
  void CancelButtonClick();
  void RestartButtonClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void WebUpdateFileProgress(const std::string& filename, int64_t pos, int64_t size);
  void Finish();
  bool FillComponents();
  /// "No files found for update", then finish: a release without components ends here.
  void NoFilesFound();
  /// The licence page when the release has one, else the components (or the end when none).
  void ShowLicenceOrComponents();
  void ShowPage(int index);
  void ShowEULA(const std::vector<std::string>& text);
  void DetachEngine();
  /// Runs an engine step; an error it raises is shown and finishes the wizard. False when
  /// the wizard has finished meanwhile (cancelled or closed).
  bool Step(const std::function<void()>& step);

  std::unique_ptr<trawlex::update::TWebUpdate> WebUpdate1;
  trawlex::update::TWebUpdate* engine_ = nullptr;
  std::function<void()> previousPump_;
  bool cancel_ = false;
  bool busy_ = false;
  bool finished_ = false;
};
