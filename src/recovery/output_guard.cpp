#include "recovery/output_guard.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace {

std::string DevName(dev_t dev) {
  return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

/// Walks from a block device down to every device it is built on, whole disks included.
class Underneath {
 public:
  /// `follow_backing`: a loop device counts as lying on its backing file's file system.
  Underneath(std::string sysfs, std::string mountinfo, bool follow_backing = true)
      : sysfs_(std::move(sysfs)),
        mountinfo_(std::move(mountinfo)),
        follow_backing_(follow_backing) {}

  /// Every device number under the file system that holds `st_dev`.
  std::set<dev_t> Of(dev_t st_dev) {
    std::vector<dev_t> start{st_dev};
    // A btrfs or other anonymous-device mount names its device(s) in mountinfo.
    for (const std::string& source : MountSources(st_dev)) {
      struct stat st {};
      if (::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) start.push_back(st.st_rdev);
      AddBtrfsSet(source, start);
    }
    for (const dev_t dev : start) Walk(dev, 0);
    return seen_;
  }

 private:
  void Walk(dev_t dev, int depth) {
    if (depth > 16 || !seen_.insert(dev).second) return;
    std::error_code ec;
    const fs::path node = fs::canonical(fs::path(sysfs_) / "dev" / "block" / DevName(dev), ec);
    if (ec) return;
    // A partition lies inside its whole disk.
    if (fs::exists(node / "partition", ec)) WalkNode(node.parent_path(), depth);
    for (const auto& slave : fs::directory_iterator(node / "slaves", ec))
      WalkNode(fs::canonical(slave.path(), ec), depth);
    // A loop device lies on the file system of its backing file.
    std::ifstream backing(node / "loop" / "backing_file");
    std::string file;
    if (follow_backing_ && std::getline(backing, file)) {
      struct stat st {};
      if (::stat(file.c_str(), &st) == 0) {
        backing_.insert({st.st_dev, st.st_ino});
        for (const dev_t under : Underneath(sysfs_, mountinfo_).Of(st.st_dev))
          Walk(under, depth + 1);
      }
    }
  }

  void WalkNode(const fs::path& node, int depth) {
    std::ifstream in(node / "dev");
    unsigned ma = 0, mi = 0;
    char colon = 0;
    if (in >> ma >> colon >> mi) Walk(makedev(ma, mi), depth + 1);
  }

  /// The source fields of the mounts whose device number is `dev`.
  std::vector<std::string> MountSources(dev_t dev) const {
    std::vector<std::string> out;
    std::ifstream in(mountinfo_);
    const std::string want = DevName(dev);
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string id, parent, numbers;
      fields >> id >> parent >> numbers;
      if (numbers != want) continue;
      const auto dash = line.find(" - ");
      if (dash == std::string::npos) continue;
      std::istringstream tail(line.substr(dash + 3));
      std::string type, source;
      tail >> type >> source;
      if (source.starts_with("/")) out.push_back(source);
    }
    return out;
  }

  /// Every device of the btrfs file system that `source` belongs to.
  void AddBtrfsSet(const std::string& source, std::vector<dev_t>& devices) const {
    std::error_code ec;
    const std::string name = fs::canonical(source, ec).filename().string();
    if (ec) return;
    for (const auto& fsid : fs::directory_iterator(fs::path(sysfs_) / "fs" / "btrfs", ec)) {
      if (!fs::exists(fsid.path() / "devices" / name, ec)) continue;
      for (const auto& member : fs::directory_iterator(fsid.path() / "devices", ec)) {
        std::ifstream in(fs::canonical(member.path(), ec) / "dev");
        unsigned ma = 0, mi = 0;
        char colon = 0;
        if (in >> ma >> colon >> mi) devices.push_back(makedev(ma, mi));
      }
    }
  }

 public:
  std::set<std::pair<dev_t, ino_t>> backing_;

 private:
  std::string sysfs_;
  std::string mountinfo_;
  bool follow_backing_;
  std::set<dev_t> seen_;
};

}  // namespace

SourceIdentity IdentifySource(const std::string& path) {
  SourceIdentity id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  if (S_ISBLK(st.st_mode)) id.rdev = st.st_rdev;
  id.known = true;
  return id;
}

std::string OutputFolderProblem(const SourceIdentity& source, const std::string& folder,
                                const std::string& sysfs, const std::string& mountinfo) {
  if (!source.known) return {};
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return {};
  Underneath walk(sysfs, mountinfo);
  const std::set<dev_t> under = walk.Of(st.st_dev);
  if (source.rdev != 0) {
    // The source's whole disk too: its partitions lie on it.
    // The source's whole disk and what it is built on, but not a loop device's backing
    // file system: writing beside an image does not write into it.
    const std::set<dev_t> source_devices = Underneath(sysfs, mountinfo, false).Of(source.rdev);
    for (const dev_t dev : source_devices)
      if (under.contains(dev))
        return "the folder lies on the disk being recovered (device " + DevName(dev) +
               "); saving there could overwrite the files being recovered";
    return {};
  }
  if (walk.backing_.contains({source.device, source.inode}))
    return "the folder lies on a file system inside the image being recovered";
  return {};
}
