#pragma once

#include "detect/file_end.h"
#include "detect/formats/format_bytes.h"
#include "detect/formats/record_walker.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

/// Byte readers and helpers shared by the picture, raw, sound and video formats.
namespace media {

/// Four bytes that can name a chunk: letters, digits, space or a few marks.
[[nodiscard]] bool IsFourCc(const std::uint8_t* p);

/// The walker the media formats are written on: gathers headers, skips bodies.
using document_walk::RecordWalker;

/// A finder for a file whose headers state its whole length.
[[nodiscard]] std::unique_ptr<EndFinder> FixedLengthFinder(std::uint64_t size);

}  // namespace media
