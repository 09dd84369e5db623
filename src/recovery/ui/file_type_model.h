#pragma once

#include "detect/file_catalogue.h"

#include <QAbstractTableModel>

#include <array>

/// The row after the catalogue's, "Other": deleted files named by their file systems whose
/// bytes are of no kind the catalogue knows. Shown only while there are such files.
inline constexpr int kOtherFilesRow = kFileTypeCount;

/// The rows of the file-type list: one per catalogue entry, captioned with the type and,
/// once any is found, its count ("JPG (3)"); each with a check box. After them, while it is
/// shown, the row of the other files listed by their names.
class FileTypeModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
  [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                    int role) const override;
  [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  /// All rows unticked, with their plain captions, and the other files' row gone.
  void reset();
  /// Shows or hides the row of the other files listed by their names (kOtherFilesRow).
  void setOtherFilesShown(bool on);
  [[nodiscard]] bool otherFilesShown() const { return other_shown_; }
  /// Shows `count` in row `row`'s caption.
  void setCount(int row, qulonglong count);
  [[nodiscard]] qulonglong count(int row) const { return counts_[static_cast<std::size_t>(row)]; }
  [[nodiscard]] QString caption(int row) const;
  [[nodiscard]] bool isChecked(int row) const { return checked_[static_cast<std::size_t>(row)]; }
  void setChecked(int row, bool on);
  void setAllChecked(bool on);

 private:
  std::array<qulonglong, kFileTypeCount + 1> counts_{};
  std::array<bool, kFileTypeCount + 1> checked_{};
  bool other_shown_ = false;
};
