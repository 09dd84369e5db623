#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QTimer;
class QWidget;
class TCoolForm;
class THSSkinBtn;

/// The splash shown while the program starts and, the same window, the about box. Its face is
/// the product picture drawn by a TCoolForm; "Data/splash.bmp" in the program's folder replaces
/// it. Closing only hides the window.
class TFrmSplash final : public QDialog {
  Q_OBJECT

 public:
  /// Opens a web or mail address for the link labels, with this window as owner.
  using LinkOpener = std::function<void(QWidget* owner, const QString& text)>;

  /// `programFile` is read for its version block; `programFolder` may hold "Data/splash.bmp".
  TFrmSplash(const QString& programFile, const QString& programFolder, LinkOpener openLink,
             QWidget* parent = nullptr);

  /// Shows the window modally: while loading, "Loading " with a dot added each tick until it
  /// closes itself on the seventh tick; otherwise the about box with its OK button.
  void ShowSplash(bool loading);

  TCoolForm* CoolForm = nullptr;
  QLabel* LabelLoading = nullptr;
  QWidget* panelButton = nullptr;
  THSSkinBtn* OKBtn = nullptr;
  QWidget* PanelAboutus = nullptr;
  QLabel* LBProgramName = nullptr;
  QLabel* LBVersion = nullptr;
  QLabel* LBCopyright = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* LabelWebSite = nullptr;
  QLabel* LabelEmail = nullptr;
  QLabel* LabelPhone = nullptr;
  QTimer* TimerSplash = nullptr;

  /// The maker's contact points shown in the about block.
  static inline const QString kWebSite = QStringLiteral(TRAWLEX_WEB_SITE_HOST);
  static inline const QString kEmail = QStringLiteral("help@ostrel.com");
  static inline const QString kPhone = QStringLiteral("Tel. +44 20 7946 0321, +1 202 555 0143");

 public slots:
  void OKBtnClick();
  void LabelWebSiteClick();
  void LabelEmailClick();

 protected:
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void TimerSplashTimer();

  LinkOpener openLink_;
  int ticks_ = 0;  ///< the timer's tag: ticks counted, never reset
};
