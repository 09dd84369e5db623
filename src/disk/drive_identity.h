#pragma once

#include "disk/disk_info.h"
#include "disk/drive_table.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

/// The 512 bytes of ATA IDENTIFY DEVICE data as the drive sends them: little-endian
/// words, texts with their first character in the high byte of each word.
using IdentifyRaw = std::array<std::uint8_t, 512>;

/// Byte offsets and lengths of the texts in the IDENTIFY data.
inline constexpr std::size_t kSerialOffset = 20;
inline constexpr std::size_t kSerialLength = 20;
inline constexpr std::size_t kFirmwareOffset = 46;
inline constexpr std::size_t kFirmwareLength = 8;
inline constexpr std::size_t kModelOffset = 54;
inline constexpr std::size_t kModelLength = 40;

/// Where a block device's identity comes from. The Linux source asks the drive itself
/// and falls back to sysfs; tests stand a fake behind the same interface.
class IdentifySource {
 public:
  virtual ~IdentifySource() = default;

  /// Fills `raw` with the IDENTIFY data of block device `drive` in the drive's own word
  /// order; false when no identity is to be had. Never sends a command that writes.
  virtual bool ReadIdentify(const DriveEntry& drive, IdentifyRaw& raw) const = 0;
};

/// The platform's source: SG_IO ATA PASS-THROUGH, then HDIO_GET_IDENTITY, then the
/// model text under `sysfs_root`.
[[nodiscard]] std::unique_ptr<IdentifySource> PlatformIdentifySource(
    std::string sysfs_root = "/sys");

/// Exchanges the two bytes of every 16-bit word of `bytes`; an odd last byte stays.
void SwapWordBytes(std::span<std::uint8_t> bytes);

/// Writes `text` into the IDENTIFY field at `offset` the way a drive stores it: padded
/// with blanks to `length` (cut when longer), two characters per word, first one high.
void PutAtaText(IdentifyRaw& raw, std::size_t offset, std::size_t length, std::string_view text);

/// Puts the serial, firmware and model texts of an identity whose texts already read in
/// order (as the kernel's HDIO_GET_IDENTITY gives them) back into the drive's word order.
void TextsToDriveOrder(IdentifyRaw& raw);

/// The 16-byte ATA PASS-THROUGH command block that asks for IDENTIFY DEVICE: PIO data-in,
/// one 512-byte block read from the drive.
[[nodiscard]] std::array<std::uint8_t, 16> AtaIdentifyCdb();

/// The identity block a DiskInfo keeps: model and firmware swapped into reading order,
/// then the first 256 bytes. The serial number keeps the drive's order.
[[nodiscard]] DiskInfo::IdentifyBlock PrepareIdentifyData(IdentifyRaw raw);

/// Fills `block` with the identity of drive `drive`; leaves it unchanged when the drive
/// gives none. A registered image answers with its file name as model.
void IdentifyDrive(const DriveTable& table, const IdentifySource& source, int drive,
                   DiskInfo::IdentifyBlock& block);
