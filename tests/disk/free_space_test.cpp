// The free space of real file systems, made by their own tools, read as one stream.
#include "disk/free_space.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

/// Runs the image script. Empty when the image is made; otherwise why it was not: the script's
/// own reason when this machine cannot make that kind (its exit 77), else a failure is recorded.
std::string MakeImage(const std::string& kind, const std::string& image, const std::string& files) {
  const std::string log = image + ".log";
  const std::string command = std::string("bash ") + TRAWLEX_FRAGMENTED_FS_SCRIPT + " " + kind +
                              " " + image + " " + files + " >/dev/null 2>" + log;
  const int status = std::system(command.c_str());
  if (status == 0) return {};
  const auto said = ReadWholeFile(log);
  std::string why(said.begin(), said.end());
  if (why.empty()) why = "the " + kind + " image script failed";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 77) ADD_FAILURE() << why;
  return why;
}

bool Contains(const std::vector<std::uint8_t>& hay, const std::vector<std::uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

std::vector<std::uint8_t> ReadAll(SectorReader& reader) {
  std::vector<std::uint8_t> bytes(reader.SizeBytes());
  EXPECT_EQ(reader.ReadAt(0, bytes.data(), bytes.size()).bytes, bytes.size());
  return bytes;
}

/// Deleted files that lie in pieces between files in use come out whole from the free-space
/// stream, and where each piece lies on the disk is known.
TEST(FreeSpace, DeletedPiecesJoinUpInTheStream) {
  std::string skipped;
  for (const char* kind : {"fat32", "ext4", "ntfs"}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string image = dir / "disk.img", files = dir / "files";
    if (const std::string why = MakeImage(kind, image, files); !why.empty()) {
      skipped += why;
      continue;
    }
    std::string err;
    auto disk = OpenSectorReader(image, &err);
    ASSERT_TRUE(disk) << err;
    const FreeSpaceLayout layout = FindFreeSpace(*disk);
    ASSERT_EQ(layout.file_systems.size(), 1u);
    EXPECT_EQ(layout.file_systems[0].type.substr(0, 3), std::string(kind).substr(0, 3));
    EXPECT_TRUE(layout.notes.empty());
    EXPECT_LT(layout.TotalBytes(), disk->SizeBytes() - 1'000'000);  // the files in use are left out

    MappedSectorReader stream(*disk, layout.runs);
    EXPECT_EQ(stream.SizeBytes(), layout.TotalBytes());
    const auto raw = ReadAll(*disk);
    const auto joined = ReadAll(stream);
    int split_on_disk = 0, whole = 0, count = 0;
    for (const auto& entry : fs::directory_iterator(files)) {
      const auto original = ReadWholeFile(entry.path());
      ++count;
      split_on_disk += !Contains(raw, original);
      auto at = std::search(joined.begin(), joined.end(), original.begin(), original.end());
      if (at == joined.end()) continue;
      ++whole;
      // The stream's runs for the file's first bytes point at those bytes on the disk.
      for (const ByteRun& run : stream.PhysicalRuns(std::uint64_t(at - joined.begin()), 4096)) {
        ASSERT_LE(run.offset + run.length, raw.size());
        EXPECT_TRUE(std::equal(raw.begin() + std::ptrdiff_t(run.offset),
                               raw.begin() + std::ptrdiff_t(run.offset + run.length), at));
        at += std::ptrdiff_t(run.length);
      }
    }
    // ext4 may lay one file's blocks out of disk order; no reading in disk order joins those.
    EXPECT_GE(whole, count - 1);
    EXPECT_GE(split_on_disk, 3);  // the image really holds them in pieces
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

/// Two file systems behind a partition table, the gaps around them searched whole; a file system
/// whose boot sector is gone leaves its partition searched whole, with a sentence saying so.
TEST(FreeSpace, PartitionsGapsAndADamagedFileSystem) {
  TempDir dir;
  const std::string fat = dir / "fat.img", ext = dir / "ext.img", disk_path = dir / "disk.img";
  if (const std::string why =
          MakeImage("fat32", fat, dir / "fat-files") + MakeImage("ext4", ext, dir / "ext-files");
      !why.empty())
    GTEST_SKIP() << why;
  if (std::system("command -v sfdisk >/dev/null") != 0) GTEST_SKIP() << "no sfdisk here";
  // 1 MiB, the FAT partition, 1 MiB of gap, the ext4 partition, 1 MiB at the end.
  const std::string script = dir / "table";
  WriteText(script,
            "label: dos\nstart=2048, size=98304, type=c\nstart=102400, size=98304, type=83\n");
  const std::string build = "truncate -s 101M " + disk_path + " && sfdisk -q " + disk_path + " < " +
                            script + " >/dev/null && dd if=" + fat + " of=" + disk_path +
                            " bs=512 seek=2048 conv=notrunc status=none && dd if=" + ext +
                            " of=" + disk_path + " bs=512 seek=102400 conv=notrunc status=none";
  ASSERT_EQ(std::system(build.c_str()), 0);
  std::string err;
  auto disk = OpenSectorReader(disk_path, &err);
  ASSERT_TRUE(disk) << err;
  const FreeSpaceLayout layout = FindFreeSpace(*disk);
  ASSERT_EQ(layout.file_systems.size(), 2u);
  EXPECT_EQ(layout.file_systems[0].offset, 2048u * 512);
  EXPECT_EQ(layout.file_systems[1].offset, 102400u * 512);
  ASSERT_FALSE(layout.runs.empty());
  EXPECT_EQ(layout.runs.front().offset, 0u);  // the table's sectors and the first gap
  EXPECT_EQ(layout.runs.back().offset + layout.runs.back().length, disk->SizeBytes());

  // The FAT boot sector and its backup wiped: that partition is read whole.
  ASSERT_EQ(std::system(("dd if=/dev/zero of=" + disk_path +
                         " bs=512 seek=2048 count=8 conv=notrunc status=none")
                            .c_str()),
            0);
  auto damaged = OpenSectorReader(disk_path, &err);
  const FreeSpaceLayout fallback = FindFreeSpace(*damaged);
  ASSERT_EQ(fallback.file_systems.size(), 1u);
  ASSERT_EQ(fallback.notes.size(), 1u);
  EXPECT_NE(fallback.notes[0].find("partition at sector 2048"), std::string::npos)
      << fallback.notes[0];
  EXPECT_EQ(fallback.runs.front(), (ByteRun{0, 102400u * 512}));
}

TEST(FreeSpace, ADiskWithoutFileSystemsIsOneRun) {
  TempDir dir;
  WriteFile(dir / "blank.img", PatternBytes(4096));
  std::string err;
  auto disk = OpenSectorReader(dir / "blank.img", &err);
  const FreeSpaceLayout layout = FindFreeSpace(*disk);
  EXPECT_TRUE(layout.file_systems.empty());
  EXPECT_EQ(layout.runs, (std::vector<ByteRun>{{0, 4096u * 512}}));
  ASSERT_EQ(layout.notes.size(), 1u);

  // Reads across runs and past the end.
  MappedSectorReader stream(*disk, {{512, 512}, {4096, 1024}, {0, 512}});
  std::vector<std::uint8_t> out(4096);
  const ReadResult got = stream.ReadAt(256, out.data(), out.size());
  EXPECT_EQ(got.bytes, 2048u - 256);
  const auto raw = ReadWholeFile(dir / "blank.img");
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 256, raw.begin() + 768));
  EXPECT_TRUE(std::equal(out.begin() + 256, out.begin() + 1280, raw.begin() + 4096));
  EXPECT_TRUE(std::equal(out.begin() + 1280, out.begin() + 1792, raw.begin()));
  EXPECT_EQ(stream.PhysicalRuns(256, 1536),
            (std::vector<ByteRun>{{768, 256}, {4096, 1024}, {0, 256}}));
}

}  // namespace
