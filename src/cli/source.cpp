#include "cli/source.h"

#include <charconv>

bool ParseSource(std::vector<std::string>& args, SourceArgs& source, std::string* err) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--drive") continue;
    if (i + 1 >= args.size()) {
      *err = "--drive needs a drive number";
      return false;
    }
    const std::string& text = args[i + 1];
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), source.drive);
    if (ec != std::errc() || end != text.data() + text.size() || source.drive < 0) {
      *err = "'" + text + "' is not a valid drive number";
      return false;
    }
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].starts_with("-") && args[i] != "-") continue;
    source.image = args[i];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  *err = "no source given: name a disk image or --drive N";
  return false;
}

int ResolveDrive(DriveTable& table, const SourceArgs& source, std::string* err) {
  if (!source.image.empty()) return table.RegisterImage(source.image);
  if (table.Find(source.drive) == nullptr) {
    *err = "drive " + std::to_string(source.drive) + " does not exist";
    return -1;
  }
  return source.drive;
}
