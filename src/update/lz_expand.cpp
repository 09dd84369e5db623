#include "update/lz_expand.h"

#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace trawlex::update {
namespace {

constexpr std::array<uint8_t, 8> kSzddMagic = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr std::array<uint8_t, 8> kQbasicMagic = {'S', 'Z', ' ', 0x88, 0xF0, 0x27, 0x33, 0xD1};

struct SzddDecompressor {
  msszdd_decompressor* d = mspack_create_szdd_decompressor(nullptr);
  ~SzddDecompressor() {
    if (d) mspack_destroy_szdd_decompressor(d);
  }
};

std::string ExpandName(const std::string& path, char missing) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name.back() != '_') return path;
  name.pop_back();
  if (missing != 0) {
    const bool lower =
        std::any_of(name.begin(), name.end(), [](unsigned char c) { return std::islower(c) != 0; });
    name += static_cast<char>(lower ? std::tolower(static_cast<unsigned char>(missing))
                                    : std::toupper(static_cast<unsigned char>(missing)));
  } else if (!name.empty() && name.back() == '.') {
    name.pop_back();
  }
  return dir + name;
}

}  // namespace

bool IsSzddFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<char, 8> head{};
  if (!in.read(head.data(), head.size())) return false;
  return std::memcmp(head.data(), kSzddMagic.data(), kSzddMagic.size()) == 0 ||
         std::memcmp(head.data(), kQbasicMagic.data(), kQbasicMagic.size()) == 0;
}

std::optional<std::string> ExpandedNameOf(const std::string& path) {
  if (!IsSzddFile(path)) return std::nullopt;
  SzddDecompressor szdd;
  if (!szdd.d) return std::nullopt;
  msszddd_header* header = szdd.d->open(szdd.d, const_cast<char*>(path.c_str()));
  if (!header) return std::nullopt;
  const char missing = header->missing_char;
  szdd.d->close(szdd.d, header);
  return ExpandName(path, missing);
}

bool LzExpandFile(const std::string& path, std::string* expanded_path, std::string* err) {
  if (!IsSzddFile(path)) {
    if (!std::filesystem::exists(path)) {
      if (err) *err = "\"" + path + "\" does not exist.";
      return false;
    }
    if (expanded_path) *expanded_path = path;
    return true;
  }
  SzddDecompressor szdd;
  bool ok = false;
  std::string target;
  if (!szdd.d) {
    if (err) *err = "The expansion library could not start.";
  } else if (msszddd_header* header = szdd.d->open(szdd.d, const_cast<char*>(path.c_str()))) {
    target = ExpandName(path, header->missing_char);
    // Expand beside the target and rename, so that a broken file never replaces a good one.
    std::string temp = target + ".WUPDXXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
      if (err)
        *err = "Cannot create a file beside \"" + target + "\": " + std::strerror(errno) + ".";
    } else {
      ::fchmod(fd, 0644);
      ::close(fd);
      const int rc = szdd.d->extract(szdd.d, header, temp.data());
      if (rc != MSPACK_ERR_OK) {
        if (err) *err = "\"" + path + "\" cannot be expanded (error " + std::to_string(rc) + ").";
        std::remove(temp.c_str());
      } else if (std::rename(temp.c_str(), target.c_str()) != 0) {
        if (err) *err = "Cannot rename onto \"" + target + "\": " + std::strerror(errno) + ".";
        std::remove(temp.c_str());
      } else {
        ok = true;
      }
    }
    szdd.d->close(szdd.d, header);
  } else if (err) {
    *err = "\"" + path + "\" is not a valid compressed file.";
  }
  // The compressed file goes in any case, unless it already bears the expanded name.
  if (target != path) std::remove(path.c_str());
  if (ok && expanded_path) *expanded_path = target;
  return ok;
}

}  // namespace trawlex::update
