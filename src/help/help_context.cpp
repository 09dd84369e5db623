#include "help/help_context.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <thread>
#include <vector>

#include "help/help_diagnostics.h"
#include "help/help_path.h"

extern char** environ;

namespace trawlex::help {
namespace {

HelpWindowHost*& InstalledHost() {
  static HelpWindowHost* host = nullptr;
  return host;
}

void Warn(const std::string& text) {
  if (HelpWindowHost* host = CurrentHelpWindowHost())
    host->ShowWarning(text);
  else
    std::cerr << text << '\n';
}

bool IsFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

/// The Windows error number that names what `system_error` (an errno value) stands for.
int WindowsErrorFor(int system_error) {
  switch (system_error) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return 3;
    case EACCES:
    case EPERM:
      return 5;
    case ENOMEM:
    case E2BIG:
      return 8;
    case EROFS:
      return 19;
    case ENXIO:
    case ENODEV:
      return 21;
    case ETXTBSY:
      return 32;
    case ENOSPC:
      return 112;
    case EIO:
      return 1392;
    case ENOEXEC:
      return 1151;
    default:
      return 0;
  }
}

/// Parameters split at blanks; a double-quoted part keeps its blanks.
std::vector<std::string> SplitParameters(const std::string& parameters) {
  std::vector<std::string> parts;
  std::string current;
  bool quoted = false, any = false;
  for (char c : parameters) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) parts.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) parts.push_back(current);
  return parts;
}

}  // namespace

void SetHelpWindowHost(HelpWindowHost* host) {
  InstalledHost() = host;
}

HelpWindowHost* CurrentHelpWindowHost() {
  return InstalledHost();
}

int HHHelpContext(const std::string& help_file, int32_t context, const std::string& window_name,
                  uint8_t host) {
  if (DebugMode())
    WriteDebugLine("HHHelpContext(\"" + help_file + "\", " + std::to_string(context) + ", \"" +
                   window_name + "\", " + std::to_string(host) + ")");
  const std::string target = BuildHelpPath(help_file, "", window_name,
                                           host == HostHHExe ? kPrefixMkMsitStore : kPrefixNone);
  return ShowContext(target, context, host);
}

int ShowContext(const std::string& target, int32_t context, uint8_t host) {
  if (DebugMode()) WriteDebugLine("ShowContext(\"" + target + "\", " + std::to_string(host) + ")");
  int code = 0;
  const std::string folder = WindowsFolder();
  if (!Diagnostics()._hhInstalled) {
    code = 1;
  } else if (host == HostApi) {
    if (HelpWindowHost* window_host = CurrentHelpWindowHost())
      window_host->ShowHelpContext(target, context);
  } else if (host == HostKeyHH) {
    const std::string program = folder + "/KeyHH.EXE";
    if (folder.empty() || !IsFile(program))
      code = 2;
    else
      RunHelpProgram(program, "-win -#mapid " + std::to_string(context) + " " + target);
  } else if (host == HostHHExe) {
    const std::string program = folder + "/HH.EXE";
    if (folder.empty() || !IsFile(program))
      code = 3;
    else
      RunHelpProgram(program, "-mapid " + std::to_string(context) + " " + target);
  }
  if (DebugMode()) WriteDebugLine("  returned - " + std::to_string(code));
  return code;
}

std::string HHErrorText(int code) {
  switch (code) {
    case 0:
      return {};
    case 1:
      return "MS Html Help is not installed on this PC.";
    case 2:
      return "System file KeyHH.EXE was not found in the Windows folder.";
    case 3:
      return "System file HH.EXE was not found in the Windows folder.";
    default:
      return "Unknown error returned by HHHelpContext";
  }
}

void HHShowError(int code) {
  if (code == 0) return;
  const std::string text = HHErrorText(code);
  if (DebugMode()) WriteDebugLine("HHShowError(" + std::to_string(code) + "), \"" + text + "\"");
  Warn(text);
}

bool RunHelpProgram(const std::string& program, const std::string& parameters) {
  std::vector<std::string> parts = SplitParameters(parameters);
  parts.insert(parts.begin(), program);
  std::vector<char*> argv;
  for (std::string& part : parts) argv.push_back(part.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error == 0) {
    // The viewer runs on its own; its end is only collected.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
  }
  const std::string text = "Function ShellExecute(" + program + ", " + parameters +
                           ")\rReturned: " + ShellFailureText(error);
  if (DebugMode()) WriteDebugLine(text);
  Warn(text);
  return false;
}

std::string ShellErrorName(int windows_error) {
  switch (windows_error) {
    case 2:
      return "File Not Found";
    case 3:
      return "Path Not Found";
    case 5:
      return "Access Denied";
    case 8:
      return "Insufficient Memory";
    case 19:
      return "Media Is Write Protected";
    case 21:
      return "Device Not Ready";
    case 32:
    case 33:
      return "File In Use";
    case 39:
    case 112:
      return "Disk Full";
    case 276:
    case 1005:
    case 1392:
    case 1393:
      return "Corrupt File Or Disk";
    case 1009:
    case 1358:
      return "Corrupt Registry";
    case 1150:
      return "Windows Version Incorrect";
    case 1151:
      return "Not A Windows Or MSDos Program";
    default:
      return "General Failure";
  }
}

std::string ShellFailureText(int system_error) {
  return "[Error:" + std::to_string(system_error) + "] " +
         ShellErrorName(WindowsErrorFor(system_error));
}

std::string WindowsFolder() {
  return {};
}

}  // namespace trawlex::help
