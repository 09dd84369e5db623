#include "update/python_test_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace trawlex::update::testing {

PythonTestServer::PythonTestServer(const std::string& script,
                                   const std::vector<std::string>& args) {
  int in_pipe[2], out_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    error_ = "pipe failed";
    return;
  }
  const std::string path = std::string(UPDATE_TEST_DIR) + "/" + script;
  std::vector<std::string> argv_text = {"python3", path};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::execv("/usr/bin/python3", argv.data());
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
  if (port_ <= 0) error_ = script + " did not start (see scripts/setup.sh for its packages)";
}

PythonTestServer::~PythonTestServer() {
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
