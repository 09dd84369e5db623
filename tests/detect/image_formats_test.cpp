#include "detect/file_catalogue.h"
#include "detect/file_detect.h"
#include "detect/format_table.h"
#include "detect/formats/crc32.h"
#include "support/format_follow.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace format_follow;
using State = EndVerdict::State;

struct MediaFile {
  std::string name, tag;
  Bytes bytes;
};

/// The real files the media script makes, made once for the whole program.
class MediaFiles : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const std::string command =
        std::string("bash ") + TRAWLEX_MEDIA_SCRIPT + " " + dir_->path().string() + " >/dev/null";
    made_ = std::system(command.c_str()) == 0;
    std::ifstream manifest(dir_->path() / "manifest.tsv");
    for (std::string name, tag; manifest >> name >> tag;)
      files_.push_back({name, tag, ReadWholeFile(*dir_ / name)});
  }
  static void TearDownTestSuite() {
    delete dir_;
    files_.clear();
  }
  void SetUp() override {
    if (!made_ || files_.empty())
      GTEST_SKIP()
          << "the media tools (ImageMagick, ffmpeg, sox, python3) could not make the files";
  }
  static inline TempDir* dir_ = nullptr;
  static inline bool made_ = false;
  static inline std::vector<MediaFile> files_;
};

TEST_F(MediaFiles, EachRealFileIsNamedEndsAtItsSizeAndBreaksWhenCut) {
  for (const MediaFile& file : files_) {
    SCOPED_TRACE(file.name);
    const int row = FindFileType(file.tag);
    const Bytes disk = OnDisk(file.bytes);
    EXPECT_EQ(StartRow(disk, 0), row);

    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{7}, std::size_t{509}, std::size_t{131072}}) {
      const EndVerdict verdict = Follow(row, disk, disk.size(), piece);
      EXPECT_EQ(verdict.state, State::kEnds) << "piece " << piece;
      EXPECT_EQ(verdict.end, file.bytes.size()) << "piece " << piece;
    }

    const std::size_t half = file.bytes.size() / 2;
    const EndVerdict cut = Follow(row, file.bytes, half, 509);
    EXPECT_EQ(cut.state, State::kBroken);
    EXPECT_LE(cut.end, half);

    // Sectors inside the file that look like a start are turned down.
    for (std::size_t at = 512; at < file.bytes.size(); at += 512)
      EXPECT_EQ(StartRow(disk, at), -1) << at;
  }
}

const MediaFile* Find(const std::vector<MediaFile>& files, const std::string& name) {
  for (const MediaFile& file : files)
    if (file.name == name) return &file;
  return nullptr;
}

TEST_F(MediaFiles, DamageInsideAFileBreaksItWhereTheDamageStarts) {
  const MediaFile* jpeg = Find(files_, "plain.jpg");
  const MediaFile* other = Find(files_, "exif.jpg");
  const MediaFile* png = Find(files_, "picture.png");
  ASSERT_TRUE(jpeg && other && png);

  // A JPEG cut inside its picture data, where another picture begins.
  const std::size_t cut = jpeg->bytes.size() - 200;
  Bytes joined(jpeg->bytes.begin(), jpeg->bytes.begin() + static_cast<std::ptrdiff_t>(cut));
  joined.insert(joined.end(), other->bytes.begin(), other->bytes.end());
  EndVerdict verdict = Follow(FindFileType("JPG"), OnDisk(joined), joined.size(), 4096);
  EXPECT_EQ(verdict.state, State::kBroken);
  EXPECT_LE(verdict.end, cut);
  EXPECT_GT(verdict.end, cut - 200);

  // A PNG whose first data chunk has one byte changed: its CRC fails.
  Bytes bad = png->bytes;
  std::size_t idat = 8;
  while (std::memcmp(bad.data() + idat + 4, "IDAT", 4) != 0)
    idat += 12 + (std::size_t{bad[idat]} << 24 | bad[idat + 1] << 16 | bad[idat + 2] << 8 |
                  bad[idat + 3]);
  bad[idat + 20] ^= 0x40;
  verdict = Follow(FindFileType("PNG"), OnDisk(bad), bad.size() + 4096, 509);
  EXPECT_EQ(verdict.state, State::kBroken);
  EXPECT_EQ(verdict.end, idat);
}

void Put16(Bytes& b, std::size_t at, unsigned v, bool big) {
  b[at + (big ? 1 : 0)] = static_cast<std::uint8_t>(v);
  b[at + (big ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) b[at + (big ? 3 - i : i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

/// A TIFF-based raw: header, a text naming the maker, the strips, then the directory after
/// them (as cameras and libtiff often write it) with two strips of a value array.
Bytes TiffRaw(bool big, const char* maker, std::size_t maker_at, std::uint32_t ifd_offset = 4000) {
  Bytes b(5000, 0x55);
  std::memcpy(b.data(), big ? "MM\0*" : "II*\0", 4);
  Put32(b, 4, ifd_offset, big);
  std::memcpy(b.data() + maker_at, maker, std::strlen(maker));
  const std::size_t ifd = 4000;
  Put16(b, ifd, 3, big);
  const std::uint16_t tags[3][2] = {{256, 3}, {273, 4}, {279, 4}};
  const std::uint32_t values[3] = {64, 4800, 4808};
  for (int i = 0; i < 3; ++i) {
    const std::size_t e = ifd + 2 + i * 12;
    Put16(b, e, tags[i][0], big);
    Put16(b, e + 2, tags[i][1], big);
    Put32(b, e + 4, i == 0 ? 1 : 2, big);
    if (i == 0)
      Put16(b, e + 8, values[0], big);
    else
      Put32(b, e + 8, values[i], big);
  }
  Put32(b, ifd + 2 + 36, 0, big);
  Put32(b, 4800, 600, big);  // strip offsets 600 and 2000
  Put32(b, 4804, 2000, big);
  Put32(b, 4808, 1400, big);  // strip lengths 1400 and 2700: the last strip ends at 4700
  Put32(b, 4812, 2700, big);
  b.resize(4816);
  return b;
}

/// The CRC-32 of PNG and zip, whichever way the processor computes it: against the
/// bit-at-a-time definition at every length around the 16- and 64-byte steps, at odd
/// addresses, and continued across any split.
TEST(Crc32, MatchesTheDefinitionAtEveryLengthAlignmentAndSplit) {
  auto reference = [](const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
      c ^= p[i];
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
  };
  const auto* check = reinterpret_cast<const std::uint8_t*>("123456789");
  EXPECT_EQ(Crc32(check, 9), 0xCBF43926u);
  std::mt19937 random(7);
  Bytes bytes(70000);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 200; ++n) lengths.push_back(n);
  for (std::size_t n : {1023u, 1024u, 4099u, 65536u, 69990u}) lengths.push_back(n);
  for (std::size_t offset : {0u, 1u, 3u, 8u}) {
    for (std::size_t n : lengths) {
      const std::uint8_t* p = bytes.data() + offset;
      const std::uint32_t want = reference(p, n);
      ASSERT_EQ(Crc32(p, n), want) << "length " << n << " at offset " << offset;
      const std::size_t split = n == 0 ? 0 : random() % n;
      const std::uint32_t part = Crc32Update(0xFFFFFFFFu, p, split);
      ASSERT_EQ(Crc32Update(part, p + split, n - split) ^ 0xFFFFFFFFu, want)
          << "length " << n << " split at " << split;
    }
  }
}

TEST(HandBuiltFiles, HeadersAreCheckedAndEndWhereTheyState) {
  Bytes raf(2000, 0);
  std::memcpy(raf.data(), "FUJIFILMCCD-RAW 0201FF383501", 28);
  std::memcpy(raf.data() + 28, "Fuji FinePix S2Pro", 18);
  const std::uint32_t raf_parts[6] = {200, 300, 500, 100, 600, 1400};
  for (int i = 0; i < 6; ++i) Put32(raf, 84 + i * 4, raf_parts[i], true);

  Bytes mrw(40 + 8 * 6 * 16 / 8, 0);
  std::memcpy(mrw.data(), "\0MRM", 4);
  Put32(mrw, 4, 32, true);
  std::memcpy(mrw.data() + 8, "\0PRD", 4);
  Put32(mrw, 12, 24, true);
  Put16(mrw, 24, 6, true);  // sensor 6 x 8, 16 bits per sample unpacked
  Put16(mrw, 26, 8, true);
  mrw[32] = 12;
  mrw[34] = 0x52;

  Bytes crw(600, 0);
  std::memcpy(crw.data(), "II\x1a\0\0\0HEAPCCDR\x02\0\x01\0", 18);

  // A video elementary stream closed by its end code.
  Bytes elementary(204, 0);
  const std::uint8_t sequence[12] = {0, 0, 1, 0xB3, 0x04, 0x00, 0x30, 0x13, 0xFF, 0xFF, 0xE0, 0};
  std::memcpy(elementary.data(), sequence, sizeof sequence);
  std::memcpy(elementary.data() + 200, "\0\0\1\xB7", 4);

  // An AVI whose RIFF chunk is followed by an extension chunk.
  Bytes avi(44, 0);
  std::memcpy(avi.data(), "RIFF\x10\0\0\0AVI LIST\x04\0\0\0hdrlRIFF\x0c\0\0\0AVIXJUNK", 40);

  // A QuickTime movie whose media atom has a 64-bit size, the movie atom after it.
  Bytes mov(20 + 16 + 100 + 16, 0);
  std::memcpy(mov.data(),
              "\0\0\0\x14"
              "ftypqt  \0\0\0\0qt  \0\0\0\x01"
              "mdat",
              28);
  Put32(mov, 32, 116, true);
  std::memcpy(mov.data() + 136,
              "\0\0\0\x10"
              "moov\0\0\0\x08"
              "mvhd",
              16);

  struct Case {
    const char* tag;
    Bytes bytes;
    State state;
    std::uint64_t end;
  };
  const Case cases[] = {
      {"NEF", TiffRaw(false, "NIKON", 352), State::kEnds, 4816},
      {"NEF", TiffRaw(true, "NIKON", 484), State::kEnds, 4816},
      {"DCR", TiffRaw(false, "Kodak", 100), State::kEnds, 4816},
      {"TIF", TiffRaw(false, "", 100), State::kEnds, 4816},
      {"RAF", raf, State::kEnds, 2000},
      {"MRW", mrw, State::kEnds, mrw.size()},
      {"CRW", crw, State::kUnknown, 0},
      {"MPG", elementary, State::kEnds, 204},
      {"AVI", avi, State::kEnds, 44},
      {"MOV", mov, State::kEnds, mov.size()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    const int row = FindFileType(c.tag);
    const Bytes disk = OnDisk(c.bytes, 4096);
    EXPECT_EQ(CheckFileStart(row, disk.data(), kStartCheckBytes), row);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{509}, std::size_t{131072}}) {
      const EndVerdict verdict = Follow(row, disk, disk.size(), piece);
      EXPECT_EQ(verdict.state, c.state);
      EXPECT_EQ(verdict.end, c.end);
    }
  }

  // The maker's name alone, without a TIFF header, is no raw photo.
  Bytes text(4096, 'x');
  std::memcpy(text.data() + 40, "Kodak Fuji NIKON", 16);
  for (const char* tag : {"DCR", "RAF", "NEF", "MRW", "CRW"})
    EXPECT_EQ(CheckFileStart(FindFileType(tag), text.data(), text.size()), -1) << tag;
}

TEST(HandBuiltFiles, ATiffDirectoryBehindThePartAlreadyPassedLeavesTheEndUnknown) {
  // The first directory lies after the strips and links back to one before them.
  Bytes b = TiffRaw(false, "", 100);
  const std::size_t ifd = 4000;
  b[ifd + 2 + 36] = 8;  // next directory at offset 8, long passed
  const EndVerdict verdict = Follow(FindFileType("TIF"), OnDisk(b, 4096), b.size() + 4096, 509);
  EXPECT_EQ(verdict.state, State::kUnknown);
}

}  // namespace
