#pragma once

#include "detect/file_end.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

/// The detector's finding checked more closely. `row` is the catalogue row DetectFileType
/// gave, or -1 when it found nothing listed; returns the row the start really is (a
/// compound document the signature chain misnamed, a ZIP of an Office document, a start
/// of one of today's kinds) or -1 for a false start. Cheap when nothing is there: it runs
/// for every sector.
[[nodiscard]] int CheckFileStart(int row, const std::uint8_t* data, std::size_t available);

/// A finder for a start that passed CheckFileStart as `row`, or null (end = next start).
[[nodiscard]] std::unique_ptr<EndFinder> MakeEndFinder(int row, const std::uint8_t* data,
                                                       std::size_t available);

/// The row a finder's structure named the file (EndFinder::NamedTag), else `row`.
[[nodiscard]] int NamedRow(int row, const EndFinder& finder);
