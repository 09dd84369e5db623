#pragma once

#include "disk/disk_info.h"
#include "disk/drive_identity.h"
#include "disk/drive_table.h"

#include <string>
#include <vector>

/// Drive numbers 0 to kLastProbedDrive are probed; higher numbers never are.
inline constexpr int kLastProbedDrive = 24;

/// One row of the drive list: a disk that answered, with its record and caption.
struct DriveRow {
  DiskInfo disk;        ///< DriveNumber, Parameters, IdentifyData and SectorCount set
  std::string caption;  ///< type text followed by model text
  std::string path;     ///< the device or image file that is read
  /// 0 when the disk could be opened; else the errno of the refused open (EACCES, EPERM):
  /// the row was listed from sysfs and a scan of it will fail the same way.
  int open_error = 0;
  std::string open_error_text;  ///< the system's words for open_error, "Permission denied"

  [[nodiscard]] bool Readable() const { return open_error == 0; }
};

/// Probes drive numbers 0 to 24 in order and returns one row per disk that answers.
/// A disk the user may not open is still listed when sysfs gives its size. A failure
/// inside the loop ends it: the rows so far are returned and `err` says why.
[[nodiscard]] std::vector<DriveRow> EnumerateDrives(const DriveTable& table,
                                                    const IdentifySource& identify,
                                                    std::string* err = nullptr);

/// True for the errno values of an open refused for lack of rights.
[[nodiscard]] bool IsAccessRefused(int error_number);
