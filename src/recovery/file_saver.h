#pragma once

#include "disk/sector_reader.h"
#include "recovery/found_file.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

/// An error that ends a save: "Cannot create file %s" or "Stream write error". `reason`
/// holds the system's word for it ("No space left on device") when there is one.
class SaveError : public std::runtime_error {
 public:
  SaveError(const std::string& message, std::string reason)
      : std::runtime_error(message), reason_(std::move(reason)) {}
  [[nodiscard]] const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
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
};

struct SaveTotals {
  std::size_t files_handled = 0;
  std::size_t files_written = 0;
  std::uint64_t bytes_written = 0;
  std::uint64_t unreadable_sectors = 0;  ///< written as zeros
  std::vector<std::string> written;      ///< names of the files written, in order
};

/// Copies found files from a disk into a folder: each record's sectors from its start,
/// cut to the per-file limit, into folder/FileName (replacing a file of that name).
class FileSaver {
 public:
  /// `pause` is the front end's stop request; Stop() during a save ends it after the
  /// chunk being written, and passes on to `pause`.
  FileSaver(SectorReader& reader, std::string folder, std::uint32_t max_size_mb,
            std::atomic<bool>& pause, SaveObserver& observer);

  /// Saves every list of `work` in order, stopping before a list once `pause` is set.
  /// Throws SaveError when a file cannot be created or written; the files written so far
  /// stay. `pause` is false afterwards.
  SaveTotals Save(const std::vector<std::vector<TfileExt>>& work);

  /// Copies one list; throws SaveError as Save does.
  void CopyFoundFiles(const std::vector<TfileExt>& files);

  /// The copy window's Stop.
  void Stop() { stop_.store(true); }

  [[nodiscard]] const SaveTotals& Totals() const { return totals_; }

 private:
  void CopyOne(const TfileExt& file);
  void ReadChunk(std::uint64_t offset, std::uint8_t* buffer, std::size_t size);

  SectorReader& reader_;
  std::string folder_;
  std::uint64_t limit_bytes_;
  std::atomic<bool>& pause_;
  SaveObserver& observer_;
  std::atomic<bool> stop_{false};
  std::size_t amount_ = 0;
  SaveTotals totals_;
  std::vector<std::uint8_t> buffer_;
};
