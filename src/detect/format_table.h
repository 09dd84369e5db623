#pragma once

#include "detect/file_end.h"

#include <cstdint>
#include <span>

/// The records of each format family; each family's file defines its own list.
std::span<const FormatRecord> ImageFormats();     ///< pictures, camera raws, sound and video
std::span<const FormatRecord> DocumentFormats();  ///< documents, archives, programs, text

/// The record of catalogue row `row`, or null when no family declares one.
[[nodiscard]] const FormatRecord* FindFormatRecord(int row);

/// The detector's finding checked more closely. `row` is the catalogue row DetectFileType
/// gave, or -1 when it found nothing listed; returns the row the start really is (a
/// compound document or a QuickTime file the signature chain missed is named here) or -1
/// for a false start. Cheap when nothing is there: it runs for every sector.
[[nodiscard]] int CheckFileStart(int row, const std::uint8_t* data, std::size_t available);

/// A finder for a start that passed CheckFileStart as `row`, or null (end = next start).
[[nodiscard]] std::unique_ptr<EndFinder> MakeEndFinder(int row, const std::uint8_t* data,
                                                       std::size_t available);
