#pragma once

#include <string>
#include <vector>

namespace trawlex::update {

/// The relative path a cabinet entry's stored name stands for ("dir\name" becomes "dir/name"),
/// or empty when the name could land outside the folder it is extracted into: absolute, with a
/// drive letter, with a ".." part, empty parts only, or control characters.
[[nodiscard]] std::string CabinetEntryPath(const std::string& stored_name);

/// Extracts every file of the cabinet `cab` into `target_dir` (the current directory when
/// empty), creating the folders the stored names hold and giving each file its stored date.
/// Every name is checked before anything is written: a cabinet holding one name that would
/// land outside `target_dir`, or a path through a symbolic link, writes nothing. Each file
/// appears under its name only when it is complete. False with the reason in `err`.
bool ExtractCabinet(const std::string& cab, const std::string& target_dir, std::string* err,
                    std::vector<std::string>* extracted = nullptr);

}  // namespace trawlex::update
