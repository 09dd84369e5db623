#pragma once

#include "recovery/options.h"

#include <string>

/// The options as an INI file's [Options] section, read and written as plain text, so
/// that key names stay as they are meant ("Save Path", which some INI writers turn into
/// "Save%20Path"; such a file still reads, and is written back under the right name).
/// Other sections and lines are kept; the file is replaced whole, never half written.
class IniOptionsStore : public OptionsStore {
 public:
  explicit IniOptionsStore(std::string path) : path_(std::move(path)) {}
  std::optional<std::string> Read(const std::string& key) override;
  bool Write(const std::string& key, const std::string& value) override;
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};
