#include "update/web_update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <fstream>
#include <system_error>

#include "update/checksum.h"
#include "update/lz_expand.h"
#include "update/prefix_expansion.h"
#include "update/status_messages.h"
#include "update/transfer.h"
#include "version/version_info.h"

namespace trawlex::update {
namespace {

constexpr size_t kCopyBlockSize = 16384;

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

/// Copies `from` into a new file beside `target` and renames it onto `target`.
bool CopyAcrossFileSystems(const std::string& from, const std::string& target, mode_t mode) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::string near = target + ".WUPDXXXXXX";
  const int out = ::mkstemp(near.data());
  if (out < 0) {
    ::close(in);
    return false;
  }
  std::array<uint8_t, kCopyBlockSize> buffer;
  bool ok = true;
  while (ok) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = WriteAll(out, buffer.data(), static_cast<size_t>(got));
  }
  ::fchmod(out, mode);
  ok = ::close(out) == 0 && ok;
  ::close(in);
  if (!ok || std::rename(near.c_str(), target.c_str()) != 0) {
    std::remove(near.c_str());
    return false;
  }
  return true;
}

std::string UpperExtension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return AsciiUpper(path.substr(dot));
}

/// Percent-encodes what would end the user-information part of a URL.
std::string EscapeUserInfo(const std::string& text) {
  static const std::string kReserved = ":@/?#%[]";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x21 || c == 0x7F || kReserved.find(static_cast<char>(c)) != std::string::npos) {
      static const char* kHex = "0123456789ABCDEF";
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

TWebUpdate::TWebUpdate() = default;
TWebUpdate::~TWebUpdate() = default;

bool TWebUpdate::AskCancel() {
  bool cancel = false;
  if (OnProgressCancel) OnProgressCancel(*this, cancel);
  if (ProcessMessages) ProcessMessages();
  return cancel;
}

int TWebUpdate::StartConnection() {
  session_.reset();
  ftp_connection_.reset();
  if (UpdateType == TWebUpdateType::fileUpdate) return 0;
  ReportStatus(918, "", 3, 0);
  if (UpdateConnect == TWebUpdateConnect::wucNone) return 0;
  // This platform has no dial-up service to ask, and a missing one counts as connected.
  ReportStatus(921, "", 3, 0);
  SessionSettings settings;
  settings.proxy = Proxy;
  settings.keep_alive = HTTPKeepAliveAuthentication;
  session_ = TransferSession::Open(settings, nullptr);
  if (!session_) {
    ReportStatus(922, "", 1, 0);
    return 2;
  }
  connected_ = true;
  return 0;
}

int TWebUpdate::FTPConnect() {
  ReportStatus(923, Host, 3, 3);
  ftp_connection_.reset();
  if (!session_ || Host.empty()) return -1;
  SessionSettings settings;
  settings.ftp = true;
  settings.ftp_passive = FTPPassive;
  if (!UserID.empty() && !Password.empty()) {
    settings.user = UserID;
    settings.password = Password;
  }
  auto connection = TransferSession::Open(settings, nullptr);
  if (!connection) return -1;
  const bool literal_v6 = Host.find(':') != std::string::npos && Host.front() != '[';
  const std::string base =
      "ftp://" + (literal_v6 ? "[" + Host + "]" : Host) + ":" + std::to_string(Port) + "/";
  const IdleHandler pump = [this] {
    if (ProcessMessages) ProcessMessages();
    return true;
  };
  if (!connection->Probe(base, pump, nullptr)) return -1;
  ftp_connection_ = std::move(connection);
  ftp_base_url_ = base;
  return 0;
}

int TWebUpdate::StopConnection() {
  if (UpdateType != TWebUpdateType::fileUpdate) {
    if (UpdateType == TWebUpdateType::ftpUpdate && ftp_connection_) {
      ftp_connection_.reset();
      ReportStatus(954, "", 3, 0);
    }
    if (session_) {
      session_.reset();
      ReportStatus(949, "", 3, 0);
    }
    ReportStatus(949, "", 3, 0);
  }
  ftp_connection_.reset();
  session_.reset();
  if (!control_file_path_.empty()) {
    std::remove(control_file_path_.c_str());
    control_file_path_.clear();
  }
  connected_ = false;
  return 0;
}

void TWebUpdate::ReportStatus(int id, const std::string& param, int statuscode, int errcode) {
  const std::string message = FormatStatusMessage(id, param);
  if (Logging) {
    std::ofstream log(kStatusLogName, std::ios::app | std::ios::binary);
    if (log) {
      log << FormatStatusLogLine(CurrentLocalDateTime(), id, message, statuscode, errcode) << '\n';
    }
  }
  if (OnStatus) OnStatus(*this, message, statuscode, errcode);
}

void TWebUpdate::ConvertPrefix(const std::string& name, std::string& value) {
  value = PlatformPrefixDirectory(name).value_or("");
}

void TWebUpdate::FileDownloaded(const std::string& filename) {
  if (OnFileDownloaded) OnFileDownloaded(*this, filename);
}

std::string TWebUpdate::ExpandPrefixes(const std::string& text) {
  std::string path = text;
  if (OnConvertPrefix) OnConvertPrefix(*this, path);
  return ExpandPrefixText(path, [this](const std::string& name) -> std::optional<std::string> {
    std::string value;
    ConvertPrefix(name, value);
    if (value.empty()) return std::nullopt;
    return value;
  });
}

std::string TWebUpdate::FileNameFromURL(const std::string& url) {
  std::string name = url;
  if (const size_t slash = name.find_last_of('/'); slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  if (const size_t backslash = name.find_last_of('\\'); backslash != std::string::npos) {
    name.erase(0, backslash + 1);
  }
  std::string fname = name;
  if (OnFileNameFromURL) OnFileNameFromURL(*this, name, fname);
  return fname;
}

std::string TWebUpdate::AddProxyCredentials(const std::string& url) const {
  if (ProxyUserID.empty()) return url;
  const std::string upper = AsciiUpper(url.substr(0, 8));
  std::string scheme;
  if (upper.rfind("HTTP://", 0) == 0) {
    scheme = "http://";
  } else if (upper.rfind("HTTPS://", 0) == 0) {
    scheme = "https://";
  } else {
    return url;
  }
  return scheme + EscapeUserInfo(ProxyUserID) + ":" + EscapeUserInfo(ProxyPassword) + "@" +
         url.substr(scheme.size());
}

DateTime TWebUpdate::ParseDateTime(const std::string& date, const std::string& time) const {
  return ParseDateTimeText(date, time, DateFormat, DateSeparator, TimeFormat, TimeSeparator);
}

std::string TWebUpdate::MakeTempFile(int* fd) {
  std::string dir = LocalPath(TempDirectory);
  if (dir.empty()) dir.push_back('.');
  if (dir.back() != kPathSeparator) dir += kPathSeparator;
  std::string name = dir + "WUPDXXXXXX.tmp";
  *fd = ::mkstemps(name.data(), 4);
  if (*fd < 0) return {};
  ::fcntl(*fd, F_SETFD, FD_CLOEXEC);
  return name;
}

bool TWebUpdate::ReplaceTarget(const std::string& temp, const std::string& target) {
  // The new file keeps the permissions of the one it replaces.
  struct stat st {};
  const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  ::chmod(temp.c_str(), mode);
  if (std::rename(temp.c_str(), target.c_str()) == 0) return true;
  if (errno != EXDEV || !CopyAcrossFileSystems(temp, target, mode)) return false;
  std::remove(temp.c_str());
  return true;
}

bool TWebUpdate::ExpandIfCompressed(const std::string& target, bool compressed) {
  if (!compressed) return false;
  std::string expanded;
  return LzExpandFile(target, &expanded, nullptr);
}

bool TWebUpdate::DownloadFile(const std::string& url, bool compressed,
                              const std::string& targetdir) {
  cancelled_ = false;
  ReportStatus(915, url, 3, 0);
  const std::string name = FileNameFromURL(url);
  const std::string dir = LocalPath(targetdir);

  if (UpdateType == TWebUpdateType::fileUpdate) {
    std::string target = dir + name;
    if (!dir.empty() && dir.back() != kPathSeparator) target = dir;
    const bool ok = CopyLocalFile(LocalPath(url), target);
    if (ok) {
      FileDownloaded(target);
      ExpandIfCompressed(target,
                         compressed && AsciiUpper(target).find(".CAB") == std::string::npos);
    }
    return ok;
  }

  TransferSession* connection = nullptr;
  std::string fetch_url;
  if (UpdateType == TWebUpdateType::httpUpdate) {
    connection = session_.get();
    fetch_url = AddProxyCredentials(url);
  } else {
    connection = ftp_connection_.get();
    if (!FTPDirectory.empty() && !ftp_directory_entered_) {
      ftp_directory_ = LocalPath(ExpandPrefixes(FTPDirectory));
      ftp_directory_entered_ = true;
    }
    std::string path;
    if (!ftp_directory_.empty()) {
      // A leading "/" names the directory from the server's root rather than the login one.
      path = ftp_directory_.front() == '/'
                 ? "%2F" + TransferSession::EscapePath(ftp_directory_.substr(1))
                 : TransferSession::EscapePath(ftp_directory_);
      if (path.back() != '/') path += '/';
    }
    fetch_url = ftp_base_url_ + path + TransferSession::EscapePath(name);
  }
  if (!connection) {
    ReportStatus(917, url, 2, 1);
    return false;
  }

  const std::string target = dir + name;
  int fd = -1;
  const std::string temp = MakeTempFile(&fd);
  if (temp.empty()) {
    throw std::system_error(errno, std::generic_category(),
                            "Cannot create a temporary file in \"" + TempDirectory + "\"");
  }
  int64_t received = 0;
  int write_errno = 0;
  // An exception from a host's handler must not unwind through the Internet library: it is
  // held, the transfer stops, and it is raised again once the temporary file is gone.
  std::exception_ptr host_error;
  const BlockHandler on_block = [&](const uint8_t* data, size_t size, int64_t total) {
    if (!WriteAll(fd, data, size)) {
      write_errno = errno;
      return BlockAnswer::kWriteError;
    }
    received += static_cast<int64_t>(size);
    try {
      if (OnFileProgress) OnFileProgress(*this, target, received, total);
      return AskCancel() ? BlockAnswer::kCancel : BlockAnswer::kContinue;
    } catch (...) {
      host_error = std::current_exception();
      return BlockAnswer::kCancel;
    }
  };
  const IdleHandler on_idle = [&] {
    try {
      return !AskCancel();
    } catch (...) {
      host_error = std::current_exception();
      return false;
    }
  };
  TransferResult result = connection->Fetch(fetch_url, on_block, on_idle);
  if (::close(fd) != 0 && result.outcome == TransferResult::Outcome::kComplete) {
    write_errno = errno;
    result.outcome = TransferResult::Outcome::kWriteError;
  }
  cancelled_ = result.outcome == TransferResult::Outcome::kCancelled;
  if (host_error) {
    std::remove(temp.c_str());
    std::rethrow_exception(host_error);
  }

  switch (result.outcome) {
    case TransferResult::Outcome::kComplete:
      break;
    case TransferResult::Outcome::kHttpStatus:
      std::remove(temp.c_str());
      ReportStatus(916, std::to_string(result.http_status), 6,
                   static_cast<int>(result.http_status));
      return false;
    case TransferResult::Outcome::kNotFound:
      std::remove(temp.c_str());
      ReportStatus(917, url, 2, 1);
      return false;
    case TransferResult::Outcome::kWriteError:
      std::remove(temp.c_str());
      throw std::system_error(write_errno, std::generic_category(),
                              "Cannot write the temporary file \"" + temp + "\"");
    case TransferResult::Outcome::kCancelled:
    case TransferResult::Outcome::kReadError:
      std::remove(temp.c_str());
      return false;
  }
  if (!ReplaceTarget(temp, target)) {
    std::remove(temp.c_str());
    return false;
  }
  FileDownloaded(target);
  ExpandIfCompressed(target, compressed && UpperExtension(target) != ".CAB");
  return received > 0;
}

bool TWebUpdate::CopyLocalFile(const std::string& source, const std::string& target) {
  cancelled_ = false;
  if (source == target) {
    ReportStatus(912, source, 10, 3);
    return false;
  }
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    ReportStatus(913, source, 2, 1);
    return false;
  }
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    ReportStatus(914, source, 10, 2);
    return false;
  }
  // Two names for one file would otherwise copy the file onto itself.
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && existing.st_dev == st.st_dev &&
      existing.st_ino == st.st_ino) {
    ::close(in);
    ReportStatus(912, source, 10, 3);
    return false;
  }
  int out = -1;
  const std::string temp = MakeTempFile(&out);
  if (temp.empty()) {
    ::close(in);
    return false;
  }
  std::array<uint8_t, kCopyBlockSize> buffer;
  int64_t copied = 0;
  bool failed = false;
  while (true) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failed = true;
    if (got <= 0) break;
    if (!WriteAll(out, buffer.data(), static_cast<size_t>(got))) {
      failed = true;
      break;
    }
    copied += got;
    if (OnFileProgress) OnFileProgress(*this, source, copied, static_cast<int64_t>(st.st_size));
    if (AskCancel()) {
      cancelled_ = true;
      break;
    }
  }
  ::close(in);
  if (::close(out) != 0) failed = true;
  if (cancelled_ || failed || !ReplaceTarget(temp, target)) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool TWebUpdate::IsNewerFile(std::string& newversion, std::string& localfile, int32_t checksum,
                             int32_t size) {
  if (newversion.empty() && size == 0 && checksum == -1) return true;
  if (localfile.empty() && VersionCheck == TWebUpdateVersionCheck::vcUpdateOnly) return true;
  const std::string local = LocalPath(localfile);
  if (checksum != -1) {
    return (UseCRC32 ? FileCrc32(local) : FileByteSum(local)) != checksum;
  }
  if (size > 0) {
    int64_t local_size = -1;
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      struct stat st {};
      if (::fstat(fd, &st) == 0) local_size = st.st_size;
      ::close(fd);
    }
    if (local_size == size) return false;
    if (local_size > 0) return true;
    return VersionCheck == TWebUpdateVersionCheck::vcAlways;
  }
  const version::VersionWords local_words = version::ReadFileVersionWords(local);
  const version::VersionWords new_words = version::ParseVersionText(newversion);
  if (!new_words.IsVersion()) return false;
  if (!local_words.IsVersion() && VersionCheck == TWebUpdateVersionCheck::vcUpdateOnly) {
    return false;
  }
  localfile = version::FormatVersionWords(local_words);
  newversion = version::FormatVersionWords(new_words);
  return new_words.ms > local_words.ms ||
         (new_words.ms == local_words.ms && new_words.ls > local_words.ls);
}

UpdateDecision TWebUpdate::FindUpdateKind(const ControlFile& control) {
  const UpdateSection update = control.Update();
  UpdateDecision decision;
  decision.description = update.descr;
  const std::string localversion = LocalPath(ExpandPrefixes(update.localversion));

  if (!update.date.empty()) {
    ReportStatus(928, "", 3, 0);
    decision.release_date = ParseDateTime(update.date, update.time);
    // No registry here: the installed release is the local file's age, else 1 January 1980.
    if (!localversion.empty()) {
      if (const auto age = FileLastWriteTime(localversion)) decision.installed_date = *age;
    }
    if (decision.release_date > decision.installed_date) {
      decision.result = kUpdateDateNewer;
      ReportStatus(929, FormatDateText(decision.release_date, DateFormat, DateSeparator), 5, 0);
    } else {
      ReportStatus(930, "", 4, 0);
    }
  }
  if (decision.result == kUpdateNothingNew && !update.unconditional.empty()) {
    decision.result = kUpdateUnconditional;
  }
  if (decision.result == kUpdateNothingNew && !update.newversion.empty()) {
    if (!localversion.empty()) {
      if (update.newchecksum != -1) {
        decision.result = kUpdateChecksumDiffers;
        ReportStatus(931, "", 3, 0);
      } else if (update.newsize <= 0) {
        decision.result = kUpdateNewerVersion;
        ReportStatus(933, "", 3, 0);
      } else {
        decision.result = kUpdateSizeDiffers;
        ReportStatus(932, "", 3, 0);
      }
    }
    std::string new_version = update.newversion;
    std::string local_version = localversion;
    if (IsNewerFile(new_version, local_version, update.newchecksum, update.newsize)) {
      ReportStatus(929, new_version, 5, 0);
    } else {
      ReportStatus(930, "", 4, 0);
      decision.result = kUpdateNothingNew;
    }
    decision.new_version = new_version;
    decision.local_version = local_version;
  }
  if (OnCustomValidate) {
    const CustomSection custom = control.Custom();
    bool allow = true;
    OnCustomValidate(*this, custom.validatemsg, custom.validateparam, allow);
    decision.result = allow ? kUpdateAcceptedByHost : kUpdateNothingNew;
  }
  return decision;
}

TFileDescription TWebUpdate::MakeFileDescription(const FileSection& section) {
  TFileDescription entry;
  entry.Compressed = section.compressed == 1;
  entry.NewCheckSum = section.newchecksum;
  entry.NewSize = section.newsize;
  entry.URL = ExpandPrefixes(section.url);
  entry.TargetDir = LocalPath(ExpandPrefixes(section.targetdir));
  if (!entry.TargetDir.empty() && entry.TargetDir.back() != kPathSeparator) {
    entry.TargetDir += kPathSeparator;
  }
  entry.LocalVersion = LocalPath(ExpandPrefixes(section.localversion));
  entry.NewVersion = section.newversion;
  entry.Description = section.descr;
  entry.NewCustomVer = section.customversion;
  entry.FileSize = section.filesize;
  entry.NewDate = section.date;
  entry.NewTime = section.time;
  return entry;
}

bool TWebUpdate::IsFileEntryKept(const TFileDescription& entry) {
  if (!entry.LocalVersion.empty() && !entry.NewDate.empty()) {
    const auto local = FileLastWriteTime(entry.LocalVersion);
    return !local || ParseDateTime(entry.NewDate, entry.NewTime) > *local;
  }
  std::string new_version = entry.NewVersion;
  std::string local_version = entry.LocalVersion;
  if (!IsNewerFile(new_version, local_version, entry.NewCheckSum, entry.NewSize)) return false;
  if (!entry.NewCustomVer.empty() && OnFileVersionCheck) {
    bool is_new = true;
    OnFileVersionCheck(*this, entry.NewCustomVer, entry.LocalVersion, is_new);
    return is_new;
  }
  return true;
}

void ApplyMainWindowValues(TWebUpdate& engine, const std::string& program_folder) {
  engine.ExtractCAB = true;
  engine.UpdateType = TWebUpdateType::httpUpdate;
  engine.UpdateConnect = TWebUpdateConnect::wucConnectSilent;
  engine.TempDirectory = program_folder;
  engine.URL = kDefaultUpdateURL;
}

}  // namespace trawlex::update
