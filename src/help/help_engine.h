#pragma once

#include <string>

namespace trawlex::help {

/// The help engine is chmlib, the library that reads compiled help files; the program loads it
/// at start and shows the pages in a window of its own. Without it there is no help.
inline constexpr const char* kHelpEngineLibrary = "libchm.so.1";
/// The component that renders help pages: Qt's widgets library with its text browser.
inline constexpr const char* kBrowserComponentLibrary = "libQt6Widgets.so.6";
/// Load the engine during program start.
inline constexpr bool kAutoLoadHelpEngine = true;

/// The file the dynamic linker loads for `library`, asked the way a program would load it;
/// empty when it finds none or the file it names does not exist. With `loaded_only`, only a
/// library the program has loaded already is found (and nothing is loaded to look).
[[nodiscard]] std::string FindSharedLibraryPath(const std::string& library, bool loaded_only);

/// The help engine's file (`kHelpEngineLibrary`); empty when it is not installed.
[[nodiscard]] std::string FindHelpControlPath();

/// Loads the engine from `FindHelpControlPath` and resolves its entry points, unless it is
/// loaded already. The engine stays unloaded when the file is missing or an entry is absent.
void LoadHelpEngine();
/// Loads the engine from `path` (tests name a file of their own).
void LoadHelpEngine(const std::string& path);
/// Frees the engine and forgets its entry points.
void UnloadHelpEngine();
[[nodiscard]] bool HelpEngineLoaded();

}  // namespace trawlex::help
