#pragma once

#include "detect/file_end.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

/// How a found file of a kind can be shown before it is saved.
enum class KindPreview : std::uint8_t {
  kHex,      ///< the first sector in hex
  kPicture,  ///< a thumbnail, where an image reader takes it
  kText,     ///< the first lines
};

/// The tag of the kind the bytes at a start really are, among the kinds that share one
/// structure (a ZIP of Office members is "DOCX", an ISO media file of brand "M4A " is
/// "M4A"); empty keeps the kind whose record asked. Reads at most `available` bytes.
using NameKindFn = std::string_view (*)(const std::uint8_t* data, std::size_t available);

/// One kind of file a scan reports, declared once in the file of its format; the
/// catalogue, the look-ups, the type list and `trawlex types` are all derived from these.
struct FileKind {
  std::string_view tag;          ///< the type tag, also the found file's extension
  std::string_view description;  ///< a few words for listings
  /// The closer look at a start. For the kinds of the signature chain it runs after the
  /// chain named the tag (null: every such start is taken); for the kinds after them it is
  /// the whole start test, magic included, and must read at most `available` bytes.
  StartCheckFn check = nullptr;
  MakeEndFinderFn make_finder = nullptr;  ///< null: the end is the next start
  NameKindFn name = nullptr;              ///< null: the start is of this kind
  /// The bytes a start can begin with, a cheap filter before the start test (`check` of the
  /// kinds after the chain's, `unchained` of the chain's); empty when any byte may.
  std::string_view first_bytes = {};
  KindPreview preview = KindPreview::kHex;
  /// For the kinds of the chain: starts it does not name (writers it never knew), tried with
  /// the kinds after it; gives the tag of the kind found, or empty.
  NameKindFn unchained = nullptr;
};
