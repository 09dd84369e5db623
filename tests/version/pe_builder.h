#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trawlex::version::testing {

/// A minimal Windows executable image (PE32, one ".rsrc" section) whose resources hold
/// `version_block` as the version resource; an empty block gives an image without one.
[[nodiscard]] std::vector<uint8_t> BuildPeWithVersion(const std::vector<uint8_t>& version_block);

}  // namespace trawlex::version::testing
