#pragma once

#include "detect/file_end.h"
#include "recovery/found_file.h"
#include "recovery/found_place.h"
#include "recovery/undelete.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

/// The DFXML schema version the recovery report follows.
inline constexpr char kDfxmlVersion[] = "1.2.0";
/// Namespace of the report's own elements (end reasons, options, sector counts).
inline constexpr char kTrawlexDfxmlNamespace[] = "urn:x-ostrel-trawlex:dfxml:1";

/// One saved file of a recovery.
struct ReportFile {
  std::string name;              ///< the saved file's name in the output folder
  std::uint64_t img_offset = 0;  ///< byte offset of its first byte on the source
  std::uint64_t len = 0;         ///< bytes saved
  std::string sha256_hex;        ///< of the bytes saved, 64 lower-case hex digits
  EndReason end = EndReason::kNextStart;
  /// The saved bytes are known not to hold the whole file: a broken structure, a cut at
  /// the size limit or the disk end, or a save stopped midway.
  bool incomplete = false;
  /// Where the saved bytes lie on the source, in order, when not in one piece from img_offset.
  std::vector<ByteRun> runs;
  /// How it was found: "carved" (by its first bytes) or "undeleted" (its file system named
  /// it; `name` is then its path there and `saved_as` where it was saved).
  std::string source = "carved";
  std::string saved_as;
  const FileSystemArea* file_system = nullptr;  ///< the file system it lies in, when known
  std::string check;                            ///< an undeleted file's check, by name
};

/// The recovery run: what was read, with which options, by whom and when.
struct ReportSource {
  std::string image_filename;  ///< the image or device path
  std::uint64_t image_size = 0;
  std::uint32_t sector_size = 512;
  std::uint64_t sector_count = 0;
  std::uint64_t sectors_examined = 0;
  std::uint64_t unreadable_sectors = 0;
  bool real_ends = false;
  std::uint32_t size_limit_mb = 0;  ///< per-file limit; 0: none
  int retry_passes = 0;
  std::string program = "Ostrel Trawlex Finder";
  std::string program_version;  ///< empty: this build's version
  std::string command_line;
  std::chrono::system_clock::time_point start_time;
  std::chrono::system_clock::time_point end_time;
};

/// This build's version, as the project declares it.
[[nodiscard]] const char* TrawlexVersion();

/// Joins argv into one line, quoting the words a shell would split or expand.
[[nodiscard]] std::string CommandLineText(int argc, const char* const* argv);

/// The entry of `file` once FileSaver has saved it into `folder`: its place on the source,
/// and the size and SHA-256 of the saved bytes as they are on disk. Incomplete when its
/// end was broken, the limit or the disk end, or fewer bytes were saved than it has.
/// False, with the reason in `err`, when the saved file cannot be read.
bool SavedFileEntry(const TfileExt& file, const std::string& folder, ReportFile* entry,
                    std::string* err, const FoundPlace& place = {});

/// Writes the DFXML report of a recovery to `path`: one fileobject per saved file with
/// its place on the source, size, SHA-256 and end reason. The report is written beside
/// `path` and renamed over it only when complete, so a failed write leaves any earlier
/// report as it was and no partial one. False with the reason in `err` on failure.
bool WriteDfxmlReport(const std::string& path, const ReportSource& source,
                      const std::vector<ReportFile>& files, std::string* err);

/// Writes `folder`/report.xml for the files of `work` whose names are in `written`, in the
/// order they were written. False, with the reason in `err`, when a saved file cannot be
/// read back or the report cannot be written.
/// With `layout`, each file names the file system it lies in, and the files of `undeleted`
/// written under their saved paths are reported as undeleted, by their names.
bool WriteRecoveryReport(const std::string& folder, const ReportSource& source,
                         const std::vector<std::vector<TfileExt>>& work,
                         const std::vector<std::string>& written, std::string* err,
                         const FoundPlace& place = {}, const FreeSpaceLayout* layout = nullptr,
                         const std::vector<UndeletedFile>& undeleted = {});
