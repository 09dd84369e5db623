// `trawlex types` and `trawlex info`.

#include "cli/commands.h"
#include "cli/source.h"
#include "detect/file_catalogue.h"
#include "disk/drive_table.h"

#include <cstdio>
#include <memory>

int RunTypes() {
  for (int i = 0; i < kFileTypeCount; ++i) {
    if (i == kChainTypeCount) std::printf("with --real-ends also:\n");
    std::printf("%2d  %-8s %s\n", i, std::string(FileTypeTag(i)).c_str(),
                std::string(FileTypeDescription(i)).c_str());
  }
  return kExitDone;
}

int RunInfo(const SourceArgs& source) {
  std::string err;
  if (!CheckSource(source, &err)) {
    std::fprintf(stderr, "trawlex info: %s\n", err.c_str());
    return kExitUsage;
  }
  DriveTable& table = DefaultDriveTable();
  const int drive = ResolveDrive(table, source, &err);
  if (drive < 0) {
    std::fprintf(stderr, "trawlex info: %s\n", err.c_str());
    return kExitSourceUnreadable;
  }
  const DriveEntry* entry = table.Find(drive);
  if (!table.Open(drive, &err)) {
    std::fprintf(stderr, "trawlex info: cannot open %s: %s\n", entry->path.c_str(), err.c_str());
    return kExitSourceUnreadable;
  }
  DriveParameters p;
  DiskGeometry g;
  if (!table.GetDriveParameters(drive, p) || !table.GetDiskGeometry(drive, g)) {
    std::fprintf(stderr, "trawlex info: %s does not answer\n", entry->path.c_str());
    return kExitSourceUnreadable;
  }
  std::printf("Source:            %s\n", entry->path.c_str());
  std::printf("Drive number:      %d\n", drive);
  std::printf("Total sectors:     %llu\n", static_cast<unsigned long long>(p.TotalSectors));
  std::printf("Size:              %llu bytes\n",
              static_cast<unsigned long long>(p.TotalSectors) * 512ULL);
  std::printf("Cylinders:         %u\n", p.Cylinders);
  std::printf("Heads:             %u\n", p.Heads);
  std::printf("Sectors per track: %u\n", p.SectorsPerTrack);
  std::printf("Bytes per sector:  %u\n", p.BytesPerSector);
  std::printf("Removable:         %s\n", (p.Flags & kRemovableFlag) ? "yes" : "no");
  std::printf("Media type:        %u\n", g.MediaType);
  return kExitDone;
}
