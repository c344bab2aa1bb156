#pragma once

#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

namespace sonda {

// One address a name resolved to, ready for connect().
struct SocketAddress {
  sockaddr_storage address{};
  socklen_t length = 0;
};

// What a look-up gave: the addresses, or the resolver's reason for giving none.
struct LookupResult {
  std::vector<SocketAddress> addresses;
  std::string failure;  // empty on success
};

// Resolves `host` and `port` for a TCP connection. The look-up runs in the background, so a
// name server that never answers holds the caller for at most `cap` ("the look-up took longer
// than N seconds" as the failure) and never past the run's limit (TimeoutException).
LookupResult look_up(const std::string& host, const std::string& port,
                     std::chrono::milliseconds cap);

}  // namespace sonda
