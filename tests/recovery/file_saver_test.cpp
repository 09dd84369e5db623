#include "recovery/file_saver.h"
#include "disk/memory_sector_reader.h"
#include "recovery/format_size.h"
#include "support/temp_dir.h"
#include "support/test_disks.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct SaveEvents final : SaveObserver {
  void AmountOfFile(std::size_t n) override { amount = n; }
  void Queue(std::size_t n) override { queue.push_back(n); }
  void CurrentFile(const std::string& name) override {
    if (!name.empty()) names.push_back(name);
    if (on_file && !name.empty()) on_file(name);
  }
  void Processed(std::size_t n) override { processed = n; }
  std::size_t amount = 0, processed = 0;
  std::vector<std::size_t> queue;
  std::vector<std::string> names;
  std::function<void(const std::string&)> on_file;
};

struct SaveFixture {
  explicit SaveFixture(std::size_t sectors = 60000, std::uint32_t max_mb = 20)
      : memory(PatternBytes(sectors)),
        reader(memory),
        saver(reader, dir.path().string(), max_mb, cancel, events) {}
  [[nodiscard]] std::vector<std::uint8_t> Expected(std::uint64_t lba, std::size_t size) const {
    const auto all = PatternBytes(lba + (size + 511) / 512);
    return {all.begin() + static_cast<std::ptrdiff_t>(lba * 512),
            all.begin() + static_cast<std::ptrdiff_t>(lba * 512 + size)};
  }
  TempDir dir;
  MemorySectorReader memory;
  FaultyReader reader;
  CancelToken cancel;
  SaveEvents events;
  FileSaver saver;
};

TfileExt Record(std::uint64_t lba, std::uint64_t size, const char* tag = "JPG") {
  return {lba, size, static_cast<std::uint8_t>(FindFileType(tag))};
}

TEST(FileSaver, CopiesInMebibyteReadsFromTheStartSector) {
  SaveFixture f;
  f.saver.Save({{Record(100, 3 * 1048576)}});
  const auto requests = f.reader.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].first, 100u * 512);
  EXPECT_EQ(requests[1].first, (100u + 2048) * 512);
  EXPECT_EQ(requests[2].first, (100u + 4096) * 512);
  EXPECT_EQ(ReadWholeFile(f.dir / "FILE_100.JPG"), f.Expected(100, 3 * 1048576));

  SaveFixture g;
  g.saver.Save({{Record(7, 1536, "PDF")}});
  ASSERT_EQ(g.reader.Requests().size(), 1u);
  EXPECT_EQ(g.reader.Requests()[0].second, 1536u);
  EXPECT_EQ(ReadWholeFile(g.dir / "FILE_7.PDF"), g.Expected(7, 1536));
}

TEST(FileSaver, CutsEachFileToTheLimit) {
  SaveFixture f;
  f.saver.Save({{Record(0, 25 * 1048576)}});
  EXPECT_EQ(fs::file_size(f.dir / "FILE_0.JPG"), 20971520u);
  SaveFixture five(20000, 5);
  five.saver.Save({{Record(0, 8 * 1048576)}});
  EXPECT_EQ(fs::file_size(five.dir / "FILE_0.JPG"), 5242880u);
  // A limit of 0 is no limit.
  SaveFixture none(60000, 0);
  const SaveTotals totals = none.saver.Save({{Record(0, 25 * 1048576)}});
  EXPECT_EQ(totals.files_written, 1u);
  EXPECT_EQ(fs::file_size(none.dir / "FILE_0.JPG"), 25u * 1048576);
}

TEST(FileSaver, CountsEveryListIntoOneQueue) {
  SaveFixture f;
  const SaveTotals totals = f.saver.Save({{Record(0, 512), Record(1, 512), Record(2, 0)},
                                          {Record(10, 1024, "PDF"), Record(12, 512, "PDF")}});
  EXPECT_EQ(f.events.amount, 5u);
  EXPECT_EQ(f.events.processed, 5u);
  EXPECT_EQ(totals.files_written, 4u);
  // Each list first shows its own size, then the files left in the whole save.
  EXPECT_EQ(f.events.queue, (std::vector<std::size_t>{3, 4, 3, 2, 2, 1, 0}));
  EXPECT_FALSE(fs::exists(f.dir / "FILE_2.JPG"));  // size 0: nothing to write
  EXPECT_EQ(totals.end, SaveEnd::kCompleted);
}

TEST(FileSaver, ReplacesFilesOfAnEarlierSave) {
  SaveFixture f;
  WriteText(f.dir / "FILE_3.JPG", std::string(5000, 'x'));
  f.saver.Save({{Record(3, 1024)}});
  EXPECT_EQ(ReadWholeFile(f.dir / "FILE_3.JPG"), f.Expected(3, 1024));
}

TEST(FileSaver, UnreadableSectorsBecomeZerosAndTheRestIsCopied) {
  SaveFixture f;
  f.reader.FailAt(2050);
  const SaveTotals totals = f.saver.Save({{Record(2000, 100 * 512)}});
  EXPECT_EQ(totals.unreadable_sectors, 1u);
  auto expected = f.Expected(2000, 100 * 512);
  std::fill(expected.begin() + 50 * 512, expected.begin() + 51 * 512, 0);
  EXPECT_EQ(ReadWholeFile(f.dir / "FILE_2000.JPG"), expected);
}

TEST(FileSaver, ALostSourceEndsTheSaveAndNamesTheFileCut) {
  // A disk that answers "no such device", and an image cut short while it is saved
  // (reads return nothing with no error before the size the image had).
  struct Case {
    const char* name;
    std::function<std::unique_ptr<SectorReader>(const fs::path& image)> open;
    bool cut_before_second = false;  ///< the image is cut as the second file begins
    const char* incomplete;
  };
  const Case cases[] = {
      {"vanished device",
       [](const fs::path&) {
         struct Lost final : SectorReader {
           Lost() : memory(PatternBytes(60000)), faulty(memory) { faulty.LoseAt(3000); }
           ReadResult ReadAt(std::uint64_t o, void* b, std::size_t n) override {
             return faulty.ReadAt(o, b, n);
           }
           std::uint64_t SizeBytes() const override { return faulty.SizeBytes(); }
           MemorySectorReader memory;
           FaultyReader faulty;
         };
         return std::make_unique<Lost>();
       },
       false, "FILE_2000.JPG"},
      {"truncated image",
       [](const fs::path& image) {
         const auto bytes = PatternBytes(60000);
         WriteFile(image.string(), bytes);
         std::string err;
         return OpenSectorReader(image.string(), &err);
       },
       true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path out = dir / "out";
    fs::create_directories(out);
    auto reader = c.open(dir / "disk.img");
    ASSERT_TRUE(reader);
    CancelToken cancel;
    SaveEvents events;
    FileSaver saver(*reader, out.string(), 20, cancel, events);
    events.on_file = [&](const std::string& name) {
      if (c.cut_before_second && name == "FILE_2000.JPG")
        fs::resize_file(dir / "disk.img", 3000 * 512);
    };
    try {
      saver.Save({{Record(100, 512), Record(2000, 4096 * 512), Record(5000, 512)}});
      FAIL() << "no error";
    } catch (const SaveError& e) {
      EXPECT_STREQ(e.what(), "The disk can no longer be read");
      EXPECT_EQ(e.end(), SaveEnd::kSourceLost);
      EXPECT_FALSE(e.reason().empty());
    }
    const SaveTotals& totals = saver.Totals();
    EXPECT_EQ(totals.end, SaveEnd::kSourceLost);
    EXPECT_EQ(totals.written, std::vector<std::string>{"FILE_100.JPG"});
    EXPECT_EQ(totals.incomplete, c.incomplete);
    // A cut file keeps what was read; nothing was made up past the loss.
    if (fs::exists(out / "FILE_2000.JPG")) {
      EXPECT_LE(fs::file_size(out / "FILE_2000.JPG"), 1000u * 512);
    }
    EXPECT_FALSE(fs::exists(out / "FILE_5000.JPG"));
  }
}

TEST(FileSaver, RefusesANameThatIsNotARegularFileOrIsTheSource) {
  TempDir dir;
  const auto bytes = PatternBytes(100);
  // The source image itself lies in the folder under the name of the first found file.
  WriteFile(dir / "FILE_1.TAR", bytes);
  std::string err;
  auto image = OpenSectorReader(dir / "FILE_1.TAR", &err);
  ASSERT_TRUE(image) << err;
  WriteText(dir / "target.txt", "keep me");
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> make;  ///< puts something at the output name
    const char* reason;
  };
  const Case cases[] = {
      {"symbolic link", [&](const fs::path& p) { fs::create_symlink(dir / "target.txt", p); },
       "a symbolic link of that name is in the folder; it is left as it is"},
      {"FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
       "a FIFO of that name is in the folder; it is left as it is"},
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, "Is a directory"},
      {"source image", [&](const fs::path& p) { fs::create_hard_link(dir / "FILE_1.TAR", p); },
       "that is the disk image being recovered; it is left as it is"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = dir / c.name;
    fs::create_directories(out);
    c.make(out / "FILE_2.JPG");
    CancelToken cancel;
    SaveEvents events;
    FileSaver saver(*image, out.string(), 20, cancel, events);
    saver.SetSource(IdentifySource(dir / "FILE_1.TAR"));
    try {
      saver.Save({{Record(1, 512), Record(2, 512), Record(3, 512)}});
      FAIL() << "no error";
    } catch (const SaveError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file " + (out / "FILE_2.JPG").string());
      EXPECT_EQ(e.reason(), c.reason);
    }
    EXPECT_EQ(saver.Totals().written, std::vector<std::string>{"FILE_1.JPG"});
    EXPECT_TRUE(saver.Totals().incomplete.empty());
    EXPECT_FALSE(fs::exists(out / "FILE_3.JPG"));
  }
  EXPECT_EQ(ReadWholeFile(dir / "target.txt").size(), 7u);
  EXPECT_EQ(ReadWholeFile(dir / "FILE_1.TAR"), bytes);
}

TEST(FileSaver, CreateAndWriteFailuresEndTheSave) {
  TempDir dir;
  MemorySectorReader memory(PatternBytes(100));
  CancelToken cancel;
  SaveEvents events;
  const std::string missing = (dir.path() / "no" / "such").string();
  FileSaver saver(memory, missing, 20, cancel, events);
  try {
    saver.Save({{Record(1, 512), Record(2, 512)}});
    FAIL() << "no error";
  } catch (const SaveError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + missing + "/FILE_1.JPG");
    EXPECT_EQ(e.reason(), "No such file or directory");
  }
  EXPECT_EQ(events.processed, 0u);

  // A target that fills up: writes past the file-size limit fail like a full disk.
  FileSaver full(memory, dir.path().string(), 20, cancel, events);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 4096;
  ::setrlimit(RLIMIT_FSIZE, &small);
  std::string message, reason;
  try {
    full.Save({{Record(0, 100 * 512)}});
  } catch (const SaveError& e) {
    message = e.what();
    reason = e.reason();
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(message, "Stream write error");
  EXPECT_EQ(reason, "File too large");
  EXPECT_EQ(fs::file_size(dir / "FILE_0.JPG"), 4096u);  // what was written stays
  EXPECT_EQ(full.Totals().incomplete, "FILE_0.JPG");
}

TEST(FileSaver, StopEndsTheCurrentFileAfterItsChunkAndStartsNoOther) {
  SaveFixture f;
  f.events.on_file = [&](const std::string&) { f.cancel.Cancel(); };
  const SaveTotals totals =
      f.saver.Save({{Record(0, 3 * 1048576), Record(9000, 512)}, {Record(9100, 512, "PDF")}});
  EXPECT_EQ(fs::file_size(f.dir / "FILE_0.JPG"), 1048576u);
  EXPECT_EQ(totals.files_handled, 1u);
  EXPECT_EQ(totals.files_written, 0u);
  EXPECT_EQ(totals.incomplete, "FILE_0.JPG");
  EXPECT_EQ(totals.end, SaveEnd::kStopped);
  EXPECT_EQ(f.events.names, (std::vector<std::string>{"FILE_0.JPG"}));
  EXPECT_FALSE(fs::exists(f.dir / "FILE_9100.PDF"));
}

TEST(FileSaver, AStopPressedBeforeTheSaveBeginsIsNotLost) {
  SaveFixture f;
  f.cancel.Cancel();
  const SaveTotals totals = f.saver.Save({{Record(0, 512)}, {Record(5, 512, "PDF")}});
  EXPECT_EQ(totals.files_handled, 0u);
  EXPECT_EQ(totals.end, SaveEnd::kStopped);
}

TEST(FormatFileSize, FollowsTheSizeTable) {
  EXPECT_EQ(FormatFileSize(0), "0 Bytes");
  EXPECT_EQ(FormatFileSize(1023), "1023 Bytes");
  EXPECT_EQ(FormatFileSize(1024), "1.00 KB");
  EXPECT_EQ(FormatFileSize(1536), "1.50 KB");
  EXPECT_EQ(FormatFileSize(1048575), "1024.00 KB");
  EXPECT_EQ(FormatFileSize(1048576), "1.00 MB");
  EXPECT_EQ(FormatFileSize(1073741823), "1024.00 MB");
  EXPECT_EQ(FormatFileSize(3221225472ULL), "3.00 GB");
  EXPECT_EQ(FormatFileSize(5ULL << 40), "5120.00 GB");
  EXPECT_EQ(FormatFileSize(1536, ','), "1,50 KB");
}

}  // namespace
