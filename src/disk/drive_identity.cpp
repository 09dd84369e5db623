#include "disk/drive_identity.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::uint8_t kAtaPassThrough16 = 0x85;
constexpr std::uint8_t kProtocolPioDataIn = 4;
constexpr std::uint8_t kIdentifyDevice = 0xEC;

}  // namespace

void SwapWordBytes(std::span<std::uint8_t> bytes) {
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
}

void PutAtaText(IdentifyRaw& raw, std::size_t offset, std::size_t length, std::string_view text) {
  const std::span<std::uint8_t> field(raw.data() + offset, length);
  std::fill(field.begin(), field.end(), static_cast<std::uint8_t>(' '));
  std::copy_n(text.begin(), std::min(text.size(), length), field.begin());
  SwapWordBytes(field);
}

void TextsToDriveOrder(IdentifyRaw& raw) {
  SwapWordBytes(std::span(raw).subspan(kSerialOffset, kSerialLength));
  SwapWordBytes(std::span(raw).subspan(kFirmwareOffset, kFirmwareLength));
  SwapWordBytes(std::span(raw).subspan(kModelOffset, kModelLength));
}

std::array<std::uint8_t, 16> AtaIdentifyCdb() {
  std::array<std::uint8_t, 16> cdb{};
  cdb[0] = kAtaPassThrough16;
  cdb[1] = kProtocolPioDataIn << 1;
  // T_DIR (from the drive), BYT_BLOK (count in blocks), T_LENGTH in the sector count field.
  cdb[2] = 0x08 | 0x04 | 0x02;
  cdb[6] = 1;  // one block
  cdb[14] = kIdentifyDevice;
  return cdb;
}

DiskInfo::IdentifyBlock PrepareIdentifyData(IdentifyRaw raw) {
  SwapWordBytes(std::span(raw).subspan(kModelOffset, kModelLength));
  SwapWordBytes(std::span(raw).subspan(kFirmwareOffset, kFirmwareLength));
  DiskInfo::IdentifyBlock block{};
  std::copy_n(raw.begin(), block.size(), block.begin());
  return block;
}

void IdentifyDrive(const DriveTable& table, const IdentifySource& source, int drive,
                   DiskInfo::IdentifyBlock& block) {
  const DriveEntry* entry = table.Find(drive);
  if (entry == nullptr) return;
  IdentifyRaw raw{};
  if (entry->is_image) {
    PutAtaText(raw, kModelOffset, kModelLength, entry->name);
  } else if (!source.ReadIdentify(*entry, raw)) {
    return;
  }
  block = PrepareIdentifyData(raw);
}
