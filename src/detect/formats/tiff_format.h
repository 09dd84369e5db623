#pragma once

#include "detect/file_end.h"

#include <cstddef>
#include <cstdint>
#include <memory>

/// The TIFF structure that the camera raws built on it share.
namespace media {
[[nodiscard]] bool TiffStart(const std::uint8_t* data, std::size_t available);
[[nodiscard]] std::unique_ptr<EndFinder> TiffEnd(const std::uint8_t* data, std::size_t available);
}  // namespace media
