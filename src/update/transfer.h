#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace trawlex::update {

/// What a block handler tells the transfer.
enum class BlockAnswer { kContinue, kCancel, kWriteError };

/// How one fetch ended.
struct TransferResult {
  enum class Outcome {
    kComplete,    ///< every byte arrived (possibly none)
    kCancelled,   ///< the host cancelled
    kNotFound,    ///< nothing could be opened: no server, no such file, refused login
    kHttpStatus,  ///< the server answered with a status of 300 or more
    kReadError,   ///< the transfer broke off or stalled after it had started
    kWriteError,  ///< the block handler could not store a block
    kTooLarge,    ///< the body grew beyond the fetch's size limit
  };
  Outcome outcome = Outcome::kNotFound;
  long http_status = 0;
  int64_t bytes = 0;
  std::string error;  ///< libcurl's words for a failure
};

/// Limits of one fetch.
struct FetchLimits {
  /// Refuse anything but https, redirects included (an https fetch never follows a redirect
  /// to another scheme in any case).
  bool https_only = false;
  /// The most body bytes accepted; 0 for no limit.
  int64_t max_bytes = 0;
};

/// Receives every block of at most `kTransferBlockSize` bytes with the running and total size.
using BlockHandler =
    std::function<BlockAnswer(const uint8_t* data, size_t size, int64_t total_size)>;
/// Called at least every 50 ms while a transfer waits; false cancels it.
using IdleHandler = std::function<bool()>;

inline constexpr size_t kTransferBlockSize = 4096;

/// Settings of an Internet session (libcurl). HTTPS certificates are always verified.
struct SessionSettings {
  std::string proxy;  ///< empty: the environment's proxy settings
  /// Proxy login; sent to the proxy alone, never to the servers behind it.
  std::string proxy_user, proxy_password;
  /// PEM file of the certificate authorities trusted for https in place of the system's ones;
  /// empty: the system's.
  std::string ca_file;
  /// Seconds below 1 KB/s after which a transfer counts as stalled; 0 for no limit.
  long stall_seconds = 0;
  bool keep_alive = false;  ///< reuse connections between requests
  bool ftp = false;         ///< FTP connection rather than HTTP(S) session
  bool ftp_passive = false;
  std::string user, password;  ///< FTP login; anonymous unless both are set
};

/// One Internet session or FTP connection: a libcurl handle whose connections are reused.
/// Transfers run on the calling thread; handlers are called on it between network waits.
class TransferSession {
 public:
  ~TransferSession();
  TransferSession(const TransferSession&) = delete;
  TransferSession& operator=(const TransferSession&) = delete;

  /// Nullptr and a sentence in `err` when libcurl cannot make a handle.
  static std::unique_ptr<TransferSession> Open(const SessionSettings& settings, std::string* err);

  /// Fetches `url` (http, https or ftp), following redirects and bypassing caches. A body
  /// shorter than a length the server announced is a read error.
  TransferResult Fetch(const std::string& url, const BlockHandler& on_block,
                       const IdleHandler& on_idle, const FetchLimits& limits = {});
  /// Connects and logs in without fetching anything (FTP); true on success.
  bool Probe(const std::string& url, const IdleHandler& on_idle, std::string* err);

  /// Percent-encodes each "/"-separated part of a path for a URL.
  [[nodiscard]] static std::string EscapePath(const std::string& path);

 private:
  explicit TransferSession(const SessionSettings& settings) : settings_(settings) {}
  TransferResult Run(const std::string& url, bool body, const BlockHandler* on_block,
                     const IdleHandler& on_idle, const FetchLimits& limits);

  SessionSettings settings_;
  void* easy_ = nullptr;   // CURL*
  void* multi_ = nullptr;  // CURLM*
};

/// True when `text` begins with `prefix`, which is in lower case, whatever the case of `text`.
[[nodiscard]] bool StartsWithNoCase(const std::string& text, const char* prefix);

}  // namespace trawlex::update
