// upd.exe: puts the components of an update in place once the program has ended, then starts
// the program again. Usage: upd.exe PROCESS-ID RESTART-COMMAND [COMPONENT...]; names are
// relative to the current directory. A first argument that is not a number does nothing.

#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "update/cab_extract.h"
#include "update/lz_expand.h"

extern char** environ;

namespace {

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && Upper(s.substr(s.size() - tail.size())) == Upper(tail);
}

/// The process id, or -1 when the text is not a plain decimal number.
pid_t ParsePid(const char* text) {
  if (!text || !*text) return -1;
  long long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) return -1;
  }
  return static_cast<pid_t>(value);
}

void WaitForProcess(pid_t pid) {
  if (pid <= 0) return;
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) {
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    ::close(fd);
    return;
  }
  if (errno == ESRCH) return;
  // No process descriptors on this kernel: ask every 100 ms.
  while (::kill(pid, 0) == 0 || errno == EPERM) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool Spawn(const std::vector<std::string>& argv, bool wait, int* exit_code) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (!wait) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0].c_str(), nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    std::cerr << "upd: cannot start \"" << argv[0] << "\": " << std::strerror(rc) << "\n";
    return false;
  }
  if (!wait) return true;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 255;
  return true;
}

/// Starts the restart command: the longest leading part that names a program, then blank-
/// separated parameters.
void Restart(const std::string& command) {
  size_t end = command.size();
  while (true) {
    const std::string program = command.substr(0, end);
    if (::access(program.c_str(), X_OK) == 0) {
      std::vector<std::string> argv = {program};
      std::string rest = end < command.size() ? command.substr(end + 1) : "";
      size_t pos = 0;
      while (pos < rest.size()) {
        const size_t blank = rest.find(' ', pos);
        const std::string word = rest.substr(pos, blank == std::string::npos ? blank : blank - pos);
        if (!word.empty()) argv.push_back(word);
        if (blank == std::string::npos) break;
        pos = blank + 1;
      }
      Spawn(argv, false, nullptr);
      return;
    }
    end = command.rfind(' ', end - 1);
    if (end == std::string::npos || end == 0) break;
  }
  std::cerr << "upd: no program to restart in \"" << command << "\"\n";
}

/// Puts one component in place; false with a message on the standard error.
bool PutInPlace(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    std::cerr << "upd: refused \"" << name << "\": a component is a plain name in the folder\n";
    return false;
  }
  if (EndsWithNoCase(name, "_NEW")) {
    const std::string stripped = name.substr(0, name.size() - 4);
    std::string from = name;
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) from = stripped + "_new";
    // The new file takes the permission bits of the one it replaces (a program stays runnable).
    struct stat old {};
    if (::stat(stripped.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
      ::chmod(from.c_str(), old.st_mode & 07777);
    }
    if (std::rename(from.c_str(), stripped.c_str()) != 0) {
      std::cerr << "upd: \"" << from << "\" cannot replace \"" << stripped
                << "\": " << std::strerror(errno) << "\n";
      return false;
    }
    return true;
  }
  if (EndsWithNoCase(name, ".PAT")) {
    const std::string target = name.substr(0, name.size() - 4) + "EXE";
    int code = 0;
    if (!Spawn({"./patcher.exe", name, target}, true, &code) || code != 0) {
      std::cerr << "upd: the patch tool failed on \"" << name << "\" (error " << code + 8192
                << "); the patch file is kept\n";
      return false;
    }
    std::remove(name.c_str());
    return true;
  }
  std::string err;
  if (EndsWithNoCase(name, ".CAB")) {
    if (!trawlex::update::ExtractCabinet(name, ".", &err)) {
      std::cerr << "upd: " << err << "\n";
      return false;
    }
    std::remove(name.c_str());
    return true;
  }
  if (!trawlex::update::LzExpandFile(name, nullptr, &err, true)) {
    std::cerr << "upd: " << err << "\n";
    return false;
  }
  return true;
}

/// Removes this program and its private folder once it has done its work.
void RemoveSelf() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  const std::string path(self, static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return;
  const std::string dir = path.substr(0, slash);
  if (dir.substr(dir.find_last_of('/') + 1).rfind("trawlex-finder-run-", 0) != 0) return;
  std::remove(path.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 0;
  const pid_t pid = ParsePid(argv[1]);
  if (pid < 0) return 0;
  WaitForProcess(pid);
  bool ok = true;
  for (int i = 3; i < argc; ++i) ok = PutInPlace(argv[i]) && ok;
  if (argc >= 3 && std::string(argv[2]) != "null" && *argv[2]) Restart(argv[2]);
  RemoveSelf();
  return ok ? 0 : 1;
}
