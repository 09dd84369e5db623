#include "detect/file_detect.h"
#include "detect/file_catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

/// A sector with exactly the readable region the detector may use after it, so that
/// AddressSanitizer reports any read past that region.
class Sector {
 public:
  explicit Sector(int span = 512)
      : size_(static_cast<std::size_t>(DetectReadExtent(span))),
        bytes_(std::make_unique<std::uint8_t[]>(size_)) {
    std::memset(bytes_.get(), 0, size_);
    Put(0, "\x01\x02\x03\x04\x05\x06\x07\x08");  // not blank unless a test says so
  }
  template <std::size_t N>
  Sector& Put(std::size_t offset, const char (&bytes)[N]) {
    std::memcpy(bytes_.get() + offset, bytes, N - 1);
    return *this;
  }
  Sector& Set(std::size_t offset, std::uint8_t value) {
    bytes_[offset] = value;
    return *this;
  }
  Sector& PutUtf16(std::size_t offset, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      bytes_[offset + 2 * i] = static_cast<std::uint8_t>(text[i]);
      bytes_[offset + 2 * i + 1] = 0;
    }
    return *this;
  }
  Sector& Fill(std::uint8_t value) {
    std::memset(bytes_.get(), value, size_);
    return *this;
  }
  [[nodiscard]] const std::uint8_t* data() const { return bytes_.get(); }

 private:
  std::size_t size_;
  std::unique_ptr<std::uint8_t[]> bytes_;
};

/// The detector's answer as text: the tag, "<none>" for false.
std::string Detect(const Sector& s, int span = 512, int max_tag = 255) {
  std::string tag = "<untouched>";
  if (!DetectFileType(s.data(), span, tag, max_tag))
    return tag == "<untouched>" ? "<none>" : "<tag changed>";
  return tag;
}

TEST(DetectFileType, BlankSectorsAreNeverFileStarts) {
  Sector zeros;
  zeros.Fill(0).Put(257, "ustar\0").Put(40, "Kodak");
  EXPECT_EQ(Detect(zeros), "<none>");
  Sector ones;
  ones.Fill(0xFF);
  EXPECT_EQ(Detect(ones), "<none>");
  // Seven blank bytes and one other is not blank.
  Sector almost;
  almost.Fill(0).Set(7, 1).Put(100, "Fuji");
  EXPECT_EQ(Detect(almost), "RAF");
}

TEST(DetectFileType, EachSignatureYieldsItsTag) {
  struct Case {
    const char* expected;
    Sector sector;
  };
  std::vector<Case> cases;
  auto add = [&](const char* expected, auto&&... puts) {
    Sector s;
    (puts(s), ...);
    cases.push_back({expected, std::move(s)});
  };
  add("EXE", [](Sector& s) { s.Put(0, "MZ"); });
  add("GIF", [](Sector& s) { s.Put(0, "GIF89a"); });
  add("GIF", [](Sector& s) { s.Put(0, "GIF87a"); });
  add("PNG", [](Sector& s) { s.Put(0, "\x89PNG\r\n\x1A\n"); });
  add("JPG", [](Sector& s) { s.Put(0, "\xFF\xD8\xFF\xE0"); });
  add("JPG", [](Sector& s) { s.Put(0, "\xFF\xD8\xFF\xE1"); });
  add("BMP", [](Sector& s) { s.Put(0, "BM"); });
  add("TIF", [](Sector& s) { s.Put(0, "II*\0"); });
  add("TIF", [](Sector& s) { s.Put(0, "MM\0*"); });
  add("RTF", [](Sector& s) { s.Put(0, "{\\rtf1"); });
  add("XML", [](Sector& s) { s.Put(0, "<?xml "); });
  add("XML", [](Sector& s) { s.Put(0, "<?XML "); });
  add("HTML", [](Sector& s) { s.Put(0, "<html>"); });
  add("HTML", [](Sector& s) { s.Put(0, "<HTML>"); });
  add("HLP", [](Sector& s) { s.Put(0, "?_\x03\0"); });
  add("ZIP", [](Sector& s) { s.Put(0, "PK\x03\x04"); });
  add("ARJ", [](Sector& s) { s.Put(0, "\x60\xEA\x10\x10\x01\0\x11\0\x12"); });
  add("RAR", [](Sector& s) { s.Put(0, "Rar!\x1A\x07"); });
  add("WPD", [](Sector& s) { s.Put(0, "\xFFWPC"); });
  add("PDF", [](Sector& s) { s.Put(0, "%PDF-1.4"); });
  add("CRW", [](Sector& s) { s.Put(0, "II\x1A\0\0\0HEAPCCDR"); });
  add("CRW", [](Sector& s) { s.Put(250, "Canon EOS-1D"); });
  add("WAV", [](Sector& s) { s.Put(0, "RIFF\0\0\0\0WAVE"); });
  add("AVI", [](Sector& s) { s.Put(0, "RIFF\0\0\0\0AVI "); });
  add("RIFF", [](Sector& s) { s.Put(0, "RIFF\0\0\0\0CDXA"); });
  add("MOV", [](Sector& s) { s.Put(4, "moov"); });
  add("NEF", [](Sector& s) { s.Put(0, "MM\0\x2B").Put(352, "NIKON"); });
  add("MRW", [](Sector& s) { s.Put(0, "\0MRM"); });
  add("DCR", [](Sector& s) { s.Put(300, "Kodak"); });
  add("RAF", [](Sector& s) { s.Put(511, "Fuji"); });
  add("DWG", [](Sector& s) { s.Put(0, "AC1015"); });
  add("PSD", [](Sector& s) { s.Put(0, "8BPS"); });
  add("DBX", [](Sector& s) { s.Put(0, "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F"); });
  add("PST", [](Sector& s) { s.Put(0, "!BDN"); });
  add("DBF", [](Sector& s) { s.Put(0, "\x03\x01\x02\x03\x04\x05\x06\x07"); });
  add("DBF", [](Sector& s) { s.Put(0, "\x8E\x01\x02\x03\x04\x05\x06\x07"); });
  add("TAR", [](Sector& s) { s.Put(0, "file.txt").Put(257, "ustar\0"); });
  add("LZH", [](Sector& s) { s.Put(0, "\x24\x10-lh5-"); });
  add("LZH", [](Sector& s) { s.Put(0, "\x24\x10-lz4-"); });
  add("MID", [](Sector& s) { s.Put(0, "MThd"); });
  add("MDB", [](Sector& s) { s.Put(0, "\0\x01\0\0Standard Jet DB"); });
  add("EPSorPS", [](Sector& s) { s.Put(0, "%!PS-Adobe-3.0"); });
  add("QDF", [](Sector& s) { s.Put(0, "\xAC\x9E\xBD\x8F"); });
  add("PWL", [](Sector& s) { s.Put(0, "\xE3\x82\x85\x96"); });
  add("WAV", [](Sector& s) { s.Put(0, "RIFX\0\0\0\0WAVE"); });
  add("RAM", [](Sector& s) { s.Put(0, ".ray"); });
  add("RM", [](Sector& s) { s.Put(0, ".RMF"); });
  add("MPG", [](Sector& s) { s.Put(0, "\0\0\x01\xB3\x01"); });
  add("MPG", [](Sector& s) { s.Put(0, "\0\0\x01\xBA\x01"); });
  add("ASF", [](Sector& s) { s.Put(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"); });
  add("MOV", [](Sector& s) { s.Put(0, "moov"); });
  for (const Case& c : cases) EXPECT_EQ(Detect(c.sector), c.expected) << "expected " << c.expected;
}

TEST(DetectFileType, TheChainOrderSettlesOverlaps) {
  // "MZ" wins over everything after it.
  EXPECT_EQ(Detect(Sector().Put(0, "MZ").Put(8, "WAVE").Put(100, "Kodak")), "EXE");
  // A classic TIFF header stays TIF even with NIKON in the sector.
  EXPECT_EQ(Detect(Sector().Put(0, "II*\0").Put(352, "NIKON").Put(484, "NIKON")), "TIF");
  // "II" with other bytes 2-3 falls through to the NEF test.
  EXPECT_EQ(Detect(Sector().Put(0, "II\x2B\0").Put(484, "NIKON")), "NEF");
  // "MOV" at offset 4 comes before the text searches.
  EXPECT_EQ(Detect(Sector().Put(0, "xxxxmoov").Put(20, "Kodak")), "MOV");
  // Kodak is searched before Fuji, wherever each stands.
  EXPECT_EQ(Detect(Sector().Put(10, "Fuji").Put(400, "Kodak")), "DCR");
  // A searched word beats a later fixed test.
  EXPECT_EQ(Detect(Sector().Put(0, "8BPS").Put(30, "Fuji")), "RAF");
  // RIFF that is neither WAVE nor AVI stops the chain with its own tag.
  EXPECT_EQ(Detect(Sector().Put(0, "RIFF\0\0\0\0WAVX").Put(4, "moov")), "RIFF");
}

TEST(DetectFileType, CompoundDocumentsAreSplitBySubsteps) {
  auto ole = [] {
    Sector s;
    s.Put(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    return s;
  };
  EXPECT_EQ(Detect(ole().Put(512, "\xEC\xA5\xC1\0")), "DOC");
  EXPECT_EQ(Detect(ole().Put(512, "\xDC\xA5")), "DOC");
  EXPECT_EQ(Detect(ole().Put(512, "\x09\x08\x10\0")), "XLS");
  EXPECT_EQ(Detect(ole().PutUtf16(1152, "VisioDocument")), "VSD");
  EXPECT_EQ(Detect(ole().PutUtf16(1664, "VisioDocument")), "VSD");
  EXPECT_EQ(Detect(ole().PutUtf16(1152, "PowerPoint Document")), "PPT");
  EXPECT_EQ(Detect(ole().Put(512, "\xFD\xFF\xFF\xFF\x02").Set(520, 0x03)), "PUB");
  EXPECT_EQ(Detect(ole().Put(512, "\xFD\xFF\xFF\xFF\x02").Set(520, 0x08)), "MPP");
  // Recognised, but of no listed kind: true with an empty tag.
  EXPECT_EQ(Detect(ole().Put(512, "\xFD\xFF\xFF\xFF\x02").Set(520, 0x05)), "");
  EXPECT_EQ(Detect(ole()), "");
  // A longer name is not the name.
  EXPECT_EQ(Detect(ole().PutUtf16(1152, "VisioDocumentX")), "");
}

TEST(DetectFileType, ArjArchivesAsTheArchiverWritesThem) {
  // Main header: 60 EA, basic header size 0x0022, first header size, versions, host, flags, type 2.
  EXPECT_EQ(Detect(Sector().Put(0, "\x60\xEA\x22\x00\x1E\x0B\x01\x00\x10\x00\x02")), "ARJ");
  // Header size out of range, or a type other than 2, is not an archive start.
  EXPECT_EQ(Detect(Sector().Put(0, "\x60\xEA\x29\x0A\x1E\x0B\x01\x00\x10\x00\x02")), "<none>");
  EXPECT_EQ(Detect(Sector().Put(0, "\x60\xEA\x22\x00\x1E\x0B\x01\x00\x10\x00\x01")), "<none>");
}

TEST(DetectFileType, SpanBoundsOnlyTheSearches) {
  EXPECT_EQ(Detect(Sector().Put(200, "Kodak"), 0), "<none>");
  EXPECT_EQ(Detect(Sector().Put(200, "Kodak"), -5), "<none>");
  EXPECT_EQ(Detect(Sector().Put(200, "Kodak"), 200), "<none>");
  EXPECT_EQ(Detect(Sector().Put(200, "Kodak"), 201), "DCR");
  // Fixed tests ignore the span.
  EXPECT_EQ(Detect(Sector().Put(0, "PK\x03\x04"), 0), "ZIP");
  // A larger span reads span + 4 bytes and finds the word at its last position.
  Sector wide(4096);
  wide.Put(4095, "Fuji");
  EXPECT_EQ(Detect(wide, 4096), "RAF");
}

TEST(DetectFileType, WordSearchAgreesWithPositionByPositionSearch) {
  // Sectors made of the letters of both words, so that candidates and near misses are
  // everywhere, including at the last positions of the span.
  std::mt19937 rng(99);
  const char letters[] = "KodakFujiKoFu";
  for (int round = 0; round < 20000; ++round) {
    const int span = static_cast<int>(rng() % 600);
    Sector s(span);
    std::uint8_t* raw = const_cast<std::uint8_t*>(s.data());
    const int extent = DetectReadExtent(span);
    const int density = 2 + static_cast<int>(rng() % 40);
    for (int i = 8; i < extent; ++i)
      raw[i] = rng() % density == 0 ? static_cast<std::uint8_t>(letters[rng() % 13]) : 'x';
    std::string expected = FindPattern(s.data(), span, "Kodak")  ? "DCR"
                           : FindPattern(s.data(), span, "Fuji") ? "RAF"
                                                                 : "<none>";
    ASSERT_EQ(Detect(s, span), expected) << "span " << span << " round " << round;
  }
}

TEST(DetectFileType, TagIsCutAndLeftUntouchedOnFalse) {
  EXPECT_EQ(Detect(Sector().Put(0, "%!PS-Adobe"), 512, 3), "EPS");
  EXPECT_EQ(Detect(Sector().Put(0, "%!PS-Adobe"), 512, 0), "");
  std::string tag = "keep";
  EXPECT_FALSE(DetectFileType(Sector().data(), 512, tag, 255));
  EXPECT_EQ(tag, "keep");
}

TEST(MatchAt, ComparesBytesIncludingZeros) {
  const std::uint8_t bytes[] = {'u', 's', 't', 'a', 'r', 0, 'x'};
  EXPECT_TRUE(MatchAt(bytes, std::string_view("ustar\0", 6)));
  EXPECT_FALSE(MatchAt(bytes, std::string_view("ustaR", 5)));
  EXPECT_TRUE(MatchAt(bytes, ""));
}

TEST(FindPattern, FindsTheFirstPositionOnly) {
  const std::uint8_t bytes[] = "KKodaKodak";
  EXPECT_TRUE(FindPattern(bytes, 6, "Kodak"));
  EXPECT_FALSE(FindPattern(bytes, 5, "Kodak"));
  EXPECT_TRUE(FindPattern(bytes, 1, ""));
  EXPECT_FALSE(FindPattern(bytes, 0, ""));
}

TEST(OleEntryNameEquals, DropsZeroBytesAndComparesWhole) {
  std::vector<std::uint8_t> name(27, 0);
  const std::string text = "VisioDocument";
  for (std::size_t i = 0; i < text.size(); ++i) name[2 * i] = static_cast<std::uint8_t>(text[i]);
  EXPECT_TRUE(OleEntryNameEquals(name.data(), 27, "VisioDocument"));
  EXPECT_FALSE(OleEntryNameEquals(name.data(), 27, "VisioDocumen"));
  EXPECT_FALSE(OleEntryNameEquals(name.data(), 24, "VisioDocument"));
}

TEST(FileCatalogue, HoldsTheFortyFiveKindsInOrder) {
  constexpr const char* kOrder[] = {
      "ARJ", "ASF", "AVI",  "BMP", "CRW", "DBF", "DBX", "DCR", "DOC", "DWG", "EPSorPS", "EXE",
      "GIF", "HLP", "HTML", "JPG", "LZH", "MDB", "MID", "MOV", "MPG", "MPP", "MRW",     "NEF",
      "PDF", "PNG", "PPT",  "PSD", "PST", "PUB", "PWL", "QDF", "RAF", "RAM", "RAR",     "RM",
      "RTF", "TAR", "TIF",  "VSD", "WAV", "WPD", "XLS", "XML", "ZIP"};
  ASSERT_EQ(kChainTypeCount, 45);
  ASSERT_EQ(std::size(kOrder), 45u);
  for (int i = 0; i < kChainTypeCount; ++i) {
    EXPECT_EQ(FileTypeTag(i), kOrder[i]) << "row " << i;
    EXPECT_EQ(FindFileType(kOrder[i]), i) << kOrder[i];
  }
  for (const char* none : {"EPS", "RIFF", "", "jpg", "JPG ", "Zip"})
    EXPECT_EQ(FindFileType(none), -1) << none;
  // Today's kinds follow, in ASCII order too, each tag once, each described.
  for (int i = kChainTypeCount; i < kFileTypeCount; ++i) {
    if (i > kChainTypeCount) {
      EXPECT_LT(FileTypeTag(i - 1), FileTypeTag(i)) << "row " << i;
    }
    EXPECT_EQ(FindFileType(FileTypeTag(i)), i) << FileTypeTag(i);
    EXPECT_GE(FileTypeTag(i).size(), 2u);
    EXPECT_LE(FileTypeTag(i).size(), 7u);
    EXPECT_FALSE(FileTypeDescription(i).empty());
  }
}

/// Random and mutated sectors, each in an allocation of exactly the readable extent,
/// so AddressSanitizer would stop any read outside it.
TEST(DetectFileType, RandomAndMutatedSectorsAreSafe) {
  std::mt19937 rng(12345);
  const char* seeds[] = {"MZ",    "RIFF\0\0\0\0WAVE", "\xD0\xCF\x11\xE0", "\x60\xEA\x22\0",
                         "II*\0", "Rar!\x1A\x07",     "PK\x03\x04",       "%!PS-Adobe"};
  int found = 0;
  for (int round = 0; round < 4000; ++round) {
    const int span = static_cast<int>(rng() % 1100) - 50;
    const std::size_t size = static_cast<std::size_t>(DetectReadExtent(span));
    auto bytes = std::make_unique<std::uint8_t[]>(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(rng());
    const std::string seed = seeds[round % 8];
    std::memcpy(bytes.get(), seed.data(), seed.size());
    for (int m = 0; m < 4; ++m) bytes[rng() % size] = static_cast<std::uint8_t>(rng());
    std::string tag;
    found += DetectFileType(bytes.get(), span, tag, static_cast<int>(rng() % 10)) ? 1 : 0;
  }
  EXPECT_GT(found, 0);
}

}  // namespace
