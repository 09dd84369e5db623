#pragma once

#include <cstdint>
#include <span>

namespace trawlex::update {

/// The updater program "upd.exe" in "SZDD" form, as the program carries it (resource "UPD").
[[nodiscard]] std::span<const uint8_t> UpdaterResource();

}  // namespace trawlex::update
