#pragma once

#include <bit>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "DriveParameters is kept in its little-endian wire layout");

#pragma pack(push, 1)
/// A drive's parameters in the 30-byte layout of the BIOS enhanced-drive query
/// (version 2). Also the in-memory record a DiskInfo keeps.
struct DriveParameters {
  std::uint16_t BufferSize = 0;
  std::uint16_t Flags = 0;  ///< bit 2 (kRemovableFlag): removable media
  std::uint32_t Cylinders = 0;
  std::uint32_t Heads = 0;
  std::uint32_t SectorsPerTrack = 0;
  std::uint64_t TotalSectors = 0;  ///< the true count of 512-byte sectors
  std::uint16_t BytesPerSector = 0;
  std::uint32_t ConfigPointer = 0;
};
#pragma pack(pop)
static_assert(sizeof(DriveParameters) == 30);

inline constexpr std::uint16_t kDriveParametersSize = 30;
inline constexpr std::uint16_t kRemovableFlag = 4;

/// The platform's disk geometry record: 24 bytes on the wire.
struct DiskGeometry {
  std::int64_t Cylinders = 0;
  std::uint32_t MediaType = 0;  ///< kFixedMedia or kRemovableMedia
  std::uint32_t TracksPerCylinder = 0;
  std::uint32_t SectorsPerTrack = 0;
  std::uint32_t BytesPerSector = 0;
};
static_assert(sizeof(DiskGeometry) == 24);

inline constexpr std::uint32_t kRemovableMedia = 11;
inline constexpr std::uint32_t kFixedMedia = 12;

/// True for the media types that stand for floppies and removable media.
[[nodiscard]] constexpr bool IsRemovableMediaType(std::uint32_t media_type) {
  return (media_type >= 1 && media_type <= 11) || (media_type >= 13 && media_type <= 22);
}
