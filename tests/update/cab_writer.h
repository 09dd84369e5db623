#pragma once

#include <string>
#include <utility>
#include <vector>

namespace trawlex::update::testing {

/// Writes an uncompressed cabinet holding `files` (stored name, content) exactly as named,
/// including names no cabinet tool would write ("..\x", "/x").
void WriteStoredCabinet(const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& files);

}  // namespace trawlex::update::testing
