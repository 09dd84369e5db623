#include "update/cab_extract.h"

#include <fcntl.h>
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>

namespace trawlex::update {
namespace {

struct DecompressorDeleter {
  void operator()(mscab_decompressor* d) const { mspack_destroy_cab_decompressor(d); }
};

/// Makes `dir` (relative to `root`) and every folder on the way; refuses a part that exists
/// as anything but a real folder, so that a symbolic link cannot lead the files elsewhere.
bool MakeFolders(const std::string& root, const std::string& dir, std::string* why) {
  std::string path = root;
  size_t start = 0;
  while (start < dir.size()) {
    const size_t slash = dir.find('/', start);
    const size_t end = slash == std::string::npos ? dir.size() : slash;
    path += "/" + dir.substr(start, end - start);
    start = end + 1;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      *why = "\"" + path + "\" is not a folder" + (S_ISLNK(st.st_mode) ? " but a link" : "");
      return false;
    }
    if (::mkdir(path.c_str(), 0755) != 0) {
      *why = "the folder \"" + path + "\" cannot be made (" + std::strerror(errno) + ")";
      return false;
    }
  }
  return true;
}

std::string MsPackError(int code) {
  switch (code) {
    case MSPACK_ERR_OPEN:
      return "it cannot be opened";
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
      return "it cannot be read";
    case MSPACK_ERR_WRITE:
      return "a file cannot be written";
    case MSPACK_ERR_SIGNATURE:
      return "it is not a cabinet";
    case MSPACK_ERR_DATAFORMAT:
    case MSPACK_ERR_CHECKSUM:
    case MSPACK_ERR_DECRUNCH:
      return "its data is damaged";
    case MSPACK_ERR_NOMEMORY:
      return "there is not enough memory";
    default:
      return "libmspack error " + std::to_string(code);
  }
}

}  // namespace

std::string CabinetEntryPath(const std::string& stored_name) {
  std::string out;
  std::string part;
  const auto flush = [&]() -> bool {
    if (part == "..") return false;
    if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
    part.clear();
    return true;
  };
  if (stored_name.empty() || stored_name[0] == '\\' || stored_name[0] == '/') return {};
  if (stored_name.size() >= 2 && stored_name[1] == ':') return {};
  for (const char c : stored_name) {
    if (static_cast<unsigned char>(c) < 0x20) return {};
    if (c == '\\' || c == '/') {
      if (!flush()) return {};
    } else {
      part += c;
    }
  }
  if (part.empty() || !flush()) return {};
  return out;
}

bool ExtractCabinet(const std::string& cab, const std::string& target_dir, std::string* err,
                    std::vector<std::string>* extracted) {
  const auto fail = [&](const std::string& why) {
    if (err) *err = why;
    return false;
  };
  const std::string root = target_dir.empty() ? "." : target_dir;
  const std::unique_ptr<mscab_decompressor, DecompressorDeleter> d(
      mspack_create_cab_decompressor(nullptr));
  if (!d) return fail("the cabinet library cannot start");
  mscabd_cabinet* cabinet = d->open(d.get(), cab.c_str());
  if (!cabinet) return fail("\"" + cab + "\": " + MsPackError(d->last_error(d.get())));
  const std::unique_ptr<mscabd_cabinet, std::function<void(mscabd_cabinet*)>> closer(
      cabinet, [&d](mscabd_cabinet* c) { d->close(d.get(), c); });
  if (cabinet->prevcab || cabinet->nextcab) {
    return fail("\"" + cab + "\" is part of a set of cabinets, which is not supported");
  }
  // Every name, and every folder on its way that exists already, is judged before the first
  // file is written.
  for (mscabd_file* f = cabinet->files; f; f = f->next) {
    const std::string rel = CabinetEntryPath(f->filename ? f->filename : "");
    if (rel.empty()) {
      return fail("\"" + cab + "\" holds the entry \"" + (f->filename ? f->filename : "") +
                  "\", which would land outside \"" + root + "\"; nothing was extracted");
    }
    for (size_t slash = rel.find('/'); slash != std::string::npos;
         slash = rel.find('/', slash + 1)) {
      const std::string dir = root + "/" + rel.substr(0, slash);
      struct stat st {};
      if (::lstat(dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        return fail("\"" + cab + "\" holds the entry \"" + f->filename + "\", whose folder \"" +
                    dir + "\" is " + (S_ISLNK(st.st_mode) ? "a link" : "not a folder") +
                    "; nothing was extracted");
      }
    }
  }
  for (mscabd_file* f = cabinet->files; f; f = f->next) {
    const std::string rel = CabinetEntryPath(f->filename);
    const size_t slash = rel.find_last_of('/');
    std::string why;
    if (slash != std::string::npos && !MakeFolders(root, rel.substr(0, slash), &why)) {
      return fail("\"" + cab + "\": " + why);
    }
    const std::string path = root + "/" + rel;
    std::string temp =
        (slash == std::string::npos ? root : root + "/" + rel.substr(0, slash)) + "/.WUPDXXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
      return fail("\"" + cab + "\": no file can be made beside \"" + path + "\" (" +
                  std::strerror(errno) + ")");
    }
    ::close(fd);
    const int rc = d->extract(d.get(), f, temp.c_str());
    if (rc != MSPACK_ERR_OK) {
      std::remove(temp.c_str());
      return fail("\"" + cab + "\": \"" + rel + "\": " + MsPackError(rc));
    }
    std::tm tm{};
    tm.tm_year = f->date_y - 1900;
    tm.tm_mon = f->date_m - 1;
    tm.tm_mday = f->date_d;
    tm.tm_hour = f->time_h;
    tm.tm_min = f->time_m;
    tm.tm_sec = f->time_s;
    tm.tm_isdst = -1;
    const std::time_t when = std::mktime(&tm);
    if (when != static_cast<std::time_t>(-1)) {
      const struct timespec times[2] = {{when, 0}, {when, 0}};
      ::utimensat(AT_FDCWD, temp.c_str(), times, 0);
    }
    ::chmod(temp.c_str(), 0644);
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
      const std::string reason = std::strerror(errno);
      std::remove(temp.c_str());
      return fail("\"" + cab + "\": \"" + path + "\" cannot be put in place (" + reason + ")");
    }
    if (extracted) extracted->push_back(path);
  }
  return true;
}

}  // namespace trawlex::update
