#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "help/help_context.h"

class HelpWindow;
class QWidget;

namespace trawlex::help {
class THookHelpSystem;
}

/// The help file the program shows: "OstrelTrawlexFinder.chm" in the program's folder.
[[nodiscard]] QString DefaultHelpFilePath();

/// The dynamic property that gives a widget its help context number; F1 over a widget opens
/// the topic of the nearest context among it and its parents.
inline constexpr char kHelpContextProperty[] = "helpContext";
void SetHelpContext(QWidget* widget, int context);
/// The context of `widget` or of its nearest parent that has one; 0 when none has.
[[nodiscard]] int HelpContextOf(const QWidget* widget);

/// The program's help: installs the help hook for a help file (no window name, host HostApi),
/// routes the application's F1 and What's This requests through it, and shows topics in the
/// program's help window. One lives as long as the main window; destroying it closes the help
/// window and puts the previous help handling back.
class HelpSystem : public QObject, private trawlex::help::HelpWindowHost {
  Q_OBJECT

 public:
  explicit HelpSystem(const QString& helpFile, QObject* parent = nullptr);
  ~HelpSystem() override;

  /// The one in use, or nullptr.
  [[nodiscard]] static HelpSystem* instance();

  [[nodiscard]] trawlex::help::THookHelpSystem& hook() const { return *hook_; }
  /// The help window; nullptr until a topic was first shown.
  [[nodiscard]] HelpWindow* window() const { return window_.get(); }

  /// Shows topic `context` of `chmPath` in the help window and brings it to the front. False,
  /// with nothing shown, when the help engine is not loaded or the file is missing or
  /// unreadable.
  bool showHelpContext(const QString& chmPath, int context);

  /// Where warnings go; an empty handler restores the message box (tests answer in code).
  using MessageHandler = std::function<void(const QString&)>;
  static void setMessageHandler(MessageHandler handler);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool ShowHelpContext(const std::string& target, int32_t context) override;
  void CloseAllHelpWindows() override;
  void ShowWarning(const std::string& text) override;

  std::unique_ptr<HelpWindow> window_;
  std::unique_ptr<trawlex::help::THookHelpSystem> hook_;
};

/// What the help menu calls: `HelpSystem::showHelpContext` of the one in use; false when
/// there is none.
bool ShowHelpContext(const QString& chmPath, int context);
