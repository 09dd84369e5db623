#include "disk/free_space.h"

#include <tsk/libtsk.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

/// The source disk as The Sleuth Kit's image: its reads go through our sector reader, so
/// failing disks and every image format the reader takes work the same way.
struct ReaderImage {
  TSK_IMG_INFO info;  // first, as the library requires
  SectorReader* reader;
};

ssize_t ReadImage(TSK_IMG_INFO* img, TSK_OFF_T offset, char* buffer, size_t size) {
  auto* self = reinterpret_cast<ReaderImage*>(img);
  const ReadResult got = self->reader->ReadAt(static_cast<std::uint64_t>(offset), buffer, size);
  if (got.bytes == 0 && got.error != 0) return -1;
  return static_cast<ssize_t>(got.bytes);
}

void CloseImage(TSK_IMG_INFO*) {}
void StatImage(TSK_IMG_INFO*, FILE*) {}

struct ImageCloser {
  void operator()(TSK_IMG_INFO* img) const { tsk_img_close(img); }
};
struct VolumeCloser {
  void operator()(TSK_VS_INFO* vs) const { tsk_vs_close(vs); }
};
struct FileSystemCloser {
  void operator()(TSK_FS_INFO* fs) const { tsk_fs_close(fs); }
};

std::string LibraryError() {
  const char* text = tsk_error_get();
  std::string out = text ? text : "unknown reason";
  tsk_error_reset();
  return out;
}

/// Adds [offset, offset + length) to `runs`, joining it to the last run when they touch.
void Append(std::vector<ByteRun>& runs, std::uint64_t offset, std::uint64_t length) {
  if (length == 0) return;
  if (!runs.empty() && runs.back().offset + runs.back().length == offset)
    runs.back().length += length;
  else
    runs.push_back({offset, length});
}

/// A file system's area of the disk and the free runs inside it.
struct Area {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::vector<ByteRun> free;
};

/// True when [offset, offset + length) lies wholly in `free`, which is in disk order with
/// touching runs joined.
bool AllFree(const std::vector<ByteRun>& free, std::uint64_t offset, std::uint64_t length) {
  auto after = std::upper_bound(free.begin(), free.end(), offset,
                                [](std::uint64_t at, const ByteRun& r) { return at < r.offset; });
  if (after == free.begin()) return false;
  const ByteRun& r = *std::prev(after);
  return offset + length <= r.offset + r.length;
}

/// Small files whose bytes a file system keeps in its own records are read whole up to this.
constexpr std::uint64_t kMaxRecordBytes = 1 << 20;

struct DeletedWalk {
  TSK_FS_INFO* fs;
  const std::vector<ByteRun>* free;
  std::size_t file_system;
  std::vector<DeletedEntry>* out;
};

/// One name of the directory walk: a deleted regular file whose record has not been taken
/// by a file in use becomes an entry.
TSK_WALK_RET_ENUM OnName(TSK_FS_FILE* file, const char* folder, void* data) {
  auto* walk = static_cast<DeletedWalk*>(data);
  if (!file->name || !(file->name->flags & TSK_FS_NAME_FLAG_UNALLOC) || !file->meta)
    return TSK_WALK_CONT;
  const TSK_FS_META* meta = file->meta;
  if ((meta->flags & TSK_FS_META_FLAG_ALLOC) || meta->type != TSK_FS_META_TYPE_REG ||
      meta->size <= 0)
    return TSK_WALK_CONT;
  DeletedEntry entry;
  entry.path = std::string(folder ? folder : "") + file->name->name;
  entry.size = static_cast<std::uint64_t>(meta->size);
  entry.file_system = walk->file_system;
  const TSK_FS_ATTR* attr = tsk_fs_file_attr_get(file);
  if (!attr) {
    tsk_error_reset();
    entry.partial = true;
  } else if (!(attr->flags & TSK_FS_ATTR_NONRES)) {
    if (entry.size <= kMaxRecordBytes) {
      entry.content.resize(static_cast<std::size_t>(entry.size));
      const ssize_t got = tsk_fs_file_read(file, 0, reinterpret_cast<char*>(entry.content.data()),
                                           entry.content.size(), TSK_FS_FILE_READ_FLAG_NONE);
      if (got < 0) tsk_error_reset();
      entry.content.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    entry.partial = entry.content.size() < entry.size;
  } else {
    const std::uint64_t block = walk->fs->block_size;
    const auto base = static_cast<std::uint64_t>(walk->fs->offset);
    std::uint64_t left = entry.size;
    for (const TSK_FS_ATTR_RUN* run = attr->nrd.run; run && left > 0; run = run->next) {
      const std::uint64_t length = std::min(left, run->len * block);
      if (run->flags & (TSK_FS_ATTR_RUN_FLAG_FILLER | TSK_FS_ATTR_RUN_FLAG_SPARSE)) {
        entry.partial = true;
        break;
      }
      const std::uint64_t offset = base + run->addr * block;
      Append(entry.runs, offset, length);
      if (!AllFree(*walk->free, offset, length)) entry.in_use = true;
      left -= length;
    }
    if (left > 0) entry.partial = true;
  }
  walk->out->push_back(std::move(entry));
  return TSK_WALK_CONT;
}

struct WalkState {
  TSK_FS_INFO* fs;
  std::vector<ByteRun>* runs;
};

TSK_WALK_RET_ENUM OnFreeBlock(const TSK_FS_BLOCK* block, void* data) {
  auto* state = static_cast<WalkState*>(data);
  const std::uint64_t size = state->fs->block_size;
  Append(*state->runs, static_cast<std::uint64_t>(state->fs->offset) + block->addr * size, size);
  return TSK_WALK_CONT;
}

/// The file system at `offset`, if the library knows one there, with its free runs; a known
/// one that cannot be walked is said in `notes` and left out (its space is searched whole).
std::optional<Area> ReadArea(TSK_IMG_INFO* img, std::uint64_t offset, std::uint64_t limit,
                             int partition, bool list_deleted, FreeSpaceLayout& layout) {
  std::unique_ptr<TSK_FS_INFO, FileSystemCloser> fs(
      tsk_fs_open_img(img, static_cast<TSK_OFF_T>(offset), TSK_FS_TYPE_DETECT));
  if (!fs) {
    tsk_error_reset();
    return std::nullopt;
  }
  const std::string type = tsk_fs_type_toname(fs->ftype);
  Area area;
  area.start = offset;
  area.end = std::min(limit, offset + (fs->last_block_act + 1) * std::uint64_t{fs->block_size});
  WalkState state{fs.get(), &area.free};
  const auto flags = static_cast<TSK_FS_BLOCK_WALK_FLAG_ENUM>(TSK_FS_BLOCK_WALK_FLAG_UNALLOC |
                                                              TSK_FS_BLOCK_WALK_FLAG_AONLY);
  if (tsk_fs_block_walk(fs.get(), fs->first_block, fs->last_block_act, flags, OnFreeBlock,
                        &state) != 0) {
    layout.notes.push_back("The " + type + " file system at sector " +
                           std::to_string(offset / 512) + " could not be read (" + LibraryError() +
                           "); its sectors are searched whole.");
    return std::nullopt;
  }
  // Free runs past the end of the disk (a cut-off image) are dropped.
  std::erase_if(area.free, [&](ByteRun& r) {
    if (r.offset >= area.end) return true;
    r.length = std::min(r.length, area.end - r.offset);
    return false;
  });
  FileSystemArea found;
  found.type = type;
  found.offset = area.start;
  found.length = area.end - area.start;
  found.block_size = fs->block_size;
  found.partition = partition;
  for (const ByteRun& r : area.free) found.free_bytes += r.length;
  layout.file_systems.push_back(found);
  if (list_deleted) {
    // Orphans are records no folder lists any more. NTFS records keep their own names, so
    // they are listed there (under $OrphanFiles); elsewhere they have no name to give and are
    // left to the search.
    DeletedWalk walk{fs.get(), &area.free, layout.file_systems.size() - 1, &layout.deleted};
    auto walk_flags = TSK_FS_DIR_WALK_FLAG_RECURSE | TSK_FS_DIR_WALK_FLAG_UNALLOC;
    if (!TSK_FS_TYPE_ISNTFS(fs->ftype)) walk_flags |= TSK_FS_DIR_WALK_FLAG_NOORPHAN;
    if (tsk_fs_dir_walk(fs.get(), fs->root_inum, static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(walk_flags),
                        OnName, &walk) != 0)
      layout.notes.push_back("The folders of the " + type + " file system at sector " +
                             std::to_string(offset / 512) + " could not all be read (" +
                             LibraryError() + "); deleted names in them are not listed.");
  }
  return area;
}

}  // namespace

std::uint64_t FreeSpaceLayout::TotalBytes() const {
  std::uint64_t total = 0;
  for (const ByteRun& r : runs) total += r.length;
  return total;
}

const FileSystemArea* FreeSpaceLayout::FileSystemAt(std::uint64_t offset) const {
  for (const FileSystemArea& fs : file_systems)
    if (offset >= fs.offset && offset - fs.offset < fs.length) return &fs;
  return nullptr;
}

FreeSpaceLayout FindFreeSpace(SectorReader& reader, bool list_deleted) {
  FreeSpaceLayout layout;
  const std::uint64_t disk_end = reader.SizeBytes();
  auto image = std::make_unique<ReaderImage>();
  image->info.tag = TSK_IMG_INFO_TAG;
  image->reader = &reader;
  std::unique_ptr<TSK_IMG_INFO, ImageCloser> img(tsk_img_open_external(
      image.get(), static_cast<TSK_OFF_T>(disk_end),
      std::max<unsigned>(512, reader.LogicalSectorSize()), ReadImage, CloseImage, StatImage));

  std::vector<Area> areas;
  if (img) {
    std::unique_ptr<TSK_VS_INFO, VolumeCloser> vs(tsk_vs_open(img.get(), 0, TSK_VS_TYPE_DETECT));
    if (vs) {
      int slot = 0;
      for (const TSK_VS_PART_INFO* part = vs->part_list; part; part = part->next) {
        if (!(part->flags & TSK_VS_PART_FLAG_ALLOC)) continue;
        ++slot;
        const std::uint64_t start = vs->offset + part->start * std::uint64_t{vs->block_size};
        const std::uint64_t end =
            std::min(disk_end, start + part->len * std::uint64_t{vs->block_size});
        if (start >= end) continue;
        const std::size_t said = layout.notes.size();
        if (auto area = ReadArea(img.get(), start, end, slot, list_deleted, layout))
          areas.push_back(*area);
        else if (layout.notes.size() == said)
          layout.notes.push_back("No file system known in the partition at sector " +
                                 std::to_string(start / 512) + " (" +
                                 (part->desc ? part->desc : "no description") +
                                 "); its sectors are searched whole.");
      }
    } else {
      tsk_error_reset();
      // No partition table: a file system may start at the first sector (a partition image).
      const std::size_t said = layout.notes.size();
      if (auto area = ReadArea(img.get(), 0, disk_end, 0, list_deleted, layout))
        areas.push_back(*area);
      else if (layout.notes.size() == said)
        layout.notes.push_back(
            "No partition table or file system known on the disk; it is "
            "searched whole.");
    }
  } else {
    layout.notes.push_back("The disk could not be opened for its file systems (" + LibraryError() +
                           "); it is searched whole.");
  }

  // Disk order: the space before each file system whole, then its free runs.
  std::sort(areas.begin(), areas.end(),
            [](const Area& a, const Area& b) { return a.start < b.start; });
  std::uint64_t cursor = 0;
  for (const Area& area : areas) {
    if (area.start < cursor) continue;  // overlapping entries: the first one wins
    Append(layout.runs, cursor, area.start - cursor);
    for (const ByteRun& r : area.free) Append(layout.runs, r.offset, r.length);
    cursor = area.end;
  }
  if (cursor < disk_end) Append(layout.runs, cursor, disk_end - cursor);
  return layout;
}

MappedSectorReader::MappedSectorReader(SectorReader& source, std::vector<ByteRun> runs)
    : source_(source), runs_(std::move(runs)) {
  starts_.reserve(runs_.size());
  for (const ByteRun& r : runs_) {
    starts_.push_back(total_);
    total_ += r.length;
  }
}

std::size_t MappedSectorReader::RunAt(std::uint64_t offset) const {
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  return static_cast<std::size_t>(after - starts_.begin()) - 1;
}

template <typename Read>
ReadResult MappedSectorReader::Gather(std::uint64_t offset, void* buffer, std::size_t size,
                                      Read read) {
  ReadResult result;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (result.bytes < size && offset < total_) {
    const std::size_t i = RunAt(offset);
    const std::uint64_t into = offset - starts_[i];
    const std::size_t piece = static_cast<std::size_t>(
        std::min<std::uint64_t>(size - result.bytes, runs_[i].length - into));
    const ReadResult got = read(runs_[i].offset + into, out + result.bytes, piece);
    result.bytes += got.bytes;
    offset += got.bytes;
    if (got.bytes < piece) {
      result.error = got.error;
      break;
    }
  }
  return result;
}

ReadResult MappedSectorReader::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) {
  return Gather(offset, buffer, size, [this](std::uint64_t at, void* into, std::size_t n) {
    return source_.ReadAt(at, into, n);
  });
}

ReadResult MappedSectorReader::ReadUncached(std::uint64_t offset, void* buffer, std::size_t size) {
  return Gather(offset, buffer, size, [this](std::uint64_t at, void* into, std::size_t n) {
    return source_.ReadUncached(at, into, n);
  });
}

std::vector<ByteRun> MappedSectorReader::PhysicalRuns(std::uint64_t offset,
                                                      std::uint64_t size) const {
  std::vector<ByteRun> out;
  while (size > 0 && offset < total_) {
    const std::size_t i = RunAt(offset);
    const std::uint64_t into = offset - starts_[i];
    const std::uint64_t piece = std::min(size, runs_[i].length - into);
    Append(out, runs_[i].offset + into, piece);
    offset += piece;
    size -= piece;
  }
  return out;
}

void MappedSectorReader::Forget(std::uint64_t offset, std::uint64_t size) {
  for (const ByteRun& r : PhysicalRuns(offset, size)) source_.Forget(r.offset, r.length);
}

bool MappedSectorReader::IsCached(std::uint64_t offset, std::uint64_t size) const {
  for (const ByteRun& r : PhysicalRuns(offset, size))
    if (!source_.IsCached(r.offset, r.length)) return false;
  return true;
}
