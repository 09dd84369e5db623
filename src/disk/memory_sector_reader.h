#pragma once

#include "disk/sector_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

/// A disk held in memory: the back-end for tests and for synthetic sources.
class MemorySectorReader final : public SectorReader {
 public:
  explicit MemorySectorReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    if (offset >= bytes_.size()) return {};
    const std::size_t n = std::min<std::uint64_t>(size, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, n);
    return {n, 0};
  }
  [[nodiscard]] std::uint64_t SizeBytes() const override { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
};
