#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace trawlex::update {

/// What the header of an "SZDD" compressed file records.
struct SzddHeader {
  char missing_char = 0;  ///< last character of the original name; 0 when none is recorded
  uint64_t length = 0;    ///< size of the expanded data
};

/// The header of SZDD data (either form of the magic), or nullopt when it is not SZDD.
[[nodiscard]] std::optional<SzddHeader> ParseSzddHeader(std::span<const uint8_t> data);

/// Receives the expanded data in order; returning false stops the expansion as a write error.
using ExpandSink = std::function<bool(const uint8_t* data, size_t size)>;

/// Expands SZDD data held in memory into `sink`. False, with the reason in `err`, unless the
/// data is SZDD and expands to exactly the length its header records; no byte beyond that
/// length ever reaches `sink`, so truncated, padded or malformed input cannot pass as whole.
bool ExpandSzdd(std::span<const uint8_t> data, const ExpandSink& sink, SzddHeader* header,
                std::string* err);
/// The same for the open file `fd`, read from its start with positioned reads.
bool ExpandSzddFile(int fd, const ExpandSink& sink, SzddHeader* header, std::string* err);

/// The path an SZDD file at `path` expands to: the trailing "_" of its name replaced by
/// `missing_char` (in the case of the rest of the name). Nullopt when that character would
/// not give a plain file name in the same folder ("/", "\", a control character, "..").
[[nodiscard]] std::optional<std::string> ExpandedName(const std::string& path, char missing_char);

/// Whether the file starts with the "SZDD" compress header.
[[nodiscard]] bool IsSzddFile(const std::string& path);

/// The name an SZDD file expands to, from its header. Nullopt when the file is not SZDD or
/// records an unusable name.
[[nodiscard]] std::optional<std::string> ExpandedNameOf(const std::string& path);

/// Expands an SZDD file beside itself under the name its header records and then deletes the
/// compressed file. The expanded file appears only when it is complete, keeps the permission
/// bits of the file it replaces, and on any failure the compressed file stays. A regular file
/// that is not SZDD is already plain: it is left as it is and counts as expanded. With
/// `keep_compressed` the compressed file stays beside the expanded one.
bool LzExpandFile(const std::string& path, std::string* expanded_path, std::string* err,
                  bool keep_compressed = false);

}  // namespace trawlex::update
