#pragma once

#include <cstddef>
#include <cstdint>

/// Starts the signature chain does not list: a compound document of any writer named
/// by its directory entries, a QuickTime file opening with an 'ftyp' box of a QuickTime
/// brand. The catalogue row, or -1. Runs for every sector, so it must be cheap.
[[nodiscard]] int ExtraFileStart(const std::uint8_t* data, std::size_t available);
