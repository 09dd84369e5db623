#pragma once

#include <QString>
#include <functional>

class QWidget;
class TWUWIZ;

namespace trawlex::update {
class TWebUpdate;
struct TextDialogContent;
}  // namespace trawlex::update

/// Where the wizard's window appears.
enum class TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter };

/// The live update wizard as a component: `Execute` shows the wizard for `WebUpdate`.
class TWebUpdateWizard {
 public:
  trawlex::update::TWebUpdate* WebUpdate = nullptr;
  QString Caption;
  TPosition Position = TPosition::poDesigned;
  /// Shows a message with OK; empty: a real message box.
  std::function<void(QWidget*, const QString&)> Information;
  /// Called with the form once it is set up, before it is shown (tests drive it from here).
  std::function<void(TWUWIZ&)> OnFormCreated;

  /// Shows the wizard modally; raises "No WebUpdate component assigned" without an engine.
  void Execute(QWidget* parent = nullptr);
};

/// The engine's own what's-new and agreement dialogs on the product palette; true when
/// accepted.
bool ShowUpdateTextDialog(QWidget* parent, const trawlex::update::TextDialogContent& content);
