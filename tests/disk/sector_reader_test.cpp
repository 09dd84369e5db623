#include "disk/sector_reader.h"
#include "disk/chunk_buffer.h"
#include "disk/drive_table.h"
#include "disk/folder_location.h"
#include "disk/memory_sector_reader.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

// One suite, run against every back-end that can stand behind SectorReader.
class SectorReaderTest : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    bytes_ = PatternBytes(3000);
    bytes_.resize(bytes_.size() + 100);  // a partial sector at the end
    const std::string kind = GetParam();
    image_ = dir_ / "disk.img";
    WriteFile(image_, bytes_);
    if (kind == "memory") {
      reader_ = std::make_unique<MemorySectorReader>(bytes_);
    } else if (kind == "image") {
      reader_ = OpenSectorReader(image_, nullptr);
    } else if (kind == "loop") {
      // A real block device over the image; needs root and loop support.
      bytes_.resize(3000 * 512);
      WriteFile(image_, bytes_);
      FILE* p = ::popen(("losetup -f --show -r " + image_ + " 2>/dev/null").c_str(), "r");
      char line[256] = {};
      if (p && std::fgets(line, sizeof line, p))
        loop_ = std::string(line, std::strcspn(line, "\n"));
      if (p) ::pclose(p);
      if (loop_.empty()) GTEST_SKIP() << "losetup refused: no loop devices here";
      reader_ = OpenSectorReader(loop_, nullptr);
    } else if (kind == "split") {
      // Pieces that do not end on sector boundaries, as split(1) cuts them.
      ASSERT_EQ(
          Shell("split -d -a 3 --numeric-suffixes=1 -b 700001 " + image_ + " " + image_ + "."), 0);
      reader_ = OpenSectorReader(image_ + ".001", nullptr);
    } else if (kind == "ewf") {
      // An Expert Witness image holds whole sectors; stored as they are, they fill
      // segments of 1 MiB (the compressed chunks are read in the command's tests).
      bytes_.resize(3000 * 512);
      WriteFile(image_, bytes_);
      ASSERT_EQ(Shell("ewfacquire -u -q -c none -S 1MiB -t " + (dir_ / "disk") + " " + image_), 0);
      ASSERT_TRUE(std::filesystem::exists(dir_ / "disk.E02"));
      reader_ = OpenSectorReader(dir_ / "disk.E01", nullptr);
    }
    ASSERT_NE(reader_, nullptr);
  }
  void TearDown() override {
    reader_.reset();
    if (!loop_.empty()) std::system(("losetup -d " + loop_).c_str());
  }

  TempDir dir_;
  std::string image_;
  std::string loop_;
  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<SectorReader> reader_;
};

TEST_P(SectorReaderTest, ReadsAnyRunAtItsOffset) {
  EXPECT_EQ(reader_->SizeBytes(), bytes_.size());
  EXPECT_EQ(reader_->SectorCount(), 3000u);
  std::vector<std::uint8_t> out(2048 * 512);
  ReadResult r = reader_->ReadAt(0, out.data(), out.size());
  EXPECT_EQ(r.bytes, out.size());
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(std::memcmp(out.data(), bytes_.data(), out.size()), 0);
  r = reader_->ReadAt(777 * 512, out.data(), 1536);
  EXPECT_EQ(r.bytes, 1536u);
  EXPECT_EQ(std::memcmp(out.data(), bytes_.data() + 777 * 512, 1536), 0);
}

TEST_P(SectorReaderTest, ReadPastTheEndIsShort) {
  std::vector<std::uint8_t> out(2048 * 512);
  const ReadResult r = reader_->ReadAt(2048 * 512, out.data(), out.size());
  EXPECT_EQ(r.bytes, bytes_.size() - 2048 * 512);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(reader_->ReadAt(bytes_.size() + 512, out.data(), 512).bytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, SectorReaderTest,
                         testing::Values("memory", "image", "loop", "split", "ewf"));

TEST(OpenSectorReader, ExplainsWhyASourceCannotBeOpened) {
  std::string err;
  EXPECT_EQ(OpenSectorReader("/nonexistent/disk.img", &err), nullptr);
  EXPECT_EQ(err, "No such file or directory");
}

TEST(OpenSectorReader, NeverOpensTheSourceForWriting) {
  TempDir dir;
  const std::string image = dir / "ro.img";
  WriteFile(image, PatternBytes(4));
  ::chmod(image.c_str(), 0444);
  std::string err;
  // Root may open anything for writing, so look at the descriptor's flags as well.
  auto reader = OpenSectorReader(image, &err);
  ASSERT_NE(reader, nullptr) << err;
  bool found_read_only = false;
  for (int fd = 3; fd < 1024; ++fd) {
    char link[64], target[4096] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (::readlink(link, target, sizeof target - 1) > 0 && image == target)
      found_read_only = (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY;
  }
  EXPECT_TRUE(found_read_only);
}

/// A fake machine: sysfs entries and device files that are plain image files.
class FakeMachine {
 public:
  FakeMachine() {
    AddDisk("sdb", 4096, true);
    AddDisk("sda", 16065000, false);
    AddDisk("loop0", 10, false);
    AddDisk("ram0", 10, false);
    AddDisk("zram0", 10, false);
    AddDisk("nvme0n1", 5000, false);
  }
  void AddDisk(const std::string& name, std::uint64_t sectors, bool removable) {
    WriteText(dir_ / ("sys/block/" + name + "/removable"), removable ? "1\n" : "0\n");
    const std::string dev = dir_ / ("dev/" + name);
    WriteFile(dev, {});
    ASSERT_EQ(::truncate(dev.c_str(), static_cast<off_t>(sectors * 512)), 0);
  }
  [[nodiscard]] std::string Sys() const { return dir_ / "sys"; }
  [[nodiscard]] std::string Dev() const { return dir_ / "dev"; }
  TempDir dir_;
};

TEST(DriveTable, NumbersWholeDisksByNameThenImages) {
  FakeMachine machine;
  DriveTable table(machine.Sys(), machine.Dev());
  ASSERT_EQ(table.Drives().size(), 3u);
  EXPECT_EQ(table.Drives()[0].name, "nvme0n1");
  EXPECT_EQ(table.Drives()[1].name, "sda");
  EXPECT_EQ(table.Drives()[2].name, "sdb");
  const std::string image = machine.dir_ / "card.img";
  WriteFile(image, PatternBytes(8));
  EXPECT_EQ(table.RegisterImage(image), 3);
  table.Refresh();
  ASSERT_EQ(table.Drives().size(), 4u);
  EXPECT_TRUE(table.Drives()[3].is_image);
  EXPECT_EQ(table.Drives()[3].name, "card.img");
  EXPECT_EQ(table.Find(4), nullptr);
  EXPECT_EQ(table.Find(-1), nullptr);
}

TEST(DriveTable, ParametersCarryTheTrueSectorCount) {
  FakeMachine machine;
  machine.AddDisk("sdc", 16065000 + 1000, false);
  DriveTable table(machine.Sys(), machine.Dev());
  DriveParameters p;
  ASSERT_TRUE(table.GetDriveParameters(1, p));  // sda: exactly 1000 cylinders
  EXPECT_EQ(+p.BufferSize, 30);
  EXPECT_EQ(+p.Cylinders, 1000u);
  EXPECT_EQ(+p.Heads, 255u);
  EXPECT_EQ(+p.SectorsPerTrack, 63u);
  EXPECT_EQ(+p.TotalSectors, 16065000u);
  EXPECT_EQ(+p.BytesPerSector, 512);
  EXPECT_EQ(p.Flags & kRemovableFlag, 0);
  EXPECT_EQ(+p.ConfigPointer, 0u);
  // Sectors past the last whole cylinder still count.
  ASSERT_TRUE(table.GetDriveParameters(3, p));
  EXPECT_EQ(+p.Cylinders, 1000u);
  EXPECT_EQ(+p.TotalSectors, 16066000u);
  // The removable bit comes from sysfs, and so does the geometry's media type.
  ASSERT_TRUE(table.GetDriveParameters(2, p));
  EXPECT_EQ(p.Flags & kRemovableFlag, kRemovableFlag);
  DiskGeometry g;
  ASSERT_TRUE(table.GetDiskGeometry(2, g));
  EXPECT_EQ(g.MediaType, kRemovableMedia);
  ASSERT_TRUE(table.GetDiskGeometry(1, g));
  EXPECT_EQ(g.MediaType, kFixedMedia);
  EXPECT_EQ(g.Cylinders, 1000);
  // A drive that does not exist does not answer and leaves the record alone.
  DriveParameters untouched;
  untouched.Heads = 99;
  EXPECT_FALSE(table.GetDriveParameters(24, untouched));
  EXPECT_EQ(+untouched.Heads, 99u);
}

TEST(DriveParameters, LayoutIsTheThirtyByteWireRecord) {
  EXPECT_EQ(offsetof(DriveParameters, Cylinders), 4u);
  EXPECT_EQ(offsetof(DriveParameters, TotalSectors), 16u);
  EXPECT_EQ(offsetof(DriveParameters, BytesPerSector), 24u);
  EXPECT_EQ(offsetof(DriveParameters, ConfigPointer), 26u);
  EXPECT_TRUE(IsRemovableMediaType(11));
  EXPECT_TRUE(IsRemovableMediaType(13));
  EXPECT_FALSE(IsRemovableMediaType(12));
  EXPECT_FALSE(IsRemovableMediaType(0));
}

TEST(ReadSectors, ReadsWholeRequestsOnly) {
  TempDir dir;
  DriveTable table(dir / "nosys", dir / "nodev");
  const auto bytes = PatternBytes(3000);
  const std::string image = dir / "disk.img";
  WriteFile(image, bytes);
  const auto drive = static_cast<std::uint8_t>(table.RegisterImage(image));
  std::vector<std::uint8_t> buffer(2000000, 0xEE);
  // 2,000,000 bytes asked: 1,048,576 read, the rest of the buffer untouched.
  ASSERT_TRUE(table.ReadSectors(drive, 10, 1, 2000000, buffer.data()));
  EXPECT_EQ(std::memcmp(buffer.data(), bytes.data() + 10 * 512, kMaxReadBytes), 0);
  EXPECT_EQ(buffer[kMaxReadBytes], 0xEE);
  // A request that runs past the end is a failure although part of it arrived.
  EXPECT_FALSE(table.ReadSectors(drive, 2048, 1, kMaxReadBytes, buffer.data()));
  EXPECT_TRUE(table.ReadSectors(drive, 2048, 1, 952 * 512, buffer.data()));
  EXPECT_FALSE(table.ReadSectors(drive + 1, 0, 1, 512, buffer.data()));
}

TEST(ReadSectors, ReachesPastFourGibibytes) {
  TempDir dir;
  const std::string image = dir / "sparse.img";
  {
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const char marker[] = "sector 8388608";
    ASSERT_EQ(::pwrite(fd, marker, sizeof marker, off_t{1} << 32),
              static_cast<ssize_t>(sizeof marker));
    ASSERT_EQ(::ftruncate(fd, (off_t{1} << 32) + 4096), 0);
    ::close(fd);
  }
  DriveTable table(dir / "nosys", dir / "nodev");
  const auto drive = static_cast<std::uint8_t>(table.RegisterImage(image));
  char buffer[512] = {};
  // LBA 2^23 is byte offset 2^32: no 32-bit offset would get there.
  ASSERT_TRUE(table.ReadSectors(drive, 8388608, 1, 512, buffer));
  EXPECT_STREQ(buffer, "sector 8388608");
  DriveParameters p;
  ASSERT_TRUE(table.GetDriveParameters(drive, p));
  EXPECT_EQ(+p.TotalSectors, 8388608u + 8);
}

}  // namespace

namespace {

TEST(ChunkBuffer, ClearsBeforeEveryReadAndKeepsWhatArrived) {
  TempDir dir;
  DriveTable table(dir / "nosys", dir / "nodev");
  const auto bytes = PatternBytes(3000);
  const std::string image = dir / "disk.img";
  WriteFile(image, bytes);
  const int drive = table.RegisterImage(image);
  ChunkBuffer buffer;
  ASSERT_TRUE(buffer.ReadDiskChunk(table, 0, drive, ChunkBuffer::kSize));
  EXPECT_EQ(std::memcmp(buffer.data(), bytes.data(), ChunkBuffer::kSize), 0);
  // A short read fails, and the buffer holds the sectors that exist, then zeros.
  EXPECT_FALSE(buffer.ReadDiskChunk(table, 2048, drive, ChunkBuffer::kSize));
  EXPECT_EQ(std::memcmp(buffer.data(), bytes.data() + 2048 * 512, 952 * 512), 0);
  EXPECT_EQ(buffer.data()[952 * 512], 0);
  // A drive that does not exist leaves a zero buffer.
  EXPECT_FALSE(buffer.ReadDiskChunk(table, 0, drive + 1, 512));
  EXPECT_EQ(buffer.data()[5], 0);
}

}  // namespace

namespace {

TEST(FolderLiesOnDrive, FindsTheDiskOfAFoldersFileSystem) {
  TempDir dir;
  struct stat st {};
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  const std::string dev = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  // A fake machine on which the temporary folder's file system is partition sdb2 of sdb.
  WriteText(dir / "sys/devices/pci0/block/sdb/sdb2/partition", "2\n");
  WriteText(dir / "sys/devices/pci0/block/sda/removable", "0\n");
  std::filesystem::create_directories(dir / "sys/block");
  std::filesystem::create_directories(dir / "sys/dev/block");
  std::filesystem::create_directory_symlink(dir / "sys/devices/pci0/block/sda",
                                            dir / "sys/block/sda");
  std::filesystem::create_directory_symlink(dir / "sys/devices/pci0/block/sdb",
                                            dir / "sys/block/sdb");
  std::filesystem::create_directory_symlink(dir / "sys/devices/pci0/block/sdb/sdb2",
                                            dir / ("sys/dev/block/" + dev));
  DriveTable table(dir / "sys", dir / "dev");
  ASSERT_EQ(table.Drives().size(), 2u);
  EXPECT_FALSE(FolderLiesOnDrive(table, 0, dir.path().string()));
  EXPECT_TRUE(FolderLiesOnDrive(table, 1, dir.path().string()));
  EXPECT_FALSE(FolderLiesOnDrive(table, 1, dir / "missing"));
  EXPECT_FALSE(FolderLiesOnDrive(table, 2, dir.path().string()));
  const int image = table.RegisterImage(dir / "card.img");
  EXPECT_FALSE(FolderLiesOnDrive(table, image, dir.path().string()));
}

}  // namespace
