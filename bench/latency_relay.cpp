// latency-relay: a TCP relay that delays each direction by a fixed time, to measure the probe
// against a server across a network while both run on this machine. Single-threaded and
// event-driven (epoll), so that it is never the bottleneck; it buffers without limit.
//
// A connection is accepted at once, but its first bytes towards the server are held until
// three delays after the accept: the handshake's round trip that a real network would have
// charged before the client could send, and the request's own way. End of stream (FIN) and
// reset (RST) travel with the same delay as the data.
//
// Usage: latency-relay TARGET_HOST TARGET_PORT DELAY_MICROSECONDS
// Listens on an ephemeral loopback port and prints it on standard output.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <queue>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Event { data, end, reset };

struct Delivery {
  Clock::time_point due;
  Event event;
  std::string bytes;
};

// One direction of a relayed connection: what is read from `from` reaches `to` after the delay.
struct Direction {
  int from = -1;
  int to = -1;
  std::deque<Delivery> due;  // in time order: the delay is the same for all
  std::string unsent;        // due, but the socket did not take it yet
  bool ending = false;       // end of stream to pass on once unsent is written
  bool done = false;
};

struct Pair {
  Direction up;    // client to server
  Direction down;  // server to client
  Clock::time_point first_up;
  bool closed = false;
};

struct Timer {
  Clock::time_point due;
  std::shared_ptr<Pair> pair;
  bool up;
  bool operator>(const Timer& other) const { return due > other.due; }
};

int epoll_fd;
std::chrono::microseconds delay;
sockaddr_in target{};
std::map<int, std::shared_ptr<Pair>> by_fd;
std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers;

void watch(int fd, std::uint32_t events, int op = EPOLL_CTL_MOD) {
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  epoll_ctl(epoll_fd, op, fd, &event);
}

void close_pair(const std::shared_ptr<Pair>& pair, bool abortive) {
  if (pair->closed) return;
  pair->closed = true;
  for (const int fd : {pair->up.from, pair->down.from}) {
    if (abortive) {
      const linger now{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    by_fd.erase(fd);
    close(fd);
  }
}

// Writes what is due; passes the end of stream on once everything before it is written.
void flush(const std::shared_ptr<Pair>& pair, Direction& direction) {
  while (!direction.unsent.empty()) {
    const ssize_t n =
        send(direction.to, direction.unsent.data(), direction.unsent.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EAGAIN) {
      watch(direction.to, EPOLLIN | EPOLLOUT);
      return;
    }
    if (n < 0) return close_pair(pair, true);
    direction.unsent.erase(0, static_cast<std::size_t>(n));
  }
  watch(direction.to, EPOLLIN);
  if (direction.ending && !direction.done) {
    direction.done = true;
    shutdown(direction.to, SHUT_WR);
    if (pair->up.done && pair->down.done) close_pair(pair, false);
  }
}

void deliver_due(Clock::time_point now) {
  while (!timers.empty() && timers.top().due <= now) {
    const Timer timer = timers.top();
    timers.pop();
    const std::shared_ptr<Pair>& pair = timer.pair;
    if (pair->closed) continue;
    Direction& direction = timer.up ? pair->up : pair->down;
    while (!direction.due.empty() && direction.due.front().due <= now) {
      Delivery delivery = std::move(direction.due.front());
      direction.due.pop_front();
      if (delivery.event == Event::reset) return close_pair(pair, true);
      if (delivery.event == Event::end) direction.ending = true;
      direction.unsent += delivery.bytes;
    }
    flush(pair, direction);
  }
}

void schedule(const std::shared_ptr<Pair>& pair, bool up, Event event, std::string bytes) {
  Clock::time_point due = Clock::now() + delay;
  if (up && due < pair->first_up) due = pair->first_up;
  Direction& direction = up ? pair->up : pair->down;
  direction.due.push_back({due, event, std::move(bytes)});
  timers.push({due, pair, up});
}

void accept_one(int listener) {
  const int client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (client < 0) return;
  const int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target);
  auto pair = std::make_shared<Pair>();
  pair->up.from = pair->down.to = client;
  pair->down.from = pair->up.to = server;
  pair->first_up = Clock::now() + 3 * delay;
  by_fd[client] = by_fd[server] = pair;
  watch(client, EPOLLIN, EPOLL_CTL_ADD);
  watch(server, EPOLLIN, EPOLL_CTL_ADD);
}

void on_ready(int fd, std::uint32_t events) {
  const auto found = by_fd.find(fd);
  if (found == by_fd.end()) return;
  const std::shared_ptr<Pair> pair = found->second;
  const bool up = fd == pair->up.from;
  if (events & EPOLLOUT) flush(pair, up ? pair->down : pair->up);
  if (pair->closed || !(events & (EPOLLIN | EPOLLERR | EPOLLHUP))) return;
  char buffer[65536];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      schedule(pair, up, Event::data, std::string(buffer, static_cast<std::size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EAGAIN) return;
    if (n < 0 && errno == EINTR) continue;
    schedule(pair, up, n == 0 ? Event::end : Event::reset, {});
    watch(fd, 0);  // nothing more to read from this side
    return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "uso: latency-relay HOST_DESTINO PORTA_DESTINO ATRASO_MICROSSEGUNDOS\n");
    return 2;
  }
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
  inet_pton(AF_INET, argv[1], &target.sin_addr);
  delay = std::chrono::microseconds(std::atol(argv[3]));

  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4096) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("latency-relay");
    return 1;
  }
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);

  // The kernel may otherwise wake a timed wait up to 50 µs late, a fifth of a LAN's delay.
  prctl(PR_SET_TIMERSLACK, 1UL);
  epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  watch(listener, EPOLLIN, EPOLL_CTL_ADD);
  epoll_event events[256];
  for (;;) {
    // Delays are fractions of a millisecond: the wait's time-out is in nanoseconds.
    timespec timeout{};
    timespec* until_next = nullptr;
    if (!timers.empty()) {
      const auto left = std::max(Clock::duration::zero(), timers.top().due - Clock::now());
      const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout = {static_cast<time_t>(nanoseconds / 1'000'000'000), nanoseconds % 1'000'000'000};
      until_next = &timeout;
    }
    const int ready = epoll_pwait2(epoll_fd, events, 256, until_next, nullptr);
    for (int i = 0; i < ready; ++i) {
      if (events[i].data.fd == listener) {
        for (int k = 0; k < 64; ++k) accept_one(listener);
      } else {
        on_ready(events[i].data.fd, events[i].events);
      }
    }
    deliver_due(Clock::now());
  }
}
