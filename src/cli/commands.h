#pragma once

#include "cli/source.h"

#include <optional>
#include <string>
#include <vector>

/// Exit codes of every subcommand.
inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitSourceUnreadable = 2;
inline constexpr int kExitSaveFailed = 3;

/// The command line as typed, for the recovery report.
void SetCommandLine(std::string line);

/// What each subcommand was given, as the argument parser filled it in. Numbers stay
/// text until the command checks them, so that every refusal names the value typed.
struct DrivesArgs {
  std::vector<std::string> images;
  bool details = false;
  std::string format = "table";
};

struct ScanArgs {
  SourceArgs source;
  std::string format = "table";
  bool real_ends = false;
  bool free_space = false;
  std::optional<std::string> retry_passes;
  std::string bad_map;
};

struct RecoverArgs {
  ScanArgs scan;
  std::string out_dir;
  std::string types;
  std::string max_mb = "20";
  bool all_undeleted = false;
  bool no_report = false;
};

struct DumpArgs {
  SourceArgs source;
  std::optional<std::string> lba;
  std::optional<std::string> count;
};

int RunTypes();
int RunInfo(const SourceArgs& source);
int RunDrives(const DrivesArgs& args);
int RunScanCommand(const ScanArgs& args);
int RunRecoverCommand(const RecoverArgs& args);
int RunDump(const DumpArgs& args);
