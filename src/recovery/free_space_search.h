#pragma once

#include "disk/cancel_token.h"
#include "disk/free_space.h"
#include "disk/sector_reader.h"
#include "recovery/found_place.h"
#include "recovery/undelete.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

/// A scan of the free space of the file systems on one disk: the space found, and the stream
/// of its runs that the scan reads. It is kept with the found list, so that the names, sectors,
/// previews and saves of the files found speak of the disk.
class FreeSpaceSearch {
 public:
  FreeSpaceSearch() = default;
  FreeSpaceSearch(const FreeSpaceSearch&) = delete;
  FreeSpaceSearch& operator=(const FreeSpaceSearch&) = delete;

  /// Finds the partitions and file systems on `disk`, which it keeps, and lays out their free
  /// space and the deleted files they still name (FindFreeSpace). Once `cancel` is set the
  /// disk's reads fail at once, so a stop ends the search soon. Called once, on the thread
  /// that then scans Stream().
  void Find(std::unique_ptr<SectorReader> disk, const CancelToken& cancel);
  /// Checks the deleted files the file systems name against the disk (CheckDeletedFiles).
  /// A stop lists none of them: the files it had not reached would pass for unchecked, and
  /// be saved. Called once, after Find, on the same thread.
  void CheckDeleted(const CancelToken& cancel);

  /// The free runs read as one disk, for the scan; null until Find has laid them out. Safe
  /// from any thread; what follows may be used only once it is not null.
  [[nodiscard]] SectorReader* Stream() const { return stream_.load(std::memory_order_acquire); }
  /// Where the stream's sectors lie on the disk; until Find is done, the disk's own sectors.
  /// Safe from any thread while the scan runs.
  [[nodiscard]] FoundPlace Place() const {
    return FoundPlace(stream_.load(std::memory_order_acquire));
  }
  /// The file systems found and the space searched.
  [[nodiscard]] const FreeSpaceLayout& Layout() const { return layout_; }
  /// The deleted files the file systems name, checked; null until CheckDeleted is done. Safe
  /// from any thread.
  [[nodiscard]] const std::vector<UndeletedFile>* Undeleted() const {
    return checked_.load(std::memory_order_acquire) ? &undeleted_ : nullptr;
  }

  /// The same runs read from `disk` (another opening of the same disk), which the reader owns:
  /// for a preview or a save, each on a thread of its own.
  [[nodiscard]] std::unique_ptr<SectorReader> StreamOver(std::unique_ptr<SectorReader> disk) const;
  /// The bytes of one deleted file read as a disk of their own, from offset 0: its runs of
  /// `disk` (which the reader owns), or the bytes its file system kept in its records.
  [[nodiscard]] static std::unique_ptr<SectorReader> FileOver(std::unique_ptr<SectorReader> disk,
                                                              const UndeletedFile& file);

  /// What was searched, one line a file system ("fat32 at sector 2048: 1.19 MB free of
  /// 48.00 MB searched"), then the notes.
  [[nodiscard]] std::vector<std::string> Lines() const;

 private:
  std::unique_ptr<SectorReader> disk_;
  FreeSpaceLayout layout_;
  std::unique_ptr<MappedSectorReader> own_stream_;
  std::atomic<MappedSectorReader*> stream_{nullptr};
  std::vector<UndeletedFile> undeleted_;
  std::atomic<bool> checked_{false};
};
