#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

/// A text sink for diagnostics: a memo that collects lines and a status bar with two panels.
/// Created once, hidden; closing only hides it.
class TdebugFrm : public QWidget {
  Q_OBJECT

 public:
  explicit TdebugFrm(QWidget* parent = nullptr);

  QPlainTextEdit* mmDebug;
  QFrame* Bevel1;
  QPushButton* btnClose;
  QStatusBar* sbMain;

  /// Panel `index` (0 or 1) of the status bar.
  [[nodiscard]] QLabel* statusPanel(int index) const;

 public slots:
  /// Appends `text` to the memo as a new line.
  void WriteLine(const QString& text);
  /// Shows `text` in the status bar's first panel.
  void WriteStatus0(const QString& text);

 private:
  QLabel* panels_[2];
};
