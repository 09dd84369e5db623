#pragma once

// The help engine's entry points, for the code that reads compiled help files.

#include <chm_lib.h>

namespace trawlex::help {

struct ChmEngineEntries {
  decltype(&chm_open) open = nullptr;
  decltype(&chm_close) close = nullptr;
  decltype(&chm_resolve_object) resolve_object = nullptr;
  decltype(&chm_retrieve_object) retrieve_object = nullptr;
  decltype(&chm_enumerate) enumerate = nullptr;
};

/// The loaded engine's entries; nullptr while the engine is not loaded.
[[nodiscard]] const ChmEngineEntries* ChmEngine();

}  // namespace trawlex::help
