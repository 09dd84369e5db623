#pragma once

#include "disk/bad_sector_map.h"
#include "disk/cancel_token.h"
#include "disk/rescue_reader.h"
#include "disk/sector_reader.h"
#include "recovery/found_file.h"
#include "recovery/found_place.h"
#include "recovery/output_guard.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

/// How a save ended.
enum class SaveEnd {
  kCompleted,
  kStopped,     ///< the caller's token was cancelled
  kFailed,      ///< a file could not be created or written
  kSourceLost,  ///< the disk stopped answering or ended early
};

/// An error that ends a save: "Cannot create file %s", "Stream write error" or "The disk
/// can no longer be read". `reason` holds the system's word for it ("No space left on
/// device") when there is one.
class SaveError : public std::runtime_error {
 public:
  SaveError(const std::string& message, std::string reason, SaveEnd end = SaveEnd::kFailed)
      : std::runtime_error(message), reason_(std::move(reason)), end_(end) {}
  [[nodiscard]] const std::string& reason() const { return reason_; }
  [[nodiscard]] SaveEnd end() const { return end_; }

 private:
  std::string reason_;
  SaveEnd end_;
};

/// How a front end follows a save. Every call comes from the thread that saves.
class SaveObserver {
 public:
  virtual ~SaveObserver() = default;
  /// The number of files to copy in this save (the gauge's maximum).
  virtual void AmountOfFile(std::size_t /*count*/) {}
  /// "File in queue : " followed by `count`.
  virtual void Queue(std::size_t /*count*/) {}
  /// "File name : " followed by `name` (empty between files).
  virtual void CurrentFile(const std::string& /*name*/) {}
  /// `processed` files are handled (the gauge's position).
  virtual void Processed(std::size_t /*processed*/) {}
  /// `done` bytes of the `total` this save copies (each file cut to the limit) are written.
  virtual void Bytes(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
};

struct SaveTotals {
  std::size_t files_handled = 0;
  std::size_t files_written = 0;
  std::uint64_t bytes_written = 0;       ///< including the part of an incomplete file
  std::uint64_t unreadable_sectors = 0;  ///< written as zeros
  std::vector<std::string> written;      ///< names of the files written whole, in order
  /// The file cut by Stop, a lost source or a write error: it keeps what was written.
  /// Empty when no file was cut.
  std::string incomplete;
  SaveEnd end = SaveEnd::kCompleted;
};

/// A file saved under a path of its own, from its pieces on the disk: an undeleted file.
struct NamedFile {
  std::string path;  ///< relative to the folder saved into, made safe (see SafeRelativePath)
  std::uint64_t size = 0;
  std::vector<ByteRun> runs;          ///< where its bytes lie on the disk, in order
  std::vector<std::uint8_t> content;  ///< its bytes, when `runs` is empty
};

/// Copies found files from a disk into a folder: each record's sectors from its start,
/// cut to the per-file limit, into folder/FileName. Only a regular file of that name is
/// replaced; a symbolic link, FIFO, device or folder of that name, or the source itself,
/// ends the save with an error and is left as it was.
class FileSaver {
 public:
  /// `cancel` is this save's stop request, owned by the caller: a cancelled token ends
  /// the save after the chunk being written. `max_size_mb` 0 means no limit.
  FileSaver(SectorReader& reader, std::string folder, std::uint32_t max_size_mb,
            const CancelToken& cancel, SaveObserver& observer);

  /// The source the reader reads, so that no output file can be it.
  void SetSource(const SourceIdentity& source) { source_ = source; }
  /// Names the files by where they lie on the disk when the reader is a stream of its pieces.
  void SetPlace(const FoundPlace& place) { place_ = place; }

  /// Saves every list of `work` in order, then each of `named` under its path, its folders
  /// made as needed (never through a symbolic link), read from `disk` (the reader's own
  /// disk when null). Throws SaveError when a file cannot be created or written or the
  /// source is lost; the files written so far stay, and Totals() tells what was saved and
  /// which file was cut.
  SaveTotals Save(const std::vector<std::vector<TfileExt>>& work,
                  const std::vector<NamedFile>& named = {}, SectorReader* disk = nullptr);

  [[nodiscard]] const SaveTotals& Totals() const { return totals_; }

 private:
  void CopyFoundFiles(const std::vector<TfileExt>& files);
  void CopyOne(const TfileExt& file);
  void CopyNamed(const NamedFile& file, RescueReader& disk);
  /// Copies `runs` of `rescue` into the opened output `fd`, named `name`; false when Stop
  /// cut it.
  bool CopyRuns(const std::vector<ByteRun>& runs, RescueReader& rescue, int fd,
                const std::string& name);
  /// The opened output file `name` in folder `dir` (AT_FDCWD: `name` is a path), emptied;
  /// throws SaveError, naming it `shown`, for anything but a regular file that is not the
  /// source.
  int OpenOutput(int dir, const std::string& name, const std::string& shown);
  /// The folder `relative` under the folder saved into, made as needed, opened; throws
  /// SaveError when a part of it is a symbolic link or no folder.
  int OpenFolder(const std::string& relative);

  SectorReader& reader_;
  BadSectorMap bad_map_;
  RescueReader rescue_;
  BadSectorMap disk_bad_map_;  ///< for named files, which are read from the disk itself
  std::string folder_;
  std::uint64_t limit_bytes_;
  const CancelToken& cancel_;
  SaveObserver& observer_;
  SourceIdentity source_;
  FoundPlace place_;
  std::size_t amount_ = 0;
  std::uint64_t bytes_to_copy_ = 0;  ///< every file of the save, each cut to the limit
  SaveTotals totals_;
  std::vector<std::uint8_t> buffer_;
};
