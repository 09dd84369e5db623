#pragma once

#include <string>
#include <vector>

/// Exit codes of every subcommand.
inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitSourceUnreadable = 2;
inline constexpr int kExitSaveFailed = 3;

/// The command line as typed, for the recovery report.
void SetCommandLine(std::string line);

int RunTypes(std::vector<std::string>& args);
int RunInfo(std::vector<std::string>& args);
int RunDrives(std::vector<std::string>& args);
int RunScanCommand(std::vector<std::string>& args);
int RunRecoverCommand(std::vector<std::string>& args);
int RunDump(std::vector<std::string>& args);
