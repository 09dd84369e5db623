#pragma once

#include "detect/file_kind.h"
#include "detect/file_kind_list.h"

#include <array>
#include <cstddef>
#include <string_view>

#define TRAWLEX_DECLARE_KIND(name) extern const FileKind k##name##Kind;
TRAWLEX_FILE_KINDS(TRAWLEX_DECLARE_KIND)
#undef TRAWLEX_DECLARE_KIND

/// The catalogue: row k of the file-type list always stands for entry k.
#define TRAWLEX_LIST_KIND(name) &k##name##Kind,
inline constexpr std::array kFileKinds{TRAWLEX_FILE_KINDS(TRAWLEX_LIST_KIND)};
inline constexpr std::array kChainKinds{TRAWLEX_CHAIN_KINDS(TRAWLEX_LIST_KIND)};
#undef TRAWLEX_LIST_KIND

inline constexpr int kFileTypeCount = static_cast<int>(kFileKinds.size());
/// The kinds of the signature chain, rows 0 to 44; the rows after them are found only
/// with real ends.
inline constexpr int kChainTypeCount = static_cast<int>(kChainKinds.size());
static_assert(kChainTypeCount == 45);
static_assert(kFileTypeCount <= 255, "a found file keeps its row in one byte");

/// The rows a scan lists: the chain's alone, or with real ends every kind.
[[nodiscard]] constexpr int ListedTypeCount(bool real_ends) {
  return real_ends ? kFileTypeCount : kChainTypeCount;
}

/// The row of the catalogue entry whose tag equals `tag` exactly (same length, same
/// bytes, case-sensitive), or -1. "RIFF" and the empty tag match nothing.
[[nodiscard]] int FindFileType(std::string_view tag);

/// The kind of catalogue row `index`; index must be in 0 .. kFileTypeCount-1.
[[nodiscard]] inline const FileKind& FileKindAt(int index) {
  return *kFileKinds[static_cast<std::size_t>(index)];
}
[[nodiscard]] inline std::string_view FileTypeTag(int index) {
  return FileKindAt(index).tag;
}
[[nodiscard]] inline std::string_view FileTypeDescription(int index) {
  return FileKindAt(index).description;
}
