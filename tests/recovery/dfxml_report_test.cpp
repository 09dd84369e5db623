// The recovery report: SHA-256 against published digests, and a report of real saved
// files that xmllint validates against the report's schema and python3 checks byte for
// byte against the files on disk.

#include "recovery/dfxml_report.h"
#include "disk/memory_sector_reader.h"
#include "recovery/file_saver.h"
#include "recovery/scan_engine.h"
#include "recovery/sha256.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>

#include <sys/resource.h>

namespace {

std::string Digest(const std::string& message, std::size_t piece) {
  Sha256 sha;
  for (std::size_t at = 0; at < message.size(); at += piece)
    sha.Update(message.data() + at, std::min(piece, message.size() - at));
  return Sha256::Hex(sha.Final());
}

TEST(Sha256, MatchesPublishedDigestsFedInAnyPieces) {
  const struct {
    std::string message;
    const char* hex;
  } kCases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : kCases)
    for (const std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64},
                                    std::size_t{65}, std::size_t{4096}, std::size_t{1} << 20}) {
      if (piece == 1 && c.message.size() > 1000) continue;
      EXPECT_EQ(Digest(c.message, piece), c.hex) << c.message.size() << " bytes in " << piece;
    }
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

/// Parses the report as any reader would and checks every fileobject against the saved
/// file of its name (size, SHA-256 of the bytes on disk) and against the disk image (the
/// byte run holds those bytes).
constexpr char kCheckReport[] = R"PY(
import hashlib, os, sys
import xml.etree.ElementTree as ET
report, folder, version, image = sys.argv[1:5]
disk = open(image, "rb").read()
ns = {"d": "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML",
      "t": "urn:x-ostrel-trawlex:dfxml:1"}
root = ET.parse(report).getroot()
assert root.get("version") == "1.2.0", root.get("version")
assert root.findtext("d:creator/d:version", namespaces=ns) == version
objects = root.findall("d:fileobject", ns)
for fo in objects:
    name = fo.findtext("d:filename", namespaces=ns)
    data = open(os.path.join(folder, name), "rb").read()
    assert int(fo.findtext("d:filesize", namespaces=ns)) == len(data), name
    run = fo.find("d:byte_runs/d:byte_run", ns)
    assert int(run.get("len")) == len(data) and run.get("file_offset") == "0", name
    offset = int(run.get("img_offset"))
    assert disk[offset:offset + len(data)] == data, name
    digest = fo.find("d:hashdigest", ns)
    assert digest.get("type") == "sha256", name
    assert digest.text == hashlib.sha256(data).hexdigest(), name
    print(name, run.get("img_offset"), fo.findtext("t:end_reason", namespaces=ns),
          fo.findtext("t:incomplete", namespaces=ns))
)PY";

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

ReportSource SampleSource() {
  ReportSource source;
  source.image_filename = "/images/odd\x01name\xff.img";  // bytes XML cannot hold as they are
  source.image_size = 64ull << 20;
  source.sector_count = source.image_size / 512;
  source.sectors_examined = source.sector_count;
  source.unreadable_sectors = 3;
  source.real_ends = true;
  source.size_limit_mb = 20;
  source.retry_passes = 1;
  const char* argv[] = {"trawlex", "recover",    "/images/odd\x01name\xff.img",
                        "-o",      "out dir",    "--types",
                        "JPG,<&>", "--real-ends"};
  source.command_line = CommandLineText(8, argv);
  source.start_time = std::chrono::system_clock::now();
  source.end_time = source.start_time + std::chrono::seconds(5);
  return source;
}

TEST(DfxmlReport, ValidatesAndHashesMatchTheSavedFiles) {
  if (Shell("command -v xmllint >/dev/null") != 0) GTEST_SKIP() << "xmllint is not installed";
  TempDir dir;
  // Real files made by real tools, planted among random bytes, found and saved as a
  // recovery does.
  const std::vector<std::pair<std::string, std::string>> makers = {
      {"picture.jpg", "convert -size 64x48 gradient:navy-orange picture.jpg"},
      {"picture.png", "convert -size 300x20 gradient:teal-white picture.png"},
      {"tone.wav", "sox -n -r 8000 -c 1 -b 16 tone.wav synth 0.3 sine 440"},
      {"papers.zip", "zip -q -X papers.zip picture.png tone.wav"},
  };
  std::vector<std::uint8_t> disk = RandomBytes(7 * 512, 1);
  for (const auto& [name, maker] : makers) {
    if (Shell("cd " + Quote(dir.path().string()) + " && " + maker + " 2>/dev/null") != 0)
      GTEST_SKIP() << "cannot run: " << maker;
    std::ifstream in(dir / name, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    bytes.resize((bytes.size() + 511) / 512 * 512);
    disk.insert(disk.end(), bytes.begin(), bytes.end());
    const auto gap = RandomBytes(3 * 512, static_cast<unsigned>(disk.size()));
    disk.insert(disk.end(), gap.begin(), gap.end());
  }
  WriteFile(dir / "disk.img", disk);
  MemorySectorReader reader(disk);
  DiskInfo info;
  info.SetSectorCount(reader.SectorCount());
  FoundTypeRows rows;
  CancelToken cancel;
  ScanObserver quiet_scan;
  ASSERT_EQ(ScanDisk(reader, info, rows, cancel, quiet_scan).reason, ScanEnd::kCompleted);
  std::vector<std::vector<TfileExt>> work;
  std::map<std::string, TfileExt> records;
  for (int k = 0; k < FoundTypeRows::size(); ++k) {
    work.push_back(rows[k].Files());
    for (const TfileExt& f : work.back()) records[f.FileName()] = f;
  }
  const auto folder = dir.path() / "saved";
  std::filesystem::create_directories(folder);
  CancelToken pause;
  SaveObserver quiet_save;
  FileSaver saver(reader, folder.string(), 20, pause, quiet_save);
  const SaveTotals totals = saver.Save(work);
  ASSERT_GE(totals.written.size(), makers.size());

  std::vector<ReportFile> files;
  for (const std::string& name : totals.written) {
    ReportFile file;
    std::string problem;
    ASSERT_TRUE(SavedFileEntry(records.at(name), folder.string(), &file, &problem)) << problem;
    files.push_back(file);
  }
  // Every end reason once, so that the schema check sees them all.
  const EndReason kReasons[] = {EndReason::kFormat, EndReason::kBroken, EndReason::kLimit,
                                EndReason::kDiskEnd, EndReason::kNextStart};
  for (std::size_t i = 0; i < files.size() && i < std::size(kReasons); ++i) {
    files[i].end = kReasons[i];
    files[i].incomplete = i % 2 == 1;
  }
  const std::string report = (folder / "report.xml").string();
  std::string err;
  ASSERT_TRUE(WriteDfxmlReport(report, SampleSource(), files, &err)) << err;

  const std::string xsd = TRAWLEX_TEST_DATA "/recovery_report.xsd";
  EXPECT_EQ(Shell("xmllint --noout --schema " + Quote(xsd) + " " + Quote(report)), 0);

  WriteText(dir / "check.py", kCheckReport);
  const std::string listing = dir / "listing.txt";
  ASSERT_EQ(Shell("/usr/bin/python3 " + Quote(dir / "check.py") + " " + Quote(report) + " " +
                  Quote(folder.string()) + " " + Quote(TrawlexVersion()) + " " +
                  Quote(dir / "disk.img") + " > " + Quote(listing)),
            0);
  std::ifstream in(listing);
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string name, reason;
    std::uint64_t offset = 0;
    int incomplete = -1;
    in >> name >> offset >> reason >> incomplete;
    EXPECT_EQ(name, files[i].name);
    EXPECT_EQ(offset, files[i].img_offset);
    EXPECT_EQ(reason, EndReasonName(files[i].end));
    EXPECT_EQ(incomplete, files[i].incomplete ? 1 : 0);
  }
  std::string extra;
  EXPECT_FALSE(in >> extra) << "a fileobject too many: " << extra;
}

/// Names in `folder` other than `keep`: a failed write must leave no temporary file.
std::vector<std::string> Leftovers(const std::filesystem::path& folder, const std::string& keep) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename() != keep) names.push_back(entry.path().filename().string());
  return names;
}

TEST(DfxmlReport, AFailedWriteLeavesTheEarlierReportAndNoPartOfTheNewOne) {
  TempDir dir;
  const std::string report = dir / "report.xml";
  std::vector<ReportFile> files(1, ReportFile{"FILE_0.JPG",
                                              0,
                                              4,
                                              std::string(64, '0'),
                                              EndReason::kFormat,
                                              false,
                                              {},
                                              "carved",
                                              {},
                                              nullptr,
                                              {}});
  std::string err;
  ASSERT_TRUE(WriteDfxmlReport(report, SampleSource(), files, &err)) << err;
  const auto before = std::filesystem::file_size(report);

  // A report far larger than the files this process may write.
  files.resize(20000, files[0]);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 64 * 1024;
  ::setrlimit(RLIMIT_FSIZE, &small);
  const bool written = WriteDfxmlReport(report, SampleSource(), files, &err);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(written);
  EXPECT_NE(err.find("File too large"), std::string::npos) << err;
  EXPECT_EQ(std::filesystem::file_size(report), before);
  EXPECT_TRUE(Leftovers(dir.path(), "report.xml").empty());

  // A folder that is not there, and a report name taken by a folder.
  EXPECT_FALSE(WriteDfxmlReport(dir / "gone/report.xml", SampleSource(), files, &err));
  EXPECT_NE(err.find("No such file or directory"), std::string::npos) << err;
  std::filesystem::create_directory(dir / "taken");
  EXPECT_FALSE(WriteDfxmlReport(dir / "taken", SampleSource(), {}, &err));
  EXPECT_NE(err.find("cannot rename"), std::string::npos) << err;
  EXPECT_EQ(Leftovers(dir.path(), "report.xml"), std::vector<std::string>{"taken"});
}

TEST(DfxmlReport, CommandLineQuotesWhatAShellWouldSplit) {
  const char* argv[] = {"trawlex", "recover", "my disk.img", "-o", "it's", "--max-mb", "0", ""};
  EXPECT_EQ(CommandLineText(8, argv), "trawlex recover 'my disk.img' -o 'it'\\''s' --max-mb 0 ''");
}

}  // namespace
