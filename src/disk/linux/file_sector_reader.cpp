// Sector reading on Linux: pread on a block device or an image file, opened read-only.

#include "disk/sector_reader.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileSectorReader final : public SectorReader {
 public:
  FileSectorReader(int fd, std::uint64_t size, std::uint32_t logical_sector)
      : fd_(fd), size_(size), logical_sector_(logical_sector) {}
  ~FileSectorReader() override { ::close(fd_); }
  FileSectorReader(const FileSectorReader&) = delete;
  FileSectorReader& operator=(const FileSectorReader&) = delete;

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    ReadResult result;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (result.bytes < size) {
      const ssize_t n = ::pread(fd_, out + result.bytes, size - result.bytes,
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

  [[nodiscard]] std::uint64_t SizeBytes() const override { return size_; }
  [[nodiscard]] std::uint32_t LogicalSectorSize() const override { return logical_sector_; }

 private:
  int fd_;
  std::uint64_t size_;
  std::uint32_t logical_sector_;
};

}  // namespace

std::unique_ptr<SectorReader> OpenSectorReader(const std::string& path, std::string* err,
                                               int* error_number) {
  int ignored = 0;
  int& failure = error_number ? *error_number : ignored;
  failure = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    failure = errno;
    if (err) *err = std::strerror(failure);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    failure = errno;
    if (err) *err = std::strerror(failure);
    ::close(fd);
    return nullptr;
  }
  std::uint64_t size = 0;
  std::uint32_t logical_sector = 512;
  if (S_ISBLK(st.st_mode)) {
    int ssz = 0;
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) {
      failure = errno;
      if (err) *err = std::strerror(failure);
      ::close(fd);
      return nullptr;
    }
    if (::ioctl(fd, BLKSSZGET, &ssz) == 0 && ssz > 0)
      logical_sector = static_cast<std::uint32_t>(ssz);
  } else if (S_ISREG(st.st_mode)) {
    size = static_cast<std::uint64_t>(st.st_size);
  } else {
    if (err) *err = "Not a disk or disk image";
    ::close(fd);
    return nullptr;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return std::make_unique<FileSectorReader>(fd, size, logical_sector);
}

bool IsSourceLost(int error) {
  return error == ENODEV || error == ENXIO || error == ENOMEDIUM;
}
