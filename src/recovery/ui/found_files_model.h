#pragma once

#include "recovery/found_file.h"
#include "recovery/found_place.h"
#include "recovery/free_space_search.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <memory>
#include <vector>

/// The found files of one type, as the found-file list shows them: name with the icon of
/// its extension, size text and start sector, each row with a check box, and after a scan
/// with real ends how each file's end was decided. Holds a copy of the records, so a
/// million of them open at once and the view asks only for what it shows. Rows are the
/// records that pass the name filter, in the order of the sort column (disk order at
/// first); ticks belong to the records and outlive a filter or a sort. Names and sectors
/// are those of the disk, also when the records count sectors of the free space searched.
///
/// After a search of the free space, the deleted files its file systems still name are
/// listed in the row of their kind by their path, with the disk sector of their first byte
/// and, in the End column, what their check said. Their ticks belong to the whole search,
/// so they hold from one type to the next; a file that failed its check, or whose bytes
/// others now hold, starts unticked and is shown grey.
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
  /// By name, size, start sector or end.
  void sort(int column, Qt::SortOrder order) override;
  /// Shows only the records whose name holds `text` (any case); empty shows all.
  void setNameFilter(const QString& text);
  /// All records (the filter aside), and the bytes of the ticked ones.
  [[nodiscard]] std::size_t totalCount() const { return files_.size() + shown_named_.size(); }
  [[nodiscard]] std::uint64_t checkedBytes() const { return checked_bytes_; }

  /// The deleted files `search` names (none when null or not yet checked), each ticked when
  /// it is saved by default (UndeletedFile::SavedByDefault). Shown by the next setFiles.
  void setNamed(std::shared_ptr<const FreeSpaceSearch> search);
  /// Shows `files`, every row ticked or unticked as `checked`; `showEnds` adds the End
  /// column (the files come from a scan with real ends); `place` says where their sectors
  /// lie on the disk. With `typeRow`, also the deleted files named of that kind
  /// (kOtherFilesRow: of no known kind), with the ticks they have.
  void setFiles(std::vector<TfileExt> files, bool checked, bool showEnds = false,
                const FoundPlace& place = {}, int typeRow = -1);
  void clear();
  /// Ticks or unticks every row shown; of the deleted files named, a tick takes only those
  /// saved by default.
  void setAllChecked(bool on);
  /// The same for the deleted files named of kind `typeRow`, shown or not.
  void setNamedChecked(int typeRow, bool on);
  [[nodiscard]] bool isChecked(int row) const;
  /// A deleted file named by its file system, not a found record.
  [[nodiscard]] bool isNamed(int row) const { return record(row) >= files_.size(); }
  /// The record of a row, its sectors counted as the scan counted them; not for a named row.
  [[nodiscard]] const TfileExt& file(int row) const { return files_[record(row)]; }
  /// The deleted file of a named row.
  [[nodiscard]] const UndeletedFile& namedFile(int row) const;
  /// The disk sector a row's file starts at.
  [[nodiscard]] std::uint64_t diskLBA(int row) const;
  /// Where the records' sectors lie on the disk.
  [[nodiscard]] const FoundPlace& place() const { return place_; }
  /// The ticked records in disk order, shown or not.
  [[nodiscard]] std::vector<TfileExt> checkedFiles() const;
  /// The ticked deleted files named, of every kind, in the search's order.
  [[nodiscard]] std::vector<UndeletedFile> checkedNamed() const;

 signals:
  /// A tick changed, or the records did: checkedBytes may have too.
  void checksChanged();

 private:
  [[nodiscard]] std::size_t record(int row) const { return rows_[static_cast<std::size_t>(row)]; }
  /// Index into the search's deleted files of record `r` (one past the found records).
  [[nodiscard]] std::size_t namedIndex(std::size_t r) const {
    return shown_named_[r - files_.size()];
  }
  [[nodiscard]] const std::vector<UndeletedFile>& named() const;
  /// The name a record is shown and filtered by.
  [[nodiscard]] QString name(std::size_t r) const;
  /// Rebuilds the rows from the filter and the sort.
  void arrange();
  void countCheckedBytes();

  std::vector<TfileExt> files_;
  FoundPlace place_;
  std::vector<char> checked_;
  std::shared_ptr<const FreeSpaceSearch> search_;
  const std::vector<UndeletedFile>* named_list_ = nullptr;  ///< the search's, once checked
  std::vector<char> named_checked_;                         ///< one a deleted file of the search
  std::vector<std::size_t> shown_named_;                    ///< the deleted files of the type shown
  std::vector<std::size_t> rows_;                           ///< the records shown, in display order
  std::uint64_t checked_bytes_ = 0;
  QString filter_;
  int sort_column_ = 2;
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
  QIcon icon_;  ///< every row shares its type's extension
  bool show_ends_ = false;
  QChar decimal_point_;
};
