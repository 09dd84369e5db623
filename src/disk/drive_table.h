#pragma once

#include "disk/drive_parameters.h"
#include "disk/sector_reader.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// The largest request one ReadSectors call serves.
inline constexpr std::uint32_t kMaxReadBytes = 1048576;

/// One numbered drive: a whole-disk block device or a registered image file.
struct DriveEntry {
  std::string name;  ///< "sda", or the image's file name
  std::string path;  ///< what is opened to read it
  bool is_image = false;
};

/// Drive numbers: the whole-disk block devices listed under <sysfs>/block (loop, ram,
/// zram and devices of size 0 left out) in name order, numbered from 0, followed by the registered
/// image files. Every operation opens its source read-only and closes it before returning.
class DriveTable {
 public:
  explicit DriveTable(std::string sysfs_root = "/sys", std::string dev_root = "/dev");

  /// Lists the block devices again; registered images stay, after them.
  void Refresh();
  /// Adds an image file as a drive and returns its number.
  int RegisterImage(const std::string& path);

  [[nodiscard]] const std::vector<DriveEntry>& Drives() const { return drives_; }
  [[nodiscard]] const DriveEntry* Find(int drive) const;
  [[nodiscard]] const std::string& SysfsRoot() const { return sysfs_root_; }

  /// Opens drive `drive` for reading; null with the reason in `err` (and its errno in
  /// `error_number`, ENODEV for a number that is not in the table) when it cannot be.
  std::unique_ptr<SectorReader> Open(int drive, std::string* err,
                                     int* error_number = nullptr) const;

  /// Reads `byteCount` bytes (cut to kMaxReadBytes) from byte offset lba x 512. True
  /// only when every byte arrived; `sectorCount` is not used by this back-end.
  bool ReadSectors(int drive, std::uint64_t lba, std::uint8_t sectorCount, std::uint32_t byteCount,
                   void* buffer) const;

  /// Fills `out` for the drive; false, with `out` untouched, when it does not answer (no
  /// such number, cannot be opened, or no sectors). Counts are in 512-byte sectors and
  /// BytesPerSector is 512 whatever the device's logical sector size.
  bool GetDriveParameters(int drive, DriveParameters& out) const;
  bool GetDiskGeometry(int drive, DiskGeometry& out) const;

  /// The sysfs "removable" attribute of a block device; false for images.
  [[nodiscard]] bool IsRemovable(int drive) const;

  /// Parameters of a block device read from sysfs alone (size, logical block size,
  /// removable), for a disk the user may not open. False for images and empty drives.
  bool SysfsDriveParameters(int drive, DriveParameters& out) const;

 private:
  std::string sysfs_root_;
  std::string dev_root_;
  std::vector<DriveEntry> drives_;
  std::vector<std::string> images_;
};

/// The process's drive table over the real /sys and /dev.
DriveTable& DefaultDriveTable();

/// The platform's conventional geometry for a disk of `total_sectors`: 255 heads,
/// 63 sectors per track, whole cylinders.
[[nodiscard]] DriveParameters ParametersForSize(std::uint64_t total_sectors,
                                                std::uint32_t bytes_per_sector, bool removable);
