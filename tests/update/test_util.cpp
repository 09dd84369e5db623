#include "update/test_util.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace trawlex::update::testing {

TempDir::TempDir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/trawlex-update-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

ScopedCurrentDir::ScopedCurrentDir(const std::string& dir)
    : previous_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(dir);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& content) {
  WriteFile(path, std::string(content.begin(), content.end()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Sha256Sum(const std::string& path) {
  const std::string command = "sha256sum '" + path + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run sha256sum");
  char hex[65] = {};
  const size_t got = std::fread(hex, 1, 64, pipe);
  ::pclose(pipe);
  if (got != 64) throw std::runtime_error("sha256sum gave no digest for " + path);
  return hex;
}

std::string SampleContent(size_t size, unsigned seed) {
  std::string out;
  uint32_t state = seed * 2654435761u + 1;
  static const char* kWords[] = {"sector ",      "recover ", "update ", "trawlex ",
                                 "\x01\x02\x03", "\xff\xfe", "file ",   "\n"};
  while (out.size() < size) {
    state = state * 1103515245u + 12345u;
    if ((state >> 16) % 3 == 0) {
      out += static_cast<char>(state >> 24);
    } else {
      out += kWords[(state >> 20) % 8];
    }
  }
  out.resize(size);
  return out;
}

}  // namespace trawlex::update::testing
