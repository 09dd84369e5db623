#include "help/hook_help_system.h"

#include <utility>

#include "help/help_context.h"
#include "help/help_diagnostics.h"

namespace trawlex::help {

std::string HelpCommandText(uint16_t command) {
  const char* name = "??";
  switch (command) {
    case HELP_CONTEXT:
      name = "HELP_CONTEXT";
      break;
    case HELP_QUIT:
      name = "HELP_QUIT";
      break;
    case HELP_INDEX:
      name = "HELP_INDEX or HELP_CONTENTS";
      break;
    case HELP_HELPONHELP:
      name = "HELP_HELPONHELP";
      break;
    case HELP_SETINDEX:
      name = "HELP_SETINDEX or HELP_SETCONTENTS";
      break;
    case HELP_CONTEXTPOPUP:
      name = "HELP_CONTEXTPOPUP";
      break;
    case HELP_FORCEFILE:
      name = "HELP_FORCEFILE";
      break;
    case HELP_CONTEXTMENU:
      name = "HELP_CONTEXTMENU";
      break;
    case HELP_FINDER:
      name = "HELP_FINDER";
      break;
    case HELP_WM_HELP:
      name = "HELP_WM_HELP";
      break;
    case HELP_SETPOPUP_POS:
      name = "HELP_SETPOPUP_POS";
      break;
    case HELP_KEY:
      name = "HELP_KEY";
      break;
    case HELP_COMMAND:
      name = "HELP_COMMAND";
      break;
    case HELP_PARTIALKEY:
      name = "HELP_PARTIALKEY";
      break;
    case HELP_MULTIKEY:
      name = "HELP_MULTIKEY";
      break;
    case HELP_SETWINPOS:
      name = "HELP_SETWINPOS";
      break;
  }
  return std::to_string(command) + " (" + name + ")";
}

HelpEvent& ApplicationOnHelp() {
  static HelpEvent handler;
  return handler;
}

bool ApplicationHelpCommand(uint16_t command, int32_t data) {
  // A copy, so that a handler that replaces itself finishes on its own state.
  const HelpEvent handler = ApplicationOnHelp();
  if (!handler) return false;
  bool call_help = true;
  handler(command, data, call_help);
  return !call_help;
}

THookHelpSystem::THookHelpSystem(std::string help_file, std::string window_name, uint8_t host)
    : HelpFile(std::move(help_file)), WindowName(std::move(window_name)), Host(host) {
  saved_handler_ =
      std::exchange(ApplicationOnHelp(), [this](uint16_t command, int32_t data, bool& call_help) {
        return HelpHook(command, data, call_help);
      });
  if (DebugMode())
    WriteDebugLine("THookHelpSystem.Create(\"" + HelpFile + "\",\"" + WindowName + "\", " +
                   std::to_string(Host) + ")");
}

THookHelpSystem::~THookHelpSystem() {
  if (Host == HostApi)
    if (HelpWindowHost* host = CurrentHelpWindowHost()) host->CloseAllHelpWindows();
  ApplicationOnHelp() = std::move(saved_handler_);
  if (DebugMode()) WriteDebugLine("THookHelpSystem.Destroy");
}

void THookHelpSystem::ShowHelpContext(int32_t context) {
  if (OnContext != nullptr) {
    OnContext(context);
    return;
  }
  if (const int code = HHHelpContext(HelpFile, context, WindowName, Host); code != 0)
    HHShowError(code);
}

bool THookHelpSystem::HelpHook(uint16_t command, int32_t data, bool& call_help) {
  if (DebugMode())
    WriteDebugLine("THookHelpSystem.HelpHook(" + HelpCommandText(command) + ", " +
                   std::to_string(data) + ")");
  call_help = false;
  switch (command) {
    case HELP_CONTEXT:
      ShowHelpContext(data);
      break;
    case HELP_CONTEXTPOPUP:
      if (OnPopup != nullptr)
        OnPopup(data, popup_x_, popup_y_);
      else
        ShowHelpContext(data);
      break;
    case HELP_SETPOPUP_POS: {
      // A point packed as two signed 16-bit halves: x low, y high.
      const auto packed = static_cast<uint32_t>(data);
      popup_x_ = static_cast<int16_t>(packed & 0xFFFF);
      popup_y_ = static_cast<int16_t>(packed >> 16);
      break;
    }
    default:
      call_help = true;
      break;
  }
  return true;
}

}  // namespace trawlex::help
