#include "recovery/ui/found_files_model.h"

#include "recovery/format_size.h"

#include <QApplication>
#include <QBrush>
#include <QFileIconProvider>
#include <QLocale>
#include <QMimeDatabase>
#include <QStyle>

#include <algorithm>
#include <cctype>

namespace {

/// The icon the desktop gives files with `name`'s extension; a plain file icon when the
/// extension means nothing to it.
QIcon IconForName(const QString& name) {
  const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  if (icon.isNull()) icon = QFileIconProvider().icon(QFileIconProvider::File);
  return icon;
}

}  // namespace

int FoundFilesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FoundFilesModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : (show_ends_ ? 4 : 3);
}

namespace {

/// What the End column's tooltip says of each way a file's end was decided.
QString EndExplanation(EndReason reason) {
  switch (reason) {
    case EndReason::kFormat:
      return QStringLiteral("The file's own structure ends here.");
    case EndReason::kNextStart:
      return QStringLiteral(
          "The format cannot tell its end: the file runs to the next file found.");
    case EndReason::kDiskEnd:
      return QStringLiteral("The disk ended before the file did.");
    case EndReason::kLimit:
      return QStringLiteral("Cut at the largest size of a saved file.");
    case EndReason::kBroken:
      return QStringLiteral(
          "The file's structure is cut or damaged: it is saved up to its last valid byte.");
  }
  return {};
}

}  // namespace

QVariant FoundFilesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const TfileExt& f = file(index.row());
  switch (role) {
    case Qt::DisplayRole:
      if (index.column() == 0) return QString::fromStdString(place_.FileName(f));
      if (index.column() == 1)
        return QString::fromStdString(FormatFileSize(f.Size, decimal_point_.toLatin1()));
      if (index.column() == 3) return QString::fromLatin1(EndReasonName(f.End).data());
      return QString::number(place_.DiskLBA(f.LBA));
    case Qt::ToolTipRole:
      if (show_ends_) return EndExplanation(f.End);
      return {};
    case Qt::ForegroundRole:
      if (show_ends_ && f.End == EndReason::kBroken) return QBrush(QColor(0xB0, 0x20, 0x20));
      return {};
    case Qt::CheckStateRole:
      if (index.column() == 0) return isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::DecorationRole:
      if (index.column() == 0) return icon_;
      if (index.column() == 3 && f.End == EndReason::kBroken)
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
      return {};
    case Qt::TextAlignmentRole:
      if (index.column() == 1 || index.column() == 2)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    default:
      return {};
  }
}

QVariant FoundFilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole)
    return QVariant((section == 1 || section == 2 ? Qt::AlignRight : Qt::AlignLeft) |
                    Qt::AlignVCenter);
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kHeaders[] = {"Name", "Size", "LBA", "End"};
  return section >= 0 && section < columnCount() ? QString::fromLatin1(kHeaders[section])
                                                 : QVariant();
}

Qt::ItemFlags FoundFilesModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool FoundFilesModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != 0) return false;
  const std::size_t r = record(index.row());
  const bool on = value.toInt() == Qt::Checked;
  if ((checked_[r] != 0) != on) {
    checked_[r] = on ? 1 : 0;
    if (on)
      checked_bytes_ += files_[r].Size;
    else
      checked_bytes_ -= files_[r].Size;
  }
  emit dataChanged(index, index, {Qt::CheckStateRole});
  emit checksChanged();
  return true;
}

void FoundFilesModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= columnCount()) return;
  sort_column_ = column;
  sort_order_ = order;
  emit layoutAboutToBeChanged();
  arrange();
  emit layoutChanged();
}

void FoundFilesModel::setNameFilter(const QString& text) {
  if (text == filter_) return;
  beginResetModel();
  filter_ = text;
  arrange();
  endResetModel();
}

void FoundFilesModel::arrange() {
  rows_.clear();
  rows_.reserve(files_.size());
  const std::string needle = filter_.trimmed().toUpper().toStdString();
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!needle.empty()) {
      std::string name = place_.FileName(files_[i]);
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (name.find(needle) == std::string::npos) continue;
    }
    rows_.push_back(i);
  }
  // Names are FILE_<sector>.<tag> of one tag: they sort as their sectors do. The free space
  // is read in disk order, so the sectors searched sort as the disk's own.
  auto key = [this](std::size_t i) {
    const TfileExt& f = files_[i];
    switch (sort_column_) {
      case 1:
        return f.Size;
      case 3:
        return static_cast<std::uint64_t>(f.End);
      default:
        return f.LBA;
    }
  };
  const bool up = sort_order_ == Qt::AscendingOrder;
  std::stable_sort(rows_.begin(), rows_.end(), [&](std::size_t a, std::size_t b) {
    const std::uint64_t ka = key(a), kb = key(b);
    if (ka != kb) return up ? ka < kb : ka > kb;
    return up ? files_[a].LBA < files_[b].LBA : files_[a].LBA > files_[b].LBA;
  });
}

void FoundFilesModel::setFiles(std::vector<TfileExt> files, bool checked, bool showEnds,
                               const FoundPlace& place) {
  beginResetModel();
  show_ends_ = showEnds;
  files_ = std::move(files);
  place_ = place;
  checked_.assign(files_.size(), checked ? 1 : 0);
  checked_bytes_ = 0;
  if (checked)
    for (const TfileExt& f : files_) checked_bytes_ += f.Size;
  arrange();
  decimal_point_ = QLocale().decimalPoint().at(0);
  icon_ = files_.empty() ? QIcon()
                         : IconForName(QString::fromStdString(place_.FileName(files_.front())));
  endResetModel();
  emit checksChanged();
}

void FoundFilesModel::clear() {
  setFiles({}, false);
}

void FoundFilesModel::setAllChecked(bool on) {
  if (files_.empty()) return;
  std::fill(checked_.begin(), checked_.end(), on ? 1 : 0);
  checked_bytes_ = 0;
  if (on)
    for (const TfileExt& f : files_) checked_bytes_ += f.Size;
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
  emit checksChanged();
}

std::vector<TfileExt> FoundFilesModel::checkedFiles() const {
  std::vector<TfileExt> out;
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (checked_[i]) out.push_back(files_[i]);
  return out;
}
