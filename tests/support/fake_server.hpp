#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

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

// A port on 127.0.0.1 that nothing listens on.
int closed_port();

}  // namespace sonda::test
