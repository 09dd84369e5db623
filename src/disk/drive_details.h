#pragma once

#include "disk/disk_info.h"

#include <cstdint>
#include <string>
#include <string_view>

/// The five texts of the drive page's details panel, in the panel's order.
struct DriveDetails {
  std::string type;              ///< beside "Drive type:"
  std::string model;             ///< beside "Drive model:"
  std::string physical_id;       ///< beside "Physical ID:"
  std::string bytes_per_sector;  ///< beside "Bytes per sector:"
  std::string capacity;          ///< beside "Capacity:"
};

/// "[Removable Disk] " or "[Fixed Disk] ", after the removable bit of the parameters.
[[nodiscard]] std::string TypeText(const DiskInfo& disk);

/// The identity's model field up to its first zero byte, without leading or trailing
/// blanks and control characters; "Unknown" for a removable disk that has none.
[[nodiscard]] std::string ModelText(const DiskInfo& disk);

/// "976.56 MB " or "0.98 GB ": two decimals with `decimal_separator`, the unit and one
/// trailing blank. Megabytes of 2,048 sectors; 1,000 MB and more shown in gigabytes.
[[nodiscard]] std::string CapacityText(std::uint64_t total_sectors,
                                       std::string_view decimal_separator);

/// The details panel's texts for `disk`; the window passes the user's decimal separator.
[[nodiscard]] DriveDetails DriveDetailTexts(const DiskInfo& disk,
                                            std::string_view decimal_separator);
