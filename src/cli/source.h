#pragma once

#include "disk/drive_table.h"

#include <optional>
#include <string>

/// The disk a command works on: an image path, or `--drive N` of the drive table.
struct SourceArgs {
  std::optional<std::string> image;
  std::optional<int> drive;
};

/// False with `err` set when neither an image nor a drive was named.
bool CheckSource(const SourceArgs& source, std::string* err);

/// Resolves the source to a drive number of `table`, registering an image when given.
/// -1 with `err` set when the drive number does not exist.
int ResolveDrive(DriveTable& table, const SourceArgs& source, std::string* err);
