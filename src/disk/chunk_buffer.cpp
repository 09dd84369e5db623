#include "disk/chunk_buffer.h"

#include <cstring>

bool ChunkBuffer::ReadDiskChunk(const DriveTable& table, std::uint64_t lba, int drive,
                                std::uint32_t byteCount) {
  std::memset(bytes_.get(), 0, kSize + kSlack);
  if (drive < 0) return false;
  return table.ReadSectors(drive, lba, 1, byteCount, bytes_.get());
}
