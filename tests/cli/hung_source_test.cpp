// trawlex on a disk that stops answering: Ctrl-C still ends the command, with what was
// found printed. The disk is a FUSE file whose reads block on demand.

#include "support/failing_disk.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/wait.h>

namespace {

/// Runs trawlex with stdout and stderr into files; returns its pid.
pid_t Start(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, STDOUT_FILENO);
    ::dup2(e, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(TRAWLEX_BINARY)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TRAWLEX_BINARY, argv.data());
    ::_exit(127);
  }
  return pid;
}

std::string Text(const std::string& path) {
  const auto bytes = ReadWholeFile(path);
  return {bytes.begin(), bytes.end()};
}

TEST(HungSource, CtrlCEndsAScanStuckInADeadDiskAndPrintsWhatWasFound) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  {
    std::vector<std::uint8_t> start(512);
    start[0] = 0xFF, start[1] = 0xD8, start[2] = 0xFF, start[3] = 0xE0;
    WriteFile(image, start);
    std::filesystem::resize_file(image, 8ull << 30);  // still being scanned when it hangs
  }
  FailingDisk disk(image, {.loop = false});
  if (!disk.Ready()) GTEST_SKIP() << disk.Why();
  const std::string out = dir / "out", err = dir / "err";
  const pid_t pid = Start({"scan", disk.Path()}, out, err);
  // The disk hangs once the first chunk (1 MiB and the slack after it) has been read
  // whole, so that the scan has had its find to record.
  auto first_chunk_read = [&] {
    std::vector<std::pair<std::uint64_t, std::size_t>> reads = disk.Reads();
    std::sort(reads.begin(), reads.end());
    std::uint64_t covered = 0;
    for (const auto& [offset, size] : reads)
      if (offset <= covered) covered = std::max<std::uint64_t>(covered, offset + size);
    return covered >= (1u << 20) + 4096;
  };
  while (!first_chunk_read()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  disk.Control("hang\n");
  // The reads already under way finish; the scan then waits on the next one for good.
  for (std::size_t seen = SIZE_MAX; seen != disk.Reads().size();) {
    seen = disk.Reads().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ::kill(pid, SIGINT);
  // The command answers although its reads never return: what was found is printed.
  // (The process is only reaped once the stuck reads end, so the disk is let go first.)
  for (int i = 0; i < 600 && Text(err).find("did not answer") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string said = Text(err), printed = Text(out);
  disk.Control("");
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_NE(said.find("stopped; the disk did not answer"), std::string::npos) << said;
  EXPECT_NE(printed.find("JPG (1)"), std::string::npos) << printed;
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

// tsv and json are written as the scan goes; the files near sectors skipped after a read
// error wait for the retries. Whatever waited, the output is the list a scan of the same
// disk with those sectors blank gives, each file once and in disk order.
TEST(StreamedOutput, FilesAroundUnreadableSectorsComeOnceAndInOrder) {
  TempDir dir;
  std::vector<std::uint8_t> bytes(12u << 20);
  for (std::size_t lba = 0; lba < bytes.size() / 512; lba += 97) {
    bytes[lba * 512] = 0xFF, bytes[lba * 512 + 1] = 0xD8, bytes[lba * 512 + 2] = 0xFF;
    bytes[lba * 512 + 3] = 0xE0;
  }
  WriteFile(dir / "disk.img", bytes);
  std::fill(bytes.begin() + 9000 * 512, bytes.begin() + 9300 * 512, 0);
  std::fill(bytes.begin() + 20000 * 512, bytes.begin() + 20001 * 512, 0);
  WriteFile(dir / "blank.img", bytes);
  FailingDisk disk(dir / "disk.img", {.loop = false});
  if (!disk.Ready()) GTEST_SKIP() << disk.Why();
  disk.Control("fail 9000-9299 EIO\nfail 20000 EIO\n");
  for (const char* format : {"tsv", "json"}) {
    auto scan = [&](const std::string& image, const std::string& name) {
      const pid_t pid = Start({"scan", image, "--format", format}, dir / name, dir / "err");
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Text(dir / "err");
      return Text(dir / name);
    };
    const std::string failing = scan(disk.Path(), "failing"),
                      blank = scan(dir / "blank.img", "blank");
    if (std::string(format) == "tsv") {
      EXPECT_EQ(failing, blank);
      EXPECT_GT(std::count(blank.begin(), blank.end(), '\n'), 200);
    } else {
      // Beyond the files, the counts of unreadable and retried sectors differ.
      EXPECT_EQ(failing.substr(0, failing.find("counts")), blank.substr(0, blank.find("counts")));
      EXPECT_NE(failing.find("\"unreadable\":301"), std::string::npos)
          << failing.substr(failing.find("counts"));
    }
  }
}

}  // namespace
