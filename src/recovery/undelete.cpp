#include "recovery/undelete.h"

#include "detect/file_catalogue.h"
#include "detect/file_detect.h"
#include "detect/format_table.h"
#include "disk/memory_sector_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>
#include <utility>

namespace {

/// Name endings that say which kind a file is, beside the tags themselves ("jpg", "zip").
/// Text kinds are left out: their first bytes vary too much for a name to promise them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 12> kEndingKinds{{
    {"jpeg", "JPG"},
    {"jpe", "JPG"},
    {"jfif", "JPG"},
    {"tiff", "TIF"},
    {"eps", "EPSorPS"},
    {"ps", "EPSorPS"},
    {"mpeg", "MPG"},
    {"qt", "MOV"},
    {"wave", "WAV"},
    {"midi", "MID"},
    {"htm", "HTML"},
    {"xhtml", "HTML"},
}};

/// The catalogue row a file's name ending stands for, or -1. Unless `any`, only the kinds
/// whose first bytes a name can promise.
int KindOfName(std::string_view path, bool any = false) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return -1;
  std::string ending;
  for (const char ch : path.substr(dot + 1))
    ending += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (const auto& [name, tag] : kEndingKinds)
    if (ending == name) return !any && tag == "HTML" ? -1 : FindFileType(tag);
  for (int row = 0; row < kFileTypeCount; ++row) {
    std::string tag(FileTypeTag(row));
    for (char& ch : tag) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (tag == ending) {
      const std::string_view kind = FileTypeTag(row);
      return !any && (kind == "HTML" || kind == "XML" || kind == "DBF") ? -1 : row;
    }
  }
  return -1;
}

/// Reads a deleted file's bytes from its runs on the disk, or from the bytes its file system
/// kept. False when the disk fails to give them.
class EntryBytes {
 public:
  EntryBytes(SectorReader& disk, const DeletedEntry& entry) : size_(entry.size) {
    if (entry.runs.empty())
      bytes_ = std::make_unique<MemorySectorReader>(entry.content);
    else
      bytes_ = std::make_unique<MappedSectorReader>(disk, entry.runs);
  }

  /// Up to `size` bytes from `offset` of the file; how many were read, -1 on a read error.
  long long Read(std::uint64_t offset, std::uint8_t* out, std::size_t size) {
    if (offset >= size_) return 0;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
    const ReadResult got = bytes_->ReadAt(offset, out, size);
    if (got.bytes < size && got.error != 0) return -1;
    return static_cast<long long>(got.bytes);
  }

 private:
  std::uint64_t size_;
  std::unique_ptr<SectorReader> bytes_;
};

/// A deleted file of kind `row` whose structure ends at byte `end`. Past its size it is cut
/// short. Well before its size, under a name that does not say that kind, its blocks hold a
/// later, smaller file: the record of an older file whose clusters that one took.
UndeleteCheck Ended(const DeletedEntry& entry, int row, std::uint64_t end) {
  if (end > entry.size) return UndeleteCheck::kFailed;
  if (entry.size - end >= 4096 && KindOfName(entry.path, true) != row)
    return UndeleteCheck::kOverwritten;
  return UndeleteCheck::kPassed;
}

/// The kind a deleted file's bytes are and whether they hold it whole.
UndeleteCheck CheckBytes(SectorReader& disk, const DeletedEntry& entry, int& type,
                         const CancelToken& cancel) {
  EntryBytes bytes(disk, entry);
  // The start check may look a little past the file's first sector; zero slack after it.
  std::vector<std::uint8_t> head(
      std::max<std::size_t>(kStartCheckBytes, kDetectReadExtent) + kDetectReadExtent, 0);
  const long long got = bytes.Read(0, head.data(), kStartCheckBytes);
  if (got < 0) return UndeleteCheck::kUnchecked;
  const auto available = static_cast<std::size_t>(got);
  std::string tag;
  int row = available > 0 && DetectFileType(head.data(), 512, tag, 255) ? FindFileType(tag) : -1;
  row = CheckFileStart(row, head.data(), available);
  type = row;
  if (row < 0)
    return KindOfName(entry.path) >= 0 ? UndeleteCheck::kFailed : UndeleteCheck::kUnchecked;

  std::unique_ptr<EndFinder> finder = MakeEndFinder(row, head.data(), available);
  if (!finder) return UndeleteCheck::kPassed;
  std::vector<std::uint8_t> piece(std::size_t{1} << 20);
  std::uint64_t fed = 0;
  while (fed < entry.size) {
    if (cancel.Cancelled()) return UndeleteCheck::kUnchecked;
    const long long n = bytes.Read(fed, piece.data(), piece.size());
    if (n < 0) return UndeleteCheck::kUnchecked;
    if (n == 0) break;
    const EndVerdict v = finder->Feed({piece.data(), static_cast<std::size_t>(n)});
    fed += static_cast<std::uint64_t>(n);
    switch (v.state) {
      case EndVerdict::State::kNeedMore:
        continue;
      case EndVerdict::State::kEnds:
        type = NamedRow(row, *finder);
        return Ended(entry, type, v.end);
      case EndVerdict::State::kBroken:
        return UndeleteCheck::kFailed;
      case EndVerdict::State::kUnknown:
        return UndeleteCheck::kPassed;
    }
  }
  // Some formats tell their end only from what follows it: nothing follows, as zeros do.
  std::fill(piece.begin(), piece.end(), 0);
  for (int i = 0; i < 16; ++i) {
    const EndVerdict v = finder->Feed({piece.data(), 4096});
    if (v.state == EndVerdict::State::kNeedMore) continue;
    if (v.state == EndVerdict::State::kEnds)
      return Ended(entry, type = NamedRow(row, *finder), v.end);
    return v.state == EndVerdict::State::kUnknown ? UndeleteCheck::kPassed : UndeleteCheck::kFailed;
  }
  const EndVerdict last = finder->Finish(fed);
  if (last.state != EndVerdict::State::kEnds) return UndeleteCheck::kFailed;
  type = NamedRow(row, *finder);
  return Ended(entry, type, last.end);
}

/// The folder under undeleted/ for the file system of `index`: its kind, and its slot when
/// the disk has a partition table.
std::string FileSystemFolder(const FreeSpaceLayout& layout, std::size_t index) {
  const FileSystemArea& fs = layout.file_systems[index];
  std::string name = SafeRelativePath(fs.type);
  if (fs.partition > 0) name = "partition" + std::to_string(fs.partition) + "-" + name;
  return name;
}

/// `path` with "~N" put before its ending, for the Nth file of the same name.
std::string Numbered(const std::string& path, int n) {
  const std::size_t slash = path.rfind('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    dot = path.size();
  return path.substr(0, dot) + "~" + std::to_string(n) + path.substr(dot);
}

/// Gives every file a saved path no other file or folder of the list takes.
void NameSavedPaths(std::vector<UndeletedFile>& files, const FreeSpaceLayout& layout) {
  std::set<std::string> folders;
  for (UndeletedFile& f : files) {
    f.saved_path = "undeleted/" + FileSystemFolder(layout, f.entry.file_system) + "/" +
                   SafeRelativePath(f.entry.path);
    for (std::size_t slash = f.saved_path.find('/'); slash != std::string::npos;
         slash = f.saved_path.find('/', slash + 1))
      folders.insert(f.saved_path.substr(0, slash));
  }
  std::set<std::string> taken;
  for (UndeletedFile& f : files) {
    std::string path = f.saved_path;
    for (int n = 2; folders.count(path) > 0 || taken.count(path) > 0; ++n)
      path = Numbered(f.saved_path, n);
    taken.insert(path);
    f.saved_path = std::move(path);
  }
}

/// Ranks which of two names for the same bytes to keep: one that passed, then one whose name
/// ending agrees with the bytes, then one whose ending names a kind at all.
int Rank(const UndeletedFile& f) {
  const int kind = KindOfName(f.entry.path, true);
  int rank = f.check == UndeleteCheck::kPassed ? 4 : 0;
  if (f.type >= 0 && kind == f.type) rank += 2;
  if (kind >= 0) ++rank;
  return rank;
}

}  // namespace

std::string_view UndeleteCheckName(UndeleteCheck check) {
  switch (check) {
    case UndeleteCheck::kPassed:
      return "passed";
    case UndeleteCheck::kUnchecked:
      return "unchecked";
    case UndeleteCheck::kInUse:
      return "in-use";
    case UndeleteCheck::kOverwritten:
      return "overwritten";
    case UndeleteCheck::kFailed:
      return "failed";
    case UndeleteCheck::kPartial:
      return "partial";
  }
  return "unchecked";
}

std::uint64_t UndeletedFile::DiskOffset(const FreeSpaceLayout& layout) const {
  if (!entry.runs.empty()) return entry.runs.front().offset;
  return layout.file_systems[entry.file_system].offset;
}

std::string SafeRelativePath(std::string_view path) {
  std::string out;
  std::size_t begin = 0;
  while (begin <= path.size()) {
    std::size_t end = path.find_first_of("/\\", begin);
    if (end == std::string_view::npos) end = path.size();
    std::string part(path.substr(begin, end - begin));
    begin = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") part = "__";
    for (char& ch : part)
      if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '_';
    if (part.size() > 255) {
      std::size_t cut = 255;
      while (cut > 0 && (static_cast<unsigned char>(part[cut]) & 0xC0) == 0x80) --cut;
      part.resize(cut);
    }
    if (!out.empty()) out += '/';
    out += part;
  }
  return out.empty() ? std::string("_") : out;
}

std::vector<UndeletedFile> CheckDeletedFiles(SectorReader& disk, const FreeSpaceLayout& layout,
                                             const CancelToken& cancel) {
  std::vector<UndeletedFile> files;
  files.reserve(layout.deleted.size());
  for (const DeletedEntry& entry : layout.deleted) {
    UndeletedFile f;
    f.entry = entry;
    if (entry.partial)
      f.check = UndeleteCheck::kPartial;
    else if (entry.in_use)
      f.check = UndeleteCheck::kInUse;
    else
      f.check = CheckBytes(disk, entry, f.type, cancel);
    // A stop lists only what was checked whole: an unchecked file would be saved by default.
    if (cancel.Cancelled()) break;
    files.push_back(std::move(f));
  }

  // The same bytes under two names (a record a later file took over): keep the better name.
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> first_at;
  std::vector<bool> dropped(files.size(), false);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].entry.runs.empty()) continue;
    const auto key = std::make_pair(files[i].entry.runs.front().offset, files[i].entry.size);
    const auto [it, fresh] = first_at.emplace(key, i);
    if (fresh) continue;
    if (files[it->second].entry.runs != files[i].entry.runs) continue;
    if (Rank(files[i]) > Rank(files[it->second])) {
      dropped[it->second] = true;
      it->second = i;
    } else {
      dropped[i] = true;
    }
  }

  // Blocks that hold a file that passed its checks are not another file's as well.
  std::vector<ByteRun> passed;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (!dropped[i] && files[i].check == UndeleteCheck::kPassed)
      passed.insert(passed.end(), files[i].entry.runs.begin(), files[i].entry.runs.end());
  std::sort(passed.begin(), passed.end(),
            [](const ByteRun& a, const ByteRun& b) { return a.offset < b.offset; });
  std::uint64_t reach = 0;  // the farthest end of the runs before each, for the search
  std::vector<std::uint64_t> reach_before;
  for (const ByteRun& r : passed) {
    reach_before.push_back(reach);
    reach = std::max(reach, r.offset + r.length);
  }
  const auto overlaps_passed = [&](const ByteRun& run) {
    auto it = std::lower_bound(passed.begin(), passed.end(), run.offset + run.length,
                               [](const ByteRun& r, std::uint64_t end) { return r.offset < end; });
    // Runs starting before `run` ends; any of them reaching past its start overlaps it.
    if (it == passed.begin()) return false;
    const auto last = static_cast<std::size_t>(it - passed.begin()) - 1;
    const std::uint64_t far =
        std::max(reach_before[last], passed[last].offset + passed[last].length);
    return far > run.offset;
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (dropped[i] ||
        (files[i].check != UndeleteCheck::kUnchecked && files[i].check != UndeleteCheck::kFailed))
      continue;
    for (const ByteRun& run : files[i].entry.runs)
      if (overlaps_passed(run)) {
        files[i].check = UndeleteCheck::kOverwritten;
        break;
      }
  }

  std::vector<UndeletedFile> kept;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (!dropped[i]) kept.push_back(std::move(files[i]));
  NameSavedPaths(kept, layout);
  return kept;
}

std::set<std::uint64_t> UndeletedStarts(const std::vector<UndeletedFile>& undeleted,
                                        const FreeSpaceLayout& layout) {
  std::set<std::uint64_t> starts;
  for (const UndeletedFile& f : undeleted)
    if (f.SavedByDefault() && !f.entry.runs.empty()) starts.insert(f.DiskOffset(layout));
  return starts;
}

std::vector<std::vector<TfileExt>> WithoutUndeleted(const std::vector<std::vector<TfileExt>>& work,
                                                    const FoundPlace& place,
                                                    const std::vector<UndeletedFile>& undeleted,
                                                    const FreeSpaceLayout& layout) {
  const std::set<std::uint64_t> starts = UndeletedStarts(undeleted, layout);
  std::vector<std::vector<TfileExt>> out;
  for (const auto& list : work) {
    std::vector<TfileExt> kept;
    for (const TfileExt& file : list)
      if (starts.count(place.DiskLBA(file.LBA) * 512) == 0) kept.push_back(file);
    if (!kept.empty()) out.push_back(std::move(kept));
  }
  return out;
}
