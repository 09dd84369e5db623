#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "update/profile_file.h"

namespace trawlex::update {

/// Local civil date and time, as the control file writes it and the file system shows it.
using DateTime = std::chrono::local_seconds;

/// 1 January 1980 0:00, the date-time of anything that has none.
[[nodiscard]] DateTime DefaultDateTime();

/// Parses a date by the order of "d", "m" and "y" in `format` (for example "dd/mm/yyyy") with
/// `separator` between the numbers; a two-digit year lands in 1950..2049.
[[nodiscard]] std::optional<DateTime> ParseDateText(const std::string& text,
                                                    const std::string& format, char separator);
/// Parses "h:m" or "h:m:s" with `separator`; the format only decides nothing beyond that.
[[nodiscard]] std::optional<std::chrono::seconds> ParseTimeText(const std::string& text,
                                                                const std::string& format,
                                                                char separator);
/// Date plus time of day; a date that does not parse gives 1 January 1980, a bad time adds nothing.
[[nodiscard]] DateTime ParseDateTimeText(const std::string& date, const std::string& time,
                                         const std::string& date_format, char date_separator,
                                         const std::string& time_format, char time_separator);
/// Writes the date part by `format` ("dd", "mm", "yyyy" and so on) with `separator`.
[[nodiscard]] std::string FormatDateText(DateTime when, const std::string& format, char separator);
/// The current local date and time.
[[nodiscard]] DateTime CurrentLocalDateTime();
/// Last-write time of a file in local time, or nullopt when it does not exist.
[[nodiscard]] std::optional<DateTime> FileLastWriteTime(const std::string& path);

/// Replaces every backslash + "n" in a "msg" or "query" text by a line break.
[[nodiscard]] std::string ExpandLineBreaks(const std::string& text);

struct UpdateSection {
  std::string signature, descr, date, time, localversion, unconditional, newversion;
  int32_t newsize = 0;
  int32_t newchecksum = -1;
};

struct ApplicationSection {
  int32_t appupdate = 0;
  std::string appname, appcomps;
  int32_t silentrestart = 0;
};

struct ActionSection {
  std::string msg, htmldlg, runbefore, query, showURL;
};

struct CustomSection {
  std::string validatemsg, validateparam, processmsg, processparam;
};

struct WhatsNewSection {
  std::string file, caption, okbtn = "Ok", cancelbtn = "Cancel";
};

struct EulaSection {
  std::string file, caption, okbtn = "Ok", accept = "I accept", notaccept = "I do not accept";
};

/// One `[fileN]` section as written; paths are not yet expanded.
struct FileSection {
  std::string url, localversion, newversion;
  int32_t newsize = 0;
  int32_t newchecksum = -1;
  std::string customversion, date, time, descr, targetdir;
  int32_t compressed = 0;
  int32_t filesize = 0;
  /// SHA-256 of the file as installed (after expansion), 64 hexadecimal digits; empty: none.
  std::string sha256;
};

/// The update control file: every section and key the engine reads, with its default.
class ControlFile {
 public:
  ControlFile() = default;
  explicit ControlFile(ProfileFile profile) : profile_(std::move(profile)) {}

  static std::optional<ControlFile> Load(const std::string& path, std::string* err);
  static ControlFile FromText(const std::string& text) {
    return ControlFile(ProfileFile::FromText(text));
  }

  [[nodiscard]] UpdateSection Update() const;
  [[nodiscard]] ApplicationSection Application() const;
  [[nodiscard]] ActionSection Action() const;
  [[nodiscard]] CustomSection Custom() const;
  [[nodiscard]] WhatsNewSection WhatsNew() const;
  [[nodiscard]] EulaSection Eula() const;
  /// `[files]` "count"; entries are `File(1)` .. `File(count)`.
  [[nodiscard]] int32_t FileCount() const;
  [[nodiscard]] FileSection File(int index) const;

  [[nodiscard]] const ProfileFile& Profile() const { return profile_; }

 private:
  ProfileFile profile_;
};

}  // namespace trawlex::update
