#include "update/web_update.h"
#include "update/transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "update/checksum.h"
#include "update/lz_expand.h"
#include "update/prefix_expansion.h"
#include "update/status_messages.h"
#include "version/version_info.h"

namespace trawlex::update {
namespace {

constexpr size_t kCopyBlockSize = 16384;

/// A file descriptor closed with the object.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  [[nodiscard]] int get() const { return fd_; }
  /// Closes now; false when closing reports an error (a write that did not reach the disk).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

/// A temporary file removed with the object unless it has been put in place.
class TempFile {
 public:
  explicit TempFile(std::string path = {}) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  TempFile& operator=(TempFile&& other) noexcept {
    if (this != &other) {
      if (!path_.empty()) std::remove(path_.c_str());
      path_ = other.Keep();
    }
    return *this;
  }
  [[nodiscard]] const std::string& path() const { return path_; }
  /// The file has been renamed away (or handed on): nothing is left to remove.
  std::string Keep() { return std::exchange(path_, {}); }

 private:
  std::string path_;
};

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
  const ScopedFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return false;
  std::string name = target + ".WUPDXXXXXX";
  ScopedFd out(::mkstemp(name.data()));
  if (out.get() < 0) return false;
  TempFile near(name);
  std::array<uint8_t, kCopyBlockSize> buffer;
  bool ok = true;
  while (ok) {
    const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = WriteAll(out.get(), buffer.data(), static_cast<size_t>(got));
  }
  ::fchmod(out.get(), mode);
  ok = out.Close() && ok;
  if (!ok || std::rename(name.c_str(), target.c_str()) != 0) return false;
  near.Keep();
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

/// The path with every symbolic link and "." or ".." resolved; empty when it does not exist.
std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string out = resolved;
  std::free(resolved);
  return out;
}

bool IsInside(const std::string& dir, const std::string& root) {
  if (root == "/") return true;
  return dir.compare(0, root.size(), root) == 0 &&
         (dir.size() == root.size() || dir[root.size()] == '/');
}

/// Why the file at `path` is not the one `expected` describes; nullopt when it is.
std::optional<std::string> Mismatch(const std::string& path, const ExpectedFile& expected,
                                    bool crc) {
  if (expected.size > 0) {
    struct stat st {};
    const int64_t size = ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
    if (size != expected.size) {
      return "it has " + std::to_string(size) + " bytes, not the " + std::to_string(expected.size) +
             " its entry gives";
    }
  }
  if (expected.checksum != -1) {
    const int32_t sum = crc ? FileCrc32(path) : FileByteSum(path);
    if (sum != expected.checksum) {
      return "its checksum is " + std::to_string(sum) + ", not the " +
             std::to_string(expected.checksum) + " its entry gives";
    }
  }
  if (!expected.sha256.empty()) {
    std::string wanted;
    for (char c : expected.sha256) {
      if (c != ' ' && c != '\t')
        wanted += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (wanted.size() != 64 || wanted.find_first_not_of("0123456789abcdef") != std::string::npos) {
      return "its entry's sha256 value \"" + expected.sha256 + "\" is not 64 hexadecimal digits";
    }
    const std::string actual = FileSha256(path).value_or("unreadable");
    if (actual != wanted) {
      return "its SHA-256 is " + actual + ", not the " + wanted + " its entry gives";
    }
  }
  return std::nullopt;
}

}  // namespace

TWebUpdate::TWebUpdate() = default;
TWebUpdate::~TWebUpdate() {
  if (!control_file_path_.empty()) std::remove(control_file_path_.c_str());
  // Empty unless the updater was started from it; then the updater removes it.
  if (!run_dir_.empty()) ::rmdir(run_dir_.c_str());
}

void TWebUpdate::RefuseDuringTransfer(const char* operation) const {
  if (transfer_depth_ > 0) {
    throw std::logic_error(std::string(operation) +
                           " cannot run while a transfer is running; only StopConnection may be "
                           "called from the update engine's handlers then");
  }
}

template <typename Body>
auto TWebUpdate::AsTransfer(const char* operation, Body body) -> decltype(body()) {
  RefuseDuringTransfer(operation);
  ++transfer_depth_;
  std::optional<decltype(body())> result;
  std::exception_ptr error;
  try {
    result = body();
  } catch (...) {
    error = std::current_exception();
  }
  --transfer_depth_;
  // A stop asked for by a handler closes the session only now that nothing uses it.
  if (stop_pending_) {
    stop_pending_ = false;
    StopConnection();
  }
  if (error) std::rethrow_exception(error);
  return *result;
}

bool TWebUpdate::AskCancel() {
  if (stop_pending_) return true;
  bool cancel = false;
  if (OnProgressCancel) OnProgressCancel(*this, cancel);
  if (ProcessMessages) ProcessMessages();
  return cancel || stop_pending_;
}

bool TWebUpdate::HttpsOnly() const {
  return UpdateType == TWebUpdateType::httpUpdate && StartsWithNoCase(URL, "https://");
}

SessionSettings TWebUpdate::MakeSessionSettings() const {
  SessionSettings settings;
  settings.proxy = Proxy;
  settings.proxy_user = ProxyUserID;
  settings.proxy_password = ProxyPassword;
  settings.ca_file = CertificateAuthorities;
  settings.stall_seconds = StallTimeout;
  return settings;
}

int TWebUpdate::StartConnection() {
  RefuseDuringTransfer("StartConnection");
  session_.reset();
  ftp_connection_.reset();
  if (UpdateType == TWebUpdateType::fileUpdate) return 0;
  ReportStatus(918, "", 3, 0);
  if (UpdateConnect == TWebUpdateConnect::wucNone) return 0;
  // This platform has no dial-up service to ask, and a missing one counts as connected.
  ReportStatus(921, "", 3, 0);
  SessionSettings settings = MakeSessionSettings();
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
  return AsTransfer("FTPConnect", [this] {
    ReportStatus(923, Host, 3, 3);
    ftp_connection_.reset();
    if (!session_ || Host.empty()) return -1;
    SessionSettings settings = MakeSessionSettings();
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
      return !stop_pending_;
    };
    if (!connection->Probe(base, pump, nullptr) || stop_pending_) return -1;
    ftp_connection_ = std::move(connection);
    ftp_base_url_ = base;
    return 0;
  });
}

int TWebUpdate::StopConnection() {
  if (transfer_depth_ > 0) {
    stop_pending_ = true;  // carried out when the transfer has unwound
    return 0;
  }
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

void TWebUpdate::ReportRefused(const std::string& url, const std::string& why) {
  refused_reported_ = true;
  ReportStatus(946, url + " (" + why + ")", 2, 0);
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
  if (ProxyUserID.empty() || !StartsWithNoCase(url, "http://")) return url;
  return "http://" + EscapeUserInfo(ProxyUserID) + ":" + EscapeUserInfo(ProxyPassword) + "@" +
         url.substr(7);
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
  if (*fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    // An installed program's folder is read-only: the private run folder holds the temporaries.
    const std::string& run = RunDirectory();
    if (run.empty()) return {};
    name = run + "/WUPDXXXXXX.tmp";
    *fd = ::mkstemps(name.data(), 4);
  }
  if (*fd < 0) return {};
  ::fcntl(*fd, F_SETFD, FD_CLOEXEC);
  return name;
}

bool TWebUpdate::ReplaceTarget(const std::string& temp, const std::string& target) {
  // The new file keeps the permission bits of the regular file it replaces, never more.
  struct stat st {};
  const mode_t mode =
      ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 0777) : 0644;
  ::chmod(temp.c_str(), mode);
  if (std::rename(temp.c_str(), target.c_str()) == 0) return true;
  if (errno != EXDEV || !CopyAcrossFileSystems(temp, target, mode)) return false;
  std::remove(temp.c_str());
  return true;
}

std::vector<std::string> TWebUpdate::AllowedRoots() {
  std::vector<std::string> roots;
  for (const char* prefix : {"APP", "TMP"}) {
    std::string value;
    ConvertPrefix(prefix, value);
    if (!value.empty()) roots.push_back(value);
  }
  roots.push_back(TempDirectory.empty() ? "." : LocalPath(TempDirectory));
  std::vector<std::string> real;
  for (const std::string& root : roots) {
    std::string resolved = RealPath(root);
    if (!resolved.empty()) real.push_back(std::move(resolved));
  }
  return real;
}

bool TWebUpdate::MakeTargetFolder(const std::string& dir, std::string* why) {
  std::string path = dir;
  while (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
  // The deepest folder that exists must lie inside an allowed folder, and nothing below it
  // may climb out again.
  std::vector<std::string> missing;
  while (RealPath(path).empty()) {
    const size_t slash = path.find_last_of(kPathSeparator);
    const std::string part = slash == std::string::npos ? path : path.substr(slash + 1);
    if (part == "..") {
      *why = "its target folder \"" + dir + "\" climbs out with \"..\"";
      return false;
    }
    missing.push_back(part);
    if (slash == std::string::npos) {
      path = ".";
      break;
    }
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  const std::string base = RealPath(path);
  bool inside = false;
  for (const std::string& root : AllowedRoots()) inside = inside || IsInside(base, root);
  if (!inside) {
    *why = "its target folder \"" + dir +
           "\" lies outside the program's folder and the temporary directory";
    return false;
  }
  std::string made = base;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    made += (made == "/" ? "" : "/") + *it;
    if (::mkdir(made.c_str(), 0755) != 0 && errno != EEXIST) {
      *why = "its target folder \"" + made + "\" cannot be made (" + std::strerror(errno) + ")";
      return false;
    }
  }
  return true;
}

std::optional<std::string> TWebUpdate::ConfineTarget(const std::string& target, std::string* why) {
  const size_t slash = target.find_last_of(kPathSeparator);
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    *why = "\"" + target + "\" names no file";
    return std::nullopt;
  }
  const std::string real_dir = RealPath(dir);
  if (real_dir.empty()) {
    *why = "its target folder \"" + dir + "\" does not exist";
    return std::nullopt;
  }
  for (const std::string& real_root : AllowedRoots()) {
    if (IsInside(real_dir, real_root)) return target;
  }
  *why =
      "its target \"" + target + "\" lies outside the program's folder and the temporary directory";
  return std::nullopt;
}

bool TWebUpdate::DownloadFile(const std::string& url, bool compressed, const std::string& targetdir,
                              const ExpectedFile& expected, DownloadOutcome* outcome) {
  const std::string installed = AsTransfer(
      "DownloadFile", [&] { return DownloadFileNow(url, compressed, targetdir, expected); });
  if (outcome) *outcome = {};
  if (installed.empty()) return false;
  if (outcome) {
    outcome->path = installed;
    outcome->expanded = last_expanded_;
  }
  // Raised once the transfer is over, so that the handler may start the next one.
  FileDownloaded(installed);
  return true;
}

std::string TWebUpdate::DownloadFileNow(const std::string& url, bool compressed,
                                        const std::string& targetdir,
                                        const ExpectedFile& expected) {
  cancelled_ = false;
  refused_reported_ = false;
  last_expanded_ = false;
  ReportStatus(915, url, 3, 0);
  const std::string name = FileNameFromURL(url);
  const std::string dir = LocalPath(targetdir);
  const bool local = UpdateType == TWebUpdateType::fileUpdate;
  std::string target = dir + name;
  if (local && !dir.empty() && dir.back() != kPathSeparator) target = dir;
  std::string why;
  if (!ConfineTarget(target, &why)) {
    ReportRefused(url, why);
    return {};
  }
  std::string temp;
  bool expand = false;
  if (local) {
    temp = CopyToTempFile(LocalPath(url), target);
    expand = compressed && AsciiUpper(target).find(".CAB") == std::string::npos;
  } else {
    temp = FetchToTempFile(url, name, target, expected, compressed);
    expand = compressed && UpperExtension(target) != ".CAB";
  }
  if (temp.empty()) return {};
  last_expanded_ = expand;
  return InstallDownload(temp, target, expand, expected, url);
}

std::string TWebUpdate::FetchToTempFile(const std::string& url, const std::string& name,
                                        const std::string& target, const ExpectedFile& expected,
                                        bool compressed) {
  const bool http = UpdateType == TWebUpdateType::httpUpdate;
  TransferSession* connection = nullptr;
  std::string fetch_url;
  if (http) {
    if (HttpsOnly() && !StartsWithNoCase(url, "https://")) {
      ReportRefused(url, "only https is accepted when the control file comes over https");
      return {};
    }
    connection = session_.get();
    fetch_url = url;
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
    return {};
  }

  int fd = -1;
  TempFile temp(MakeTempFile(&fd));
  if (temp.path().empty()) {
    throw std::system_error(errno, std::generic_category(),
                            "Cannot create a temporary file in \"" + TempDirectory + "\"");
  }
  ScopedFd out(fd);
  FetchLimits limits;
  limits.https_only = http && HttpsOnly();
  limits.max_bytes = MaxDownloadSize;
  if (expected.size > 0) {
    // A compressed file may be somewhat larger than what it expands to, never much larger.
    const int64_t size = expected.size;
    limits.max_bytes = compressed ? size + size / 8 + 64 : size;
  }
  int64_t received = 0;
  int write_errno = 0;
  // An exception from a host's handler must not unwind through the Internet library: it is
  // held, the transfer stops, and it is raised again once the temporary file is gone.
  std::exception_ptr host_error;
  const BlockHandler on_block = [&](const uint8_t* data, size_t size, int64_t total) {
    if (!WriteAll(out.get(), data, size)) {
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
  TransferResult result = connection->Fetch(fetch_url, on_block, on_idle, limits);
  if (!out.Close() && result.outcome == TransferResult::Outcome::kComplete) {
    write_errno = errno;
    result.outcome = TransferResult::Outcome::kWriteError;
  }
  cancelled_ = result.outcome == TransferResult::Outcome::kCancelled;
  if (host_error) std::rethrow_exception(host_error);

  const std::string reason = result.error.empty() ? "" : " (" + result.error + ")";
  switch (result.outcome) {
    case TransferResult::Outcome::kComplete:
      return temp.Keep();
    case TransferResult::Outcome::kHttpStatus:
      ReportStatus(916, std::to_string(result.http_status), 6,
                   static_cast<int>(result.http_status));
      return {};
    case TransferResult::Outcome::kNotFound:
      ReportStatus(917, url + reason, 2, 1);
      return {};
    case TransferResult::Outcome::kWriteError:
      throw std::system_error(write_errno, std::generic_category(),
                              "Cannot write the temporary file \"" + temp.path() + "\"");
    case TransferResult::Outcome::kTooLarge:
      ReportRefused(url,
                    "it is larger than the " + std::to_string(limits.max_bytes) + " bytes allowed");
      return {};
    case TransferResult::Outcome::kReadError:
      ReportRefused(url, "the transfer broke off after " + std::to_string(received) + " bytes" +
                             (result.error.empty() ? "" : ": " + result.error));
      return {};
    case TransferResult::Outcome::kCancelled:
      return {};
  }
  return {};
}

std::string TWebUpdate::InstallDownload(const std::string& temp, const std::string& target,
                                        bool expand, const ExpectedFile& expected,
                                        const std::string& url) {
  TempFile downloaded(temp);
  struct stat st {};
  if (::stat(temp.c_str(), &st) != 0 || st.st_size == 0) {
    ReportRefused(url, "no data arrived");
    return {};
  }
  std::string installed = target;
  TempFile expanded;
  if (expand) {
    const ScopedFd in(::open(temp.c_str(), O_RDONLY | O_CLOEXEC));
    std::array<uint8_t, 14> head{};
    const ssize_t got = in.get() < 0 ? -1 : ::pread(in.get(), head.data(), head.size(), 0);
    const auto header =
        got > 0 ? ParseSzddHeader({head.data(), static_cast<size_t>(got)}) : std::nullopt;
    if (!header) {
      ReportRefused(url, "it is marked compressed but is not SZDD compressed data");
      return {};
    }
    const auto name = ExpandedName(target, header->missing_char);
    if (!name) {
      ReportRefused(url, "its compressed header records an unusable name");
      return {};
    }
    const auto limit = static_cast<uint64_t>(expected.size > 0 ? expected.size : MaxDownloadSize);
    if (header->length > limit) {
      ReportRefused(url, "it would expand to " + std::to_string(header->length) +
                             " bytes, more than the " + std::to_string(limit) + " allowed");
      return {};
    }
    int fd = -1;
    expanded = TempFile(MakeTempFile(&fd));
    if (expanded.path().empty()) {
      throw std::system_error(errno, std::generic_category(),
                              "Cannot create a temporary file in \"" + TempDirectory + "\"");
    }
    ScopedFd out(fd);
    int write_errno = 0;
    std::string why;
    const bool ok = ExpandSzddFile(
        in.get(),
        [&](const uint8_t* data, size_t size) {
          if (WriteAll(out.get(), data, size)) return true;
          write_errno = errno;
          return false;
        },
        nullptr, &why);
    if (!out.Close() && ok) write_errno = errno;
    if (write_errno != 0) {
      throw std::system_error(write_errno, std::generic_category(),
                              "Cannot write the temporary file \"" + expanded.path() + "\"");
    }
    if (!ok) {
      ReportRefused(url, why);
      return {};
    }
    installed = *name;
  }
  const std::string& ready = expand ? expanded.path() : downloaded.path();
  if (const auto mismatch = Mismatch(ready, expected, UseCRC32)) {
    ReportRefused(url, *mismatch);
    return {};
  }
  if (!ReplaceTarget(ready, installed)) {
    ReportRefused(
        url, "it cannot be put in place as \"" + installed + "\" (" + std::strerror(errno) + ")");
    return {};
  }
  (expand ? expanded : downloaded).Keep();
  return installed;
}

bool TWebUpdate::CopyLocalFile(const std::string& source, const std::string& target) {
  return AsTransfer("CopyLocalFile", [&] { return CopyLocalFileNow(source, target); });
}

bool TWebUpdate::CopyLocalFileNow(const std::string& source, const std::string& target) {
  cancelled_ = false;
  TempFile temp(CopyToTempFile(source, target));
  if (temp.path().empty()) return false;
  if (!ReplaceTarget(temp.path(), target)) {
    ReportRefused(source,
                  "it cannot be put in place as \"" + target + "\" (" + std::strerror(errno) + ")");
    return false;
  }
  temp.Keep();
  return true;
}

std::string TWebUpdate::CopyToTempFile(const std::string& source, const std::string& target) {
  if (source == target) {
    ReportStatus(912, source, 10, 3);
    return {};
  }
  // O_NONBLOCK: a FIFO must not hold the engine in open(); only regular files are copied.
  const ScopedFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (in.get() < 0) {
    ReportStatus(913, source, 2, 1);
    return {};
  }
  struct stat st {};
  if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
    ReportStatus(914, source, 10, 2);
    return {};
  }
  // Two names for one file would otherwise copy the file onto itself.
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && existing.st_dev == st.st_dev &&
      existing.st_ino == st.st_ino) {
    ReportStatus(912, source, 10, 3);
    return {};
  }
  int fd = -1;
  TempFile temp(MakeTempFile(&fd));
  if (temp.path().empty()) return {};
  ScopedFd out(fd);
  std::array<uint8_t, kCopyBlockSize> buffer;
  const auto size = static_cast<int64_t>(st.st_size);
  int64_t copied = 0;
  // No more than the size the source had when opened, so that a growing file ends.
  while (copied < size) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(buffer.size(), size - copied));
    const ssize_t got = ::read(in.get(), buffer.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ReportRefused(source, got < 0
                                ? std::string("it cannot be read (") + std::strerror(errno) + ")"
                                : "it became shorter while it was copied");
      return {};
    }
    if (!WriteAll(out.get(), buffer.data(), static_cast<size_t>(got))) {
      ReportRefused(source, std::string("the temporary file cannot be written (") +
                                std::strerror(errno) + ")");
      return {};
    }
    copied += got;
    if (OnFileProgress) OnFileProgress(*this, source, copied, size);
    if (AskCancel()) {
      cancelled_ = true;
      return {};
    }
  }
  if (!out.Close()) {
    ReportRefused(
        source, std::string("the temporary file cannot be written (") + std::strerror(errno) + ")");
    return {};
  }
  return temp.Keep();
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
    const ScopedFd fd(::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
      local_size = st.st_size;
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
  entry.NewSha256 = section.sha256;
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
