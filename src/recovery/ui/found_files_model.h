#pragma once

#include "recovery/found_file.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <vector>

/// The found files of one type, as the found-file list shows them: name with the icon of
/// its extension, size text and start sector, each row with a check box, and after a scan
/// with real ends how each file's end was decided. Holds a copy of the records, so a
/// million of them open at once and the view asks only for what it shows.
class FoundFilesModel final : public QAbstractTableModel {
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

  /// Shows `files`, every row ticked or unticked as `checked`; `showEnds` adds the End
  /// column (the files come from a scan with real ends).
  void setFiles(std::vector<TfileExt> files, bool checked, bool showEnds = false);
  void clear();
  void setAllChecked(bool on);
  [[nodiscard]] bool isChecked(int row) const {
    return checked_[static_cast<std::size_t>(row)] != 0;
  }
  [[nodiscard]] const TfileExt& file(int row) const {
    return files_[static_cast<std::size_t>(row)];
  }
  /// The ticked records, top to bottom.
  [[nodiscard]] std::vector<TfileExt> checkedFiles() const;

 private:
  std::vector<TfileExt> files_;
  std::vector<char> checked_;
  QIcon icon_;  ///< every row shares its type's extension
  bool show_ends_ = false;
  QChar decimal_point_;
};
