#pragma once

#include <string>
#include <utility>
#include <vector>

#include "help/help_context.h"
#include "help/help_diagnostics.h"
#include "support/temp_dir.h"

/// The window layer as tests see it: topics asked for and warnings, recorded.
class RecordingHost : public trawlex::help::HelpWindowHost {
 public:
  RecordingHost() { trawlex::help::SetHelpWindowHost(this); }
  ~RecordingHost() override { trawlex::help::SetHelpWindowHost(nullptr); }

  bool ShowHelpContext(const std::string& target, int32_t context) override {
    shown.emplace_back(target, context);
    return true;
  }
  void CloseAllHelpWindows() override { ++closed; }
  void ShowWarning(const std::string& text) override { warnings.push_back(text); }

  std::vector<std::pair<std::string, int32_t>> shown;
  std::vector<std::string> warnings;
  int closed = 0;
};

/// Diagnostics started for a program "trawlex-finder" in a folder of the test's own.
inline void StartDiagnosticsIn(const TempDir& dir, std::vector<std::string> arguments,
                               const std::string& help_engine_path = {}) {
  trawlex::help::DiagnosticsSources sources;
  sources.exe_path = dir / "trawlex-finder";
  sources.module_path = sources.exe_path;
  arguments.insert(arguments.begin(), sources.exe_path);
  sources.arguments = std::move(arguments);
  sources.help_engine_path = help_engine_path;
  sources.temp_folder = dir.path().string();
  trawlex::help::StartHelpDiagnostics(sources);
}

/// The lines of the debug file, without their line ends.
inline std::vector<std::string> DebugFileLines() {
  std::vector<std::string> lines;
  std::string line;
  for (const uint8_t byte : ReadWholeFile(trawlex::help::DebugFilePath())) {
    if (byte == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(byte);
    }
  }
  return lines;
}
