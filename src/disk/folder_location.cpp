#include "disk/folder_location.h"

#include <filesystem>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

bool FolderLiesOnDrive(const DriveTable& table, int drive, const std::string& folder) {
  const DriveEntry* entry = table.Find(drive);
  if (entry == nullptr || entry->is_image) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  // <sysfs>/dev/block/MAJOR:MINOR leads to the device holding the folder; a partition's
  // folder sits inside its disk's folder and has a "partition" file.
  const fs::path link = fs::path(table.SysfsRoot()) / "dev" / "block" /
                        (std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)));
  std::error_code ec;
  const fs::path device = fs::canonical(link, ec);
  if (ec) return false;
  const bool is_partition = fs::exists(device / "partition", ec);
  const std::string disk = (is_partition ? device.parent_path() : device).filename().string();
  return disk == entry->name;
}
