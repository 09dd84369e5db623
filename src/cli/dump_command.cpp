// `trawlex dump`: sectors as the sector viewer shows them, 16 bytes to a line.

#include "cli/commands.h"
#include "cli/source.h"
#include "disk/drive_table.h"
#include "viewer/dump_format.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr int kSectorSize = 512;
constexpr int kBytesPerLine = 16;
/// The largest sector whose byte offset a read can still address.
constexpr std::uint64_t kMaxSector =
    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / kSectorSize;

/// `text` as the whole number `name` takes; false with `err` set when it is not one.
bool ParseNumber(const std::string& text, const std::string& name, std::uint64_t& value,
                 std::string* err) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    *err = "'" + text + "' is not a valid number for " + name;
    return false;
  }
  return true;
}

void PrintSector(std::uint64_t lba, const std::uint8_t* bytes) {
  std::printf("sector : %llu\n", static_cast<unsigned long long>(lba));
  const DumpFormat& format = FormatOf(DumpStyle::kText);
  for (int offset = 0; offset < kSectorSize; offset += kBytesPerLine) {
    const std::string line = FormatDumpLine(format, static_cast<std::uint64_t>(offset),
                                            bytes + offset, kBytesPerLine, kBytesPerLine);
    std::printf("%s\n", line.c_str());
  }
}

}  // namespace

int RunDump(const DumpArgs& args) {
  std::string err;
  std::uint64_t lba = 0;
  std::uint64_t count = 1;
  const SourceArgs& source = args.source;
  if (!args.lba) {
    err = "--lba N is required";
  } else if (ParseNumber(*args.lba, "--lba", lba, &err) &&
             (!args.count || ParseNumber(*args.count, "--count", count, &err))) {
    if (count == 0) err = "--count must be at least 1";
    if (err.empty() && lba > kMaxSector) err = "sector " + std::to_string(lba) + " is out of range";
  }
  if (err.empty()) CheckSource(source, &err);
  if (!err.empty()) {
    std::fprintf(stderr, "trawlex dump: %s\n", err.c_str());
    return kExitUsage;
  }

  DriveTable& table = DefaultDriveTable();
  const int drive = ResolveDrive(table, source, &err);
  if (drive < 0) {
    std::fprintf(stderr, "trawlex dump: %s\n", err.c_str());
    return kExitSourceUnreadable;
  }
  const DriveEntry* entry = table.Find(drive);
  const auto reader = table.Open(drive, &err);
  if (!reader) {
    std::fprintf(stderr, "trawlex dump: cannot open %s: %s\n", entry->path.c_str(), err.c_str());
    return kExitSourceUnreadable;
  }
  const std::uint64_t sectors = reader->SectorCount();
  if (lba >= sectors) {
    std::fprintf(stderr, "trawlex dump: sector %llu lies past the end of %s (%llu sectors)\n",
                 static_cast<unsigned long long>(lba), entry->path.c_str(),
                 static_cast<unsigned long long>(sectors));
    return kExitSourceUnreadable;
  }

  // Sectors past the end are not invented: the dump stops at the last one and says so.
  const std::uint64_t available = sectors - lba;
  const std::uint64_t shown = count < available ? count : available;
  std::uint8_t sector[kSectorSize];
  for (std::uint64_t i = 0; i < shown; ++i) {
    const ReadResult r = reader->ReadAt((lba + i) * kSectorSize, sector, kSectorSize);
    if (r.error != 0 || r.bytes != kSectorSize) {
      std::fflush(stdout);
      std::fprintf(stderr, "trawlex dump: sector %llu of %s cannot be read%s%s\n",
                   static_cast<unsigned long long>(lba + i), entry->path.c_str(),
                   r.error != 0 ? ": " : "", r.error != 0 ? std::strerror(r.error) : "");
      return kExitSourceUnreadable;
    }
    if (i > 0) std::printf("\n");
    PrintSector(lba + i, sector);
  }
  if (shown < count) {
    std::fflush(stdout);
    std::fprintf(stderr, "trawlex dump: %s ends after sector %llu; %llu of %llu sectors shown\n",
                 entry->path.c_str(), static_cast<unsigned long long>(sectors - 1),
                 static_cast<unsigned long long>(shown), static_cast<unsigned long long>(count));
    return kExitSourceUnreadable;
  }
  return kExitDone;
}
