// Sector reading on Linux: pread on a block device or an image file, opened read-only.
// Retries go around the page cache with O_DIRECT, since a buffered read fails a whole
// cached block (the readahead window) around one bad sector of a block device.

#include "disk/image/image_readers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

ReadResult ReadFully(int fd, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  ReadResult result;
  while (result.bytes < size) {
    const ssize_t n = ::pread(fd, out + result.bytes, size - result.bytes,
                              static_cast<off_t>(offset + result.bytes));
    if (n < 0) {
      if (errno == EINTR) continue;
      result.error = errno;
      break;
    }
    if (n == 0) break;
    result.bytes += static_cast<std::size_t>(n);
  }
  return result;
}

/// The words for a file type that cannot be read as a disk.
const char* TypeText(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

/// For a loop device (sysfs folder `sys`): why the file behind it no longer answers.
std::string LoopBackingGone(const std::string& sys) {
  std::FILE* f = std::fopen((sys + "/loop/backing_file").c_str(), "r");
  if (f == nullptr) return {};
  char line[4096] = {};
  const bool got = std::fgets(line, sizeof line, f) != nullptr;
  std::fclose(f);
  std::string backing(line, got ? std::strcspn(line, "\n") : 0);
  if (backing.empty()) return {};
  // A deleted or renamed file still reads through the loop device; a file system that
  // no longer answers does not.
  struct stat st {};
  if (::stat(backing.c_str(), &st) != 0 && (errno == ENOTCONN || errno == EIO || errno == ENODEV))
    return "The image file behind the loop device is gone (" + std::string(std::strerror(errno)) +
           ")";
  return {};
}

class FileSectorReader final : public SectorReader {
 public:
  FileSectorReader(int fd, std::string path, const struct stat& st, std::uint64_t size,
                   std::uint32_t logical_sector)
      : fd_(fd), path_(std::move(path)), st_(st), size_(size), logical_sector_(logical_sector) {
    // A second descriptor on the same open source for reads past the page cache.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    direct_fd_ = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT | O_NONBLOCK);
    if (direct_fd_ >= 0) ::fcntl(direct_fd_, F_SETFL, O_DIRECT);
  }
  ~FileSectorReader() override {
    if (direct_fd_ >= 0) ::close(direct_fd_);
    ::close(fd_);
  }
  FileSectorReader(const FileSectorReader&) = delete;
  FileSectorReader& operator=(const FileSectorReader&) = delete;

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    return ReadFully(fd_, offset, static_cast<std::uint8_t*>(buffer), size);
  }

  ReadResult ReadUncached(std::uint64_t offset, void* buffer, std::size_t size) override {
    if (direct_fd_ < 0 || !direct_works_.load(std::memory_order_relaxed) || size == 0)
      return ReadAt(offset, buffer, size);
    const std::uint64_t unit = std::max<std::uint32_t>(logical_sector_, 512);
    const std::uint64_t first = offset / unit * unit;
    const std::uint64_t end = (offset + size + unit - 1) / unit * unit;
    const auto span = static_cast<std::size_t>(end - first);
    auto* bounce =
        static_cast<std::uint8_t*>(std::aligned_alloc(4096, (span + 4095) / 4096 * 4096));
    if (bounce == nullptr) return ReadAt(offset, buffer, size);
    ReadResult raw = ReadFully(direct_fd_, first, bounce, span);
    if (raw.error == EINVAL && raw.bytes == 0) {
      // The file system holding the image does not take direct reads.
      direct_works_.store(false, std::memory_order_relaxed);
      std::free(bounce);
      return ReadAt(offset, buffer, size);
    }
    ReadResult result;
    const auto lead = static_cast<std::size_t>(offset - first);
    if (raw.bytes > lead) {
      result.bytes = std::min(raw.bytes - lead, size);
      std::memcpy(buffer, bounce + lead, result.bytes);
    }
    if (result.bytes < size) result.error = raw.error;
    std::free(bounce);
    return result;
  }

  [[nodiscard]] std::string CheckPresent() const override {
    struct stat now {};
    if (::fstat(fd_, &now) != 0)
      return std::string("The source cannot be asked about any more (") + std::strerror(errno) +
             ")";
    if (S_ISBLK(st_.st_mode)) {
      char sys[64];
      std::snprintf(sys, sizeof sys, "/sys/dev/block/%u:%u", major(st_.st_rdev),
                    minor(st_.st_rdev));
      struct stat ignored {};
      if (::stat("/sys/dev/block", &ignored) == 0 && ::stat(sys, &ignored) != 0)
        return "The disk is no longer attached";
      if (std::string why = LoopBackingGone(sys); !why.empty()) return why;
      std::uint64_t size = 0;
      if (::ioctl(fd_, BLKGETSIZE64, &size) == 0 && size < size_)
        return size == 0 ? "The disk reports no media" : "The disk now reports a smaller size";
    } else if (static_cast<std::uint64_t>(now.st_size) < size_) {
      return "The image file is now " + std::to_string(now.st_size) + " bytes long";
    }
    struct stat named {};
    if (::stat(path_.c_str(), &named) != 0)
      return path_ + " is gone (" + std::strerror(errno) + ")";
    const bool same = S_ISBLK(st_.st_mode)
                          ? S_ISBLK(named.st_mode) && named.st_rdev == st_.st_rdev
                          : named.st_dev == st_.st_dev && named.st_ino == st_.st_ino;
    if (!same) return path_ + " now names another " + (S_ISBLK(st_.st_mode) ? "disk" : "file");
    return {};
  }

  void Forget(std::uint64_t offset, std::uint64_t size) override {
    ::posix_fadvise(fd_, static_cast<off_t>(offset), static_cast<off_t>(size), POSIX_FADV_DONTNEED);
  }

  [[nodiscard]] bool IsCached(std::uint64_t offset, std::uint64_t size) const override {
    static const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t first = offset / page * page;
    const std::uint64_t end = std::min(size_, offset + size);
    if (end <= first) return false;
    const std::size_t length = static_cast<std::size_t>(end - first);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(first));
    if (map == MAP_FAILED) return false;
    std::vector<unsigned char> resident((length + page - 1) / page);
    const bool known = ::mincore(map, length, resident.data()) == 0;
    ::munmap(map, length);
    return known && std::all_of(resident.begin(), resident.end(),
                                [](unsigned char r) { return (r & 1) != 0; });
  }

  [[nodiscard]] std::uint64_t SizeBytes() const override { return size_; }
  [[nodiscard]] std::uint32_t LogicalSectorSize() const override { return logical_sector_; }

 private:
  int fd_;
  int direct_fd_ = -1;
  std::atomic<bool> direct_works_{true};
  std::string path_;
  struct stat st_;
  std::uint64_t size_;
  std::uint32_t logical_sector_;
};

}  // namespace

std::unique_ptr<SectorReader> OpenDeviceReader(const std::string& path, std::string* err,
                                               int* error_number) {
  int ignored = 0;
  int& failure = error_number ? *error_number : ignored;
  failure = 0;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    failure = errno;
    if (err) *err = std::strerror(failure);
    return nullptr;
  }
  auto fail = [&](int error, const std::string& text) -> std::unique_ptr<SectorReader> {
    failure = error;
    if (err) *err = text;
    ::close(fd);
    return nullptr;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(errno, std::strerror(errno));
  if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode))
    return fail(0, std::string("Not a disk or disk image: ") + TypeText(st.st_mode));
  ::fcntl(fd, F_SETFL, 0);
  std::uint64_t size = 0;
  std::uint32_t logical_sector = 512;
  if (S_ISBLK(st.st_mode)) {
    int ssz = 0;
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) return fail(errno, std::strerror(errno));
    if (::ioctl(fd, BLKSSZGET, &ssz) == 0 && ssz >= 512 && ssz <= 65536)
      logical_sector = static_cast<std::uint32_t>(ssz);
  } else {
    size = static_cast<std::uint64_t>(st.st_size);
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return std::make_unique<FileSectorReader>(fd, path, st, size, logical_sector);
}

bool IsSourceLost(int error) {
  return error == ENODEV || error == ENXIO || error == ENOMEDIUM;
}
