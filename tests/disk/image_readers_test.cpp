#include "disk/image/image_readers.h"
#include "disk/rescue_reader.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

namespace {

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

std::vector<std::uint8_t> RandomBytes(std::size_t size) {
  std::mt19937 random(17);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// An uncompressed E01 of random sectors, 64 sectors to a chunk, with one byte of chunk
// 15 (sectors 960-1023) changed after it was written.
class DamagedExpertWitness : public testing::Test {
 protected:
  void SetUp() override {
    bytes_ = RandomBytes(2048 * 512);
    WriteFile(dir_ / "disk.img", bytes_);
    ASSERT_EQ(
        Shell("ewfacquire -u -q -c none -b 64 -t " + (dir_ / "disk") + " " + (dir_ / "disk.img")),
        0);
    auto e01 = ReadWhole(dir_ / "disk.E01");
    const auto sector = bytes_.begin() + 1000 * 512;
    const auto at = std::search(e01.begin(), e01.end(), sector, sector + 32);
    ASSERT_NE(at, e01.end());
    *at ^= 0xFF;
    WriteFile(dir_ / "disk.E01", e01);
  }

  TempDir dir_;
  std::vector<std::uint8_t> bytes_;
};

TEST_F(DamagedExpertWitness, ABadChunkReadsAsUnreadableSectorsAndTheRestAsStored) {
  ASSERT_TRUE(IsExpertWitnessFile(dir_ / "disk.E01"));
  for (const char* name : {"a.E01", "a.e07", "a.EAB", "a.Ex01", "a.s01"})
    EXPECT_TRUE(HasExpertWitnessName(name)) << name;
  for (const char* name : {"a.img", "a.E1", "a.E001", "a.001", "E01"})
    EXPECT_FALSE(HasExpertWitnessName(name)) << name;
  std::string err;
  auto reader = OpenSectorReader(dir_ / "disk.E01", &err);
  ASSERT_NE(reader, nullptr) << err;
  EXPECT_EQ(reader->SectorCount(), 2048u);
  std::vector<std::uint8_t> out(bytes_.size());
  // A read over the chunk ends where the chunk begins, with a read error.
  ReadResult r = reader->ReadAt(0, out.data(), out.size());
  EXPECT_EQ(r.bytes, 960u * 512);
  EXPECT_EQ(r.error, EIO);
  EXPECT_EQ(std::memcmp(out.data(), bytes_.data(), r.bytes), 0);
  r = reader->ReadAt(1000 * 512, out.data(), 512);
  EXPECT_EQ(r.bytes, 0u);
  EXPECT_EQ(r.error, EIO);
  r = reader->ReadAt(1024 * 512, out.data(), 1024 * 512);
  EXPECT_EQ(r.bytes, 1024u * 512);
  EXPECT_EQ(std::memcmp(out.data(), bytes_.data() + 1024 * 512, r.bytes), 0);
  // The rescue reader narrows it to exactly the chunk's sectors.
  BadSectorMap map;
  RescueReader rescue(*reader, map);
  const ForwardRead forward = rescue.ReadForward(0, out.data(), out.size());
  EXPECT_FALSE(forward.lost);
  const RescueStats stats = rescue.Retry(CancelToken(), [](std::uint64_t, auto) {});
  EXPECT_EQ(stats.unreadable, 64u);
  EXPECT_EQ(map.Ranges(SectorState::kBad), (std::vector<SectorRange>{{960, 1024}}));
}

TEST(ExpertWitness, ASegmentReplacedAfterOpeningIsNoticedAndAnEmptyFileIsRefused) {
  TempDir dir;
  WriteFile(dir / "disk.img", RandomBytes(4096 * 512));
  ASSERT_EQ(
      Shell("ewfacquire -u -q -c none -S 1MiB -t " + (dir / "disk") + " " + (dir / "disk.img")), 0);
  std::string err;
  auto reader = OpenSectorReader(dir / "disk.E02", &err);  // any segment names the set
  ASSERT_NE(reader, nullptr) << err;
  EXPECT_EQ(reader->SectorCount(), 4096u);
  EXPECT_EQ(reader->CheckPresent(), "");
  std::filesystem::rename(dir / "disk.E02", dir / "moved.E02");
  WriteFile(dir / "disk.E02", {1, 2, 3});
  EXPECT_NE(reader->CheckPresent(), "");
  // Only the signature: the rest of the file is missing.
  WriteFile(dir / "bad.E01", {'E', 'V', 'F', 9, 13, 10, 0xFF, 0});
  EXPECT_EQ(OpenSectorReader(dir / "bad.E01", &err), nullptr);
  EXPECT_TRUE(err.starts_with("Not a readable Expert Witness image")) << err;
}

TEST(SplitImage, PiecesAreNumberedFromOneAndRunWhileUnbroken) {
  TempDir dir;
  for (const char* name : {"d.img.001", "d.img.002", "d.img.003", "d.img.005", "x.0001", "y.002"})
    WriteFile(dir / name, {0});
  EXPECT_EQ(SplitImagePieces(dir / "d.img.001"),
            (std::vector<std::string>{dir / "d.img.001", dir / "d.img.002", dir / "d.img.003"}));
  EXPECT_EQ(SplitImagePieces(dir / "x.0001"), std::vector<std::string>{dir / "x.0001"});
  EXPECT_TRUE(SplitImagePieces(dir / "y.002").empty());
  EXPECT_TRUE(SplitImagePieces(dir / "d.img").empty());
  EXPECT_TRUE(SplitImagePieces(dir / "d.01").empty());
}

}  // namespace
