#include "disk/drive_table.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kHeads = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;

bool IsVirtualDevice(const std::string& name) {
  return name.starts_with("loop") || name.starts_with("ram") || name.starts_with("zram");
}

/// A sysfs attribute holding one unsigned decimal number.
bool ReadNumber(const fs::path& path, std::uint64_t& value) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text) || text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

DriveTable::DriveTable(std::string sysfs_root, std::string dev_root)
    : sysfs_root_(std::move(sysfs_root)), dev_root_(std::move(dev_root)) {
  Refresh();
}

void DriveTable::Refresh() {
  drives_.clear();
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(sysfs_root_) / "block", ec)) {
    std::string name = entry.path().filename().string();
    // An empty device (an idle nbd, md or dm node) holds nothing to read and would use
    // up a drive number.
    std::uint64_t sectors = 0;
    if (IsVirtualDevice(name) || (ReadNumber(entry.path() / "size", sectors) && sectors == 0))
      continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  for (auto& name : names) {
    std::string path = (fs::path(dev_root_) / name).string();
    drives_.push_back({std::move(name), std::move(path), false});
  }
  for (const auto& image : images_)
    drives_.push_back({fs::path(image).filename().string(), image, true});
}

int DriveTable::RegisterImage(const std::string& path) {
  images_.push_back(path);
  drives_.push_back({fs::path(path).filename().string(), path, true});
  return static_cast<int>(drives_.size()) - 1;
}

const DriveEntry* DriveTable::Find(int drive) const {
  if (drive < 0 || drive >= static_cast<int>(drives_.size())) return nullptr;
  return &drives_[static_cast<std::size_t>(drive)];
}

std::unique_ptr<SectorReader> DriveTable::Open(int drive, std::string* err,
                                               int* error_number) const {
  const DriveEntry* entry = Find(drive);
  if (entry == nullptr) {
    if (err) *err = "No such device";
    if (error_number) *error_number = ENODEV;
    return nullptr;
  }
  return OpenSectorReader(entry->path, err, error_number);
}

bool DriveTable::ReadSectors(int drive, std::uint64_t lba, std::uint8_t /*sectorCount*/,
                             std::uint32_t byteCount, void* buffer) const {
  auto reader = Open(drive, nullptr);
  if (!reader) return false;
  const std::uint32_t size = std::min(byteCount, kMaxReadBytes);
  const ReadResult r = reader->ReadAt(lba * 512, buffer, size);
  return r.error == 0 && r.bytes == size;
}

bool DriveTable::IsRemovable(int drive) const {
  const DriveEntry* entry = Find(drive);
  if (entry == nullptr || entry->is_image) return false;
  std::ifstream in(fs::path(sysfs_root_) / "block" / entry->name / "removable");
  int value = 0;
  return (in >> value) && value == 1;
}

bool DriveTable::SysfsDriveParameters(int drive, DriveParameters& out) const {
  const DriveEntry* entry = Find(drive);
  if (entry == nullptr || entry->is_image) return false;
  const fs::path dir = fs::path(sysfs_root_) / "block" / entry->name;
  // sysfs counts the size in 512-byte units whatever the device's own sector size.
  std::uint64_t sectors = 0;
  if (!ReadNumber(dir / "size", sectors) || sectors == 0) return false;
  out = ParametersForSize(sectors, 512, IsRemovable(drive));
  return true;
}

DriveParameters ParametersForSize(std::uint64_t total_sectors, std::uint32_t bytes_per_sector,
                                  bool removable) {
  DriveParameters p;
  p.BufferSize = kDriveParametersSize;
  p.Flags = removable ? kRemovableFlag : 0;
  p.Cylinders = static_cast<std::uint32_t>(total_sectors / (kHeads * kSectorsPerTrack));
  p.Heads = kHeads;
  p.SectorsPerTrack = kSectorsPerTrack;
  p.TotalSectors = total_sectors;
  p.BytesPerSector = static_cast<std::uint16_t>(bytes_per_sector);
  p.ConfigPointer = 0;
  return p;
}

bool DriveTable::GetDiskGeometry(int drive, DiskGeometry& out) const {
  auto reader = Open(drive, nullptr);
  if (!reader || reader->SectorCount() == 0) return false;
  const std::uint64_t total = reader->SectorCount();
  out.Cylinders = static_cast<std::int64_t>(total / (kHeads * kSectorsPerTrack));
  out.MediaType = IsRemovable(drive) ? kRemovableMedia : kFixedMedia;
  out.TracksPerCylinder = kHeads;
  out.SectorsPerTrack = kSectorsPerTrack;
  out.BytesPerSector = 512;  // the unit every count is in, whatever the device's own sector
  return true;
}

bool DriveTable::GetDriveParameters(int drive, DriveParameters& out) const {
  auto reader = Open(drive, nullptr);
  // A device of no sectors (no media, an idle nbd) does not answer.
  if (!reader || reader->SectorCount() == 0) return false;
  out = ParametersForSize(reader->SectorCount(), 512, IsRemovable(drive));
  return true;
}

DriveTable& DefaultDriveTable() {
  static DriveTable table;
  return table;
}
