#pragma once

#include <QDialog>

#include <functional>

class QCheckBox;
class QSpinBox;
class Prompter;

/// The settings dialog: the largest size, in MB, of a saved file, whether each found file
/// is checked and cut where its format ends, and whether only the free space of the file
/// systems found is searched.
class TFrmSettings final : public QDialog {
  Q_OBJECT

 public:
  /// `limit` reads the current limit; `setLimit` stores a new one (and saves the options).
  TFrmSettings(std::function<std::uint32_t()> limit, std::function<void(std::uint32_t)> setLimit,
               Prompter& prompter, QWidget* parent = nullptr);

  /// `realEnds` reads the option; `setRealEnds` stores it (and saves the options).
  void setRealEndsAccess(std::function<bool()> realEnds, std::function<void(bool)> setRealEnds);
  /// `freeSpace` reads the option; `setFreeSpace` stores it (and saves the options).
  void setFreeSpaceAccess(std::function<bool()> freeSpace, std::function<void(bool)> setFreeSpace);

  QSpinBox* speMaxRetry = nullptr;
  QCheckBox* chkRealEnds = nullptr;
  QCheckBox* chkFreeSpace = nullptr;

 public slots:
  void btnOKClick();
  void btnCancelClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::function<std::uint32_t()> limit_;
  std::function<void(std::uint32_t)> setLimit_;
  /// A check box and the on-off option it shows; the box is disabled while nothing is given.
  struct Switch {
    QCheckBox* box = nullptr;
    std::function<bool()> get;
    std::function<void(bool)> set;
  };
  Switch realEnds_;
  Switch freeSpace_;
  Prompter& prompter_;
  QString typed_;  ///< the limit as last typed, while the dialog is open
};
