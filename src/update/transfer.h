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
    kReadError,   ///< the transfer broke off after it had started
    kWriteError,  ///< the block handler could not store a block
  };
  Outcome outcome = Outcome::kNotFound;
  long http_status = 0;
  int64_t bytes = 0;
  std::string error;  ///< libcurl's words for a failure
};

/// Receives every block of at most `kTransferBlockSize` bytes with the running and total size.
using BlockHandler =
    std::function<BlockAnswer(const uint8_t* data, size_t size, int64_t total_size)>;
/// Called at least every 50 ms while a transfer waits; false cancels it.
using IdleHandler = std::function<bool()>;

inline constexpr size_t kTransferBlockSize = 4096;

/// Settings of an Internet session (libcurl). HTTPS certificates are always verified.
struct SessionSettings {
  std::string proxy;        ///< empty: the environment's proxy settings
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

  /// Fetches `url` (http, https or ftp), following redirects and bypassing caches.
  TransferResult Fetch(const std::string& url, const BlockHandler& on_block,
                       const IdleHandler& on_idle);
  /// Connects and logs in without fetching anything (FTP); true on success.
  bool Probe(const std::string& url, const IdleHandler& on_idle, std::string* err);

  /// Percent-encodes each "/"-separated part of a path for a URL.
  [[nodiscard]] static std::string EscapePath(const std::string& path);

 private:
  explicit TransferSession(const SessionSettings& settings) : settings_(settings) {}
  TransferResult Run(const std::string& url, bool body, const BlockHandler* on_block,
                     const IdleHandler& on_idle);

  SessionSettings settings_;
  void* easy_ = nullptr;   // CURL*
  void* multi_ = nullptr;  // CURLM*
};

}  // namespace trawlex::update
