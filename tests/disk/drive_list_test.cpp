#include "disk/drive_list.h"
#include "disk/drive_details.h"
#include "disk/drive_identity.h"
#include "support/fake_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kTiB = 1ULL << 40;

/// Writes `text` into an IDENTIFY field as the ATA layout has it: blank-padded, two
/// characters per word with the first in the word's high byte (little-endian words).
void PutDriveText(IdentifyRaw& raw, std::size_t offset, std::size_t length, std::string text) {
  text.resize(length, ' ');
  for (std::size_t i = 0; i < length; i += 2) {
    raw[offset + i] = static_cast<std::uint8_t>(text[i + 1]);
    raw[offset + i + 1] = static_cast<std::uint8_t>(text[i]);
  }
}

void PutWord(IdentifyRaw& raw, std::size_t word, std::uint16_t value) {
  raw[word * 2] = static_cast<std::uint8_t>(value & 0xFF);
  raw[word * 2 + 1] = static_cast<std::uint8_t>(value >> 8);
}

IdentifyRaw RawWithModel(const std::string& model) {
  IdentifyRaw raw{};
  PutDriveText(raw, kModelOffset, kModelLength, model);
  return raw;
}

/// A captured IDENTIFY DEVICE answer of a 500 GB SATA disk, built from the ATA layout.
IdentifyRaw CapturedIdentify() {
  IdentifyRaw raw{};
  PutWord(raw, 0, 0x0040);  // fixed, non-removable
  PutDriveText(raw, kSerialOffset, kSerialLength, "     WD-WCAYU1234567");
  PutDriveText(raw, kFirmwareOffset, kFirmwareLength, "15.01H15");
  PutDriveText(raw, kModelOffset, kModelLength, "WDC WD5000AAKX-00ERMA0");
  PutWord(raw, 49, 0x2F00);  // LBA and DMA supported
  PutWord(raw, 60, 0xFFFF);  // LBA28 sectors, low word
  PutWord(raw, 61, 0x0FFF);
  PutWord(raw, 100, 0x6DB0);  // LBA48 sectors: 976,773,168
  PutWord(raw, 101, 0x3A38);
  PutWord(raw, 106, 0x4000);
  // Integrity word: signature A5h and a checksum that makes the 512 bytes sum to zero.
  raw[510] = 0xA5;
  unsigned sum = 0;
  for (std::size_t i = 0; i < 511; ++i) sum += raw[i];
  raw[511] = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
  return raw;
}

/// Stands where the drive itself would answer; remembers which drives were asked.
class FakeIdentifySource final : public IdentifySource {
 public:
  bool ReadIdentify(const DriveEntry& drive, IdentifyRaw& raw) const override {
    asked.push_back(drive.name);
    if (drive.name == fail_on) throw std::runtime_error("the device went away");
    const auto it = answers.find(drive.name);
    if (it == answers.end()) return false;
    raw = it->second;
    return true;
  }

  std::map<std::string, IdentifyRaw> answers;
  std::string fail_on;
  mutable std::vector<std::string> asked;
};

DiskInfo DiskOf(std::uint64_t sectors, bool removable, const IdentifyRaw& raw = {}) {
  DiskInfo disk;
  disk.SetDriveNumber(3);
  disk.SetParameters(ParametersForSize(sectors, 512, removable));
  disk.SetIdentifyData(PrepareIdentifyData(raw));
  return disk;
}

// --- The identity block ---------------------------------------------------------------

TEST(IdentifyData, DecodesACapturedBlock) {
  const IdentifyRaw raw = CapturedIdentify();
  const DiskInfo::IdentifyBlock block = PrepareIdentifyData(raw);
  // Model and firmware read in order, the serial keeps the drive's word order.
  EXPECT_EQ(std::string(block.begin() + 54, block.begin() + 94),
            "WDC WD5000AAKX-00ERMA0                  ");
  EXPECT_EQ(std::string(block.begin() + 46, block.begin() + 54), "15.01H15");
  EXPECT_EQ(std::string(block.begin() + 20, block.begin() + 40), "    W -DCWYA1U325476");
  // Everything else of the first half is copied as it came.
  EXPECT_EQ(std::memcmp(block.data(), raw.data(), 20), 0);
  EXPECT_EQ(std::memcmp(block.data() + 94, raw.data() + 94, 256 - 94), 0);
  EXPECT_EQ(block[200], 0xB0);
  EXPECT_EQ(block[201], 0x6D);
  EXPECT_EQ(ModelText(DiskOf(976773168, false, raw)), "WDC WD5000AAKX-00ERMA0");
}

TEST(IdentifyData, EverySourceGivesTheSameBlock) {
  const IdentifyRaw captured = CapturedIdentify();
  // PutAtaText lays a text out exactly as the drive does.
  IdentifyRaw built = captured;
  PutAtaText(built, kModelOffset, kModelLength, "WDC WD5000AAKX-00ERMA0");
  PutAtaText(built, kFirmwareOffset, kFirmwareLength, "15.01H15");
  EXPECT_EQ(built, captured);
  // The kernel's copy reads in order; put back, it is the drive's answer again.
  IdentifyRaw kernel = captured;
  SwapWordBytes(std::span(kernel).subspan(kSerialOffset, kSerialLength));
  SwapWordBytes(std::span(kernel).subspan(kFirmwareOffset, kFirmwareLength));
  SwapWordBytes(std::span(kernel).subspan(kModelOffset, kModelLength));
  EXPECT_EQ(std::string(kernel.begin() + 54, kernel.begin() + 76), "WDC WD5000AAKX-00ERMA0");
  TextsToDriveOrder(kernel);
  EXPECT_EQ(kernel, captured);
}

TEST(IdentifyData, SwapsWordsAndLeavesAnOddLastByte) {
  std::array<std::uint8_t, 5> bytes = {1, 2, 3, 4, 5};
  SwapWordBytes(bytes);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 5>{2, 1, 4, 3, 5}));
  SwapWordBytes(std::span(bytes).first(0));
  IdentifyRaw raw{};
  PutAtaText(raw, kModelOffset, kModelLength, std::string(50, 'M') + "overflow");
  EXPECT_EQ(raw[kModelOffset + kModelLength], 0);  // cut at the field's end
  EXPECT_EQ(raw[kModelOffset - 1], 0);
}

TEST(IdentifyData, AsksOnlyForAReadOfIdentifyDevice) {
  const std::array<std::uint8_t, 16> expected = {0x85, 0x08, 0x0E, 0, 0, 0, 0x01, 0,
                                                 0,    0,    0,    0, 0, 0, 0xEC, 0};
  EXPECT_EQ(AtaIdentifyCdb(), expected);
}

// --- The texts ------------------------------------------------------------------------

TEST(DriveTexts, BlankModelOnFixedAndRemovableDisks) {
  const IdentifyRaw blank = RawWithModel(std::string(40, ' '));
  EXPECT_EQ(TypeText(DiskOf(100, false, blank)) + ModelText(DiskOf(100, false, blank)),
            "[Fixed Disk] ");
  EXPECT_EQ(TypeText(DiskOf(100, true, blank)) + ModelText(DiskOf(100, true, blank)),
            "[Removable Disk] Unknown");
  // No identity at all reads the same way.
  EXPECT_EQ(ModelText(DiskOf(100, false)), "");
  EXPECT_EQ(ModelText(DiskOf(100, true)), "Unknown");
}

TEST(DriveTexts, ModelFieldIsTakenToItsFirstZeroAndTrimmed) {
  const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
  EXPECT_EQ(ModelText(DiskOf(1, false, RawWithModel(forty))), forty);
  EXPECT_EQ(ModelText(DiskOf(1, false, RawWithModel(" \t SAMSUNG  SSD\x7F\r\n  "))),
            "SAMSUNG  SSD");
  std::string with_zero = "KINGSTON";
  with_zero += '\0';
  with_zero += "GARBAGE";
  EXPECT_EQ(ModelText(DiskOf(1, true, RawWithModel(with_zero))), "KINGSTON");
  std::string zero_first(1, '\0');
  zero_first += "HIDDEN";
  EXPECT_EQ(ModelText(DiskOf(1, true, RawWithModel(zero_first))), "Unknown");
}

TEST(DriveTexts, CapacityInMegabytesAndGigabytes) {
  EXPECT_EQ(CapacityText(1999999, "."), "976.56 MB ");
  EXPECT_EQ(CapacityText(2048000, "."), "0.98 GB ");
  EXPECT_EQ(CapacityText(16065000, "."), "7.66 GB ");
  EXPECT_EQ(CapacityText(0, "."), "0.00 MB ");
  EXPECT_EQ(CapacityText(2047999, "."), "1000.00 MB ");  // rounds up, still under 1,000
}

TEST(DriveTexts, CapacityOfDisksBeyondTwoTerabytesIsTheirTrueSize) {
  // Read as a signed 32-bit count these would show as negative or wrapped sizes.
  EXPECT_EQ(CapacityText(kTiB / 512, "."), "1024.00 GB ");
  EXPECT_EQ(CapacityText(3 * kTiB / 512, "."), "3072.00 GB ");
  EXPECT_EQ(CapacityText(16 * kTiB / 512, "."), "16384.00 GB ");
  EXPECT_EQ(DriveDetailTexts(DiskOf(3 * kTiB / 512, false), ".").capacity, "3072.00 GB ");
}

TEST(DriveTexts, CapacityUsesTheUsersDecimalSeparator) {
  EXPECT_EQ(CapacityText(1999999, ","), "976,56 MB ");
  EXPECT_EQ(CapacityText(2048000, "\u066B"), "0\u066B98 GB ");
  EXPECT_EQ(CapacityText(4096, ","), "2,00 MB ");
}

TEST(DriveTexts, DetailsPanel) {
  DiskInfo disk = DiskOf(1999999, true, RawWithModel("  Generic Card Reader"));
  DriveParameters p = disk.Parameters();
  p.BytesPerSector = 4096;
  disk.SetParameters(p);
  const DriveDetails d = DriveDetailTexts(disk, ",");
  EXPECT_EQ(d.type, "[Removable Disk] ");
  EXPECT_EQ(d.model, "Generic Card Reader");
  EXPECT_EQ(d.physical_id, "3");
  EXPECT_EQ(d.bytes_per_sector, "4096");
  EXPECT_EQ(d.capacity, "976,56 MB ");
}

// --- IdentifyDrive --------------------------------------------------------------------

TEST(IdentifyDrive, LeavesTheBlockAloneWhenTheDriveGivesNone) {
  FakeMachine machine;
  ASSERT_TRUE(machine.Add({.name = "sda", .sectors = 64}));
  DriveTable table(machine.Sys(), machine.Dev());
  FakeIdentifySource source;
  DiskInfo::IdentifyBlock block;
  block.fill(0x5A);
  IdentifyDrive(table, source, 0, block);
  IdentifyDrive(table, source, 7, block);  // not in the table
  EXPECT_EQ(block[0], 0x5A);
  EXPECT_EQ(block[255], 0x5A);
  EXPECT_EQ(source.asked, std::vector<std::string>{"sda"});
  source.answers["sda"] = CapturedIdentify();
  IdentifyDrive(table, source, 0, block);
  EXPECT_EQ(block, PrepareIdentifyData(CapturedIdentify()));
}

TEST(IdentifyDrive, AnImageIsNamedAfterItsFile) {
  TempDir dir;
  DriveTable table(dir / "sys", dir / "dev");
  const std::string short_name = dir / "camera-card.img";
  const std::string long_name = dir / "a-very-long-name-for-a-disk-image-of-a-card.img";
  WriteFile(short_name, PatternBytes(4));
  WriteFile(long_name, PatternBytes(4));
  FakeIdentifySource source;
  DiskInfo disk = DiskOf(4, false);
  DiskInfo::IdentifyBlock block{};
  IdentifyDrive(table, source, table.RegisterImage(short_name), block);
  disk.SetIdentifyData(block);
  EXPECT_EQ(ModelText(disk), "camera-card.img");
  IdentifyDrive(table, source, table.RegisterImage(long_name), block);
  disk.SetIdentifyData(block);
  EXPECT_EQ(ModelText(disk), "a-very-long-name-for-a-disk-image-of-a-c");  // the field's 40
  EXPECT_TRUE(source.asked.empty());
}

// --- EnumerateDrives ------------------------------------------------------------------

TEST(EnumerateDrives, OneRowPerAnsweringDriveInNumberOrder) {
  FakeMachine machine;
  // 16,065,100 sectors: a hundred past the last whole cylinder of 255 x 63.
  ASSERT_TRUE(machine.Add({.name = "sda", .sectors = 16065100}));
  ASSERT_TRUE(machine.Add({.name = "sdb", .sectors = 1999999, .removable = true}));
  ASSERT_TRUE(machine.Add({.name = "sdc", .sectors = 50, .device_file = false}));
  ASSERT_TRUE(machine.Add({.name = "sdd", .sectors = 2048000, .removable = true}));
  DriveTable table(machine.Sys(), machine.Dev());
  const std::string image = machine.dir_ / "card.img";
  WriteFile(image, PatternBytes(10));
  ASSERT_EQ(table.RegisterImage(image), 4);
  FakeIdentifySource source;
  source.answers["sda"] = CapturedIdentify();
  source.answers["sdb"] = RawWithModel(std::string(40, ' '));
  std::string err = "stale";
  const std::vector<DriveRow> rows = EnumerateDrives(table, source, &err);
  EXPECT_EQ(err, "");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].caption, "[Fixed Disk] WDC WD5000AAKX-00ERMA0");
  EXPECT_EQ(rows[1].caption, "[Removable Disk] Unknown");
  EXPECT_EQ(rows[2].caption, "[Removable Disk] Unknown");  // no identity at all
  EXPECT_EQ(rows[3].caption, "[Fixed Disk] card.img");
  // sdc has no device to open and is left out; the numbers stay the table's.
  EXPECT_EQ(rows[0].disk.DriveNumber(), 0);
  EXPECT_EQ(rows[1].disk.DriveNumber(), 1);
  EXPECT_EQ(rows[2].disk.DriveNumber(), 3);
  EXPECT_EQ(rows[3].disk.DriveNumber(), 4);
  EXPECT_EQ(rows[3].path, image);
  EXPECT_EQ(rows[0].path, machine.DevicePath("sda"));
  // The scan covers the whole disk, also the part-cylinder at its end.
  EXPECT_EQ(rows[0].disk.SectorCount(), 16065100u);
  EXPECT_EQ(std::uint64_t{rows[0].disk.Parameters().TotalSectors}, 16065100u);
  EXPECT_EQ(rows[3].disk.SectorCount(), 10u);
  EXPECT_EQ(rows[0].disk.IdentifyData(), PrepareIdentifyData(CapturedIdentify()));
  for (const DriveRow& row : rows) EXPECT_TRUE(row.Readable()) << row.path;
  EXPECT_EQ(DriveDetailTexts(rows[1].disk, ".").capacity, "976.56 MB ");
  EXPECT_EQ(DriveDetailTexts(rows[2].disk, ".").capacity, "0.98 GB ");
}

TEST(EnumerateDrives, NeverProbesDriveNumbersAbove24) {
  FakeMachine machine;
  for (int i = 0; i < 30; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "disk%02d", i);
    ASSERT_TRUE(machine.Add({.name = name, .sectors = 8}));
  }
  DriveTable table(machine.Sys(), machine.Dev());
  ASSERT_EQ(table.Drives().size(), 30u);
  FakeIdentifySource source;
  const std::vector<DriveRow> rows = EnumerateDrives(table, source);
  ASSERT_EQ(rows.size(), 25u);
  EXPECT_EQ(rows.back().disk.DriveNumber(), 24);
  ASSERT_EQ(source.asked.size(), 25u);
  EXPECT_EQ(source.asked.back(), "disk24");
}

TEST(EnumerateDrives, AFailureEndsTheLoopAndKeepsTheRowsSoFar) {
  FakeMachine machine;
  for (const char* name : {"sda", "sdb", "sdc", "sdd"}) ASSERT_TRUE(machine.Add({name, 8}));
  DriveTable table(machine.Sys(), machine.Dev());
  FakeIdentifySource source;
  source.fail_on = "sdc";
  std::string err;
  const std::vector<DriveRow> rows = EnumerateDrives(table, source, &err);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].disk.DriveNumber(), 1);
  EXPECT_EQ(err, "drive 2: the device went away");
  EXPECT_EQ(source.asked.back(), "sdc");
}

TEST(EnumerateDrives, ADiskOfThreeTerabytesKeepsItsWholeSize) {
  FakeMachine machine;
  if (!machine.Add({.name = "sda", .sectors = 3 * kTiB / 512}))
    GTEST_SKIP() << "this file system holds no sparse file of 3 TiB";
  DriveTable table(machine.Sys(), machine.Dev());
  FakeIdentifySource source;
  const std::vector<DriveRow> rows = EnumerateDrives(table, source);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].disk.SectorCount(), 3 * kTiB / 512);
  EXPECT_EQ(DriveDetailTexts(rows[0].disk, ".").capacity, "3072.00 GB ");
}

/// Runs `check` in a child process that may not open files of mode 0600 owned by root
/// (as nobody when the tests run as root); the child's exit code is its verdict.
template <typename Check>
void ExpectUnprivileged(const std::filesystem::path& tree, const std::vector<std::string>& refused,
                        Check check) {
  namespace fs = std::filesystem;
  const bool root = ::geteuid() == 0;
  for (const auto& e : fs::recursive_directory_iterator(tree))
    fs::permissions(e.path(), e.is_directory() ? fs::perms(0755) : fs::perms(0644));
  fs::permissions(tree, fs::perms(0755));
  for (const std::string& path : refused)
    fs::permissions(path, root ? fs::perms(0600) : fs::perms::none);
  EXPECT_EXIT(
      {
        if (root && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                     ::setresuid(65534, 65534, 65534) != 0))
          std::_Exit(3);
        std::_Exit(check() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(EnumerateDrives, ADiskThatMayNotBeOpenedIsListedFromSysfs) {
  FakeMachine machine;
  ASSERT_TRUE(machine.Add({.name = "sda", .sectors = 2048000, .model = "QEMU HARDDISK   \n"}));
  ASSERT_TRUE(
      machine.Add({.name = "sdb", .sectors = 0, .removable = true}));  // no card: no drive number
  ASSERT_TRUE(machine.Add({.name = "sdc", .sectors = 64}));
  const std::vector<std::string> refused = {machine.DevicePath("sda"), machine.DevicePath("sdb")};
  ExpectUnprivileged(machine.dir_.path(), refused, [&] {
    DriveTable table(machine.Sys(), machine.Dev());
    const auto identify = PlatformIdentifySource(machine.Sys());
    const std::vector<DriveRow> rows = EnumerateDrives(table, *identify);
    const bool ok =
        rows.size() == 2 && rows[0].disk.DriveNumber() == 0 && rows[0].open_error == EACCES &&
        !rows[0].Readable() && rows[0].open_error_text == std::strerror(EACCES) &&
        rows[0].caption == "[Fixed Disk] QEMU HARDDISK" && rows[0].disk.SectorCount() == 2048000 &&
        rows[0].disk.Parameters().BytesPerSector == 512 && rows[1].disk.DriveNumber() == 1 &&
        rows[1].Readable();
    if (!ok && !rows.empty())
      std::fprintf(stderr, "rows %zu, first '%s' error %d\n", rows.size(), rows[0].caption.c_str(),
                   rows[0].open_error);
    return ok;
  });
}

TEST(EnumerateDrives, ListsEveryDiskOfThisMachineThatSysfsSizes) {
  DriveTable table;
  const auto identify = PlatformIdentifySource();
  std::string err;
  const std::vector<DriveRow> rows = EnumerateDrives(table, *identify, &err);
  EXPECT_EQ(err, "");
  std::size_t expected = 0;
  for (int n = 0; n < static_cast<int>(table.Drives().size()) && n <= kLastProbedDrive; ++n) {
    std::ifstream in("/sys/block/" + table.Drives()[static_cast<std::size_t>(n)].name + "/size");
    std::uint64_t sectors = 0;
    if (!(in >> sectors) || sectors == 0) continue;
    ++expected;
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [n](const DriveRow& r) { return r.disk.DriveNumber() == n; });
    ASSERT_NE(row, rows.end()) << "drive " << n << " is missing";
    EXPECT_EQ(row->disk.SectorCount(), sectors);
    if (!row->Readable()) {
      EXPECT_TRUE(IsAccessRefused(row->open_error)) << row->open_error_text;
    }
  }
  EXPECT_EQ(rows.size(), expected);
}

TEST(EnumerateDrives, ALoopDeviceGivenByPathReadsWithItsTrueSize) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  WriteFile(image, PatternBytes(4097));
  std::string loop;
  if (FILE* p = ::popen(("losetup -f --show -r " + image + " 2>/dev/null").c_str(), "r")) {
    char line[256] = {};
    if (std::fgets(line, sizeof line, p)) loop = std::string(line, std::strcspn(line, "\n"));
    ::pclose(p);
  }
  if (loop.empty()) GTEST_SKIP() << "losetup refused: no loop devices here";
  DriveTable table(dir / "sys", dir / "dev");
  const int drive = table.RegisterImage(loop);
  const auto identify = PlatformIdentifySource();
  const std::vector<DriveRow> rows = EnumerateDrives(table, *identify);
  // The drive itself has no IDENTIFY data, no kernel copy and no model text.
  IdentifyRaw raw{};
  const bool identified =
      identify->ReadIdentify({std::filesystem::path(loop).filename().string(), loop, false}, raw);
  std::system(("losetup -d " + loop + " 2>/dev/null").c_str());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].disk.DriveNumber(), drive);
  EXPECT_EQ(rows[0].disk.SectorCount(), 4097u);
  EXPECT_EQ(rows[0].caption, "[Fixed Disk] " + std::filesystem::path(loop).filename().string());
  EXPECT_TRUE(rows[0].Readable());
  EXPECT_FALSE(identified);
}

// --- The platform's identify source and the drive table's sysfs reading --------------

TEST(PlatformIdentifySource, FallsBackToTheSysfsModel) {
  FakeMachine machine;
  ASSERT_TRUE(machine.Add({.name = "sda", .sectors = 8, .model = "QEMU HARDDISK   \n"}));
  ASSERT_TRUE(machine.Add({.name = "sdb", .sectors = 8, .model = "   \n"}));
  ASSERT_TRUE(machine.Add({.name = "sdc", .sectors = 8}));
  ASSERT_TRUE(machine.Add({.name = "sdd", .sectors = 8, .model = std::string(44, 'X')}));
  const auto source = PlatformIdentifySource(machine.Sys());
  IdentifyRaw raw{};
  ASSERT_TRUE(source->ReadIdentify({"sda", machine.DevicePath("sda"), false}, raw));
  EXPECT_EQ(raw, RawWithModel("QEMU HARDDISK"));  // in the drive's word order
  EXPECT_EQ(ModelText(DiskOf(8, false, raw)), "QEMU HARDDISK");
  EXPECT_FALSE(source->ReadIdentify({"sdb", machine.DevicePath("sdb"), false}, raw));
  EXPECT_FALSE(source->ReadIdentify({"sdc", machine.DevicePath("sdc"), false}, raw));
  ASSERT_TRUE(source->ReadIdentify({"sdd", machine.DevicePath("sdd"), false}, raw));
  EXPECT_EQ(ModelText(DiskOf(8, false, raw)), std::string(40, 'X'));
}

TEST(DriveTable, ReadsParametersFromSysfsWithoutOpening) {
  FakeMachine machine;
  ASSERT_TRUE(machine.Add({.name = "sda", .sectors = 2048000, .logical_block_size = 4096}));
  ASSERT_TRUE(machine.Add({.name = "sdb", .sectors = 0, .removable = true}));
  ASSERT_TRUE(machine.Add({.name = "sdc", .sectors = 100, .removable = true}));
  ASSERT_TRUE(machine.Add({.name = "sdd", .sectors = 100}));
  WriteText(machine.Sys() + "/block/sdc/queue/logical_block_size", "lots\n");
  WriteText(machine.Sys() + "/block/sdd/size", "12x\n");
  DriveTable table(machine.Sys(), machine.Dev());
  const std::string image = machine.dir_ / "card.img";
  WriteFile(image, PatternBytes(2));
  const int image_drive = table.RegisterImage(image);
  DriveParameters p;
  ASSERT_TRUE(table.SysfsDriveParameters(0, p));
  // sysfs counts 512-byte units whatever the sector; so do the parameters
  EXPECT_EQ(std::uint64_t{p.TotalSectors}, 2048000u);
  EXPECT_EQ(std::uint16_t{p.BytesPerSector}, 512);
  EXPECT_EQ(p.Flags & kRemovableFlag, 0);
  ASSERT_EQ(table.Drives().size(), 4u);  // sdb, of no sectors, takes no drive number
  ASSERT_TRUE(table.SysfsDriveParameters(1, p));
  EXPECT_EQ(std::uint16_t{p.BytesPerSector}, 512);
  EXPECT_EQ(p.Flags & kRemovableFlag, kRemovableFlag);
  EXPECT_FALSE(table.SysfsDriveParameters(2, p));
  EXPECT_FALSE(table.SysfsDriveParameters(image_drive, p));
  EXPECT_FALSE(table.SysfsDriveParameters(99, p));
}

TEST(DriveTable, OpenSaysWhyWithTheErrorNumber) {
  TempDir dir;
  DriveTable table(dir / "sys", dir / "dev");
  const int missing = table.RegisterImage(dir / "missing.img");
  std::string err;
  int error_number = 0;
  EXPECT_EQ(table.Open(missing, &err, &error_number), nullptr);
  EXPECT_EQ(error_number, ENOENT);
  EXPECT_EQ(table.Open(40, &err, &error_number), nullptr);
  EXPECT_EQ(error_number, ENODEV);
  EXPECT_EQ(err, "No such device");
  WriteFile(dir / "missing.img", PatternBytes(1));
  EXPECT_NE(table.Open(missing, &err, &error_number), nullptr);
  EXPECT_EQ(error_number, 0);
  EXPECT_FALSE(IsAccessRefused(ENOENT));
  EXPECT_TRUE(IsAccessRefused(EPERM));
}

}  // namespace

TEST(EnumerateDrives, EmptyDevicesTakeNoDriveNumber) {
  // Idle nbd nodes of no sectors must not push a registered image off the probed numbers.
  FakeMachine machine;
  for (int i = 0; i < 30; ++i)
    ASSERT_TRUE(machine.Add({.name = "nbd" + std::to_string(i), .sectors = 0}));
  ASSERT_TRUE(machine.Add({.name = "sda", .sectors = 64}));
  DriveTable table(machine.Sys(), machine.Dev());
  const std::string image = machine.dir_ / "card.img";
  WriteFile(image, PatternBytes(8));
  EXPECT_EQ(table.RegisterImage(image), 1);
  FakeIdentifySource source;
  const std::vector<DriveRow> rows = EnumerateDrives(table, source);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].path, machine.DevicePath("sda"));
  EXPECT_EQ(rows[1].path, image);
}

TEST(DriveTable, DriveNumbersPast255DoNotWrap) {
  FakeMachine machine;
  DriveTable table(machine.Sys(), machine.Dev());
  for (int i = 0; i < 260; ++i) {
    const std::string image = machine.dir_ / ("img" + std::to_string(i));
    WriteFile(image, std::vector<std::uint8_t>((i % 7 + 1) * 512));
    ASSERT_EQ(table.RegisterImage(image), i);
  }
  for (const int drive : {3, 259}) {
    DriveParameters p;
    ASSERT_TRUE(table.GetDriveParameters(drive, p));
    EXPECT_EQ(std::uint64_t{p.TotalSectors}, std::uint64_t(drive % 7 + 1)) << drive;
  }
  DriveParameters p;
  EXPECT_FALSE(table.GetDriveParameters(260, p));
  EXPECT_FALSE(table.GetDriveParameters(-1, p));
}
