#include "recovery/ui/file_type_model.h"

int FileTypeModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kFileTypeCount + (other_shown_ ? 1 : 0);
}

int FileTypeModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QString FileTypeModel::caption(int row) const {
  const QString name =
      row == kOtherFilesRow
          ? QStringLiteral("Other")
          : QString::fromLatin1(FileTypeTag(row).data(), static_cast<int>(FileTypeTag(row).size()));
  const qulonglong n = counts_[static_cast<std::size_t>(row)];
  return n == 0 ? name : QStringLiteral("%1 (%2)").arg(name).arg(n);
}

QVariant FileTypeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return caption(index.row());
  if (role == Qt::CheckStateRole) return isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::ToolTipRole && index.row() == kOtherFilesRow)
    return QStringLiteral(
        "Deleted files named by their file systems whose bytes are of no kind listed above");
  return {};
}

QVariant FileTypeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
    return QStringLiteral("File Type");
  return {};
}

Qt::ItemFlags FileTypeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

bool FileTypeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole) return false;
  setChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

void FileTypeModel::reset() {
  beginResetModel();
  counts_.fill(0);
  checked_.fill(false);
  other_shown_ = false;
  endResetModel();
}

void FileTypeModel::setOtherFilesShown(bool on) {
  if (on == other_shown_) return;
  if (on) {
    beginInsertRows({}, kOtherFilesRow, kOtherFilesRow);
    other_shown_ = true;
    endInsertRows();
  } else {
    beginRemoveRows({}, kOtherFilesRow, kOtherFilesRow);
    other_shown_ = false;
    counts_[kOtherFilesRow] = 0;
    checked_[kOtherFilesRow] = false;
    endRemoveRows();
  }
}

void FileTypeModel::setCount(int row, qulonglong count) {
  if (counts_[static_cast<std::size_t>(row)] == count) return;
  counts_[static_cast<std::size_t>(row)] = count;
  if (row < rowCount()) emit dataChanged(index(row, 0), index(row, 0), {Qt::DisplayRole});
}

void FileTypeModel::setChecked(int row, bool on) {
  checked_[static_cast<std::size_t>(row)] = on;
  if (row < rowCount()) emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

void FileTypeModel::setAllChecked(bool on) {
  checked_.fill(on);
  if (!other_shown_) checked_[kOtherFilesRow] = false;
  emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}
