#include "recovery/output_guard.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

namespace fs = std::filesystem;

/// A system's block-device tree as sysfs shows it: the folder's file system lies on a
/// device-mapper device over partition sdz2 of disk sdz; disk sdy is another disk.
struct FakeSysfs {
  explicit FakeSysfs(dev_t folder_dev) {
    Device("devices/virtual/block/dm-0", folder_dev);
    Device("devices/pci/block/sdz", makedev(259, 0));
    Device("devices/pci/block/sdz/sdz1", makedev(259, 1));
    Device("devices/pci/block/sdz/sdz2", makedev(259, 2));
    WriteText(root / "devices/pci/block/sdz/sdz1/partition", "1\n");
    WriteText(root / "devices/pci/block/sdz/sdz2/partition", "2\n");
    Device("devices/pci/block/sdy", makedev(259, 8));
    fs::create_directories(root / "devices/virtual/block/dm-0/slaves");
    fs::create_directory_symlink(root / "devices/pci/block/sdz/sdz2",
                                 root / "devices/virtual/block/dm-0/slaves/sdz2");
    WriteText(root / "mountinfo", "");
  }
  void Device(const std::string& path, dev_t dev) {
    const std::string numbers = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    WriteText(root / path / "dev", numbers + "\n");
    fs::create_directories(root / "dev/block");
    fs::create_directory_symlink(root / path, root / "dev/block" / numbers);
  }
  TempDir dir;
  fs::path root = dir.path();
};

TEST(OutputGuard, RefusesAFolderOnTheSourceThroughItsHolders) {
  TempDir folder;
  struct stat st {};
  ASSERT_EQ(::stat(folder.path().c_str(), &st), 0);
  FakeSysfs sys(st.st_dev);
  const struct {
    const char* source;
    dev_t rdev;
    bool refused;
  } cases[] = {
      {"the whole disk under the dm device", makedev(259, 0), true},
      {"the partition under it", makedev(259, 2), true},
      {"another partition of that disk", makedev(259, 1), true},
      {"another disk", makedev(259, 8), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    SourceIdentity source;
    source.known = true;
    source.rdev = c.rdev;
    const std::string problem = OutputFolderProblem(
        source, folder.path().string(), sys.root.string(), (sys.root / "mountinfo").string());
    EXPECT_EQ(!problem.empty(), c.refused) << problem;
  }
}

}  // namespace
