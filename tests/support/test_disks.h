#pragma once

#include "disk/sector_reader.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

/// A disk in memory with file signatures planted at chosen sectors.
class PlantedDisk {
 public:
  explicit PlantedDisk(std::size_t sectors) : bytes_(sectors * 512, 0) {}
  PlantedDisk& Plant(std::size_t lba, const std::string& bytes, std::size_t offset = 0) {
    std::memcpy(&bytes_[lba * 512 + offset], bytes.data(), bytes.size());
    return *this;
  }
  PlantedDisk& Jpg(std::size_t lba) { return Plant(lba, "\xFF\xD8\xFF\xE0 JFIF"); }
  PlantedDisk& Pdf(std::size_t lba) { return Plant(lba, "%PDF-1.4 doc"); }
  PlantedDisk& Gif(std::size_t lba) { return Plant(lba, "GIF89a pict"); }
  PlantedDisk& Zip(std::size_t lba) { return Plant(lba, std::string("PK\x03\x04zipped", 10)); }
  [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

/// Wraps a reader: reads that touch a bad sector stop there with EIO, and from a chosen
/// sector on the source is gone (ENODEV). Records every request.
class FaultyReader final : public SectorReader {
 public:
  explicit FaultyReader(SectorReader& inner) : inner_(inner) {}
  void FailAt(std::uint64_t lba) { bad_.insert(lba); }
  void LoseAt(std::uint64_t lba) { lost_from_ = lba; }

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    {
      std::lock_guard lock(mutex_);
      requests_.emplace_back(offset, size);
    }
    std::size_t ok = size;
    int error = 0;
    const std::uint64_t first = offset / 512, last = (offset + size + 511) / 512;
    for (std::uint64_t lba = first; lba < last; ++lba) {
      if (lba >= lost_from_ || bad_.count(lba)) {
        ok = lba * 512 > offset ? static_cast<std::size_t>(lba * 512 - offset) : 0;
        error = lba >= lost_from_ ? ENODEV : EIO;
        break;
      }
    }
    ReadResult r = inner_.ReadAt(offset, buffer, ok);
    if (r.bytes == ok && error != 0) r.error = error;
    return r;
  }
  [[nodiscard]] std::uint64_t SizeBytes() const override { return inner_.SizeBytes(); }

  [[nodiscard]] std::vector<std::pair<std::uint64_t, std::size_t>> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  SectorReader& inner_;
  std::set<std::uint64_t> bad_;
  std::uint64_t lost_from_ = ~std::uint64_t{0};
  mutable std::mutex mutex_;
  std::vector<std::pair<std::uint64_t, std::size_t>> requests_;
};

/// A large disk of zeros but for a few planted sectors, without holding its bytes.
class SparseReader final : public SectorReader {
 public:
  explicit SparseReader(std::uint64_t sectors) : size_(sectors * 512) {}
  void Plant(std::uint64_t lba, const std::string& bytes) { planted_.emplace_back(lba, bytes); }
  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    if (offset >= size_) return {};
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
    std::memset(buffer, 0, n);
    for (const auto& [lba, bytes] : planted_)
      if (lba * 512 >= offset && lba * 512 < offset + n)
        std::memcpy(static_cast<std::uint8_t*>(buffer) + (lba * 512 - offset), bytes.data(),
                    std::min<std::size_t>(bytes.size(), offset + n - lba * 512));
    return {n, 0};
  }
  [[nodiscard]] std::uint64_t SizeBytes() const override { return size_; }

 private:
  std::uint64_t size_;
  std::vector<std::pair<std::uint64_t, std::string>> planted_;
};
