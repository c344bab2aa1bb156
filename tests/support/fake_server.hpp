#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sonda::test {

// A TCP server on an ephemeral loopback port, for fault injection: each accepted connection is
// handed to `handler`, one after the other, on the server's own thread.
class FakeServer {
 public:
  using Handler = std::function<void(int fd, const std::atomic<bool>& stopping)>;

  explicit FakeServer(Handler handler);
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void serve();

  Handler handler_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// Reads and discards whatever arrives until the peer closes or the server stops: a server that
// never answers.
void hold_silently(int fd, const std::atomic<bool>& stopping);

// Reads exactly `count` bytes into `into`; false when the peer closed first or the server stops.
bool read_exactly(int fd, std::size_t count, std::string& into, const std::atomic<bool>& stopping);

// One HTTP request as a fake server saw it.
struct SeenHttpRequest {
  std::string head;  // request line and headers
  std::string body;
};

// Reads one HTTP request with a Content-Length body; nothing when the peer closed first.
std::optional<SeenHttpRequest> read_http_request(int fd, const std::atomic<bool>& stopping);

// Writes an HTTP/1.1 answer with `status`, a JSON or text body, and Connection: close.
void write_http_answer(int fd, int status, const std::string& body,
                       const std::string& content_type = "application/json");

// Writes all of `data`.
void write_all_to(int fd, const std::string& data);

// A port on 127.0.0.1 that nothing listens on.
int closed_port();

// A port on 127.0.0.1 whose connection attempts get no answer at all: neither accepted nor
// refused, as behind a firewall that drops packets.
class DroppingPort {
 public:
  DroppingPort();
  ~DroppingPort();
  DroppingPort(const DroppingPort&) = delete;
  DroppingPort& operator=(const DroppingPort&) = delete;

  int port() const { return port_; }

 private:
  int listen_fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace sonda::test
