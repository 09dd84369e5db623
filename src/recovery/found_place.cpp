#include "recovery/found_place.h"

std::uint64_t FoundPlace::DiskLBA(std::uint64_t lba) const {
  if (!stream_) return lba;
  const std::vector<ByteRun> runs = stream_->PhysicalRuns(lba * 512, 512);
  return runs.empty() ? lba : runs.front().offset / 512;
}

std::string FoundPlace::FileName(const TfileExt& file) const {
  return "FILE_" + std::to_string(DiskLBA(file.LBA)) + "." + std::string(file.FileType());
}

std::vector<ByteRun> FoundPlace::DiskRuns(const TfileExt& file, std::uint64_t len) const {
  if (!stream_) return {{file.LBA * 512, len}};
  return stream_->PhysicalRuns(file.LBA * 512, len);
}
