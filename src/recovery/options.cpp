#include "recovery/options.h"

#include <charconv>
#include <filesystem>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kMaxRecoverKey = "MaxRecover";
constexpr const char* kSavePathKey = "Save Path";
constexpr const char* kRealEndsKey = "RealEnds";
constexpr const char* kFreeSpaceKey = "FreeSpace";

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

/// `base`/Recovered, made when missing; empty when it cannot be made or written to.
std::string MakeRecoveredFolder(const std::string& base) {
  if (base.empty()) return {};
  const fs::path folder = fs::path(base) / "Recovered";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec) || ::access(folder.c_str(), W_OK) != 0) return {};
  return folder.string();
}

}  // namespace

std::optional<std::uint32_t> ParseDecimal(const std::string& text) {
  std::uint32_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

RecoveryOptions LoadOptions(OptionsStore& store, const OptionFolders& folders) {
  RecoveryOptions options;
  if (auto text = store.Read(kMaxRecoverKey))
    options.MaxSizeOfRecoverMB = ParseDecimal(*text).value_or(kDefaultMaxRecoverMB);
  options.SavePath = store.Read(kSavePathKey).value_or("");
  options.RealEnds = store.Read(kRealEndsKey).value_or("0") == "1";
  options.FreeSpaceOnly = store.Read(kFreeSpaceKey).value_or("0") == "1";
  if (!IsFolder(options.SavePath)) {
    options.SavePath = MakeRecoveredFolder(folders.program_folder);
    if (options.SavePath.empty()) options.SavePath = MakeRecoveredFolder(folders.data_folder);
    if (options.SavePath.empty()) options.SavePath = folders.program_folder;
  }
  return options;
}

bool SaveOptions(OptionsStore& store, const RecoveryOptions& options) {
  const bool limit_written =
      store.Write(kMaxRecoverKey, std::to_string(options.MaxSizeOfRecoverMB));
  const bool path_written = store.Write(kSavePathKey, options.SavePath);
  const bool ends_written = store.Write(kRealEndsKey, options.RealEnds ? "1" : "0");
  const bool free_written = store.Write(kFreeSpaceKey, options.FreeSpaceOnly ? "1" : "0");
  return limit_written && path_written && ends_written && free_written;
}
