#include "recovery/program_files.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::vector<std::string> ProgramDataFolders(const std::string& program_folder) {
  std::vector<std::string> folders{program_folder};
  std::error_code ec;
  const fs::path installed =
      fs::weakly_canonical(fs::path(program_folder) / TRAWLEX_DATA_FROM_BIN, ec);
  if (!ec && installed != fs::path(program_folder)) folders.push_back(installed.string());
  return folders;
}

std::string FolderHolding(const std::string& program_folder, const std::string& relative) {
  for (const std::string& folder : ProgramDataFolders(program_folder)) {
    std::error_code ec;
    if (fs::exists(fs::path(folder) / relative, ec)) return folder;
  }
  return program_folder;
}
