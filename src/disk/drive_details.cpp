#include "disk/drive_details.h"

#include "disk/drive_identity.h"

#include <algorithm>
#include <charconv>

namespace {

bool IsBlankOrControl(char ch) {
  const auto byte = static_cast<unsigned char>(ch);
  return byte <= ' ' || byte == 0x7F;
}

}  // namespace

std::string TypeText(const DiskInfo& disk) {
  return (disk.Parameters().Flags & kRemovableFlag) ? "[Removable Disk] " : "[Fixed Disk] ";
}

std::string ModelText(const DiskInfo& disk) {
  const auto field = std::span(disk.IdentifyData()).subspan(kModelOffset, kModelLength);
  const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
  std::string model(field.begin(), end);
  const auto first = std::find_if_not(model.begin(), model.end(), IsBlankOrControl);
  const auto last = std::find_if_not(model.rbegin(), model.rend(), IsBlankOrControl).base();
  model = first < last ? std::string(first, last) : std::string();
  if (model.empty() && (disk.Parameters().Flags & kRemovableFlag)) model = "Unknown";
  return model;
}

std::string CapacityText(std::uint64_t total_sectors, std::string_view decimal_separator) {
  double size = static_cast<double>(total_sectors) / 2048.0;
  const char* unit = " MB ";
  if (size >= 1000.0) {
    size /= 1024.0;
    unit = " GB ";
  }
  // Formatted without the C locale's help, so the separator is always the one asked for.
  char digits[64];
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, size, std::chars_format::fixed, 2);
  std::string text(digits, ec == std::errc() ? end : digits);
  if (const auto point = text.find('.'); point != std::string::npos)
    text.replace(point, 1, decimal_separator);
  return text + unit;
}

DriveDetails DriveDetailTexts(const DiskInfo& disk, std::string_view decimal_separator) {
  return {TypeText(disk), ModelText(disk), std::to_string(disk.DriveNumber()),
          std::to_string(disk.Parameters().BytesPerSector),
          CapacityText(disk.Parameters().TotalSectors, decimal_separator)};
}
