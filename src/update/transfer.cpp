#include "update/transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>

namespace trawlex::update {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct FetchState {
  CURL* easy = nullptr;
  const BlockHandler* on_block = nullptr;
  bool is_http = false;
  bool checked_status = false;
  bool http_failed = false;
  bool cancelled = false;
  bool write_failed = false;
  bool too_large = false;
  int64_t max_bytes = 0;
  int64_t bytes = 0;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<FetchState*>(user);
  const size_t total = size * count;
  if (state->is_http && !state->checked_status) {
    state->checked_status = true;
    long status = 0;
    curl_easy_getinfo(state->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 300) {
      state->http_failed = true;
      return 0;  // the body of an error page is not the file
    }
  }
  curl_off_t length = -1;
  curl_easy_getinfo(state->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  const int64_t total_size = length > 0 ? static_cast<int64_t>(length) : 0;
  if (state->max_bytes > 0 && static_cast<int64_t>(total) > state->max_bytes - state->bytes) {
    state->too_large = true;
    return 0;
  }
  for (size_t done = 0; done < total;) {
    const size_t block = std::min(kTransferBlockSize, total - done);
    state->bytes += static_cast<int64_t>(block);
    const BlockAnswer answer =
        (*state->on_block)(reinterpret_cast<const uint8_t*>(data + done), block, total_size);
    if (answer == BlockAnswer::kCancel) state->cancelled = true;
    if (answer == BlockAnswer::kWriteError) state->write_failed = true;
    if (answer != BlockAnswer::kContinue) return 0;
    done += block;
  }
  return total;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) {
  return size * count;
}

}  // namespace

TransferSession::~TransferSession() {
  if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  if (easy_) curl_easy_cleanup(static_cast<CURL*>(easy_));
}

std::unique_ptr<TransferSession> TransferSession::Open(const SessionSettings& settings,
                                                       std::string* err) {
  GlobalInit();
  std::unique_ptr<TransferSession> session(new TransferSession(settings));
  session->easy_ = curl_easy_init();
  session->multi_ = curl_multi_init();
  if (!session->easy_ || !session->multi_) {
    if (err) *err = "The Internet library could not start a session.";
    return nullptr;
  }
  return session;
}

std::string TransferSession::EscapePath(const std::string& path) {
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    const std::string part =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!part.empty()) {
      char* escaped = curl_easy_escape(nullptr, part.data(), static_cast<int>(part.size()));
      if (escaped) {
        out += escaped;
        curl_free(escaped);
      }
    }
    if (slash == std::string::npos) break;
    out += '/';
    start = slash + 1;
  }
  return out;
}

TransferResult TransferSession::Fetch(const std::string& url, const BlockHandler& on_block,
                                      const IdleHandler& on_idle, const FetchLimits& limits) {
  return Run(url, true, &on_block, on_idle, limits);
}

bool TransferSession::Probe(const std::string& url, const IdleHandler& on_idle, std::string* err) {
  const TransferResult result = Run(url, false, nullptr, on_idle, {});
  if (result.outcome != TransferResult::Outcome::kComplete && err) *err = result.error;
  return result.outcome == TransferResult::Outcome::kComplete;
}

TransferResult TransferSession::Run(const std::string& url, bool body, const BlockHandler* on_block,
                                    const IdleHandler& on_idle, const FetchLimits& limits) {
  CURL* easy = static_cast<CURL*>(easy_);
  CURLM* multi = static_cast<CURLM*>(multi_);
  FetchState state;
  state.easy = easy;
  state.on_block = on_block;
  state.is_http = !settings_.ftp;
  state.max_bytes = limits.max_bytes;
  char error_text[CURL_ERROR_SIZE] = {};

  curl_easy_reset(easy);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kTransferBlockSize));
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
  if (settings_.stall_seconds > 0) {
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1024L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, settings_.stall_seconds);
  }
  if (limits.max_bytes > 0) {
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
  }
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!settings_.ca_file.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, settings_.ca_file.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
  }
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, settings_.keep_alive || settings_.ftp ? 0L : 1L);
  if (!settings_.proxy.empty()) curl_easy_setopt(easy, CURLOPT_PROXY, settings_.proxy.c_str());
  if (!settings_.proxy_user.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, settings_.proxy_user.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, settings_.proxy_password.c_str());
  }
  if (body) {
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state);
  } else {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, DiscardBody);
  }

  curl_slist* headers = nullptr;
  bool https_only_redirects = false;
  if (settings_.ftp) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(easy, CURLOPT_FTPPORT, settings_.ftp_passive ? nullptr : "-");
    curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L);
    if (!settings_.user.empty() && !settings_.password.empty()) {
      curl_easy_setopt(easy, CURLOPT_USERNAME, settings_.user.c_str());
      curl_easy_setopt(easy, CURLOPT_PASSWORD, settings_.password.c_str());
    }
  } else {
    // An https fetch stays https through every redirect.
    https_only_redirects = limits.https_only || StartsWithNoCase(url, "https://");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, limits.https_only ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR,
                     https_only_redirects ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "WebUpdate");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  }

  TransferResult result;
  curl_multi_add_handle(multi, easy);
  // The handle leaves the multi handle however the loop ends, an idle handler's exception
  // included, so that the session stays usable.
  struct Detach {
    CURLM* multi;
    CURL* easy;
    curl_slist* headers;
    ~Detach() {
      curl_multi_remove_handle(multi, easy);
      curl_slist_free_all(headers);
    }
  };
  {
    const Detach detach{multi, easy, headers};
    int running = 1;
    CURLcode code = CURLE_OK;
    bool idle_cancelled = false;
    while (true) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        code = CURLE_FAILED_INIT;
        break;
      }
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE) code = msg->data.result;
      }
      if (running == 0) break;
      if (on_idle && !on_idle()) {
        idle_cancelled = true;
        break;
      }
      curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.http_status);

    result.bytes = state.bytes;
    // A redirect that would leave https ends the fetch with the redirect's status; it is a
    // refusal, not the server's answer.
    char* refused = nullptr;
    if (code == CURLE_UNSUPPORTED_PROTOCOL && https_only_redirects) {
      curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &refused);  // where it would have gone
      if (refused && StartsWithNoCase(refused, "https://")) refused = nullptr;
    }
    using Outcome = TransferResult::Outcome;
    if (state.cancelled || idle_cancelled) {
      result.outcome = Outcome::kCancelled;
    } else if (state.write_failed) {
      result.outcome = Outcome::kWriteError;
    } else if (state.too_large || code == CURLE_FILESIZE_EXCEEDED) {
      result.outcome = Outcome::kTooLarge;
    } else if (refused) {
      result.outcome = Outcome::kNotFound;
    } else if (state.is_http && (state.http_failed || result.http_status >= 300)) {
      result.outcome = Outcome::kHttpStatus;
    } else if (code == CURLE_OK) {
      result.outcome = Outcome::kComplete;
    } else {
      result.outcome = state.bytes == 0 ? Outcome::kNotFound : Outcome::kReadError;
    }
    if (code != CURLE_OK) result.error = error_text[0] != 0 ? error_text : curl_easy_strerror(code);
    if (refused) result.error = std::string("redirected to ") + refused + ", which is not https";
  }
  return result;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i] != 0; ++i) {
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace trawlex::update
