#include "outside/zabbix/zabbix_connection.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "core/errno_text.hpp"
#include "outside/net/socket_wait.hpp"
#include "outside/zabbix/zabbix_tls.hpp"

namespace sonda {

namespace {

using namespace std::chrono_literals;

std::string numeric_host(const SocketAddress& endpoint) {
  char host[NI_MAXHOST] = "?";
  ::getnameinfo(reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length, host,
                sizeof host, nullptr, 0, NI_NUMERICHOST);
  return host;
}

}  // namespace

ZabbixError ZabbixConnection::fail(const std::string& what) const {
  return ZabbixError("servidor Zabbix em " + where_ + ": " + what);
}

std::string ZabbixConnection::tls_advice() const {
  return tls_ && tls_context_ != nullptr ? tls_context_->advice() : "";
}

bool ZabbixConnection::wait(short events, Clock::time_point until) {
  switch (wait_for_socket(fd_.get(), events, std::min(until, call_end_))) {
    case SocketWait::ready:
      return true;
    case SocketWait::failed:
      throw fail("falha ao aguardar: " + errno_text());
    case SocketWait::call_time_over:
      break;
  }
  if (Clock::now() >= call_end_) {
    throw fail("sem resposta em " + std::to_string(call_time_.count()) + " segundos");
  }
  return false;
}

std::size_t ZabbixConnection::connect(std::span<const SocketAddress> endpoints, std::size_t first) {
  std::vector<std::string> failures;
  const auto index = connect_socket(endpoints, first, call_end_, failures);
  if (!index) {
    std::string text;
    for (const std::string& failure : failures) text += (text.empty() ? "" : "; ") + failure;
    if (text.empty()) text = "nenhum endereço";
    throw fail("não foi possível conectar: " + text + std::string(kZabbixAddressAdvice));
  }
  start_tls();
  return *index;
}

void ZabbixConnection::start_tls() {
  try {
    if (tls_context_ != nullptr) {
      tls_ = tls_context_->start(fd_.get(), [this](short events) { wait(events, call_end_); });
    }
  } catch (const TlsError& error) {
    throw fail(error.what());
  }
}

std::optional<std::size_t> ZabbixConnection::connect_socket(
    std::span<const SocketAddress> endpoints, std::size_t first, Clock::time_point until,
    std::vector<std::string>& failures) {
  until = std::min(until, call_end_);
  for (std::size_t attempt = 0; attempt < endpoints.size(); ++attempt) {
    const std::size_t index = (first + attempt) % endpoints.size();
    const SocketAddress& endpoint = endpoints[index];
    const auto note = [&](const std::string& why) {
      failures.push_back(endpoints.size() == 1 ? why : numeric_host(endpoint) + ": " + why);
    };
    fd_.reset(::socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd_) {
      note("não foi possível criar o socket: " + errno_text());
      continue;
    }
    const int no_delay = 1;
    ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
    if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&endpoint.address),
                  endpoint.length) == 0) {
      return index;
    }
    int error = errno;
    if (error == EINPROGRESS) {
      // The last address may use all the time left; each earlier one its share of it.
      const auto share = (until - Clock::now()) / static_cast<long>(endpoints.size() - attempt);
      if (!wait(POLLOUT, Clock::now() + share)) {
        note("sem resposta à conexão");
        continue;
      }
      socklen_t length = sizeof error;
      ::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &length);
      if (error == 0) return index;
    }
    note(errno_text(error));
  }
  fd_.reset();
  return std::nullopt;
}

void ZabbixConnection::write_all(std::span<const std::string_view> parts_in) {
  if (tls_) {
    try {
      for (std::string_view part : parts_in) {
        while (!part.empty()) part.remove_prefix(tls_->write_some(part));
      }
    } catch (const TlsError& error) {
      throw fail("a conexão TLS caiu durante o envio: " + std::string(error.what()) + tls_advice());
    }
    return;
  }
  std::vector<std::string_view> parts(parts_in.begin(), parts_in.end());
  std::size_t next = 0;
  while (next < parts.size()) {
    std::vector<iovec> vectors;
    for (std::size_t i = next; i < parts.size() && vectors.size() < IOV_MAX; ++i) {
      vectors.push_back({const_cast<char*>(parts[i].data()), parts[i].size()});
    }
    msghdr message{};
    message.msg_iov = vectors.data();
    message.msg_iovlen = vectors.size();
    const ssize_t n = ::sendmsg(fd_.get(), &message, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      wait(POLLOUT, call_end_);
      continue;
    }
    if (n < 0) throw fail("a conexão caiu durante o envio: " + errno_text());
    auto written = static_cast<std::size_t>(n);
    while (next < parts.size() && written >= parts[next].size()) written -= parts[next++].size();
    if (next < parts.size()) parts[next].remove_prefix(written);
  }
}

std::size_t ZabbixConnection::read_some(char* into, std::size_t size) {
  if (tls_) {
    try {
      return tls_->read_some(into, size);
    } catch (const TlsError& error) {
      throw fail("a conexão TLS caiu durante a resposta: " + std::string(error.what()) +
                 tls_advice());
    }
  }
  for (;;) {
    const ssize_t n = ::recv(fd_.get(), into, size, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EAGAIN && errno != EINTR) {
      throw fail("a conexão caiu durante a resposta: " + errno_text());
    }
    wait(POLLIN, call_end_);
  }
}

void ZabbixConnection::close_after_answer() {
  tls_.reset();  // its close_notify first, then the socket
  const linger abortive{1, 0};
  ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  fd_.reset();
}

}  // namespace sonda
