#pragma once

// FailingDisk: a disk image that fails on demand, read through the kernel as a user's
// failing disk is. The image is served by faulty_fs (a FUSE file system of the tests) as
// <mount>/disk.img, with a read-only loop device over that file when asked for:
//
//   FailingDisk disk(image_path, {.loop = true});
//   if (!disk.Ready()) GTEST_SKIP() << disk.Why();
//   disk.Control("fail 100 EIO\n");      // sector 100 now fails (see faulty_fs.c)
//   auto reader = OpenSectorReader(disk.Path(), &err);
//
// Needs root, /dev/fuse and loop devices; Why() says which is missing. Everything it
// mounts or attaches is undone by the destructor, lazily if still busy.

#include "support/temp_dir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class FailingDisk {
 public:
  struct Options {
    bool loop = true;                   ///< put a loop device over the served file
    std::uint32_t logical_block = 512;  ///< the loop device's logical sector size
  };

  FailingDisk(const std::string& image, Options options) {
    if (::geteuid() != 0) {
      why_ = "needs root (FUSE mount and loop devices)";
      return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
      why_ = "needs FUSE: /dev/fuse is missing";
      return;
    }
    const std::string program = FaultyFsProgram();
    if (program.empty()) {
      why_ = "needs the faulty_fs program (libfuse3 was not found at build time)";
      return;
    }
    mount_ = dir_ / "mnt";
    std::filesystem::create_directories(mount_);
    control_ = dir_ / "control";
    log_ = dir_ / "reads.log";
    WriteText(control_, "");
    daemon_ = ::fork();
    if (daemon_ == 0) {
      // The daemon's own messages go to a file beside the mount, not into test output.
      const int out = ::open((dir_ / "faulty_fs.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out >= 0) ::dup2(out, STDERR_FILENO);
      ::execl(program.c_str(), program.c_str(), "--image", image.c_str(), "--control",
              control_.c_str(), "--log", log_.c_str(), "-f", mount_.c_str(), nullptr);
      ::_exit(127);
    }
    struct stat st {};
    for (int i = 0; i < 250 && ::stat(FilePath().c_str(), &st) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (::stat(FilePath().c_str(), &st) != 0) {
      why_ = "needs FUSE: faulty_fs did not mount";
      return;
    }
    mounted_ = true;
    if (options.loop) {
      loop_ = Run("losetup -r -f --show -b " + std::to_string(options.logical_block) + " " +
                  FilePath() + " 2>/dev/null");
      if (loop_.empty()) {
        why_ = "needs loop devices: losetup refused";
        return;
      }
    }
    ClearReads();  // the reads made while attaching are not the test's
  }

  ~FailingDisk() {
    if (mounted_) WriteText(control_, "");  // release hung reads
    if (!loop_.empty()) Run("losetup -d " + loop_ + " 2>&1");
    if (mounted_) Run("fusermount3 -u -z " + mount_ + " 2>&1");
    if (daemon_ > 0) {
      int status = 0;
      for (int i = 0; i < 100 && ::waitpid(daemon_, &status, WNOHANG) == 0; ++i) {
        if (i == 50) ::kill(daemon_, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }
  FailingDisk(const FailingDisk&) = delete;
  FailingDisk& operator=(const FailingDisk&) = delete;

  [[nodiscard]] bool Ready() const { return why_.empty(); }
  /// Why the disk could not be set up, for GTEST_SKIP.
  [[nodiscard]] const std::string& Why() const { return why_; }
  /// What a user would open: the loop device, or the served file without one.
  [[nodiscard]] std::string Path() const { return loop_.empty() ? FilePath() : loop_; }
  [[nodiscard]] std::string FilePath() const { return mount_ + "/disk.img"; }
  [[nodiscard]] const std::string& LoopDevice() const { return loop_; }

  /// Replaces the faults; takes effect from the next read.
  void Control(const std::string& lines) const {
    WriteText(control_ + ".new", lines);
    std::rename((control_ + ".new").c_str(), control_.c_str());
  }

  /// Forgets the reads logged so far.
  void ClearReads() const {
    if (::truncate(log_.c_str(), 0) != 0) std::remove(log_.c_str());
  }

  /// The reads that reached the file system since set-up or ClearReads: offset and size
  /// in bytes.
  [[nodiscard]] std::vector<std::pair<std::uint64_t, std::size_t>> Reads() const {
    std::vector<std::pair<std::uint64_t, std::size_t>> reads;
    FILE* f = std::fopen(log_.c_str(), "r");
    unsigned long long offset = 0;
    std::size_t size = 0;
    int result = 0;
    while (f && std::fscanf(f, "%llu %zu %d", &offset, &size, &result) == 3)
      reads.emplace_back(offset, size);
    if (f) std::fclose(f);
    return reads;
  }

 private:
  static std::string Run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, p)) out += line;
      ::pclose(p);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  /// faulty_fs is built beside the test programs; TRAWLEX_FAULTY_FS names another.
  static std::string FaultyFsProgram() {
    if (const char* env = std::getenv("TRAWLEX_FAULTY_FS")) return env;
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto candidate = self.parent_path() / "faulty_fs";
    return !ec && ::access(candidate.c_str(), X_OK) == 0 ? candidate.string() : std::string();
  }

  TempDir dir_;  // first: removed only after everything below is undone
  std::string mount_, control_, log_, loop_, why_;
  pid_t daemon_ = -1;
  bool mounted_ = false;
};
