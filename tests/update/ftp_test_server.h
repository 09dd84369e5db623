#pragma once

#include <sys/types.h>

#include <string>

namespace trawlex::update::testing {

/// Debian's pyftpdlib serving `root` on 127.0.0.1 at a free port for one test; stopped with
/// the object. `user`/`password` log in, and anonymous logins are accepted too.
class FtpTestServer {
 public:
  FtpTestServer(const std::string& root, const std::string& user, const std::string& password);
  ~FtpTestServer();

  [[nodiscard]] bool running() const { return port_ > 0; }
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int port_ = 0;
  std::string error_;
};

}  // namespace trawlex::update::testing
