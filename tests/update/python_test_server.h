#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace trawlex::update::testing {

/// A test server written in Python (Debian's /usr/bin/python3), started from a script in this
/// folder for one test and stopped with the object. The script listens on 127.0.0.1 at a free
/// port, prints that port on its first line and ends when its standard input closes.
class PythonTestServer {
 public:
  PythonTestServer(const std::string& script, const std::vector<std::string>& args);
  ~PythonTestServer();
  PythonTestServer(const PythonTestServer&) = delete;
  PythonTestServer& operator=(const PythonTestServer&) = delete;

  [[nodiscard]] bool running() const { return port_ > 0; }
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int port_ = 0;
  std::string error_;
};

/// pyftpdlib serving `root`; `user`/`password` log in, and anonymous logins work too.
class FtpTestServer : public PythonTestServer {
 public:
  FtpTestServer(const std::string& root, const std::string& user, const std::string& password)
      : PythonTestServer("ftp_test_server.py", {root, user, password}) {}
};

/// HTTPS serving `root` with a certificate from a certificate authority made at start, whose
/// certificate it writes to `ca_file`. "NAME.location" in `root` makes NAME a redirect.
class TlsTestServer : public PythonTestServer {
 public:
  TlsTestServer(const std::string& root, const std::string& ca_file)
      : PythonTestServer("tls_test_server.py", {root, ca_file}) {}
  [[nodiscard]] std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port()) + path;
  }
};

}  // namespace trawlex::update::testing
