#pragma once

#include "detect/file_catalogue.h"
#include "detect/file_detect.h"
#include "detect/format_table.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

/// Helpers of the tests that feed real files to the start checks and end finders.
namespace format_follow {

using Bytes = std::vector<std::uint8_t>;

/// `size` seeded random bytes.
inline Bytes Garbage(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

/// The file followed by random bytes, and zero slack so every read stays inside.
inline Bytes OnDisk(const Bytes& file, std::size_t garbage = 65536, unsigned seed = 11) {
  Bytes disk = file;
  const Bytes tail = Garbage(garbage, seed);
  disk.insert(disk.end(), tail.begin(), tail.end());
  disk.resize(disk.size() + 8192);
  return disk;
}

/// The row the detector and the closer check give the sector at `at`.
inline int StartRow(const Bytes& disk, std::size_t at) {
  std::string tag;
  const std::uint8_t* sector = disk.data() + at;
  const int row = DetectFileType(sector, 512, tag, 255) ? FindFileType(tag) : -1;
  return CheckFileStart(row, sector, std::min<std::size_t>(disk.size() - at, kStartCheckBytes));
}

/// Feeds the first `size` bytes of `disk` in pieces of `piece` bytes and finishes when they
/// run out: the row the finder named the file and its verdict.
inline std::pair<int, EndVerdict> FollowNamed(int row, const Bytes& disk, std::size_t size,
                                              std::size_t piece) {
  auto finder =
      MakeEndFinder(row, disk.data(), std::min<std::size_t>(disk.size(), kStartCheckBytes));
  if (finder == nullptr) return {row, {EndVerdict::State::kUnknown, 0}};
  for (std::size_t at = 0; at < size; at += piece) {
    const EndVerdict verdict = finder->Feed({disk.data() + at, std::min(piece, size - at)});
    if (verdict.state != EndVerdict::State::kNeedMore) return {NamedRow(row, *finder), verdict};
  }
  const EndVerdict last = finder->Finish(size);
  return {NamedRow(row, *finder), last};
}

inline EndVerdict Follow(int row, const Bytes& disk, std::size_t size, std::size_t piece) {
  return FollowNamed(row, disk, size, piece).second;
}

}  // namespace format_follow
