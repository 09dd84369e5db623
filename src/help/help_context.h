#pragma once

#include <cstdint>
#include <string>

namespace trawlex::help {

/// How topics are shown: by the help engine's window, or by running KeyHH.EXE or HH.EXE.
inline constexpr uint8_t HostApi = 0;
inline constexpr uint8_t HostKeyHH = 1;
inline constexpr uint8_t HostHHExe = 2;

/// The context number of the help file's main topic.
inline constexpr int32_t kMainHelpContext = 10;
/// What the program says when its help file cannot be shown.
inline constexpr const char* kCannotLoadHelpFile = "Cannot load help file.";

/// What the help system needs from the window layer, which installs one (the Qt layer shows
/// topics in the program's help window). Without one, no topic is shown and warnings go to
/// the standard error stream.
class HelpWindowHost {
 public:
  virtual ~HelpWindowHost() = default;
  /// Shows topic `context` of the help file `target` names (a `BuildHelpPath` result) and
  /// brings its window to the front; false when no window shows it.
  virtual bool ShowHelpContext(const std::string& target, int32_t context) = 0;
  /// Closes every help window.
  virtual void CloseAllHelpWindows() = 0;
  /// A warning box with an OK button.
  virtual void ShowWarning(const std::string& text) = 0;
};

/// Installs `host` (nullptr removes it); the caller keeps it alive while installed.
void SetHelpWindowHost(HelpWindowHost* host);
[[nodiscard]] HelpWindowHost* CurrentHelpWindowHost();

/// Opens topic `context` of `help_file` the way `host` says; the `ShowContext` code.
int HHHelpContext(const std::string& help_file, int32_t context, const std::string& window_name,
                  uint8_t host);
/// 0 shown (or asked for); 1 the help engine is not installed; 2 KeyHH.EXE or 3 HH.EXE was not
/// found in the Windows folder (this platform has none).
int ShowContext(const std::string& target, int32_t context, uint8_t host);

/// The message for a `HHHelpContext` code; empty for 0.
[[nodiscard]] std::string HHErrorText(int code);
/// Shows the message for a non-zero code in a warning box (and traces it in debug mode).
void HHShowError(int code);

/// Starts `program` with `parameters` (split at blanks, double quotes keep blanks together).
/// On failure a warning box says "Function ShellExecute(program, parameters)\rReturned: ..."
/// with `ShellFailureText`; false then.
bool RunHelpProgram(const std::string& program, const std::string& parameters);
/// The name of a Windows error number as the help system reports it ("File Not Found").
[[nodiscard]] std::string ShellErrorName(int windows_error);
/// "[Error:" + `system_error` + "] " + the name of the failure it stands for.
[[nodiscard]] std::string ShellFailureText(int system_error);

/// The folder that holds the help viewer programs; empty here, where there is none.
[[nodiscard]] std::string WindowsFolder();

}  // namespace trawlex::help
