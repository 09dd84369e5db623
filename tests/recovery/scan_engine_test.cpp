#include "recovery/scan_engine.h"
#include "detect/file_detect.h"
#include "disk/memory_sector_reader.h"
#include "support/temp_dir.h"
#include "support/test_disks.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

namespace {

/// Records what the scan told its front end.
struct Events final : ScanObserver {
  void ScanStarted(std::uint64_t total) override { started_total = total; }
  void CurrentSector(std::uint64_t lba) override { current.push_back(lba); }
  void ChunkDone(std::uint64_t chunk, std::uint64_t chunks) override {
    chunks_done.push_back(chunk);
    gauge_max = chunks;
  }
  void FileStartFound(int row, std::size_t count, std::uint64_t found) override {
    captions.push_back(std::string(FileTypeTag(row)) + " (" + std::to_string(count) + ")");
    found_counter = found;
    if (on_start) on_start(row);
  }
  void RecordAppended(int row, const TfileExt& f) override {
    appended.push_back(std::string(FileTypeTag(row)) + "@" + std::to_string(f.LBA) + ":" +
                       std::to_string(f.Size));
  }
  void ScanEnded(const ScanSummary& s) override { ended = s; }

  std::uint64_t started_total = 0, found_counter = 0, gauge_max = 0;
  std::vector<std::uint64_t> current, chunks_done;
  std::vector<std::string> captions, appended;
  std::function<void(int)> on_start;
  ScanSummary ended;
};

struct ScanFixture {
  explicit ScanFixture(const PlantedDisk& disk) : memory(disk.bytes()), reader(memory) {
    info.SetSectorCount(memory.SectorCount());
  }
  ScanSummary Run(int workers = 0) {
    ScanOptions options;
    options.workers = workers;
    return ScanDisk(reader, info, rows, cancel, events, options);
  }
  MemorySectorReader memory;
  FaultyReader reader;
  DiskInfo info;
  FoundTypeRows rows;
  CancelToken cancel;
  Events events;
};

/// Every record of every row as "TAG@LBA:SIZE", in disk order.
std::vector<std::string> Listed(const FoundTypeRows& rows) {
  std::vector<std::pair<std::uint64_t, std::string>> all;
  for (int k = 0; k < FoundTypeRows::size(); ++k)
    for (const TfileExt& f : rows[k].Files())
      all.emplace_back(f.LBA, std::string(f.FileType()) + "@" + std::to_string(f.LBA) + ":" +
                                  std::to_string(f.Size));
  std::sort(all.begin(), all.end());
  std::vector<std::string> out;
  for (auto& [lba, text] : all) out.push_back(std::move(text));
  return out;
}

const int kJpg = FindFileType("JPG"), kPdf = FindFileType("PDF"), kGif = FindFileType("GIF"),
          kZip = FindFileType("ZIP");

TEST(ScanDisk, ReadsWholeChunksAndOnlyTheTailThatExists) {
  {
    ScanFixture f(PlantedDisk(4096).Jpg(4095));
    const ScanSummary s = f.Run();
    EXPECT_EQ(s.reason, ScanEnd::kCompleted);
    EXPECT_EQ(s.total_sectors, 4096u);
    EXPECT_EQ(s.examined, 4096u);
    EXPECT_EQ(f.events.current.back(), 4096u);
    EXPECT_EQ(f.events.chunks_done, (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(f.events.appended, (std::vector<std::string>{"JPG@4095:512"}));
  }
  {
    // Two whole chunks and a tail of 904 sectors, read as 904 sectors at LBA 4096.
    ScanFixture f(PlantedDisk(5000).Jpg(4999));
    EXPECT_EQ(f.Run(1).examined, 5000u);
    // Each chunk is read in pieces; joined up, the reads cover each chunk and the four
    // sectors after it, and at the tail only the sectors that exist.
    std::vector<std::pair<std::uint64_t, std::size_t>> requests;
    for (const auto& [offset, size] : f.reader.Requests()) {
      if (!requests.empty() && requests.back().first + requests.back().second == offset)
        requests.back().second += size;
      else
        requests.emplace_back(offset, size);
    }
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], std::make_pair(std::uint64_t{0}, std::size_t{2052 * 512}));
    EXPECT_EQ(requests[1], std::make_pair(std::uint64_t{2048 * 512}, std::size_t{2052 * 512}));
    EXPECT_EQ(requests[2], std::make_pair(std::uint64_t{4096 * 512}, std::size_t{904 * 512}));
    EXPECT_EQ(f.events.chunks_done, (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(f.rows[kJpg].Count(), 1u);
  }
  {
    // A disk smaller than one chunk is scanned whole.
    ScanFixture f(PlantedDisk(1000).Pdf(10).Jpg(999));
    const ScanSummary s = f.Run();
    EXPECT_EQ(s.examined, 1000u);
    EXPECT_EQ(f.events.appended, (std::vector<std::string>{"PDF@10:506368", "JPG@999:512"}));
  }
}

TEST(ScanDisk, EachFileRunsToTheNextStartWhateverItsType) {
  ScanFixture f(PlantedDisk(3000).Jpg(100).Pdf(164));
  f.Run();
  EXPECT_EQ(f.events.appended, (std::vector<std::string>{"JPG@100:32768", "PDF@164:1452032"}));
  EXPECT_EQ(f.rows[kJpg].At(0).FileName(), "FILE_100.JPG");
  EXPECT_EQ(f.rows[kPdf].At(0).Size, (3000u - 164u) * 512u);

  ScanFixture g(PlantedDisk(64).Jpg(0).Gif(10));
  g.Run();
  EXPECT_EQ(g.rows[kJpg].At(0).Size, 5120u);
  EXPECT_EQ(g.rows[kGif].At(0).LBA, 10u);
}

TEST(ScanDisk, CaptionsCountTheOpenRecord) {
  ScanFixture f(PlantedDisk(64).Jpg(1).Jpg(2).Pdf(3).Jpg(9));
  f.Run();
  EXPECT_EQ(f.events.captions,
            (std::vector<std::string>{"JPG (1)", "JPG (2)", "PDF (1)", "JPG (3)"}));
  EXPECT_EQ(f.events.found_counter, 4u);
}

TEST(ScanDisk, TagsOutsideTheCatalogueNeitherCountNorCloseTheOpenFile) {
  PlantedDisk disk(64);
  disk.Jpg(0)
      .Plant(5, std::string("RIFF\0\0\0\0CDXA", 12))
      .Plant(7, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
  disk.Zip(9);
  ScanFixture f(disk);
  const ScanSummary s = f.Run();
  EXPECT_EQ(s.files_found, 2u);
  EXPECT_EQ(f.rows[kJpg].At(0).Size, 9u * 512u);
}

TEST(ScanDisk, EveryDetectorStepStartsAFileOfItsCatalogueRow) {
  // One planted start per step of the detector's chain, 8 sectors apart so the steps
  // that look into later sectors (compound documents) see only their own bytes. An
  // empty tag: recognised by the detector, but of no catalogue row.
  using Puts = std::vector<std::pair<std::size_t, std::string>>;
  const std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  auto utf16 = [](const std::string& text) {
    std::string out;
    for (char c : text) out += std::string{c, '\0'};
    return out;
  };
  const std::vector<std::pair<std::string, Puts>> steps = {
      {"EXE", {{0, "MZ"}}},
      {"GIF", {{0, "GIF89a"}}},
      {"PNG", {{0, "\x89PNG\r\n\x1A\n"}}},
      {"JPG", {{0, "\xFF\xD8\xFF\xE0"}}},
      {"BMP", {{0, "BM"}}},
      {"TIF", {{0, std::string("II*\0", 4)}}},
      {"RTF", {{0, "{\\rtf1"}}},
      {"XML", {{0, "<?xml "}}},
      {"HTML", {{0, "<html>"}}},
      {"DOC", {{0, ole}, {512, "\xEC\xA5\xC1"}}},
      {"XLS", {{0, ole}, {512, std::string("\x09\x08\x10\0", 4)}}},
      {"VSD", {{0, ole}, {1152, utf16("VisioDocument")}}},
      {"PPT", {{0, ole}, {1152, utf16("PowerPoint Document")}}},
      {"PUB", {{0, ole}, {512, "\xFD\xFF\xFF\xFF\x02"}, {520, "\x03"}}},
      {"MPP", {{0, ole}, {512, "\xFD\xFF\xFF\xFF\x02"}, {520, "\x08"}}},
      {"", {{0, ole}}},
      {"HLP", {{0, std::string("?_\x03\0", 4)}}},
      {"ZIP", {{0, "PK\x03\x04"}}},
      {"ARJ", {{0, std::string("\x60\xEA\x22\x00\x1E\x0B\x01\x00\x10\x00\x02", 11)}}},
      {"RAR", {{0, "Rar!\x1A\x07"}}},
      {"WPD", {{0, "\xFFWPC"}}},
      {"PDF", {{0, "%PDF-1.4"}}},
      {"CRW", {{0, std::string("II\x1A\0\0\0HEAPCCDR", 14)}}},
      {"CRW", {{250, "Canon EOS-1D"}}},
      {"WAV", {{0, std::string("RIFF\0\0\0\0WAVE", 12)}}},
      {"AVI", {{0, std::string("RIFF\0\0\0\0AVI ", 12)}}},
      {"", {{0, std::string("RIFF\0\0\0\0CDXA", 12)}}},
      {"MOV", {{4, "moov"}}},
      {"NEF", {{0, std::string("MM\0\x2B", 4)}, {352, "NIKON"}}},
      {"MRW", {{0, std::string("\0MRM", 4)}}},
      {"DCR", {{300, "Kodak"}}},
      {"RAF", {{508, "Fuji"}}},
      {"DWG", {{0, "AC1015"}}},
      {"PSD", {{0, "8BPS"}}},
      {"DBX", {{0, "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F"}}},
      {"PST", {{0, "!BDN"}}},
      {"DBF", {{0, "\x03\x01\x02\x03\x04\x05\x06\x07"}}},
      {"TAR", {{0, "file.txt"}, {257, std::string("ustar\0", 6)}}},
      {"LZH", {{0, "\x24\x10-lh5-"}}},
      {"MID", {{0, "MThd"}}},
      {"MDB", {{0, std::string("\0\x01\0\0Standard Jet DB", 19)}}},
      {"EPSorPS", {{0, "%!PS-Adobe-3.0"}}},
      {"QDF", {{0, "\xAC\x9E\xBD\x8F"}}},
      {"PWL", {{0, "\xE3\x82\x85\x96"}}},
      {"WAV", {{0, std::string("RIFX\0\0\0\0WAVE", 12)}}},
      {"RAM", {{0, ".ray"}}},
      {"RM", {{0, ".RMF"}}},
      {"MPG", {{0, std::string("\0\0\x01\xB3\x01", 5)}}},
      {"ASF", {{0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"}}},
      {"MOV", {{0, "moov"}}},
  };
  PlantedDisk disk(8 * steps.size() + 8);
  std::vector<std::string> expected;
  std::set<std::string> rows_reached;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    disk.Plant(8 * i, "\x01\x02\x03\x04\x05\x06\x07\x08");  // no sector is blank
    for (const auto& [offset, bytes] : steps[i].second) disk.Plant(8 * i, bytes, offset);
    if (steps[i].first.empty()) continue;
    expected.push_back(steps[i].first + "@" + std::to_string(8 * i));
    rows_reached.insert(steps[i].first);
  }
  ScanFixture f(disk);
  f.Run();
  std::vector<std::string> found = Listed(f.rows);
  for (std::string& entry : found) entry.erase(entry.find(':'));
  EXPECT_EQ(found, expected);
  EXPECT_EQ(rows_reached.size(), std::size_t{kChainTypeCount});
}

TEST(ScanDisk, DetectorSeesTheDiskAcrossChunkBoundaries) {
  // A Word document starting at the last sector of a chunk: its marker lies in the next.
  PlantedDisk disk(4096);
  disk.Plant(2047, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1").Plant(2048, "\xEC\xA5\xC1");
  ScanFixture f(disk);
  f.Run();
  ASSERT_EQ(f.rows[FindFileType("DOC")].Count(), 1u);
  EXPECT_EQ(f.rows[FindFileType("DOC")].At(0).LBA, 2047u);
}

TEST(ScanDisk, StopEndsAtTheNextSectorAndRunsTheEndSteps) {
  ScanFixture f(PlantedDisk(8192).Jpg(100).Pdf(3000).Gif(5000));
  f.events.on_start = [&](int row) {
    if (row == kPdf) f.cancel.Cancel();
  };
  const ScanSummary s = f.Run();
  EXPECT_EQ(s.reason, ScanEnd::kStopped);
  EXPECT_EQ(s.examined, 3001u);
  EXPECT_EQ(f.events.appended, (std::vector<std::string>{"JPG@100:1484800", "PDF@3000:512"}));
  EXPECT_EQ(f.rows[kGif].Count(), 0u);

  // A stop requested before the scan starts examines nothing.
  ScanFixture g(PlantedDisk(100).Jpg(0));
  g.cancel.Cancel();
  EXPECT_EQ(g.Run().examined, 0u);
  EXPECT_EQ(g.rows[kJpg].Count(), 0u);
}

TEST(ScanDisk, UnreadableSectorsCountAsBlankAndTheScanGoesOn) {
  ScanFixture f(PlantedDisk(8192).Jpg(10).Pdf(4200).Gif(4300).Zip(7000));
  f.reader.FailAt(4200);  // the PDF's first sector cannot be read
  f.reader.FailAt(4301);
  const ScanSummary s = f.Run();
  EXPECT_EQ(s.reason, ScanEnd::kCompleted);
  EXPECT_EQ(s.unreadable, 2u);
  EXPECT_EQ(s.examined, 8192u);
  EXPECT_EQ(f.rows[kPdf].Count(), 0u);
  EXPECT_EQ(Listed(f.rows),
            (std::vector<std::string>{"JPG@10:2196480", "GIF@4300:1382400", "ZIP@7000:610304"}));
}

TEST(ScanDisk, AVanishedSourceEndsTheScanAndSaysWhy) {
  ScanFixture f(PlantedDisk(8192).Jpg(10).Pdf(2100).Gif(5000));
  f.reader.LoseAt(4500);
  const ScanSummary s = f.Run();
  EXPECT_EQ(s.reason, ScanEnd::kSourceLost);
  EXPECT_EQ(s.error, "No such device");
  EXPECT_EQ(s.examined, 4500u);
  EXPECT_EQ(f.events.appended, (std::vector<std::string>{"JPG@10:1070080", "PDF@2100:1228800"}));
  EXPECT_EQ(f.events.ended.reason, ScanEnd::kSourceLost);

  // A source shorter than its sector count says where it ended.
  PlantedDisk short_disk(100);
  MemorySectorReader memory(short_disk.bytes());
  DiskInfo info;
  info.SetSectorCount(300);
  FoundTypeRows rows;
  CancelToken cancel;
  Events events;
  const ScanSummary t = ScanDisk(memory, info, rows, cancel, events);
  EXPECT_EQ(t.reason, ScanEnd::kSourceLost);
  EXPECT_EQ(t.error, "The disk ended at sector 100");
}

TEST(ScanDrive, ASourceThatCannotBeOpenedIsNotAnEmptyResult) {
  TempDir dir;
  DriveTable table(dir / "sys", dir / "dev");
  DiskInfo info;
  info.SetDriveNumber(table.RegisterImage(dir / "missing.img"));
  FoundTypeRows rows;
  CancelToken cancel;
  Events events;
  const ScanSummary s = ScanDrive(table, info, rows, cancel, events);
  EXPECT_EQ(s.reason, ScanEnd::kCannotOpen);
  EXPECT_EQ(s.error, "No such file or directory");
  EXPECT_EQ(events.ended.reason, ScanEnd::kCannotOpen);
  info.SetDriveNumber(7);
  EXPECT_EQ(ScanDrive(table, info, rows, cancel, events).error, "No such device");
}

TEST(ScanDisk, SizesPastFourGibibytesDoNotWrap) {
  SparseReader reader(9000010);
  reader.Plant(0, "\xFF\xD8\xFF\xE0 first");
  reader.Plant(9000000, "%PDF-1.5 second");
  DiskInfo info;
  info.SetSectorCount(reader.SectorCount());
  FoundTypeRows rows;
  CancelToken cancel;
  Events events;
  ScanDisk(reader, info, rows, cancel, events);
  ASSERT_EQ(rows[kJpg].Count(), 1u);
  EXPECT_EQ(rows[kJpg].At(0).Size, 9000000ull * 512);
  EXPECT_EQ(rows[kPdf].At(0).LBA, 9000000u);
}

/// The scan finds exactly what the detector says of each sector of the whole disk, in
/// order, whatever the number of workers.
TEST(ScanDisk, FindsWhatTheDetectorFindsSectorBySector) {
  std::mt19937 rng(3);
  PlantedDisk disk(7000);
  const char* starts[] = {
      "\xFF\xD8\xFF\xE1", "GIF87a", "PK\x03\x04", "%PDF-1", "MZ", "BM", "Kodak"};
  for (int i = 0; i < 300; ++i) {
    const std::size_t lba = rng() % 7000;
    disk.Plant(lba, starts[rng() % 7], rng() % 3 == 0 ? rng() % 500 : 0);
    disk.Plant(lba, "\x01", 8);
  }
  std::vector<std::uint8_t> padded = disk.bytes();
  padded.resize(padded.size() + 2048);
  std::vector<std::pair<std::uint64_t, int>> expected;
  std::string tag;
  for (std::uint64_t lba = 0; lba < 7000; ++lba)
    if (DetectFileType(&padded[lba * 512], 512, tag, 255) && FindFileType(tag) >= 0)
      expected.emplace_back(lba, FindFileType(tag));
  ASSERT_GT(expected.size(), 100u);
  for (int workers : {1, 2, 3}) {
    ScanFixture f(disk);
    std::vector<std::pair<std::uint64_t, int>> found;
    f.events.on_start = [&](int row) { found.emplace_back(0, row); };
    f.Run(workers);
    std::vector<std::pair<std::uint64_t, int>> records;
    for (int k = 0; k < FoundTypeRows::size(); ++k)
      for (const TfileExt& file : f.rows[k].Files()) records.emplace_back(file.LBA, k);
    std::sort(records.begin(), records.end());
    EXPECT_EQ(records, expected) << workers << " workers";
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i].second, expected[i].second);
  }
}

/// Bad sectors are skipped, read again once the rest is done, and the found list is the
/// one a read sector by sector gives, whatever the order the sectors arrived in.
TEST(ScanDisk, BadSectorsGiveTheListOfASectorBySectorRead) {
  std::mt19937 rng(5);
  PlantedDisk disk(9000);
  const char* starts[] = {"\xFF\xD8\xFF\xE1", "GIF87a", "PK\x03\x04", "%PDF-1", "BM"};
  for (int i = 0; i < 400; ++i) disk.Plant(rng() % 9000, starts[rng() % 5]);
  std::set<std::uint64_t> bad;
  while (bad.size() < 25) bad.insert(rng() % 9000);
  PlantedDisk zeroed = disk;
  for (const std::uint64_t lba : bad) zeroed.Plant(lba, std::string(512, '\0'));

  ScanFixture reference(zeroed);
  reference.Run();
  for (const int passes : {2, 0}) {
    ScanFixture f(disk);
    for (const std::uint64_t lba : bad) f.reader.FailAt(lba);
    ScanOptions options;
    options.retry_passes = passes;
    const ScanSummary s = ScanDisk(f.reader, f.info, f.rows, f.cancel, f.events, options);
    EXPECT_EQ(s.reason, ScanEnd::kCompleted);
    EXPECT_GT(s.skipped, bad.size());
    if (passes == 0) continue;  // what was skipped stays unread
    EXPECT_EQ(s.unreadable, bad.size());
    EXPECT_EQ(Listed(f.rows), Listed(reference.rows));
    EXPECT_EQ(s.files_found, reference.rows.TotalCount());
    // No bad sector is read more than once per pass.
    std::size_t single = 0;
    for (const auto& [offset, size] : f.reader.Requests()) single += size <= 4096;
    EXPECT_LT(single, bad.size() * 40);
  }
}

/// A window reads the rows while the scan appends to them from its own thread.
TEST(ScanDiskThreaded, RecordsAreReadableWhileTheScanRuns) {
  PlantedDisk disk(40000);
  for (std::size_t lba = 0; lba < 40000; lba += 37) disk.Jpg(lba);
  ScanFixture f(disk);
  std::atomic<bool> done{false};
  std::size_t max_seen = 0;
  std::thread window([&] {
    while (!done.load()) {
      const auto files = f.rows[kJpg].Files();
      for (std::size_t i = 1; i < files.size(); ++i) ASSERT_LT(files[i - 1].LBA, files[i].LBA);
      max_seen = std::max(max_seen, files.size());
    }
  });
  std::thread scanner([&] {
    f.Run(2);
    done = true;
  });
  scanner.join();
  window.join();
  EXPECT_EQ(f.rows[kJpg].Count(), (40000u + 36u) / 37u);
}

/// Stop pressed from another thread, as the window's Stop Scan does.
TEST(ScanDiskThreaded, StopFromAnotherThreadEndsTheScan) {
  SparseReader reader(4000000);
  DiskInfo info;
  info.SetSectorCount(reader.SectorCount());
  FoundTypeRows rows;
  CancelToken cancel;
  struct StopAtFirstDisplay final : ScanObserver {
    CancelToken* cancel = nullptr;
    std::thread stopper;
    void CurrentSector(std::uint64_t lba) override {
      if (lba > 0 && !stopper.joinable()) stopper = std::thread([c = cancel] { c->Cancel(); });
    }
  } observer;
  observer.cancel = &cancel;
  ScanOptions options;
  options.display_interval = std::chrono::milliseconds(0);
  const ScanSummary s = ScanDisk(reader, info, rows, cancel, observer, options);
  if (observer.stopper.joinable()) observer.stopper.join();
  EXPECT_EQ(s.reason, ScanEnd::kStopped);
  EXPECT_LT(s.examined, 4000000u);
}

}  // namespace
