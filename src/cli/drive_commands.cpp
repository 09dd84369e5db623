// `trawlex drives`: the drive list the window's first page shows.

#include "cli/commands.h"
#include "cli/json_output.h"
#include "disk/drive_details.h"
#include "disk/drive_list.h"

#include <algorithm>
#include <clocale>
#include <cstdio>

#include <unistd.h>

namespace {

/// The user's decimal separator, as the window takes it from the user's locale.
std::string UserDecimalSeparator() {
  std::string separator = ".";
  if (std::setlocale(LC_NUMERIC, "") != nullptr) {
    if (const char* point = std::localeconv()->decimal_point; point && *point) separator = point;
    std::setlocale(LC_NUMERIC, "C");
  }
  return separator;
}

/// A text on one line and in one TSV field: control characters become blanks.
std::string OneLine(std::string text) {
  for (char& ch : text)
    if (static_cast<unsigned char>(ch) < ' ' || ch == 0x7F) ch = ' ';
  return text;
}

void PrintTable(const std::vector<DriveRow>& rows, bool details, const std::string& separator) {
  for (const DriveRow& row : rows) {
    std::printf("%d  %s\n", row.disk.DriveNumber(), OneLine(row.caption).c_str());
    if (!details) continue;
    const DriveDetails d = DriveDetailTexts(row.disk, separator);
    std::printf("    Drive type:       %s\n", OneLine(d.type).c_str());
    std::printf("    Drive model:      %s\n", OneLine(d.model).c_str());
    std::printf("    Physical ID:      %s\n", d.physical_id.c_str());
    std::printf("    Bytes per sector: %s\n", d.bytes_per_sector.c_str());
    std::printf("    Capacity:         %s\n", d.capacity.c_str());
    std::printf("    Device:           %s\n", OneLine(row.path).c_str());
    if (!row.Readable())
      std::printf("    Readable:         no (%s)\n", row.open_error_text.c_str());
  }
}

void PrintTsv(const std::vector<DriveRow>& rows, bool details, const std::string& separator) {
  std::printf(
      "physical_id\tcaption%s\n",
      details ? "\tdrive_type\tdrive_model\tbytes_per_sector\tcapacity\tsectors\tpath\terror" : "");
  for (const DriveRow& row : rows) {
    std::printf("%d\t%s", row.disk.DriveNumber(), OneLine(row.caption).c_str());
    if (details) {
      const DriveDetails d = DriveDetailTexts(row.disk, separator);
      std::printf("\t%s\t%s\t%s\t%s\t%llu\t%s\t%s", OneLine(d.type).c_str(),
                  OneLine(d.model).c_str(), d.bytes_per_sector.c_str(), d.capacity.c_str(),
                  static_cast<unsigned long long>(row.disk.SectorCount()),
                  OneLine(row.path).c_str(), row.open_error_text.c_str());
    }
    std::printf("\n");
  }
}

void PrintJson(const std::vector<DriveRow>& rows, bool details, const std::string& separator,
               const std::string& err) {
  Json list = Json::array();
  for (const DriveRow& row : rows) {
    Json drive;
    drive["physical_id"] = row.disk.DriveNumber();
    PutText(drive, "caption", row.caption);
    PutText(drive, "path", row.path);
    drive["sectors"] = row.disk.SectorCount();
    drive["readable"] = row.Readable();
    if (!row.Readable()) PutText(drive, "error", row.open_error_text);
    if (details) {
      const DriveDetails d = DriveDetailTexts(row.disk, separator);
      Json fields;
      PutText(fields, "drive_type", d.type);
      PutText(fields, "drive_model", d.model);
      PutText(fields, "physical_id", d.physical_id);
      PutText(fields, "bytes_per_sector", d.bytes_per_sector);
      PutText(fields, "capacity", d.capacity);
      drive["details"] = std::move(fields);
    }
    list.push_back(std::move(drive));
  }
  Json doc;
  doc["drives"] = std::move(list);
  doc["complete"] = err.empty();
  WriteJson(doc);
  std::fputc('\n', stdout);
}

}  // namespace

int RunDrives(const DrivesArgs& args) {
  const bool details = args.details;
  const std::string& format = args.format;
  const std::vector<std::string>& images = args.images;
  DriveTable& table = DefaultDriveTable();
  std::vector<int> image_drives;
  for (const std::string& image : images) image_drives.push_back(table.RegisterImage(image));
  const auto identify = PlatformIdentifySource(table.SysfsRoot());
  std::string err;
  const std::vector<DriveRow> rows = EnumerateDrives(table, *identify, &err);
  const std::string separator = UserDecimalSeparator();
  if (format == "tsv") {
    PrintTsv(rows, details, separator);
  } else if (format == "json") {
    PrintJson(rows, details, separator, err);
  } else {
    PrintTable(rows, details, separator);
  }
  if (!err.empty()) std::fprintf(stderr, "trawlex drives: probing stopped at %s\n", err.c_str());
  int rc = kExitDone;
  for (const int drive : image_drives) {
    const auto listed = [drive](const DriveRow& row) { return row.disk.DriveNumber() == drive; };
    if (std::any_of(rows.begin(), rows.end(), listed)) continue;
    std::string why = "drive numbers above " + std::to_string(kLastProbedDrive) + " are not listed";
    if (drive <= kLastProbedDrive && table.Open(drive, &why) == nullptr)
      why = "cannot open: " + why;
    std::fprintf(stderr, "trawlex drives: %s: %s\n", table.Find(drive)->path.c_str(), why.c_str());
    rc = kExitSourceUnreadable;
  }
  for (const DriveRow& row : rows) {
    if (row.Readable()) continue;
    std::fprintf(stderr, "trawlex drives: drive %d (%s) cannot be read: %s; %s\n",
                 row.disk.DriveNumber(), row.path.c_str(), row.open_error_text.c_str(),
                 ::geteuid() == 0
                     ? "the system refuses it even to root, scan an image instead"
                     : "run as root (sudo trawlex ...), or scan an image of the disk instead");
  }
  return rc;
}
