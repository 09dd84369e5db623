// Real files made by real tools, planted among random bytes on one disk and scanned with
// real ends: each comes back at its own length, false starts inside them are not listed,
// and files cut short are marked broken.

#include "detect/file_catalogue.h"
#include "disk/memory_sector_reader.h"
#include "recovery/scan_engine.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <utility>

namespace {

struct RealFile {
  std::string name;
  int row = -1;
  std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The files a scan with real ends finds on `disk`, by start sector; the scan must complete.
std::map<std::uint64_t, TfileExt> ScanWithRealEnds(std::vector<std::uint8_t> disk, int workers) {
  MemorySectorReader reader(std::move(disk));
  DiskInfo info;
  info.SetSectorCount(reader.SectorCount());
  FoundTypeRows rows;
  CancelToken cancel;
  ScanObserver quiet;
  ScanOptions options;
  options.real_ends = true;
  options.workers = workers;
  EXPECT_EQ(ScanDisk(reader, info, rows, cancel, quiet, options).reason, ScanEnd::kCompleted);
  std::map<std::uint64_t, TfileExt> found;
  for (int k = 0; k < FoundTypeRows::size(); ++k)
    for (const TfileExt& f : rows[k].Files()) found[f.LBA] = f;
  return found;
}

/// The files a manifest in `dir` names ("name<TAB>tag" a line), appended to `files`.
void ReadManifest(const std::filesystem::path& dir, std::vector<RealFile>& files) {
  std::ifstream manifest(dir / "manifest.tsv");
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    RealFile file;
    std::string tag;
    std::getline(fields, file.name, '\t');
    std::getline(fields, tag, '\t');
    file.row = FindFileType(tag);
    file.bytes = ReadAll(dir / file.name);
    if (file.row >= 0 && !file.bytes.empty()) files.push_back(std::move(file));
  }
}

/// Runs each corpus script into its own folder and reads the files its manifest names;
/// then the files of today's kinds the build made.
std::vector<RealFile> MakeCorpus(const TempDir& dir, std::string* problem) {
  std::vector<RealFile> files;
  for (const char* script : {TRAWLEX_MEDIA_FILES_SCRIPT, TRAWLEX_DOCUMENT_FILES_SCRIPT}) {
    if (!std::filesystem::exists(script)) continue;
    const auto out = dir.path() / std::filesystem::path(script).stem();
    const std::string command =
        "bash '" + std::string(script) + "' '" + out.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      *problem = std::string(script) + " failed";
      return {};
    }
    ReadManifest(out, files);
  }
  ReadManifest(TRAWLEX_TODAYS_FILES, files);
  return files;
}

/// Where one planted file lies and what the scan should say of it.
struct Planted {
  const RealFile* file;
  std::uint64_t lba;
  std::uint64_t size;  ///< the bytes planted (the file, or its first half)
  EndReason expected;
};

TEST(RealEnds, RealFilesAmongRandomBytesComeBackWhole) {
  TempDir dir;
  std::string problem;
  const std::vector<RealFile> corpus = MakeCorpus(dir, &problem);
  ASSERT_TRUE(problem.empty()) << problem;
  if (corpus.empty()) GTEST_SKIP() << "no corpus scripts in this tree";

  std::mt19937_64 rng(11);
  std::vector<std::uint8_t> disk;
  auto garbage = [&](std::size_t sectors) {
    const std::size_t at = disk.size();
    disk.resize(at + sectors * 512);
    for (std::size_t i = at; i < disk.size(); i += 8) {
      const std::uint64_t r = rng();
      std::memcpy(&disk[i], &r, 8);
    }
  };
  std::vector<Planted> planted;
  auto plant = [&](const RealFile& file, std::size_t size, EndReason expected, bool gap = true) {
    if (gap) garbage(1 + rng() % 40);
    planted.push_back({&file, disk.size() / 512, size, expected});
    const std::size_t at = disk.size();
    disk.resize(at + (size + 511) / 512 * 512);
    std::memcpy(&disk[at], file.bytes.data(), size);
    for (std::size_t i = at + size; i < disk.size(); ++i)
      disk[i] = static_cast<std::uint8_t>(rng());
  };
  for (const RealFile& file : corpus) plant(file, file.bytes.size(), EndReason::kFormat);
  // Every file once more, cut in half: its structure breaks off.
  for (const RealFile& file : corpus)
    if (file.bytes.size() >= 4096) plant(file, file.bytes.size() / 2, EndReason::kBroken);
  // Program streams that close without an end code, stored one right after the other: the
  // next one's clock starts again, so each ends where the next begins. Today's kinds, back
  // to back too: each ends where it ends, not where the next begins.
  bool gap = true;
  for (const RealFile& file : corpus)
    if (file.row == FindFileType("MPG"))
      plant(file, file.bytes.size(), EndReason::kFormat, std::exchange(gap, false));
  gap = true;
  for (const RealFile& file : corpus)
    if (file.row >= kChainTypeCount)
      plant(file, file.bytes.size(), EndReason::kFormat, std::exchange(gap, false));
  garbage(64);

  const std::map<std::uint64_t, TfileExt> found = ScanWithRealEnds(disk, 2);
  std::size_t broken = 0, halves = 0;
  for (const Planted& p : planted) {
    halves += p.expected == EndReason::kBroken;
    SCOPED_TRACE(p.file->name + (p.size < p.file->bytes.size() ? " (first half)" : ""));
    const auto it = found.find(p.lba);
    // A file cut before the header's own pointers (a TIFF directory) is no file at all.
    if (it == found.end() && p.expected == EndReason::kBroken) continue;
    ASSERT_NE(it, found.end()) << "not found";
    // A file cut short keeps the kind its start shows (an Office document whose parts lie
    // past the cut is a ZIP).
    if (p.expected == EndReason::kFormat)
      EXPECT_EQ(it->second.Type, p.file->row);
    else
      EXPECT_EQ(FileKindAt(it->second.Type).make_finder, FileKindAt(p.file->row).make_finder);
    const TfileExt& f = it->second;
    if (f.End == EndReason::kNextStart) {
      // A format that cannot tell its end runs to the next start: the file is all there.
      EXPECT_GE(f.Size, p.size);
    } else if (p.expected == EndReason::kFormat) {
      EXPECT_EQ(EndReasonName(f.End), "format");
      EXPECT_EQ(f.Size, p.size);
    } else if (f.End == EndReason::kBroken) {
      // Where it broke off depends on the bytes after the cut: a GIF's blocks carry no
      // check, so random bytes can pass for more of them.
      ++broken;
    }
  }
  // A file cut short is mostly seen as broken; where only sizes in its header tell the
  // end (a compound document's FAT, a size field), the header is believed.
  EXPECT_GE(broken * 4, halves);
  // Nothing else is listed but the starts inside the planted files (members of archives,
  // thumbnails): no junk from false starts in the random bytes.
  std::size_t junk = 0;
  for (const auto& [lba, f] : found) {
    bool inside = false;
    for (const Planted& p : planted) inside |= lba >= p.lba && lba < p.lba + (p.size + 511) / 512;
    if (!inside) ++junk;
  }
  EXPECT_EQ(junk, 0u);
}

/// A file that ends inside another one still being followed (photos in the pixels of a TIFF
/// whose directory comes at its end, as pieces of deleted files lie on a disk) keeps its own
/// end, though the next start comes a chunk later.
TEST(RealEnds, AFileEndingInsideAnOpenOneKeepsItsOwnEnd) {
  TempDir dir;
  const std::string tiff = dir / "scan.tif", jpeg = dir / "photo.jpg";
  const std::string make = "convert -size 1024x640 xc:gray50 -compress none " + tiff +
                           " && convert -seed 3 -size 64x48 plasma:red-blue " + jpeg;
  if (std::system((make + " >/dev/null 2>&1").c_str()) != 0) GTEST_SKIP() << "no ImageMagick";
  std::vector<std::uint8_t> disk = ReadAll(tiff);
  const std::vector<std::uint8_t> photo = ReadAll(jpeg);
  const std::size_t tiff_size = disk.size();
  const std::uint64_t later = kChunkSectors + 256;  // in the next chunk, still in the pixels
  ASSERT_GT(tiff_size, (later + 8) * 512);
  for (const std::uint64_t lba : {std::uint64_t{8}, later})
    std::copy(photo.begin(), photo.end(), disk.begin() + std::ptrdiff_t(lba * 512));
  disk.resize((tiff_size / 512 + 64) * 512);

  std::map<std::uint64_t, TfileExt> found = ScanWithRealEnds(disk, 0);
  const std::pair<std::uint64_t, std::size_t> expected[] = {
      {0, tiff_size}, {8, photo.size()}, {later, photo.size()}};
  for (const auto& [lba, size] : expected) {
    SCOPED_TRACE(lba);
    ASSERT_TRUE(found.contains(lba));
    EXPECT_EQ(EndReasonName(found[lba].End), "format");
    EXPECT_EQ(found[lba].Size, size);
  }
}

}  // namespace
