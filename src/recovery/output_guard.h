#pragma once

#include <string>

#include <sys/types.h>

/// The file a save reads from, as the system names it, so that no output file can be it.
struct SourceIdentity {
  dev_t device = 0;  ///< st_dev of the source (the file system an image lies on)
  ino_t inode = 0;
  dev_t rdev = 0;  ///< the device number of a block-device source; 0 for an image
  bool known = false;
};

/// The identity of the disk or image at `path`; `known` is false when it cannot be stat'ed.
[[nodiscard]] SourceIdentity IdentifySource(const std::string& path);

/// Why saving into `folder` could write onto the source; empty when it cannot. A block
/// device source is hit when the folder's file system is mounted from it, from one of
/// its partitions, or from anything built on them (loop devices over files on them,
/// device-mapper, LVM, crypt and md holders, btrfs device sets). An image source is hit
/// when the folder's file system lies on a loop device backed by that image.
/// `sysfs` and `mountinfo` are where the system tells it ("/sys", "/proc/self/mountinfo").
[[nodiscard]] std::string OutputFolderProblem(
    const SourceIdentity& source, const std::string& folder, const std::string& sysfs = "/sys",
    const std::string& mountinfo = "/proc/self/mountinfo");
