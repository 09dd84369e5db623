#pragma once

#include "disk/drive_parameters.h"

#include <array>
#include <chrono>
#include <cstdint>

/// Sectors are 512 bytes throughout the program.
inline constexpr std::uint32_t kSectorSize = 512;

/// What the program knows of one disk: its number, parameters, identity and the
/// sectors a scan covers.
class DiskInfo {
 public:
  using IdentifyBlock = std::array<std::uint8_t, 256>;

  [[nodiscard]] std::int32_t DriveNumber() const { return drive_number_; }
  void SetDriveNumber(std::int32_t n) { drive_number_ = n; }

  [[nodiscard]] const DriveParameters& Parameters() const { return parameters_; }
  void SetParameters(const DriveParameters& p) { parameters_ = p; }

  /// The first half of the drive's identify data; all zero when it did not answer.
  [[nodiscard]] const IdentifyBlock& IdentifyData() const { return identify_; }
  void SetIdentifyData(const IdentifyBlock& data) { identify_ = data; }

  /// The sectors a scan covers: the device's true count, 64-bit.
  [[nodiscard]] std::uint64_t SectorCount() const { return sector_count_; }
  void SetSectorCount(std::uint64_t n) { sector_count_ = n; }

  [[nodiscard]] std::chrono::system_clock::time_point ScanStarted() const { return scan_started_; }
  void SetScanStarted(std::chrono::system_clock::time_point t) { scan_started_ = t; }

 private:
  std::int32_t drive_number_ = -1;  ///< -1: no disk chosen
  DriveParameters parameters_{};
  IdentifyBlock identify_{};
  std::uint64_t sector_count_ = 0;
  std::chrono::system_clock::time_point scan_started_{};
};
