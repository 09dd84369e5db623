#pragma once

#include <cstddef>
#include <cstdint>

/// Starts the signature chain does not list, tried for every sector it names nothing
/// for, so each must be cheap. Each returns the catalogue row, or -1.
/// A compound document of any writer, named by its directory entries.
[[nodiscard]] int CompoundDocumentStart(const std::uint8_t* data, std::size_t available);
/// A QuickTime file opening with an 'ftyp' box of a QuickTime brand.
[[nodiscard]] int QuickTimeStart(const std::uint8_t* data, std::size_t available);
/// A tar archive in GNU tar's own format ("ustar  " magic, what GNU tar writes unless told
/// otherwise), whose header checksum holds.
[[nodiscard]] int GnuTarStart(const std::uint8_t* data, std::size_t available);

/// The first of the above that names the start, or -1.
[[nodiscard]] inline int ExtraFileStart(const std::uint8_t* data, std::size_t available) {
  int row = CompoundDocumentStart(data, available);
  if (row < 0) row = QuickTimeStart(data, available);
  return row >= 0 ? row : GnuTarStart(data, available);
}
