#include "disk/drive_list.h"

#include "disk/drive_details.h"

#include <cerrno>
#include <exception>

namespace {

/// The row for drive `n`, or false when the drive does not answer.
bool ProbeDrive(const DriveTable& table, const IdentifySource& identify, int n, DriveRow& row) {
  DiskInfo::IdentifyBlock block{};
  DriveParameters parameters;
  if (!table.GetDriveParameters(n, parameters)) {
    table.Open(n, &row.open_error_text, &row.open_error);
    if (!IsAccessRefused(row.open_error) || !table.SysfsDriveParameters(n, parameters))
      return false;
  }
  row.disk.SetDriveNumber(n);
  row.disk.SetParameters(parameters);
  IdentifyDrive(table, identify, n, block);
  row.disk.SetIdentifyData(block);
  row.caption = TypeText(row.disk) + ModelText(row.disk);
  // The whole disk: a product of cylinders, heads and sectors per track would leave out
  // the last part-cylinder and wrap at 2^32 sectors.
  row.disk.SetSectorCount(parameters.TotalSectors);
  row.path = table.Find(n)->path;
  return true;
}

}  // namespace

bool IsAccessRefused(int error_number) {
  return error_number == EACCES || error_number == EPERM;
}

std::vector<DriveRow> EnumerateDrives(const DriveTable& table, const IdentifySource& identify,
                                      std::string* err) {
  std::vector<DriveRow> rows;
  if (err) err->clear();
  for (int n = 0; n <= kLastProbedDrive; ++n) {
    try {
      DriveRow row;
      if (ProbeDrive(table, identify, n, row)) rows.push_back(std::move(row));
    } catch (const std::exception& e) {
      if (err) *err = "drive " + std::to_string(n) + ": " + e.what();
      break;
    }
  }
  return rows;
}
