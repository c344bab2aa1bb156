#include "support/fake_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace sonda::test {

namespace {

// Waits up to 100 ms for `fd` to be readable.
bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 100) > 0;
}

int bound_socket(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("bind");
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

FakeServer::FakeServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = bound_socket(port_);
  ::listen(listen_fd_, 64);
  thread_ = std::thread([this] { serve(); });
}

FakeServer::~FakeServer() {
  stopping_ = true;
  thread_.join();
  ::close(listen_fd_);
}

void FakeServer::serve() {
  while (!stopping_) {
    if (!readable(listen_fd_)) continue;
    const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++connections_;
    handler_(client, stopping_);
    ::close(client);
  }
}

void hold_silently(int fd, const std::atomic<bool>& stopping) {
  char buffer[4096];
  while (!stopping) {
    if (readable(fd) && ::read(fd, buffer, sizeof buffer) <= 0) return;
  }
}

bool read_exactly(int fd, std::size_t count, std::string& into, const std::atomic<bool>& stopping) {
  char buffer[4096];
  while (into.size() < count && !stopping) {
    if (!readable(fd)) continue;
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - into.size()));
    if (n <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(n));
  }
  return into.size() == count;
}

std::optional<SeenHttpRequest> read_http_request(int fd, const std::atomic<bool>& stopping) {
  SeenHttpRequest request;
  std::string data;
  std::size_t head_end = std::string::npos;
  while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
    std::string more;
    if (!read_exactly(fd, 1, more, stopping)) return std::nullopt;
    data += more;
  }
  request.head = data.substr(0, head_end);
  std::size_t length = 0;
  const auto header = request.head.find("Content-Length: ");
  if (header != std::string::npos) length = std::stoul(request.head.substr(header + 16));
  if (!read_exactly(fd, length, request.body, stopping)) return std::nullopt;
  return request;
}

void write_all_to(int fd, const std::string& data) {
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

void write_http_answer(int fd, int status, const std::string& body,
                       const std::string& content_type) {
  write_all_to(fd, "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: " + content_type +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: close\r\n\r\n" + body);
}

int closed_port() {
  int port = 0;
  ::close(bound_socket(port));
  return port;
}

}  // namespace sonda::test

namespace sonda::test {

DroppingPort::DroppingPort() {
  listen_fd_ = bound_socket(port_);
  // A backlog of 0 holds one connection; once it is taken, Linux drops every further SYN
  // without an answer, as a firewall that drops packets does.
  ::listen(listen_fd_, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port_));
  for (int i = 0; i < 2; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers_.push_back(fd);
  }
}

DroppingPort::~DroppingPort() {
  for (const int fd : fillers_) ::close(fd);
  ::close(listen_fd_);
}

}  // namespace sonda::test
