#include "update/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace trawlex::update::testing {
namespace {

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

bool SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

HttpTestServer::HttpTestServer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 16) != 0) {
    throw std::runtime_error("test HTTP server cannot listen");
  }
  socklen_t len = sizeof addr;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Run(); });
}

HttpTestServer::~HttpTestServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    released_ = true;
  }
  cv_.notify_all();
  thread_.join();
  ::close(listener_);
}

void HttpTestServer::Serve(const std::string& path, Response response) {
  std::lock_guard lock(mutex_);
  routes_[path] = std::move(response);
}

std::string HttpTestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpTestServer::Request> HttpTestServer::Requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

void HttpTestServer::Release() {
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  cv_.notify_all();
}

void HttpTestServer::Run() {
  while (true) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    pollfd pfd{listener_, POLLIN, 0};
    if (::poll(&pfd, 1, 20) <= 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Handle(client);
    ::close(client);
  }
}

void HttpTestServer::Handle(int client) {
  std::string head;
  char buffer[1024];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    pollfd pfd{client, POLLIN, 0};
    if (::poll(&pfd, 1, 5000) <= 0) return;
    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    head.append(buffer, static_cast<size_t>(n));
    if (!std::isupper(static_cast<unsigned char>(head[0]))) return;  // not HTTP (a TLS hello)
  }
  Request request;
  size_t line_end = head.find("\r\n");
  const std::string first = head.substr(0, line_end);
  const size_t sp1 = first.find(' ');
  const size_t sp2 = first.rfind(' ');
  request.method = first.substr(0, sp1);
  request.target = first.substr(sp1 + 1, sp2 - sp1 - 1);
  for (size_t pos = line_end + 2; pos < head.size();) {
    const size_t end = head.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    const std::string line = head.substr(pos, end - pos);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      request.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    pos = end + 2;
  }
  // A proxy request names the whole URL; route by its path.
  std::string path = request.target;
  if (path.rfind("http://", 0) == 0) {
    const size_t slash = path.find('/', 7);
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  Response response;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    const auto route = routes_.find(path);
    if (route == routes_.end()) {
      response.status = 404;
      response.body = "not here";
    } else {
      response = route->second;
    }
  }
  std::string reply = "HTTP/1.1 " + std::to_string(response.status) + " " +
                      Reason(response.status) + "\r\nConnection: close\r\n";
  if (response.send_length) {
    reply += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  response.body = response.body.substr(0, response.cut_after);
  for (const auto& line : response.headers) reply += line + "\r\n";
  reply += "\r\n";
  if (!SendAll(client, reply)) return;
  if (request.method == "HEAD") return;
  if (response.hold_after == 0) {
    SendAll(client, response.body);
    return;
  }
  SendAll(client, response.body.substr(0, response.hold_after));
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return released_; });
  lock.unlock();
  SendAll(client, response.body.substr(response.hold_after));
}

}  // namespace trawlex::update::testing
