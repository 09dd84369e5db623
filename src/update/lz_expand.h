#pragma once

#include <optional>
#include <string>

namespace trawlex::update {

/// Whether the file starts with the "SZDD" compress header.
[[nodiscard]] bool IsSzddFile(const std::string& path);

/// The name an SZDD file expands to: its trailing "_" replaced by the character its header
/// records (in the case of the rest of the name). Nullopt when the file is not SZDD.
[[nodiscard]] std::optional<std::string> ExpandedNameOf(const std::string& path);

/// Expands an SZDD file beside itself under the name its header records and deletes the
/// compressed file. The expanded file appears only when complete. A file that is not SZDD is
/// already plain: it is left as it is and counts as expanded.
bool LzExpandFile(const std::string& path, std::string* expanded_path, std::string* err);

}  // namespace trawlex::update
