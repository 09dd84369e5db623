#include "detect/file_catalogue.h"
#include "detect/file_detect.h"
#include "detect/format_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Sample {
  std::string name;
  std::string tag;
  std::vector<std::uint8_t> bytes;
};

/// The files the maker script writes with real tools (and by hand where Debian has none),
/// made once for the whole suite.
const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = [] {
    const fs::path dir =
        fs::temp_directory_path() / ("trawlex-documents-" + std::to_string(getpid()));
    fs::remove_all(dir);
    const std::string command = std::string("bash '") + TRAWLEX_DOCUMENT_FILES_SCRIPT + "' '" +
                                dir.string() + "' > /dev/null";
    std::vector<Sample> found;
    if (std::system(command.c_str()) != 0) return found;
    std::ifstream manifest(dir / "manifest.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
      const auto tab = line.find('\t');
      Sample s{line.substr(0, tab), line.substr(tab + 1), {}};
      std::ifstream in(dir / s.name, std::ios::binary);
      s.bytes.assign(std::istreambuf_iterator<char>(in), {});
      found.push_back(std::move(s));
    }
    fs::remove_all(dir);
    return found;
  }();
  return samples;
}

/// What a scan has at hand after a start: up to the end of its 1 MiB chunk.
constexpr std::size_t kAvailable = 1 << 20;

/// The file, then random bytes (opening with a control byte, as text cannot go on there).
std::vector<std::uint8_t> WithGarbage(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> bytes = file;
  std::mt19937 random(12345);
  bytes.push_back(0x01);
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<std::uint8_t>(random()));
  return bytes;
}

/// The detector's row for the first sector, checked more closely.
int CheckedRow(const std::vector<std::uint8_t>& bytes) {
  std::string tag;
  const int row = DetectFileType(bytes.data(), 512, tag, 255) ? FindFileType(tag) : -1;
  return CheckFileStart(row, bytes.data(), std::min(bytes.size(), kAvailable));
}

/// Feeds `bytes` in pieces of `piece` until the finder answers, then Finish.
EndVerdict Follow(int row, const std::vector<std::uint8_t>& bytes, std::size_t piece) {
  auto finder = MakeEndFinder(row, bytes.data(), std::min(bytes.size(), kAvailable));
  if (!finder) return {EndVerdict::State::kUnknown, 0};
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    const EndVerdict v = finder->Feed({bytes.data() + at, n});
    if (v.state != EndVerdict::State::kNeedMore) return v;
  }
  return finder->Finish(bytes.size());
}

TEST(DocumentFormats, RealFilesAreNamedAndEndWhereTheyEnd) {
  ASSERT_GE(Samples().size(), 29u) << "the maker script failed: " << TRAWLEX_DOCUMENT_FILES_SCRIPT;
  for (const Sample& s : Samples()) {
    SCOPED_TRACE(s.name);
    const std::vector<std::uint8_t> bytes = WithGarbage(s.bytes);
    const int row = CheckedRow(bytes);
    ASSERT_EQ(row, FindFileType(s.tag));
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{7}, std::size_t{4093}, std::size_t{131072}}) {
      SCOPED_TRACE(piece);
      const EndVerdict v = Follow(row, bytes, piece);
      EXPECT_EQ(v.state, EndVerdict::State::kEnds);
      EXPECT_EQ(v.end, s.bytes.size());
    }
    // Cut in half, the disk ending there. Plain text has no structure: any cut is an end.
    const EndVerdict cut =
        Follow(row, {s.bytes.begin(), s.bytes.begin() + s.bytes.size() / 2}, 4093);
    EXPECT_EQ(cut.state, s.tag == "RAM" ? EndVerdict::State::kEnds : EndVerdict::State::kBroken);
  }
}

TEST(DocumentFormats, DamagedFilesNeverEndPastTheBytesOrCrash) {
  // Every header byte of the first sector damaged in turn: the finders may break or
  // give up, but must answer within what they were fed.
  std::mt19937 random(99);
  for (const Sample& s : Samples()) {
    SCOPED_TRACE(s.name);
    const int row = FindFileType(s.tag);
    std::vector<std::uint8_t> whole = WithGarbage(s.bytes);
    whole.resize(std::min<std::size_t>(whole.size(), s.bytes.size() + 70000));
    for (std::size_t at = 0; at < std::min<std::size_t>(s.bytes.size(), 600); at += 3) {
      std::vector<std::uint8_t> bytes = whole;
      bytes[at] = static_cast<std::uint8_t>(random());
      const EndVerdict v = Follow(row, bytes, 1000);
      if (v.state != EndVerdict::State::kUnknown) {
        EXPECT_LE(v.end, bytes.size()) << at;
      }
    }
  }
}

TEST(DocumentFormats, TarKeepsTheJpegItHolds) {
  const auto it = std::find_if(Samples().begin(), Samples().end(),
                               [](const Sample& s) { return s.name == "photo.tar"; });
  ASSERT_NE(it, Samples().end());
  std::string tag;
  ASSERT_TRUE(DetectFileType(it->bytes.data() + 512, 512, tag, 255));
  EXPECT_EQ(tag, "JPG");
  const EndVerdict v = Follow(FindFileType("TAR"), WithGarbage(it->bytes), 512);
  EXPECT_EQ(v.state, EndVerdict::State::kEnds);
  EXPECT_EQ(v.end, it->bytes.size());
}

TEST(DocumentFormats, CompoundDocumentsNamedByTheirDirectory) {
  std::vector<std::uint8_t> other(8192, 0);
  const auto it = std::find_if(Samples().begin(), Samples().end(),
                               [](const Sample& s) { return s.name == "other.doc"; });
  ASSERT_NE(it, Samples().end());
  std::string tag;
  ASSERT_TRUE(DetectFileType(it->bytes.data(), 512, tag, 255));
  EXPECT_EQ(tag, "");  // no fixed-offset test matches: the directory names it
  // A directory beyond the bytes at hand: the first bytes of the streams name it.
  const auto ppt = std::find_if(Samples().begin(), Samples().end(),
                                [](const Sample& s) { return s.name == "office.ppt"; });
  if (ppt != Samples().end() && ppt->bytes.size() > 65536) {
    EXPECT_EQ(CheckFileStart(-1, ppt->bytes.data(), 65536), FindFileType("PPT"));
  }
  // Nothing at all costs one compare: an empty sector names nothing.
  EXPECT_EQ(CheckFileStart(-1, other.data(), other.size()), -1);
}

}  // namespace

/// A RealAudio metafile has no end mark: it ends after its last line, and a last line
/// without a line end counts only when it is one more address.
TEST(DocumentFormats, AddressListsEndAfterTheirLastAddress) {
  const std::string list = "rtsp://example.com/one.rm\nrtsp://example.com/two.rm\n";
  const struct {
    std::string after;  ///< what follows the list on the disk
    std::size_t end;
  } cases[] = {
      {std::string("\xA5\xF8\xC7R\x01", 5), list.size()},  // text-like noise, then a control
      {std::string("x7#q\x02", 5), list.size()},
      {std::string("pnm://example.com/three.ra\0", 27), list.size() + 26},
      {std::string("# the end\x03", 10), list.size() + 9},
      {std::string("\0\0", 2), list.size()},
  };
  for (const auto& c : cases) {
    const std::string disk = list + c.after;
    const std::vector<std::uint8_t> bytes(disk.begin(), disk.end());
    for (std::size_t piece : {1u, 7u, 4096u}) {
      const EndVerdict v = Follow(FindFileType("RAM"), bytes, piece);
      EXPECT_EQ(v.state, EndVerdict::State::kEnds) << c.after << " in pieces of " << piece;
      EXPECT_EQ(v.end, c.end) << c.after << " in pieces of " << piece;
    }
  }
}
