#pragma once

#include "recovery/found_file.h"
#include "recovery/found_place.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <vector>

/// The found files of one type, as the found-file list shows them: name with the icon of
/// its extension, size text and start sector, each row with a check box, and after a scan
/// with real ends how each file's end was decided. Holds a copy of the records, so a
/// million of them open at once and the view asks only for what it shows. Rows are the
/// records that pass the name filter, in the order of the sort column (disk order at
/// first); ticks belong to the records and outlive a filter or a sort. Names and sectors
/// are those of the disk, also when the records count sectors of the free space searched.
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
  /// By name (which is by start sector within a type), size, start sector or end.
  void sort(int column, Qt::SortOrder order) override;
  /// Shows only the records whose name holds `text` (any case); empty shows all.
  void setNameFilter(const QString& text);
  /// All records (the filter aside), and the bytes of the ticked ones.
  [[nodiscard]] std::size_t totalCount() const { return files_.size(); }
  [[nodiscard]] std::uint64_t checkedBytes() const { return checked_bytes_; }

  /// Shows `files`, every row ticked or unticked as `checked`; `showEnds` adds the End
  /// column (the files come from a scan with real ends); `place` says where their sectors
  /// lie on the disk.
  void setFiles(std::vector<TfileExt> files, bool checked, bool showEnds = false,
                const FoundPlace& place = {});
  void clear();
  void setAllChecked(bool on);
  [[nodiscard]] bool isChecked(int row) const { return checked_[record(row)] != 0; }
  /// The record of a row, its sectors counted as the scan counted them.
  [[nodiscard]] const TfileExt& file(int row) const { return files_[record(row)]; }
  /// Where the records' sectors lie on the disk.
  [[nodiscard]] const FoundPlace& place() const { return place_; }
  /// The ticked records in disk order, shown or not.
  [[nodiscard]] std::vector<TfileExt> checkedFiles() const;

 signals:
  /// A tick changed, or the records did: checkedBytes may have too.
  void checksChanged();

 private:
  [[nodiscard]] std::size_t record(int row) const { return rows_[static_cast<std::size_t>(row)]; }
  /// Rebuilds the rows from the filter and the sort.
  void arrange();

  std::vector<TfileExt> files_;
  FoundPlace place_;
  std::vector<char> checked_;
  std::vector<std::size_t> rows_;  ///< the records shown, in display order
  std::uint64_t checked_bytes_ = 0;
  QString filter_;
  int sort_column_ = 2;
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
  QIcon icon_;  ///< every row shares its type's extension
  bool show_ends_ = false;
  QChar decimal_point_;
};
