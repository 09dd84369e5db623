#pragma once

#include "recovery/options.h"

#include <QSettings>

/// The options in the user's configuration folder: an INI file with an [Options] section.
class QtOptionsStore final : public OptionsStore {
 public:
  QtOptionsStore();
  std::optional<std::string> Read(const std::string& key) override;
  bool Write(const std::string& key, const std::string& value) override;

 private:
  QSettings settings_;
};
