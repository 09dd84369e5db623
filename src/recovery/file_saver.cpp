#include "recovery/file_saver.h"

#include "disk/disk_info.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kCopyChunk = 1048576;

/// Closes a descriptor on every way out; a failed close of a written file is a write error.
class OutputFile {
 public:
  explicit OutputFile(int fd) : fd_(fd) {}
  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// 0 on success, else the errno of the failure (ENOSPC for a write that fell short).
  int Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : ENOSPC;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return 0;
  }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

FileSaver::FileSaver(SectorReader& reader, std::string folder, std::uint32_t max_size_mb,
                     const CancelToken& cancel, SaveObserver& observer)
    : reader_(reader),
      rescue_(reader, bad_map_),
      folder_(std::move(folder)),
      limit_bytes_(max_size_mb == 0 ? std::numeric_limits<std::uint64_t>::max()
                                    : std::uint64_t{max_size_mb} * kCopyChunk),
      cancel_(cancel),
      observer_(observer),
      buffer_(kCopyChunk) {}

SaveTotals FileSaver::Save(const std::vector<std::vector<TfileExt>>& work,
                           const std::vector<NamedFile>& named, SectorReader* disk) {
  totals_ = {};
  amount_ = named.size();
  bytes_to_copy_ = 0;
  for (const auto& list : work) {
    amount_ += list.size();
    for (const TfileExt& file : list) bytes_to_copy_ += std::min(file.Size, limit_bytes_);
  }
  for (const NamedFile& file : named) bytes_to_copy_ += std::min(file.size, limit_bytes_);
  observer_.AmountOfFile(amount_);
  observer_.Bytes(0, bytes_to_copy_);
  try {
    for (const auto& list : work) {
      if (cancel_.Cancelled()) break;
      CopyFoundFiles(list);
    }
    if (!named.empty() && !cancel_.Cancelled()) {
      RescueReader disk_rescue(disk ? *disk : reader_, disk_bad_map_);
      observer_.Queue(named.size());
      for (const NamedFile& file : named) {
        if (cancel_.Cancelled()) break;
        CopyNamed(file, disk_rescue);
        ++totals_.files_handled;
        observer_.Processed(totals_.files_handled);
        observer_.Queue(amount_ - std::min(amount_, totals_.files_handled));
      }
      observer_.CurrentFile("");
    }
  } catch (const SaveError& e) {
    totals_.end = e.end();
    throw;
  }
  if (cancel_.Cancelled()) totals_.end = SaveEnd::kStopped;
  return totals_;
}

void FileSaver::CopyFoundFiles(const std::vector<TfileExt>& files) {
  observer_.Queue(files.size());
  observer_.CurrentFile("");
  struct EndSteps {
    SaveObserver& observer;
    ~EndSteps() { observer.CurrentFile(""); }
  } end_steps{observer_};
  for (const TfileExt& file : files) {
    if (cancel_.Cancelled()) break;
    CopyOne(file);
    ++totals_.files_handled;
    observer_.Processed(totals_.files_handled);
    observer_.Queue(amount_ - std::min(amount_, totals_.files_handled));
  }
}

int FileSaver::OpenOutput(int dir, const std::string& name, const std::string& path) {
  // Not O_TRUNC: what the name stands for is checked before anything is cut. O_NOFOLLOW
  // refuses a symbolic link; O_NONBLOCK keeps a FIFO without a reader from waiting.
  const int fd =
      ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int err = errno;
    struct stat st {};
    if (err == ELOOP && ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
      throw SaveError("Cannot create file " + path,
                      "a symbolic link of that name is in the folder; it is left as it is");
    if (err == ENXIO)
      throw SaveError("Cannot create file " + path,
                      "a FIFO of that name is in the folder; it is left as it is");
    throw SaveError("Cannot create file " + path, std::strerror(err));
  }
  OutputFile guard(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw SaveError("Cannot create file " + path, std::strerror(errno));
  if (!S_ISREG(st.st_mode))
    throw SaveError(
        "Cannot create file " + path,
        std::string(KindOf(st.st_mode)) + " of that name is in the folder; it is left as it is");
  if (source_.known && st.st_dev == source_.device && st.st_ino == source_.inode)
    throw SaveError("Cannot create file " + path,
                    "that is the disk image being recovered; it is left as it is");
  if (::ftruncate(fd, 0) != 0) throw SaveError("Cannot create file " + path, std::strerror(errno));
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return guard.Release();
}

void FileSaver::CopyOne(const TfileExt& file) {
  const std::string name = place_.FileName(file);
  observer_.CurrentFile(name);
  std::uint64_t remaining = std::min(file.Size, limit_bytes_);
  if (remaining == 0) return;  // an open-ended record makes no file
  if (std::string gone = reader_.CheckPresent(); !gone.empty())
    throw SaveError("The disk can no longer be read", gone, SaveEnd::kSourceLost);
  const std::string path = (std::filesystem::path(folder_) / name).string();
  CopyRuns({{file.LBA * kSectorSize, remaining}}, rescue_, OpenOutput(AT_FDCWD, path, path), name);
}

bool FileSaver::CopyRuns(const std::vector<ByteRun>& runs, RescueReader& rescue, int fd,
                         const std::string& name) {
  OutputFile out(fd);
  // From here on a way out that is not the end of the file leaves it incomplete.
  totals_.incomplete = name;
  std::uint64_t left = 0;
  for (const ByteRun& run : runs) left += run.length;
  for (const ByteRun& run : runs) {
    std::uint64_t offset = run.offset;
    std::uint64_t remaining = run.length;
    while (remaining > 0) {
      const auto c = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kCopyChunk));
      std::string lost;
      if (!rescue.ReadFilling(offset, buffer_.data(), c, totals_.unreadable_sectors, lost))
        throw SaveError("The disk can no longer be read", lost, SaveEnd::kSourceLost);
      if (const int err = out.Write(buffer_.data(), c); err != 0)
        throw SaveError("Stream write error", std::strerror(err));
      totals_.bytes_written += c;
      observer_.Bytes(totals_.bytes_written, bytes_to_copy_);
      remaining -= c;
      offset += c;
      left -= c;
      if (cancel_.Cancelled() && left > 0) break;
    }
    if (cancel_.Cancelled() && left > 0) break;
  }
  if (const int err = out.Close(); err != 0)
    throw SaveError("Stream write error", std::strerror(err));
  if (left > 0) return false;  // cut by Stop: stays named as incomplete
  totals_.incomplete.clear();
  ++totals_.files_written;
  totals_.written.push_back(name);
  return true;
}

int FileSaver::OpenFolder(const std::string& relative) {
  int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) throw SaveError("Cannot create folder " + folder_, std::strerror(errno));
  std::size_t begin = 0;
  while (begin < relative.size()) {
    std::size_t end = relative.find('/', begin);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(begin, end - begin);
    const std::string shown = folder_ + "/" + relative.substr(0, end);
    begin = end + 1;
    if (::mkdirat(dir, part.c_str(), 0755) != 0 && errno != EEXIST) {
      const int err = errno;
      ::close(dir);
      throw SaveError("Cannot create folder " + shown, std::strerror(err));
    }
    const int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    ::close(dir);
    if (next < 0)
      throw SaveError(
          "Cannot create folder " + shown,
          err == ELOOP || err == ENOTDIR
              ? "something other than a folder of that name is there; it is left as it is"
              : std::strerror(err));
    dir = next;
  }
  return dir;
}

void FileSaver::CopyNamed(const NamedFile& file, RescueReader& disk) {
  observer_.CurrentFile(file.path);
  const std::uint64_t size = std::min(file.size, limit_bytes_);
  if (size == 0) return;
  if (std::string gone = reader_.CheckPresent(); !gone.empty())
    throw SaveError("The disk can no longer be read", gone, SaveEnd::kSourceLost);
  const std::size_t slash = file.path.rfind('/');
  const std::string name = slash == std::string::npos ? file.path : file.path.substr(slash + 1);
  const int dir = OpenFolder(slash == std::string::npos ? "" : file.path.substr(0, slash));
  int fd = -1;
  try {
    fd = OpenOutput(dir, name, folder_ + "/" + file.path);
  } catch (...) {
    ::close(dir);
    throw;
  }
  ::close(dir);
  OutputFile out(fd);
  if (file.runs.empty()) {
    totals_.incomplete = file.path;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, file.content.size()));
    if (const int err = out.Write(file.content.data(), n); err != 0)
      throw SaveError("Stream write error", std::strerror(err));
    if (const int err = out.Close(); err != 0)
      throw SaveError("Stream write error", std::strerror(err));
    totals_.bytes_written += n;
    observer_.Bytes(totals_.bytes_written, bytes_to_copy_);
    totals_.incomplete.clear();
    ++totals_.files_written;
    totals_.written.push_back(file.path);
    return;
  }
  std::vector<ByteRun> runs;
  std::uint64_t left = size;
  for (const ByteRun& run : file.runs) {
    if (left == 0) break;
    runs.push_back({run.offset, std::min(left, run.length)});
    left -= runs.back().length;
  }
  CopyRuns(runs, disk, out.Release(), file.path);
}
