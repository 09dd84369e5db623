#pragma once

#include <QRect>
#include <QSize>

#include <array>

/// Sizes of the product's pictures and the places they leave for controls. The artwork generator
/// paints around these places and the windows put their controls on them, so both read them here.
namespace SkinLayout {

inline constexpr QSize kMainFaceSize{640, 470};
/// The wizard's page control sits on the white card of the main face.
inline constexpr QRect kMainPagePlace{16, 76, 608, 326};
inline constexpr int kMainHeaderHeight = 60;

/// The six region buttons of the main window.
enum class RegionButton { Next, Restart, Previous, Exit, Settings, Help };
inline constexpr std::array kRegionButtons{RegionButton::Next,     RegionButton::Restart,
                                           RegionButton::Previous, RegionButton::Exit,
                                           RegionButton::Settings, RegionButton::Help};

/// Where each region button stands on the main face; Restart shares Next's place.
constexpr QRect regionButtonPlace(RegionButton button) {
  switch (button) {
    case RegionButton::Next:
    case RegionButton::Restart:
      return {492, 418, 132, 38};
    case RegionButton::Previous:
      return {16, 418, 132, 38};
    case RegionButton::Settings:
      return {520, 14, 32, 32};
    case RegionButton::Help:
      return {558, 14, 32, 32};
    case RegionButton::Exit:
      return {596, 14, 32, 32};
  }
  return {};
}

/// Base name of the button's pictures: "<name>_idle.png", "_hover", "_down", "_disabled".
constexpr const char* regionButtonName(RegionButton button) {
  switch (button) {
    case RegionButton::Next:
      return "next";
    case RegionButton::Restart:
      return "restart";
    case RegionButton::Previous:
      return "previous";
    case RegionButton::Exit:
      return "exit";
    case RegionButton::Settings:
      return "settings";
    case RegionButton::Help:
      return "help";
  }
  return "";
}

/// Picture states in image-list order: idle, hover, pressed, disabled.
inline constexpr std::array<const char*, 4> kStateNames{"idle", "hover", "down", "disabled"};

/// The push-button skin: four bands (normal, hover, pressed, disabled) of 25 rows.
inline constexpr QSize kDefaultSkinSize{62, 100};

/// Splash and about face, with the white card that carries the product block and the OK button.
inline constexpr QSize kSplashFaceSize{500, 410};
inline constexpr QRect kSplashCard{12, 308, 476, 96};
inline constexpr QRect kSplashAboutPanel{24, 320, 313, 72};
inline constexpr QRect kSplashButtonPanel{307, 367, 169, 25};
inline constexpr QRect kSplashLoadingLabel{24, 280, 120, 18};

/// Picture on the left of the update wizard.
inline constexpr QSize kUpdateSideSize{116, 201};

}  // namespace SkinLayout
