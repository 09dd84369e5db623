#include "update/ftp_test_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace trawlex::update::testing {

FtpTestServer::FtpTestServer(const std::string& root, const std::string& user,
                             const std::string& password) {
  int in_pipe[2], out_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  const std::string script = std::string(UPDATE_TEST_DIR) + "/ftp_test_server.py";
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::execl("/usr/bin/python3", "python3", script.c_str(), root.c_str(), user.c_str(),
            password.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  to_child_ = in_pipe[1];
  std::string line;
  char c;
  while (line.size() < 16) {
    pollfd pfd{out_pipe[0], POLLIN, 0};
    if (::poll(&pfd, 1, 20000) <= 0 || ::read(out_pipe[0], &c, 1) != 1) break;
    if (c == '\n') {
      port_ = std::atoi(line.c_str());
      break;
    }
    line += c;
  }
  ::close(out_pipe[0]);
  if (port_ <= 0) error_ = "the FTP test server did not start (is python3-pyftpdlib installed?)";
}

FtpTestServer::~FtpTestServer() {
  if (to_child_ >= 0) ::close(to_child_);
  if (pid_ > 0) {
    // Closing its input ends the server; give it a few seconds before insisting.
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      ::usleep(50000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

}  // namespace trawlex::update::testing
