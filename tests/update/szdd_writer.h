#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trawlex::update::testing {

/// Compresses `data` into the "SZDD" format (LZSS, 4096-byte window) with `missing_char` as
/// the recorded last character of the original name.
[[nodiscard]] std::vector<uint8_t> SzddCompress(const std::vector<uint8_t>& data,
                                                char missing_char);

}  // namespace trawlex::update::testing
