// Expert Witness images (E01 and its segments E02, E03, ...) read through libewf. The
// library checks every chunk against its checksum: a chunk that fails, or that does not
// unpack, reads as unreadable sectors (EIO), so the rescue reader narrows it down and
// the scan counts it, as it would a failing sector on a disk.

#include "disk/image/image_readers.h"

#include <libewf.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kSignature[8] = {'E', 'V', 'F', '\x09', '\x0d', '\x0a', '\xff', '\x00'};

/// The library's words for an error, and the error freed.
std::string TakeErrorText(libewf_error_t*& error) {
  if (error == nullptr) return "unknown error";
  char text[1024] = {};
  libewf_error_sprint(error, text, sizeof text);
  libewf_error_free(&error);
  // The library puts its call chain on separate lines; the last says what went wrong.
  std::string all(text);
  while (!all.empty() && (all.back() == '\n' || all.back() == '\r')) all.pop_back();
  const auto line = all.find_last_of('\n');
  return line == std::string::npos ? all : all.substr(line + 1);
}

struct Segment {
  std::string path;
  struct stat st {};
};

class EwfSectorReader final : public SectorReader {
 public:
  EwfSectorReader(libewf_handle_t* handle, std::vector<Segment> segments, std::uint64_t size,
                  std::uint32_t sector_size)
      : handle_(handle), segments_(std::move(segments)), size_(size), sector_size_(sector_size) {}
  ~EwfSectorReader() override {
    libewf_handle_close(handle_, nullptr);
    libewf_handle_free(&handle_, nullptr);
  }
  EwfSectorReader(const EwfSectorReader&) = delete;
  EwfSectorReader& operator=(const EwfSectorReader&) = delete;

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    ReadResult result;
    if (offset >= size_ || size == 0) return result;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
    std::lock_guard lock(mutex_);
    libewf_error_t* error = nullptr;
    const ssize_t n =
        libewf_handle_read_random(handle_, buffer, size, static_cast<off64_t>(offset), &error);
    if (n < 0) {
      libewf_error_free(&error);
      result.error = EIO;
      return result;
    }
    result.bytes = static_cast<std::size_t>(n);
    LearnChecksumErrors();
    // Bytes of a chunk that failed its checksum are not the image's bytes: the read
    // ends where the first of them begins.
    for (const auto& [first, end] : bad_) {
      if (end <= offset || first >= offset + result.bytes) continue;
      result.bytes = static_cast<std::size_t>(std::max(first, offset) - offset);
      result.error = EIO;
      break;
    }
    return result;
  }

  [[nodiscard]] std::string CheckPresent() const override {
    for (const Segment& segment : segments_) {
      struct stat now {};
      if (::stat(segment.path.c_str(), &now) != 0)
        return segment.path + " is gone (" + std::strerror(errno) + ")";
      if (now.st_dev != segment.st.st_dev || now.st_ino != segment.st.st_ino)
        return segment.path + " now names another file";
      if (now.st_size < segment.st.st_size)
        return segment.path + " is now " + std::to_string(now.st_size) + " bytes long";
    }
    return {};
  }

  [[nodiscard]] std::uint64_t SizeBytes() const override { return size_; }
  [[nodiscard]] std::uint32_t LogicalSectorSize() const override { return sector_size_; }

 private:
  /// Adds the byte ranges of the chunks the library has found damaged since last asked.
  void LearnChecksumErrors() {
    std::uint32_t count = 0;
    if (libewf_handle_get_number_of_checksum_errors(handle_, &count, nullptr) != 1) return;
    for (; known_errors_ < count; ++known_errors_) {
      std::uint64_t first = 0;
      std::uint64_t sectors = 0;
      if (libewf_handle_get_checksum_error(handle_, known_errors_, &first, &sectors, nullptr) != 1)
        continue;
      bad_.emplace_back(first * sector_size_, (first + sectors) * sector_size_);
    }
    std::sort(bad_.begin(), bad_.end());
  }

  std::mutex mutex_;
  libewf_handle_t* handle_;
  std::vector<Segment> segments_;
  std::uint64_t size_;
  std::uint32_t sector_size_;
  std::uint32_t known_errors_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> bad_;  // [first byte, end byte)
};

}  // namespace

bool HasExpertWitnessName(const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
  auto is = [](char c, char lower) { return std::tolower(static_cast<unsigned char>(c)) == lower; };
  // .E01 ... .E99, .EAA ... (segments past 99), .Ex01 (EWF2), .s01 (SMART).
  if (ext.size() == 4)
    return (is(ext[1], 'e') || is(ext[1], 's')) && alnum(ext[2]) && alnum(ext[3]);
  return ext.size() == 5 && is(ext[1], 'e') && is(ext[2], 'x') && alnum(ext[3]) && alnum(ext[4]);
}

bool IsExpertWitnessFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  char head[sizeof kSignature] = {};
  const bool match = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                     ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                     std::memcmp(head, kSignature, sizeof head) == 0;
  ::close(fd);
  return match;
}

std::unique_ptr<SectorReader> OpenExpertWitnessReader(const std::string& path, std::string* err,
                                                      int* error_number) {
  int ignored = 0;
  int& failure = error_number ? *error_number : ignored;
  failure = 0;
  libewf_error_t* error = nullptr;
  auto fail = [&](const std::string& what) -> std::unique_ptr<SectorReader> {
    if (err) *err = "Not a readable Expert Witness image: " + what;
    return nullptr;
  };
  char** names = nullptr;
  int count = 0;
  if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1)
    return fail(TakeErrorText(error));
  std::vector<Segment> segments;
  for (int i = 0; i < count; ++i) {
    Segment segment{names[i], {}};
    if (::stat(segment.path.c_str(), &segment.st) != 0) {
      failure = errno;
      libewf_glob_free(names, count, nullptr);
      if (err) *err = segment.path + ": " + std::strerror(failure);
      return nullptr;
    }
    segments.push_back(std::move(segment));
  }
  libewf_handle_t* handle = nullptr;
  if (libewf_handle_initialize(&handle, &error) != 1) {
    libewf_glob_free(names, count, nullptr);
    return fail(TakeErrorText(error));
  }
  const int opened = libewf_handle_open(handle, names, count, LIBEWF_OPEN_READ, &error);
  libewf_glob_free(names, count, nullptr);
  std::uint64_t size = 0;
  std::uint32_t sector_size = 512;
  if (opened != 1 || libewf_handle_get_media_size(handle, &size, &error) != 1 ||
      libewf_handle_get_bytes_per_sector(handle, &sector_size, &error) != 1) {
    std::string why = TakeErrorText(error);
    libewf_handle_close(handle, nullptr);
    libewf_handle_free(&handle, nullptr);
    return fail(why);
  }
  if (sector_size < 512 || sector_size > 65536) sector_size = 512;
  return std::make_unique<EwfSectorReader>(handle, std::move(segments), size, sector_size);
}
