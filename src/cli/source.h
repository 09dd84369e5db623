#pragma once

#include "disk/drive_table.h"

#include <string>
#include <vector>

/// The disk a command works on: an image path, or `--drive N` of the drive table.
struct SourceArgs {
  std::string image;
  int drive = -1;
};

/// Takes SOURCE (a path) or `--drive N` out of `args`. False with `err` set on bad input.
bool ParseSource(std::vector<std::string>& args, SourceArgs& source, std::string* err);

/// Resolves the source to a drive number of `table`, registering an image when given.
/// -1 with `err` set when the drive number does not exist.
int ResolveDrive(DriveTable& table, const SourceArgs& source, std::string* err);
