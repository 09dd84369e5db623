#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trawlex::update::testing {

/// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// Makes `dir` the current directory for the object's lifetime.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir);
  ~ScopedCurrentDir();

 private:
  std::string previous_;
};

void WriteFile(const std::string& path, const std::string& content);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& content);
[[nodiscard]] std::string ReadFile(const std::string& path);
[[nodiscard]] bool Exists(const std::string& path);
/// Names of the files in `dir`, sorted.
[[nodiscard]] std::vector<std::string> ListDir(const std::string& dir);
/// The SHA-256 of a file in hexadecimal, as the coreutils' sha256sum prints it.
[[nodiscard]] std::string Sha256Sum(const std::string& path);
/// Pseudo-random but repeatable bytes with some repetition, so that they compress.
[[nodiscard]] std::string SampleContent(size_t size, unsigned seed);

}  // namespace trawlex::update::testing
