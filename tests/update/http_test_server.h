#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace trawlex::update::testing {

/// A small HTTP/1.1 server on 127.0.0.1 at a free port, run on its own thread for one test.
/// Every answer closes its connection. Requests are recorded for the test to inspect.
class HttpTestServer {
 public:
  struct Response {
    int status = 200;
    std::string body = {};
    std::vector<std::string> headers = {};  ///< extra header lines, e.g. "Location: /x"
    /// Sends the body in pieces of this size and waits for `Release()` before the rest.
    size_t hold_after = 0;
    /// Announces the body's length; without it only the closed connection ends the body.
    bool send_length = true;
    /// Closes the connection after this many body bytes, whatever was announced.
    size_t cut_after = std::string::npos;
  };
  struct Request {
    std::string method, target;
    std::map<std::string, std::string> headers;  ///< names lower-cased
  };

  HttpTestServer();
  ~HttpTestServer();

  void Serve(const std::string& path, Response response);
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] std::string Url(const std::string& path) const;
  [[nodiscard]] std::vector<Request> Requests();
  /// Lets a held response send the rest of its body.
  void Release();

 private:
  void Run();
  void Handle(int client);

  int listener_ = -1;
  int port_ = 0;
  bool stopping_ = false;
  bool released_ = false;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::string, Response> routes_;
  std::vector<Request> requests_;
  std::thread thread_;
};

}  // namespace trawlex::update::testing
