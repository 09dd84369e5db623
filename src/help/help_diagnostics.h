#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "help/file_version.h"

namespace trawlex::help {

/// What the help system found out at start: the program's folders, whether debug tracing is on,
/// and which help engine and page renderer are installed. Filled once, before any window
/// exists, and only read afterwards.
struct HelpDiagnostics {
  std::string _ModuleName;  ///< the program module's path
  std::string _ModuleDir;   ///< its folder, without a trailing slash
  std::string _RunDir;      ///< the folder of the program as started, without a trailing slash
  std::string DebugDir;     ///< `_ModuleDir` when writable, else the temporary folder
  bool DebugMode = false;
  std::string _hhVerStr;
  FileVersion hh_version;
  bool _hhInstalled = false;
  std::string _hhFriendlyVerStr;
  std::string _ieVerStr;
  FileVersion ie_version;
  bool _ieInstalled = false;
  std::string _ieFriendlyVerStr;
};

/// The debug file's name, appended to `DebugDir`.
inline constexpr const char* kDebugFileName = "/HHDebug.txt";
/// A file of this name in the program's folder turns debug tracing on.
inline constexpr const char* kDebugSwitchFile = "debug.debug";

/// Where the start-up looks. The program takes `ProgramDiagnosticsSources`; tests give their own.
struct DiagnosticsSources {
  std::string exe_path;                ///< the running program's file
  std::string module_path;             ///< the module that holds the help system
  std::vector<std::string> arguments;  ///< the command line, the program path first
  std::string help_engine_path;        ///< from `FindHelpControlPath`
  std::string browser_component_path;  ///< the page renderer's file, empty when there is none
  std::string temp_folder;             ///< the user's temporary folder
};
[[nodiscard]] DiagnosticsSources ProgramDiagnosticsSources(int argc, const char* const* argv);

/// Works out the diagnostics and, in debug mode, writes the report that opens the debug file
/// (which is deleted first in any case).
void StartHelpDiagnostics(const DiagnosticsSources& sources);
/// Forgets the diagnostics (program end): debug mode is off afterwards.
void StopHelpDiagnostics();

[[nodiscard]] const HelpDiagnostics& Diagnostics();
/// Debug tracing is on ("/debug" or "-debug" on the command line, or a "debug.debug" file).
[[nodiscard]] bool DebugMode();
/// `DebugDir` followed by `kDebugFileName`.
[[nodiscard]] std::string DebugFilePath();

/// True when `arguments` (the program path first, not looked at) hold "/debug" or "-debug"
/// in any case.
[[nodiscard]] bool HasDebugArgument(const std::vector<std::string>& arguments);

/// The line `WriteDebugLine` writes for `text`: "-" and "=" become 79 of that character, a
/// text starting with "!", "-" or "=" loses that character, and any other text gets three
/// blanks and `time_text` appended.
[[nodiscard]] std::string FormatDebugLine(std::string_view text, std::string_view time_text);
/// Appends `text`, formatted as above with the current time, to the debug file; gives up
/// silently when the file cannot be written. Callers check `DebugMode` first.
void WriteDebugLine(std::string_view text);

/// Starts the help system for the program: loads the help engine and runs the diagnostics;
/// at the end forgets them and unloads the engine. One per program, made first in main().
class HelpStartup {
 public:
  HelpStartup(int argc, const char* const* argv);
  ~HelpStartup();
  HelpStartup(const HelpStartup&) = delete;
  HelpStartup& operator=(const HelpStartup&) = delete;
};

}  // namespace trawlex::help
