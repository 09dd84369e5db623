#pragma once

#include <QDialog>

#include <functional>

class QSpinBox;
class Prompter;

/// The settings dialog: the largest size, in MB, of a saved file.
class TFrmSettings final : public QDialog {
  Q_OBJECT

 public:
  /// `limit` reads the current limit; `setLimit` stores a new one (and saves the options).
  TFrmSettings(std::function<std::uint32_t()> limit, std::function<void(std::uint32_t)> setLimit,
               Prompter& prompter, QWidget* parent = nullptr);

  QSpinBox* speMaxRetry = nullptr;

 public slots:
  void btnOKClick();
  void btnCancelClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::function<std::uint32_t()> limit_;
  std::function<void(std::uint32_t)> setLimit_;
  Prompter& prompter_;
};
