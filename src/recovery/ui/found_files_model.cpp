#include "recovery/ui/found_files_model.h"

#include "recovery/format_size.h"
#include "recovery/ui/file_type_model.h"

#include <QApplication>
#include <QBrush>
#include <QFileIconProvider>
#include <QFont>
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

/// A deleted file's path as a line of the list: its file system's bytes, control characters
/// made '_'.
std::string ShownPath(const UndeletedFile& f) {
  std::string path = f.entry.path;
  for (char& ch : path)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '_';
  return path;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

/// Orders names as people read them: runs of digits by their value, so FILE_900 comes
/// before FILE_1200, and the rest byte by byte.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::size_t si = i, sj = j;  // leading zeros do not count
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

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

/// What the check of a deleted file's bytes found, for its tooltip.
QString CheckExplanation(UndeleteCheck check) {
  switch (check) {
    case UndeleteCheck::kPassed:
      return QStringLiteral("Its bytes start and end as its format says.");
    case UndeleteCheck::kUnchecked:
      return QStringLiteral(
          "No check knows its kind: it is saved as its file system describes it.");
    case UndeleteCheck::kInUse:
      return QStringLiteral("Part of its bytes now belong to a file in use.");
    case UndeleteCheck::kOverwritten:
      return QStringLiteral("Its bytes now hold another deleted file.");
    case UndeleteCheck::kFailed:
      return QStringLiteral(
          "Its bytes are not the kind its name or first bytes say, or they break off.");
    case UndeleteCheck::kPartial:
      return QStringLiteral("Its file system knows where only part of its bytes lie.");
  }
  return {};
}

}  // namespace

int FoundFilesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FoundFilesModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : (show_ends_ ? 4 : 3);
}

const std::vector<UndeletedFile>& FoundFilesModel::named() const {
  static const std::vector<UndeletedFile> kNone;
  return named_list_ ? *named_list_ : kNone;
}

const UndeletedFile& FoundFilesModel::namedFile(int row) const {
  return named()[namedIndex(record(row))];
}

std::uint64_t FoundFilesModel::diskLBA(int row) const {
  if (isNamed(row)) return namedFile(row).DiskOffset(search_->Layout()) / 512;
  return place_.DiskLBA(file(row).LBA);
}

bool FoundFilesModel::isChecked(int row) const {
  const std::size_t r = record(row);
  return r < files_.size() ? checked_[r] != 0 : named_checked_[namedIndex(r)] != 0;
}

QString FoundFilesModel::name(std::size_t r) const {
  return QString::fromStdString(r < files_.size() ? place_.FileName(files_[r])
                                                  : ShownPath(named()[namedIndex(r)]));
}

QVariant FoundFilesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::size_t r = record(index.row());
  if (r >= files_.size()) {
    const UndeletedFile& f = named()[namedIndex(r)];
    const bool marked = !f.SavedByDefault();
    switch (role) {
      case Qt::DisplayRole:
        if (index.column() == 0) return name(r);
        if (index.column() == 1)
          return QString::fromStdString(FormatFileSize(f.entry.size, decimal_point_.toLatin1()));
        if (index.column() == 3) return QString::fromLatin1(UndeleteCheckName(f.check).data());
        return QString::number(diskLBA(index.row()));
      case Qt::ToolTipRole: {
        const FileSystemArea& fs = search_->Layout().file_systems[f.entry.file_system];
        QString text = QStringLiteral("A deleted file its %1 file system still names (%2). %3")
                           .arg(QString::fromStdString(fs.type),
                                QString::fromLatin1(UndeleteCheckName(f.check).data()),
                                CheckExplanation(f.check));
        if (marked) text += QStringLiteral(" Saved only when ticked itself.");
        return text + QStringLiteral("\nSaved as %1").arg(QString::fromStdString(f.saved_path));
      }
      case Qt::ForegroundRole:
        if (marked) return QBrush(QColor(0x98, 0xA2, 0xAC));  // greyed: not saved unless ticked
        return {};
      case Qt::FontRole:
        if (marked) {
          QFont font;
          font.setItalic(true);
          return font;
        }
        return {};
      case Qt::CheckStateRole:
        if (index.column() == 0) return isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
        return {};
      case Qt::DecorationRole:
        if (index.column() == 0) return icon_;
        return {};
      case Qt::TextAlignmentRole:
        if (index.column() == 1 || index.column() == 2)
          return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
      default:
        return {};
    }
  }
  const TfileExt& f = files_[r];
  switch (role) {
    case Qt::DisplayRole:
      if (index.column() == 0) return name(r);
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
  char& tick = r < files_.size() ? checked_[r] : named_checked_[namedIndex(r)];
  if ((tick != 0) != on) {
    tick = on ? 1 : 0;
    const std::uint64_t size =
        r < files_.size() ? files_[r].Size : named()[namedIndex(r)].entry.size;
    if (on)
      checked_bytes_ += size;
    else
      checked_bytes_ -= size;
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
  const std::size_t total = files_.size() + shown_named_.size();
  rows_.reserve(total);
  const std::string needle = filter_.trimmed().toUpper().toStdString();
  auto text = [this](std::size_t r) {
    return r < files_.size() ? place_.FileName(files_[r]) : ShownPath(named()[namedIndex(r)]);
  };
  for (std::size_t i = 0; i < total; ++i) {
    if (!needle.empty() && Upper(text(i)).find(needle) == std::string::npos) continue;
    rows_.push_back(i);
  }
  const bool up = sort_order_ == Qt::AscendingOrder;
  if (shown_named_.empty()) {
    // Names are FILE_<sector>.<tag> of one tag: they sort as their sectors do. The free
    // space is read in disk order, so the sectors searched sort as the disk's own.
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
    std::stable_sort(rows_.begin(), rows_.end(), [&](std::size_t a, std::size_t b) {
      const std::uint64_t ka = key(a), kb = key(b);
      if (ka != kb) return up ? ka < kb : ka > kb;
      return up ? files_[a].LBA < files_[b].LBA : files_[a].LBA > files_[b].LBA;
    });
    return;
  }
  // Found records and deleted files by name together: each keyed by the disk, names in
  // reading order (digits by value), the End column's ways, then the checks' words.
  std::vector<std::uint64_t> lba(total), number(total);
  std::vector<std::string> names(sort_column_ == 0 ? total : 0);
  for (std::size_t r : rows_) {
    if (r < files_.size()) {
      const TfileExt& f = files_[r];
      lba[r] = place_.DiskLBA(f.LBA);
      number[r] = sort_column_ == 1 ? f.Size : static_cast<std::uint64_t>(f.End);
    } else {
      const UndeletedFile& f = named()[namedIndex(r)];
      lba[r] = f.DiskOffset(search_->Layout()) / 512;
      number[r] = sort_column_ == 1 ? f.entry.size : 100 + static_cast<std::uint64_t>(f.check);
    }
    if (sort_column_ == 2) number[r] = lba[r];
    if (sort_column_ == 0) names[r] = Upper(text(r));
  }
  std::stable_sort(rows_.begin(), rows_.end(), [&](std::size_t a, std::size_t b) {
    if (sort_column_ == 0) {
      if (NaturalLess(names[a], names[b])) return up;
      if (NaturalLess(names[b], names[a])) return !up;
    } else if (number[a] != number[b]) {
      return up ? number[a] < number[b] : number[a] > number[b];
    }
    return up ? lba[a] < lba[b] : lba[a] > lba[b];
  });
}

void FoundFilesModel::countCheckedBytes() {
  checked_bytes_ = 0;
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (checked_[i]) checked_bytes_ += files_[i].Size;
  for (std::size_t i : shown_named_)
    if (named_checked_[i]) checked_bytes_ += named()[i].entry.size;
}

void FoundFilesModel::setNamed(std::shared_ptr<const FreeSpaceSearch> search) {
  search_ = std::move(search);
  named_list_ = search_ ? search_->Undeleted() : nullptr;
  named_checked_.clear();
  for (const UndeletedFile& f : named()) named_checked_.push_back(f.SavedByDefault() ? 1 : 0);
}

void FoundFilesModel::setFiles(std::vector<TfileExt> files, bool checked, bool showEnds,
                               const FoundPlace& place, int typeRow) {
  beginResetModel();
  show_ends_ = showEnds;
  files_ = std::move(files);
  place_ = place;
  checked_.assign(files_.size(), checked ? 1 : 0);
  shown_named_.clear();
  if (typeRow >= 0) {
    const std::vector<UndeletedFile>& all = named();
    for (std::size_t i = 0; i < all.size(); ++i)
      if (all[i].type == (typeRow == kOtherFilesRow ? -1 : typeRow)) shown_named_.push_back(i);
  }
  countCheckedBytes();
  arrange();
  decimal_point_ = QLocale().decimalPoint().at(0);
  // Files of no known kind have no extension of their own to show.
  if (!files_.empty())
    icon_ = IconForName(QString::fromStdString(place_.FileName(files_.front())));
  else if (shown_named_.empty())
    icon_ = QIcon();
  else if (typeRow == kOtherFilesRow)
    icon_ = QFileIconProvider().icon(QFileIconProvider::File);
  else
    icon_ = IconForName(QStringLiteral("FILE.") + QString::fromLatin1(FileTypeTag(typeRow).data()));
  endResetModel();
  emit checksChanged();
}

void FoundFilesModel::clear() {
  setNamed({});
  setFiles({}, false);
}

void FoundFilesModel::setAllChecked(bool on) {
  if (files_.empty() && shown_named_.empty()) return;
  std::fill(checked_.begin(), checked_.end(), on ? 1 : 0);
  for (std::size_t i : shown_named_) named_checked_[i] = on && named()[i].SavedByDefault() ? 1 : 0;
  countCheckedBytes();
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
  emit checksChanged();
}

void FoundFilesModel::setNamedChecked(int typeRow, bool on) {
  const std::vector<UndeletedFile>& all = named();
  const int type = typeRow == kOtherFilesRow ? -1 : typeRow;
  bool shown = false;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].type != type) continue;
    named_checked_[i] = on && all[i].SavedByDefault() ? 1 : 0;
    shown = shown || std::find(shown_named_.begin(), shown_named_.end(), i) != shown_named_.end();
  }
  if (!shown) return;
  countCheckedBytes();
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
  emit checksChanged();
}

std::vector<TfileExt> FoundFilesModel::checkedFiles() const {
  std::vector<TfileExt> out;
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (checked_[i]) out.push_back(files_[i]);
  return out;
}

std::vector<UndeletedFile> FoundFilesModel::checkedNamed() const {
  std::vector<UndeletedFile> out;
  const std::vector<UndeletedFile>& all = named();
  for (std::size_t i = 0; i < all.size(); ++i)
    if (named_checked_[i]) out.push_back(all[i]);
  return out;
}
