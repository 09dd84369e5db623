// Real files of today's kinds, made by the tools that write them (the build's test files):
// each is named by its kind, ends at its own length whatever pieces it comes in, breaks
// off when cut, and no sector inside it passes for the start of a file.

#include "detect/file_catalogue.h"
#include "detect/file_detect.h"
#include "detect/format_table.h"
#include "support/format_follow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace format_follow;
using State = EndVerdict::State;

struct TodaysFile {
  std::string name, tag;
  Bytes bytes;
};

std::vector<TodaysFile> ReadTodaysFiles() {
  const std::filesystem::path dir = TRAWLEX_TODAYS_FILES;
  std::vector<TodaysFile> files;
  std::ifstream manifest(dir / "manifest.tsv");
  for (std::string name, tag; manifest >> name >> tag;) {
    std::ifstream in(dir / name, std::ios::binary);
    files.push_back({name, tag, Bytes(std::istreambuf_iterator<char>(in), {})});
  }
  return files;
}

TEST(TodaysKinds, EachIsNamedEndsAtItsSizeBreaksWhenCutAndHidesNoStart) {
  const std::vector<TodaysFile> files = ReadTodaysFiles();
  if (files.empty())
    GTEST_SKIP() << "no files of today's kinds in " << TRAWLEX_TODAYS_FILES
                 << " (tests/support/make_modern_files.sh could not run here)";
  for (const TodaysFile& file : files) {
    SCOPED_TRACE(file.name);
    const int row = FindFileType(file.tag);
    if (row < 0) {
      ADD_FAILURE() << "no kind " << file.tag;
      continue;
    }
    const Bytes disk = OnDisk(file.bytes, 65536, 5);
    const int start = StartRow(disk, 0);
    if (start < 0) {
      ADD_FAILURE() << "not taken as a start";
      continue;
    }
    // Pieces of one byte only for the small files: the walk is the same, just slower.
    for (const std::size_t piece : {std::size_t{1}, std::size_t{509}, std::size_t{131072}}) {
      if (piece == 1 && file.bytes.size() > 256 * 1024) continue;
      const auto [named, verdict] = FollowNamed(start, disk, disk.size(), piece);
      EXPECT_EQ(FileTypeTag(named), file.tag) << "piece " << piece;
      EXPECT_EQ(verdict.state, State::kEnds) << "piece " << piece;
      EXPECT_EQ(verdict.end, file.bytes.size()) << "piece " << piece;
    }
    const std::size_t half = file.bytes.size() / 2;
    const EndVerdict cut = Follow(start, file.bytes, half, 509);
    EXPECT_TRUE(cut.state == State::kBroken || cut.state == State::kUnknown);
    EXPECT_LE(cut.end, half);
    // Compressed and coded data hold no start of anything: every sector inside is turned
    // down, but for a member of the same structure that happens to begin one (a ZIP member's
    // header inside an Office document), which is listed as the starts inside files are.
    for (std::size_t at = 512; at < file.bytes.size(); at += 512) {
      const int inner = StartRow(disk, at);
      if (inner >= 0 && FileKindAt(inner).make_finder == FileKindAt(start).make_finder) continue;
      EXPECT_EQ(inner, -1) << "a start at " << at;
    }
  }
}

/// Random sectors, even with a kind's magic at their head, are hardly ever taken for a start
/// of today's kinds.
TEST(TodaysKinds, RandomSectorsAreNoStarts) {
  std::mt19937_64 random(3);
  Bytes sector(kStartCheckBytes + 2048);
  const std::string heads[] = {std::string("\0\0\0\x18"
                                           "ftyp",
                                           8),
                               "\x1A\x45\xDF\xA3",
                               "RIFF",
                               "ID3",
                               "\xFF\xFB",
                               "fLaC",
                               "OggS",
                               "7z\xBC\xAF",
                               "\xFD"
                               "7zXZ",
                               "\x1F\x8B\x08",
                               "BZh9",
                               "\x28\xB5\x2F\xFD",
                               "SQLite format 3",
                               "<svg",
                               "IIRO",
                               "IIU",
                               "\xFF\xD8\xFF\xDB"};
  int taken = 0;
  for (int i = 0; i < 20000; ++i) {
    for (std::size_t k = 0; k < sector.size(); k += 8) {
      const std::uint64_t r = random();
      std::memcpy(&sector[k], &r, 8);
    }
    const std::string& head = heads[static_cast<std::size_t>(i) % std::size(heads)];
    std::copy(head.begin(), head.end(), sector.begin());
    const int row = CheckFileStart(-1, sector.data(), kStartCheckBytes);
    taken += row >= kChainTypeCount;
  }
  // A header with as few fixed bits as Zstandard's lets a rare sector that has its magic pass;
  // random sectors have a four-byte magic once in 2^32.
  EXPECT_LE(taken, 5);
}

}  // namespace
