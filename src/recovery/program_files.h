#pragma once

#include <string>
#include <vector>

/// The folders the program's own read-only files (the help file, Data/...) are looked for
/// in, in order: the program's folder itself (a build, or a copy unpacked anywhere), then
/// the installed data folder, found from the program's folder the way the install lays
/// them out (<prefix>/bin and <prefix>/share/trawlex), so an installed tree moved
/// elsewhere still finds its files.
[[nodiscard]] std::vector<std::string> ProgramDataFolders(const std::string& program_folder);

/// The first of ProgramDataFolders that holds `relative` (for example "Data/splash.bmp");
/// the program's folder when none does, so that a caller's own "not found" still names it.
[[nodiscard]] std::string FolderHolding(const std::string& program_folder,
                                        const std::string& relative);
