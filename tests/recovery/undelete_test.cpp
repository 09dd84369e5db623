// Deleted files a real FAT32 file system still names, checked, told apart and saved by name.
#include "recovery/undelete.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "disk/memory_sector_reader.h"
#include "recovery/file_saver.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(Undelete, SavedPathsStayInsideTheFolder) {
  const std::string long_part = std::string(254, 'a') + "\xC3\xA9" + "b";  // é across byte 255
  const struct {
    std::string path, safe;
  } cases[] = {
      {"DCIM/100CANON/IMG_0001.JPG", "DCIM/100CANON/IMG_0001.JPG"},
      {"/etc/passwd", "etc/passwd"},
      {"../../home/x", "__/__/home/x"},
      {"a/./b//c", "a/b/c"},
      {"a\\..\\b", "a/__/b"},
      {std::string("tab\there\x7f\x01", 10), "tab_here__"},
      {"", "_"},
      {"/", "_"},
      {long_part, std::string(254, 'a')},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeRelativePath(c.path), c.safe) << c.path;
}

std::vector<std::uint8_t> Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

/// Entries laid out by hand on a disk held in memory, around one real picture: each is judged
/// by its bytes and blocks, the same bytes under two names are listed once, names are made
/// unique, and the found file that is the picture is not saved a second time.
TEST(Undelete, EntriesAreJudgedByTheirBytesAndBlocks) {
  TempDir dir;
  const std::string png = dir / "tiny.png";
  if (std::system(("convert -size 16x16 plasma:red-blue " + png + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "ImageMagick is not here";
  const std::vector<std::uint8_t> picture = Bytes(png);
  ASSERT_LT(picture.size(), 8192u);
  std::vector<std::uint8_t> bytes(65536, 0);
  std::copy(picture.begin(), picture.end(), bytes.begin() + 4096);
  const std::string text = "minutes of the meeting\n";
  std::copy(text.begin(), text.end(), bytes.begin() + 20480);
  MemorySectorReader disk(bytes);

  FreeSpaceLayout layout;
  layout.file_systems.push_back({"fat32", 0, bytes.size(), 512, bytes.size(), 0});
  const auto entry = [](std::string path, std::uint64_t offset, std::uint64_t size) {
    DeletedEntry e;
    e.path = std::move(path);
    e.size = size;
    e.runs = {{offset, size}};
    return e;
  };
  const std::uint64_t n = picture.size();
  layout.deleted = {entry("old.bin", 4096, n),  // the picture's record under an older name
                    entry("photo.png", 4096, n),        entry("notes.bin", 4608, 1024),
                    entry("stale.bin", 4096, n + 8192),  // an older, larger file's record
                    entry("fake.jpg", 16384, 1000),     entry("busy.png", 32768, 512),
                    entry("half.png", 36864, 512),      entry("a/minutes.txt", 20480, text.size()),
                    entry("a/minutes.txt", 24576, 100)};
  layout.deleted[5].in_use = true;
  layout.deleted[6].partial = true;
  DeletedEntry small;
  small.path = "../../small.txt";
  small.size = 5;
  small.content = {'h', 'e', 'l', 'l', 'o'};
  layout.deleted.push_back(small);

  CancelToken cancel;
  const std::vector<UndeletedFile> found = CheckDeletedFiles(disk, layout, cancel);
  std::vector<std::pair<std::string, std::string>> seen;
  for (const UndeletedFile& f : found)
    seen.emplace_back(f.saved_path, std::string(UndeleteCheckName(f.check)));
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"undeleted/fat32/photo.png", "passed"},
      {"undeleted/fat32/notes.bin", "overwritten"},
      {"undeleted/fat32/stale.bin", "overwritten"},
      {"undeleted/fat32/fake.jpg", "failed"},
      {"undeleted/fat32/busy.png", "in-use"},
      {"undeleted/fat32/half.png", "partial"},
      {"undeleted/fat32/a/minutes.txt", "unchecked"},
      {"undeleted/fat32/a/minutes~2.txt", "unchecked"},
      {"undeleted/fat32/__/__/small.txt", "unchecked"}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(found[0].type, FindFileType("PNG"));
  CancelToken stopped;  // a stopped check leaves nothing unchecked to be saved by default
  stopped.Cancel();
  EXPECT_TRUE(CheckDeletedFiles(disk, layout, stopped).empty());

  // The found file where the picture starts is saved once: by its name.
  const std::vector<std::vector<TfileExt>> work = {
      {TfileExt{8, n, static_cast<std::uint8_t>(FindFileType("PNG")), EndReason::kFormat},
       TfileExt{60, 512, static_cast<std::uint8_t>(FindFileType("PNG")), EndReason::kFormat}}};
  const auto left = WithoutUndeleted(work, FoundPlace(), found, layout);
  ASSERT_EQ(left.size(), 1u);
  ASSERT_EQ(left[0].size(), 1u);
  EXPECT_EQ(left[0][0].LBA, 60u);
}

/// Media files written into the holes between files in use and deleted: each comes back by
/// its name, passes its checks and saves byte for byte; an old deleted file whose clusters
/// they now fill is marked overwritten rather than saved as their bytes.
TEST(Undelete, FragmentedFatFilesAreCheckedAndSavedByName) {
  TempDir dir;
  const std::string media = dir / "media", image = dir / "disk.img", files = dir / "files";
  const std::string make = "set -e; bash " + std::string(TRAWLEX_MEDIA_FILES_SCRIPT) + " " + media +
                           "; rm " + media + "/manifest.tsv; bash " + TRAWLEX_FRAGMENTED_FS_SCRIPT +
                           " fat32 " + image + " " + files + " " + media;
  if (std::system(("(" + make + ") >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "cannot make the FAT32 image here";
  std::string err;
  auto disk = OpenSectorReader(image, &err);
  ASSERT_TRUE(disk) << err;
  const FreeSpaceLayout layout = FindFreeSpace(*disk, true);
  CancelToken cancel;
  const std::vector<UndeletedFile> found = CheckDeletedFiles(*disk, layout, cancel);

  std::map<std::string, const UndeletedFile*> by_name;  // the names without their first letter
  std::set<std::string> saved_paths;
  std::map<UndeleteCheck, int> checks;
  for (const UndeletedFile& f : found) {
    by_name[f.entry.path.substr(1)] = &f;
    EXPECT_TRUE(saved_paths.insert(f.saved_path).second) << f.saved_path;
    EXPECT_EQ(f.saved_path.rfind("undeleted/fat32/", 0), 0u) << f.saved_path;
    ++checks[f.check];
  }
  EXPECT_EQ(checks[UndeleteCheck::kFailed], 0);

  std::vector<NamedFile> named;
  std::vector<std::string> originals;
  for (const auto& entry : fs::directory_iterator(files)) {
    const auto it = by_name.find(entry.path().filename().string().substr(1));
    ASSERT_NE(it, by_name.end()) << entry.path();
    const UndeletedFile& f = *it->second;
    EXPECT_EQ(f.check, UndeleteCheck::kPassed) << f.entry.path;
    named.push_back({f.saved_path, f.entry.size, f.entry.runs, f.entry.content});
    originals.push_back(entry.path());
  }
  ASSERT_GE(named.size(), 20u);

  const std::string out = dir / "out";
  fs::create_directories(out);
  CancelToken stop;
  SaveObserver quiet;
  FileSaver saver(*disk, out, 0, stop, quiet);
  const SaveTotals totals = saver.Save({}, named);
  EXPECT_EQ(totals.files_written, named.size());
  for (std::size_t i = 0; i < named.size(); ++i)
    EXPECT_EQ(Bytes(fs::path(out) / named[i].path), Bytes(originals[i])) << named[i].path;

  // A folder of the same name that is a link elsewhere is not followed.
  const std::string trap = dir / "trap", elsewhere = dir / "elsewhere";
  fs::create_directories(trap);
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, fs::path(trap) / "undeleted");
  FileSaver trapped(*disk, trap, 0, stop, quiet);
  EXPECT_THROW(trapped.Save({}, named), SaveError);
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

}  // namespace
