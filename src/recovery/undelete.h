#pragma once

#include "disk/cancel_token.h"
#include "disk/free_space.h"
#include "disk/sector_reader.h"
#include "recovery/found_file.h"
#include "recovery/found_place.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

/// What the checks say of a deleted file's bytes.
enum class UndeleteCheck : std::uint8_t {
  kPassed,       ///< its bytes start and end as its format says
  kUnchecked,    ///< a kind the checks do not know: saved as the file system describes it
  kInUse,        ///< part of its bytes now belong to a file in use
  kOverwritten,  ///< its bytes now hold another deleted file, one that passed its checks
  kFailed,       ///< its bytes are not the kind its name or first bytes say, or break off
  kPartial,      ///< the file system knows where only part of its bytes lie
};

/// "passed", "unchecked", "in-use", "overwritten", "failed" or "partial".
[[nodiscard]] std::string_view UndeleteCheckName(UndeleteCheck check);

/// A deleted file its file system still names, checked against the disk.
struct UndeletedFile {
  DeletedEntry entry;
  int type = -1;  ///< catalogue row of what its first bytes are; -1: no kind known
  UndeleteCheck check = UndeleteCheck::kUnchecked;
  /// Where it is saved, relative to the folder saved into: undeleted/<file system>/<its path>,
  /// made safe (no "..", no absolute path, no control characters) and unique in the list.
  std::string saved_path;
  /// Saved unless the user asks: its bytes passed their checks, or no check knows them.
  [[nodiscard]] bool SavedByDefault() const {
    return check == UndeleteCheck::kPassed || check == UndeleteCheck::kUnchecked;
  }
  /// Disk byte of its first byte; for bytes kept in the file system's records, the file
  /// system's own start.
  [[nodiscard]] std::uint64_t DiskOffset(const FreeSpaceLayout& layout) const;
};

/// Checks the deleted entries of `layout` against `disk`: the kind their first bytes are,
/// whether their structure ends within their size, whether their blocks are still free.
/// Entries that are the same bytes under two names are listed once (the name that matches
/// the kind wins), and an entry that did not pass whose blocks another entry that passed now
/// holds is marked overwritten. A stopped check lists only the files checked before the stop.
[[nodiscard]] std::vector<UndeletedFile> CheckDeletedFiles(SectorReader& disk,
                                                           const FreeSpaceLayout& layout,
                                                           const CancelToken& cancel);

/// `path` as a relative path that stays inside the folder it is saved into: empty, "." and
/// ".." parts are dropped or replaced, control characters become '_' and each part is at
/// most 255 bytes. Never empty.
[[nodiscard]] std::string SafeRelativePath(std::string_view path);

/// The disk bytes where the undeleted files to be saved start: a found file that starts at
/// one is the same bytes as that file.
[[nodiscard]] std::set<std::uint64_t> UndeletedStarts(const std::vector<UndeletedFile>& undeleted,
                                                      const FreeSpaceLayout& layout);

/// The lists of `work` without the found files that start where an undeleted file to be
/// saved starts: the same bytes, saved once, under the name the file system gave.
[[nodiscard]] std::vector<std::vector<TfileExt>> WithoutUndeleted(
    const std::vector<std::vector<TfileExt>>& work, const FoundPlace& place,
    const std::vector<UndeletedFile>& undeleted, const FreeSpaceLayout& layout);
