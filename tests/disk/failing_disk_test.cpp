// Reading disks that fail: the rescue reader over an in-memory faulty disk and over real
// kernel paths (image file, loop device, loop device over a FUSE file that fails).

#include "support/failing_disk.h"
#include "disk/bad_sector_map.h"
#include "disk/memory_sector_reader.h"
#include "disk/rescue_reader.h"
#include "disk/sector_reader.h"
#include "support/temp_dir.h"
#include "support/test_disks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kChunk = 2048;  // sectors per fast-pass read, as a scan reads

/// Reads the whole disk as a scan does: the fast pass chunk by chunk, then the retry
/// passes, whose sectors land where they belong.
struct ScanResult {
  std::vector<std::uint8_t> bytes;
  RescueStats stats;
  bool lost = false;
  std::string lost_reason;
};

ScanResult ScanAll(RescueReader& rescue, std::uint64_t sectors) {
  ScanResult out;
  out.bytes.resize(sectors * 512);
  for (std::uint64_t lba = 0; lba < sectors && !out.lost; lba += kChunk) {
    const std::uint64_t n = std::min(kChunk, sectors - lba);
    const ForwardRead r = rescue.ReadForward(lba * 512, out.bytes.data() + lba * 512, n * 512);
    out.lost = r.lost;
    out.lost_reason = r.lost_reason;
  }
  CancelToken cancel;
  std::uint64_t previous = 0;
  out.stats = rescue.Retry(cancel, [&](std::uint64_t lba, std::span<const std::uint8_t> data) {
    EXPECT_GE(lba, previous) << "retried sectors come in ascending order";
    previous = lba;
    std::memcpy(out.bytes.data() + lba * 512, data.data(), data.size());
  });
  return out;
}

std::vector<std::uint8_t> Blanked(std::vector<std::uint8_t> bytes,
                                  const std::vector<SectorRange>& ranges) {
  for (const SectorRange& r : ranges) std::memset(bytes.data() + r.first * 512, 0, r.Count() * 512);
  return bytes;
}

std::vector<SectorRange> Runs(const std::set<std::uint64_t>& lbas, std::uint64_t unit = 1) {
  std::vector<SectorRange> out;
  for (std::uint64_t lba : lbas) {
    const std::uint64_t first = lba / unit * unit;
    if (!out.empty() && out.back().end >= first)
      out.back().end = std::max(out.back().end, first + unit);
    else
      out.push_back({first, first + unit, SectorState::kBad});
  }
  return out;
}

// --- Over an in-memory disk whose bad sectors fail one by one --------------------------

struct BadCase {
  const char* name;
  std::set<std::uint64_t> bad;
  std::uint64_t max_forward_reads;  ///< sector by sector would be 2048 more per bad chunk
};

class RescueOverFaultyReader : public testing::TestWithParam<BadCase> {};

TEST_P(RescueOverFaultyReader, SkipsAheadThenNarrowsDownToTheBadSectors) {
  constexpr std::uint64_t kSectors = 16 * kChunk;
  const std::vector<std::uint8_t> pattern = PatternBytes(kSectors);
  MemorySectorReader memory(pattern);
  FaultyReader faulty(memory);
  for (std::uint64_t lba : GetParam().bad) faulty.FailAt(lba);
  BadSectorMap map;
  RescueReader rescue(faulty, map);

  // Four readers at once, as a scan's workers read, each chunk in its own order.
  ScanResult scan;
  scan.bytes.resize(pattern.size());
  std::atomic<int> lost_reads{0};
  {
    std::vector<std::jthread> workers;
    for (std::uint64_t w = 0; w < 4; ++w)
      workers.emplace_back([&, w] {
        for (std::uint64_t c = w; c < kSectors / kChunk; c += 4)
          lost_reads +=
              rescue
                  .ReadForward(c * kChunk * 512, scan.bytes.data() + c * kChunk * 512, kChunk * 512)
                  .lost;
      });
  }
  EXPECT_EQ(lost_reads, 0);
  EXPECT_LE(faulty.Requests().size(), GetParam().max_forward_reads);
  EXPECT_EQ(map.Count(SectorState::kBad), 0u) << "nothing is bad before it was tried on its own";

  CancelToken cancel;
  const RescueStats stats =
      rescue.Retry(cancel, [&](std::uint64_t lba, std::span<const std::uint8_t> data) {
        std::memcpy(scan.bytes.data() + lba * 512, data.data(), data.size());
      });
  const auto bad = Runs(GetParam().bad);
  EXPECT_EQ(map.Ranges(), bad);
  EXPECT_EQ(stats.unreadable, GetParam().bad.size());
  EXPECT_EQ(stats.recovered + stats.unreadable, stats.retried);
  EXPECT_FALSE(stats.lost);
  EXPECT_TRUE(scan.bytes == Blanked(pattern, bad)) << "the same bytes as a sector-by-sector read";

  // A later read through the same map does not touch the known bad sectors again.
  const std::size_t before = faulty.Requests().size();
  std::vector<std::uint8_t> again(kChunk * 512);
  std::uint64_t zeroed = 0;
  std::string lost;
  for (std::uint64_t lba = 0; lba < kSectors; lba += kChunk) {
    ASSERT_TRUE(rescue.ReadFilling(lba * 512, again.data(), again.size(), zeroed, lost));
    EXPECT_EQ(std::memcmp(again.data(), scan.bytes.data() + lba * 512, again.size()), 0);
  }
  EXPECT_EQ(zeroed, GetParam().bad.size());
  for (std::size_t i = before; i < faulty.Requests().size(); ++i) {
    const auto [offset, size] = faulty.Requests()[i];
    for (std::uint64_t lba : GetParam().bad)
      EXPECT_FALSE(lba * 512 >= offset && lba * 512 < offset + size) << "re-read sector " << lba;
  }
}

std::set<std::uint64_t> Span(std::uint64_t first, std::uint64_t end) {
  std::set<std::uint64_t> out;
  for (std::uint64_t lba = first; lba < end; ++lba) out.insert(lba);
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RescueOverFaultyReader,
    // After the first failure the rest is read in 64 KiB pieces: 16 per chunk.
    testing::Values(BadCase{"Clean", {}, 16}, BadCase{"One", {1000}, 16 * 17 + 2},
                    BadCase{"Scattered", {0, 2047, 2048, 9999, 32767}, 16 * 17 + 5 * 2},
                    BadCase{"DeadArea", Span(4096, 4096 + 3 * kChunk), 16 * 17 + 3 * 4},
                    BadCase{
                        "EveryFewSectors", {5000, 5001, 5003, 5100, 5101, 6000}, 16 * 17 + 6 * 2}),
    [](const auto& info) { return info.param.name; });

TEST(RescueReader, RetriesStayWithinTheirBound) {
  const std::vector<std::uint8_t> pattern = PatternBytes(4 * kChunk);
  MemorySectorReader memory(pattern);
  FaultyReader faulty(memory);
  faulty.FailAt(3000);
  const struct {
    int passes;
    bool cancelled;
    std::uint64_t bad, skipped;  ///< left in the map
  } cases[] = {{0, false, 0, 128}, {2, true, 0, 128}, {1, false, 1, 0}, {3, false, 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.passes);
    BadSectorMap map;
    RescueReader rescue(faulty, map, {.retry_passes = c.passes});
    std::vector<std::uint8_t> bytes(pattern.size());
    rescue.ReadForward(0, bytes.data(), bytes.size());
    CancelToken cancel;
    if (c.cancelled) cancel.Cancel();
    const std::size_t before = faulty.Requests().size();
    const RescueStats stats = rescue.Retry(cancel, nullptr);
    if (c.passes == 0 || c.cancelled) {
      EXPECT_EQ(faulty.Requests().size(), before);
    }
    EXPECT_EQ(map.Count(SectorState::kBad), c.bad);
    EXPECT_EQ(map.Count(SectorState::kSkipped), c.skipped);
    EXPECT_EQ(stats.unreadable, c.bad + c.skipped);
    EXPECT_EQ(stats.skipped, 128u);
  }
}

TEST(RescueReader, LostAndEndedSourcesAreNotBadSectors) {
  const std::vector<std::uint8_t> pattern = PatternBytes(8 * kChunk);
  MemorySectorReader memory(pattern);
  FaultyReader faulty(memory);
  faulty.LoseAt(3 * kChunk + 7);  // ENODEV from here on
  BadSectorMap map;
  RescueReader rescue(faulty, map);
  const ScanResult scan = ScanAll(rescue, 8 * kChunk);
  EXPECT_TRUE(scan.lost);
  EXPECT_EQ(scan.lost_reason, "No such device");
  EXPECT_TRUE(scan.stats.lost);
  EXPECT_EQ(scan.stats.retried, 0u);
  EXPECT_EQ(map.Count(SectorState::kBad), 0u);

  // An image file cut short after it was opened: the disk ended, nothing is bad.
  TempDir dir;
  const std::string image = dir / "disk.img";
  WriteFile(image, PatternBytes(1000));
  auto reader = OpenSectorReader(image, nullptr);
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(::truncate(image.c_str(), 600 * 512), 0);
  BadSectorMap map2;
  RescueReader cut(*reader, map2);
  std::vector<std::uint8_t> buffer(1000 * 512);
  const ForwardRead r = cut.ReadForward(0, buffer.data(), buffer.size());
  EXPECT_TRUE(r.lost);
  EXPECT_EQ(r.lost_reason, "The disk ended at sector 600");
  EXPECT_EQ(reader->CheckPresent(), "The image file is now 307200 bytes long");
}

TEST(OpenSectorReader, RefusesWhatIsNotADiskWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* error;
  } cases[] = {
      {dir / "fifo", "Not a disk or disk image: a FIFO"},  // no writer: open() would wait
      {"/dev/null", "Not a disk or disk image: a character device"},
      {dir.path().string(), "Not a disk or disk image: a folder"},
  };
  for (const auto& c : cases) {
    std::string err;
    int error_number = -1;
    EXPECT_EQ(OpenSectorReader(c.path, &err, &error_number), nullptr) << c.path;
    EXPECT_EQ(err, c.error);
    EXPECT_EQ(error_number, 0);
  }
}

TEST(OpenSectorReader, ASourceReplacedAfterOpeningIsNotPresent) {
  TempDir dir;
  WriteFile(dir / "disk.img", PatternBytes(16));
  auto reader = OpenSectorReader(dir / "disk.img", nullptr);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->CheckPresent(), "");
  WriteFile(dir / "other.img", PatternBytes(16));
  ASSERT_EQ(std::rename((dir / "other.img").c_str(), (dir / "disk.img").c_str()), 0);
  EXPECT_EQ(reader->CheckPresent(), dir / "disk.img" + " now names another file");
}

// --- Over real kernel paths ------------------------------------------------------------

struct Backend {
  const char* name;
  bool fuse;                    ///< served by faulty_fs, which can fail sectors
  bool loop;                    ///< a loop device over the file
  std::uint32_t logical = 512;  ///< the loop device's logical sector size
};

class RescueOverBackend : public testing::TestWithParam<Backend> {
 protected:
  static constexpr std::uint64_t kSectors = 65536;  // 32 MiB

  void SetUp() override {
    pattern_ = PatternBytes(kSectors);
    WriteFile(image_, pattern_);
    const Backend& b = GetParam();
    if (b.fuse) {
      disk_ = std::make_unique<FailingDisk>(image_, FailingDisk::Options{b.loop, b.logical});
      if (!disk_->Ready()) GTEST_SKIP() << disk_->Why();
      path_ = disk_->Path();
    } else if (b.loop) {
      if (::geteuid() != 0) GTEST_SKIP() << "needs root for a loop device";
      FILE* p = ::popen(
          ("losetup -r -f --show -b " + std::to_string(b.logical) + " " + image_ + " 2>/dev/null")
              .c_str(),
          "r");
      char line[256] = {};
      if (p && std::fgets(line, sizeof line, p))
        loop_ = std::string(line, std::strcspn(line, "\n"));
      if (p) ::pclose(p);
      if (loop_.empty()) GTEST_SKIP() << "needs loop devices: losetup refused";
      path_ = loop_;
    } else {
      path_ = image_;
    }
  }
  void TearDown() override {
    if (!loop_.empty()) std::system(("losetup -d " + loop_).c_str());
  }

  TempDir dir_;
  std::string image_ = dir_ / "disk.img";
  std::vector<std::uint8_t> pattern_;
  std::unique_ptr<FailingDisk> disk_;
  std::string loop_, path_;
};

TEST_P(RescueOverBackend, OneFailingSectorCostsOneLogicalBlock) {
  const std::set<std::uint64_t> bad =
      GetParam().fuse ? std::set<std::uint64_t>{1000, 40001} : std::set<std::uint64_t>{};
  if (disk_) disk_->Control("fail 1000\nfail 40001\n");
  std::string err;
  auto reader = OpenSectorReader(path_, &err);
  ASSERT_NE(reader, nullptr) << err;
  EXPECT_EQ(reader->SectorCount(), kSectors) << "counts stay in 512-byte sectors";
  EXPECT_EQ(reader->LogicalSectorSize(), GetParam().loop ? GetParam().logical : 512u);
  EXPECT_EQ(reader->CheckPresent(), "");

  BadSectorMap map;
  RescueReader rescue(*reader, map);
  const ScanResult scan = ScanAll(rescue, kSectors);
  EXPECT_FALSE(scan.lost) << scan.lost_reason;
  const auto expected = Runs(bad, reader->LogicalSectorSize() / 512);
  EXPECT_EQ(map.Ranges(), expected);
  EXPECT_TRUE(scan.bytes == Blanked(pattern_, expected));

  // The saver's read of a file over a bad sector, with no map yet.
  BadSectorMap fresh;
  RescueReader saver(*reader, fresh);
  std::vector<std::uint8_t> file(300 * 512);
  std::uint64_t zeroed = 0;
  std::string lost;
  ASSERT_TRUE(saver.ReadFilling(900 * 512, file.data(), file.size(), zeroed, lost)) << lost;
  EXPECT_EQ(zeroed, bad.empty() ? 0u : reader->LogicalSectorSize() / 512);
  EXPECT_EQ(std::memcmp(file.data(), scan.bytes.data() + 900 * 512, file.size()), 0);
}

/// The back-ends that can vanish: those served by faulty_fs.
class VanishingBackend : public RescueOverBackend {};

TEST_P(VanishingBackend, IsLostNotUnreadable) {
  for (const char* how : {"vanish EIO\n", "vanish ENOTCONN\n", "exit\n"}) {
    SCOPED_TRACE(how);  // "exit" ends the daemon for good: the last case
    std::string err;
    auto reader = OpenSectorReader(path_, &err);
    ASSERT_NE(reader, nullptr) << err;
    BadSectorMap map;
    RescueReader rescue(*reader, map, {.lost_run_bytes = 4 << 20});
    std::vector<std::uint8_t> chunk(kChunk * 512);
    ASSERT_FALSE(rescue.ReadForward(0, chunk.data(), chunk.size()).lost);
    disk_->Control(how);
    ForwardRead r;
    std::uint64_t lba = kChunk;
    for (; lba < kSectors && !r.lost; lba += kChunk) {
      r = rescue.ReadForward(lba * 512, chunk.data(), chunk.size());
      reader->Forget(lba * 512, chunk.size());
    }
    EXPECT_TRUE(r.lost);
    EXPECT_FALSE(r.lost_reason.empty());
    EXPECT_LE(lba, kChunk + (4 << 20) / 512 + 2 * kChunk) << r.lost_reason;
    EXPECT_EQ(map.Count(SectorState::kBad), 0u);
    EXPECT_TRUE(rescue.Retry(CancelToken{}, nullptr).lost);
    disk_->Control("");
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, RescueOverBackend,
                         testing::Values(Backend{"ImageFile", false, false},
                                         Backend{"Loop4Kn", false, true, 4096},
                                         Backend{"FuseFile", true, false},
                                         Backend{"LoopOverFuse", true, true},
                                         Backend{"Loop4KnOverFuse", true, true, 4096}),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Backends, VanishingBackend,
                         testing::Values(Backend{"FuseFile", true, false},
                                         Backend{"LoopOverFuse", true, true},
                                         Backend{"Loop4KnOverFuse", true, true, 4096}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
