#include "cli/source.h"

bool CheckSource(const SourceArgs& source, std::string* err) {
  if (source.image || source.drive) return true;
  *err = "no source given: name a disk image or --drive N";
  return false;
}

int ResolveDrive(DriveTable& table, const SourceArgs& source, std::string* err) {
  if (source.image) return table.RegisterImage(*source.image);
  if (table.Find(*source.drive) == nullptr) {
    *err = "drive " + std::to_string(*source.drive) + " does not exist";
    return -1;
  }
  return *source.drive;
}
