#include "update/lz_expand.h"

#include <fcntl.h>
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace trawlex::update {
namespace {

constexpr std::array<uint8_t, 8> kSzddMagic = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr std::array<uint8_t, 8> kQbasicMagic = {'S', 'Z', ' ', 0x88, 0xF0, 0x27, 0x33, 0xD1};
constexpr size_t kHeaderBytes = 14;  // the longer of the two headers

/// One end of an expansion as libmspack sees it: the compressed input (in memory or an open
/// file) or the expanded output, which is buffered, held to the header's length and handed to
/// the sink. libmspack passes these through its "file name" untouched.
struct Stream {
  // Input.
  std::span<const uint8_t> bytes;
  int fd = -1;
  uint64_t size = 0;
  uint64_t pos = 0;
  // Output.
  const ExpandSink* sink = nullptr;
  uint64_t limit = 0;
  uint64_t written = 0;
  bool overflow = false;
  bool sink_failed = false;
  std::vector<uint8_t> buffer;

  bool Flush() {
    if (!buffer.empty() && !sink_failed) sink_failed = !(*sink)(buffer.data(), buffer.size());
    buffer.clear();
    return !sink_failed;
  }
};

mspack_file* OpenStream(mspack_system*, const char* name, int) {
  return reinterpret_cast<mspack_file*>(const_cast<char*>(name));
}

void CloseStream(mspack_file*) {}

int ReadStream(mspack_file* file, void* out, int bytes) {
  auto* s = reinterpret_cast<Stream*>(file);
  if (bytes < 0) return -1;
  const size_t want = static_cast<size_t>(
      std::min<uint64_t>(static_cast<uint64_t>(bytes), s->size > s->pos ? s->size - s->pos : 0));
  if (want == 0) return 0;
  if (s->fd < 0) {
    std::memcpy(out, s->bytes.data() + s->pos, want);
    s->pos += want;
    return static_cast<int>(want);
  }
  while (true) {
    const ssize_t got = ::pread(s->fd, out, want, static_cast<off_t>(s->pos));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    s->pos += static_cast<uint64_t>(got);
    return static_cast<int>(got);
  }
}

int WriteStream(mspack_file* file, void* data, int bytes) {
  auto* s = reinterpret_cast<Stream*>(file);
  if (bytes < 0) return -1;
  if (static_cast<uint64_t>(bytes) > s->limit - s->written) {
    s->overflow = true;
    return -1;
  }
  const auto* p = static_cast<const uint8_t*>(data);
  s->buffer.insert(s->buffer.end(), p, p + bytes);
  s->written += static_cast<uint64_t>(bytes);
  if (s->buffer.size() >= 65536 && !s->Flush()) return -1;
  return bytes;
}

int SeekStream(mspack_file* file, off_t offset, int mode) {
  auto* s = reinterpret_cast<Stream*>(file);
  int64_t base = 0;
  if (mode == MSPACK_SYS_SEEK_CUR) base = static_cast<int64_t>(s->pos);
  if (mode == MSPACK_SYS_SEEK_END) base = static_cast<int64_t>(s->size);
  const int64_t to = base + offset;
  if (to < 0 || static_cast<uint64_t>(to) > s->size) return -1;
  s->pos = static_cast<uint64_t>(to);
  return 0;
}

off_t TellStream(mspack_file* file) {
  return static_cast<off_t>(reinterpret_cast<Stream*>(file)->pos);
}

void Message(mspack_file*, const char*, ...) {}
void* Alloc(mspack_system*, size_t bytes) {
  return std::malloc(bytes);
}
void Free(void* p) {
  std::free(p);
}
void Copy(void* from, void* to, size_t bytes) {
  std::memmove(to, from, bytes);
}

mspack_system kStreams = {OpenStream, CloseStream, ReadStream, WriteStream, SeekStream, TellStream,
                          Message,    Alloc,       Free,       Copy,        nullptr};

/// Expands `input` (positioned anywhere) into `sink` through libmspack.
bool Expand(Stream& input, const ExpandSink& sink, SzddHeader* header_out, std::string* err) {
  auto fail = [err](const std::string& why) {
    if (err) *err = why;
    return false;
  };
  std::array<uint8_t, kHeaderBytes> head{};
  input.pos = 0;
  const int got = ReadStream(reinterpret_cast<mspack_file*>(&input), head.data(), head.size());
  if (got < 0) return fail("the compressed data cannot be read");
  const auto header = ParseSzddHeader({head.data(), static_cast<size_t>(got)});
  if (!header) return fail("it is not SZDD compressed data");
  if (header_out) *header_out = *header;

  msszdd_decompressor* d = mspack_create_szdd_decompressor(&kStreams);
  if (!d) return fail("the expansion library could not start");
  input.pos = 0;
  Stream output;
  output.sink = &sink;
  output.limit = header->length;
  msszddd_header* opened = d->open(d, reinterpret_cast<const char*>(&input));
  int rc = opened ? MSPACK_ERR_OK : d->last_error(d);
  if (opened) {
    rc = d->extract(d, opened, reinterpret_cast<const char*>(&output));
    d->close(d, opened);
  }
  mspack_destroy_szdd_decompressor(d);
  const bool flushed = output.Flush();

  const std::string expected = std::to_string(header->length);
  if (output.overflow) {
    return fail("it expands to more than the " + expected + " bytes its header records");
  }
  if (!flushed || output.sink_failed) return fail("the expanded data cannot be stored");
  if (rc != MSPACK_ERR_OK) {
    return fail("the compressed data is malformed (expansion error " + std::to_string(rc) + ")");
  }
  if (output.written != header->length) {
    return fail("it expands to only " + std::to_string(output.written) + " of the " + expected +
                " bytes its header records");
  }
  return true;
}

/// Keeps the permission bits of an existing regular file, else the usual 0644.
mode_t ModeOfExisting(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 0777;
  return 0644;
}

}  // namespace

std::optional<SzddHeader> ParseSzddHeader(std::span<const uint8_t> data) {
  auto u32 = [&](size_t at) {
    return uint64_t{data[at]} | uint64_t{data[at + 1]} << 8 | uint64_t{data[at + 2]} << 16 |
           uint64_t{data[at + 3]} << 24;
  };
  if (data.size() >= 14 && std::equal(kSzddMagic.begin(), kSzddMagic.end(), data.begin())) {
    if (data[8] != 'A') return std::nullopt;  // the only compression mode there is
    return SzddHeader{static_cast<char>(data[9]), u32(10)};
  }
  if (data.size() >= 12 && std::equal(kQbasicMagic.begin(), kQbasicMagic.end(), data.begin())) {
    return SzddHeader{0, u32(8)};
  }
  return std::nullopt;
}

bool ExpandSzdd(std::span<const uint8_t> data, const ExpandSink& sink, SzddHeader* header,
                std::string* err) {
  Stream input;
  input.bytes = data;
  input.size = data.size();
  return Expand(input, sink, header, err);
}

bool ExpandSzddFile(int fd, const ExpandSink& sink, SzddHeader* header, std::string* err) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (err) *err = "the compressed data is not a regular file";
    return false;
  }
  Stream input;
  input.fd = fd;
  input.size = static_cast<uint64_t>(st.st_size);
  return Expand(input, sink, header, err);
}

std::optional<std::string> ExpandedName(const std::string& path, char missing_char) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name.back() != '_') return path;
  name.pop_back();
  const auto c = static_cast<unsigned char>(missing_char);
  if (c != 0) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return std::nullopt;
    const bool lower =
        std::any_of(name.begin(), name.end(), [](unsigned char n) { return std::islower(n) != 0; });
    name += static_cast<char>(lower ? std::tolower(c) : std::toupper(c));
  } else if (!name.empty() && name.back() == '.') {
    name.pop_back();
  }
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  return dir + name;
}

bool IsSzddFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  std::array<uint8_t, kHeaderBytes> head{};
  struct stat st {};
  const ssize_t got =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::pread(fd, head.data(), head.size(), 0) : -1;
  ::close(fd);
  return got > 0 && ParseSzddHeader({head.data(), static_cast<size_t>(got)}).has_value();
}

std::optional<std::string> ExpandedNameOf(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::array<uint8_t, kHeaderBytes> head{};
  struct stat st {};
  const ssize_t got =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::pread(fd, head.data(), head.size(), 0) : -1;
  ::close(fd);
  if (got <= 0) return std::nullopt;
  const auto header = ParseSzddHeader({head.data(), static_cast<size_t>(got)});
  if (!header) return std::nullopt;
  return ExpandedName(path, header->missing_char);
}

bool LzExpandFile(const std::string& path, std::string* expanded_path, std::string* err,
                  bool keep_compressed) {
  auto fail = [&](const std::string& why) {
    if (err) *err = "\"" + path + "\" cannot be expanded: " + why + ".";
    return false;
  };
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return fail(std::strerror(errno));
  struct stat st {};
  std::array<uint8_t, kHeaderBytes> head{};
  const ssize_t got =
      ::fstat(in, &st) == 0 && S_ISREG(st.st_mode) ? ::pread(in, head.data(), head.size(), 0) : -1;
  if (got < 0) {
    ::close(in);
    return fail("it is not a readable file");
  }
  const auto header = ParseSzddHeader({head.data(), static_cast<size_t>(got)});
  if (!header) {
    ::close(in);
    if (expanded_path) *expanded_path = path;
    return true;
  }
  const auto target = ExpandedName(path, header->missing_char);
  if (!target) {
    ::close(in);
    return fail("its header records an unusable name");
  }
  // Expand beside the target and rename, so that a broken file never replaces a good one.
  std::string temp = *target + ".WUPDXXXXXX";
  const int out = ::mkstemp(temp.data());
  if (out < 0) {
    const std::string why = std::strerror(errno);
    ::close(in);
    return fail("no file can be made beside \"" + *target + "\" (" + why + ")");
  }
  const ExpandSink sink = [out](const uint8_t* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(out, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  };
  std::string why;
  bool ok = ExpandSzddFile(in, sink, nullptr, &why);
  ::close(in);
  ::fchmod(out, ModeOfExisting(*target));
  if (::close(out) != 0 && ok) {
    ok = false;
    why = "the expanded data cannot be stored";
  }
  if (ok && std::rename(temp.c_str(), target->c_str()) != 0) {
    ok = false;
    why = "it cannot be renamed onto \"" + *target + "\" (" + std::strerror(errno) + ")";
  }
  if (!ok) {
    std::remove(temp.c_str());
    return fail(why);
  }
  if (*target != path && !keep_compressed) std::remove(path.c_str());
  if (expanded_path) *expanded_path = *target;
  return true;
}

}  // namespace trawlex::update
