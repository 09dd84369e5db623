#include "recovery/free_space_search.h"

#include "disk/memory_sector_reader.h"
#include "recovery/format_size.h"

#include <cerrno>

namespace {

/// The disk as the file system reader sees it: once the stop is asked for, every read fails
/// at once instead of going on to the disk.
class StoppableReader final : public SectorReader {
 public:
  StoppableReader(SectorReader& disk, const CancelToken& cancel) : disk_(disk), cancel_(cancel) {}

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    if (cancel_.Cancelled()) return {0, ECANCELED};
    return disk_.ReadAt(offset, buffer, size);
  }
  [[nodiscard]] std::string CheckPresent() const override { return disk_.CheckPresent(); }
  [[nodiscard]] std::uint64_t SizeBytes() const override { return disk_.SizeBytes(); }
  [[nodiscard]] std::uint32_t LogicalSectorSize() const override {
    return disk_.LogicalSectorSize();
  }

 private:
  SectorReader& disk_;
  const CancelToken& cancel_;
};

/// Runs of a disk read as one disk, owning the disk it reads.
class OwningStream final : public SectorReader {
 public:
  OwningStream(std::unique_ptr<SectorReader> disk, std::vector<ByteRun> runs)
      : disk_(std::move(disk)), stream_(*disk_, std::move(runs)) {}

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    return stream_.ReadAt(offset, buffer, size);
  }
  ReadResult ReadUncached(std::uint64_t offset, void* buffer, std::size_t size) override {
    return stream_.ReadUncached(offset, buffer, size);
  }
  [[nodiscard]] std::string CheckPresent() const override { return stream_.CheckPresent(); }
  void Forget(std::uint64_t offset, std::uint64_t size) override { stream_.Forget(offset, size); }
  [[nodiscard]] bool IsCached(std::uint64_t offset, std::uint64_t size) const override {
    return stream_.IsCached(offset, size);
  }
  [[nodiscard]] std::uint64_t SizeBytes() const override { return stream_.SizeBytes(); }
  [[nodiscard]] std::uint32_t LogicalSectorSize() const override {
    return stream_.LogicalSectorSize();
  }

 private:
  std::unique_ptr<SectorReader> disk_;
  MappedSectorReader stream_;
};

}  // namespace

void FreeSpaceSearch::Find(std::unique_ptr<SectorReader> disk, const CancelToken& cancel) {
  disk_ = std::move(disk);
  StoppableReader stoppable(*disk_, cancel);
  layout_ = FindFreeSpace(stoppable, /*list_deleted=*/true);
  own_stream_ = std::make_unique<MappedSectorReader>(*disk_, layout_.runs);
  stream_.store(own_stream_.get(), std::memory_order_release);
}

void FreeSpaceSearch::CheckDeleted(const CancelToken& cancel) {
  if (disk_ && !cancel.Cancelled()) {
    StoppableReader stoppable(*disk_, cancel);
    undeleted_ = CheckDeletedFiles(stoppable, layout_, cancel);
    if (cancel.Cancelled()) undeleted_.clear();
  }
  checked_.store(true, std::memory_order_release);
}

std::unique_ptr<SectorReader> FreeSpaceSearch::FileOver(std::unique_ptr<SectorReader> disk,
                                                        const UndeletedFile& file) {
  if (file.entry.runs.empty()) return std::make_unique<MemorySectorReader>(file.entry.content);
  return std::make_unique<OwningStream>(std::move(disk), file.entry.runs);
}

std::unique_ptr<SectorReader> FreeSpaceSearch::StreamOver(
    std::unique_ptr<SectorReader> disk) const {
  return std::make_unique<OwningStream>(std::move(disk), layout_.runs);
}

std::vector<std::string> FreeSpaceSearch::Lines() const {
  std::vector<std::string> lines;
  for (const FileSystemArea& fs : layout_.file_systems)
    lines.push_back(fs.type + " at sector " + std::to_string(fs.offset / 512) + ": " +
                    FormatFileSize(fs.free_bytes) + " free of " + FormatFileSize(fs.length) +
                    " searched");
  lines.insert(lines.end(), layout_.notes.begin(), layout_.notes.end());
  return lines;
}
