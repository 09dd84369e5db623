#include "recovery/file_saver.h"

#include "disk/disk_info.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t kCopyChunk = 1048576;

/// Closes a descriptor on every way out; a failed close of a written file is a write error.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path)
      : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}
  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }

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
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

}  // namespace

FileSaver::FileSaver(SectorReader& reader, std::string folder, std::uint32_t max_size_mb,
                     std::atomic<bool>& pause, SaveObserver& observer)
    : reader_(reader),
      folder_(std::move(folder)),
      limit_bytes_(std::uint64_t{max_size_mb} * kCopyChunk),
      pause_(pause),
      observer_(observer),
      buffer_(kCopyChunk) {}

SaveTotals FileSaver::Save(const std::vector<std::vector<TfileExt>>& work) {
  // A Stop that arrives before the save has begun counts: the flag is cleared only at
  // the end, ready for the next save.
  struct ClearStop {
    std::atomic<bool>& stop;
    ~ClearStop() { stop.store(false); }
  } clear_stop{stop_};
  totals_ = {};
  amount_ = 0;
  for (const auto& list : work) amount_ += list.size();
  observer_.AmountOfFile(amount_);
  try {
    for (const auto& list : work) {
      if (pause_.load()) break;
      CopyFoundFiles(list);
    }
  } catch (...) {
    pause_.store(false);
    throw;
  }
  pause_.store(false);
  return totals_;
}

void FileSaver::CopyFoundFiles(const std::vector<TfileExt>& files) {
  observer_.Queue(files.size());
  observer_.CurrentFile("");
  // The end steps run on every way out: the stop request reaches Pause.
  struct EndSteps {
    FileSaver& saver;
    ~EndSteps() {
      saver.pause_.store(saver.stop_.load());
      saver.observer_.CurrentFile("");
    }
  } end_steps{*this};
  for (const TfileExt& file : files) {
    if (stop_.load()) break;
    CopyOne(file);
    ++totals_.files_handled;
    observer_.Processed(totals_.files_handled);
    observer_.Queue(amount_ - std::min(amount_, totals_.files_handled));
  }
}

void FileSaver::CopyOne(const TfileExt& file) {
  const std::string name = file.FileName();
  observer_.CurrentFile(name);
  std::uint64_t remaining = std::min(file.Size, limit_bytes_);
  if (remaining == 0) return;  // an open-ended record makes no file
  const std::string path = (std::filesystem::path(folder_) / name).string();
  OutputFile out(path);
  if (!out.IsOpen()) throw SaveError("Cannot create file " + path, std::strerror(errno));
  std::uint64_t offset = file.LBA * kSectorSize;
  while (remaining > 0) {
    const auto c = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kCopyChunk));
    ReadChunk(offset, buffer_.data(), c);
    if (const int err = out.Write(buffer_.data(), c); err != 0)
      throw SaveError("Stream write error", std::strerror(err));
    totals_.bytes_written += c;
    remaining -= c;
    offset += c;
    if (stop_.load()) break;
  }
  if (const int err = out.Close(); err != 0)
    throw SaveError("Stream write error", std::strerror(err));
  ++totals_.files_written;
  totals_.written.push_back(name);
}

/// Reads a chunk of a file; sectors that cannot be read are written as zeros and
/// counted, so the rest of the file is still saved. A vanished disk ends the save.
void FileSaver::ReadChunk(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
  const ReadResult r = reader_.ReadAt(offset, buffer, size);
  if (r.bytes == size) return;
  if (IsSourceLost(r.error))
    throw SaveError("The disk can no longer be read", std::strerror(r.error));
  std::size_t done = r.bytes / kSectorSize * kSectorSize;
  while (done < size) {
    const std::size_t n = std::min<std::size_t>(kSectorSize, size - done);
    const ReadResult one = reader_.ReadAt(offset + done, buffer + done, n);
    if (one.bytes != n) {
      if (IsSourceLost(one.error))
        throw SaveError("The disk can no longer be read", std::strerror(one.error));
      std::memset(buffer + done, 0, n);
      ++totals_.unreadable_sectors;
    }
    done += n;
  }
}
