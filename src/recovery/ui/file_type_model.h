#pragma once

#include "detect/file_catalogue.h"

#include <QAbstractTableModel>

#include <array>

/// The rows of the file-type list: one per catalogue entry, captioned with the type and,
/// once any is found, its count ("JPG (3)"); each with a check box.
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

  /// All rows unticked, with their plain captions.
  void reset();
  /// Shows `count` in row `row`'s caption.
  void setCount(int row, qulonglong count);
  [[nodiscard]] QString caption(int row) const;
  [[nodiscard]] bool isChecked(int row) const { return checked_[static_cast<std::size_t>(row)]; }
  void setChecked(int row, bool on);
  void setAllChecked(bool on);

 private:
  std::array<qulonglong, kFileTypeCount> counts_{};
  std::array<bool, kFileTypeCount> checked_{};
};
