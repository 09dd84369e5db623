#pragma once

#include <cstdint>
#include <string>
#include <string_view>

/// The farthest byte the detector reads from a sector's first byte, plus one, for a
/// span of 512: the compound-document directory name test reaches offset 1690.
inline constexpr int kDetectReadExtent = 1691;

/// How many readable bytes DetectFileType needs from `data` for a given span.
[[nodiscard]] constexpr int DetectReadExtent(int span) {
  return span + 4 > kDetectReadExtent ? span + 4 : kDetectReadExtent;
}

/// True when the bytes at `data` equal `pattern` byte for byte. An empty pattern matches.
[[nodiscard]] bool MatchAt(const std::uint8_t* data, std::string_view pattern);

/// Tries MatchAt at positions 0 .. span-1 in order; true at the first match.
/// Reads at most span - 1 + pattern.size() bytes.
[[nodiscard]] bool FindPattern(const std::uint8_t* data, int span, std::string_view pattern);

/// Compares a compound-document directory entry name with `name`: the `byte_count`
/// bytes at `data` with every zero byte dropped must spell `name` exactly.
[[nodiscard]] bool OleEntryNameEquals(const std::uint8_t* data, int byte_count,
                                      std::string_view name);

/// Decides whether a file of a known kind starts at `data` (the first byte of a
/// 512-byte sector) and names it. Pure: reads at most DetectReadExtent(span) bytes,
/// which the caller must make readable (zero slack after a buffer will do), and
/// allocates nothing. On true `tag` holds the kind's tag cut to `maxTagLength`
/// (an unidentified compound document gives true with an empty tag); on false
/// `tag` is left as it was.
bool DetectFileType(const std::uint8_t* data, int span, std::string& tag, int maxTagLength);
