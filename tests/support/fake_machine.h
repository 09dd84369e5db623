#pragma once

#include "support/temp_dir.h"

#include <cstdint>
#include <string>

#include <unistd.h>

/// A fake machine for the drive table: sysfs entries under sys/ and device files under
/// dev/ that are sparse image files of the disk's size.
class FakeMachine {
 public:
  struct Disk {
    std::string name{};
    std::uint64_t sectors = 0;  ///< 512-byte units, as sysfs counts them
    bool removable = false;
    std::string model{};  ///< sysfs device/model; none when empty
    std::uint32_t logical_block_size = 512;
    bool device_file = true;  ///< false: listed in sysfs with no device to open
  };

  /// Adds a disk; false when the file system cannot hold a sparse file that large.
  bool Add(const Disk& disk) {
    const std::string block = "sys/block/" + disk.name + "/";
    WriteText(dir_ / (block + "removable"), disk.removable ? "1\n" : "0\n");
    WriteText(dir_ / (block + "size"), std::to_string(disk.sectors) + "\n");
    WriteText(dir_ / (block + "queue/logical_block_size"),
              std::to_string(disk.logical_block_size) + "\n");
    if (!disk.model.empty()) WriteText(dir_ / (block + "device/model"), disk.model);
    if (!disk.device_file) return true;
    const std::string dev = DevicePath(disk.name);
    WriteFile(dev, {});
    return ::truncate(dev.c_str(), static_cast<off_t>(disk.sectors * 512)) == 0;
  }

  [[nodiscard]] std::string DevicePath(const std::string& name) const {
    return dir_ / ("dev/" + name);
  }
  [[nodiscard]] std::string Sys() const { return dir_ / "sys"; }
  [[nodiscard]] std::string Dev() const { return dir_ / "dev"; }

  TempDir dir_;
};
