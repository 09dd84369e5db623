#include "recovery/ui/prompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

void MessageBoxPrompter::information(QWidget* owner, const QString& text) {
  QMessageBox::information(owner, QApplication::applicationName(), text);
}

void MessageBoxPrompter::warning(QWidget* owner, const QString& text) {
  QMessageBox::warning(owner, QApplication::applicationName(), text);
}

void MessageBoxPrompter::error(QWidget* owner, const QString& text) {
  QMessageBox::critical(owner, QApplication::applicationName(), text);
}

Prompter::Answer MessageBoxPrompter::question(QWidget* owner, const QString& text) {
  switch (QMessageBox::question(owner, QApplication::applicationName(), text,
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    default:
      return Answer::Cancel;
  }
}

int MessageBoxPrompter::choose(QWidget* owner, const QString& text, const QStringList& buttons) {
  QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text,
                  QMessageBox::NoButton, owner);
  QList<QAbstractButton*> added;
  for (const QString& caption : buttons)
    added.append(box.addButton(caption, QMessageBox::AcceptRole));
  box.addButton(QMessageBox::Cancel);
  box.exec();
  return static_cast<int>(added.indexOf(box.clickedButton()));
}
