#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace trawlex::help {

/// Help commands an application's help request carries.
inline constexpr uint16_t HELP_CONTEXT = 1;
inline constexpr uint16_t HELP_QUIT = 2;
inline constexpr uint16_t HELP_INDEX = 3;
inline constexpr uint16_t HELP_HELPONHELP = 4;
inline constexpr uint16_t HELP_SETINDEX = 5;
inline constexpr uint16_t HELP_CONTEXTPOPUP = 8;
inline constexpr uint16_t HELP_FORCEFILE = 9;
inline constexpr uint16_t HELP_CONTEXTMENU = 10;
inline constexpr uint16_t HELP_FINDER = 11;
inline constexpr uint16_t HELP_WM_HELP = 12;
inline constexpr uint16_t HELP_SETPOPUP_POS = 13;
inline constexpr uint16_t HELP_KEY = 257;
inline constexpr uint16_t HELP_COMMAND = 258;
inline constexpr uint16_t HELP_PARTIALKEY = 261;
inline constexpr uint16_t HELP_MULTIKEY = 513;
inline constexpr uint16_t HELP_SETWINPOS = 515;

/// "1 (HELP_CONTEXT)": the number and the command's name ("??" for an unknown one).
[[nodiscard]] std::string HelpCommandText(uint16_t command);

/// The application's help-request handler: answers a request; `call_help` set true lets the
/// application's own help handling go on.
using HelpEvent = std::function<bool(uint16_t command, int32_t data, bool& call_help)>;
/// The handler installed for the application (empty when none).
[[nodiscard]] HelpEvent& ApplicationOnHelp();
/// Passes a help request to the installed handler; true when it took the request, false when
/// there is none or it let the application's own help handling go on.
bool ApplicationHelpCommand(uint16_t command, int32_t data);

/// Takes over the application's help requests, so that context help opens topics of the help
/// file. One lives as long as the program; destroying it puts the previous handler back.
class THookHelpSystem {
 public:
  using ContextCallback = void (*)(int32_t context);
  using PopupCallback = void (*)(int32_t context, int32_t x, int32_t y);

  THookHelpSystem(std::string help_file, std::string window_name, uint8_t host);
  ~THookHelpSystem();
  THookHelpSystem(const THookHelpSystem&) = delete;
  THookHelpSystem& operator=(const THookHelpSystem&) = delete;

  /// The installed handler. Always true.
  bool HelpHook(uint16_t command, int32_t data, bool& call_help);

  std::string HelpFile;
  std::string WindowName;
  uint8_t Host;
  /// When set, context requests go here instead of the help file.
  ContextCallback OnContext = nullptr;
  /// When set, popup requests go here with the last popup position.
  PopupCallback OnPopup = nullptr;

  [[nodiscard]] int32_t popupX() const { return popup_x_; }
  [[nodiscard]] int32_t popupY() const { return popup_y_; }

 private:
  void ShowHelpContext(int32_t context);

  HelpEvent saved_handler_;
  int32_t popup_x_ = 0;
  int32_t popup_y_ = 0;
};

}  // namespace trawlex::help
