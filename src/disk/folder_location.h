#pragma once

#include "disk/drive_table.h"

#include <string>

/// True when `folder` lies on a file system of block device `drive` (the whole disk or
/// one of its partitions). Saving there could overwrite the deleted files being
/// recovered. False for image drives and when it cannot be told.
[[nodiscard]] bool FolderLiesOnDrive(const DriveTable& table, int drive, const std::string& folder);
