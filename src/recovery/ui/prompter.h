#pragma once

#include <QString>
#include <QStringList>

class QWidget;

/// The message boxes of the recovery windows. The program shows real boxes; tests answer
/// them in code, since a modal box would wait for a person.
class Prompter {
 public:
  enum class Answer { Yes, No, Cancel };

  virtual ~Prompter() = default;
  /// An information box with OK ("Please select disk for scan.").
  virtual void information(QWidget* owner, const QString& text) = 0;
  /// A warning box with OK.
  virtual void warning(QWidget* owner, const QString& text) = 0;
  /// What the top-level handler shows for an error that ended an operation.
  virtual void error(QWidget* owner, const QString& text) = 0;
  /// A confirmation with Yes, No and Cancel; closing the box is Cancel.
  virtual Answer question(QWidget* owner, const QString& text) = 0;
  /// A choice among `buttons`; the index chosen, or -1 when the box was closed.
  virtual int choose(QWidget* owner, const QString& text, const QStringList& buttons) = 0;
};

/// Real message boxes.
class MessageBoxPrompter final : public Prompter {
 public:
  void information(QWidget* owner, const QString& text) override;
  void warning(QWidget* owner, const QString& text) override;
  void error(QWidget* owner, const QString& text) override;
  Answer question(QWidget* owner, const QString& text) override;
  int choose(QWidget* owner, const QString& text, const QStringList& buttons) override;
};
