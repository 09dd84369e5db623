#pragma once

#include "recovery/found_file.h"

#include <cstdint>
#include <string>
#include <vector>

class SectorReader;

/// How the found-file preview shows a file of its type.
enum class PreviewKind {
  kPicture,  ///< JPG, PNG, GIF, BMP, TIF, PSD: a thumbnail, where an image reader takes it
  kText,     ///< HTML, XML, RTF, EPSorPS, RAM: the first lines
  kHex,      ///< everything else: the first sector in hex
};

[[nodiscard]] PreviewKind PreviewKindOf(const TfileExt& file);
/// The same for catalogue row `type`; -1 (no kind known) is hex.
[[nodiscard]] PreviewKind PreviewKindOfType(int type);

/// The bytes a preview of `file` needs, from the start of the file: up to `kPicturePreview`
/// for a picture, `kTextPreview` for text, one sector for hex, never past the file's size.
/// Sectors that do not read are left out: the bytes end where the first failed read began,
/// and `error` says why (empty when all arrived).
inline constexpr std::size_t kPicturePreview = 8u << 20;
inline constexpr std::size_t kTextPreview = 16u << 10;
[[nodiscard]] std::vector<std::uint8_t> ReadPreviewBytes(SectorReader& reader, const TfileExt& file,
                                                         std::string* error);
/// The same for the `size` bytes (0: not known) from byte `offset` of `reader`, shown as `kind`.
[[nodiscard]] std::vector<std::uint8_t> ReadPreviewBytes(SectorReader& reader, std::uint64_t offset,
                                                         std::uint64_t size, PreviewKind kind,
                                                         std::string* error);

/// Up to `lines` lines of text from `bytes`, with bytes that cannot be text shown as dots
/// and the lines' own ends kept.
[[nodiscard]] std::string PreviewText(const std::vector<std::uint8_t>& bytes, int lines);

/// The bytes as a hex dump: "000: 7B 5C ... {\rtf1..." lines of 16.
[[nodiscard]] std::string PreviewHex(const std::vector<std::uint8_t>& bytes);
