#include "help/help_engine.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>

#include "help/chm_engine.h"

namespace trawlex::help {
namespace {

/// Loader state, program-wide: the module and its entries.
struct LoadedEngine {
  void* module = nullptr;
  ChmEngineEntries entries;
};

LoadedEngine& Engine() {
  static LoadedEngine engine;
  return engine;
}

template <typename Entry>
bool Resolve(void* module, const char* name, Entry& entry) {
  entry = reinterpret_cast<Entry>(::dlsym(module, name));
  return entry != nullptr;
}

}  // namespace

std::string FindSharedLibraryPath(const std::string& library, bool loaded_only) {
  void* module =
      ::dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL | (loaded_only ? RTLD_NOLOAD : 0));
  if (module == nullptr) return {};
  std::string path;
  link_map* map = nullptr;
  if (::dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr)
    path = map->l_name;
  ::dlclose(module);
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec) ? path : std::string();
}

std::string FindHelpControlPath() {
  return FindSharedLibraryPath(kHelpEngineLibrary, false);
}

void LoadHelpEngine() {
  if (HelpEngineLoaded()) return;
  const std::string path = FindHelpControlPath();
  if (!path.empty()) LoadHelpEngine(path);
}

void LoadHelpEngine(const std::string& path) {
  LoadedEngine& engine = Engine();
  if (engine.module != nullptr) return;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return;
  // Kept mapped after unloading, so that a help file still open at program end closes safely.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (module == nullptr) return;
  ChmEngineEntries entries;
  if (!Resolve(module, "chm_open", entries.open) || !Resolve(module, "chm_close", entries.close) ||
      !Resolve(module, "chm_resolve_object", entries.resolve_object) ||
      !Resolve(module, "chm_retrieve_object", entries.retrieve_object) ||
      !Resolve(module, "chm_enumerate", entries.enumerate)) {
    ::dlclose(module);
    return;
  }
  engine.module = module;
  engine.entries = entries;
}

void UnloadHelpEngine() {
  LoadedEngine& engine = Engine();
  if (engine.module == nullptr) return;
  ::dlclose(engine.module);
  engine = LoadedEngine{};
}

bool HelpEngineLoaded() {
  return Engine().module != nullptr;
}

const ChmEngineEntries* ChmEngine() {
  const LoadedEngine& engine = Engine();
  return engine.module != nullptr ? &engine.entries : nullptr;
}

}  // namespace trawlex::help
